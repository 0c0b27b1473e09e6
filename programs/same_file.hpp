// Whether two names reach one file: what stops an output from replacing
// its own input, and a walk from entering its own output.
#pragma once

#include <sys/stat.h>

namespace zorbu {

// Returns true when a and b describe the same file.
inline bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace zorbu
