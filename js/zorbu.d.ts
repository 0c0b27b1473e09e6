/** An input that is not an rt file; message "invalid rt file". */
export class InvalidFileError extends Error {
  /** Which rule the input breaks: "the file is empty", "no window tag on the first line" or "no body lines". */
  readonly reason: string | null;
}

/** A failure inside the library, such as memory that could not be had. */
export class ZorbuError extends Error {
  /** The C library's result: 3 for ZORBU_OUT_OF_MEMORY. */
  readonly result: number;
}

export interface InitOptions {
  /** The module itself, where it does not lie beside the package's file. */
  source?: URL | string | Response | ArrayBuffer | ArrayBufferView | WebAssembly.Module;
  /** "portable" loads the module without SIMD. */
  kernels?: "portable";
}

/** Loads the module, once; every other function needs it loaded. */
export function init(options?: InitOptions): Promise<void>;

/** Returns the rewritten copy of a whole rt file. */
export function convert(bytes: Uint8Array): Uint8Array;

/** Rewrites an rt file as it passes, in flat memory. */
export class ConvertStream extends TransformStream<Uint8Array, Uint8Array> {
  constructor();
}

/**
 * The same conversion with a readable byte stream on its output side: a
 * BYOB reader gets the output copied into its own buffer. Throws a
 * TypeError where the engine has no readable byte streams.
 */
export class ConvertByteStream implements ReadableWritablePair<Uint8Array, Uint8Array> {
  constructor();
  readonly readable: ReadableStream<Uint8Array>;
  readonly writable: WritableStream<Uint8Array>;
}

/** The kernel set in use: "wasm" or "portable". */
export function kernels(): "wasm" | "portable";

/** The library's version, once init() has loaded it. */
export const version: string | null;

/** The bytes the module's memory takes now, for measurements. */
export function memorySize(): number;
