// Converts a file with the JavaScript package, twice in one process, and
// prints the second pass's wall and user+sys seconds (the first's too, as
// cold), and the module's memory at the end. HOW is one of:
//   stream  ConvertStream, written in ZORBU_WRITE-byte chunks (1 MiB);
//   bytes   ConvertByteStream, the same, read by a BYOB reader with a
//           1 MiB buffer;
//   kernels the file in the module's memory, pushed 1 MiB at a time into
//           a 512 KiB room, nothing copied out: the kernels alone.
// With --generate MIB for FILE, streams that much caption text made on the
// fly through ConvertStream, once.
// Usage: node bench/js_stream.mjs portable|wasm HOW FILE | --generate MIB
import { readFileSync } from "node:fs";

import { ConvertByteStream, ConvertStream, init, kernels, memorySize } from "../js/zorbu.js";
import { allocate, freeAll, heap, lib, words } from "../js/module.js";

const [set, how, what, size] = process.argv.slice(2);
await init({ kernels: set });
if (kernels() !== set) throw new Error(`asked for ${set}, got ${kernels()}`);
const writeSize = Number(process.env.ZORBU_WRITE ?? 1 << 20);

function* generated(mib) {
  const line = '<time begin="1.5"/>never <b>again</b> <font color="red">there</font> now\n';
  const block = new TextEncoder().encode(line.repeat(Math.ceil((1 << 16) / line.length)));
  yield new TextEncoder().encode("<window>\n");
  for (let done = 0; done < mib << 20; done += block.length) yield block;
  yield new TextEncoder().encode("</window>\n");
}

function* pieces(file) {
  for (let at = 0; at < file.length; at += writeSize) yield file.subarray(at, at + writeSize);
}

// Writes chunks to a stream's writable side while read() takes its
// output; returns the bytes written.
async function through(stream, chunks, read) {
  const writer = stream.writable.getWriter();
  let bytes = 0;
  const writing = (async () => {
    for (const chunk of chunks) {
      bytes += chunk.length;
      await writer.write(chunk);
    }
    await writer.close();
  })();
  await read(stream.readable);
  await writing;
  return bytes;
}

const readers = {
  async stream(readable) {
    const reader = readable.getReader();
    while (!(await reader.read()).done);
  },
  async bytes(readable) {
    const reader = readable.getReader({ mode: "byob" });
    let buffer = new Uint8Array(1 << 20);
    for (;;) {
      const { value, done } = await reader.read(buffer);
      if (done) return;
      buffer = new Uint8Array(value.buffer);
    }
  },
};

// The file in module memory, pushed where it lies: no copy in or out.
function kernelsAlone(file) {
  const input = allocate(file.length);
  const room = allocate(512 * 1024);
  const structs = allocate(24);
  const stream = lib.zorbu_create() >>> 0;
  heap().set(file, input);
  const start = performance.now();
  const cpu = process.cpuUsage();
  for (let at = 0; at < file.length; at += 1 << 20) {
    const w = words();
    w[structs >>> 2] = input + at;
    w[(structs >>> 2) + 1] = Math.min(1 << 20, file.length - at);
    w[(structs >>> 2) + 2] = 0;
    let result;
    do {
      w[(structs >>> 2) + 3] = room;
      w[(structs >>> 2) + 4] = 512 * 1024;
      w[(structs >>> 2) + 5] = 0;
      result = lib.zorbu_push(stream, structs, structs + 12);
    } while (result === 1);
  }
  do {
    const w = words();
    w[(structs >>> 2) + 3] = room;
    w[(structs >>> 2) + 4] = 512 * 1024;
    w[(structs >>> 2) + 5] = 0;
  } while (lib.zorbu_finish(stream, structs + 12) === 1);
  const used = process.cpuUsage(cpu);
  const seconds = (performance.now() - start) / 1000;
  lib.zorbu_free(stream);
  freeAll(input, room, structs);
  return { seconds, cpu: (used.user + used.system) / 1e6, read: file.length };
}

async function pass() {
  if (what === "--generate") {
    const start = performance.now();
    const read = await through(new ConvertStream(), generated(Number(size)), readers.stream);
    return { seconds: (performance.now() - start) / 1000, cpu: 0, read };
  }
  const file = new Uint8Array(readFileSync(what));
  if (how === "kernels") return kernelsAlone(file);
  const stream = how === "bytes" ? new ConvertByteStream() : new ConvertStream();
  const start = performance.now();
  const cpu = process.cpuUsage();
  const read = await through(stream, pieces(file), readers[how]);
  const used = process.cpuUsage(cpu);
  return { seconds: (performance.now() - start) / 1000, cpu: (used.user + used.system) / 1e6, read };
}

// The first pass runs while the engine still compiles the module's hot
// functions at their best; the second is the speed of a process that has
// converted a file before.
const cold = await pass();
const warm = what === "--generate" ? cold : await pass();
console.log(JSON.stringify({ set, how, wall: warm.seconds, cpu: warm.cpu, bytes: warm.read,
                             coldWall: cold.seconds, memory: memorySize() }));
