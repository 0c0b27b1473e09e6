// zorbu: checks an rt file and writes a rewritten copy to standard output.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <new>
#include <string_view>

#include "fd_io.hpp"
#include "into_folder.hpp"
#include "messages.hpp"
#include "same_file.hpp"
#include "zorbu.h"
#include "zorbu_internal.hpp"

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
         zorbu::same_file(in, out);
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
    "       zorbu --into DIR FILE...\n"
    "Checks that filename is an rt file and writes a rewritten copy to\n"
    "standard output. Only the first argument is read: 'zorbu *.rt' converts\n"
    "the first file alone. A filename of - reads standard input; a file\n"
    "named -, --help, --version or --into is ./-, ./--help and so on.\n"
    "\n"
    "  --into DIR FILE...  convert every FILE into DIR/FILE, in one process;\n"
    "                      exit 1 if any failed, naming each on stderr;\n"
    "                      an earlier output is replaced by a rename\n"
    "  --help              print this help and exit\n"
    "  --version           print the version and exit\n"
    "\n"
    "A folder tree, on every processor:\n"
    "  cd in && find . -name '*.rt' -print0 |\n"
    "    xargs -0 -n 256 -P\"$(nproc)\" zorbu --into ../out\n";
constexpr std::string_view kVersion = "zorbu " ZORBU_VERSION_STRING "\n";

int fail(std::string_view message, std::string_view prefix = {}) {
  zorbu::message::say(message, prefix);
  return -1;
}

int fail_with_error(std::string_view why) {
  return fail(why, zorbu::message::kError);
}

zorbu::status filter(int input, const zorbu::simd::kernels& kernels) {
  zorbu::fd_source source(input);
  zorbu::fd_sink sink(STDOUT_FILENO);
  try {
    return zorbu::filter_rt(source, sink, zorbu::block_reader::kDefaultBlock,
                            kernels);
  } catch (const std::bad_alloc&) {
    return zorbu::status::out_of_memory;
  }
}

// Writes an answer to standard output; returns the exit status.
int answer(std::string_view text) {
  zorbu::fd_sink sink(STDOUT_FILENO);
  if (!sink.write(text) || (::close(STDOUT_FILENO) != 0 && errno != EINTR)) {
    return fail_with_error(zorbu::message::kUnwritable);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  reserve_standard_descriptors();
  // Past a file-size limit a write fails and is reported like any other,
  // instead of the signal killing the process without a word.
  (void)std::signal(SIGXFSZ, SIG_IGN);
  if (argc < 2) return fail(zorbu::message::kUsage);
  const std::string_view name = argv[1];
  if (name == "--help") return answer(kHelp);
  if (name == "--version") return answer(kVersion);
  const zorbu::simd::kernels& kernels = zorbu::simd::best_kernels();
  if (name == "--into") {
    return zorbu::convert_into_folder(
        {argv + 2, static_cast<std::size_t>(argc - 2)}, kernels);
  }
  const bool from_stdin = name == "-";
  const int input =
      from_stdin ? STDIN_FILENO : ::open(argv[1], O_RDONLY | O_CLOEXEC);
  if (input < 0) return fail(zorbu::message::kUsage);
  if (output_is_input(input)) {
    return fail_with_error(zorbu::message::kInputIsOutput);
  }

  widen_output_pipe();
  const zorbu::status result = filter(input, kernels);
  if (!from_stdin) ::close(input);
  if (result != zorbu::status::done) {
    return fail_with_error(zorbu::message::for_status(result));
  }
  // Some file systems report a failed write only when it is closed.
  if (::close(STDOUT_FILENO) != 0 && errno != EINTR) {
    return fail_with_error(zorbu::message::kUnwritable);
  }
  return 0;
}
