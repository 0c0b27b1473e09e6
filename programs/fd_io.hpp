// The program's descriptors as the filter's byte source and sink.
#pragma once

#include <cstdint>

#include "zorbu_internal.hpp"

namespace zorbu {

// Reads an open descriptor it does not own.
class fd_source final : public byte_source {
 public:
  explicit fd_source(int fd) : fd_(fd) {}
  std::optional<std::size_t> read(std::span<char> buf) override;
  // Returns the errno of the read that failed; 0 while none has.
  int error() const { return error_; }
  // Returns how many bytes the reads have given.
  std::uint64_t bytes_read() const { return bytes_read_; }

 private:
  int fd_;
  int error_ = 0;
  std::uint64_t bytes_read_ = 0;
};

// Writes to an open descriptor it does not own.
class fd_sink final : public byte_sink {
 public:
  explicit fd_sink(int fd) : fd_(fd) {}
  bool write(std::string_view bytes) override;

 private:
  int fd_;
};

}  // namespace zorbu
