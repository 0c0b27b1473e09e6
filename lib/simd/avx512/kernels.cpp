// The AVX-512 kernels, sixty-four bytes at a time, for processors with the
// byte compress and permute instructions (VBMI and VBMI2). This file alone
// is built with them enabled, and runs only where the processor has them.
// GCC 12's own intrinsics leave the upper half of a widened vector
// undefined on purpose, and then warn that it may be used uninitialised.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>

// Everything the kernels call is inlined into them: the compiler leaves the
// escaping out of line otherwise, and a call for each run of text between
// tags and keys costs more than the run.
#define ZORBU_KERNEL [[gnu::flatten]]
#include "../generic/prelude.hpp"
#include "kernel_set_list.hpp"

namespace zorbu::simd::avx512 {

namespace {

constexpr std::string_view kName = "avx512";

// Byte j of pattern k is j / 3 + 21 * k: twenty-one bytes of a vector,
// starting at byte 21 * k, each three times over. Three pieces take 63
// bytes; a block's last byte is written on its own.
constexpr std::size_t kPiece = 21;
alignas(64) constexpr auto kTriples = [] {
  std::array<std::array<char, 64>, 3> t{};
  for (std::size_t k = 0; k < t.size(); ++k) {
    for (std::size_t j = 0; j < 64; ++j) {
      t[k][j] = static_cast<char>(j / 3 + kPiece * k);
    }
  }
  return t;
}();

// Bit 3i set for each byte of a piece: the first of each byte's copies.
constexpr std::uint64_t kFirstCopies = 0x1249249249249249ULL;

struct V {
  // The needs are CMakeLists.txt's, which compiles this file for them.
  static bool runs_here() {
    __builtin_cpu_init();
    return ZORBU_AVX512_RUNS_HERE;
  }
  static constexpr std::size_t kWidth = 64;
  using vec = __m512i;
  static vec load(const char* p) { return _mm512_loadu_si512(p); }
  static void store(char* p, vec v) { _mm512_storeu_si512(p, v); }
  static mask_t eq(vec v, char c) {
    return _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(c));
  }
  // No eq_or_pair: the keys' and tags' compares joined in mask registers
  // made untagged text 5% slower than two masks, as the plain-block test
  // then waits on the masked compare at the next byte.
  // Joined in mask registers, and moved out once.
  static mask_t either_eq(vec v, char a, char b) {
    return _cvtmask64_u64(
        _kor_mask64(_mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(a)),
                    _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(b))));
  }
  // Each piece of twenty-one bytes is spread to three copies apiece, and
  // the copies that a byte other than a bracket does not want are squeezed
  // out: no step depends on where the brackets are, so nothing is
  // mispredicted however dense they come. Writes up to 64 bytes past the
  // returned end.
  static char* put_escaped(vec v, mask_t brackets, std::size_t count,
                           char* out) {
    const vec braces =
        _mm512_mask_add_epi8(v, brackets, v, _mm512_set1_epi8(kBraceStep));
    char* const end =
        out + count +
        2 * static_cast<std::size_t>(__builtin_popcountll(brackets));
    const auto piece = [&](std::size_t k) {
      const vec triples = _mm512_permutexvar_epi8(
          _mm512_load_si512(kTriples[k].data()), braces);
      const std::uint64_t b = brackets >> (kPiece * k) & 0x1fffff;
      const std::uint64_t spread = _pdep_u64(b, kFirstCopies);
      const __mmask64 keep = kFirstCopies | spread << 1 | spread << 2;
      _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(keep, triples));
      out += kPiece + 2 * static_cast<std::size_t>(__builtin_popcountll(b));
    };
    // Two pieces whatever the count, rather than a branch on it that short
    // runs between tags and keys would mispredict.
    piece(0);
    piece(1);
    if (count > 2 * kPiece) {
      piece(2);
      if (count > 3 * kPiece) {
        // The one byte left, four times over: one copy, or a bracket's
        // three.
        const auto last = static_cast<std::uint32_t>(static_cast<unsigned char>(
            _mm_extract_epi8(_mm512_extracti32x4_epi32(braces, 3), 15)));
        const std::uint32_t word = last * 0x01010101U;
        std::memcpy(out, &word, sizeof word);
      }
    }
    return end;
  }
};

#include "../generic/kernels.hpp"

static_assert(has_put_escaped<V>);

}  // namespace

const kernels& get() { return kKernels; }

}  // namespace zorbu::simd::avx512
