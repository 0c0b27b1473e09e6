"""open(): a file object that reads the rewritten bytes, streamed."""

from __future__ import annotations

import io

from ._library import _CHUNK
from ._sources import PathOrFile, _fileno, _is_path, _naming_source, _reader
from ._stream import Stream

class _ConvertingReader(io.RawIOBase):
    """The raw reader under open(): input read in pieces, converted through
    a stream of its own, output handed out as asked for."""

    def __init__(self, file) -> None:
        super().__init__()
        self._stream = None
        self._owned = _is_path(file)
        if self._owned:
            self._file = io.open(file, "rb", buffering=0)
        elif hasattr(file, "read"):
            self._file = file
        else:
            raise TypeError("expected a path or a binary file object, not "
                            f"{type(file).__name__}")
        try:
            self._stream = Stream()
        except BaseException:
            if self._owned:
                self._file.close()
            raise
        self._next_piece = _reader(self._file.read, _fileno(self._file))
        self._name = file
        self._pending = memoryview(b"")
        self._ended = False

    def readable(self) -> bool:
        return True

    def readinto(self, buffer) -> int:
        while not self._pending:
            if self._ended:
                return 0
            piece = self._next_piece()
            with _naming_source(self._name):
                if piece:
                    self._pending = memoryview(self._stream.push(piece))
                else:
                    self._ended = True
                    self._pending = memoryview(self._stream.finish())
        target = memoryview(buffer).cast("B")
        n = min(len(target), len(self._pending))
        target[:n] = self._pending[:n]
        self._pending = self._pending[n:]
        return n

    def close(self) -> None:
        if self.closed:
            return
        try:
            if self._stream is not None:
                self._stream.close()
            if self._owned and self._stream is not None:
                self._file.close()
        finally:
            super().close()


def open(file: PathOrFile, mode: str = "rb") -> io.BufferedReader:
    """Open an rt file for reading its rewritten copy, streamed.

    file is a path (str, bytes or os.PathLike) or a binary file object open
    for reading. Returns a buffered binary file object whose read(),
    readinto(), readline() and iteration give the bytes that convert()
    gives for the whole file, while holding no more than a piece of it in
    memory, as gzip.open gives a compressed file's bytes. Closing it (or
    leaving a with block) closes the file if open() opened it, and leaves a
    file object that was given open. mode must be "rb" (or "r").

    A read raises InvalidFileError (a ValueError) once the input is known
    not to be an rt file, and OSError when the file cannot be read.
    """
    if mode not in ("r", "rb"):
        raise ValueError(f"invalid mode {mode!r}: zorbu.open only reads ('rb')")
    return io.BufferedReader(_ConvertingReader(file), buffer_size=_CHUNK)
