// The folders that --into is given: the rt files of the tree under each,
// found as the tree is read, each opened from the folder that lists it, so
// that no path is too long and no folder swapped above changes what is
// read.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>

namespace zorbu {

// What a walk finds.
class walk_visitor {
 public:
  virtual ~walk_visitor() = default;
  // An rt file, named `name` in the open folder `folder`, at path.
  virtual void file(int folder, const char* name, const std::string& path) = 0;
  // A folder under path that could not be opened or read, with errno;
  // ESTALE when a folder closed to spare descriptors was moved meanwhile.
  virtual void unreadable(const std::string& path, int error) = 0;
};

// Returns true for a name that ends in ".rt", in any case.
bool has_rt_name(std::string_view name);

// Walks the tree under the open folder `folder` (which it closes), whose
// path is `path`, and hands the visitor each file that has an rt name and
// is no folder, by its path from `path` on. A symbolic link to a folder is
// not entered, and neither is the folder `skip` describes: the output
// folder, which would otherwise be converted again. `path` is given back
// as it came.
//
// Memory: the folders from `folder` down to the one being read, and the
// names still to visit in those of them that were closed to keep within
// the descriptors of folders_kept_open().
void walk_folder(int folder, std::string& path, const struct stat& skip,
                 walk_visitor& visitor);

}  // namespace zorbu
