"""The Python package over the library: every golden case through convert,
convert_file, open and Stream, on every kernel set this processor has;
errors; a stream guarded against two threads; a non-blocking source; flat
memory, and memory given back. Usage: python_test.py CASES_DIR (with the
package on PYTHONPATH and ZORBU_LIBRARY naming the library)."""
import array
import doctest
import errno
import fcntl
import io
import mmap
import os
import pickle
import platform
import random
import signal
import stat
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import zorbu

CASES = sys.argv.pop(1)


def table_sets():
    """The kernel sets that lib/simd/kernel_sets.txt lists for this machine."""
    arch = {"x86_64": "x86_64", "AMD64": "x86_64", "aarch64": "aarch64",
            "arm64": "aarch64"}.get(platform.machine(), "other")
    table = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                         "lib", "simd", "kernel_sets.txt")
    with open(table) as f:
        rows = [line.split() for line in f if line[:1].isalpha()]
    return [row[0] for row in rows if row[1] in ("any", arch)]


SETS = table_sets()


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


class ReadsCounted:
    """A binary source that counts the reads made of it."""

    def __init__(self, data):
        self.data = data
        self.reads = 0

    def read(self, size):
        self.reads += 1
        piece, self.data = self.data[:size], self.data[size:]
        return piece


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
                        self.assertRaises(zorbu.InvalidFileError, zorbu.convert, data)
                    else:
                        self.assertEqual(zorbu.convert(data), want)
                        self.assertEqual(zorbu.convert(bytearray(data)), want)
                        self.assertEqual(zorbu.convert(memoryview(data)), want)
                        self.assertEqual(zorbu.convert(array.array("B", data)), want)
                        if data:
                            with mmap.mmap(-1, len(data)) as pages:
                                pages.write(data)
                                self.assertEqual(zorbu.convert(pages), want)
                    # Read back in random sizes, from a path and from a
                    # file object, as a reader of a file would.
                    src_file = os.path.join(tmp, "open.rt")
                    with open(src_file, "wb") as f:
                        f.write(data)
                    for source in (src_file, None):
                        given = open(src_file, "rb") if source is None else None
                        try:
                            with zorbu.open(source or given) as reader:
                                got = []
                                while True:
                                    piece = reader.read(rng.choice([1, 3, 64, 4096, 70000]))
                                    if not piece:
                                        break
                                    got.append(piece)
                            got = b"".join(got)
                        except zorbu.InvalidFileError:
                            got = None
                        self.assertEqual(got, want)
                        if given is not None:
                            self.assertFalse(given.closed, "a file given open stays open")
                            given.close()
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
                        except zorbu.InvalidFileError:
                            got = None
                        self.assertEqual(None if got is None else b"".join(got), want,
                                         kernels)
                    src = os.path.join(tmp, "in.rt")
                    dst = os.path.join(tmp, "out.rt")
                    with open(src, "wb") as f:
                        f.write(data)
                    if want is None:
                        self.assertRaises(zorbu.InvalidFileError, zorbu.convert_file, src, dst)
                        self.assertEqual(sorted(os.listdir(tmp)), ["in.rt", "open.rt"])
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
    def test_an_invalid_file_says_why_and_which(self):
        with tempfile.TemporaryDirectory() as tmp:
            for data, reason in ((b"", "the file is empty"),
                                 (b"no window\n<time/>a\n</window>\n",
                                  "no window tag on the first line"),
                                 (b"<window><font>\n</font>\n</window>\n", "no body lines")):
                path = os.path.join(tmp, "bad.rt")
                with open(path, "wb") as f:
                    f.write(data)
                named = io.BytesIO(data)
                named.name = "from-a-file-object.rt"
                for how, call, filename in (
                        ("convert", lambda: zorbu.convert(data), None),
                        ("stream", lambda: _push_and_finish(data), None),
                        ("convert_file", lambda: zorbu.convert_file(
                            path, os.path.join(tmp, "out.rt")), path),
                        ("a file object", lambda: zorbu.convert_file(
                            named, io.BytesIO()), "from-a-file-object.rt"),
                        ("a nameless file object", lambda: zorbu.convert_file(
                            io.BytesIO(data), io.BytesIO()), None),
                        ("open", lambda: zorbu.open(path).read(), path)):
                    named.seek(0)
                    with self.assertRaises(zorbu.InvalidFileError, msg=how) as caught:
                        call()
                    error = caught.exception
                    self.assertIsInstance(error, ValueError)
                    self.assertIsInstance(error, zorbu.InvalidFile)
                    self.assertEqual(str(error), "invalid rt file", how)
                    self.assertEqual(error.reason, reason, how)
                    self.assertEqual(error.filename, filename, how)
                # Whole across processes, as Dask's workers send it.
                again = pickle.loads(pickle.dumps(error))
                self.assertEqual((str(again), again.reason, again.filename),
                                 ("invalid rt file", reason, path))
            self.assertEqual(os.listdir(tmp), ["bad.rt"])

    def test_a_stream_refuses_what_comes_after_its_end(self):
        with zorbu.Stream() as stream:
            # As soon as the first line is known to hold no window, and on
            # every call after that.
            self.assertRaises(zorbu.InvalidFileError, stream.push, b"<p>\n")
            self.assertRaises(zorbu.InvalidFileError, stream.finish)
            stream.reset()
            self.assertEqual(stream.push(b"<window>\n<time/>a\n</window>\n") + stream.finish(),
                             b"<window>\n<time>a\n</time></window>\n")
            # A push after the end is misuse.
            with self.assertRaises(ValueError) as caught:
                stream.push(b"x")
            self.assertEqual(str(caught.exception), "misuse of the zorbu interface")
        stream = zorbu.Stream()
        stream.close()
        stream.close()
        self.assertRaises(ValueError, stream.push, b"x")
        self.assertRaises(ValueError, stream.finish)

    def test_arguments_of_the_wrong_kind_are_refused(self):
        self.assertRaises(TypeError, zorbu.convert, "<window>\n")
        self.assertRaises(TypeError, zorbu.convert, 5)
        self.assertRaises(TypeError, zorbu.Stream().push, "<window>\n")
        self.assertRaises(ValueError, zorbu.Stream, "no such set")
        # The library would read the name only up to the NUL.
        self.assertRaises(ValueError, zorbu.Stream, "portable\0x")
        self.assertRaises(TypeError, zorbu.Stream, 5)
        self.assertRaises(ValueError, zorbu.open, "x.rt", "wb")

    def test_a_destination_that_cannot_be_had_fails_before_the_source_is_read(self):
        with tempfile.TemporaryDirectory() as tmp:
            src = os.path.join(tmp, "a.rt")
            with open(src, "wb") as f:
                f.write(b"<window>\n<time/>a\n</window>\n")
            with self.assertRaises(ValueError) as caught:
                zorbu.convert_file(src, src)
            self.assertEqual(str(caught.exception), "input file is output file")
            with open(src, "rb") as f:
                self.assertEqual(f.read(), b"<window>\n<time/>a\n</window>\n")
            unread = ReadsCounted(b"<window>\n<time/>a\n</window>\n")
            for dst, kind in ((tmp, IsADirectoryError),
                              (os.path.join(tmp, "no-such-folder", "b.rt"),
                               FileNotFoundError),
                              (os.path.join(src, "b.rt"), NotADirectoryError)):
                with self.assertRaises(kind) as caught:
                    zorbu.convert_file(unread, dst)
                self.assertEqual(caught.exception.filename, dst)
            self.assertEqual(unread.reads, 0)
            self.assertRaises(OSError, zorbu.convert_file, os.path.join(tmp, "none"),
                              os.path.join(tmp, "c.rt"))
            self.assertEqual(sorted(os.listdir(tmp)), ["a.rt"])

    def test_a_write_that_fails_part_way_leaves_nothing(self):
        with tempfile.TemporaryDirectory() as tmp:
            src = os.path.join(tmp, "a.rt")
            with open(src, "wb") as f:
                f.write(b"<window>\n<time/>a\n</window>\n")
            if os.path.exists("/dev/full"):
                with open("/dev/full", "wb", buffering=0) as full:
                    self.assertRaises(OSError, zorbu.convert_file, src, full)
            # Past a file-size limit: the partial output is removed and the
            # error raised.
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

    def test_the_module_describes_itself(self):
        self.assertEqual(zorbu.__version__.count("."), 2)
        # The example help(zorbu) shows gives what it says.
        self.assertEqual(doctest.testmod(zorbu).failed, 0)
        self.assertIn(zorbu.kernels(), SETS)


