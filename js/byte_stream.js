// ConvertByteStream: the conversion of ConvertStream with a readable byte
// stream on its output side, so that a reader that brings its own buffer
// gets the output copied into it and nothing is allocated a chunk.
import { ZORBU_DONE, heap, loaded, plainBytes } from "./module.js";
import { ModuleStream, StreamMemory } from "./stream.js";

const { CHUNK, ROOM } = ModuleStream;

// The conversion between the two sides: input is taken a chunk at a time
// as the readable side asks for output, so a write waits for its output
// to be read, and no write makes its whole output wait in memory.
class ByteConversion {
  constructor(owner) {
    this.memory = new StreamMemory();
    this.memory.owner = owner;
    this.stream = null; // the module's stream, from the first write on
    this.chunk = null; // the bytes of the write under way
    this.at = 0; // how far into chunk the module has been given
    this.write = null; // { resolve, reject } of the write under way
    this.closing = null; // { resolve, reject } of close(), once called
    this.wake = null; // resolves a pull that waits for input
    this.output = null; // the readable side's controller
    this.ended = false;
  }

  started() {
    this.stream = this.memory.get();
    return this.stream;
  }

  // Gives the module's memory back; the stream is over, however it ended.
  end() {
    this.ended = true;
    this.memory.free();
    this.stream = null;
  }

  fail(error) {
    this.end();
    this.write?.reject(error);
    this.closing?.reject(error);
    this.write = this.closing = null;
    try {
      this.output.error(error);
    } catch {
      // Already errored or closed.
    }
  }

  take(chunk) {
    this.chunk = plainBytes(chunk, "a ConvertByteStream");
    this.at = 0;
    this.started();
    return this.waitFor("write");
  }

  close() {
    this.started();
    return this.waitFor("closing");
  }

  waitFor(what) {
    return new Promise((resolve, reject) => {
      this[what] = { resolve, reject };
      const wake = this.wake;
      this.wake = null;
      wake?.();
    });
  }

  // Makes output for one read: into the reader's own buffer where it
  // brought one, filling it as far as the input allows, else into chunks of
  // the read's own, up to ROOM bytes. Waits for input when none is left and
  // nothing is made yet.
  async pull(controller) {
    const request = controller.byobRequest;
    const view = request ? request.view : null;
    const enough = view ? view.byteLength : ROOM;
    let filled = 0;
    for (;;) {
      if (this.ended) return;
      const stream = this.stream;
      if (stream && stream.inputLeft() === 0 && this.chunk && this.at < this.chunk.length) {
        stream.load(this.chunk.subarray(this.at, this.at + CHUNK));
        this.at += CHUNK;
      }
      const pushing = stream !== null && stream.inputLeft() > 0;
      if (!pushing && this.chunk) {
        // The write's bytes are all taken: it is done.
        this.chunk = null;
        this.write.resolve();
        this.write = null;
      }
      if (!pushing && !this.closing) {
        if (filled > 0) {
          request?.respond(filled);
          return;
        }
        await new Promise((resolve) => {
          this.wake = resolve;
        });
        continue;
      }
      const { written, result } = this.stepInto(view, filled, pushing);
      filled += written;
      if (!pushing && result === ZORBU_DONE) {
        this.finished(controller, request, filled);
        return;
      }
      if (filled >= enough) {
        request?.respond(filled);
        return;
      }
    }
  }

  // Runs one push or finish into the room left in the read; returns the C
  // result and how many bytes it handed on.
  stepInto(view, filled, pushing) {
    const room = view ? view.byteLength - filled : ROOM;
    const { result, written } = this.stream.step(room, !pushing);
    if (written > 0) {
      const bytes = heap().subarray(this.stream.output, this.stream.output + written);
      if (view) {
        new Uint8Array(view.buffer, view.byteOffset + filled, written).set(bytes);
      } else {
        this.output.enqueue(bytes.slice());
      }
    }
    return { result, written };
  }

  // Ends the readable side once the last output is handed on.
  finished(controller, request, filled) {
    if (filled > 0) request?.respond(filled);
    this.end();
    controller.close();
    // A reader that brought a buffer and got nothing gets it back, empty.
    if (filled === 0) controller.byobRequest?.respond(0);
    this.closing.resolve();
    this.closing = null;
  }
}

/**
 * A { writable, readable } pair, for pipeThrough, that rewrites an rt file
 * as it passes, like ConvertStream, but whose readable side is a byte
 * stream: a BYOB reader gets the output copied into its own buffer, which
 * the read transfers, and a default reader gets chunks of its own. An
 * invalid file errors both sides with InvalidFileError. Where the engine
 * has no readable byte streams, constructing it throws a TypeError: use
 * ConvertStream there.
 */
export class ConvertByteStream {
  constructor() {
    if (typeof ReadableByteStreamController === "undefined") {
      throw new TypeError("zorbu: this engine has no readable byte streams; use ConvertStream");
    }
    loaded();
    const conversion = new ByteConversion(this);
    const guarded = (step) => async (...args) => {
      try {
        return await step(...args);
      } catch (error) {
        conversion.fail(error);
        throw error;
      }
    };
    this.readable = new ReadableStream({
      type: "bytes",
      start(controller) {
        conversion.output = controller;
      },
      pull: guarded((controller) => conversion.pull(controller)),
      cancel(reason) {
        conversion.fail(reason);
      },
    });
    this.writable = new WritableStream({
      write: guarded((chunk) => conversion.take(chunk)),
      close: guarded(() => conversion.close()),
      abort(reason) {
        conversion.fail(reason);
      },
    });
  }
}
