// What every target's kernels need before generic/kernels.hpp.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "../kernels.hpp"
#include "rt/colors.hpp"

// Attributes a target may give its kernels, defined before this file.
#ifndef ZORBU_KERNEL
#define ZORBU_KERNEL
#endif

namespace zorbu::simd {

// Bit i stands for byte i of a vector; the widest vector is 64 bytes.
using mask_t = std::uint64_t;

// Added to a bracket, gives the brace its escape repeats: '<' gives '{', and
// the same step takes '>' to '}'.
inline constexpr char kBraceStep = '{' - '<';
static_assert('>' + kBraceStep == '}');

}  // namespace zorbu::simd
