#include "byte_io.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zorbu {

std::optional<std::size_t> FdSource::read(std::span<char> buf) {
  for (;;) {
    const ssize_t n = ::read(fd_, buf.data(), buf.size());
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return std::nullopt;
  }
}

bool FdSource::rewind() { return ::lseek(fd_, 0, SEEK_SET) == 0; }

bool FdSink::write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::optional<std::size_t> MemorySource::read(std::span<char> buf) {
  const std::size_t n = std::min({buf.size(), chunk_, data_.size() - pos_});
  std::memcpy(buf.data(), data_.data() + pos_, n);
  pos_ += n;
  return n;
}

bool MemorySource::rewind() {
  pos_ = 0;
  return true;
}

LineReader::LineReader(ByteSource& source, std::size_t block)
    // Room for one block behind an unfinished line carried from the last one.
    : source_(source),
      capacity_(std::max<std::size_t>(block, 1) + kMaxLine),
      buffers_{std::make_unique_for_overwrite<char[]>(capacity_),
               std::make_unique_for_overwrite<char[]>(capacity_)},
      data_(buffers_[0].get()) {}

std::optional<std::string_view> LineReader::next_slow() {
  // The buffer ends inside a line.
  for (;;) {
    // A read error cuts the input short; report it rather than hand out the
    // bytes before it as if they were the whole file.
    if (failed_) return std::nullopt;
    if (eof_) {
      if (pos_ == end_) return std::nullopt;
      return take(end_ - pos_);
    }
    fill();
    if (const std::size_t len = cut()) return take(len);
  }
}

void LineReader::fill() {
  if (pos_ > 0) {
    // The unfinished line moves to the front of the other buffer, leaving
    // the lines handed out from this one untouched. The other buffer's own
    // lines were followed by this buffer's, and so are no longer held.
    current_ ^= 1;
    char* const next = buffers_[current_].get();
    const std::size_t carried = end_ - pos_;
    std::memcpy(next, data_ + pos_, carried);
    data_ = next;
    pos_ = 0;
    end_ = carried;
  }
  const auto n = source_.read({data_ + end_, capacity_ - end_});
  if (!n) {
    failed_ = true;
  } else if (*n == 0) {
    eof_ = true;
  } else {
    end_ += *n;
  }
}

bool LineReader::rewind() {
  pos_ = end_ = 0;
  eof_ = failed_ = false;
  return source_.rewind();
}

OutputBuffer::OutputBuffer(ByteSink& sink, std::size_t flush_at)
    // Past the flush mark there is room for a line that triples when its
    // brackets are escaped, so a line never waits for a flush.
    : sink_(sink),
      flush_at_(flush_at),
      capacity_(flush_at + 4 * LineReader::kMaxLine + 4096),
      buf_(std::make_unique_for_overwrite<char[]>(capacity_)) {}

void OutputBuffer::make_room(std::size_t n) {
  flush();
  if (n > capacity_) {
    capacity_ = n;
    buf_ = std::make_unique_for_overwrite<char[]>(capacity_);
  }
}

bool OutputBuffer::flush() {
  if (ok_ && size_ > 0) ok_ = sink_.write({buf_.get(), size_});
  size_ = 0;
  return ok_;
}

bool copy_all(ByteSource& source, ByteSink& sink) {
  const std::size_t size = LineReader::kDefaultBlock;
  const auto buf = std::make_unique_for_overwrite<char[]>(size);
  for (;;) {
    const auto n = source.read({buf.get(), size});
    if (!n) return false;
    if (*n == 0) return true;
    if (!sink.write({buf.get(), *n})) return false;
  }
}

}  // namespace zorbu
