"""The Python package over the library: every golden case through convert,
convert_file and Stream, on every kernel set this processor has; errors;
flat memory on a 256 MiB file; threads. Usage: python_test.py CASES_DIR
(with the package on PYTHONPATH and ZORBU_LIBRARY naming the library)."""
import doctest
import os
import random
import subprocess
import sys
import tempfile
import threading
import unittest

import zorbu

CASES = sys.argv.pop(1)
SETS = ["portable", "sse2", "avx2", "avx512"]


def golden_cases():
    """(name, input, output or None for an invalid file) for every case."""
    for name in sorted(os.listdir(CASES)):
        if not name.endswith(".rt"):
            continue
        stem = os.path.join(CASES, name[:-3])
        with open(stem + ".rt", "rb") as f:
            data = f.read()
        with open(stem + ".status") as f:
            valid = f.read().strip() == "0"
        with open(stem + ".out", "rb") as f:
            yield name, data, f.read() if valid else None


def sets_here():
    here = []
    for name in SETS:
        try:
            with zorbu.Stream(name) as stream:
                here.append(stream.kernels)
        except ValueError:
            pass
    return here


class ShortWrites:
    """A binary destination that takes at most three bytes a write."""

    def __init__(self):
        self.data = bytearray()

    def write(self, data):
        self.data += bytes(data[:3])
        return min(len(data), 3)


class GoldenCases(unittest.TestCase):
    def test_convert_stream_and_file_give_the_programs_bytes(self):
        rng = random.Random(5)
        sets = sets_here()
        self.assertIn("portable", sets)
        with tempfile.TemporaryDirectory() as tmp:
            for name, data, want in golden_cases():
                with self.subTest(case=name):
                    if want is None:
                        self.assertRaises(zorbu.InvalidFile, zorbu.convert, data)
                    else:
                        self.assertEqual(zorbu.convert(data), want)
                        self.assertEqual(zorbu.convert(bytearray(data)), want)
                        self.assertEqual(zorbu.convert(memoryview(data)), want)
                    for kernels in sets:
                        got = []
                        try:
                            with zorbu.Stream(kernels) as stream:
                                at = 0
                                while at < len(data):
                                    size = rng.choice([1, 2, 7, 100, 5000])
                                    got.append(stream.push(data[at:at + size]))
                                    at += size
                                got.append(stream.finish())
                        except zorbu.InvalidFile:
                            got = None
                        self.assertEqual(None if got is None else b"".join(got), want,
                                         kernels)
                    src = os.path.join(tmp, "in.rt")
                    dst = os.path.join(tmp, "out.rt")
                    with open(src, "wb") as f:
                        f.write(data)
                    if want is None:
                        self.assertRaises(zorbu.InvalidFile, zorbu.convert_file, src, dst)
                        self.assertEqual(os.listdir(tmp), ["in.rt"])
                    else:
                        zorbu.convert_file(src, dst)
                        with open(dst, "rb") as f:
                            self.assertEqual(f.read(), want)
                        with open(src, "rb") as reader, open(dst, "wb") as writer:
                            zorbu.convert_file(reader, writer)
                        with open(dst, "rb") as f:
                            self.assertEqual(f.read(), want)
                        # A destination that takes a few bytes a write, as
                        # a raw file or a pipe may, still gets all of them.
                        sink = ShortWrites()
                        zorbu.convert_file(src, sink)
                        self.assertEqual(bytes(sink.data), want)
                        os.unlink(dst)


