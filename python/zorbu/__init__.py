"""Rewrite rt timed-text files, in process, through libzorbu.

An rt file is a line-oriented tag markup for timed text. Rewriting one
turns colour names in ``color`` attributes into hex codes, makes each
self-closing ``time`` tag open an element closed by ``</time>``, and
escapes ``<`` and ``>`` in timed text as ``{{{`` and ``}}}``: the bytes
the ``zorbu`` program writes.

    >>> import zorbu
    >>> zorbu.convert(b'<window>\\n<time/>a <b>\\n</window>\\n')
    b'<window>\\n<time>a {{{b}}}\\n</time></window>\\n'

Functions:

- ``convert(data)``: a whole input, given as bytes, to bytes;
- ``convert_file(src, dst)``: a file to a file, streamed in flat memory;
- ``Stream()``: input that arrives in pieces, with ``push`` and ``finish``;
- ``kernels()``: the kernel set a new stream gets by default.

An input that is not an rt file raises ``InvalidFile``. The conversions
release the GIL, so threads convert separate inputs in parallel; one
``Stream`` must not be used by two threads at once.

The library is found as ``libzorbu.so.1`` on the system's library path, or
at the path that the environment variable ``ZORBU_LIBRARY`` names, for an
install into a prefix of your own.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import functools
import io
import itertools
import os
import secrets
import threading
from typing import BinaryIO, Optional, Union

__all__ = [
    "InvalidFile",
    "Stream",
    "convert",
    "convert_file",
    "kernels",
    "__version__",
]

_DONE, _OUTPUT_FULL, _INVALID, _OUT_OF_MEMORY, _MISUSE, _UNSUPPORTED = range(6)


def _load() -> ctypes.CDLL:
    path = os.environ.get("ZORBU_LIBRARY") or ctypes.util.find_library("zorbu")
    try:
        return ctypes.CDLL(path or "libzorbu.so.1")
    except OSError as error:
        raise ImportError(
            "cannot load libzorbu (install libzorbu1, or name the library "
            f"file in ZORBU_LIBRARY): {error}") from error


class _In(ctypes.Structure):
    _fields_ = [("src", ctypes.c_void_p), ("size", ctypes.c_size_t),
                ("pos", ctypes.c_size_t)]


class _Out(ctypes.Structure):
    _fields_ = [("dst", ctypes.c_void_p), ("size", ctypes.c_size_t),
                ("pos", ctypes.c_size_t)]


_lib = _load()
_lib.zorbu_version_string.restype = ctypes.c_char_p
_lib.zorbu_version_string.argtypes = []
_lib.zorbu_create.restype = ctypes.c_void_p
_lib.zorbu_create.argtypes = []
_lib.zorbu_set_kernels.restype = ctypes.c_int
_lib.zorbu_set_kernels.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
_lib.zorbu_free.restype = None
_lib.zorbu_free.argtypes = [ctypes.c_void_p]
_lib.zorbu_reset.restype = ctypes.c_int
_lib.zorbu_reset.argtypes = [ctypes.c_void_p]
_lib.zorbu_push.restype = ctypes.c_int
_lib.zorbu_push.argtypes = [ctypes.c_void_p, ctypes.POINTER(_In),
                            ctypes.POINTER(_Out)]
_lib.zorbu_finish.restype = ctypes.c_int
_lib.zorbu_finish.argtypes = [ctypes.c_void_p, ctypes.POINTER(_Out)]
_lib.zorbu_kernels.restype = ctypes.c_char_p
_lib.zorbu_kernels.argtypes = [ctypes.c_void_p]
_lib.zorbu_result_text.restype = ctypes.c_char_p
_lib.zorbu_result_text.argtypes = [ctypes.c_int]
_lib.zorbu_bound.restype = ctypes.c_size_t
_lib.zorbu_bound.argtypes = [ctypes.c_size_t]
_lib.zorbu_convert.restype = ctypes.c_int
_lib.zorbu_convert.argtypes = [ctypes.c_void_p, ctypes.c_size_t,
                               ctypes.c_void_p, ctypes.c_size_t,
                               ctypes.POINTER(ctypes.c_size_t)]

__version__: str = _lib.zorbu_version_string().decode()

# What a stream writes at most for a piece of input, and how much a file is
# read at a time.
_CHUNK = 1 << 16


class InvalidFile(ValueError):
    """The input is not an rt file; str() gives the library's message."""


