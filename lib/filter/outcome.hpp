// How a run of the filter ended.
#pragma once

#include <cstdint>

namespace zorbu {

enum class outcome : std::uint8_t {
  rewritten,     // the whole rewritten file was written
  invalid,       // not an rt file; nothing was written
  unreadable,    // reading failed after the first line
  unwritable,    // writing failed
  out_of_memory  // the run's memory could not be had; nothing was read
};

// What a run that ends invalid or out of memory is called, in the library's
// texts and, after "error: ", in the program's messages alike.
inline constexpr char kInvalidText[] = "invalid rt file";
inline constexpr char kOutOfMemoryText[] = "out of memory";

}  // namespace zorbu
