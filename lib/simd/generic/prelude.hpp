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
#include "common/rt_format.hpp"

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

// For each way that brackets can fall among eight bytes (bit i for byte
// i), which of the eight each of the up to 24 bytes they become is, a
// bracket's three times over; the rest 0x80, which a byte shuffle and a
// table lookup both write as zero. Thirty-two to a row, so that a row's
// offset is its mask shifted by five.
constexpr std::array<std::array<std::uint8_t, 32>, 256> spread_rows() {
  std::array<std::array<std::uint8_t, 32>, 256> t{};
  for (std::size_t b = 0; b < 256; ++b) {
    std::size_t j = 0;
    for (std::size_t i = 0; i < 8; ++i) {
      for (std::size_t n = (b >> i & 1) != 0 ? 3 : 1; n > 0; --n) {
        t[b][j++] = static_cast<std::uint8_t>(i);
      }
    }
    for (; j < 32; ++j) t[b][j] = 0x80;
  }
  return t;
}

// How many bytes eight bytes become, for each way brackets fall among them,
// as spread_rows spreads them.
constexpr std::array<std::uint8_t, 256> spread_sizes() {
  std::array<std::uint8_t, 256> t{};
  for (std::size_t b = 0; b < 256; ++b) {
    t[b] = static_cast<std::uint8_t>(8 + 2 * std::popcount(b));
  }
  return t;
}

}  // namespace zorbu::simd
