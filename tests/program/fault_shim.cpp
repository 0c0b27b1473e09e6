// Preloaded into zorbu by the end-to-end checks to make the system fail in
// ways no ordinary file does:
//   ZORBU_SHIM_READ_FAILS_AFTER=N  reads beyond the standard descriptors
//                                  deliver N bytes in all, then fail (EIO);
//   ZORBU_SHIM_WRITE_TAKES_NOTHING=1  writes to standard output return 0;
//   ZORBU_SHIM_FILE_WRITES_FAIL=N  the first N writes beyond the standard
//                                  descriptors fail as on a full disk;
//   ZORBU_SHIM_FOLDER_DENIED=NAME  a folder named NAME cannot be opened
//                                  (EACCES), as for a user without rights;
//   ZORBU_SHIM_LISTING_FAILS=NAME  listing a folder named NAME fails (EIO).
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// Returns true when the last component of path is the name in variable.
bool named_in(const char* variable, const char* path) {
  const char* const name = std::getenv(variable);
  if (name == nullptr) return false;
  const char* const slash = std::strrchr(path, '/');
  return std::strcmp(slash != nullptr ? slash + 1 : path, name) == 0;
}

// The listing whose reads fail, once fdopendir has made it.
DIR* failing_listing = nullptr;

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

extern "C" int openat(int folder, const char* path, int flags, ...) {
  static const auto real =
      next_symbol<int (*)(int, const char*, int, ...)>("openat");
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0) {
    va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, unsigned));
    va_end(args);
  }
  if ((flags & O_DIRECTORY) != 0 &&
      named_in("ZORBU_SHIM_FOLDER_DENIED", path)) {
    errno = EACCES;
    return -1;
  }
  return real(folder, path, flags, mode);
}

extern "C" DIR* fdopendir(int fd) {
  static const auto real = next_symbol<DIR* (*)(int)>("fdopendir");
  DIR* const listing = real(fd);
  char link[64];
  char target[4096] = {};
  (void)std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  // A listing closed and made again may come back at the same address.
  if (listing == failing_listing) failing_listing = nullptr;
  if (listing != nullptr && ::readlink(link, target, sizeof target - 1) > 0 &&
      named_in("ZORBU_SHIM_LISTING_FAILS", target)) {
    failing_listing = listing;
  }
  return listing;
}

// The program and this file see one dirent.h, which names the 64-bit
// call where file offsets are 64 bits wide.
extern "C" dirent* readdir(DIR* listing) {
  static const auto real = next_symbol<dirent* (*)(DIR*)>("readdir");
  if (listing == failing_listing) {
    errno = EIO;
    return nullptr;
  }
  return real(listing);
}
