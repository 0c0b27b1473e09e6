// The sets of kernels this processor runs, for tests that run on each.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simd/kernels.hpp"

namespace zorbu {

inline std::vector<const simd::kernels*> runnable_kernels() {
  std::vector<const simd::kernels*> sets;
  for (const simd::kernels& k : simd::built_kernels()) {
    if (k.runs_here()) sets.push_back(&k);
  }
  return sets;
}

// A test suite run once on each set: its tests are TEST_P, and the suite is
// instantiated with ZORBU_ON_EACH_KERNEL_SET.
class EachKernelSet : public testing::TestWithParam<const simd::kernels*> {
 protected:
  static const simd::kernels& set() { return *GetParam(); }
};

#define ZORBU_ON_EACH_KERNEL_SET(suite)                               \
  INSTANTIATE_TEST_SUITE_P(                                           \
      Kernels, suite, testing::ValuesIn(runnable_kernels()),          \
      [](const testing::TestParamInfo<const simd::kernels*>& param) { \
        return std::string(param.param->name);                        \
      })

}  // namespace zorbu
