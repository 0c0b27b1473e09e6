#include "folder_steps.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "same_file.hpp"

namespace zorbu {

std::size_t folders_kept_open() {
  // The standard descriptors, the two roots, an input, an output and what
  // the C library opens stay outside the two walks' shares.
  constexpr rlim_t kReserve = 16;
  constexpr rlim_t kMost = 8;
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1;
  const rlim_t spare =
      limit.rlim_cur > kReserve ? (limit.rlim_cur - kReserve) / 4 : 0;
  return static_cast<std::size_t>(std::clamp<rlim_t>(spare, 1, kMost));
}

int open_parent(int child, const file_id& was) {
  const int parent = ::openat(child, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parent < 0) return -1;
  struct stat st {};
  if (::fstat(parent, &st) != 0) {
    const int error = errno;
    ::close(parent);
    errno = error;
    return -1;
  }
  if (!same_file(st, was)) {
    ::close(parent);
    errno = ESTALE;
    return -1;
  }
  return parent;
}

}  // namespace zorbu
