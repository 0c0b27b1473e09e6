// The page in Debian's Chromium, opened from disk and served from
// 127.0.0.1 with its strict Content-Security-Policy: the golden cases
// chosen at once come back as downloads with the program's bytes, the
// invalid ones are named with their reasons, the zip holds every output,
// and a 64 MiB file streams through with the preview kept short. The
// screenshot goes to the folder that ZORBU_SCREENSHOT names.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { createServer } from "node:http";
import { tmpdir } from "node:os";
import { dirname, join } from "node:path";
import { after, before, test } from "node:test";
import { fileURLToPath } from "node:url";

import { unzipSync } from "fflate";
import { chromium } from "playwright-core";

const here = dirname(fileURLToPath(import.meta.url));
const page = join(here, "..", "zorbu.html");
const cases = join(here, "..", "..", "tests", "cases");
const html = readFileSync(page, "utf8");
const policy = html.match(/http-equiv="Content-Security-Policy" content="([^"]+)"/)[1];

const golden = readdirSync(cases)
  .filter((name) => name.endsWith(".rt"))
  .sort()
  .map((name) => {
    const stem = join(cases, name.slice(0, -3));
    return {
      name,
      path: `${stem}.rt`,
      valid: readFileSync(`${stem}.status`, "utf8").trim() === "0",
      output: readFileSync(`${stem}.out`),
    };
  });

let browser;
let server;
let origin;
const scratch = mkdtempSync(join(tmpdir(), "zorbu-page-"));

before(async () => {
  browser = await chromium.launch({
    executablePath: process.env.ZORBU_CHROMIUM ?? "/usr/bin/chromium",
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update",
           "--disable-sync", "--js-flags=--expose-gc", "--enable-precise-memory-info"],
  });
  server = createServer((request, response) => {
    response.writeHead(200, {
      "content-type": "text/html; charset=utf-8",
      "content-security-policy": policy,
    });
    response.end(html);
  });
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  origin = `http://127.0.0.1:${server.address().port}/`;
});

after(async () => {
  await browser?.close();
  server?.close();
  rmSync(scratch, { recursive: true, force: true });
});

// Opens the page and waits until its module is loaded; fails on any error
// the page reports, a refusal by the policy among them. init, if given,
// runs in the page before its own script.
async function open(url, init) {
  const tab = await browser.newPage({ viewport: { width: 900, height: 900 } });
  if (init) await tab.addInitScript(init);
  const errors = [];
  tab.on("pageerror", (error) => errors.push(error.message));
  tab.on("console", (message) => {
    if (message.type() === "error") errors.push(message.text());
  });
  await tab.goto(url);
  await tab.waitForFunction(() => document.body.dataset.state !== "loading");
  assert.equal(await tab.evaluate(() => document.body.dataset.state), "ready", errors.join("; "));
  return { tab, errors };
}

async function choose(tab, paths) {
  await tab.setInputFiles("#choose", paths);
  await tab.waitForFunction(() => document.body.dataset.state === "done", null, { timeout: 120000 });
}

// The bytes behind a blob: link of the page.
async function fetched(tab, href) {
  const base64 = await tab.evaluate(async (url) => {
    const bytes = new Uint8Array(await (await fetch(url)).arrayBuffer());
    let binary = "";
    for (let i = 0; i < bytes.length; i += 0x8000) {
      binary += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
    }
    return btoa(binary);
  }, href);
  return Buffer.from(base64, "base64");
}

