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
      buf_(new char[capacity_]) {}

std::optional<std::string_view> LineReader::next() {
  for (;;) {
    const std::size_t avail = end_ - pos_;
    const char* const line = buf_.get() + pos_;
    std::size_t len = 0;
    if (const void* nl = std::memchr(line, '\n', std::min(avail, kMaxLine))) {
      len = static_cast<std::size_t>(static_cast<const char*>(nl) - line) + 1;
    } else if (avail >= kMaxLine) {
      len = kMaxLine;
    } else if (eof_ || failed_) {
      // A read error cuts the input short; report it rather than hand out
      // the bytes before it as if they were the whole file.
      if (failed_ || avail == 0) return std::nullopt;
      len = avail;
    } else {
      fill();
      continue;
    }
    pos_ += len;
    return std::string_view(line, len);
  }
}

bool LineReader::fill() {
  if (pos_ > 0) {
    std::memmove(buf_.get(), buf_.get() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  const auto n = source_.read({buf_.get() + end_, capacity_ - end_});
  if (!n) {
    failed_ = true;
    return false;
  }
  if (*n == 0) {
    eof_ = true;
    return false;
  }
  end_ += *n;
  return true;
}

bool LineReader::rewind() {
  pos_ = end_ = 0;
  eof_ = failed_ = false;
  return source_.rewind();
}

OutputBuffer::OutputBuffer(ByteSink& sink) : sink_(sink) {
  // A full buffer plus the largest single append (a line that triples when
  // its brackets are escaped) never reallocates.
  buf_.reserve(kFlushAt + 8 * LineReader::kMaxLine);
}

bool OutputBuffer::flush() {
  if (ok_ && !buf_.empty()) ok_ = sink_.write(buf_);
  buf_.clear();
  return ok_;
}

bool copy_all(ByteSource& source, ByteSink& sink) {
  const std::size_t size = LineReader::kDefaultBlock;
  const std::unique_ptr<char[]> buf(new char[size]);
  for (;;) {
    const auto n = source.read({buf.get(), size});
    if (!n) return false;
    if (*n == 0) return true;
    if (!sink.write({buf.get(), *n})) return false;
  }
}

}  // namespace zorbu
