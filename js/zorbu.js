// zorbu for JavaScript: libzorbu compiled to WebAssembly, for Node and
// browsers. The bytes, the messages and the reasons are the C library's.

const ZORBU_DONE = 0;
const ZORBU_OUTPUT_FULL = 1;
const ZORBU_INVALID = 2;
const ZORBU_OUT_OF_MEMORY = 3;

// What a stream takes into the module's memory at a time, and the room it
// gives the output: enough for what a chunk decides, most times, so that
// each chunk is one call and one copy out.
const CHUNK = 1 << 16;
const ROOM = 4 * CHUNK;

// A module of one function returning a v128: an engine that validates it
// has the SIMD instructions that zorbu.wasm uses.
const SIMD_PROBE = new Uint8Array([
  0x00, 0x61, 0x73, 0x6d, 0x01, 0x00, 0x00, 0x00, 0x01, 0x05, 0x01, 0x60,
  0x00, 0x01, 0x7b, 0x03, 0x02, 0x01, 0x00, 0x0a, 0x0a, 0x01, 0x08, 0x00,
  0x41, 0x00, 0xfd, 0x0f, 0xfd, 0x62, 0x0b,
]);

/** An input that is not an rt file. */
export class InvalidFileError extends Error {
  constructor(reason = null, options = undefined) {
    super("invalid rt file", options);
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

let lib = null; // the module's exports, once loaded
let loading = null; // the promise of a load under way

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

/**
 * Loads the module, once. options.kernels "portable" takes the module
 * without SIMD; options.source gives the module (a URL, a Response, its
 * bytes or a WebAssembly.Module) where it does not lie beside this file.
 */
export async function init(options = {}) {
  if (lib) return;
  if (!loading) {
    loading = (async () => {
      const simd =
        options.kernels !== "portable" && WebAssembly.validate(SIMD_PROBE);
      const source =
        options.source ??
        new URL(simd ? "./wasm/zorbu.wasm" : "./wasm/zorbu-portable.wasm",
                import.meta.url);
      const instance = await instantiate(source);
      // A standalone module sets up its C library here.
      instance.exports._initialize?.();
      lib = instance.exports;
      version = cString(lib.zorbu_version_string() >>> 0);
    })();
    loading.catch(() => {
      loading = null;
    });
  }
  await loading;
}

function loaded() {
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

function heap() {
  return viewsNow().bytes;
}

function words() {
  return viewsNow().words;
}

function cString(pointer) {
  if (pointer === 0) return null;
  const bytes = heap();
  let end = pointer;
  while (bytes[end] !== 0) end++;
  return new TextDecoder().decode(bytes.subarray(pointer, end));
}

function allocate(size) {
  const pointer = loaded().malloc(Math.max(size, 1)) >>> 0;
  if (pointer === 0) {
    throw new ZorbuError(cString(lib.zorbu_result_text(ZORBU_OUT_OF_MEMORY)),
                         ZORBU_OUT_OF_MEMORY);
  }
  return pointer;
}

function freeAll(...pointers) {
  for (const pointer of pointers) if (pointer) lib.free(pointer);
}

/** The name of the kernel set in use: "wasm" or "portable". */
export function kernels() {
  const stream = loaded().zorbu_create() >>> 0;
  if (stream === 0) throw new ZorbuError("out of memory", ZORBU_OUT_OF_MEMORY);
  try {
    return cString(lib.zorbu_kernels(stream) >>> 0);
  } finally {
    lib.zorbu_free(stream);
  }
}

/** The bytes the module's memory takes now, for measurements. */
export function memorySize() {
  return loaded().memory.buffer.byteLength;
}

/** The library's version, once init() has loaded it. */
export let version = null;

/** Returns the rewritten copy of a whole rt file. */
export function convert(bytes) {
  if (!(bytes instanceof Uint8Array)) {
    throw new TypeError("zorbu.convert takes a Uint8Array");
  }
  const library = loaded();
  const bound = library.zorbu_bound(bytes.length) >>> 0;
  let src = 0;
  let dst = 0;
  let size = 0;
  try {
    // The larger first: where it cannot be had, the memory has not grown
    // for the other, and memory once grown never shrinks.
    dst = allocate(bound);
    src = allocate(bytes.length);
    size = allocate(4);
    heap().set(bytes, src);
    const result = library.zorbu_convert(src, bytes.length, dst, bound, size);
    if (result === ZORBU_INVALID) {
      throw new InvalidFileError(cString(library.zorbu_reason(src, bytes.length) >>> 0));
    }
    if (result !== ZORBU_DONE) {
      throw new ZorbuError(cString(library.zorbu_result_text(result) >>> 0), result);
    }
    const written = words()[size >>> 2];
    return heap().slice(dst, dst + written);
  } finally {
    freeAll(src, dst, size);
  }
}

// A C stream with its buffers in the module's memory: the input chunk, the
// output room and the two structs that point into them (three 32-bit words
// each, size_t being 32 bits on wasm32).
class ModuleStream {
  constructor() {
    const library = loaded();
    this.stream = library.zorbu_create() >>> 0;
    if (this.stream === 0) {
      throw new ZorbuError("out of memory", ZORBU_OUT_OF_MEMORY);
    }
    try {
      this.input = allocate(CHUNK);
      this.output = allocate(ROOM);
      this.structs = allocate(24);
    } catch (error) {
      this.free();
      throw error;
    }
  }

  // Runs call (a push or a finish) until it needs no more room, handing
  // each piece of output to enqueue; returns its last result.
  drain(call, enqueue) {
    const out = this.structs + 12;
    for (;;) {
      const w = words();
      w[out >>> 2] = this.output;
      w[(out >>> 2) + 1] = ROOM;
      w[(out >>> 2) + 2] = 0;
      const result = call(out);
      const written = words()[(out >>> 2) + 2];
      if (written > 0) enqueue(heap().slice(this.output, this.output + written));
      if (result !== ZORBU_OUTPUT_FULL) return this.check(result);
    }
  }

  check(result) {
    if (result === ZORBU_INVALID) {
      throw new InvalidFileError(cString(lib.zorbu_invalid_reason(this.stream) >>> 0));
    }
    if (result !== ZORBU_DONE) {
      throw new ZorbuError(cString(lib.zorbu_result_text(result) >>> 0), result);
    }
    return result;
  }

  push(chunk, enqueue) {
    const into = this.structs;
    for (let at = 0; at < chunk.length; at += CHUNK) {
      const piece = chunk.subarray(at, at + CHUNK);
      heap().set(piece, this.input);
      const w = words();
      w[into >>> 2] = this.input;
      w[(into >>> 2) + 1] = piece.length;
      w[(into >>> 2) + 2] = 0;
      // A push returns done only once it has taken all of its input.
      this.drain((out) => lib.zorbu_push(this.stream, into, out), enqueue);
    }
  }

  finish(enqueue) {
    this.drain((out) => lib.zorbu_finish(this.stream, out), enqueue);
  }

  free() {
    if (!lib) return;
    freeAll(this.input, this.output, this.structs);
    if (this.stream) lib.zorbu_free(this.stream);
    this.stream = this.input = this.output = this.structs = 0;
  }
}

// A stream dropped before its end gives its memory back when collected.
const unfinished = new FinalizationRegistry((stream) => stream.free());

/**
 * A TransformStream of Uint8Array chunks that rewrites an rt file as it
 * passes, in the same memory whatever its size; an invalid file errors the
 * stream with InvalidFileError.
 */
export class ConvertStream extends TransformStream {
  constructor() {
    const stream = new ModuleStream();
    const end = () => {
      unfinished.unregister(stream);
      stream.free();
    };
    super({
      transform(chunk, controller) {
        if (!(chunk instanceof Uint8Array)) {
          end();
          throw new TypeError("a ConvertStream takes Uint8Array chunks");
        }
        try {
          stream.push(chunk, (piece) => controller.enqueue(piece));
        } catch (error) {
          end();
          throw error;
        }
      },
      flush(controller) {
        try {
          stream.finish((piece) => controller.enqueue(piece));
        } finally {
          end();
        }
      },
    });
    unfinished.register(this, stream, stream);
  }
}