// The last, as in Safari 16.4, which reads streams with a reader alone and
// has no readable byte streams, so that the page takes ConvertStream.
const noAsyncIteration = () => {
  delete ReadableStream.prototype[Symbol.asyncIterator];
  delete ReadableStream.prototype.values;
  delete globalThis.ReadableByteStreamController;
};
for (const where of ["from disk", "served with its policy", "without async iteration or byte streams"]) {
  test(`the golden cases, ${where}`, async () => {
    const { tab, errors } = await open(where === "from disk" ? `file://${page}` : origin,
                                       where.startsWith("without") ? noAsyncIteration : undefined);
    await choose(tab, golden.map((c) => c.path));
    const links = await tab.$$eval("#downloads a", (as) =>
      as.map((a) => ({ name: a.download, href: a.href })));
    const valid = golden.filter((c) => c.valid);
    assert.deepEqual(links.map((l) => l.name), valid.map((c) => c.name));
    for (const [i, link] of links.entries()) {
      assert.deepEqual(await fetched(tab, link.href), valid[i].output, link.name);
    }
    const failures = await tab.$$eval("#failures li", (lis) => lis.map((li) => li.textContent));
    assert.deepEqual(failures.map((f) => f.split(":")[0]),
                     golden.filter((c) => !c.valid).map((c) => c.name));
    for (const line of failures) {
      assert.match(line, /^[^:]+: invalid rt file \((the file is empty|no window tag on the first line|no body lines)\)$/);
    }
    const zip = unzipSync(await fetched(tab, await tab.$eval("#zip", (a) => a.href)));
    assert.deepEqual(Object.keys(zip), valid.map((c) => c.name));
    for (const c of valid) assert.deepEqual(Buffer.from(zip[c.name]), c.output, c.name);
    assert.deepEqual(errors, []);
    if (where === "from disk" && process.env.ZORBU_SCREENSHOT) {
      await tab.setViewportSize({ width: 760, height: 600 });
      await tab.screenshot({ path: join(process.env.ZORBU_SCREENSHOT, "zorbu-page.png") });
    }
    await tab.close();
  });
}

test("a 64 MiB file streams through, with a short preview", async () => {
  const big = join(scratch, "big.rt");
  const line = "<time begin=\"1\"/>a <b>caption</b> color=\"red\" line\n";
  const body = line.repeat(Math.ceil((64 << 20) / line.length));
  writeFileSync(big, `<window>\n${body}</window>\n`);
  const { tab, errors } = await open(origin);
  await choose(tab, [big]);
  const [link] = await tab.$$eval("#downloads a", (as) => as.map((a) => a.href));
  const size = await tab.evaluate(async (url) => (await (await fetch(url)).blob()).size, link);
  const expected = Buffer.byteLength("<window>\n") +
    Buffer.byteLength(body.replaceAll("<time begin=\"1\"/>", "</time><time begin=\"1\">")
      .replaceAll("<b>", "{{{b}}}").replaceAll("</b>", "{{{/b}}}")
      .replaceAll("color=\"red\"", "color=\"#ff0000\"")) -
    Buffer.byteLength("</time>") + Buffer.byteLength("</time></window>\n");
  assert.equal(size, expected);
  const preview = await tab.$eval("#preview", (pre) => pre.textContent.length);
  assert.ok(preview > 0 && preview <= 4096, `preview of ${preview} characters`);
  assert.equal(await tab.$eval("#progress", (p) => p.value === p.max), true);
  assert.deepEqual(errors, []);
  await tab.close();
});

