// ConvertStream: a file of any size rewritten as it passes, in buffers of
// the module's memory that it reuses.
import {
  ZORBU_DONE,
  ZORBU_INVALID,
  ZORBU_OUTPUT_FULL,
  ZORBU_OUT_OF_MEMORY,
  InvalidFileError,
  allocate,
  cString,
  freeAll,
  heap,
  lib,
  loaded,
  plainBytes,
  resultError,
  words,
} from "./module.js";

// What a stream takes into the module's memory at a time, which the library
// reads where it stands, and the room it gives the output: zorbu.h's
// ZORBU_DIRECT_ROOM, which the library writes into straight.
const CHUNK = 1 << 20;
const ROOM = 512 * 1024;

// A C stream with its buffers in the module's memory: the input chunk, the
// output room and the two structs that point into them (three 32-bit words
// each, size_t being 32 bits on wasm32). Also the engine of
// ConvertByteStream, which calls it a step at a time.
export class ModuleStream {
  static CHUNK = CHUNK;
  static ROOM = ROOM;

  constructor() {
    const library = loaded();
    this.stream = library.zorbu_create() >>> 0;
    if (this.stream === 0) {
      throw resultError(ZORBU_OUT_OF_MEMORY);
    }
    try {
      this.input = allocate(CHUNK);
      this.output = allocate(ROOM);
      this.structs = allocate(24);
      // No input loaded, no output room, until a step says otherwise.
      heap().fill(0, this.structs, this.structs + 24);
    } catch (error) {
      this.free();
      throw error;
    }
  }

  // Steps (pushes, or with ending finishes) until no more room is needed,
  // handing each piece of output to enqueue.
  drain(ending, enqueue) {
    for (;;) {
      const { result, written } = this.step(ROOM, ending);
      if (written > 0) enqueue(heap().slice(this.output, this.output + written));
      if (result !== ZORBU_OUTPUT_FULL) return;
    }
  }

  check(result) {
    if (result === ZORBU_INVALID) {
      throw new InvalidFileError(cString(lib.zorbu_invalid_reason(this.stream) >>> 0));
    }
    if (result !== ZORBU_DONE) {
      throw resultError(result);
    }
    return result;
  }

  // Takes up to CHUNK bytes as the input of the next steps.
  load(bytes) {
    heap().set(bytes, this.input);
    const w = words();
    w[this.structs >>> 2] = this.input;
    w[(this.structs >>> 2) + 1] = bytes.length;
    w[(this.structs >>> 2) + 2] = 0;
  }

  // Returns how many bytes of the loaded input no push has taken.
  inputLeft() {
    const w = words();
    return w[(this.structs >>> 2) + 1] - w[(this.structs >>> 2) + 2];
  }

  // One push of the loaded input (or, with ending, one finish) into
  // `room` bytes of output at this.output; returns the C result, checked,
  // and how many bytes it wrote there.
  step(room, ending) {
    const out = this.structs + 12;
    const w = words();
    w[out >>> 2] = this.output;
    w[(out >>> 2) + 1] = Math.min(room, ROOM);
    w[(out >>> 2) + 2] = 0;
    const result = ending
      ? lib.zorbu_finish(this.stream, out)
      : lib.zorbu_push(this.stream, this.structs, out);
    const written = words()[(out >>> 2) + 2];
    return { result: result === ZORBU_OUTPUT_FULL ? result : this.check(result), written };
  }

  push(chunk, enqueue) {
    for (let at = 0; at < chunk.length; at += CHUNK) {
      this.load(chunk.subarray(at, at + CHUNK));
      // A push returns done only once it has taken all of its input.
      this.drain(false, enqueue);
    }
  }

  finish(enqueue) {
    this.drain(true, enqueue);
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

// The ModuleStream of a JavaScript stream, owner: made at its first chunk,
// and freed as soon as the stream ends, however it ends.
export class StreamMemory {
  constructor() {
    this.owner = null; // the stream, once constructed
    this.stream = null;
  }

  // Returns the ModuleStream, made now if there is none yet.
  get() {
    if (!this.stream) {
      this.stream = new ModuleStream();
      unfinished.register(this.owner, this.stream, this.stream);
    }
    return this.stream;
  }

  free() {
    if (!this.stream) return;
    unfinished.unregister(this.stream);
    this.stream.free();
    this.stream = null;
  }
}

/**
 * A TransformStream of Uint8Array chunks that rewrites an rt file as it
 * passes, in the same memory whatever its size; an invalid file errors the
 * stream with InvalidFileError. Its memory in the module is taken at the
 * first chunk and given back however the stream ends: finished, errored,
 * aborted or cancelled.
 */
export class ConvertStream extends TransformStream {
  constructor() {
    loaded();
    const memory = new StreamMemory();
    const started = () => memory.get();
    const end = () => memory.free();
    super({
      transform(chunk, controller) {
        try {
          const bytes = plainBytes(chunk, "a ConvertStream");
          started().push(bytes, (piece) => controller.enqueue(piece));
        } catch (error) {
          end();
          throw error;
        }
      },
      flush(controller) {
        try {
          started().finish((piece) => controller.enqueue(piece));
        } finally {
          end();
        }
      },
      // Engines without this hook leave an aborted or cancelled stream to
      // the finalizer.
      cancel: end,
    });
    memory.owner = this;
  }
}
