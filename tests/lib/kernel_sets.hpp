// The set of kernels under test: the one named by --kernels=NAME on the
// test program's command line, or the best this processor runs.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simd/kernels.hpp"

namespace zorbu {

// Set once, by the test program's main, before any test runs.
inline const simd::kernels*& kernels_under_test_slot() {
  static const simd::kernels* set = nullptr;
  return set;
}

inline const simd::kernels& test_kernels() {
  const simd::kernels* set = kernels_under_test_slot();
  return set != nullptr ? *set : simd::best_kernels();
}

// A test suite run on the set under test, by the name of the set: its
// tests are TEST_P, and the suite is instantiated with
// ZORBU_ON_EACH_KERNEL_SET.
class EachKernelSet : public testing::TestWithParam<const simd::kernels*> {
 protected:
  static const simd::kernels& set() { return *GetParam(); }
};

#define ZORBU_ON_EACH_KERNEL_SET(suite)                               \
  INSTANTIATE_TEST_SUITE_P(                                           \
      Kernels, suite, testing::Values(&test_kernels()),               \
      [](const testing::TestParamInfo<const simd::kernels*>& param) { \
        return std::string(param.param->name);                        \
      })

}  // namespace zorbu
