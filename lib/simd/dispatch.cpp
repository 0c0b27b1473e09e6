// Which kernels this build has, as the table in kernel_sets.txt lists them
// for its architecture, and the one this processor runs best, chosen once.
#include "kernel_set_list.hpp"
#include "kernels.hpp"

namespace zorbu::simd {

// Each set of the table that this build has, in the table's order.
#define ZORBU_DECLARE_SET(set) \
  namespace set {              \
  const kernels& get();        \
  }
ZORBU_KERNEL_SETS(ZORBU_DECLARE_SET)
#undef ZORBU_DECLARE_SET

std::span<const kernels> built_kernels() noexcept {
#define ZORBU_GET_SET(set) set::get(),
  static const kernels all[] = {ZORBU_KERNEL_SETS(ZORBU_GET_SET)};
#undef ZORBU_GET_SET
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
