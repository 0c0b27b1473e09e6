// Finding one byte in a short range, shared by the line cutter and the tag
// search.
#pragma once

#include <cstddef>
#include <cstring>

namespace zorbu {

// Returns the first c in [p, end), or end. The C library's memchr is
// vectorised for the processor it runs on, so the search needs no kernel
// set of its own.
inline const char* find_byte(const char* p, const char* end, char c) {
  const void* hit = std::memchr(p, c, static_cast<std::size_t>(end - p));
  return hit != nullptr ? static_cast<const char*>(hit) : end;
}

}  // namespace zorbu
