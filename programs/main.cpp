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
#include "options.hpp"
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

// The answer to --version; the help is the options module's.
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

// Converts the file name, - for standard input, to standard output;
// returns the exit status.
int convert_file(const char* name) {
  const bool from_stdin = std::string_view(name) == "-";
  const int input =
      from_stdin ? STDIN_FILENO : ::open(name, O_RDONLY | O_CLOEXEC);
  if (input < 0) return fail(zorbu::message::kUsage);
  if (output_is_input(input)) {
    return fail_with_error(zorbu::message::kInputIsOutput);
  }

  widen_output_pipe();
  const zorbu::status result = filter(input, zorbu::simd::best_kernels());
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
  const zorbu::options parsed = zorbu::parse_options(argc, argv);
  switch (parsed.chosen) {
    case zorbu::options::mode::usage:
      return fail(zorbu::message::kUsage);
    case zorbu::options::mode::help:
      return answer(zorbu::kHelp);
    case zorbu::options::mode::version:
      return answer(kVersion);
    case zorbu::options::mode::into_folder:
      return zorbu::convert_into_folder(parsed.into,
                                        zorbu::simd::best_kernels());
    case zorbu::options::mode::single_file:
      break;
  }
  return convert_file(parsed.file);
}
