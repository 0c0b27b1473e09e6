// What --update passes over: an input whose output stands as a regular
// file no older than it, with times compared as finely as both file systems
// keep them.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <vector>

namespace zorbu {

class update_rule {
 public:
  // Returns true when output, as fstatat gave it without following a link,
  // is a regular file whose modification time is not older than input's,
  // compared at the coarser timestamp granularity of their file systems.
  bool up_to_date(const struct stat& output, const struct stat& input);

 private:
  // Returns the finest granularity seen so far on the file system of st,
  // in nanoseconds, once its times are taken into account.
  std::int64_t granularity(const struct stat& st);

  struct file_system {
    dev_t device;
    std::int64_t finest_ns;
  };
  std::vector<file_system> seen_;
};

}  // namespace zorbu
