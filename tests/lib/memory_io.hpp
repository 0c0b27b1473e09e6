// Byte sources and sinks in memory, for the tests, fuzzers and benchmarks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "common/byte_buffers.hpp"

namespace zorbu {

// Serves a byte range it does not own; reads at most `chunk` bytes at a time
// so that tests can exercise every refill boundary.
class memory_source final : public byte_source {
 public:
  explicit memory_source(std::string_view data, std::size_t chunk = SIZE_MAX)
      : data_(data), chunk_(chunk) {}
  std::optional<std::size_t> read(std::span<char> buf) override {
    const std::size_t n = std::min({buf.size(), chunk_, data_.size() - pos_});
    std::memcpy(buf.data(), data_.data() + pos_, n);
    pos_ += n;
    ++reads;
    return n;
  }
  int reads = 0;

 private:
  std::string_view data_;
  std::size_t chunk_;
  std::size_t pos_ = 0;
};

// Appends everything to a string.
class string_sink final : public byte_sink {
 public:
  bool write(std::string_view bytes) override {
    data.append(bytes);
    return true;
  }
  std::string data;
};

}  // namespace zorbu
