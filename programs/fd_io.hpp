// The program's descriptors as the filter's byte source and sink.
#pragma once

#include "zorbu_internal.hpp"

namespace zorbu {

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

}  // namespace zorbu
