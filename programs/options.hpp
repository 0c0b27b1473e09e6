// The program's command line: what it asks for, read by one parser, with
// the help text beside it.
#pragma once

#include <span>
#include <string_view>

namespace zorbu {

// What --into is asked to do.
struct into_options {
  char* folder = nullptr;        // DIR; null when none was given
  bool update = false;           // pass over outputs no older than inputs
  std::span<char* const> files;  // the files and folders to convert
};

struct options {
  enum class mode { usage, help, version, single_file, into_folder };
  mode chosen = mode::usage;
  const char* file = nullptr;  // the single file, - for standard input
  into_options into;
};

// Reads the command line. Only the first argument chooses the mode, and
// only as it stands exactly; after --into DIR, known options are read up
// to the first argument that is none, or to --, and the rest are files.
options parse_options(int argc, char** argv);

// The answer to --help.
extern const std::string_view kHelp;

}  // namespace zorbu
