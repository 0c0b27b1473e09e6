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
#endif

namespace {

bool can_run(const kernels& k) {
#if defined(__x86_64__)
  if (k.name == "avx2") {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
           __builtin_cpu_supports("popcnt");
  }
  if (k.name == "avx512") {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") &&
           __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi") &&
           __builtin_cpu_supports("avx512vbmi2") &&
           __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
  }
#endif
  (void)k;
  return true;
}

const kernels* g_active = &chosen_kernels();

}  // namespace

std::span<const kernels> built_kernels() noexcept {
#if defined(__x86_64__)
  static const kernels all[] = {portable::get(), sse2::get(), avx2::get(),
                                avx512::get()};
#else
  static const kernels all[] = {portable::get()};
#endif
  return all;
}

const kernels& best_kernels() noexcept {
  static const kernels* const best = [] {
    const kernels* found = &built_kernels().front();
    for (const kernels& k : built_kernels()) {
      if (can_run(k)) found = &k;
    }
    return found;
  }();
  return *best;
}

const kernels& chosen_kernels() noexcept {
#if defined(ZORBU_FORCE_SIMD)
  // A build for testing one set runs it, or fails loudly where it cannot.
  static const kernels* const forced = [] {
    for (const kernels& k : built_kernels()) {
      if (k.name == ZORBU_FORCE_SIMD && can_run(k)) return &k;
    }
    __builtin_trap();
  }();
  return *forced;
#else
  return best_kernels();
#endif
}

const kernels& active() {
  // Before this file's own initialisation has run, the chosen set serves.
  return g_active != nullptr ? *g_active : chosen_kernels();
}

bool use(std::string_view name) {
  for (const kernels& k : built_kernels()) {
    if (k.name == name && can_run(k)) {
      g_active = &k;
      return true;
    }
  }
  return false;
}

}  // namespace zorbu::simd
