// The NEON kernels, sixteen bytes at a time: every 64-bit ARM processor has
// NEON, so this set needs no check at run time.
#include <arm_neon.h>

#include "../generic/prelude.hpp"

namespace zorbu::simd::neon {

namespace {

constexpr std::string_view kName = "neon";

static_assert(std::endian::native == std::endian::little,
              "the NEON kernels take byte i of memory for lane i of a vector");

// Each row's two halves are the indices of two table lookups in the same
// eight bytes.
alignas(16) constexpr auto kSpread = spread_rows();

constexpr auto kSpreadSize = spread_sizes();

struct V {
  static bool runs_here() { return true; }
  static constexpr std::size_t kWidth = 16;
  using vec = uint8x16_t;
  static vec load(const char* p) {
    return vld1q_u8(reinterpret_cast<const std::uint8_t*>(p));
  }
  static void store(char* p, vec v) {
    vst1q_u8(reinterpret_cast<std::uint8_t*>(p), v);
  }
  static vec is(vec v, char c) {
    return vceqq_u8(v, vdupq_n_u8(static_cast<std::uint8_t>(c)));
  }
  // A vector of all-ones and all-zero bytes as a mask: each byte keeps its
  // own bit, and three pairwise sums gather each half's bits in one byte.
  static mask_t bits(vec m) {
    const vec weights = {1, 2, 4, 8, 16, 32, 64, 128,
                         1, 2, 4, 8, 16, 32, 64, 128};
    vec sum = vandq_u8(m, weights);
    sum = vpaddq_u8(sum, sum);
    sum = vpaddq_u8(sum, sum);
    sum = vpaddq_u8(sum, sum);
    return vgetq_lane_u16(vreinterpretq_u16_u8(sum), 0);
  }
  static mask_t eq(vec v, char c) { return bits(is(v, c)); }
  static mask_t either_eq(vec v, char a, char b) {
    return bits(vorrq_u8(is(v, a), is(v, b)));
  }
  // Tested across the vector, with no mask made.
  static bool none_of(vec v, char a, char b, char c) {
    return vmaxvq_u8(vorrq_u8(vorrq_u8(is(v, a), is(v, b)), is(v, c))) == 0;
  }
  static mask_t eq_or_pair(vec v, char a, char b, vec w, char c) {
    return bits(vorrq_u8(is(v, a), vandq_u8(is(v, b), is(w, c))));
  }
  // Each eight bytes are spread by two table lookups, whose indices their
  // brackets pick from a table: no step depends on where the brackets are,
  // so nothing is mispredicted however dense they come. Every '<' and '>'
  // within count is a bracket; markup, which keeps them, comes with none.
  // Writes up to 32 bytes past the returned end.
  static char* put_escaped(vec v, mask_t brackets, std::size_t count,
                           char* out) {
    if (brackets == 0) {
      store(out, v);
      return out + count;
    }
    const vec braces = vaddq_u8(
        v, vandq_u8(vorrq_u8(is(v, '<'), is(v, '>')),
                    vdupq_n_u8(static_cast<std::uint8_t>(kBraceStep))));
    char* const end =
        out + count +
        2 * static_cast<std::size_t>(__builtin_popcountll(brackets));
    const auto group = [&](vec eight, std::size_t row) {
      const std::uint8_t* const spread = kSpread[row].data();
      store(out, vqtbl1q_u8(eight, vld1q_u8(spread)));
      store(out + 16, vqtbl1q_u8(eight, vld1q_u8(spread + 16)));
      out += kSpreadSize[row];
    };
    group(braces, brackets & 0xff);
    if (count > 8) group(vextq_u8(braces, braces, 8), brackets >> 8 & 0xff);
    return end;
  }
};

#include "../generic/kernels.hpp"

static_assert(has_put_escaped<V>);

}  // namespace

const kernels& get() { return kKernels; }

}  // namespace zorbu::simd::neon
