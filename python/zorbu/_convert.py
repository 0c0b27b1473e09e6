"""convert(): a whole input at once, into room kept for the thread."""

from __future__ import annotations

import ctypes
import mmap
import threading

from ._library import _KEPT_ROOM, _lib, _raise_for

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