class Errors(unittest.TestCase):
    def test_what_fails_and_how(self):
        for data in (b"", b"no window\n<time/>a\n</window>\n", b"<window><font>\n</font>\n</window>\n"):
            with self.assertRaises(zorbu.InvalidFile) as caught:
                zorbu.convert(data)
            self.assertIsInstance(caught.exception, ValueError)
            self.assertEqual(str(caught.exception), "invalid rt file")
        with zorbu.Stream() as stream:
            # As soon as the first line is known to hold no window.
            self.assertRaises(zorbu.InvalidFile, stream.push, b"<p>\n")
        self.assertRaises(TypeError, zorbu.convert, "<window>\n")
        self.assertRaises(TypeError, zorbu.Stream().push, "<window>\n")
        self.assertRaises(ValueError, zorbu.Stream, "no such set")
        stream = zorbu.Stream()
        stream.close()
        stream.close()
        self.assertRaises(ValueError, stream.push, b"x")
        with tempfile.TemporaryDirectory() as tmp:
            src = os.path.join(tmp, "a.rt")
            with open(src, "wb") as f:
                f.write(b"<window>\n<time/>a\n</window>\n")
            with self.assertRaises(ValueError) as caught:
                zorbu.convert_file(src, src)
            self.assertEqual(str(caught.exception), "error: input file is output file")
            with open(src, "rb") as f:
                self.assertEqual(f.read(), b"<window>\n<time/>a\n</window>\n")
            self.assertRaises(OSError, zorbu.convert_file, src,
                              os.path.join(tmp, "no-such-folder", "b.rt"))
            # A full disk: the partial output goes, and nothing is left.
            if os.path.exists("/dev/full"):
                with open("/dev/full", "wb", buffering=0) as full:
                    self.assertRaises(OSError, zorbu.convert_file, src, full)
            self.assertRaises(OSError, zorbu.convert_file, os.path.join(tmp, "none"),
                              os.path.join(tmp, "c.rt"))
            # A write that fails part-way, past a file-size limit: the
            # partial output is removed and the error raised.
            script = r"""
import resource, signal, sys, zorbu
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
try:
    zorbu.convert_file(sys.argv[1], sys.argv[2])
except OSError as error:
    print(error.errno)
"""
            big = os.path.join(tmp, "big.rt")
            with open(big, "wb") as f:
                f.write(b"<window>\n" + b"<time/>a <b>b</b>\n" * 10000 + b"</window>\n")
            printed = subprocess.run([sys.executable, "-c", script, big,
                                      os.path.join(tmp, "limited.rt")],
                                     check=True, capture_output=True, text=True).stdout
            self.assertEqual(printed.strip(), "27")  # EFBIG
            os.unlink(big)
            self.assertEqual(sorted(os.listdir(tmp)), ["a.rt"])
        self.assertEqual(zorbu.__version__.count("."), 2)
        # The example help(zorbu) shows gives what it says.
        self.assertEqual(doctest.testmod(zorbu).failed, 0)
        self.assertIn(zorbu.kernels(), SETS)


class Threads(unittest.TestCase):
    def test_four_threads_give_what_one_after_the_other_gives(self):
        rng = random.Random(9)
        parts = [b"<time/>a <b>", b"color=\"red\" ", b"x" * 300, b"\n", b"<<>>\n"]
        files = [b"<window>\n" + b"".join(rng.choice(parts) for _ in range(40000))
                 + b"\n</window>\n" for _ in range(4)]
        alone = [zorbu.convert(f) for f in files]
        together = [None] * 4

        def run(i):
            with zorbu.Stream() as stream:
                out = [stream.push(files[i][at:at + 4096])
                       for at in range(0, len(files[i]), 4096)]
                together[i] = b"".join(out) + stream.finish()

        threads = [threading.Thread(target=run, args=(i,)) for i in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(together, alone)


class FlatMemory(unittest.TestCase):
    def test_a_256_mib_file_streams_in_flat_memory(self):
        script = r"""
import resource, sys, zorbu
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
zorbu.convert_file(sys.argv[1], sys.argv[2])
after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(after - before)
"""
        with tempfile.TemporaryDirectory() as tmp:
            src = os.path.join(tmp, "big.rt")
            line = b'<time begin="1"/>a <b>b</b> <font color="red">c</font> words\n'
            block = line * (1 << 14)
            with open(src, "wb") as f:
                f.write(b"<window>\n")
                for _ in range((256 << 20) // len(block)):
                    f.write(block)
                f.write(b"</window>\n")
            grew = subprocess.run([sys.executable, "-c", script, src,
                                   os.path.join(tmp, "big.out")],
                                  check=True, capture_output=True, text=True).stdout
            self.assertLessEqual(int(grew), 8 * 1024, "KiB of peak memory beyond import")
            lines = (os.path.getsize(src) - 19) // len(line)
            converted = (b'<time begin="1">a {{{b}}}b{{{/b}}} '
                         b'{{{font color="#ff0000"}}}c{{{/font}}} words\n')
            want = 9 + lines * len(converted) + (lines - 1) * 7 + 17
            self.assertEqual(os.path.getsize(os.path.join(tmp, "big.out")), want)
            with open(os.path.join(tmp, "big.out"), "rb") as f:
                self.assertEqual(f.read(9 + len(converted) + 7),
                                 b"<window>\n" + converted + b"</time>")

if __name__ == "__main__":
    unittest.main(verbosity=1)