// The names links and zip entries get: links show the name as given, set
// apart from the text around it; files are saved under a name with no
// folder, no refused character and no clash, within 255 bytes.
test("names that would clash, climb, hide or run long", async () => {
  const { tab, errors } = await open(origin);
  const worked = readFileSync(join(cases, "worked_example.rt"));
  const given = ["same.rt", "same.rt", "..\\..\\evil.rt", `${"a".repeat(70000)}.rt`,
                 "x\u202egnp.rt"];
  await tab.setInputFiles("#choose", given.map((name) => ({
    name, mimeType: "text/plain", buffer: worked })));
  await tab.waitForFunction(() => document.body.dataset.state === "done");
  const dropped = ["../../x.rt", "/etc/cron.d/x.rt", "C:\\x.rt", ""];
  await tab.evaluate(async ([names, text]) => {
    document.body.dataset.state = "busy";
    const transfer = new DataTransfer();
    for (const name of names) transfer.items.add(new File([text], name));
    document.dispatchEvent(new DragEvent("drop", { dataTransfer: transfer, cancelable: true }));
  }, [dropped, worked.toString("latin1")]);
  await tab.waitForFunction(() => document.body.dataset.state === "done" &&
    document.querySelectorAll("#downloads a").length === 4);
  const links = await tab.$$eval("#downloads a", (as) => as.map((a) => ({
    saved: a.download, shown: a.querySelector("bdi")?.textContent })));
  assert.deepEqual(links, [
    { saved: "x.rt", shown: dropped[0] }, { saved: "x (1).rt", shown: dropped[1] },
    { saved: "x (2).rt", shown: dropped[2] }, { saved: "unnamed.rt", shown: "" }]);
  const zip = unzipSync(await fetched(tab, await tab.$eval("#zip", (a) => a.href)));
  assert.deepEqual(Object.keys(zip), links.map((l) => l.saved));
  // The first round, again, now that the drop has replaced it.
  await tab.setInputFiles("#choose", given.map((name) => ({
    name, mimeType: "text/plain", buffer: worked })));
  await tab.waitForFunction(() => document.body.dataset.state === "done" &&
    document.querySelectorAll("#downloads a").length === 5);
  const saved = await tab.$$eval("#downloads a", (as) => as.map((a) => a.download));
  assert.deepEqual(saved, ["same.rt", "same (1).rt", "evil.rt",
                           `${"a".repeat(252)}.rt`, "x\u202egnp.rt"]);
  const shown = await tab.$$eval("#downloads a bdi", (bdis) => bdis.map((b) => b.textContent));
  assert.deepEqual(shown, given);
  assert.deepEqual(Object.keys(unzipSync(await fetched(tab, await tab.$eval("#zip", (a) => a.href)))),
                   saved);
  assert.deepEqual(errors, []);
  await tab.close();
});

// A round that throws ends, and the next one runs; a file changed after it
// was chosen is said to be unreadable.
test("a failed round, and a file changed after it was chosen", async () => {
  // The page's first zip fails; files whose names start with "held" are
  // read only once the test lets them, whole or streamed.
  const hooks = () => {
    const createObjectURL = URL.createObjectURL;
    let failed = false;
    URL.createObjectURL = (blob) => {
      if (!failed && blob.type === "application/zip") {
        failed = true;
        throw new Error("made to fail");
      }
      return createObjectURL.call(URL, blob);
    };
    const { arrayBuffer, stream } = File.prototype;
    let release;
    const released = new Promise((resolve) => { release = resolve; });
    window.releaseHeld = () => release();
    File.prototype.arrayBuffer = async function held() {
      if (this.name.startsWith("held")) await released;
      return arrayBuffer.call(this);
    };
    File.prototype.stream = function held() {
      if (!this.name.startsWith("held")) return stream.call(this);
      let reader = null;
      return new ReadableStream({
        pull: async (controller) => {
          await released;
          reader ??= stream.call(this).getReader();
          const { value, done } = await reader.read();
          if (done) controller.close();
          else controller.enqueue(value);
        },
      });
    };
  };
  const { tab } = await open(origin, hooks);
  const valid = golden.filter((c) => c.valid).map((c) => c.path);
  await choose(tab, valid.slice(0, 2));
  assert.equal(await tab.$eval("#status", (p) => p.textContent), "This round stopped: made to fail");
  // Other files, for a choice of the same ones is no change.
  await choose(tab, valid.slice(2, 4));
  assert.equal(await tab.$eval("#zip", (a) => a.hidden), false);

  // One small enough to be read whole, one large enough to be streamed.
  const held = [join(scratch, "held.rt"), join(scratch, "held-large.rt")];
  writeFileSync(held[0], readFileSync(valid[0]));
  writeFileSync(held[1], "<window>\n" + "a body line of a large file\n".repeat(60000) + "</window>\n");
  await tab.setInputFiles("#choose", held);
  for (const path of held) writeFileSync(path, "changed after it was chosen\n".repeat(9));
  await tab.evaluate(() => window.releaseHeld());
  await tab.waitForFunction(() => document.body.dataset.state === "done");
  assert.deepEqual(await tab.$$eval("#failures li", (lis) => lis.map((li) => li.textContent)),
                   ["held.rt", "held-large.rt"].map((name) =>
                     `${name}: the file could not be read; was it moved or changed after it was chosen?`));
  await tab.close();
});

