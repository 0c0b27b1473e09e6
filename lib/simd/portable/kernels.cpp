// The portable kernels: eight bytes at a time in a 64-bit word, for any
// processor and byte order.
#include <bit>

#include "../generic/prelude.hpp"

namespace zorbu::simd::portable {

namespace {

constexpr std::string_view kName = "portable";

struct V {
  static bool runs_here() { return true; }
  static constexpr std::size_t kWidth = 8;
  using vec = std::uint64_t;

  // Byte i of memory is always bits 8i to 8i + 7, whatever the byte order.
  static vec load(const char* p) {
    vec v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) {
      v = __builtin_bswap64(v);
    }
    return v;
  }
  static void store(char* p, vec v) {
    if constexpr (std::endian::native == std::endian::big) {
      v = __builtin_bswap64(v);
    }
    std::memcpy(p, &v, sizeof v);
  }
  static mask_t eq(vec v, char c) {
    constexpr vec kLow7 = 0x7f7f7f7f7f7f7f7fULL;
    const vec x = v ^ (0x0101010101010101ULL * static_cast<unsigned char>(c));
    // The top bit of each byte is set exactly where x has a zero byte; the
    // sum never carries from one byte into the next.
    const vec zero = ~(((x & kLow7) + kLow7) | x | kLow7);
    // Gathers the eight top bits into the low byte.
    return static_cast<mask_t>(((zero >> 7) * 0x0102040810204080ULL) >> 56);
  }
};

#include "../generic/kernels.hpp"

}  // namespace

const kernels& get() { return kKernels; }

}  // namespace zorbu::simd::portable
