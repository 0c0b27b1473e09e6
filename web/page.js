// The page's script: files chosen or dropped are converted here, in the
// browser, streamed through the WebAssembly module, and offered back as
// downloads; nothing leaves the machine.
import { Zip, ZipPassThrough } from "fflate";

import { ConvertByteStream, ConvertStream, InvalidFileError, init } from "../js/zorbu.js";
import { NameSet } from "./names.js";

// The build puts both modules here, base64, so that the page needs nothing
// beside it, even opened from disk.
/* global ZORBU_MODULES */

// The preview shows the start of the first output, no more: tens of MiB
// of text would freeze the page.
const PREVIEW_BYTES = 4096;

const $ = (id) => document.getElementById(id);

function decodeBase64(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

async function load() {
  const simd = decodeBase64(ZORBU_MODULES.simd);
  // An engine that validates the SIMD module runs it; the rest take the
  // portable one.
  const source = WebAssembly.validate(simd)
    ? simd
    : decodeBase64(ZORBU_MODULES.portable);
  await init({ source });
}

function mib(bytes) {
  if (bytes < 1 << 20) return `${(bytes / 1024).toFixed(1)} KiB`;
  return `${(bytes / (1 << 20)).toFixed(1)} MiB`;
}

// Counts the bytes that pass, for the progress bar.
function counting(onBytes) {
  return new TransformStream({
    transform(chunk, controller) {
      onBytes(chunk.length);
      controller.enqueue(chunk);
    },
  });
}

let outputs = []; // { name, blob } of the files converted this round
let names = new NameSet(); // the names given to this round's outputs
let previewShown = false;

// A file that could not be read: removed or changed since it was chosen.
class UnreadableFileError extends Error {
  constructor() {
    super("the file could not be read; was it moved or changed after it was chosen?");
  }
}

// The name as the user gave it, set apart from the text around it, so
// that a right-to-left mark in it turns nothing else around.
function isolated(name) {
  const bdi = document.createElement("bdi");
  bdi.textContent = name;
  return bdi;
}

// Reads all of a stream with a reader: what every engine that runs the
// module has (Safari cannot iterate a stream with for await).
async function eachChunk(stream, onChunk) {
  const reader = stream.getReader();
  for (;;) {
    const { value, done } = await reader.read();
    if (done) return;
    onChunk(value);
  }
}

// The file's bytes, with a failed read said as such.
function contentOf(file) {
  const reader = file.stream().getReader();
  return new ReadableStream({
    async pull(controller) {
      let result;
      try {
        result = await reader.read();
      } catch {
        throw new UnreadableFileError();
      }
      if (result.done) controller.close();
      else controller.enqueue(result.value);
    },
    cancel: (reason) => reader.cancel(reason),
  });
}

function showPreview(bytes) {
  previewShown = true;
  $("preview").textContent = new TextDecoder().decode(bytes);
  $("preview-box").hidden = false;
}

function addDownload(name, saved, blob) {
  const link = document.createElement("a");
  link.href = URL.createObjectURL(blob);
  link.download = saved;
  link.append(isolated(name));
  const item = document.createElement("li");
  item.append(link, ` (${mib(blob.size)})`);
  $("downloads").append(item);
}

function addFailure(name, error) {
  const item = document.createElement("li");
  item.append(isolated(name), error instanceof InvalidFileError
    ? `: invalid rt file (${error.reason})`
    : `: ${error.message}`);
  $("failures").append(item);
  $("failures-box").hidden = false;
}

async function convertOne(file, onBytes) {
  const parts = [];
  let previewed = 0;
  const preview = previewShown ? null : [];
  // The byte stream where the engine has one: it hands on output as it is
  // read; ConvertStream elsewhere (Safari before 26.4).
  const converter =
    typeof ReadableByteStreamController === "undefined"
      ? new ConvertStream()
      : new ConvertByteStream();
  const converted = contentOf(file).pipeThrough(counting(onBytes)).pipeThrough(converter);
  await eachChunk(converted, (part) => {
    parts.push(part);
    if (preview && previewed < PREVIEW_BYTES) {
      preview.push(part.subarray(0, PREVIEW_BYTES - previewed));
      previewed += preview[preview.length - 1].length;
    }
  });
  if (preview) showPreview(await new Blob(preview).arrayBuffer());
  return new Blob(parts, { type: "text/plain" });
}

async function zipOf(files) {
  const chunks = [];
  const done = new Promise((resolve, reject) => {
    const zip = new Zip((error, chunk, final) => {
      if (error) reject(error);
      else {
        chunks.push(chunk);
        if (final) resolve();
      }
    });
    (async () => {
      for (const { name, blob } of files) {
        // Stored, not compressed: the outputs are ready as they are.
        const entry = new ZipPassThrough(name);
        zip.add(entry);
        await eachChunk(blob.stream(), (value) => entry.push(value));
        entry.push(new Uint8Array(0), true);
      }
      zip.end();
    })().catch(reject);
  });
  await done;
  return new Blob(chunks, { type: "application/zip" });
}

async function convertAll(files) {
  const total = files.reduce((sum, file) => sum + file.size, 0);
  let read = 0;
  const bar = $("progress");
  bar.max = Math.max(total, 1);
  bar.value = 0;
  $("progress-box").hidden = false;
  for (const [index, file] of files.entries()) {
    $("status").replaceChildren(`${index + 1} of ${files.length}: `, isolated(file.name));
    try {
      const blob = await convertOne(file, (n) => {
        read += n;
        bar.value = read;
      });
      const saved = names.give(file.name);
      outputs.push({ name: saved, blob });
      addDownload(file.name, saved, blob);
    } catch (error) {
      addFailure(file.name, error);
    }
  }
  bar.value = bar.max;
  const failed = files.length - outputs.length;
  $("status").textContent =
    `${outputs.length} of ${files.length} converted, ${mib(total)} read` +
    (failed > 0 ? `; ${failed} failed` : "");
  if (outputs.length > 1) {
    const link = $("zip");
    link.href = URL.createObjectURL(await zipOf(outputs));
    link.hidden = false;
  }
}

let busy = Promise.resolve();

function take(fileList) {
  const files = [...fileList];
  if (files.length === 0) return;
  document.body.dataset.state = "busy";
  // Each round ends, whatever it threw, so that the next one runs.
  busy = busy.then(async () => {
    for (const id of ["downloads", "failures"]) $(id).replaceChildren();
    outputs = [];
    names = new NameSet();
    previewShown = false;
    $("zip").hidden = true;
    $("failures-box").hidden = true;
    $("preview-box").hidden = true;
    try {
      await convertAll(files);
    } catch (error) {
      $("status").textContent = `This round stopped: ${error.message}`;
    } finally {
      document.body.dataset.state = "done";
    }
  });
}

async function main() {
  await load();
  $("choose").addEventListener("change", (event) => take(event.target.files));
  document.addEventListener("dragover", (event) => event.preventDefault());
  document.addEventListener("drop", (event) => {
    event.preventDefault();
    take(event.dataTransfer.files);
  });
  document.body.dataset.state = "ready";
}

main().catch((error) => {
  $("status").textContent = `zorbu could not start: ${error.message}`;
  document.body.dataset.state = "broken";
});
