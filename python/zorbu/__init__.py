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

- ``convert(data)``: a whole input, any bytes-like object, to bytes;
- ``convert_file(src, dst)``: a file to a file, streamed in flat memory;
- ``open(file)``: a file object whose ``read()`` gives the rewritten
  bytes, streamed, as ``gzip.open`` gives the uncompressed ones;
- ``Stream()``: input that arrives in pieces, with ``push`` and ``finish``;
- ``kernels()``: the kernel set a new stream gets by default.

An input that is not an rt file raises ``InvalidFileError``, a
``ValueError``. The conversions release the GIL, so threads convert
separate inputs in parallel; a ``Stream`` serves one call at a time, and
raises ``RuntimeError`` for a second call made while one is in progress.

The library is the package's own copy when it was installed with pip;
otherwise the file that the environment variable ``ZORBU_LIBRARY`` names,
or ``libzorbu.so.1`` on the system's library path (Debian's libzorbu1).
"""

from __future__ import annotations

import contextlib
import ctypes
import ctypes.util
import errno
import functools
import io
import itertools
import mmap
import os
import secrets
import select
import stat
import threading
from typing import BinaryIO, Callable, Optional, Union

__all__ = [
    "InvalidFileError",
    "InvalidFile",
    "Stream",
    "convert",
    "convert_file",
    "open",
    "kernels",
    "__version__",
]

_DONE, _OUTPUT_FULL, _INVALID, _OUT_OF_MEMORY, _MISUSE, _UNSUPPORTED = range(6)
_LIBRARY = "libzorbu.so.1"


def _load() -> ctypes.CDLL:
    own = os.path.join(os.path.dirname(os.path.abspath(__file__)), _LIBRARY)
    places = [own] if os.path.exists(own) else []
    if os.environ.get("ZORBU_LIBRARY"):
        places.append(os.environ["ZORBU_LIBRARY"])
    places.append(ctypes.util.find_library("zorbu") or _LIBRARY)
    errors = []
    for place in places:
        try:
            return ctypes.CDLL(place)
        except OSError as error:
            errors.append(str(error))
    raise ImportError(
        "cannot load libzorbu (install the package with pip, install "
        "libzorbu1, or name the library file in ZORBU_LIBRARY): "
        + "; ".join(errors))


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
_lib.zorbu_invalid_reason.restype = ctypes.c_char_p
_lib.zorbu_invalid_reason.argtypes = [ctypes.c_void_p]
_lib.zorbu_reason.restype = ctypes.c_char_p
_lib.zorbu_reason.argtypes = [ctypes.c_void_p, ctypes.c_size_t]
_lib.zorbu_convert.restype = ctypes.c_int
_lib.zorbu_convert.argtypes = [ctypes.c_void_p, ctypes.c_size_t,
                               ctypes.c_void_p, ctypes.c_size_t,
                               ctypes.POINTER(ctypes.c_size_t)]

__version__: str = _lib.zorbu_version_string().decode()

# How much of a file is read at a time, and the room a stream writes into.
_CHUNK = 1 << 16
# The output room each thread keeps between calls of convert(); larger
# outputs get room of their own, given back when the call returns.
_KEPT_ROOM = 1 << 20


class InvalidFileError(ValueError):
    """The input is not an rt file.

    str() gives the library's phrase, "invalid rt file"; reason says which
    rule the input breaks ("the file is empty", "no window tag on the first
    line" or "no body lines"), and filename names the source where one is
    known, as OSError's does, else None.
    """

    def __init__(self, reason: Optional[str] = None, filename=None) -> None:
        super().__init__(_text(_INVALID))
        self.reason = reason
        self.filename = filename

    def __reduce__(self):
        # Rebuilt from what it holds, not from str(), so that it crosses
        # processes (Dask's, multiprocessing's) whole.
        return type(self), (self.reason, self.filename)


# The name of 0.5, kept for 1.x.
InvalidFile = InvalidFileError


def _text(result: int) -> str:
    return _lib.zorbu_result_text(result).decode()


def _decoded(reason: Optional[bytes]) -> Optional[str]:
    return reason.decode() if reason is not None else None


def _raise_for(result: int, reason: Callable[[], Optional[bytes]]) -> None:
    """Raise what result stands for; reason gives the library's reason for
    an invalid input."""
    if result == _INVALID:
        raise InvalidFileError(_decoded(reason()))
    if result == _OUT_OF_MEMORY:
        raise MemoryError(_text(result))
    if result in (_MISUSE, _UNSUPPORTED):
        raise ValueError(_text(result))


def _source(data) -> tuple:
    """Return something ctypes passes as a pointer to data's bytes, and
    their number, copying only what ctypes cannot point into: a read-only
    buffer that is not bytes, or one that is not contiguous."""
    if isinstance(data, bytes):
        return data, len(data)
    if isinstance(data, str):
        raise TypeError("expected a bytes-like object, not str")
    try:
        view = memoryview(data)
    except TypeError:
        raise TypeError("expected a bytes-like object, not "
                        f"{type(data).__name__}") from None
    size = view.nbytes
    if size == 0:
        return b"", 0
    if view.readonly or not view.c_contiguous:
        return view.tobytes(), size
    return (ctypes.c_char * size).from_buffer(view.cast("B")), size


_rooms = threading.local()


def _kept_room():
    """Return this thread's output room: filling a new one with zeros for
    each call would cost more than converting a small file."""
    room = getattr(_rooms, "room", None)
    if room is None:
        room = _rooms.room = ctypes.create_string_buffer(_KEPT_ROOM)
    return room


def convert(data) -> bytes:
    """Return the rewritten copy of a whole rt file given as bytes.

    data is any object with the buffer protocol: bytes, bytearray,
    memoryview, array.array, mmap.mmap and the like. Raises
    InvalidFileError (a ValueError) when data is not an rt file, TypeError
    when it has no bytes to give (a str, say), and MemoryError when memory
    is short.
    """
    source, size = _source(data)
    bound = _lib.zorbu_bound(size)
    written = ctypes.c_size_t(0)
    if bound <= _KEPT_ROOM:
        room = _kept_room()
        result = _lib.zorbu_convert(source, size, room, bound,
                                    ctypes.byref(written))
        _raise_for(result, lambda: _lib.zorbu_reason(source, size))
        return ctypes.string_at(room, written.value)
    # Anonymous pages cost nothing until written, and go back to the system
    # when closed: only the output's own pages are ever touched.
    pages = mmap.mmap(-1, bound)
    try:
        room = (ctypes.c_char * bound).from_buffer(pages)
        try:
            result = _lib.zorbu_convert(source, size, room, bound,
                                        ctypes.byref(written))
            _raise_for(result, lambda: _lib.zorbu_reason(source, size))
            return ctypes.string_at(room, written.value)
        finally:
            del room
    finally:
        pages.close()


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
        self._out = ctypes.create_string_buffer(_CHUNK)

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


def kernels() -> str:
    """Return the name of the kernel set a new stream gets by default."""
    with Stream() as stream:
        return stream.kernels


PathOrFile = Union[str, bytes, "os.PathLike[str]", BinaryIO]


def _is_path(f) -> bool:
    return isinstance(f, (str, bytes, os.PathLike))


def _fileno(f) -> Optional[int]:
    try:
        return f.fileno()
    except (AttributeError, OSError, ValueError, io.UnsupportedOperation):
        return None


def _reader(read: Callable[[int], Optional[bytes]],
            fileno: Optional[int]) -> Callable[[], bytes]:
    """Return a function that reads the next piece of input through read,
    b"" at the end. A non-blocking source with nothing to give now returns
    None: that is waited out where the source has a descriptor, and raises
    BlockingIOError where it has none, never taken for the end."""
    def next_piece() -> bytes:
        while True:
            piece = read(_CHUNK)
            if piece is not None:
                return piece
            if fileno is None:
                raise BlockingIOError(errno.EAGAIN, "the source has no data "
                                      "now and no descriptor to wait on")
            select.select([fileno], [], [])
    return next_piece


# Each thread keeps the streams that convert_file made, idle between
# calls: making one costs more than converting a small file. A call takes
# one for as long as it runs, so that a call made from inside another's
# source gets a stream of its own.
_streams = threading.local()


@contextlib.contextmanager
def _borrowed_stream():
    idle = getattr(_streams, "idle", None)
    if idle is None:
        idle = _streams.idle = []
    stream = idle.pop() if idle else Stream()
    try:
        stream.reset()
        yield stream
    finally:
        idle.append(stream)


# Partial names that no other process, nor this one, makes again.
_token = secrets.token_hex(6)
_serial = itertools.count()


def _stat(f: PathOrFile):
    try:
        if _is_path(f):
            return os.stat(f)
        fileno = _fileno(f)
        return os.fstat(fileno) if fileno is not None else None
    except OSError:
        return None


def _write_all(write, data: bytes) -> None:
    """Write all of data through write, which may take less than it is
    given, as os.write and unbuffered files do."""
    view = memoryview(data)
    while view:
        taken = write(view)
        if taken is None:
            raise BlockingIOError(errno.EAGAIN, "the destination took nothing")
        view = view[taken:]


def _convert(next_piece: Callable[[], bytes], write) -> None:
    with _borrowed_stream() as stream:
        while True:
            piece = next_piece()
            if not piece:
                break
            write(stream.push(piece))
        write(stream.finish())


def _naming(error: OSError, name) -> OSError:
    """Return error as it reads for name: the same kind, errno and reason."""
    if error.errno is None:
        return error
    return type(error)(error.errno, error.strerror, os.fsdecode(name))


def _check_destination(path) -> None:
    """Raise, naming path, if no file can be made there: a folder stands
    there, or its folder is missing."""
    folder = os.path.dirname(path) or "."
    for fails, code in ((os.path.isdir(path), errno.EISDIR),
                        (not os.path.exists(folder), errno.ENOENT),
                        (not os.path.isdir(folder), errno.ENOTDIR)):
        if fails:
            raise _naming(OSError(code, os.strerror(code)), path)


def convert_file(src: PathOrFile, dst: PathOrFile) -> None:
    """Rewrite the rt file src into dst, streamed in flat memory.

    src and dst are paths (str, bytes or os.PathLike) or binary file
    objects; a non-blocking source is waited on, never cut short. A
    destination path is checked before anything is converted. A regular
    file there, a symbolic link or nothing is replaced only once the output
    is complete, by a file written unnamed in its folder where the file
    system allows (else under a temporary name), so that a failure or a
    signal leaves nothing behind; a replaced regular file keeps its
    permission bits, but no set-user or set-group bit. A device, FIFO or
    socket there is opened and written into, as cp does. Raises
    InvalidFileError, naming src, when src is not an rt file, ValueError
    ("input file is output file") when dst is src, and OSError, naming the
    file, when one cannot be read or written.
    """
    with _naming_source(src):
        _convert_file(src, dst)


def _source_name(src):
    """Return the name of a source, as OSError names a file: the path as
    given, or a file object's name where it has one, else None."""
    if _is_path(src):
        return os.fspath(src)
    name = getattr(src, "name", None)
    return name if isinstance(name, (str, bytes)) else None


@contextlib.contextmanager
def _naming_source(src):
    try:
        yield
    except InvalidFileError as error:
        if error.filename is None:
            error.filename = _source_name(src)
        raise


def _convert_file(src: PathOrFile, dst: PathOrFile) -> None:
    a, b = _stat(src), _stat(dst)
    if a is not None and b is not None and (a.st_dev, a.st_ino) == (b.st_dev, b.st_ino):
        raise ValueError("input file is output file")
    if _is_path(dst):
        _check_destination(os.fspath(dst))
    if _is_path(src):
        try:
            source_fd = os.open(src, os.O_RDONLY | os.O_CLOEXEC)
        except OSError as error:
            raise _naming(error, src) from None
        next_piece = _reader(functools.partial(os.read, source_fd), source_fd)
    else:
        source_fd = None
        next_piece = _reader(src.read, _fileno(src))
    try:
        if not _is_path(dst):
            _convert(next_piece, functools.partial(_write_all, dst.write))
            return
        path = os.fspath(dst)
        existing = _lstat(path)
        if existing is None or stat.S_ISREG(existing.st_mode) \
                or stat.S_ISLNK(existing.st_mode):
            _convert_to_path(next_piece, path, existing)
        else:
            _convert_into_special(next_piece, path)
    finally:
        if source_fd is not None:
            os.close(source_fd)


def _lstat(path):
    try:
        return os.lstat(path)
    except FileNotFoundError:
        return None
    except OSError as error:
        raise _naming(error, path) from None


def _convert_into_special(next_piece: Callable[[], bytes], path) -> None:
    """Write into the device, FIFO or socket at path, which stays what
    it is."""
    try:
        fd = os.open(path, os.O_WRONLY | os.O_TRUNC | os.O_CLOEXEC)
    except OSError as error:
        raise _naming(error, path) from None
    try:
        try:
            _convert(next_piece, functools.partial(
                _write_all, functools.partial(os.write, fd)))
        finally:
            os.close(fd)
    except OSError as error:
        raise _naming(error, path) from None


# Linking an unnamed file into its folder goes through its descriptor's
# entry here; without /proc, outputs are written under a temporary name.
_FD_LINKS = "/proc/self/fd"


def _in_folder(folder, name: str):
    return os.path.join(folder, os.fsencode(name) if isinstance(folder, bytes)
                        else name)


def _partial_name(folder):
    return _in_folder(folder, f".zorbu-partial.{os.getpid()}.{_token}."
                      f"{next(_serial)}")


def _open_output(folder, path):
    """Return a descriptor for a new output in folder and its temporary
    name, or None for a file with no name, which nothing can leave behind."""
    if os.path.isdir(_FD_LINKS) and hasattr(os, "O_TMPFILE"):
        try:
            return os.open(folder, os.O_TMPFILE | os.O_WRONLY | os.O_CLOEXEC,
                           0o666), None
        except OSError as error:
            # File systems without unnamed files refuse them in one of
            # these ways; any other refusal would meet a named file too.
            if error.errno not in (errno.EOPNOTSUPP, errno.EISDIR,
                                   errno.EINVAL):
                raise _naming(error, path) from None
    while True:
        partial = _partial_name(folder)
        try:
            return os.open(partial, os.O_WRONLY | os.O_CREAT | os.O_EXCL
                           | os.O_CLOEXEC, 0o666), partial
        except FileExistsError:
            continue
        except OSError as error:
            raise _naming(error, path) from None


def _link_unnamed(fd: int, folder, path) -> None:
    """Give the complete unnamed output at fd the name path: linked there
    straight where nothing stands, else linked beside it and renamed."""
    # os.link follows the descriptor's link only when given a folder.
    links = os.open(_FD_LINKS, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
    try:
        link = functools.partial(os.link, str(fd), src_dir_fd=links,
                                 follow_symlinks=True)
        try:
            link(path)
            return
        except FileExistsError:
            pass
        while True:
            partial = _partial_name(folder)
            try:
                link(partial)
                break
            except FileExistsError:
                continue
    finally:
        os.close(links)
    try:
        os.replace(partial, path)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(partial)
        raise


def _convert_to_path(next_piece: Callable[[], bytes], path, existing) -> None:
    folder = os.path.dirname(path) or os.curdir
    if isinstance(path, bytes):
        folder = os.fsencode(folder)
    fd, partial = _open_output(folder, path)
    try:
        try:
            if existing is not None and stat.S_ISREG(existing.st_mode):
                os.fchmod(fd, stat.S_IMODE(existing.st_mode) & 0o777)
            _convert(next_piece, functools.partial(
                _write_all, functools.partial(os.write, fd)))
            if partial is None:
                _link_unnamed(fd, folder, path)
        finally:
            os.close(fd)
        if partial is not None:
            os.replace(partial, path)
            partial = None
    except OSError as error:
        raise _naming(error, path) from None
    finally:
        if partial is not None:
            with contextlib.suppress(OSError):
                os.unlink(partial)


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