def _push_and_finish(data):
    with zorbu.Stream() as stream:
        return stream.push(data) + stream.finish()


def takes_unnamed_files(folder):
    """True when folder's file system makes files with no name."""
    try:
        os.close(os.open(folder, os.O_TMPFILE | os.O_WRONLY, 0o600))
        return True
    except OSError:
        return False


class Destinations(unittest.TestCase):
    SOURCE = b"<window>\n<time/>a <b>\n</window>\n"
    OUTPUT = b"<window>\n<time>a {{{b}}}\n</time></window>\n"

    def test_what_stands_at_the_destination_is_kept_or_written_into(self):
        with tempfile.TemporaryDirectory() as tmp:
            src = os.path.join(tmp, "in.rt")
            with open(src, "wb") as f:
                f.write(self.SOURCE)
            # A replaced file keeps its permission bits, but not a set-user
            # bit; a symbolic link is replaced, and what it named is not
            # touched.
            for before, after in ((0o600, 0o600), (0o4755, 0o755)):
                dst = os.path.join(tmp, "out.rt")
                with open(dst, "wb") as f:
                    f.write(b"stale")
                os.chmod(dst, before)
                zorbu.convert_file(src, dst)
                self.assertEqual(os.stat(dst).st_mode & 0o7777, after)
                with open(dst, "rb") as f:
                    self.assertEqual(f.read(), self.OUTPUT)
            link = os.path.join(tmp, "link.rt")
            os.symlink("out.rt", link)
            os.chmod(os.path.join(tmp, "out.rt"), 0o600)
            zorbu.convert_file(src, link)
            self.assertFalse(os.path.islink(link))
            self.assertEqual(os.stat(link).st_mode & 0o777, 0o666 & ~current_umask())
            # A nested call, from inside another's source, gets a stream of
            # its own: both give their exact bytes.
            class CallsInside:
                def __init__(self):
                    self.data, self.called = io.BytesIO(Destinations.SOURCE), False

                def read(self, size):
                    if not self.called:
                        self.called = True
                        zorbu.convert_file(src, os.path.join(tmp, "inner.rt"))
                    return self.data.read(size)
            zorbu.convert_file(CallsInside(), os.path.join(tmp, "outer.rt"))
            for name in ("inner.rt", "outer.rt"):
                with open(os.path.join(tmp, name), "rb") as f:
                    self.assertEqual(f.read(), self.OUTPUT, name)
            self.assertFalse([n for n in os.listdir(tmp) if n.startswith(".zorbu")])
            if os.geteuid() != 0:
                return
            # Devices are written into, as cp does, and stay devices: a
            # full one says so.
            null = os.path.join(tmp, "null")
            full = os.path.join(tmp, "full")
            os.mknod(null, stat.S_IFCHR | 0o666, os.makedev(1, 3))
            os.mknod(full, stat.S_IFCHR | 0o666, os.makedev(1, 7))
            zorbu.convert_file(src, null)
            with self.assertRaises(OSError) as caught:
                zorbu.convert_file(src, full)
            self.assertEqual(caught.exception.errno, errno.ENOSPC)
            self.assertEqual(caught.exception.filename, full)
            for device in (null, full):
                self.assertTrue(stat.S_ISCHR(os.lstat(device).st_mode), device)

    def test_a_signal_in_the_middle_leaves_no_temporary_file(self):
        # The source is a pipe that the test feeds: the conversion is under
        # way once the child has asked for a second piece.
        script = r"""
import os, sys, zorbu
class Source:
    reads = 0
    def read(self, size):
        Source.reads += 1
        if Source.reads == 2:
            os.write(1, b"x")
        return os.read(0, size)
zorbu.convert_file(Source(), sys.argv[1])
"""
        with tempfile.TemporaryDirectory() as tmp:
            if not takes_unnamed_files(tmp):
                self.skipTest("the file system here makes no unnamed files")
            dst = os.path.join(tmp, "out.rt")
            for how in (signal.SIGTERM, signal.SIGKILL):
                child = subprocess.Popen([sys.executable, "-c", script, dst],
                                         stdin=subprocess.PIPE, stdout=subprocess.PIPE)
                child.stdin.write(b"<window>\n" + b"<time/>a <b>b</b>\n" * 400000)
                child.stdin.flush()
                self.assertEqual(child.stdout.read(1), b"x")
                child.send_signal(how)
                child.wait()
                child.stdin.close()
                child.stdout.close()
                self.assertEqual(child.returncode, -how)
                self.assertEqual(os.listdir(tmp), [], how)


