#include "fd_io.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace zorbu {

namespace {

// Returns whether a call that failed with errno may be tried again: after a
// signal, or on a descriptor a parent left non-blocking, once it is ready.
bool may_retry(int fd, short ready) {
  if (errno == EINTR) return true;
  if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
  pollfd p{fd, ready, 0};
  while (::poll(&p, 1, -1) < 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

}  // namespace

std::optional<std::size_t> fd_source::read(std::span<char> buf) {
  for (;;) {
    const ssize_t n = ::read(fd_, buf.data(), buf.size());
    if (n >= 0) {
      bytes_read_ += static_cast<std::uint64_t>(n);
      return static_cast<std::size_t>(n);
    }
    if (!may_retry(fd_, POLLIN)) {
      error_ = errno;
      return std::nullopt;
    }
  }
}

bool fd_sink::write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0 && may_retry(fd_, POLLOUT)) continue;
    // A write that takes nothing would take nothing again: retrying it
    // would spin for ever.
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace zorbu
