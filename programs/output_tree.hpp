// The output folder of --into and the folders under it: made as needed,
// and walked a step at a time so that no output lands outside it.
#pragma once

#include <cerrno>
#include <climits>
#include <string>
#include <string_view>

#include "messages.hpp"

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

// The output folder and the one folder within it that outputs go to now,
// held open so that a run of files in one folder walks to it once.
//
// Every step is taken from the folder before it, and none follows a
// symbolic link, so that no output lands outside the output folder
// whatever links stand in it or appear in it during the run.
class output_tree {
 public:
  // Takes root, the open output folder, and closes it at the end.
  explicit output_tree(int root) : root_(root), current_(root) {}
  output_tree(const output_tree&) = delete;
  output_tree& operator=(const output_tree&) = delete;
  ~output_tree();

  // Returns the descriptor of folders, walked to from the output folder
  // and made where missing; -1 on failure, with failure set.
  int enter(std::string_view folders, write_failure& failure);
  // Returns the output folder's descriptor.
  int root() const { return root_; }

 private:
  static int open_step(int folder, std::string_view step,
                       write_failure& failure);
  void leave();

  int root_;
  int current_;
  // A copy: the caller's path may be a buffer that the next file reuses.
  std::string current_folders_;
};

}  // namespace zorbu
