// The folders that --into is given: the rt files of the tree under each,
// found as the tree is read, so that a tree of any size takes memory for
// its depth alone.
#pragma once

#include <sys/stat.h>

#include <string>

namespace zorbu {

// What a walk finds.
class walk_visitor {
 public:
  virtual ~walk_visitor() = default;
  // An rt file, at path.
  virtual void file(const std::string& path) = 0;
  // A folder under path that could not be opened or read, with errno.
  virtual void unreadable(const std::string& path, int error) = 0;
};

// Returns true for a name that ends in ".rt", in any case.
bool has_rt_name(std::string_view name);

// Walks the tree under the open folder `folder` (which it closes), whose
// path is `path`, and hands the visitor each file that has an rt name and
// is no folder, by its path from `path` on. A symbolic link to a folder is
// not entered, and neither is the folder `skip` describes: the output
// folder, which would otherwise be converted again. `path` is
// given back as it came.
void walk_folder(int folder, std::string& path, const struct stat& skip,
                 walk_visitor& visitor);

}  // namespace zorbu
