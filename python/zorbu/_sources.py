"""What the file functions take: paths and file objects, read in pieces,
and the names their errors carry."""

from __future__ import annotations

import contextlib
import errno
import io
import os
import select
from typing import BinaryIO, Callable, Optional, Union

from ._library import _CHUNK, InvalidFileError

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


def _naming(error: OSError, name) -> OSError:
    """Return error as it reads for name: the same kind, errno and reason."""
    if error.errno is None:
        return error
    return type(error)(error.errno, error.strerror, os.fsdecode(name))


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
