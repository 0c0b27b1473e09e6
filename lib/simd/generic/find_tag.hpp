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

// Whether a at some place and b one on stand in the 2 * kWidth bytes at p,
// for a target that can tell faster than by making masks.
template <class T>
concept has_pair_in_two = requires(const char* p) {
  { T::has_pair_in_two(p, 'a', 'b') } -> std::same_as<bool>;
};

// The same; true, so that nothing is skipped, for any other target.
template <class T>
bool pair_in_two(const char* p, char a, char b) {
  if constexpr (has_pair_in_two<T>) {
    return T::has_pair_in_two(p, a, b);
  } else {
    return true;
  }
}

inline const char* find_tag_start(const char* p, const char* end,
                                  std::string_view name) {
  constexpr std::size_t W = V::kWidth;
  const auto pairs_at = [&](const char* at) {
    return pair_eq<V>(V::load(at), '<', V::load(at + 1), name[0]);
  };
  // '<' and the name's first byte side by side, W places at a time, and
  // where the target can, two blocks a step while neither has a pair, as
  // in most text.
  const char* const two_blocks_end =
      static_cast<std::size_t>(end - p) > 2 * W ? end - 2 * W : p;
  for (;;) {
    while (has_pair_in_two<V> && p < two_blocks_end &&
           !pair_in_two<V>(p, '<', name[0])) {
      p += 2 * W;
    }
    if (static_cast<std::size_t>(end - p) < W + 1) break;
    for (mask_t pairs = pairs_at(p); pairs != 0; pairs &= pairs - 1) {
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
