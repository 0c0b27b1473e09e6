// The AVX2 kernels, thirty-two bytes at a time. This file alone is built
// with AVX2 enabled, and runs only where the processor says it has it.
#include <immintrin.h>

#include "../generic/prelude.hpp"
#include "kernel_set_list.hpp"

namespace zorbu::simd::avx2 {

namespace {

constexpr std::string_view kName = "avx2";

// Each row's first sixteen bytes shuffle the low lane, the rest the high
// lane, each lane holding the same eight bytes.
alignas(32) constexpr auto kSpread = spread_rows();

// Sixty-four bytes at a time, as two 32-byte halves: a block's fixed costs
// are paid half as often as with one.
struct V {
  // The needs are CMakeLists.txt's, which compiles this file for them.
  static bool runs_here() {
    __builtin_cpu_init();
    return ZORBU_AVX2_RUNS_HERE;
  }
  static constexpr std::size_t kWidth = 64;
  struct vec {
    __m256i lo;
    __m256i hi;
  };
  static vec load(const char* p) {
    return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)),
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32))};
  }
  static void store(char* p, vec v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v.lo);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 32), v.hi);
  }
  // Bytes of v that are c, as a vector, and a vector's top bits as a mask.
  static __m256i is(__m256i v, char c) {
    return _mm256_cmpeq_epi8(v, _mm256_set1_epi8(c));
  }
  static mask_t bits(__m256i v) {
    // Through 32 bits, so that the top byte's bit is not copied upwards.
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(v));
  }
  static mask_t eq(vec v, char c) {
    return bits(is(v.lo, c)) | bits(is(v.hi, c)) << 32;
  }
  // Joined before the mask is made: one mask for the two.
  static mask_t eq_or_pair(vec v, char a, char b, vec w, char c) {
    const auto half = [&](__m256i h, __m256i g) {
      return bits(
          _mm256_or_si256(is(h, a), _mm256_and_si256(is(h, b), is(g, c))));
    };
    return half(v.lo, w.lo) | half(v.hi, w.hi) << 32;
  }
  static mask_t either_eq(vec v, char a, char b) {
    const auto half = [&](__m256i h) {
      return bits(_mm256_or_si256(is(h, a), is(h, b)));
    };
    return half(v.lo) | half(v.hi) << 32;
  }
  static bool none_of(vec v, char a, char b, char c) {
    const auto hits = [&](__m256i h) {
      return _mm256_or_si256(_mm256_or_si256(is(h, a), is(h, b)), is(h, c));
    };
    const __m256i any = _mm256_or_si256(hits(v.lo), hits(v.hi));
    return _mm256_testz_si256(any, any) != 0;
  }
  // Every '<' and '>' within count is a bracket: markup, which keeps them,
  // never comes here.
  static __m256i braces(__m256i v) {
    const __m256i is_bracket = _mm256_or_si256(is(v, '<'), is(v, '>'));
    return _mm256_add_epi8(
        v, _mm256_and_si256(is_bracket, _mm256_set1_epi8(kBraceStep)));
  }
  // Each eight bytes are spread by a shuffle that their brackets pick from
  // a table: no step depends on where the brackets are, so nothing is
  // mispredicted however dense they come. Writes up to 56 bytes past the
  // returned end. Forced inline, so that where from is 0, as the body
  // kernel and the stage pass it, the groups come from registers rather
  // than from stores just made.
  [[gnu::always_inline]] static char* put_escaped_from(vec v, mask_t brackets,
                                                       std::size_t from,
                                                       std::size_t count,
                                                       char* out) {
    // The block and a vector's worth of zero bytes after it, which groups
    // past count read.
    alignas(32) char copy[2 * kWidth];
    _mm256_store_si256(reinterpret_cast<__m256i*>(copy), braces(v.lo));
    _mm256_store_si256(reinterpret_cast<__m256i*>(copy + 32), braces(v.hi));
    _mm256_store_si256(reinterpret_cast<__m256i*>(copy + 64),
                       _mm256_setzero_si256());
    _mm256_store_si256(reinterpret_cast<__m256i*>(copy + 96),
                       _mm256_setzero_si256());
    char* const end =
        out + count +
        2 * static_cast<std::size_t>(__builtin_popcountll(brackets));
    // A group's row of the table, as a byte offset taken straight from the
    // mask, a rotation (one instruction with BMI2, which leaves the mask in
    // place) and an AND; its set bits are the group's brackets, so it
    // counts them too.
    const auto group = [&](std::size_t g) {
      constexpr std::size_t kRowShift = 5;
      static_assert(sizeof kSpread[0] == std::size_t{1} << kRowShift);
      const std::size_t turn = (g + 64 - kRowShift) % 64;
      const auto row = static_cast<std::size_t>(
          (brackets >> turn | brackets << ((64 - turn) % 64)) &
          (0xff << kRowShift));
      std::int64_t eight;
      std::memcpy(&eight, copy + from + g, sizeof eight);
      const __m256i spread = _mm256_shuffle_epi8(
          _mm256_set1_epi64x(eight),
          _mm256_load_si256(reinterpret_cast<const __m256i*>(
              reinterpret_cast<const char*>(kSpread.data()) + row)));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), spread);
      out += 8 + 2 * static_cast<std::size_t>(__builtin_popcountll(row));
    };
    // Half a block's groups whatever the count, then the other half: one
    // branch on the count, which the runs between tags and keys make hard
    // to predict. A second branch, at 48 bytes, mispredicted more often
    // than two idle groups cost.
    group(0);
    group(8);
    group(16);
    group(24);
    if (count > 32) {
      group(32);
      group(40);
      group(48);
      group(56);
    }
    return end;
  }
};

#include "../generic/kernels.hpp"

static_assert(has_put_escaped_from<V>);

}  // namespace

const kernels& get() { return kKernels; }

}  // namespace zorbu::simd::avx2
