#include "rt/lines.hpp"

#include <cstring>

namespace zorbu {

std::size_t count_lines(std::string_view rest) {
  std::size_t lines = 0;
  for (; !rest.empty(); ++lines) rest.remove_prefix(line_length(rest, true));
  return lines;
}

const char* line_start(const char* begin, const char* p) {
  // A line starts a whole number of kMaxLine bytes after the start of its
  // newline-ended stretch.
  const char* origin = begin;
  if (p > begin && p[-1] == '\n') {
    origin = p;
  } else if (const void* nl =
                 memrchr(begin, '\n', static_cast<std::size_t>(p - begin))) {
    origin = static_cast<const char*>(nl) + 1;
  }
  return origin + static_cast<std::size_t>(p - origin) / kMaxLine * kMaxLine;
}

std::size_t last_lines_start(std::string_view region, std::size_t count) {
  const char* const begin = region.data();
  const char* end = begin + region.size();
  for (; count > 0 && end != begin; --count) end = line_start(begin, end - 1);
  return count > 0 ? 0 : static_cast<std::size_t>(end - begin);
}

}  // namespace zorbu
