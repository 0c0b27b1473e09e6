// Runs the filter on one file with the set of kernels named, writing what
// the program writes for a file: the golden cases run through it on every
// set this processor has. A set it cannot run ends it with status 77, which
// ctest reports as not run.
// Usage: case_driver SET FILE
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "fd_io.hpp"
#include "messages.hpp"
#include "zorbu_internal.hpp"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: case_driver SET FILE\n", stderr);
    return 2;
  }
  const zorbu::simd::kernels* kernels = zorbu::simd::kernels_named(argv[1]);
  if (kernels == nullptr) {
    std::printf("%s: not run here\n", argv[1]);
    return 77;
  }
  const int input = ::open(argv[2], O_RDONLY | O_CLOEXEC);
  if (input < 0) {
    std::perror(argv[2]);
    return 2;
  }
  zorbu::fd_source source(input);
  zorbu::fd_sink sink(STDOUT_FILENO);
  const zorbu::status result = zorbu::filter_rt(
      source, sink, zorbu::block_reader::kDefaultBlock, *kernels);
  ::close(input);
  if (result == zorbu::status::done) return 0;
  zorbu::message::say_error(zorbu::message::for_status(result));
  return 255;
}
