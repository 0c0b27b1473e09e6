// The program's messages, each written on a line of its own.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "io/byte_io.hpp"
#include "rt/rt_filter.hpp"

namespace zorbu::message {

inline constexpr std::string_view kUsage = "usage: zorbu filename";
inline constexpr std::string_view kUsageInto =
    "usage: zorbu --into DIR FILE...";
inline constexpr std::string_view kInvalid = kInvalidText;
inline constexpr std::string_view kInputIsOutput =
    "error: input file is output file";
inline constexpr std::string_view kUnreadable = "error: cannot read input";
inline constexpr std::string_view kUnwritable = "error: cannot write output";
inline constexpr std::string_view kOutOfMemory = kOutOfMemoryText;
// Followed by the system's reason.
inline constexpr std::string_view kCannotOpen = "error: cannot open input: ";
inline constexpr std::string_view kCannotMakeFolder =
    "error: cannot make output folder: ";
inline constexpr std::string_view kLeavesFolder =
    "error: path leaves the output folder";
inline constexpr std::string_view kNoName = "error: standard input has no name";

// Returns the message for a run that did not end in rewritten.
inline std::string_view for_outcome(outcome result) {
  switch (result) {
    case outcome::invalid:
      return kInvalid;
    case outcome::unreadable:
      return kUnreadable;
    case outcome::out_of_memory:
      return kOutOfMemory;
    case outcome::rewritten:
    case outcome::unwritable:
      break;
  }
  return kUnwritable;
}

// Writes message and a newline to standard error in one write. If standard
// error cannot be written either, the exit status still tells.
inline void say(std::string_view message) {
  char line[128];
  const std::size_t size = std::min(message.size(), sizeof line - 1);
  std::memcpy(line, message.data(), size);
  line[size] = '\n';
  (void)fd_sink(STDERR_FILENO).write({line, size + 1});
}

}  // namespace zorbu::message
