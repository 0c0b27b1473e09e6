// Byte sources and sinks, the line cutter shared by every pass over the
// input, and the output buffer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "find_byte.hpp"

namespace zorbu {

// Where input bytes come from: a file descriptor, or memory in tests.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Fills a prefix of buf; returns its length, 0 at end of input, or
  // std::nullopt when the read failed.
  virtual std::optional<std::size_t> read(std::span<char> buf) = 0;
  // Goes back to the first byte; returns false when that is not possible.
  virtual bool rewind() = 0;
};

// Where output bytes go.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all of bytes; returns false when any of them could not be written.
  virtual bool write(std::string_view bytes) = 0;
};

// Reads an open descriptor it does not own.
class FdSource final : public ByteSource {
 public:
  explicit FdSource(int fd) : fd_(fd) {}
  std::optional<std::size_t> read(std::span<char> buf) override;
  bool rewind() override;

 private:
  int fd_;
};

// Writes to an open descriptor it does not own.
class FdSink final : public ByteSink {
 public:
  explicit FdSink(int fd) : fd_(fd) {}
  bool write(std::string_view bytes) override;

 private:
  int fd_;
};

// Serves a byte range it does not own; reads at most `chunk` bytes at a time
// so that tests can exercise every refill boundary.
class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::string_view data, std::size_t chunk = SIZE_MAX)
      : data_(data), chunk_(chunk) {}
  std::optional<std::size_t> read(std::span<char> buf) override;
  bool rewind() override;

 private:
  std::string_view data_;
  std::size_t chunk_;
  std::size_t pos_ = 0;
};

// Appends everything to a string.
class StringSink final : public ByteSink {
 public:
  bool write(std::string_view bytes) override {
    data.append(bytes);
    return true;
  }
  std::string data;
};

// Cuts input into lines the way a bounded line read does: a line ends after a
// newline, after kMaxLine bytes, or at end of input. Every pass over the input
// uses this one cutter, so that counting and rewriting always agree.
//
// Reads alternate between two buffers. A line that directly follows the one
// before it in memory came from the same read, so a caller may keep a run of
// such lines as one span: the span stays valid until the call to next() after
// the first line that does not follow on.
class LineReader {
 public:
  static constexpr std::size_t kMaxLine = 1023;
  static constexpr std::size_t kDefaultBlock = std::size_t{256} << 10;

  explicit LineReader(ByteSource& source, std::size_t block = kDefaultBlock);

  // Returns the next line; std::nullopt at end of input or after a failed
  // read (then failed() is true).
  std::optional<std::string_view> next() {
    if (const std::size_t len = cut()) return take(len);
    return next_slow();
  }
  // Returns true once a read has failed.
  bool failed() const { return failed_; }
  // Starts again at the first byte; returns false when the source cannot.
  bool rewind();

 private:
  // The length of the line at pos_ when the buffer holds all of it, else 0.
  std::size_t cut() const {
    const char* const line = data_ + pos_;
    const std::size_t avail = end_ - pos_;
    const char* const limit = line + std::min(avail, kMaxLine);
    const char* const newline = find_byte(line, limit, '\n');
    if (newline != limit) return static_cast<std::size_t>(newline - line) + 1;
    return avail >= kMaxLine ? kMaxLine : 0;
  }
  std::string_view take(std::size_t len) {
    const char* const line = data_ + pos_;
    pos_ += len;
    return {line, len};
  }
  std::optional<std::string_view> next_slow();
  void fill();

  ByteSource& source_;
  std::size_t capacity_;
  std::unique_ptr<char[]> buffers_[2];
  int current_ = 0;
  char* data_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool eof_ = false;
  bool failed_ = false;
};

// Collects output in one large buffer and hands it to a sink in big writes.
// After a failed write it drops everything, so callers check ok() at the end
// (and may check it earlier to stop work that can no longer be written).
class OutputBuffer {
 public:
  static constexpr std::size_t kDefaultFlushAt = std::size_t{256} << 10;

  explicit OutputBuffer(ByteSink& sink, std::size_t flush_at = kDefaultFlushAt);

  // Returns room for n bytes at the end of the buffer, flushing first when
  // it is short; pass the end of what was written there to commit().
  char* room(std::size_t n) {
    if (n > capacity_ - size_) make_room(n);
    return buf_.get() + size_;
  }
  void commit(const char* end) {
    size_ = static_cast<std::size_t>(end - buf_.get());
  }
  void append(std::string_view bytes) {
    char* const at = room(bytes.size());
    std::memcpy(at, bytes.data(), bytes.size());
    commit(at + bytes.size());
  }
  // Writes the buffer out once it is large enough; returns ok().
  bool maybe_flush() { return size_ < flush_at_ ? ok_ : flush(); }
  // Writes the buffer out; returns false if this or any earlier write failed.
  bool flush();
  bool ok() const { return ok_; }

 private:
  void make_room(std::size_t n);

  ByteSink& sink_;
  std::size_t flush_at_;
  std::size_t capacity_;
  std::unique_ptr<char[]> buf_;
  std::size_t size_ = 0;
  bool ok_ = true;
};

// Copies everything from source into sink until end of input; returns false
// when a read or a write failed.
bool copy_all(ByteSource& source, ByteSink& sink);

}  // namespace zorbu
