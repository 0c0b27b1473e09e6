"""Stream: input that arrives in pieces."""

from __future__ import annotations

import ctypes
import threading
from typing import Callable, Optional

from ._convert import _source
from ._library import (_DIRECT_ROOM, _DONE, _OUT_OF_MEMORY, _OUTPUT_FULL, _UNSUPPORTED,
                       _In, _Out, _lib, _raise_for, _text)

class Stream:
    """A conversion of input that arrives in pieces.

    push() gives back what each piece decides, and finish() the rest; the
    bytes are those of convert() on the whole input, however it is split.
    InvalidFileError is raised as soon as the input is known not to be an
    rt file, from push() or from finish(), and again from every later call
    until reset(). A Stream is a context manager, and close() frees its
    memory, waiting for a call in progress on another thread. A stream
    serves one call at a time: a second call made while one is in progress
    raises RuntimeError, and any call after close() raises ValueError.
    """

    def __init__(self, kernels: Optional[str] = None) -> None:
        """Make a stream on the kernel set named, or the widest one here.

        Raises TypeError when kernels is not a str, ValueError when this
        processor cannot run the set named, and MemoryError when memory is
        short.
        """
        self._stream = None
        self._closing = False
        self._lock = threading.Lock()
        if kernels is not None and not isinstance(kernels, str):
            raise TypeError("kernels must be a str naming a kernel set, not "
                            f"{type(kernels).__name__}")
        # The library reads a name up to its first NUL, which would make
        # "portable\0x" name a set.
        if kernels is not None and "\0" in kernels:
            raise ValueError(f"kernel set {kernels!r}: {_text(_UNSUPPORTED)}")
        stream = _lib.zorbu_create()
        if not stream:
            raise MemoryError(_text(_OUT_OF_MEMORY))
        if kernels is not None:
            result = _lib.zorbu_set_kernels(stream, kernels.encode())
            if result != _DONE:
                _lib.zorbu_free(stream)
                raise ValueError(f"kernel set {kernels!r}: {_text(result)}")
        self._stream = stream
        self._out = ctypes.create_string_buffer(_DIRECT_ROOM)

    def _call(self, step: Callable[[int], object]):
        """Run step on the stream's handle, one call at a time."""
        if not self._lock.acquire(blocking=False):
            if self._closing:
                raise ValueError("the stream is closed")
            raise RuntimeError("the Stream is in use by another call; a "
                               "stream serves one call at a time")
        try:
            if not self._stream:
                raise ValueError("the stream is closed")
            return step(self._stream)
        finally:
            self._lock.release()

    @property
    def kernels(self) -> str:
        """The name of the stream's kernel set."""
        return self._call(lambda stream: _lib.zorbu_kernels(stream).decode())

    def _drain(self, stream, call: Callable[[ctypes.Structure], int]) -> bytes:
        pieces = []
        while True:
            out = _Out(ctypes.cast(self._out, ctypes.c_void_p), len(self._out), 0)
            result = call(out)
            pieces.append(ctypes.string_at(self._out, out.pos))
            if result != _OUTPUT_FULL:
                _raise_for(result, lambda: _lib.zorbu_invalid_reason(stream))
                return b"".join(pieces)

    def push(self, data) -> bytes:
        """Take the next piece of input; return the output it decides."""
        chunk, size = _source(data)
        source = _In(ctypes.cast(chunk, ctypes.c_void_p), size, 0)

        def step(stream):
            return self._drain(stream, lambda out: _lib.zorbu_push(
                stream, ctypes.byref(source), ctypes.byref(out)))
        return self._call(step)

    def finish(self) -> bytes:
        """End the input; return the output its end decides."""
        return self._call(lambda stream: self._drain(
            stream, lambda out: _lib.zorbu_finish(stream, ctypes.byref(out))))

    def reset(self) -> None:
        """Start again on a new input."""
        self._call(_lib.zorbu_reset)

    def close(self) -> None:
        """Free the stream once no call is in progress; closing twice is
        harmless."""
        self._closing = True
        with self._lock:
            if self._stream:
                _lib.zorbu_free(self._stream)
                self._stream = None

    @property
    def closed(self) -> bool:
        """True once the stream is closed."""
        return not self._stream

    def __enter__(self) -> "Stream":
        return self

    def __exit__(self, *exc_info) -> None:
        self.close()

    def __del__(self) -> None:
        # __init__ may have failed before the lock was made.
        if getattr(self, "_lock", None) is not None:
            self.close()
