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
#include "format/rt_format.hpp"

// Attributes a target may give its kernels, defined before this file.
#ifndef ZORBU_KERNEL
#define ZORBU_KERNEL
#endif

namespace zorbu::simd {

// Bit i stands for byte i of a vector; the widest vector is 64 bytes.
using mask_t = std::uint64_t;

// Added to a bracket, gives the brace its escape repeats: '<' gives '{', and
// the same step takes '>' to '}'.
inline constexpr char kBraceStep = static_cast<char>(kEscapedOpen[0] - '<');
constexpr bool is_three_of(std::string_view s, int c) {
  return s.size() == 3 && s[0] == c && s[1] == c && s[2] == c;
}
static_assert(is_three_of(kEscapedOpen, '<' + kBraceStep) &&
                  is_three_of(kEscapedClose, '>' + kBraceStep),
              "the kernels write an escape as one byte three times, one step "
              "on from its bracket, the same step for both brackets");

}  // namespace zorbu::simd
