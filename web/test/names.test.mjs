// The rule for the names of downloads and zip entries, on the cases a
// browser's file chooser cannot hand over.
import assert from "node:assert/strict";
import { test } from "node:test";

import { NameSet } from "../names.js";

test("names lose what no system takes, and stay within 255 bytes", () => {
  const names = new NameSet();
  const given = (name) => names.give(name);
  assert.equal(given("a\u0000b\u001fc\u007fd\u0085e.rt"), "abcde.rt");
  assert.equal(given(' .. a:*?"<>|b . '), "ab");
  assert.equal(given("  . "), "unnamed.rt");
  // Cut between characters, before the extension, suffix included.
  const wide = given(`${"é".repeat(200)}.rt`);
  assert.equal(wide, `${"é".repeat(126)}.rt`);
  assert.equal(given(`${"é".repeat(200)}.rt`), `${"é".repeat(124)} (1).rt`);
  // Case alone does not tell two names apart where files are unpacked.
  assert.equal(given("AB"), "AB (1)");
});