// The folder the user would pick is the origin's private file system,
// which the same code writes into; a folder dropped is the tree the test
// hands over, as the entries a browser gives for one.
const pickPrivate = () => {
  globalThis.showDirectoryPicker = () => navigator.storage.getDirectory();
  const real = DataTransferItem.prototype.webkitGetAsEntry;
  DataTransferItem.prototype.webkitGetAsEntry = function entry() {
    return globalThis.droppedFolder ?? real.call(this);
  };
};

// Asserts that the tab's private folder holds exactly the files of want,
// path to bytes, but those left out.
async function assertWritten(tab, want, leftOut = []) {
  const written = await tab.evaluate(async () => {
    const files = {};
    const walk = async (folder, rel) => {
      for await (const [name, handle] of folder.entries()) {
        if (handle.kind === "directory") {
          await walk(handle, `${rel}${name}/`);
        } else {
          const bytes = new Uint8Array(await (await handle.getFile()).arrayBuffer());
          let binary = "";
          for (let i = 0; i < bytes.length; i += 0x8000) {
            binary += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
          }
          files[`${rel}${name}`] = btoa(binary);
        }
      }
    };
    await walk(await navigator.storage.getDirectory(), "");
    return files;
  });
  const expected = Object.keys(want).filter((path) => !leftOut.includes(path));
  assert.deepEqual(Object.keys(written).sort(), expected.sort());
  for (const path of expected) {
    assert.deepEqual(Buffer.from(written[path], "base64"), want[path], `written ${path}`);
  }
}

// Clicks "Write into a folder…" and returns the failures it lists; with
// failFirst the round's first write fails, and the first removal after it
// is refused as Chromium refuses it while it still holds the file; without
// movable the browser is one that cannot move files.
async function writeRound(tab, { failFirst = false, movable = true } = {}) {
  await tab.evaluate(([fail, move]) => {
    document.body.dataset.written = "";
    const proto = FileSystemWritableFileStream.prototype;
    proto.realWrite ??= proto.write;
    let failing = fail;
    let refusing = false;
    proto.write = function write(data) {
      if (!failing) return this.realWrite(data);
      failing = false;
      refusing = true;
      return Promise.reject(new Error("made to fail"));
    };
    const folders = FileSystemDirectoryHandle.prototype;
    folders.realRemove ??= folders.removeEntry;
    folders.removeEntry = function removeEntry(name) {
      if (!refusing) return this.realRemove(name);
      refusing = false;
      return Promise.reject(new DOMException("still held", "NoModificationAllowedError"));
    };
    FileSystemFileHandle.prototype.realMove ??= FileSystemFileHandle.prototype.move;
    FileSystemFileHandle.prototype.move = move ? FileSystemFileHandle.prototype.realMove : undefined;
    document.getElementById("failures").replaceChildren();
  }, [failFirst, movable]);
  await tab.click("#write-folder");
  await tab.waitForFunction(() => document.body.dataset.written === "yes");
  return tab.$$eval("#failures li", (lis) => lis.map((li) => li.textContent));
}

