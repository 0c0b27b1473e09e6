#include "output_tree.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

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

output_tree::~output_tree() {
  leave();
  ::close(root_);
}

int output_tree::enter(std::string_view folders, write_failure& failure) {
  if (current_ >= 0 && folders == current_folders_) return current_;
  leave();
  int folder = root_;
  for (std::string_view rest = folders, step;
       !(step = next_folder(rest)).empty();) {
    const int next = open_step(folder, step, failure);
    if (folder != root_) ::close(folder);
    if (next < 0) return -1;
    folder = next;
  }
  current_ = folder;
  current_folders_.assign(folders);
  return current_;
}

int output_tree::open_step(int folder, std::string_view step,
                           write_failure& failure) {
  char name[NAME_MAX + 1];
  if (!to_name(step, name)) {
    errno = ENAMETOOLONG;
    failure.unwritable();
    return -1;
  }
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int next = ::openat(folder, name, kFlags);
  if (next < 0 && errno == ENOENT &&
      (::mkdirat(folder, name, 0777) == 0 || errno == EEXIST)) {
    next = ::openat(folder, name, kFlags);
  }
  if (next < 0) {
    failure.unwritable();
    if (is_symbolic_link(folder, name)) failure = {message::kLeavesFolder, 0};
  }
  return next;
}

void output_tree::leave() {
  if (current_ >= 0 && current_ != root_) ::close(current_);
  current_ = -1;
}

}  // namespace zorbu
