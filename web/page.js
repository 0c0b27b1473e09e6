// The page's script: files chosen or dropped are converted here, in the
// browser, streamed through the WebAssembly module, and offered back as
// downloads; nothing leaves the machine.
import { Zip, ZipPassThrough } from "fflate";

import { ConvertByteStream, ConvertStream, InvalidFileError, convert, init } from "../js/zorbu.js";
import { NameSet, TreeNames } from "./names.js";
import { canWriteFolders, writeInto } from "./write_folder.js";

// The build puts both modules here, base64, so that the page needs nothing
// beside it, even opened from disk.
/* global ZORBU_MODULES */

// The preview shows the start of the first output, no more: tens of MiB
// of text would freeze the page.
const PREVIEW_BYTES = 4096;

// A file up to this size is read in one piece and converted in one call:
// a stream costs more to set up than such a file takes to convert, and a
// folder is mostly small files.
const WHOLE_BYTES = 1 << 20;

// Links to single outputs are made for the first of a round only: each
// costs the browser a blob URL, and past these the zip or a folder is
// what anyone takes.
const DOWNLOAD_LINKS = 100;

// Progress is shown at most this often: each change of the page makes the
// browser walk all of it again, at a cost that grows with the failures
// listed, and a change for every small file would cost more than its
// conversion.
const PROGRESS_SHOWN_EVERY_MS = 100;

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

// Failures wait here and join the list shown at most once a second: the
// browser lays the whole list out again each time it grows, which for
// thousands of bad files would cost more than converting them.
const FAILURES_SHOWN_EVERY_MS = 1000;
let failuresWaiting = document.createDocumentFragment();
let failuresShownAt = 0;

function showFailures() {
  if (!failuresWaiting.hasChildNodes()) return;
  $("failures").append(failuresWaiting);
  $("failures-box").hidden = false;
  failuresShownAt = performance.now();
}

function addFailure(name, error) {
  const item = document.createElement("li");
  item.append(isolated(name), error instanceof InvalidFileError
    ? `: invalid rt file (${error.reason})`
    : `: ${error.message}`);
  failuresWaiting.append(item);
  if (performance.now() - failuresShownAt >= FAILURES_SHOWN_EVERY_MS) showFailures();
}

// Starts reading a file small enough to be held whole, so that the
// browser reads it while the page converts the file before; null for a
// larger file, which is streamed when its turn comes.
function readAhead(file) {
  if (file.size > WHOLE_BYTES) return null;
  const read = file.arrayBuffer();
  // Its failure is taken when its turn comes, not reported as unhandled.
  read.catch(() => {});
  return read;
}

// The output of a file read whole.
async function convertWhole(read, onBytes) {
  let bytes;
  try {
    bytes = new Uint8Array(await read);
  } catch {
    throw new UnreadableFileError();
  }
  onBytes(bytes.length);
  const output = convert(bytes);
  if (!previewShown) showPreview(output.subarray(0, PREVIEW_BYTES));
  return new Blob([output], { type: "text/plain" });
}