// A folder chosen whole: its rt files (in any case, at any depth) come back
// in a zip that keeps the tree, exactly what zorbu --into makes of the same
// folder, with the same failures and the same count; other files are
// passed over.
test("a folder tree, as zorbu --into converts it",
     { skip: !process.env.ZORBU_NATIVE && "ZORBU_NATIVE names no program" }, async () => {
  const top = join(scratch, "tree-run");
  const valid = golden.filter((c) => c.valid);
  const put = (path, data) => {
    mkdirSync(dirname(join(top, path)), { recursive: true });
    writeFileSync(join(top, path), data);
  };
  for (let i = 0; i < 1000; i++) {
    const c = valid[i % valid.length];
    put(`tree/s${i % 7}/d${i % 3}/e${i}.rt`, readFileSync(c.path));
  }
  put("tree/a/same.rt", readFileSync(valid[0].path));
  put("tree/b/same.rt", readFileSync(valid[1].path));
  put("tree/UPPER.RT", readFileSync(valid[2].path));
  put("tree/bad/no-window.rt", "no window here\n<time/>a\n</window>\n");
  put("tree/notes.txt", "not an rt file\n");
  const nativeStart = performance.now();
  const native = spawnSync(process.env.ZORBU_NATIVE, ["--into", "out", "tree"],
                           { cwd: top, encoding: "utf8" });
  const nativeMs = performance.now() - nativeStart;
  const want = {};
  const walk = (dir, rel) => {
    for (const entry of readdirSync(dir, { withFileTypes: true })) {
      if (entry.isDirectory()) walk(join(dir, entry.name), `${rel}${entry.name}/`);
      else want[`${rel}${entry.name}`] = readFileSync(join(dir, entry.name));
    }
  };
  walk(join(top, "out"), "");
  const { tab, errors } = await open(origin, pickPrivate);
  const pageStart = performance.now();
  await tab.setInputFiles("#choose-folder", join(top, "tree"));
  await tab.waitForFunction(() => document.body.dataset.state === "done", null, { timeout: 120000 });
  console.log(`a folder of ${Object.keys(want).length + 2} files: the page ${(performance.now() - pageStart).toFixed(0)} ms, ` +
              `zorbu --into ${nativeMs.toFixed(0)} ms`);
  const zip = unzipSync(await fetched(tab, await tab.$eval("#zip", (a) => a.href)));
  assert.deepEqual(Object.keys(zip).sort(), Object.keys(want).sort());
  for (const [path, bytes] of Object.entries(want)) assert.deepEqual(Buffer.from(zip[path]), bytes, path);
  // Single downloads for the first hundred only; the rest are in the zip.
  assert.deepEqual(await tab.$$eval("#downloads li", (lis) => [lis.length, lis.at(-1).textContent]),
                   [101, `and ${Object.keys(want).length - 100} more, in the zip`]);
  await tab.click("#write-folder");
  await tab.waitForFunction(() => document.body.dataset.written === "yes", null, { timeout: 120000 });
  await assertWritten(tab, want);
  const failures = await tab.$$eval("#failures li", (lis) => lis.map((li) => li.textContent));
  const nativeFailures = native.stderr.split("\n").filter((line) => line.includes(": error: "))
    .map((line) => line.replace(/^zorbu: /, "").replace(": error: ", ": "));
  assert.deepEqual(failures, nativeFailures);
  const count = native.stderr.match(/(\d+ of \d+ files failed)/)[1];
  const status = await tab.$eval("#status", (p) => p.textContent);
  assert.ok(status.includes(count) && status.includes("1 other file passed over"), status);
  if (process.env.ZORBU_SCREENSHOT) {
    await tab.setViewportSize({ width: 760, height: 720 });
    await tab.evaluate(() => window.scrollTo(0, 0));
    await tab.screenshot({ path: join(process.env.ZORBU_SCREENSHOT, "zorbu-page-folder.png") });
  }
  // The same folder, dropped.
  const inTree = {};
  const gather = (dir, rel) => {
    for (const entry of readdirSync(dir, { withFileTypes: true })) {
      if (entry.isDirectory()) gather(join(dir, entry.name), `${rel}${entry.name}/`);
      else inTree[`${rel}${entry.name}`] = readFileSync(join(dir, entry.name)).toString("base64");
    }
  };
  gather(join(top, "tree"), "");
  await tab.evaluate((files) => {
    const folder = (name) => ({ isFile: false, isDirectory: true, name, children: new Map(),
      createReader() {
        let given = false;
        return { readEntries: (done) => setTimeout(() => {
          done(given ? [] : [...this.children.values()]);
          given = true;
        }) };
      } });
    const root = folder("tree");
    for (const [path, base64] of Object.entries(files)) {
      const parts = path.split("/");
      const name = parts.pop();
      let at = root;
      for (const part of parts) {
        if (!at.children.has(part)) at.children.set(part, folder(part));
        at = at.children.get(part);
      }
      const bytes = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
      const file = new File([bytes], name);
      at.children.set(name, { isFile: true, isDirectory: false, name, file: (done) => done(file) });
    }
    globalThis.droppedFolder = root;
    document.body.dataset.state = "busy";
    const transfer = new DataTransfer();
    transfer.items.add(new File(["x"], "tree"));
    document.dispatchEvent(new DragEvent("drop", { dataTransfer: transfer, cancelable: true }));
  }, inTree);
  await tab.waitForFunction(() => document.body.dataset.state === "done", null, { timeout: 120000 });
  const dropped = unzipSync(await fetched(tab, await tab.$eval("#zip", (a) => a.href)));
  assert.deepEqual(Object.keys(dropped).sort(), Object.keys(want).sort());
  for (const [path, bytes] of Object.entries(want)) {
    assert.deepEqual(Buffer.from(dropped[path]), bytes, `dropped ${path}`);
  }
  assert.deepEqual(await tab.$$eval("#failures li", (lis) => lis.map((li) => li.textContent)),
                   nativeFailures);
  // Written again: nothing is replaced until the user agrees.
  const refused = await writeRound(tab);
  assert.equal(refused.length, Object.keys(want).length);
  assert.ok(refused.every((line) => line.endsWith(": a file of this name is there; it is replaced only if you agree")));
  assert.deepEqual(errors, []);
  await tab.close();
});

