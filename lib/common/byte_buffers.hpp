// The filter's buffers: the block reader its input goes through, the output
// buffer its output goes through, and the sources and sinks behind them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

namespace zorbu {

// Where input bytes come from: a file descriptor in the program, memory in
// tests.
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

// Reads its source once, front to back, and lends out what it holds. Each
// read goes behind the bytes not yet consumed, which move to the front of
// its storage first; so a view of what it holds stays valid only until
// refill(). A reader over a whole input in memory lends that memory itself.
class block_reader {
 public:
  static constexpr std::size_t kDefaultBlock = std::size_t{128} << 10;
  // How many unconsumed bytes a caller may leave before a refill.
  static constexpr std::size_t kMaxCarry = 4096;

  // Past the last byte read into storage there are always this many more
  // that may be read, though they mean nothing: vector loads need not stop
  // short.
  static constexpr std::size_t kReadSlack = 256;

  // The storage a reader with reads of `block` bytes needs.
  static constexpr std::size_t storage_for(std::size_t block) {
    return std::max<std::size_t>(block, 1) + kMaxCarry + kReadSlack;
  }

  // Reads into storage of storage_for(block) bytes at least.
  block_reader(byte_source& source, std::span<char> storage);
  // Takes its input from append() instead, in the same storage.
  explicit block_reader(std::span<char> storage);
  // Holds the whole input, which it lends as it is, with nothing readable
  // past its end; at_end() from the start.
  explicit block_reader(std::string_view whole_input);

  // Returns the bytes read and not yet consumed; empty when there are none.
  std::string_view buffered() const { return {data_ + pos_, end_ - pos_}; }
  void consume(std::size_t n) { pos_ += n; }
  // Returns how far past what is buffered may be read, though those bytes
  // mean nothing.
  const char* readable_end() const { return data_ + end_ + slack_; }
  // Reads more behind what is buffered; returns false at end of input or
  // when the read failed (then failed() is true). Leaves at most kMaxCarry
  // bytes unconsumed before calling it.
  bool refill();
  // Copies bytes behind what is buffered, as refill() reads them; returns
  // how many it took, all of them unless the storage is full.
  std::size_t append(std::string_view bytes);
  // Marks the end of the input that append() gives.
  void end_input() { eof_ = true; }
  // Lends bytes where they stand, in place of what is buffered, which must
  // be a copy of their first bytes: nothing past their end is read, and
  // they are read from where they stand until keep().
  void lend(std::string_view bytes);
  // Returns true while lent bytes are buffered, for a reader that takes its
  // input from append().
  bool lending() const { return data_ != storage_; }
  // Copies what is buffered of the lent bytes into the storage, as much as
  // it takes, and reads from there again; returns how many it copied.
  std::size_t keep();
  // Returns true once the source has said there is no more input.
  bool at_end() const { return eof_; }
  // Returns true once a read has failed.
  bool failed() const { return failed_; }

 private:
  // Moves the bytes not yet consumed to the front of the storage.
  void compact();

  byte_source* source_;
  char* storage_;         // nullptr when the input is lent whole
  const char* data_;      // storage_, or the input lent whole
  std::size_t capacity_;  // without the slack
  std::size_t slack_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool eof_ = false;
  bool failed_ = false;
};

// Copies bytes to out, which has room for them; returns the end of the copy.
inline char* put_bytes(char* out, std::string_view bytes) {
  std::memcpy(out, bytes.data(), bytes.size());
  return out + bytes.size();
}

// Collects output in one buffer and hands it to a sink in big writes. After
// a failed write it drops everything, and every later flush fails too.
class output_buffer {
 public:
  // Buffers into storage; writes it out when a request for room does not
  // fit, so room() may be asked for up to storage.size() bytes at once.
  output_buffer(byte_sink& sink, std::span<char> storage);
  // Writes straight into dst, the output's final place, until a request
  // for room does not fit in what dst has left; from then on into spill,
  // whose bytes are copied behind the others as they fit whenever it is
  // flushed. room() may be asked for up to spill.size() bytes at once. A
  // flush fails once dst cannot take all of the output.
  output_buffer(std::span<char> dst, std::span<char> spill);

  // Returns room for n bytes at the end of the buffer, writing the buffer
  // out first when it is short; pass the end of what was written there to
  // commit().
  char* room(std::size_t n) {
    if (n > capacity_ - size_) flush();
    return buf_ + size_;
  }
  void commit(const char* end) { size_ = static_cast<std::size_t>(end - buf_); }
  // Returns what was written and not yet flushed or taken; for a caller
  // that takes the output itself instead of giving a sink.
  std::string_view pending() const { return {buf_ + start_, size_ - start_}; }
  // Drops the first n pending bytes, which the caller has taken.
  void taken(std::size_t n) {
    start_ += n;
    if (start_ == size_) start_ = size_ = 0;
  }
  void append(std::string_view bytes) {
    commit(put_bytes(room(bytes.size()), bytes));
  }
  // Writes the buffer out; returns false if this or any earlier write failed.
  bool flush();
  // Writes into room, the output's final place, with nothing pending, until
  // take_redirected(): for a caller whose room takes all that is asked of
  // the buffer, so that nothing is copied twice.
  void redirect(std::span<char> room);
  // Returns how many bytes were written into the room given to redirect(),
  // and goes back to the buffer's own storage.
  std::size_t take_redirected();
  bool ok() const { return ok_; }
  // Returns how many bytes of dst hold output, once flushed; 0 with a sink.
  std::size_t placed() const { return placed_; }

 private:
  // Makes what is buffered final in dst; returns false when dst is full.
  bool place();

  byte_sink* sink_;  // nullptr when writing into dst
  char* buf_;
  std::size_t capacity_;
  std::size_t start_ = 0;  // pending bytes begin here; 0 unless taken
  std::size_t size_ = 0;
  bool ok_ = true;
  std::span<char> dst_;
  std::span<char> spill_;
  std::size_t placed_ = 0;
  char* own_ = nullptr;  // the storage, while redirected elsewhere
  std::size_t own_capacity_ = 0;
};

}  // namespace zorbu