def current_umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask


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


def run_script(script, *args):
    """Runs script in a Python of its own, with faulthandler on, so that a
    crash shows where it was and fails the test; returns its output."""
    done = subprocess.run([sys.executable, "-X", "faulthandler", "-c", script, *args],
                          capture_output=True, text=True, timeout=600)
    if done.returncode != 0:
        raise AssertionError(f"status {done.returncode}: {done.stderr[-3000:]}")
    return done.stdout


class ThreadGuard(unittest.TestCase):
    def test_a_stream_used_from_two_threads_raises_and_never_crashes(self):
        printed = run_script(r"""
import threading, time, zorbu
data = (b"<window>\n" + b'<time begin="1"/>a <b>b</b> words and more\n' * 300000
        + b"</window>\n")
want = zorbu.convert(data)
with zorbu.Stream() as alone:
    want_push = alone.push(data)

def wait_until_busy(stream, thread):
    while not stream._lock.locked() and thread.is_alive():
        time.sleep(0.0005)

# close() while another thread pushes: it waits for the push, which gives
# all its output, or comes first, and the push is told the stream is
# closed.
for _ in range(20):
    stream = zorbu.Stream()
    result = {}
    def convert():
        try:
            result["out"] = stream.push(data) + stream.finish()
        except ValueError as error:
            result["error"] = str(error)
    thread = threading.Thread(target=convert)
    thread.start()
    wait_until_busy(stream, thread)
    stream.close()
    thread.join()
    assert stream.closed
    assert result.get("out") == want or result.get("error") == "the stream is closed", result.keys()

# Two threads pushing: the one that comes second while the first is busy
# gets RuntimeError, and the first its whole output.
refused = 0
for _ in range(20):
    stream = zorbu.Stream()
    result = {}
    thread = threading.Thread(target=lambda: result.update(out=stream.push(data)))
    thread.start()
    wait_until_busy(stream, thread)
    try:
        stream.push(b"")
    except RuntimeError:
        refused += 1
    thread.join()
    assert result["out"] == want_push
    stream.close()
assert refused > 0
print("refused", refused)
""")
        self.assertIn("refused", printed)


