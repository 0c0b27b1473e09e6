// The one-shot conversion: the filter core over a whole input in memory,
// writing straight into the caller's buffer, with nothing allocated.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "common/status.hpp"
#include "simd/kernels.hpp"

namespace zorbu {

struct one_shot_result {
  status result;
  std::size_t written;  // bytes of output at the start of dst
};

// Converts all of input into dst, using no more than 40 KiB of stack
// besides. Returns done with the output's size; invalid with 0; or
// output_full when dst is too short, with dst holding the output's first
// bytes, all that fit.
one_shot_result convert_one_shot(std::string_view input, std::span<char> dst,
                                 const simd::kernels& kernels);

// Returns why a whole input is not an rt file, or none when it is one;
// reads no further than that takes.
invalid_reason judge_one_shot(std::string_view input,
                              const simd::kernels& kernels);

}  // namespace zorbu
