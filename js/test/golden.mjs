// The package on one of its modules: every golden case through convert and
// through ConvertStream fed in pieces, byte for byte against the program's
// outputs, failing exactly where the program fails, with the library's
// reasons; misuse; and the command line against the native program.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { openSync, readdirSync, readFileSync, unlinkSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
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

// The output of the byte stream for input written in pieces of `piece`
// bytes, read by a BYOB reader with a buffer of `buffer` bytes, or by a
// default reader when buffer is 0; each chunk a default reader kept is
// checked again, unchanged, once the stream has ended.
async function byteStreamed(input, piece, buffer) {
  const stream = new zorbu.ConvertByteStream();
  const writer = stream.writable.getWriter();
  const writing = (async () => {
    for (let at = 0; at < input.length; at += piece) {
      await writer.write(input.slice(at, at + piece));
    }
    await writer.close();
  })();
  writing.catch(() => {});
  const parts = [];
  const kept = [];
  if (buffer > 0) {
    const reader = stream.readable.getReader({ mode: "byob" });
    let view = new Uint8Array(buffer);
    for (;;) {
      const { value, done } = await reader.read(view);
      if (done) break;
      parts.push(Buffer.from(value));
      view = new Uint8Array(value.buffer);
    }
  } else {
    const reader = stream.readable.getReader();
    for (;;) {
      const { value, done } = await reader.read();
      if (done) break;
      kept.push(value);
      parts.push(Buffer.from(value));
    }
  }
  await writing;
  kept.forEach((value, i) => assert.deepEqual(Buffer.from(value), parts[i], "a kept chunk changed"));
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

  test(`${kernels}: every golden case through the byte stream, read and written in pieces`, async () => {
    await zorbu.init({ kernels });
    const ways = [[4096, 1], [4096, 7], [4096, 4096], [4096, 65536], [4096, 0],
                  [1, 65536], [7, 65536]];
    for (const c of golden()) {
      for (const [piece, buffer] of ways) {
        const run = byteStreamed(c.input, piece, buffer);
        const how = `${c.name}, pieces of ${piece}, ${buffer ? `a buffer of ${buffer}` : "kept chunks"}`;
        if (c.status === 0) {
          assert.deepEqual(await run, Buffer.from(c.output), how);
        } else {
          await assert.rejects(run, zorbu.InvalidFileError, how);
        }
      }
    }
    // Where the engine has no byte streams, the constructor says so.
    const controller = globalThis.ReadableByteStreamController;
    delete globalThis.ReadableByteStreamController;
    try {
      assert.throws(() => new zorbu.ConvertByteStream(), /use ConvertStream/);
    } finally {
      globalThis.ReadableByteStreamController = controller;
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

  test(`${kernels}: the module survives what it is handed`, async () => {
    await zorbu.init({ kernels });
    // Kernels asked for once a module is loaded are refused, naming it.
    const other = kernels === "portable" ? "wasm" : "portable";
    await assert.rejects(zorbu.init({ kernels: other }),
                         new RegExp(`the ${kernels} module is loaded already`));
    await zorbu.init();
    // A subclass cannot make the package read past its bytes, or short.
    const input = new TextEncoder().encode("<window>\n<time/>a < b\n</window>\n");
    const want = Buffer.from(zorbu.convert(input));
    for (const length of [1, 1 << 20]) {
      const Lying = class extends Uint8Array {
        get length() { return length; }
        subarray() { return new Uint8Array(length); }
      };
      const lying = new Lying(input.length);
      lying.set(input);
      assert.deepEqual(Buffer.from(zorbu.convert(lying)), want, `length ${length}`);
      const parts = [];
      const stream = new zorbu.ConvertStream();
      const writer = stream.writable.getWriter();
      const read = (async () => {
        for await (const part of stream.readable) parts.push(part);
      })();
      await writer.write(lying);
      await writer.close();
      await read;
      assert.deepEqual(Buffer.concat(parts), want, `length ${length}, streamed`);
    }
    // Streams that end in any way give their memory back at once.
    const chunk = new TextEncoder().encode("<window>\n<time/>a\n");
    const ended = async (how) => {
      const stream = new zorbu.ConvertStream();
      const writer = stream.writable.getWriter();
      const reader = stream.readable.getReader();
      // A read pending, so that the chunk is taken in.
      reader.read().catch(() => {});
      await writer.write(how === "errored" ? new TextEncoder().encode("<p>\n") : chunk)
        .catch(() => {});
      if (how === "aborted") await writer.abort(new Error("stop"));
      if (how === "cancelled") await reader.cancel();
    };
    for (const how of ["aborted", "cancelled", "errored"]) await ended(how);
    const before = zorbu.memorySize();
    for (let i = 0; i < 1200; i++) await ended(["aborted", "cancelled", "errored"][i % 3]);
    assert.equal(zorbu.memorySize(), before);
  });

  test(`${kernels}: a module that is not zorbu's is refused, and init goes on working`, () => {
    const run = spawnSync(process.execPath, ["--input-type=module", "-e",
      `import * as zorbu from ${JSON.stringify(join(here, "..", "zorbu.js"))};
       try {
         await zorbu.init({ source: new Uint8Array([0, 0x61, 0x73, 0x6d, 1, 0, 0, 0]) });
       } catch (error) { console.log(error.message); }
       await zorbu.init({ kernels: ${JSON.stringify(kernels)} });
       console.log(new TextDecoder().decode(zorbu.convert(new TextEncoder().encode("<window>\\n<time/>a\\n</window>\\n"))));`],
      { encoding: "utf8" });
    assert.match(run.stdout, /^zorbu: not a zorbu module: it has no memory, /);
    assert.match(run.stdout, /\n<window>\n<time>a\n<\/time><\/window>\n\n$/);
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
    const folder = dirname(cli);
    for (const [args, input] of [[[], null], [["/no/such/file"], null], [["--version"], null],
                                 [[folder], null], [["-"], folder]]) {
      const options = input ? { stdio: [openSync(input, "r"), "pipe", "pipe"] } : {};
      const js = spawnSync(process.execPath, [cli, ...args], options);
      const native = spawnSync(process.env.ZORBU_NATIVE, args, options);
      assert.deepEqual([js.stdout, js.stderr.toString(), js.status],
                       [native.stdout, native.stderr.toString(), native.status], `${args}`);
    }
    // A reader that has gone ends both by SIGPIPE, silently, for a shell
    // and for a parent that is none.
    const big = join(tmpdir(), `zorbu-big-${process.pid}.rt`);
    writeFileSync(big, `<window>\n${"<time/>a line of text\n".repeat(400000)}</window>\n`);
    try {
      for (const command of [`${JSON.stringify(process.execPath)} ${JSON.stringify(cli)}`,
                             JSON.stringify(process.env.ZORBU_NATIVE)]) {
        const shell = spawnSync("bash", ["-c", `${command} "$1" | head -c1 >/dev/null; ` +
                                         `echo "\${PIPESTATUS[0]}"`, "bash", big],
                                { encoding: "utf8" });
        assert.deepEqual([shell.stdout, shell.stderr], ["141\n", ""], command);
        const python = spawnSync("python3", ["-c", `import subprocess, shlex, sys
p = subprocess.Popen(shlex.split(sys.argv[1]) + [sys.argv[2]], stdout=subprocess.PIPE,
                     stderr=subprocess.PIPE)
p.stdout.read(1); p.stdout.close()
print(p.wait(), repr(p.stderr.read()))`, command, big], { encoding: "utf8" });
        assert.equal(python.stdout, "-13 b''\n", command);
      }
    } finally {
      unlinkSync(big);
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
