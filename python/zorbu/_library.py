"""Loading libzorbu, declaring its functions, its result codes and the
errors they become."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
from typing import Callable, Optional

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

# How much of a file is read at a time.
_CHUNK = 1 << 16
# The room a stream writes into: zorbu.h's ZORBU_DIRECT_ROOM, which the
# library writes into straight, with no copy of its own.
_DIRECT_ROOM = 512 * 1024
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
