#include "io/byte_io.hpp"

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
    if (n >= 0) return static_cast<std::size_t>(n);
    if (!may_retry(fd_, POLLIN)) return std::nullopt;
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

block_reader::block_reader(byte_source& source, std::span<char> storage)
    : source_(&source),
      data_(storage.data()),
      capacity_(storage.size() - kReadSlack) {}

block_reader::block_reader(std::span<char> storage)
    : source_(nullptr),
      data_(storage.data()),
      capacity_(storage.size() - kReadSlack) {}

void block_reader::compact() {
  if (pos_ > 0) {
    std::memmove(data_, data_ + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
}

std::size_t block_reader::append(std::string_view bytes) {
  compact();
  const std::size_t n = std::min(bytes.size(), capacity_ - end_);
  if (n > 0) std::memcpy(data_ + end_, bytes.data(), n);
  end_ += n;
  std::memset(data_ + end_, 0, kReadSlack);
  return n;
}

bool block_reader::refill() {
  if (eof_ || failed_ || source_ == nullptr) return false;
  compact();
  const auto n = source_->read({data_ + end_, capacity_ - end_});
  if (!n) {
    failed_ = true;
  } else if (*n == 0) {
    eof_ = true;
  } else {
    end_ += *n;
  }
  // The kernels may read the slack past the input, though its bytes mean
  // nothing; they must still have values, or a branch on a mask that takes
  // them in reads memory never written.
  std::memset(data_ + end_, 0, kReadSlack);
  return n && *n > 0;
}

output_buffer::output_buffer(byte_sink& sink, std::span<char> storage)
    : sink_(sink), buf_(storage.data()), capacity_(storage.size()) {}

bool output_buffer::flush() {
  if (ok_ && size_ > start_) ok_ = sink_.write(pending());
  start_ = size_ = 0;
  return ok_;
}

}  // namespace zorbu
