#include "filter/one_shot.hpp"

#include <cstdint>

#include "buffers/byte_buffers.hpp"
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

}  // namespace

one_shot_result convert_one_shot(std::string_view input, std::span<char> dst,
                                 const simd::kernels& kernels) {
  // Only the output's last requests for room, those that dst is too short
  // to promise, are served from here and copied.
  char spill[kSpillSize];
  block_reader reader(input);
  output_buffer out(dst, {spill, sizeof spill});
  filter_core core(reader, out, kernels, SIZE_MAX, kRun);
  // The whole input is there, so no step waits for more.
  while (core.step() == filter_core::step_status::again) {
  }
  if (core.result() != outcome::rewritten) return {core.result(), 0};
  const bool fits = out.flush();
  return {fits ? outcome::rewritten : outcome::unwritable, out.placed()};
}

}  // namespace zorbu
