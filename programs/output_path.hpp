// Where --into writes an input: the input's path as given, made relative to
// the output folder.
#pragma once

#include <string_view>

namespace zorbu {

struct output_path {
  // The folders to walk, '/'-separated, as they stand in the argument. Empty
  // and "." components name no folder of their own, so a leading "/" or
  // "./" is as good as dropped.
  std::string_view folders;
  // The last component; empty or "." when the argument names no file.
  std::string_view name;
  // A ".." component, which would climb out of the output folder.
  bool climbs = false;
};

// Splits an input's path into the folders and the name of its output.
output_path output_path_of(std::string_view path);

// Returns the first component of folders that names a folder, and removes
// it and what came before it from folders; empty when none is left.
std::string_view next_folder(std::string_view& folders);

}  // namespace zorbu
