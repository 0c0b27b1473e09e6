// The push stream: the filter core for a caller that hands it input as it
// comes and takes its output as room allows, a run that can stop and resume
// at any byte, in memory of its own, allocated once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "common/byte_buffers.hpp"
#include "common/status.hpp"
#include "filter/filter_core.hpp"
#include "simd/kernels.hpp"

namespace zorbu {

class push_stream {
 public:
  // Returns a new stream, or nullptr when its memory cannot be had.
  static std::unique_ptr<push_stream> create(const simd::kernels& kernels);
  ~push_stream() = default;
  push_stream(const push_stream&) = delete;
  push_stream& operator=(const push_stream&) = delete;

  // Takes what it can of in, and writes what is decided to out; both
  // advance past what was used. Returns done once in is all taken,
  // output_full while out has no room for what is due, invalid, or misuse
  // after finish.
  status push(std::string_view& in, std::span<char>& out);
  // Ends the input, and writes what the end decides to out, which
  // advances. Returns done once all output is written, output_full (call
  // again, with room), or invalid.
  status finish(std::span<char>& out);
  // Starts again on a new input, with the same kernels.
  void reset();
  // Runs on other kernels from now on; misuse once anything was pushed or
  // finished since the stream was made or reset.
  status set_kernels(const simd::kernels& kernels);
  const simd::kernels& kernels() const { return *kernels_; }
  // Returns why the input is not an rt file, once a push or a finish has
  // returned invalid; none before.
  invalid_reason reason() const {
    return found_invalid() ? parts_->run.reason() : invalid_reason::none;
  }

 private:
  // The output is taken by the caller, never written anywhere.
  class no_sink final : public byte_sink {
   public:
    bool write(std::string_view) override { return false; }
  };

  // A run over the stream's storage; they refer to each other, so a reset
  // makes them anew together.
  struct parts {
    parts(char* storage, const simd::kernels& kernels);
    no_sink sink;
    block_reader reader;
    output_buffer out;
    filter_core run;
  };

  push_stream(char* storage, const simd::kernels& kernels);
  // Copies pending output to out; returns false while some is left.
  bool drain(std::span<char>& out);
  // Steps the run once, writing into out where it has room for all a step
  // can make.
  void step(std::span<char>& out);
  // Gives the reader more of in: lent where it stands, or joined to what
  // the reader holds.
  void take_input(std::string_view& in);
  // Has the reader keep what the run left of the lent bytes of in, and
  // moves in past what it has taken or kept.
  void keep_lent(std::string_view& in);
  // Ends a push with result, leaving in where the run stopped taking it.
  status leave(std::string_view& in, status result);

  // Returns true once the run has found the input invalid.
  bool found_invalid() const;

  std::unique_ptr<char, decltype(&std::free)> storage_;
  const simd::kernels* kernels_;
  std::optional<parts> parts_;
  filter_core::progress last_ = filter_core::progress::need_input;
  bool pushed_ = false;
  bool ended_ = false;
  // Bytes at the front of the push's input that were joined to what the
  // reader holds, and stand in it still.
  std::size_t joined_ = 0;
};

}  // namespace zorbu
