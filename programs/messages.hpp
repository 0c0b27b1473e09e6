// The program's messages, each written on a line of its own.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "fd_io.hpp"
#include "zorbu_internal.hpp"

namespace zorbu::message {

inline constexpr std::string_view kUsage = "usage: zorbu filename";
inline constexpr std::string_view kUsageInto =
    "usage: zorbu --into DIR FILE...";
// Every failure's message is kError and one of these.
inline constexpr std::string_view kError = "error: ";
inline constexpr std::string_view kInvalid = kInvalidText;
inline constexpr std::string_view kInputIsOutput = "input file is output file";
inline constexpr std::string_view kUnreadable = "cannot read input";
inline constexpr std::string_view kUnwritable = "cannot write output";
inline constexpr std::string_view kOutOfMemory = kOutOfMemoryText;
// Followed by the system's reason.
inline constexpr std::string_view kCannotOpen = "cannot open input: ";
inline constexpr std::string_view kCannotWrite = "cannot write output: ";
inline constexpr std::string_view kCannotMakeFolder =
    "cannot make output folder: ";
inline constexpr std::string_view kLeavesFolder =
    "path leaves the output folder";
inline constexpr std::string_view kNoName = "standard input has no name";

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

// Writes prefix, message and a newline to standard error in one write. If
// standard error cannot be written either, the exit status still tells.
inline void say(std::string_view message, std::string_view prefix = {}) {
  char line[128];
  const std::size_t head = std::min(prefix.size(), sizeof line - 1);
  if (head > 0) std::memcpy(line, prefix.data(), head);
  const std::size_t size =
      head + std::min(message.size(), sizeof line - 1 - head);
  if (size > head) std::memcpy(line + head, message.data(), size - head);
  line[size] = '\n';
  (void)fd_sink(STDERR_FILENO).write({line, size + 1});
}

// Writes "error: " and why as one line to standard error.
inline void say_error(std::string_view why) { say(why, kError); }

}  // namespace zorbu::message