// Written into a folder again once the user agrees: a file whose write
// fails is named and leaves no partial file, and the file that was there
// as it was; where the browser cannot move files, a failed file that was
// not there leaves nothing at all.
test("writing into a folder: replaced, or failed without a trace", async () => {
  const top = join(scratch, "write-run");
  const want = {};
  for (const [i, c] of golden.filter((g) => g.valid).slice(0, 6).entries()) {
    const path = `tree/${i % 2 ? "odd" : "even"}/${c.name}`;
    mkdirSync(dirname(join(top, path)), { recursive: true });
    writeFileSync(join(top, path), readFileSync(c.path));
    want[path] = c.output;
  }
  const { tab, errors } = await open(origin, pickPrivate);
  await tab.setInputFiles("#choose-folder", join(top, "tree"));
  await tab.waitForFunction(() => document.body.dataset.state === "done");
  assert.deepEqual(await writeRound(tab), []);
  await assertWritten(tab, want);
  const total = Object.keys(want).length;
  await tab.check("#replace");
  const [failedFirst] = await writeRound(tab, { failFirst: true });
  assert.match(failedFirst, /^tree\/[^:]+: made to fail$/);
  const first = failedFirst.split(":")[0];
  assert.match(await tab.$eval("#status", (p) => p.textContent),
               new RegExp(`; ${total - 1} of ${total} files written into ; 1 failed$`));
  await assertWritten(tab, want);
  assert.deepEqual(await writeRound(tab, { failFirst: true, movable: false }), [failedFirst]);
  await assertWritten(tab, want);
  await tab.evaluate(async (path) => {
    let folder = await navigator.storage.getDirectory();
    const parts = path.split("/");
    const name = parts.pop();
    for (const part of parts) folder = await folder.getDirectoryHandle(part);
    await folder.realRemove(name); // not the hook, which may still be set to refuse
  }, first);
  assert.deepEqual(await writeRound(tab, { failFirst: true, movable: false }), [failedFirst]);
  await assertWritten(tab, want, [first]);
  assert.deepEqual(await writeRound(tab, { movable: false }), []);
  await assertWritten(tab, want);
  assert.match(await tab.$eval("#status", (p) => p.textContent),
               new RegExp(`; ${total} of ${total} files written into $`));
  assert.deepEqual(errors, []);
  await tab.close();
});

