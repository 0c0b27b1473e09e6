// How a call into the library ended: one type for every layer, from the
// filter core to the C interface, which maps it to zorbu_result in one place.
#pragma once

#include <cstdint>

namespace zorbu {

enum class status : std::uint8_t {
  done,           // the work asked for is done: a whole rewritten file
                  // written, all input taken, or a setting made
  output_full,    // output is due and there is no room for it
  invalid,        // not an rt file; nothing of it was written
  out_of_memory,  // the run's memory could not be had; nothing was read
  misuse,         // a call out of order
  unreadable,     // reading failed after the first line
  unwritable      // writing to the sink failed
};

// Why an input is not an rt file: the rule it breaks.
enum class invalid_reason : std::uint8_t {
  none,              // the input is an rt file, or not yet known to be none
  empty,             // it has no bytes
  no_window,         // its first line has no window tag
  no_body,           // it has as many lines after the first as close it
  first_line_unread  // reading failed before its first line was whole
};

// What a run that ends invalid or out of memory is called, in the library's
// texts and, after "error: ", in the program's messages alike.
inline constexpr char kInvalidText[] = "invalid rt file";
inline constexpr char kOutOfMemoryText[] = "out of memory";

// Returns the library's words for why an input is invalid; nullptr for
// none, and for a failed read, whose words the reader knows.
constexpr const char* reason_text(invalid_reason reason) {
  switch (reason) {
    case invalid_reason::empty:
      return "the file is empty";
    case invalid_reason::no_window:
      return "no window tag on the first line";
    case invalid_reason::no_body:
      return "no body lines";
    case invalid_reason::none:
    case invalid_reason::first_line_unread:
      break;
  }
  return nullptr;
}

}  // namespace zorbu
