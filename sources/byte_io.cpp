#include "byte_io.hpp"

#include <unistd.h>

#include <cerrno>

namespace zorbu {

std::optional<std::size_t> fd_source::read(std::span<char> buf) {
  for (;;) {
    const ssize_t n = ::read(fd_, buf.data(), buf.size());
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return std::nullopt;
  }
}

bool fd_sink::write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    // A write that takes nothing would take nothing again: retrying it
    // would spin for ever.
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

line_reader::line_reader(byte_source& source, std::span<char> storage)
    : source_(source), data_(storage.data()), capacity_(storage.size()) {}

line_reader::line_reader(byte_source& source, std::size_t block)
    : source_(source),
      owned_(std::make_unique_for_overwrite<char[]>(storage_for(block))),
      data_(owned_.get()),
      capacity_(storage_for(block)) {}

std::optional<std::string_view> line_reader::next_slow() {
  // The buffer ends inside a line.
  for (;;) {
    // A read error cuts the input short; report it rather than hand out the
    // bytes before it as if they were the whole file.
    if (failed_) return std::nullopt;
    if (eof_) return std::nullopt;
    fill();
    if (const std::size_t len = cut()) return take(len);
  }
}

void line_reader::fill() {
  // The unfinished line moves to the front, making room for a whole block
  // behind it: it is shorter than kMaxLine.
  const std::size_t carried = end_ - pos_;
  if (pos_ > 0) {
    std::memmove(data_, data_ + pos_, carried);
    pos_ = 0;
    end_ = carried;
  }
  ++generation_;
  const auto n = source_.read({data_ + end_, capacity_ - end_});
  if (!n) {
    failed_ = true;
  } else if (*n == 0) {
    eof_ = true;
  } else {
    end_ += *n;
  }
}

output_buffer::output_buffer(byte_sink& sink, std::span<char> storage,
                             std::size_t flush_at)
    : sink_(sink),
      buf_(storage.data()),
      capacity_(storage.size()),
      flush_at_(flush_at) {}

output_buffer::output_buffer(byte_sink& sink, std::size_t flush_at,
                             std::size_t largest_room)
    : sink_(sink),
      owned_(std::make_unique_for_overwrite<char[]>(
          storage_for(flush_at, largest_room))),
      buf_(owned_.get()),
      capacity_(storage_for(flush_at, largest_room)),
      flush_at_(flush_at) {}

bool output_buffer::flush() {
  if (ok_ && size_ > 0) ok_ = sink_.write({buf_, size_});
  size_ = 0;
  return ok_;
}

}  // namespace zorbu
