// Every example of the package's README, as a user runs it: each block
// fenced as ```js is a module of its own that imports "zorbu", run in a
// fresh folder where the package is installed, and must end with status 0.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { mkdirSync, mkdtempSync, readFileSync, rmSync, symlinkSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join } from "node:path";
import { test } from "node:test";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
const readme = readFileSync(join(here, "..", "README.md"), "utf8");
const blocks = [...readme.matchAll(/^```js\n([\s\S]*?)^```$/gm)].map((m) => m[1]);

test("the README's examples run", () => {
  assert.ok(blocks.length >= 2, "no examples found");
  const folder = mkdtempSync(join(tmpdir(), "zorbu-readme-"));
  try {
    mkdirSync(join(folder, "node_modules"));
    symlinkSync(join(here, ".."), join(folder, "node_modules", "zorbu"));
    for (const [i, block] of blocks.entries()) {
      const file = join(folder, `example${i}.mjs`);
      writeFileSync(file, block);
      const run = spawnSync(process.execPath, [file], { cwd: folder, encoding: "utf8" });
      assert.equal(run.status, 0, `example ${i}:\n${block}\n${run.stderr}`);
      assert.match(run.stdout, /<\/time>/, `example ${i} wrote no rt file`);
    }
  } finally {
    rmSync(folder, { recursive: true, force: true });
  }
});
