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

template <class T>
concept has_pair_eq = requires(typename T::vec v) {
  { T::pair_eq(v, 'a', v, 'b') } -> std::same_as<mask_t>;
};

// Bit i set where byte i of v is a and byte i of w is b.
template <class T>
mask_t pair_eq(typename T::vec v, char a, typename T::vec w, char b) {
  if constexpr (has_pair_eq<T>) {
    return T::pair_eq(v, a, w, b);
  } else {
    return T::eq(v, a) & T::eq(w, b);
  }
}

inline const char* find_tag_start(const char* p, const char* end,
                                  std::string_view name) {
  constexpr std::size_t W = V::kWidth;
  // '<' and the name's first byte side by side, W places at a time.
  while (static_cast<std::size_t>(end - p) >= W + 1) {
    mask_t pairs = pair_eq<V>(V::load(p), '<', V::load(p + 1), name[0]);
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
