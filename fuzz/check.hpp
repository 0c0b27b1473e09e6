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

// Makes one of the sets of scanning kernels this processor runs active, by
// the input's choice, so that every set meets every input.
inline void use_kernels(std::uint8_t pick) {
  const auto sets = simd::built_kernels();
  if (!simd::use(sets[pick % sets.size()].name)) {
    simd::use(simd::best_kernels().name);
  }
}

}  // namespace zorbu::fuzz
