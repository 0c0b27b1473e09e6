// A failed promise in a fuzz target must end the run loudly, in release
// builds too, so that libFuzzer records the input.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "simd/kernels.hpp"

namespace zorbu::fuzz {

inline void check(bool ok) {
  if (!ok) std::abort();
}

// The one set every input meets when a replay names one; nullptr otherwise.
inline const simd::kernels*& forced_kernels() {
  static const simd::kernels* set = nullptr;
  return set;
}

// Returns one of the sets of scanning kernels this processor runs, by the
// input's choice, so that every set meets every input.
inline const simd::kernels& pick_kernels(std::uint8_t pick) {
  if (forced_kernels() != nullptr) return *forced_kernels();
  const auto sets = simd::built_kernels();
  const simd::kernels& set = sets[pick % sets.size()];
  return set.runs_here() ? set : simd::best_kernels();
}

}  // namespace zorbu::fuzz
