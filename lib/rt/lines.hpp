// The lines of an rt file, as a bounded line read cuts them: a line ends
// after a newline, after kMaxLine bytes, or at the end of the input.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

#include "common/rt_format.hpp"
#include "simd/find_byte.hpp"

namespace zorbu {

// Returns the length of the line that begins `rest`, or 0 when rest does not
// hold all of it yet; `at_end` says that no more input follows rest.
inline std::size_t line_length(std::string_view rest, bool at_end) {
  const char* const line = rest.data();
  const char* const limit = line + std::min(rest.size(), kMaxLine);
  const char* const newline = find_byte(line, limit, '\n');
  if (newline != limit) return static_cast<std::size_t>(newline - line) + 1;
  if (rest.size() >= kMaxLine) return kMaxLine;
  return at_end ? rest.size() : 0;
}

// Returns how many lines `rest` holds, an unfinished one at its end
// counting as one.
std::size_t count_lines(std::string_view rest);

// Returns the start of the line that holds the byte at p; begin, at or
// before p, must start a line.
const char* line_start(const char* begin, const char* p);

// Returns the offset in `region`, which begins a line, where its last
// `count` lines begin, an unfinished line at its end counting as one; 0 when
// it holds no more than `count` lines.
std::size_t last_lines_start(std::string_view region, std::size_t count);

}  // namespace zorbu