def _text(result: int) -> str:
    return _lib.zorbu_result_text(result).decode()


def _raise_for(result: int) -> None:
    if result == _INVALID:
        raise InvalidFile(_text(result))
    if result == _OUT_OF_MEMORY:
        raise MemoryError(_text(result))
    if result == _MISUSE:
        raise RuntimeError(_text(result))


def _source(data: Union[bytes, bytearray, memoryview]):
    """Return something ctypes passes as a pointer to data's bytes, and
    their number, copying only a read-only view that is not of bytes."""
    if isinstance(data, bytes):
        return data, len(data)
    if isinstance(data, str) or not isinstance(data, (bytearray, memoryview)):
        raise TypeError(
            f"expected bytes, bytearray or memoryview, not {type(data).__name__}")
    view = memoryview(data)
    if not view.c_contiguous:
        raise TypeError("expected a contiguous buffer")
    size = view.nbytes
    if size == 0:
        return b"", 0
    if view.readonly:
        return view.tobytes(), size
    return (ctypes.c_char * size).from_buffer(view.cast("B")), size


_buffers = threading.local()


def _room(size: int):
    """Return this thread's output buffer, grown to size bytes: filling a
    new one with zeros for each call would cost more than converting."""
    buffer = getattr(_buffers, "buffer", None)
    if buffer is None or len(buffer) < size:
        buffer = ctypes.create_string_buffer(max(size, _CHUNK))
        _buffers.buffer = buffer
    return buffer


def kernels() -> str:
    """Return the name of the kernel set a new stream gets by default."""
    stream = _lib.zorbu_create()
    if not stream:
        raise MemoryError(_text(_OUT_OF_MEMORY))
    try:
        return _lib.zorbu_kernels(stream).decode()
    finally:
        _lib.zorbu_free(stream)


def convert(data: Union[bytes, bytearray, memoryview]) -> bytes:
    """Return the rewritten copy of a whole rt file given as bytes.

    Raises InvalidFile (a ValueError) when data is not an rt file, TypeError
    when it is not a bytes-like object (a str, say), and MemoryError when
    memory is short.
    """
    source, size = _source(data)
    bound = _lib.zorbu_bound(size)
    out = _room(bound)
    written = ctypes.c_size_t(0)
    result = _lib.zorbu_convert(source, size, out, bound, ctypes.byref(written))
    _raise_for(result)
    return ctypes.string_at(out, written.value)


class Stream:
    """A conversion of input that arrives in pieces.

    push() gives back what each piece decides, and finish() the rest; the
    bytes are those of convert() on the whole input, however it is split.
    InvalidFile is raised as soon as the input is known not to be an rt
    file, from push() or from finish(). A Stream is a context manager, and
    close() frees its memory.
    """

    def __init__(self, kernels: Optional[str] = None) -> None:
        """Make a stream on the kernel set named, or the widest one here.

        Raises ValueError when this processor cannot run the set named, and
        MemoryError when memory is short.
        """
        self._stream = _lib.zorbu_create()
        if not self._stream:
            raise MemoryError(_text(_OUT_OF_MEMORY))
        if kernels and _lib.zorbu_set_kernels(self._stream,
                                              kernels.encode()) != _DONE:
            self.close()
            raise ValueError(f"kernel set {kernels!r} does not run here")
        self._out = ctypes.create_string_buffer(_CHUNK)

    @property
    def kernels(self) -> str:
        """The name of the stream's kernel set."""
        return _lib.zorbu_kernels(self._handle()).decode()

    def _handle(self) -> int:
        if not self._stream:
            raise ValueError("the stream is closed")
        return self._stream

    def _run(self, step) -> bytes:
        pieces = []
        while True:
            out = _Out(ctypes.cast(self._out, ctypes.c_void_p), len(self._out), 0)
            result = step(out)
            pieces.append(ctypes.string_at(self._out, out.pos))
            if result != _OUTPUT_FULL:
                _raise_for(result)
                return b"".join(pieces)

    def push(self, data: Union[bytes, bytearray, memoryview]) -> bytes:
        """Take the next piece of input; return the output it decides."""
        chunk, size = _source(data)
        handle = self._handle()
        source = _In(ctypes.cast(chunk, ctypes.c_void_p), size, 0)
        return self._run(lambda out: _lib.zorbu_push(handle, ctypes.byref(source),
                                                     ctypes.byref(out)))

    def finish(self) -> bytes:
        """End the input; return the output its end decides."""
        handle = self._handle()
        return self._run(lambda out: _lib.zorbu_finish(handle, ctypes.byref(out)))

    def reset(self) -> None:
        """Start again on a new input."""
        _lib.zorbu_reset(self._handle())

    def close(self) -> None:
        """Free the stream; closing twice is harmless."""
        if self._stream:
            _lib.zorbu_free(self._stream)
            self._stream = None

    def __enter__(self) -> "Stream":
        return self

    def __exit__(self, *exc_info) -> None:
        self.close()

    def __del__(self) -> None:
        self.close()


