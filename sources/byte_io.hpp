// Byte sources and sinks, the line cutter, and the output buffer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "find_byte.hpp"

namespace zorbu {

// Where input bytes come from: a file descriptor, or memory in tests.
class byte_source {
 public:
  virtual ~byte_source() = default;
  // Fills a prefix of buf; returns its length, 0 at end of input, or
  // std::nullopt when the read failed.
  virtual std::optional<std::size_t> read(std::span<char> buf) = 0;
};

// Where output bytes go.
class byte_sink {
 public:
  virtual ~byte_sink() = default;
  // Writes all of bytes; returns false when any of them could not be written.
  virtual bool write(std::string_view bytes) = 0;
};

// Reads an open descriptor it does not own.
class fd_source final : public byte_source {
 public:
  explicit fd_source(int fd) : fd_(fd) {}
  std::optional<std::size_t> read(std::span<char> buf) override;

 private:
  int fd_;
};

// Writes to an open descriptor it does not own.
class fd_sink final : public byte_sink {
 public:
  explicit fd_sink(int fd) : fd_(fd) {}
  bool write(std::string_view bytes) override;

 private:
  int fd_;
};

// Cuts input into lines the way a bounded line read does: a line ends after a
// newline, after kMaxLine bytes, or at end of input. The input is read once,
// front to back, into one buffer; an unfinished line moves to the buffer's
// front before the next read. So a line handed out stays valid only until
// the next read, and every line handed out since the last read lies in the
// buffer in input order: generation() tells the two cases apart.
class line_reader {
 public:
  static constexpr std::size_t kMaxLine = 1023;
  static constexpr std::size_t kDefaultBlock = std::size_t{256} << 10;

  // The storage a reader with reads of `block` bytes needs.
  static constexpr std::size_t storage_for(std::size_t block) {
    return std::max<std::size_t>(block, 1) + kMaxLine;
  }

  // Reads into storage, which must hold storage_for(1) bytes at least.
  line_reader(byte_source& source, std::span<char> storage);
  // Reads into storage of its own, in reads of about `block` bytes.
  explicit line_reader(byte_source& source, std::size_t block = kDefaultBlock);

  // Returns the next line if it is already in memory; std::nullopt when
  // getting it needs a read, and at end of input.
  std::optional<std::string_view> next_buffered() {
    if (const std::size_t len = cut()) return take(len);
    return std::nullopt;
  }
  // Returns the next line, reading as needed; std::nullopt at end of input or
  // after a failed read (then failed() is true).
  std::optional<std::string_view> next() {
    if (const std::size_t len = cut()) return take(len);
    return next_slow();
  }
  // Returns true once a read has failed.
  bool failed() const { return failed_; }
  // Returns the number of reads so far: lines handed out while it stays the
  // same are still valid and follow one another in memory.
  std::uint64_t generation() const { return generation_; }

 private:
  // The length of the line at pos_ when the buffer holds all of it, else 0.
  std::size_t cut() const {
    const char* const line = data_ + pos_;
    const std::size_t avail = end_ - pos_;
    const char* const limit = line + std::min(avail, kMaxLine);
    const char* const newline = find_byte(line, limit, '\n');
    if (newline != limit) return static_cast<std::size_t>(newline - line) + 1;
    if (avail >= kMaxLine) return kMaxLine;
    return eof_ ? avail : 0;
  }
  std::string_view take(std::size_t len) {
    const char* const line = data_ + pos_;
    pos_ += len;
    return {line, len};
  }
  std::optional<std::string_view> next_slow();
  void fill();

  byte_source& source_;
  std::unique_ptr<char[]> owned_;
  char* data_;
  std::size_t capacity_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  std::uint64_t generation_ = 0;
  bool eof_ = false;
  bool failed_ = false;
};

// Collects output in one buffer and hands it to a sink in big writes. After
// a failed write it drops everything, and every later flush fails too.
class output_buffer {
 public:
  static constexpr std::size_t kDefaultFlushAt = std::size_t{256} << 10;

  // The storage a buffer that flushes at `flush_at` bytes and must take
  // requests for `largest_room` bytes at once needs.
  static constexpr std::size_t storage_for(std::size_t flush_at,
                                           std::size_t largest_room) {
    return flush_at + largest_room;
  }

  // Buffers into storage; room() may then be asked for at most
  // storage.size() - flush_at bytes at once.
  output_buffer(byte_sink& sink, std::span<char> storage, std::size_t flush_at);
  // Buffers into storage of its own, taking room() requests of up to
  // `largest_room` bytes.
  explicit output_buffer(byte_sink& sink,
                         std::size_t flush_at = kDefaultFlushAt,
                         std::size_t largest_room = 64 << 10);

  // Returns room for n bytes at the end of the buffer, flushing first when
  // it is short; pass the end of what was written there to commit().
  char* room(std::size_t n) {
    if (n > capacity_ - size_) flush();
    return buf_ + size_;
  }
  void commit(const char* end) { size_ = static_cast<std::size_t>(end - buf_); }
  void append(std::string_view bytes) {
    char* const at = room(bytes.size());
    std::memcpy(at, bytes.data(), bytes.size());
    commit(at + bytes.size());
  }
  // Writes the buffer out once it holds flush_at bytes; returns ok().
  bool maybe_flush() { return size_ < flush_at_ ? ok_ : flush(); }
  // Writes the buffer out; returns false if this or any earlier write failed.
  bool flush();
  bool ok() const { return ok_; }

 private:
  byte_sink& sink_;
  std::unique_ptr<char[]> owned_;
  char* buf_;
  std::size_t capacity_;
  std::size_t flush_at_;
  std::size_t size_ = 0;
  bool ok_ = true;
};

}  // namespace zorbu
