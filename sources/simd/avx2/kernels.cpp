// The AVX2 kernels, thirty-two bytes at a time. This file alone is built
// with AVX2 enabled, and runs only where the processor says it has it.
#include <immintrin.h>

#include "../generic/prelude.hpp"

namespace zorbu::simd::avx2 {

namespace {

constexpr std::string_view kName = "avx2";

struct V {
  static constexpr std::size_t kWidth = 32;
  using vec = __m256i;
  static vec load(const char* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  static void store(char* p, vec v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
  }
  static mask_t eq(vec v, char c) {
    // Through 32 bits, so that the top byte's bit is not copied upwards.
    return static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(c))));
  }
};

#include "../generic/kernels.hpp"

}  // namespace

const kernels& get() { return kKernels; }

}  // namespace zorbu::simd::avx2
