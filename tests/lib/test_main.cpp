// Runs the unit tests on one set of kernels, named by --kernels=NAME; with
// none named, on the best this processor runs. A set the processor cannot
// run is skipped with status 77, which ctest reports as not run.
#include <gtest/gtest.h>

#include <cstdio>
#include <string_view>

#include "kernel_sets.hpp"

int main(int argc, char** argv) {
  // The set is chosen before GoogleTest is set up, which instantiates the
  // suites that run on it.
  constexpr std::string_view kOption = "--kernels=";
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!arg.starts_with(kOption)) continue;
    const std::string_view name = arg.substr(kOption.size());
    const zorbu::simd::kernels* set = zorbu::simd::kernels_named(name);
    if (set == nullptr) {
      std::printf("%.*s: not run here\n", static_cast<int>(name.size()),
                  name.data());
      return 77;
    }
    zorbu::kernels_under_test_slot() = set;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
