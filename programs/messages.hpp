// The program's messages, the one writer of standard error: each message a
// line of its own, and on a terminal one status line that they clear.
#pragma once

#include <string_view>

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
inline constexpr std::string_view kCannotReadFile = "cannot read the file: ";
inline constexpr std::string_view kLeavesFolder =
    "path leaves the output folder";
inline constexpr std::string_view kNoName = "standard input has no name";
inline constexpr std::string_view kFolderMoved = "folder moved during the run";

// Returns the message for a run of the filter that did not end done.
std::string_view for_status(status result);

// Writes prefix, message and a newline to standard error in one write. If
// standard error cannot be written either, the exit status still tells.
void say(std::string_view message, std::string_view prefix = {});

// Writes "error: " and why as one line to standard error.
inline void say_error(std::string_view why) { say(why, kError); }

// Writes "zorbu: PATH: error: MESSAGEDETAIL" to standard error, in one write
// when it fits, with the control bytes of PATH and DETAIL as \ooo, so that
// it stays one line, and their backslashes doubled, so that every name
// reads back one way. Returns false, for the caller to return on a failed
// file.
bool report(std::string_view path, std::string_view message,
            std::string_view detail = {});

// Shows text as the one status line, in place of the last, when standard
// error is a terminal; every message clears it first.
void show_status(std::string_view text);
// Clears the status line, if one is shown.
void clear_status();
// The same, with async-signal-safe calls alone, for a handler that ends
// the process.
void clear_status_in_handler();

}  // namespace zorbu::message
