// Vector helpers and bracket escaping, for the kernels.
// Part of the kernels written once over a vector type V: included by
// generic/kernels.hpp, inside each target's own namespace.
#pragma once

// Never called with no bit set.
inline std::size_t count_zeros(mask_t m) {
  return static_cast<std::size_t>(__builtin_ctzll(m));
}

inline std::size_t smaller(std::size_t a, std::size_t b) {
  return a < b ? a : b;
}

// Writes the escape of a bracket, "{{{" or "}}}", as one four-byte store.
inline void put_bracket(char* out, char c) {
  const auto b =
      static_cast<std::uint32_t>(static_cast<unsigned char>(c) + kBraceStep);
  const std::uint32_t word = b * 0x01010101U;
  std::memcpy(out, &word, sizeof word);
}

// The bits of m below bit n, n below 256: one instruction where BMI2 is on.
inline mask_t bits_below(mask_t m, std::size_t n) {
#if defined(__BMI2__) && defined(__x86_64__)
  return __builtin_ia32_bzhi_di(m, n);
#else
  return n >= 64 ? m : m & ((mask_t{1} << n) - 1);
#endif
}

inline mask_t low_bits(std::size_t n) { return bits_below(~mask_t{0}, n); }

// Whether none of the bytes of v is a, b or c, for a target that can tell
// faster than by making masks; false, so that nothing is taken for plain,
// for any other.
template <class T>
concept has_none_of = requires(typename T::vec v) {
  { T::none_of(v, 'a', 'b', 'c') } -> std::same_as<bool>;
};

template <class T>
bool none_of(typename T::vec v, char a, char b, char c) {
  if constexpr (has_none_of<T>) {
    return T::none_of(v, a, b, c);
  } else {
    return false;
  }
}

template <class T>
concept has_eq_or_pair = requires(typename T::vec v) {
  { T::eq_or_pair(v, 'a', 'b', v, 'c') } -> std::same_as<mask_t>;
};

// Bit i set where byte i of v is a, or is b with byte i of w c. Forced
// inline: a call would pass the vectors through memory.
template <class T>
[[gnu::always_inline]] inline mask_t eq_or_pair(typename T::vec v, char a,
                                                char b, typename T::vec w,
                                                char c) {
  if constexpr (has_eq_or_pair<T>) {
    return T::eq_or_pair(v, a, b, w, c);
  } else {
    return T::eq(v, a) | (T::eq(v, b) & T::eq(w, c));
  }
}

template <class T>
concept has_either_eq = requires(typename T::vec v) {
  { T::either_eq(v, 'a', 'b') } -> std::same_as<mask_t>;
};

// Bit i set where byte i of v is a or b.
template <class T>
mask_t either_eq(typename T::vec v, char a, char b) {
  if constexpr (has_either_eq<T>) {
    return T::either_eq(v, a, b);
  } else {
    return T::eq(v, a) | T::eq(v, b);
  }
}

template <class T>
concept has_put_escaped = requires(typename T::vec v, char* out) {
  { T::put_escaped(v, mask_t{}, std::size_t{}, out) } -> std::same_as<char*>;
};

template <class T>
concept has_put_escaped_from = requires(typename T::vec v, std::size_t n,
                                        char* out) {
  { T::put_escaped_from(v, mask_t{}, n, n, out) } -> std::same_as<char*>;
};

// Writes count bytes of the block v, which was loaded from block, from byte
// `from` on, with the bytes at brackets escaped; returns the end of what it
// wrote. Forced inline: its callers pass constants that shape it.
template <class T>
[[gnu::always_inline]] inline char* put_escaped(typename T::vec v,
                                                const char* block,
                                                mask_t brackets,
                                                std::size_t from,
                                                std::size_t count, char* out) {
  brackets = brackets >> from & low_bits(count);
  if constexpr (has_put_escaped_from<T>) {
    return T::put_escaped_from(v, brackets, from, count, out);
  } else {
    // Loaded again rather than shuffled into place: the load does not wait
    // on where the last tag or value ended, only its address does.
    block += from;
    const typename T::vec part = from == 0 ? v : T::load(block);
    if constexpr (has_put_escaped<T>) {
      return T::put_escaped(part, brackets, count, out);
    } else {
      T::store(out, part);
      // Every bracket before this one moved what follows two bytes on: each
      // write's place is known from the bracket's index alone, so the
      // writes do not wait for one another.
      std::size_t shift = 0;
      for (; brackets != 0; brackets &= brackets - 1) {
        const std::size_t at = count_zeros(brackets);
        put_bracket(out + at + shift, block[at]);
        shift += 2;
        T::store(out + at + 1 + shift, T::load(block + at + 1));
      }
      return out + count + shift;
    }
  }
}

// Writes the bytes of the block v, loaded from block, from done up to at,
// escaped where brackets says, and moves done to at.
inline void put_block_to(typename V::vec v, const char* block, mask_t brackets,
                         std::size_t& done, std::size_t at, char*& out) {
  out = put_escaped<V>(v, block, brackets, done, at - done, out);
  done = at;
}
