// Whether two names reach one file: what stops an output from replacing
// its own input, and a walk from entering its own output.
#pragma once

#include <sys/stat.h>

namespace zorbu {

// Returns true when a and b describe the same file.
inline bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// What tells a file from every other, kept where a whole stat would cost
// memory for each of many folders.
struct file_id {
  dev_t dev = 0;
  ino_t ino = 0;
};

inline file_id id_of(const struct stat& st) { return {st.st_dev, st.st_ino}; }

// Returns true when st describes the file id names.
inline bool same_file(const struct stat& st, const file_id& id) {
  return st.st_dev == id.dev && st.st_ino == id.ino;
}

}  // namespace zorbu