async function convertOne(file, read, onBytes) {
  if (read) return convertWhole(read, onBytes);
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

// The zip goes into blobs this large as it is made, so that no more of it
// than this is in the page's memory at once, however large the round.
const ZIP_PART_BYTES = 4 << 20;

async function zipOf(files) {
  const parts = [];
  let waiting = [];
  let waitingBytes = 0;
  const done = new Promise((resolve, reject) => {
    const zip = new Zip((error, chunk, final) => {
      if (error) {
        reject(error);
        return;
      }
      waiting.push(chunk);
      waitingBytes += chunk.length;
      if (waitingBytes >= ZIP_PART_BYTES || final) {
        parts.push(new Blob(waiting));
        waiting = [];
        waitingBytes = 0;
      }
      if (final) resolve();
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
  return new Blob(parts, { type: "application/zip" });
}

// Returns the files under a dropped folder's entry, each with its path
// from the folder dropped on; browsers hand over no links to follow.
async function filesUnder(entry, path) {
  if (entry.isFile) {
    return [{ file: await new Promise((resolve, reject) => entry.file(resolve, reject)), path }];
  }
  if (!entry.isDirectory) return [];
  const reader = entry.createReader();
  const found = [];
  for (;;) {
    const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
    if (batch.length === 0) return found;
    for (const child of batch) found.push(...(await filesUnder(child, `${path}/${child.name}`)));
  }
}

const RT_NAME = /\.rt$/i;

async function convertAll(chosen, tree) {
  // From a folder, its rt files (in any case), under their paths in it.
  const entries = tree ? chosen.filter((c) => RT_NAME.test(c.path)) : chosen;
  const others = chosen.length - entries.length;
  if (tree) names = new TreeNames();
  const files = entries.map((c) => c.file);
  const total = files.reduce((sum, file) => sum + file.size, 0);
  let bytesRead = 0;
  const bar = $("progress");
  bar.max = Math.max(total, 1);
  bar.value = 0;
  $("progress-box").hidden = false;
  let path = "";
  let index;
  let progressShownAt = -Infinity;
  const showProgress = () => {
    if (performance.now() - progressShownAt < PROGRESS_SHOWN_EVERY_MS) return;
    progressShownAt = performance.now();
    bar.value = bytesRead;
    $("status").replaceChildren(
      `${index + 1} of ${files.length} files, ${mib(bytesRead)} of ${mib(total)}: `, isolated(path));
  };
  let ahead = files.length > 0 ? readAhead(files[0]) : null;
  for (index = 0; index < files.length; index++) {
    path = entries[index].path;
    const read = ahead;
    ahead = index + 1 < files.length ? readAhead(files[index + 1]) : null;
    showProgress();
    try {
      const blob = await convertOne(files[index], read, (n) => {
        bytesRead += n;
        showProgress();
      });
      const saved = names.give(path);
      outputs.push({ name: saved, blob });
      if (outputs.length <= DOWNLOAD_LINKS) addDownload(path, saved.split("/").pop(), blob);
    } catch (error) {
      addFailure(path, error);
    }
  }
  showFailures();
  bar.value = bar.max;
  const failed = files.length - outputs.length;
  $("status").textContent =
    `${outputs.length} of ${files.length} converted, ${mib(total)} read` +
    (failed > 0 ? `; ${failed} of ${files.length} file${files.length === 1 ? "" : "s"} failed` : "") +
    (others > 0 ? `; ${others} other file${others === 1 ? "" : "s"} passed over` : "");
  if (outputs.length > DOWNLOAD_LINKS) {
    const more = document.createElement("li");
    more.textContent = `and ${outputs.length - DOWNLOAD_LINKS} more, in the zip`;
    $("downloads").append(more);
  }
  if (outputs.length > 1) {
    const link = $("zip");
    link.href = URL.createObjectURL(await zipOf(outputs));
    link.hidden = false;
  }
  if (outputs.length > 0) {
    $(canWriteFolders() ? "write-box" : "write-missing").hidden = false;
  }
}

// Writes this round's outputs into a folder the user picks.
async function writeRound() {
  const folder = await globalThis.showDirectoryPicker({ mode: "readwrite" });
  const failed = await writeInto(folder, outputs, $("replace").checked);
  for (const { name, error } of failed) addFailure(name, error);
  showFailures();
  $("status").append(
    `; ${outputs.length - failed.length} of ${outputs.length} files written into `,
    isolated(folder.name),
    failed.length > 0 ? `; ${failed.length} failed` : "");
  document.body.dataset.written = "yes";
}

let busy = Promise.resolve();

// Takes a round of { file, path }, or a promise of one (a dropped tree is
// read as the round starts); a tree is a folder's, whose paths are kept.
function take(chosen, tree = false) {
  document.body.dataset.state = "busy";
  // Each round ends, whatever it threw, so that the next one runs.
  busy = busy.then(async () => {
    for (const id of ["downloads", "failures"]) $(id).replaceChildren();
    failuresWaiting = document.createDocumentFragment();
    failuresShownAt = 0;
    outputs = [];
    names = new NameSet();
    previewShown = false;
    $("zip").hidden = true;
    $("write-box").hidden = true;
    $("write-missing").hidden = true;
    $("failures-box").hidden = true;
    $("preview-box").hidden = true;
    try {
      const round = await chosen;
      if (round.length > 0) await convertAll(round, tree);
    } catch (error) {
      $("status").textContent = `This round stopped: ${error.message}`;
    } finally {
      showFailures();
      document.body.dataset.state = "done";
    }
  });
}

async function main() {
  await load();
  const picked = (files) => [...files].map((file) => ({ file, path: file.name }));
  $("choose").addEventListener("change", (event) => take(picked(event.target.files)));
  $("choose-folder").addEventListener("change", (event) =>
    take([...event.target.files].map((file) => ({ file, path: file.webkitRelativePath || file.name })),
         true));
  $("write-folder").addEventListener("click", () => {
    writeRound().catch((error) => {
      $("status").textContent = `Not written: ${error.message}`;
    });
  });
  document.addEventListener("dragover", (event) => event.preventDefault());
  document.addEventListener("drop", (event) => {
    event.preventDefault();
    // Entries are taken now: the drop's items are gone once it returns.
    const items = [...(event.dataTransfer.items ?? [])];
    const roots = items.map((item) => item.webkitGetAsEntry?.() ?? null);
    if (!roots.some((entry) => entry?.isDirectory)) {
      take(picked(event.dataTransfer.files));
      return;
    }
    take(Promise.all(roots.map((entry) => (entry ? filesUnder(entry, entry.name) : []))).then(
      (found) => found.flat()), true);
  });
  document.body.dataset.state = "ready";
}

main().catch((error) => {
  $("status").textContent = `zorbu could not start: ${error.message}`;
  document.body.dataset.state = "broken";
});
