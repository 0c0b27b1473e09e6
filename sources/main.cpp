// zorbu: checks an rt file and writes a rewritten copy to standard output.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <new>
#include <string_view>

#include "rt/rt_filter.hpp"

namespace {

// Keeps descriptors 0 to 2 taken, so that no file opened later can become
// standard output by accident. A closed standard output gets a read-only
// stand-in, on which every write fails and is reported.
void reserve_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      ::open("/dev/null", fd == STDERR_FILENO ? O_WRONLY : O_RDONLY);
    }
  }
}

// Returns true when standard output is the regular file that input reads:
// the rewrite would then read its own output and never end.
bool output_is_input(int input) {
  struct stat in {};
  struct stat out {};
  return ::fstat(input, &in) == 0 && ::fstat(STDOUT_FILENO, &out) == 0 &&
         S_ISREG(in.st_mode) && S_ISREG(out.st_mode) &&
         in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

// A larger pipe means fewer, larger hand-overs to the reader. A pipe that is
// already larger is left so; where growing is not allowed or standard output
// is no pipe, nothing changes.
void widen_output_pipe() {
  constexpr int kPipeSize = 1 << 20;
  const int size = ::fcntl(STDOUT_FILENO, F_GETPIPE_SZ);
  if (size >= 0 && size < kPipeSize) {
    ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, kPipeSize);
  }
}

// The answers to --help and --version.
constexpr std::string_view kHelp =
    "usage: zorbu filename\n"
    "Checks that filename is an rt file and writes a rewritten copy to\n"
    "standard output. Only the first argument is read: 'zorbu *.rt' converts\n"
    "the first file alone. A filename of - reads standard input; a file\n"
    "named -, --help or --version is ./-, ./--help or ./--version.\n"
    "\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n";
constexpr std::string_view kVersion = "zorbu " ZORBU_VERSION "\n";

int fail(const char* message) {
  // If standard error cannot be written either, the status still tells.
  (void)std::fputs(message, stderr);
  return -1;
}

zorbu::outcome filter(int input) {
  zorbu::fd_source source(input);
  zorbu::fd_sink sink(STDOUT_FILENO);
  try {
    return zorbu::filter_rt(source, sink);
  } catch (const std::bad_alloc&) {
    return zorbu::outcome::out_of_memory;
  }
}

// Writes an answer to standard output; returns the exit status.
int answer(std::string_view text) {
  zorbu::fd_sink sink(STDOUT_FILENO);
  if (!sink.write(text) || (::close(STDOUT_FILENO) != 0 && errno != EINTR)) {
    return fail("error: cannot write output\n");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  reserve_standard_descriptors();
  // Past a file-size limit a write fails and is reported like any other,
  // instead of the signal killing the process without a word.
  (void)std::signal(SIGXFSZ, SIG_IGN);
  if (argc < 2) return fail("usage: zorbu filename\n");
  const std::string_view name = argv[1];
  if (name == "--help") return answer(kHelp);
  if (name == "--version") return answer(kVersion);
  const bool from_stdin = name == "-";
  const int input =
      from_stdin ? STDIN_FILENO : ::open(argv[1], O_RDONLY | O_CLOEXEC);
  if (input < 0) return fail("usage: zorbu filename\n");
  if (output_is_input(input)) return fail("error: input file is output file\n");

  widen_output_pipe();
  const zorbu::outcome result = filter(input);
  if (!from_stdin) ::close(input);
  switch (result) {
    case zorbu::outcome::rewritten:
      // Some file systems report a failed write only when it is closed.
      if (::close(STDOUT_FILENO) != 0 && errno != EINTR) {
        return fail("error: cannot write output\n");
      }
      return 0;
    case zorbu::outcome::invalid:
      return fail("error: invalid rt file\n");
    case zorbu::outcome::unreadable:
      return fail("error: cannot read input\n");
    case zorbu::outcome::unwritable:
      return fail("error: cannot write output\n");
    case zorbu::outcome::out_of_memory:
      return fail("error: out of memory\n");
  }
  return fail("error: cannot write output\n");
}
