#include "tag_search.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "find_byte.hpp"

namespace zorbu {

namespace {

// Returns true if text begins with prefix. Names are a few bytes long, and a
// plain loop beats a call to memcmp for them.
bool begins_with(const char* text, std::size_t size, std::string_view prefix) {
  if (size < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (text[i] != prefix[i]) return false;
  }
  return true;
}

// Offset of the first c in str at or after from, or npos.
std::size_t find_byte(std::string_view str, std::size_t from, char c) {
  if (from >= str.size()) return std::string_view::npos;
  const char* const end = str.data() + str.size();
  const char* const hit = zorbu::find_byte(str.data() + from, end, c);
  return hit == end ? std::string_view::npos
                    : static_cast<std::size_t>(hit - str.data());
}

// Returns true if a tag named name can stand in str: its text would begin
// with '<' and the name, so a line without that sequence has no such tag.
// Most lines have none, and this says so at SIMD speed instead of walking
// every tag on the line.
bool may_hold_tag(std::string_view str, std::string_view name) {
  const char* p = str.data();
  const char* const end = str.data() + str.size();
  const auto rest_matches = [&](const char* lt) {
    return begins_with(lt + 1, static_cast<std::size_t>(end - lt - 1), name);
  };
#if defined(__SSE2__)
  // Look for '<' followed by the name's first byte, sixteen places at once;
  // the last block may overlap the one before, which only checks some
  // places twice.
  if (end - p >= 17) {
    const __m128i lt = _mm_set1_epi8('<');
    const __m128i first = _mm_set1_epi8(name[0]);
    for (const char* block = p;; block += 16) {
      if (end - block < 17) block = end - 17;
      const __m128i here =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
      const __m128i next =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 1));
      auto pairs = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(
          _mm_cmpeq_epi8(here, lt), _mm_cmpeq_epi8(next, first))));
      for (; pairs != 0; pairs &= pairs - 1) {
        if (rest_matches(block + __builtin_ctz(pairs))) return true;
      }
      if (block == end - 17) return false;
    }
  }
#endif
  for (; p < end; ++p) {
    if (*p == '<' && rest_matches(p)) return true;
  }
  return false;
}

}  // namespace

std::optional<std::size_t> search_tag(std::string_view str,
                                      std::string_view name, tag_info& tag) {
  const bool any = name == "*";
  if (!any && !name.empty() && !may_hold_tag(str, name)) {
    tag.name = {};
    tag.start = tag.end = std::nullopt;
    return std::nullopt;
  }
  std::size_t from = 0;
  for (;;) {
    tag.name = {};
    const std::size_t lt = find_byte(str, from, '<');
    const std::size_t gt = find_byte(str, lt, '>');
    std::string_view inside;
    if (gt != std::string_view::npos) {
      tag.self_closing = str[gt - 1] == '/';
      inside = str.substr(lt + 1, gt - lt - 1);
      if (tag.self_closing) inside.remove_suffix(1);
    }
    // A tag with no name ends the search even if a wanted one follows.
    if (inside.empty() || inside[0] == ' ') {
      tag.start = tag.end = std::nullopt;
      return std::nullopt;
    }
    // Only a space ends a name: a tab is part of it. A tag whose first bytes
    // already differ is passed over without working out its name.
    if (any || begins_with(inside.data(), inside.size(), name)) {
      const std::string_view found = inside.substr(0, inside.find(' '));
      if (any || found == name) {
        tag.name = found;
        tag.text = str.substr(lt, gt - lt + 1);
        tag.start = lt;
        tag.end = gt;
        return gt + 1;
      }
    }
    from = gt;
  }
}

}  // namespace zorbu
