#include "filter/one_shot.hpp"

#include <cstdint>

#include "common/byte_buffers.hpp"
#include "filter/filter_core.hpp"
#include "rt/body_writer.hpp"

namespace zorbu {

namespace {

// Runs of segment text this short keep every request for output room within
// a spill that the stack holds easily; a run costs a few instructions more
// than a longer one would, once every 12 KiB.
constexpr std::size_t kRun = std::size_t{12} << 10;
constexpr std::size_t kSpillSize = largest_room(kRun);
static_assert(kSpillSize <= std::size_t{40} << 10);

// The judge rewrites no more than a line of body, and what comes before it,
// into room that takes the largest request of a step that short.
constexpr std::size_t kJudgeStep = kMaxLine;
constexpr std::size_t kJudgeRoom = 4 * text_converter::max_output(kMaxLine);

// Takes output and keeps none of it.
class discarding_sink final : public byte_sink {
 public:
  bool write(std::string_view) override { return true; }
};

}  // namespace

invalid_reason judge_one_shot(std::string_view input,
                              const simd::kernels& kernels) {
  char room[kJudgeRoom];
  discarding_sink sink;
  block_reader reader(input);
  output_buffer out(sink, {room, sizeof room});
  filter_core core(reader, out, kernels, kJudgeStep, kJudgeStep);
  while (!core.known_valid() && core.step() == filter_core::progress::again) {
  }
  return core.reason();
}

one_shot_result convert_one_shot(std::string_view input, std::span<char> dst,
                                 const simd::kernels& kernels) {
  // Only the output's last requests for room, those that dst is too short
  // to promise, are served from here and copied.
  char spill[kSpillSize];
  block_reader reader(input);
  output_buffer out(dst, {spill, sizeof spill});
  filter_core core(reader, out, kernels, SIZE_MAX, kRun);
  // The whole input is there, so no step waits for more.
  while (core.step() == filter_core::progress::again) {
  }
  if (core.result() != status::done) return {core.result(), 0};
  const bool fits = out.flush();
  return {fits ? status::done : status::output_full, out.placed()};
}

}  // namespace zorbu
