// The SSE2 kernels, thirty-two bytes at a time as two halves: every x86-64
// processor has it.
#include <emmintrin.h>

#include "../generic/prelude.hpp"
#include "kernel_set_list.hpp"

namespace zorbu::simd::sse2 {

namespace {

constexpr std::string_view kName = "sse2";

// Two 16-byte halves a block: a block's fixed costs are paid half as often
// as with one.
struct V {
  // The needs are CMakeLists.txt's, which compiles this file for them.
  static bool runs_here() {
    __builtin_cpu_init();
    return ZORBU_SSE2_RUNS_HERE;
  }
  static constexpr std::size_t kWidth = 32;
  struct vec {
    __m128i lo;
    __m128i hi;
  };
  static __m128i half(const char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  }
  static vec load(const char* p) { return {half(p), half(p + 16)}; }
  static void store(char* p, vec v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v.lo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16), v.hi);
  }
  // Bytes of v that are c, as a vector, and two halves' top bits as a mask.
  static __m128i is(__m128i v, char c) {
    return _mm_cmpeq_epi8(v, _mm_set1_epi8(c));
  }
  static mask_t bits(__m128i lo, __m128i hi) {
    return static_cast<mask_t>(_mm_movemask_epi8(lo)) |
           static_cast<mask_t>(_mm_movemask_epi8(hi)) << 16;
  }
  static mask_t eq(vec v, char c) { return bits(is(v.lo, c), is(v.hi, c)); }
  static mask_t eq_or_pair(vec v, char a, char b, vec w, char c) {
    const auto half = [&](__m128i h, __m128i g) {
      return _mm_or_si128(is(h, a), _mm_and_si128(is(h, b), is(g, c)));
    };
    return bits(half(v.lo, w.lo), half(v.hi, w.hi));
  }
  static mask_t either_eq(vec v, char a, char b) {
    return bits(_mm_or_si128(is(v.lo, a), is(v.lo, b)),
                _mm_or_si128(is(v.hi, a), is(v.hi, b)));
  }
  static bool none_of(vec v, char a, char b, char c) {
    const auto hits = [&](__m128i h) {
      return _mm_or_si128(_mm_or_si128(is(h, a), is(h, b)), is(h, c));
    };
    return _mm_movemask_epi8(_mm_or_si128(hits(v.lo), hits(v.hi))) == 0;
  }
};

#include "../generic/kernels.hpp"

}  // namespace

const kernels& get() { return kKernels; }

}  // namespace zorbu::simd::sse2
