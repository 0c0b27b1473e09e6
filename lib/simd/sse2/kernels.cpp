// The SSE2 kernels, sixteen bytes at a time: every x86-64 processor has it.
#include <emmintrin.h>

#include "../generic/prelude.hpp"

namespace zorbu::simd::sse2 {

namespace {

constexpr std::string_view kName = "sse2";

struct V {
  static bool runs_here() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse2");
  }
  static constexpr std::size_t kWidth = 16;
  using vec = __m128i;
  static vec load(const char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  }
  static void store(char* p, vec v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
  }
  // Bytes of v that are c, as a vector, and a vector's top bits as a mask.
  static vec is(vec v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); }
  static mask_t bits(vec v) {
    return static_cast<mask_t>(_mm_movemask_epi8(v));
  }
  static mask_t eq(vec v, char c) { return bits(is(v, c)); }
  // Bytes where v is a and w is b.
  static vec pair_of(vec v, char a, vec w, char b) {
    return _mm_and_si128(is(v, a), is(w, b));
  }
  static mask_t pair_eq(vec v, char a, vec w, char b) {
    return bits(pair_of(v, a, w, b));
  }
  static mask_t either_eq(vec v, char a, char b) {
    return bits(_mm_or_si128(is(v, a), is(v, b)));
  }
  static bool none_of(vec v, char a, char b, char c) {
    return bits(_mm_or_si128(_mm_or_si128(is(v, a), is(v, b)), is(v, c))) == 0;
  }
};

#include "../generic/kernels.hpp"

}  // namespace

const kernels& get() { return kKernels; }

}  // namespace zorbu::simd::sse2
