#include "folder_walk.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "same_file.hpp"

namespace zorbu {

namespace {

// The kind of the entry named `name` in `folder`, as readdir gave it or,
// where it could not tell, as the entry itself says.
unsigned char kind_of(int folder, const char* name, unsigned char given) {
  if (given != DT_UNKNOWN) return given;
  struct stat st {};
  if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return DT_UNKNOWN;
  if (S_ISDIR(st.st_mode)) return DT_DIR;
  if (S_ISLNK(st.st_mode)) return DT_LNK;
  return DT_REG;
}

// Returns true when the link `name` in `folder` leads to a folder.
bool leads_to_folder(int folder, const char* name) {
  struct stat st {};
  return ::fstatat(folder, name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool has_rt_name(std::string_view name) {
  return name.size() >= 3 && name[name.size() - 3] == '.' &&
         (name[name.size() - 2] | 0x20) == 'r' &&
         (name[name.size() - 1] | 0x20) == 't';
}

void walk_folder(int folder, std::string& path, const struct stat& skip,
                 walk_visitor& visitor) {
  DIR* const dir = ::fdopendir(folder);
  if (dir == nullptr) {
    visitor.unreadable(path, errno);
    ::close(folder);
    return;
  }
  const std::size_t base = path.size();
  const bool slash = base > 0 && path.back() != '/';
  for (;;) {
    errno = 0;
    const dirent* const entry = ::readdir(dir);
    if (entry == nullptr) {
      path.resize(base);
      if (errno != 0) visitor.unreadable(path, errno);
      break;
    }
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    path.resize(base);
    if (slash) path += '/';
    path += name;
    const unsigned char kind = kind_of(folder, entry->d_name, entry->d_type);
    if (kind == DT_DIR) {
      const int sub = ::openat(folder, entry->d_name,
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      struct stat st {};
      if (sub < 0 || ::fstat(sub, &st) != 0) {
        visitor.unreadable(path, errno);
        if (sub >= 0) ::close(sub);
      } else if (same_file(st, skip)) {
        ::close(sub);
      } else {
        walk_folder(sub, path, skip, visitor);
      }
    } else if (has_rt_name(name) &&
               !(kind == DT_LNK && leads_to_folder(folder, entry->d_name))) {
      visitor.file(path);
    }
  }
  path.resize(base);
  ::closedir(dir);
}

}  // namespace zorbu