// Ten thousand small files, in ten folders: every one converted as the
// program converts it, and the tab's script memory afterwards bounded by
// what the files' names take, not by their bytes.
test("a folder of 10,000 files, in bounded memory",
     { skip: !process.env.ZORBU_NATIVE && "ZORBU_NATIVE names no program" }, async () => {
  const top = join(scratch, "many-run");
  for (let folder = 0; folder < 10; folder++) mkdirSync(join(top, "many", `f${folder}`), { recursive: true });
  // Some 2.5 KB a file, 25 MB in all: outputs held in the heap would pass
  // the bound below twice over.
  const body = (i) => Array.from({ length: 40 }, (_, k) => `<time begin="${i}.${k}"/>line ${k} of <b>${i}</b>\n`).join("");
  for (let i = 0; i < 10000; i++) {
    const text = i % 1000 === 999
      ? "not a window\n"
      : `<window><font color="red">\n${body(i)}</font>\n</window>\n`;
    writeFileSync(join(top, "many", `f${i % 10}`, `c${i}.rt`), text);
  }
  const nativeStart = performance.now();
  const native = spawnSync(process.env.ZORBU_NATIVE, ["--into", "out", "many"], { cwd: top, encoding: "utf8" });
  const nativeMs = performance.now() - nativeStart;
  const { tab, errors } = await open(origin);
  const heap = () => tab.evaluate(() => {
    globalThis.gc();
    return performance.memory.usedJSHeapSize;
  });
  const before = await heap();
  const pageStart = performance.now();
  await tab.setInputFiles("#choose-folder", join(top, "many"));
  await tab.waitForFunction(() => document.body.dataset.state === "done", null, { timeout: 300000 });
  const pageMs = performance.now() - pageStart;
  // Blobs just made wait in the tab until the browser takes them; what is
  // measured is what stays once it has.
  const bound = 10 << 20;
  let grown = Infinity;
  for (let tries = 0; tries < 20 && grown >= bound; tries++) {
    if (tries > 0) await new Promise((resolve) => setTimeout(resolve, 500));
    grown = (await heap()) - before;
  }
  console.log(`a folder of 10,000 files: the page ${pageMs.toFixed(0)} ms, zorbu --into ${nativeMs.toFixed(0)} ms; ` +
              `script memory grew ${(grown / (1 << 20)).toFixed(1)} MiB`);
  const zip = unzipSync(await fetched(tab, await tab.$eval("#zip", (a) => a.href)));
  const entries = Object.keys(zip);
  assert.equal(entries.length, 9990);
  for (const name of entries) {
    assert.deepEqual(Buffer.from(zip[name]), readFileSync(join(top, "out", name)), name);
  }
  const count = native.stderr.match(/(\d+ of \d+ files failed)/)[1];
  assert.equal(count, "10 of 10000 files failed");
  assert.ok((await tab.$eval("#status", (p) => p.textContent)).includes(count));
  // A file's output lives in a blob, outside the script's heap; what is
  // left there is a name and a handle a file, under a kilobyte each.
  assert.ok(grown < bound, `script memory grew by ${grown} bytes`);
  assert.deepEqual(errors, []);
  await tab.close();
});