PathOrFile = Union[str, "os.PathLike[str]", BinaryIO]

# Each thread keeps one stream for convert_file, reset for every file:
# making one costs more than converting a small file.
_streams = threading.local()


def _thread_stream() -> Stream:
    stream = getattr(_streams, "stream", None)
    if stream is None:
        stream = _streams.stream = Stream()
    else:
        stream.reset()
    return stream


# Partial names that no other process, nor this one, makes again.
_token = secrets.token_hex(6)
_serial = itertools.count()


def _stat(f: PathOrFile):
    try:
        if hasattr(f, "read") or hasattr(f, "write"):
            return os.fstat(f.fileno())
        return os.stat(f)
    except (OSError, ValueError, AttributeError, io.UnsupportedOperation):
        return None


def _write_all(write, data: bytes) -> None:
    """Write all of data through write, which may take less than it is
    given, as os.write and unbuffered files do."""
    view = memoryview(data)
    while view:
        taken = write(view)
        if taken is None:
            raise BlockingIOError("the destination took nothing")
        view = view[taken:]


def _convert_fds(read, write) -> None:
    stream = _thread_stream()
    while True:
        chunk = read(_CHUNK)
        if not chunk:
            break
        write(stream.push(chunk))
    write(stream.finish())


def convert_file(src: PathOrFile, dst: PathOrFile) -> None:
    """Rewrite the rt file src into dst, streamed in flat memory.

    src and dst are paths (str or os.PathLike) or binary file objects. A
    destination path is written under a temporary name in its folder and
    renamed only once the output is complete, so that a failure leaves
    nothing behind. Raises InvalidFile when src is not an rt file, ValueError
    ("error: input file is output file") when dst is src, and OSError when
    a file cannot be read or written.
    """
    a, b = _stat(src), _stat(dst)
    if a is not None and b is not None and (a.st_dev, a.st_ino) == (b.st_dev, b.st_ino):
        raise ValueError("error: input file is output file")
    if hasattr(src, "read"):
        read = src.read
        source_fd = None
    else:
        source_fd = os.open(src, os.O_RDONLY | os.O_CLOEXEC)
        read = functools.partial(os.read, source_fd)
    try:
        if hasattr(dst, "write"):
            _convert_fds(read, functools.partial(_write_all, dst.write))
            return
        path = os.fspath(dst)
        folder = os.path.dirname(path) or "."
        while True:
            partial = os.path.join(
                folder, f".zorbu-partial.{os.getpid()}.{_token}.{next(_serial)}")
            try:
                fd = os.open(partial, os.O_WRONLY | os.O_CREAT | os.O_EXCL
                             | os.O_CLOEXEC, 0o666)
                break
            except FileExistsError:
                continue
        try:
            try:
                _convert_fds(read, functools.partial(_write_all,
                                                     functools.partial(os.write, fd)))
            finally:
                os.close(fd)
            os.replace(partial, path)
        except BaseException:
            os.unlink(partial)
            raise
    finally:
        if source_fd is not None:
            os.close(source_fd)
