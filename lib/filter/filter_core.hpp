// The filter core: one run of the filter over one input, a step at a time.
// Each step decides what the input buffered so far decides, so that the
// same run serves the pull driver, which reads ahead, the push stream,
// which is handed bytes as they come, and the one-shot conversion, which
// has the whole input at once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/byte_buffers.hpp"
#include "common/status.hpp"
#include "rt/body_writer.hpp"
#include "simd/kernels.hpp"

namespace zorbu {

// Judges the first line of a file. Returns how many closing lines end an rt
// file that begins so: 2 when a `font` tag follows the `window` tag, else 1;
// 0 when the line has no `window` tag, so that the file is no rt file.
int check_rt(std::string_view first_line);

// The input is read once, so the closing lines cannot be counted ahead:
// they are the last one or two lines, and a line is known to be a body line
// only once that many lines have come after it. Until then it stays in the
// reader's buffer, unconsumed. The first line stays there too until the
// file is known to be valid: a body line arrived, or the input ended with
// fewer lines after the first than closing lines, which is allowed; exactly
// as many is not.
class filter_core {
 public:
  // Where a run stands after a step; how it ended is result().
  enum class progress : std::uint8_t {
    need_input,  // nothing more is decided until more input comes
    again,       // more is decided: take the output, then step again
    finished     // result() tells how the run ended
  };

  // Each step rewrites at most about step_limit bytes of body, so that
  // what it writes is bounded; SIZE_MAX lets a step take all there is.
  // Segment text is converted in runs of up to longest_run bytes, which
  // bounds what one request for output room asks for.
  filter_core(block_reader& in, output_buffer& out,
              const simd::kernels& kernels, std::size_t step_limit = SIZE_MAX,
              std::size_t longest_run = body_writer::kLongestRun)
      : in_(in),
        out_(out),
        kernels_(kernels),
        body_(out, kernels, longest_run),
        step_limit_(step_limit) {}

  // Decides what the buffered input decides, and at the end of input,
  // everything: then the run is finished.
  progress step();
  // Returns done for a valid input, invalid for another, once finished.
  status result() const { return result_; }
  // Returns why the run found the input invalid; none until it has.
  invalid_reason reason() const { return reason_; }
  // Returns true once the input is known to be an rt file.
  bool known_valid() const { return started_; }
  // Returns true until the first line has been read whole.
  bool reading_first_line() const { return closing_ == 0; }
  // Sets the body a step rewrites at most from now on, kMaxLine or more.
  void set_step_limit(std::size_t step_limit) { step_limit_ = step_limit; }

 private:
  void start();
  progress invalid(invalid_reason why);

  block_reader& in_;
  output_buffer& out_;
  const simd::kernels& kernels_;
  body_writer body_;
  std::size_t step_limit_;
  std::size_t held_first_line_ = 0;  // the first line's length, while held
  std::size_t closing_ = 0;
  bool started_ = false;
  status result_ = status::done;
  invalid_reason reason_ = invalid_reason::none;
};

}  // namespace zorbu
