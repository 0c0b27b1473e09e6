// The filter for a caller that hands it input as it comes and takes its
// output as room allows: a run that can stop and resume at any byte, in
// memory of its own, allocated once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "io/byte_io.hpp"
#include "rt/filter_run.hpp"
#include "simd/kernels.hpp"

namespace zorbu {

class rt_stream {
 public:
  enum class status : std::uint8_t {
    done,         // push: all input taken; finish: all output written
    output_full,  // output is due and there is no room for it
    invalid,      // the input is not an rt file
    misuse        // a push after finish, without a reset
  };

  // Returns a new stream, or nullptr when its memory cannot be had.
  static std::unique_ptr<rt_stream> create(const simd::kernels& kernels);
  ~rt_stream() = default;
  rt_stream(const rt_stream&) = delete;
  rt_stream& operator=(const rt_stream&) = delete;

  // Takes what it can of in, and writes what is decided to out; both
  // advance past what was used.
  status push(std::string_view& in, std::span<char>& out);
  // Ends the input, and writes what the end decides to out, which
  // advances; called again after output_full, goes on.
  status finish(std::span<char>& out);
  // Starts again on a new input, with the same kernels.
  void reset();
  const simd::kernels& kernels() const { return kernels_; }

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
    filter_run run;
  };

  rt_stream(char* storage, const simd::kernels& kernels);
  // Copies pending output to out; returns false while some is left.
  bool drain(std::span<char>& out);
  // Steps the run once.
  void step();

  std::unique_ptr<char, decltype(&std::free)> storage_;
  const simd::kernels& kernels_;
  std::optional<parts> parts_;
  filter_run::step_status last_ = filter_run::step_status::need_input;
  bool ended_ = false;
};

}  // namespace zorbu
