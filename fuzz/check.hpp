// A failed promise in a fuzz target must end the run loudly, in release
// builds too, so that libFuzzer records the input.
#pragma once

#include <cstdlib>

namespace zorbu::fuzz {

inline void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace zorbu::fuzz
