// zorbu for JavaScript: libzorbu compiled to WebAssembly, for Node and
// browsers. The bytes, the messages and the reasons are the C library's.
import {
  SIMD_PROBE,
  ZORBU_DONE,
  ZORBU_INVALID,
  ZORBU_OUT_OF_MEMORY,
  InvalidFileError,
  allocate,
  cString,
  freeAll,
  heap,
  lib,
  load,
  loaded,
  plainBytes,
  resultError,
  words,
} from "./module.js";

export { InvalidFileError, ZorbuError } from "./module.js";
export { ConvertStream } from "./stream.js";
export { ConvertByteStream } from "./byte_stream.js";

/**
 * Loads the module, once. options.kernels "portable" takes the module
 * without SIMD; options.source gives the module (a URL, a Response, its
 * bytes or a WebAssembly.Module) where it does not lie beside this file.
 * Asking for kernels once another module is loaded, or loading, rejects.
 */
export async function init(options = {}) {
  const simd = options.kernels !== "portable" && WebAssembly.validate(SIMD_PROBE);
  await load(options.source ??
             new URL(simd ? "./wasm/zorbu.wasm" : "./wasm/zorbu-portable.wasm",
                     import.meta.url),
             options.source ? "given" : simd ? "wasm" : "portable",
             options.kernels ?? null);
  version = cString(loaded().zorbu_version_string() >>> 0);
}

/** The name of the kernel set in use: "wasm" or "portable". */
export function kernels() {
  const stream = loaded().zorbu_create() >>> 0;
  if (stream === 0) throw resultError(ZORBU_OUT_OF_MEMORY);
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
export function convert(given) {
  const bytes = plainBytes(given, "zorbu.convert");
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
      throw resultError(result);
    }
    const written = words()[size >>> 2];
    return heap().slice(dst, dst + written);
  } finally {
    freeAll(src, dst, size);
  }
}
