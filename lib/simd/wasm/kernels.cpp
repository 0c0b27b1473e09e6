// The WebAssembly kernels, thirty-two bytes at a time, for engines with the
// 128-bit SIMD extension; a module built without it has the portable set
// alone, since an engine that lacks it cannot even load the instructions.
#include <wasm_simd128.h>

#include "../generic/prelude.hpp"

namespace zorbu::simd::wasm {

namespace {

constexpr std::string_view kName = "wasm";

static_assert(std::endian::native == std::endian::little,
              "the wasm kernels take byte i of memory for lane i of a vector");

// Each row's two halves are the indices of two table lookups in the same
// eight bytes.
alignas(16) constexpr auto kSpread = spread_rows();

constexpr auto kSpreadSize = spread_sizes();

// Two 16-byte halves a block, as the SSE2 set takes them: a block's fixed
// costs are paid half as often as with one.
struct V {
  // A module with these instructions loads only where the engine has them.
  static bool runs_here() { return true; }
  static constexpr std::size_t kWidth = 32;
  struct vec {
    v128_t lo;
    v128_t hi;
  };
  static v128_t half(const char* p) { return wasm_v128_load(p); }
  static vec load(const char* p) { return {half(p), half(p + 16)}; }
  static void store(char* p, vec v) {
    wasm_v128_store(p, v.lo);
    wasm_v128_store(p + 16, v.hi);
  }
  static v128_t is(v128_t v, char c) {
    return wasm_i8x16_eq(v, wasm_i8x16_splat(c));
  }
  static mask_t bits(v128_t lo, v128_t hi) {
    return static_cast<mask_t>(wasm_i8x16_bitmask(lo)) |
           static_cast<mask_t>(wasm_i8x16_bitmask(hi)) << 16;
  }
  static mask_t eq(vec v, char c) { return bits(is(v.lo, c), is(v.hi, c)); }
  static mask_t either_eq(vec v, char a, char b) {
    return bits(wasm_v128_or(is(v.lo, a), is(v.lo, b)),
                wasm_v128_or(is(v.hi, a), is(v.hi, b)));
  }
  // Tested across the vector, with no mask made.
  static bool none_of(vec v, char a, char b, char c) {
    const auto hits = [&](v128_t h) {
      return wasm_v128_or(wasm_v128_or(is(h, a), is(h, b)), is(h, c));
    };
    return !wasm_v128_any_true(wasm_v128_or(hits(v.lo), hits(v.hi)));
  }
  static mask_t eq_or_pair(vec v, char a, char b, vec w, char c) {
    const auto half_of = [&](v128_t h, v128_t g) {
      return wasm_v128_or(is(h, a), wasm_v128_and(is(h, b), is(g, c)));
    };
    return bits(half_of(v.lo, w.lo), half_of(v.hi, w.hi));
  }
  // Each eight bytes are spread by two table lookups, whose indices their
  // brackets pick from a table, as the NEON set spreads them; a lookup of an
  // index past the vector gives 0, as there. Every '<' and '>' within count
  // is a bracket; markup, which keeps them, comes with none. Writes up to
  // 32 bytes past the returned end.
  static char* put_escaped(vec v, mask_t brackets, std::size_t count,
                           char* out) {
    if (brackets == 0) {
      store(out, v);
      return out + count;
    }
    char* const end =
        out + count +
        2 * static_cast<std::size_t>(__builtin_popcountll(brackets));
    const auto braces = [](v128_t h) {
      return wasm_i8x16_add(
          h, wasm_v128_and(wasm_v128_or(is(h, '<'), is(h, '>')),
                           wasm_i8x16_splat(static_cast<char>(kBraceStep))));
    };
    const auto group = [&](v128_t eight, std::size_t row) {
      const char* const spread =
          reinterpret_cast<const char*>(kSpread[row].data());
      wasm_v128_store(out, wasm_i8x16_swizzle(eight, half(spread)));
      wasm_v128_store(out + 16, wasm_i8x16_swizzle(eight, half(spread + 16)));
      out += kSpreadSize[row];
    };
    const auto high_eight = [](v128_t h) {
      return wasm_i8x16_shuffle(h, h, 8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3,
                                4, 5, 6, 7);
    };
    const v128_t lo = braces(v.lo);
    group(lo, brackets & 0xff);
    if (count > 8) group(high_eight(lo), brackets >> 8 & 0xff);
    if (count > 16) {
      const v128_t hi = braces(v.hi);
      group(hi, brackets >> 16 & 0xff);
      if (count > 24) group(high_eight(hi), brackets >> 24 & 0xff);
    }
    return end;
  }
};

#include "../generic/kernels.hpp"

static_assert(has_put_escaped<V>);

}  // namespace

const kernels& get() { return kKernels; }

}  // namespace zorbu::simd::wasm
