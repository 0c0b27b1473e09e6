// Streams a file through the JavaScript package's ConvertStream, in 1 MiB
// reads (ZORBU_READ_SIZE bytes where set), twice, and prints the input's MiB/s of each pass and the module's
// memory at the end; with --generate MIB, streams that much caption text
// made on the fly, once.
// Usage: node bench/js_stream.mjs portable|wasm FILE | --generate MIB
import { openSync, readSync } from "node:fs";

import { ConvertStream, init, kernels, memorySize } from "../js/zorbu.js";

const [set, what, size] = process.argv.slice(2);
await init({ kernels: set });
if (kernels() !== set) throw new Error(`asked for ${set}, got ${kernels()}`);

function* fileChunks(path) {
  const fd = openSync(path, "r");
  const buffer = new Uint8Array(Number(process.env.ZORBU_READ_SIZE ?? 1 << 20));
  for (;;) {
    const n = readSync(fd, buffer, 0, buffer.length, null);
    if (n === 0) return;
    yield buffer.subarray(0, n);
  }
}

function* generated(mib) {
  const line = '<time begin="1.5"/>never <b>again</b> <font color="red">there</font> now\n';
  const block = new TextEncoder().encode(line.repeat(Math.ceil((1 << 16) / line.length)));
  yield new TextEncoder().encode("<window>\n");
  for (let done = 0; done < mib << 20; done += block.length) yield block;
  yield new TextEncoder().encode("</window>\n");
}

// Streams chunks through a new ConvertStream; returns the seconds taken
// and the bytes read and written.
async function run(chunks) {
  const stream = new ConvertStream();
  const writer = stream.writable.getWriter();
  let written = 0;
  const drained = (async () => {
    for await (const part of stream.readable) written += part.length;
  })();
  let read = 0;
  const start = performance.now();
  for (const chunk of chunks) {
    read += chunk.length;
    await writer.write(chunk);
  }
  await writer.close();
  await drained;
  return { seconds: (performance.now() - start) / 1000, read, written };
}

const chunks = () => (what === "--generate" ? generated(Number(size)) : fileChunks(what));
// The first pass runs while the engine still compiles the module's hot
// functions at their best; the second is the speed of a process that has
// converted a file before.
const cold = await run(chunks());
const warm = what === "--generate" ? cold : await run(chunks());
const rate = (r) => r.read / (1 << 20) / r.seconds;
console.log(JSON.stringify({ set, read: warm.read, written: warm.written,
                             coldMibPerSecond: rate(cold), mibPerSecond: rate(warm),
                             memory: memorySize() }));
