// Which kernels this build has, and the one this processor runs best,
// chosen once.
#include "kernels.hpp"

namespace zorbu::simd {

namespace portable {
const kernels& get();
}
#if defined(__x86_64__)
namespace sse2 {
const kernels& get();
}
namespace avx2 {
const kernels& get();
}
namespace avx512 {
const kernels& get();
}
#elif defined(__aarch64__)
namespace neon {
const kernels& get();
}
#elif defined(__wasm_simd128__)
namespace wasm {
const kernels& get();
}
#endif

std::span<const kernels> built_kernels() noexcept {
#if defined(__x86_64__)
  static const kernels all[] = {portable::get(), sse2::get(), avx2::get(),
                                avx512::get()};
#elif defined(__aarch64__)
  static const kernels all[] = {portable::get(), neon::get()};
#elif defined(__wasm_simd128__)
  static const kernels all[] = {portable::get(), wasm::get()};
#else
  static const kernels all[] = {portable::get()};
#endif
  return all;
}

const kernels& best_kernels() noexcept {
  static const kernels* const best = [] {
    const kernels* found = &built_kernels().front();
    for (const kernels& k : built_kernels()) {
      if (k.runs_here()) found = &k;
    }
    return found;
  }();
  return *best;
}

const kernels* kernels_named(std::string_view name) noexcept {
  for (const kernels& k : built_kernels()) {
    if (k.name == name) return k.runs_here() ? &k : nullptr;
  }
  return nullptr;
}

}  // namespace zorbu::simd
