// The WebAssembly module under the package: loading it, and reaching into
// its memory. Internal: zorbu.js is the package's face.

export const ZORBU_DONE = 0;
export const ZORBU_OUTPUT_FULL = 1;
export const ZORBU_INVALID = 2;
export const ZORBU_OUT_OF_MEMORY = 3;

// A module of one function that copies memory with memory.copy and
// returns a v128: an engine that validates it has the SIMD and the bulk
// memory instructions that zorbu.wasm uses.
export const SIMD_PROBE = new Uint8Array([
  0x00, 0x61, 0x73, 0x6d, 0x01, 0x00, 0x00, 0x00, 0x01, 0x05, 0x01, 0x60,
  0x00, 0x01, 0x7b, 0x03, 0x02, 0x01, 0x00, 0x05, 0x03, 0x01, 0x00, 0x01,
  0x0a, 0x14, 0x01, 0x12, 0x00, 0x41, 0x00, 0x41, 0x00, 0x41, 0x00, 0xfc,
  0x0a, 0x00, 0x00, 0x41, 0x00, 0xfd, 0x0f, 0xfd, 0x62, 0x0b,
]);

// The library's words for an invalid file, which tests/texts_test.py holds
// to lib/common/status.hpp; the module gives them once it is loaded.
const INVALID_TEXT = "invalid rt file";

/** An input that is not an rt file. */
export class InvalidFileError extends Error {
  constructor(reason = null, options = undefined) {
    super(lib ? cString(lib.zorbu_result_text(ZORBU_INVALID) >>> 0) : INVALID_TEXT, options);
    this.name = "InvalidFileError";
    /** Which rule the input breaks, in the library's words. */
    this.reason = reason;
  }
}

/** A failure inside the library, with its C result (ZORBU_OUT_OF_MEMORY...). */
export class ZorbuError extends Error {
  constructor(message, result) {
    super(message);
    this.name = "ZorbuError";
    this.result = result;
  }
}

export let lib = null; // the module's exports, once loaded
let loading = null; // the promise of a load under way
let loadingKind = null; // what that load was asked for: "wasm", "portable" or "given"

// What the package calls in the module: one that lacks any is not zorbu's.
const NEEDED = [
  "memory", "malloc", "free", "zorbu_create", "zorbu_free", "zorbu_push",
  "zorbu_finish", "zorbu_convert", "zorbu_bound", "zorbu_result_text",
  "zorbu_invalid_reason", "zorbu_reason", "zorbu_kernels",
  "zorbu_version_string",
];

// What a standalone module imports: a note that its memory grew, which the
// views here take by being made anew, and the WASI calls reached only on
// the paths that end it, which say so rather than go on.
function moduleImports() {
  const ended = (name) => () => {
    throw new ZorbuError(`the zorbu module ended in ${name}`, ZORBU_OUT_OF_MEMORY);
  };
  const wasi = new Proxy(
    {},
    { get: (_, name) => (typeof name === "string" ? ended(name) : undefined) },
  );
  return { env: { emscripten_notify_memory_growth() {} }, wasi_snapshot_preview1: wasi };
}

async function moduleBytes(source) {
  if (source instanceof Response) return source.arrayBuffer();
  const url = source instanceof URL ? source : new URL(source, import.meta.url);
  if (url.protocol === "file:" && typeof process !== "undefined") {
    const { readFile } = await import("node:fs/promises");
    return readFile(url);
  }
  const response = await fetch(url);
  if (!response.ok) throw new Error(`cannot load ${url}: ${response.status}`);
  return response.arrayBuffer();
}

async function instantiate(source) {
  const imports = moduleImports();
  if (source instanceof WebAssembly.Module) {
    return WebAssembly.instantiate(source, imports);
  }
  const bytes =
    ArrayBuffer.isView(source) || source instanceof ArrayBuffer
      ? source
      : await moduleBytes(source);
  return (await WebAssembly.instantiate(bytes, imports)).instance;
}

// Loads the module from source, once, as kind ("wasm", "portable" or
// "given"); later calls wait for the first, and one that asked for other
// kernels is refused, since every live stream shares the one loaded.
export async function load(source, kind, asked) {
  if ((lib || loading) && asked !== null && asked !== loadingKind) {
    throw new Error(`zorbu: the ${loadingKind} module is loaded already; ` +
                    `init({ kernels: "${asked}" }) must come before any other init()`);
  }
  if (lib) return;
  if (!loading) {
    loadingKind = kind;
    loading = (async () => {
      const instance = await instantiate(source);
      const missing = NEEDED.filter((name) => !(name in instance.exports));
      if (missing.length > 0) {
        throw new Error(`zorbu: not a zorbu module: it has no ${missing.join(", ")}`);
      }
      // A standalone module sets up its C library here.
      instance.exports._initialize?.();
      lib = instance.exports;
    })();
    loading.catch(() => {
      loading = null;
      loadingKind = null;
    });
  }
  await loading;
}

export function loaded() {
  if (!lib) throw new Error("zorbu: call and await init() first");
  return lib;
}

// Views of the module's memory, made anew once it has grown: a view made
// before sees none of the new memory.
let views = { buffer: null, bytes: null, words: null };
function viewsNow() {
  const buffer = lib.memory.buffer;
  if (views.buffer !== buffer) {
    views = { buffer, bytes: new Uint8Array(buffer), words: new Uint32Array(buffer) };
  }
  return views;
}

export function heap() {
  return viewsNow().bytes;
}

export function words() {
  return viewsNow().words;
}

// The typed-array getters themselves, which a subclass cannot override.
const typedArray = Object.getPrototypeOf(Uint8Array.prototype);
const getter = (name) => Object.getOwnPropertyDescriptor(typedArray, name).get;
const bufferOf = getter("buffer");
const offsetOf = getter("byteOffset");
const lengthOf = getter("byteLength");

// Returns a plain Uint8Array over the bytes of a Uint8Array, whatever its
// subclass says of its length; a TypeError for anything else.
export function plainBytes(bytes, who) {
  if (!(bytes instanceof Uint8Array)) throw new TypeError(`${who} takes a Uint8Array`);
  return new Uint8Array(bufferOf.call(bytes), offsetOf.call(bytes), lengthOf.call(bytes));
}

export function cString(pointer) {
  if (pointer === 0) return null;
  const bytes = heap();
  let end = pointer;
  while (bytes[end] !== 0) end++;
  return new TextDecoder().decode(bytes.subarray(pointer, end));
}

// The error for a C result other than done or invalid, in the library's
// words.
export function resultError(result) {
  return new ZorbuError(cString(lib.zorbu_result_text(result) >>> 0), result);
}

export function allocate(size) {
  const pointer = loaded().malloc(Math.max(size, 1)) >>> 0;
  if (pointer === 0) {
    throw resultError(ZORBU_OUT_OF_MEMORY);
  }
  return pointer;
}

export function freeAll(...pointers) {
  for (const pointer of pointers) if (pointer) lib.free(pointer);
}
