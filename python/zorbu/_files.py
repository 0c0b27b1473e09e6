"""convert_file(): a file to a file, streamed, with the destination written
as its kind wants: a new file named only once complete, or a device
written into."""

from __future__ import annotations

import contextlib
import errno
import functools
import itertools
import os
import secrets
import stat
import threading
from typing import Callable

from ._sources import (PathOrFile, _fileno, _is_path, _naming, _naming_source,
                       _reader)
from ._stream import Stream

# The program's words, which tests/texts_test.py holds to programs/messages.hpp.
_INPUT_IS_OUTPUT = "input file is output file"

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
    InvalidFileError, naming src, when src is not an rt file, ValueError,
    in the program's words, when dst is src, and OSError, naming the
    file, when one cannot be read or written.
    """
    with _naming_source(src):
        _convert_file(src, dst)


def _convert_file(src: PathOrFile, dst: PathOrFile) -> None:
    a, b = _stat(src), _stat(dst)
    if a is not None and b is not None and (a.st_dev, a.st_ino) == (b.st_dev, b.st_ino):
        raise ValueError(_INPUT_IS_OUTPUT)
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
