// The package on one of its modules: every golden case through convert and
// through ConvertStream fed in pieces, byte for byte against the program's
// outputs, failing exactly where the program fails, with the library's
// reasons; misuse; and the command line against the native program.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { readdirSync, readFileSync } from "node:fs";
import { dirname, join } from "node:path";
import { test } from "node:test";
import { fileURLToPath } from "node:url";

import * as zorbu from "../zorbu.js";

const here = dirname(fileURLToPath(import.meta.url));
const cases = join(here, "..", "..", "tests", "cases");
const cli = join(here, "..", "bin", "zorbu.js");

function golden() {
  return readdirSync(cases)
    .filter((name) => name.endsWith(".rt"))
    .sort()
    .map((name) => {
      const stem = join(cases, name.slice(0, -3));
      return {
        name,
        path: `${stem}.rt`,
        input: new Uint8Array(readFileSync(`${stem}.rt`)),
        output: new Uint8Array(readFileSync(`${stem}.out`)),
        err: readFileSync(`${stem}.err`, "utf8"),
        status: Number(readFileSync(`${stem}.status`, "utf8")),
      };
    });
}

async function streamed(input, piece) {
  const chunks = [];
  for (let at = 0; at < input.length; at += piece) {
    chunks.push(input.slice(at, at + piece));
  }
  const source = new ReadableStream({
    pull(controller) {
      if (chunks.length) controller.enqueue(chunks.shift());
      else controller.close();
    },
  });
  const parts = [];
  for await (const part of source.pipeThrough(new zorbu.ConvertStream())) {
    parts.push(part);
  }
  return Buffer.concat(parts);
}

export function suite(kernels) {
  test(`${kernels}: init loads the module asked for, once`, async () => {
    await Promise.all([zorbu.init({ kernels }), zorbu.init({ kernels })]);
    assert.equal(zorbu.kernels(), kernels === "portable" ? "portable" : "wasm");
    const nativeVersion = spawnSync(process.env.ZORBU_NATIVE ?? "zorbu", ["--version"],
                                    { encoding: "utf8" }).stdout;
    if (process.env.ZORBU_NATIVE) assert.equal(`zorbu ${zorbu.version}\n`, nativeVersion);
    const pkg = JSON.parse(readFileSync(join(here, "..", "package.json"), "utf8"));
    assert.equal(pkg.version, zorbu.version);
  });

  test(`${kernels}: every golden case, whole and in pieces`, async () => {
    await zorbu.init({ kernels });
    for (const c of golden()) {
      const whole = () => zorbu.convert(c.input);
      if (c.status === 0) {
        assert.deepEqual(Buffer.from(whole()), Buffer.from(c.output), c.name);
      } else {
        assert.throws(whole, (error) => error instanceof zorbu.InvalidFileError &&
          error instanceof Error && error.message === "invalid rt file" &&
          typeof error.reason === "string", c.name);
      }
      for (const piece of [1, 7, 4096]) {
        const run = streamed(c.input, piece);
        if (c.status === 0) {
          assert.deepEqual(await run, Buffer.from(c.output), `${c.name} in ${piece}`);
        } else {
          await assert.rejects(run, zorbu.InvalidFileError, `${c.name} in ${piece}`);
        }
      }
    }
  });

  test(`${kernels}: each invalid file says why`, async () => {
    await zorbu.init({ kernels });
    const encode = (text) => new TextEncoder().encode(text);
    for (const [text, reason] of [
      ["", "the file is empty"],
      ["no window\n<time/>a\n</window>\n", "no window tag on the first line"],
      ["<window><font>\n</font>\n</window>\n", "no body lines"],
    ]) {
      assert.throws(() => zorbu.convert(encode(text)), { reason });
      await assert.rejects(streamed(encode(text), 3), { reason });
    }
  });

  test(`${kernels}: misuse is refused, not mistaken`, async () => {
    // Before init, a call says so.
    const early = spawnSync(process.execPath, ["--input-type=module", "-e",
      `import { convert } from ${JSON.stringify(join(here, "..", "zorbu.js"))};
       try { convert(new Uint8Array(1)); } catch (error) { console.log(error.message); }`],
      { encoding: "utf8" });
    assert.equal(early.stdout, "zorbu: call and await init() first\n");
    await zorbu.init({ kernels });
    assert.throws(() => zorbu.convert("<window>\n"), TypeError);
    // Memory the module cannot have is an error with the C result, and the
    // module goes on working after it.
    assert.throws(() => zorbu.convert(new Uint8Array(1500 << 20)),
                  (error) => error instanceof zorbu.ZorbuError && error.result === 3 &&
                    error.message === "out of memory");
    assert.deepEqual(Buffer.from(zorbu.convert(new TextEncoder().encode("<window>\n<time/>a\n</window>\n"))),
                     Buffer.from("<window>\n<time>a\n</time></window>\n"));
    // A stream written after it errored refuses, with the same error.
    const stream = new zorbu.ConvertStream();
    const writer = stream.writable.getWriter();
    stream.readable.pipeTo(new WritableStream()).catch(() => {});
    await assert.rejects(writer.write(new TextEncoder().encode("<p>\n")),
                         zorbu.InvalidFileError);
    await assert.rejects(writer.write(new TextEncoder().encode("<window>\n")),
                         zorbu.InvalidFileError);
    // A large file streams in the same memory: the module does not grow
    // with it.
    const line = new TextEncoder().encode("<time/>a <b>b</b> color=\"red\"\n");
    const before = await streamedMemory(line, 1 << 14);
    const after = await streamedMemory(line, 1 << 16);
    assert.equal(after, before);
  });

  test(`${kernels}: the command line gives the native program's bytes, messages and statuses`,
       { skip: !process.env.ZORBU_NATIVE && "ZORBU_NATIVE names no program" }, async () => {
    for (const c of golden()) {
      for (const args of [[c.path], ["-"]]) {
        const run = (command, prefix) => spawnSync(command, [...prefix, ...args], {
          input: args[0] === "-" ? c.input : undefined,
        });
        const js = run(process.execPath, [cli]);
        const native = run(process.env.ZORBU_NATIVE, []);
        assert.deepEqual(js.stdout, native.stdout, `${c.name} ${args}`);
        assert.equal(js.stderr.toString(), native.stderr.toString(), `${c.name} ${args}`);
        assert.equal(js.status, native.status, `${c.name} ${args}`);
      }
    }
    for (const args of [[], ["/no/such/file"], ["--version"]]) {
      const js = spawnSync(process.execPath, [cli, ...args]);
      const native = spawnSync(process.env.ZORBU_NATIVE, args);
      assert.deepEqual([js.stdout, js.stderr.toString(), js.status],
                       [native.stdout, native.stderr.toString(), native.status], `${args}`);
    }
  });
}

// How large the module's memory is after streaming `count` lines.
async function streamedMemory(line, count) {
  const source = new ReadableStream({
    pull(controller) {
      if (count-- > 0) controller.enqueue(line);
      else controller.close();
    },
  });
  const head = new ReadableStream({
    start(controller) {
      controller.enqueue(new TextEncoder().encode("<window>\n"));
      controller.close();
    },
  });
  const joined = new ReadableStream({
    async start(controller) {
      for await (const part of head) controller.enqueue(part);
      for await (const part of source) controller.enqueue(part);
      controller.enqueue(new TextEncoder().encode("</window>\n"));
      controller.close();
    },
  });
  for await (const part of joined.pipeThrough(new zorbu.ConvertStream())) void part;
  return zorbu.memorySize();
}
