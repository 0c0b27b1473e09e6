// What every target's kernels need before generic/kernels.hpp.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "../kernels.hpp"

namespace zorbu::simd {

// Bit i stands for byte i of a vector.
using mask_t = std::uint32_t;

}  // namespace zorbu::simd
