// The kernels written once over a vector type V, which a target's folder
// supplies with its width and these operations:
//   V::kWidth                           bytes in a vector;
//   V::load(const char*) -> V::vec      an unaligned load;
//   V::store(char*, V::vec)             an unaligned store;
//   V::eq(V::vec, char) -> mask_t       bit i set where byte i equals c.
// Each target includes this file inside a namespace of its own, so that
// nothing built with one instruction set is shared with another; and the
// code uses no standard library templates, which would be.

inline std::size_t count_zeros(mask_t m) {
  return static_cast<std::size_t>(__builtin_ctz(m));
}

// Writes the escape of a bracket, "{{{" or "}}}", as one four-byte store;
// '<' + 0x3f is '{' and '>' + 0x3f is '}'.
inline void put_bracket(char* out, char c) {
  const auto b =
      static_cast<std::uint32_t>(static_cast<unsigned char>(c) + 0x3f);
  const std::uint32_t word = b * 0x01010101U;
  std::memcpy(out, &word, sizeof word);
}

inline positions escape_to_equals(const char* p, const char* end,
                                  const char* readable_end, char* out) {
  constexpr std::size_t W = V::kWidth;
  // Near the end, where the loads behind a bracket would leave what may be
  // read, blocks come from a copy padded with zero bytes. That copy is slow
  // to load back, so callers that can let a little more be read say so.
  char tail[2 * W];
  while (p != end) {
    const auto left = static_cast<std::size_t>(end - p);
    const char* block = p;
    if (static_cast<std::size_t>(readable_end - p) < 2 * W) {
      std::memcpy(tail, p, left);
      std::memset(tail + left, 0, sizeof tail - left);
      block = tail;
    }
    const typename V::vec v = V::load(block);
    mask_t lt = V::eq(v, '<');
    mask_t gt = V::eq(v, '>');
    mask_t eq = V::eq(v, '=');
    V::store(out, v);
    const std::size_t whole = left < W ? left : W;
    if (left < W) {
      const mask_t inside = (mask_t{1} << left) - 1;
      lt &= inside;
      gt &= inside;
      eq &= inside;
    }
    if ((lt | gt | eq) == 0) {
      p += whole;
      out += whole;
      continue;
    }
    // Stop after the first '=', if there is one.
    const std::size_t count = eq == 0 ? whole : count_zeros(eq) + 1;
    mask_t brackets = lt | gt;
    if (count < W) brackets &= (mask_t{1} << count) - 1;
    // Every bracket before this one moved what follows two bytes on: each
    // write's place is known from the bracket's index alone, so the writes
    // do not wait for one another.
    std::size_t shift = 0;
    for (; brackets != 0; brackets &= brackets - 1) {
      const std::size_t at = count_zeros(brackets);
      put_bracket(out + at + shift, block[at]);
      shift += 2;
      V::store(out + at + 1 + shift, V::load(block + at + 1));
    }
    out += count + shift;
    p += count;
    if (eq != 0) return {p, out};
  }
  return {end, out};
}

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

inline constexpr kernels kKernels = {kName, &escape_to_equals, &find_tag_start};
