// Finding where a tag of a given name may start.
// Part of the kernels written once over a vector type V: included by
// generic/kernels.hpp, inside each target's own namespace.
#pragma once

inline bool rest_is(const char* at, const char* end, std::string_view name) {
  if (static_cast<std::size_t>(end - at) < name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (at[i] != name[i]) return false;
  }
  return true;
}

inline const char* find_tag_start(const char* p, const char* end,
                                  std::string_view name) {
  constexpr std::size_t W = V::kWidth;
  // '<' and the name's first byte side by side, W places at a time.
  while (static_cast<std::size_t>(end - p) >= W + 1) {
    mask_t pairs = V::eq(V::load(p), '<') & V::eq(V::load(p + 1), name[0]);
    for (; pairs != 0; pairs &= pairs - 1) {
      const char* const at = p + count_zeros(pairs);
      if (rest_is(at + 1, end, name)) return at;
    }
    p += W;
  }
  for (; p < end; ++p) {
    if (*p == '<' && rest_is(p + 1, end, name)) return p;
  }
  return end;
}
