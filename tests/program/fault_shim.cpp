// Preloaded into zorbu by the end-to-end checks to make the system fail in
// ways no ordinary file does:
//   ZORBU_SHIM_READ_FAILS_AFTER=N  reads beyond the standard descriptors
//                                  deliver N bytes in all, then fail (EIO);
//   ZORBU_SHIM_WRITE_TAKES_NOTHING=1  writes to standard output return 0;
//   ZORBU_SHIM_FILE_WRITES_FAIL=N  the first N writes beyond the standard
//                                  descriptors fail as on a full disk.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

template <typename F>
F next_symbol(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

long long read_budget() {
  static const long long budget = [] {
    const char* text = std::getenv("ZORBU_SHIM_READ_FAILS_AFTER");
    return text != nullptr ? std::atoll(text) : -1;
  }();
  return budget;
}

long long bytes_read = 0;

}  // namespace

extern "C" ssize_t read(int fd, void* buf, size_t count) {
  static const auto real = next_symbol<ssize_t (*)(int, void*, size_t)>("read");
  const long long budget = read_budget();
  if (fd <= STDERR_FILENO || budget < 0) return real(fd, buf, count);
  if (bytes_read >= budget) {
    errno = EIO;
    return -1;
  }
  const auto left = static_cast<size_t>(budget - bytes_read);
  const ssize_t n = real(fd, buf, count < left ? count : left);
  if (n > 0) bytes_read += n;
  return n;
}

extern "C" ssize_t write(int fd, const void* buf, size_t count) {
  static const auto real =
      next_symbol<ssize_t (*)(int, const void*, size_t)>("write");
  static const bool takes_nothing =
      std::getenv("ZORBU_SHIM_WRITE_TAKES_NOTHING") != nullptr;
  static long long failures_left = [] {
    const char* text = std::getenv("ZORBU_SHIM_FILE_WRITES_FAIL");
    return text != nullptr ? std::atoll(text) : 0;
  }();
  if (fd == STDOUT_FILENO && takes_nothing) return 0;
  if (fd > STDERR_FILENO && failures_left > 0) {
    --failures_left;
    errno = ENOSPC;
    return -1;
  }
  return real(fd, buf, count);
}
