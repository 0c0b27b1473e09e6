// The library's internal C++ interface, for zorbu's own program, tests,
// fuzzers and benchmarks alone: it is not installed, and it may change in
// any release. The program uses it rather than the C interface because the
// pull driver reads straight into the filter's buffer, which saves a copy of
// every byte.
#pragma once

#include "common/byte_buffers.hpp"
#include "common/status.hpp"
#include "filter/pull_driver.hpp"
#include "simd/kernels.hpp"
