// The output folder of --into and the folders under it: made as needed,
// and walked a step at a time so that no output lands outside it.
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <string>
#include <string_view>
#include <vector>

#include "messages.hpp"
#include "same_file.hpp"

namespace zorbu {

// Why an output could not be written: the system's reason, or a message of
// the mode's own when error is 0.
struct write_failure {
  std::string_view why = message::kUnwritable;
  int error = EIO;
  // Takes the reason from errno, as the call that just failed left it.
  void unwritable() { error = errno != 0 ? errno : EIO; }
};

// Copies a component of a path to a terminated name; false when no file
// system takes a name that long.
bool to_name(std::string_view component, char (&name)[NAME_MAX + 1]);

// Makes the output folder and the folders above it where missing, as
// mkdir -p does, and opens it; -1 with errno set when it cannot.
int make_output_folder(char* path);

// The output folder and the folders within it that outputs go to now,
// stepped through from one output's folder to the next.
//
// Every step down is taken from the folder above it and follows no
// symbolic link, and every step up reopens a folder only as the same
// folder, so that no output lands outside the output folder whatever links
// stand in it or appear in it during the run. Of the folders on the way
// down, at most folders_kept_open() stay open.
class output_tree {
 public:
  // Takes root, the open output folder, and closes it at the end.
  explicit output_tree(int root);
  output_tree(const output_tree&) = delete;
  output_tree& operator=(const output_tree&) = delete;
  ~output_tree();

  // Returns the descriptor of folders, reached from the folder of the last
  // call and made where missing; -1 on failure, with failure set.
  int enter(std::string_view folders, write_failure& failure) {
    return reach(folders, failure, true);
  }
  // Returns the descriptor of folders as enter does, but makes none: -1
  // when one is missing.
  int find(std::string_view folders) {
    write_failure failure;
    return reach(folders, failure, false);
  }
  // Returns the output folder's descriptor.
  int root() const { return root_; }

 private:
  struct level {
    std::string name;
    file_id id;
    int fd;  // -1 while closed to spare descriptors
  };
  int reach(std::string_view folders, write_failure& failure, bool make);
  static int open_step(int folder, std::string_view step,
                       write_failure& failure, bool make);
  bool leave_to(std::size_t depth);
  bool step_down(std::string_view step, write_failure& failure, bool make);
  int current() const { return levels_.empty() ? root_ : levels_.back().fd; }

  int root_;
  std::size_t kept_open_;
  // The folders from the output folder down to the current one; those that
  // are open are the deepest.
  std::vector<level> levels_;
  std::size_t open_ = 0;
};

}  // namespace zorbu
