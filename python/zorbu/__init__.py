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

from ._convert import convert
from ._files import convert_file
from ._library import InvalidFile, InvalidFileError, __version__
from ._open import open
from ._stream import Stream

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


def kernels() -> str:
    """Return the name of the kernel set a new stream gets by default."""
    with Stream() as stream:
        return stream.kernels