class NonBlockingSource(unittest.TestCase):
    def test_a_source_with_nothing_yet_is_waited_for_not_taken_for_the_end(self):
        first = b"<window>\n<time/>one\n"
        rest = b"<time/>two\n<time/>three\n</window>\n"
        want = b"<window>\n<time>one\n</time><time>two\n</time><time>three\n</time></window>\n"
        for use in ("convert_file", "open"):
            read_end, write_end = os.pipe()
            os.set_blocking(read_end, False)

            def writer():
                os.write(write_end, first)
                time.sleep(0.5)
                os.write(write_end, rest)
                os.close(write_end)

            thread = threading.Thread(target=writer)
            thread.start()
            with open(read_end, "rb", buffering=0) as source:
                if use == "open":
                    with zorbu.open(source) as reader:
                        got = reader.read()
                else:
                    sink = ShortWrites()
                    zorbu.convert_file(source, sink)
                    got = bytes(sink.data)
            thread.join()
            self.assertEqual(got, want, use)
        # A source with nothing now and no descriptor to wait on says so.

        class Empty:
            def read(self, size):
                return None

        self.assertRaises(BlockingIOError, zorbu.convert_file, Empty(), ShortWrites())


class Memory(unittest.TestCase):
    def test_convert_gives_back_what_a_large_input_took(self):
        grew = run_script(r"""
import gc, os, zorbu
def resident():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
zorbu.convert(b"<window>\n<time/>a\n</window>\n")
before = resident()
data = b"<window>\n" + b'<time begin="1"/>a <b>b</b> color="red"\n' * 2500000 + b"</window>\n"
assert len(data) > 100 * 1000 * 1000
out = zorbu.convert(data)
del data, out
gc.collect()
print(resident() - before)
""")
        self.assertLessEqual(int(grew), 16 << 20, "bytes resident beyond before")

    def test_open_reads_64_mb_in_flat_memory(self):
        with tempfile.TemporaryDirectory() as tmp:
            src = os.path.join(tmp, "big.rt")
            line = b'<time begin="1"/>a <b>b</b> color="red" words\n'
            with open(src, "wb") as f:
                f.write(b"<window>\n" + line * ((64 << 20) // len(line)) + b"</window>\n")
            printed = run_script(r"""
import resource, sys, zorbu
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
size = 0
with zorbu.open(sys.argv[1]) as reader:
    for piece in iter(lambda: reader.read(1 << 20), b""):
        size += len(piece)
print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before, size)
""", src)
            grew, size = map(int, printed.split())
            self.assertLessEqual(grew, 8 * 1024, "KiB of peak memory beyond import")
            lines = (os.path.getsize(src) - 19) // len(line)
            converted = len(b'<time begin="1">a {{{b}}}b{{{/b}}} color="#ff0000" words\n')
            self.assertEqual(size, 9 + lines * converted + (lines - 1) * 7 + 17)


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
