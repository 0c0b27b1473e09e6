#!/usr/bin/env node
// zorbu FILE, in Node: the native program's bytes, messages and statuses
// for one file or standard input, but for a closed standard output, which
// Node cannot see; --into needs the native program.
import { closeSync, fstatSync, openSync, readSync, writeSync } from "node:fs";

import { ConvertStream, InvalidFileError, init, version } from "../zorbu.js";

const HELP = `usage: zorbu filename
Checks that filename is an rt file and writes a rewritten copy to
standard output. Only the first argument is read: 'zorbu *.rt' converts
the first file alone. A filename of - reads standard input; a file
named -, --help or --version is ./-, ./--help and so on.

  --help              print this help and exit
  --version           print the version and exit

This is zorbu for JavaScript. Many files at once, with --into DIR FILE...,
take the native zorbu program. A closed standard output cannot be seen
from Node, which opens /dev/null in its place: zorbu FILE >&- writes
nothing and exits 0, where the native program says it cannot write.
`;

const FAILED = 255;

// The program's messages, in its words: tests/texts_test.py holds each to
// its owner, programs/messages.hpp or the library.
const MESSAGE = {
  kUsage: "usage: zorbu filename",
  kInputIsOutput: "error: input file is output file",
  kUnreadable: "error: cannot read input",
  kUnwritable: "error: cannot write output",
  kInvalid: "error: invalid rt file",
};

// Ends the process by SIGPIPE, as the native program ends when its reader
// has gone: Node ignores the signal until a listener has come and gone.
function dieOfBrokenPipe() {
  const listener = () => {};
  process.on("SIGPIPE", listener);
  process.removeAllListeners("SIGPIPE");
  process.kill(process.pid, "SIGPIPE");
}

// Writes all of bytes to a descriptor, waiting where a pipe is full;
// returns false when a write fails.
function writeAll(fd, bytes) {
  let at = 0;
  while (at < bytes.length) {
    try {
      at += writeSync(fd, bytes, at, bytes.length - at);
    } catch (error) {
      if (error.code === "EPIPE") dieOfBrokenPipe();
      if (error.code !== "EAGAIN") return false;
      Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, 1);
    }
  }
  return true;
}

function fail(message) {
  writeAll(2, new TextEncoder().encode(`${message}\n`));
  return FAILED;
}

// Returns true when standard output is the regular file that fd reads:
// the rewrite would then read its own output and never end.
function outputIsInput(fd) {
  try {
    const input = fstatSync(fd);
    const output = fstatSync(1);
    return input.isFile() && output.isFile() && input.dev === output.dev &&
           input.ino === output.ino;
  } catch {
    return false;
  }
}

// Reads fd a piece at a time; null at the end, and a thrown error for a
// read that failed. A read that fails before any byte, as on a folder,
// fails before the first line is whole, which makes the file invalid, as
// the native program has it.
function* pieces(fd) {
  let any = false;
  const buffer = new Uint8Array(1 << 16);
  for (;;) {
    let n;
    try {
      n = readSync(fd, buffer, 0, buffer.length, null);
    } catch (error) {
      if (error.code === "EAGAIN") {
        Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, 1);
        continue;
      }
      throw Object.assign(new Error(MESSAGE.kUnreadable), { unreadable: any });
    }
    if (n === 0) return;
    any = true;
    yield buffer.slice(0, n);
  }
}

async function main(args) {
  if (args.length < 1) return fail(MESSAGE.kUsage);
  const name = args[0];
  if (name === "--help") return writeAll(1, new TextEncoder().encode(HELP)) ? 0 : fail(MESSAGE.kUnwritable);
  await init();
  if (name === "--version") {
    return writeAll(1, new TextEncoder().encode(`zorbu ${version}\n`)) ? 0 : fail(MESSAGE.kUnwritable);
  }
  if (name === "--into") {
    return fail("error: --into needs the native zorbu program");
  }
  let fd;
  try {
    fd = name === "-" ? 0 : openSync(name, "r");
  } catch {
    return fail(MESSAGE.kUsage);
  }
  if (outputIsInput(fd)) return fail(MESSAGE.kInputIsOutput);
  // Output is decided as input arrives, and written at once, but only once
  // the file is known to be an rt file: the stream holds it until then.
  const convert = new ConvertStream();
  const writer = convert.writable.getWriter();
  const reader = convert.readable.getReader();
  let failure = null;
  const written = (async () => {
    for (;;) {
      const { value, done } = await reader.read();
      if (done) return;
      if (!writeAll(1, value)) {
        failure = MESSAGE.kUnwritable;
        await reader.cancel();
        return;
      }
    }
  })();
  try {
    for (const piece of pieces(fd)) {
      await writer.write(piece);
      if (failure) break;
    }
    if (!failure) await writer.close();
  } catch (error) {
    if (error instanceof InvalidFileError || error.unreadable === false) {
      failure = MESSAGE.kInvalid;
    } else if (error.unreadable) {
      failure = MESSAGE.kUnreadable;
    } else {
      throw error;
    }
    // Nothing is made up after a failed read: the end is never written.
    await writer.abort(error).catch(() => {});
  }
  await written.catch(() => {});
  if (name !== "-") closeSync(fd);
  return failure ? fail(failure) : 0;
}

process.exitCode = await main(process.argv.slice(2));
