// Finding one byte in a short range, shared by the line cutter and the tag
// search.
#pragma once

#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zorbu {

// Returns the first c in [p, end), or end. Lines and tags are mostly short,
// so the first 64 bytes are tested in place, sixteen at a time, and only a
// longer search pays for a call to memchr.
inline const char* find_byte(const char* p, const char* end, char c) {
#if defined(__SSE2__)
  const __m128i wanted = _mm_set1_epi8(c);
  for (int probe = 0; probe < 4 && end - p >= 16; ++probe, p += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int hits = _mm_movemask_epi8(_mm_cmpeq_epi8(v, wanted));
    if (hits != 0) return p + __builtin_ctz(static_cast<unsigned>(hits));
  }
#endif
  const void* hit = std::memchr(p, c, static_cast<std::size_t>(end - p));
  return hit != nullptr ? static_cast<const char*>(hit) : end;
}

}  // namespace zorbu
