// The page in a second engine, Debian's Firefox, driven over WebDriver
// BiDi: opened from disk, every golden case chosen at once comes back with
// the program's bytes, alone and in the zip, and the invalid ones are
// named.
import assert from "node:assert/strict";
import { existsSync, readdirSync, readFileSync } from "node:fs";
import { dirname, join } from "node:path";
import { test } from "node:test";
import { fileURLToPath } from "node:url";

import { unzipSync } from "fflate";
import puppeteer from "puppeteer-core";

const here = dirname(fileURLToPath(import.meta.url));
const cases = join(here, "..", "..", "tests", "cases");
const firefox = process.env.ZORBU_FIREFOX ?? "/usr/bin/firefox-esr";

test("the golden cases in Firefox", { skip: !existsSync(firefox) && `no ${firefox}` }, async () => {
  const golden = readdirSync(cases).filter((name) => name.endsWith(".rt")).sort()
    .map((name) => {
      const stem = join(cases, name.slice(0, -3));
      return { name, path: `${stem}.rt`, output: readFileSync(`${stem}.out`),
               valid: readFileSync(`${stem}.status`, "utf8").trim() === "0" };
    });
  const browser = await puppeteer.launch({ browser: "firefox", executablePath: firefox,
                                           headless: true });
  try {
    const tab = await browser.newPage();
    const errors = [];
    tab.on("pageerror", (error) => errors.push(error.message));
    await tab.goto(`file://${join(here, "..", "zorbu.html")}`);
    await tab.waitForFunction(() => document.body.dataset.state !== "loading");
    assert.equal(await tab.evaluate(() => document.body.dataset.state), "ready", errors.join("; "));
    await (await tab.$("#choose")).uploadFile(...golden.map((c) => c.path));
    await tab.waitForFunction(() => document.body.dataset.state === "done", { timeout: 120000 });
    const fetched = async (href) => Buffer.from(await tab.evaluate(async (url) => {
      const bytes = new Uint8Array(await (await fetch(url)).arrayBuffer());
      let binary = "";
      for (let i = 0; i < bytes.length; i += 0x8000) {
        binary += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
      }
      return btoa(binary);
    }, href), "base64");
    const links = await tab.$$eval("#downloads a", (as) =>
      as.map((a) => ({ name: a.download, href: a.href })));
    const valid = golden.filter((c) => c.valid);
    assert.deepEqual(links.map((l) => l.name), valid.map((c) => c.name));
    for (const [i, link] of links.entries()) {
      assert.deepEqual(await fetched(link.href), valid[i].output, link.name);
    }
    const zip = unzipSync(await fetched(await tab.$eval("#zip", (a) => a.href)));
    for (const c of valid) assert.deepEqual(Buffer.from(zip[c.name]), c.output, c.name);
    const failed = await tab.$$eval("#failures li", (lis) => lis.map((li) => li.textContent));
    assert.deepEqual(failed.map((line) => line.split(":")[0]),
                     golden.filter((c) => !c.valid).map((c) => c.name));
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
  }
});
