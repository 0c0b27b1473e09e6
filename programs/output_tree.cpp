#include "output_tree.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "folder_steps.hpp"
#include "output_path.hpp"

namespace zorbu {

namespace {

bool is_symbolic_link(int folder, const char* name) {
  struct stat st {};
  return ::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISLNK(st.st_mode);
}

}  // namespace

bool to_name(std::string_view component, char (&name)[NAME_MAX + 1]) {
  if (component.size() > NAME_MAX) return false;
  std::memcpy(name, component.data(), component.size());
  name[component.size()] = '\0';
  return true;
}

int make_output_folder(char* path) {
  int mkdir_error = 0;
  for (char* p = path;; ++p) {
    if (*p != '/' && *p != '\0') continue;
    const char end = *p;
    *p = '\0';
    if (p != path && ::mkdir(path, 0777) != 0 && errno != EEXIST) {
      mkdir_error = errno;
    }
    *p = end;
    if (end == '\0') break;
  }
  const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT && mkdir_error != 0) errno = mkdir_error;
  return fd;
}

output_tree::output_tree(int root)
    : root_(root), kept_open_(folders_kept_open()) {}

output_tree::~output_tree() {
  for (const level& folder : levels_) {
    if (folder.fd >= 0) ::close(folder.fd);
  }
  ::close(root_);
}

int output_tree::reach(std::string_view folders, write_failure& failure,
                       bool make) {
  std::size_t common = 0;
  std::string_view rest = folders;
  for (; common < levels_.size(); ++common) {
    std::string_view after = rest;
    if (next_folder(after) != levels_[common].name) break;
    rest = after;
  }
  if (!leave_to(common)) rest = folders;
  for (std::string_view step; !(step = next_folder(rest)).empty();) {
    if (!step_down(step, failure, make)) return -1;
  }
  return current();
}

// Leaves folders up to depth; when one that was closed is no longer the
// folder above, leaves them all for the output folder and returns false.
bool output_tree::leave_to(std::size_t depth) {
  bool same = true;
  while (levels_.size() > depth) {
    level& deepest = levels_.back();
    if (levels_.size() >= 2 && levels_[levels_.size() - 2].fd < 0 && same) {
      level& above = levels_[levels_.size() - 2];
      above.fd = open_parent(deepest.fd, above.id);
      if (above.fd >= 0) {
        ++open_;
      } else {
        same = false;
        depth = 0;
      }
    }
    if (deepest.fd >= 0) {
      ::close(deepest.fd);
      --open_;
    }
    levels_.pop_back();
  }
  return same;
}

bool output_tree::step_down(std::string_view step, write_failure& failure,
                            bool make) {
  const int next = open_step(current(), step, failure, make);
  if (next < 0) return false;
  struct stat id {};
  (void)::fstat(next, &id);
  levels_.push_back({std::string(step), id_of(id), next});
  if (++open_ > kept_open_) {
    level& oldest = levels_[levels_.size() - 1 - kept_open_];
    ::close(oldest.fd);
    oldest.fd = -1;
    --open_;
  }
  return true;
}

int output_tree::open_step(int folder, std::string_view step,
                           write_failure& failure, bool make) {
  char name[NAME_MAX + 1];
  if (!to_name(step, name)) {
    errno = ENAMETOOLONG;
    failure.unwritable();
    return -1;
  }
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int next = ::openat(folder, name, kFlags);
  if (next < 0 && errno == ENOENT && make &&
      (::mkdirat(folder, name, 0777) == 0 || errno == EEXIST)) {
    next = ::openat(folder, name, kFlags);
  }
  if (next < 0) {
    failure.unwritable();
    if (is_symbolic_link(folder, name)) failure = {message::kLeavesFolder, 0};
  }
  return next;
}

}  // namespace zorbu
