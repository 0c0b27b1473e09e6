#include "folder_walk.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "folder_steps.hpp"
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

// Returns true for an entry a walk may act on: one that is or may be a
// folder, or that has an rt name.
bool may_matter(std::string_view name, unsigned char kind) {
  return kind == DT_DIR || kind == DT_UNKNOWN || has_rt_name(name);
}

// A folder on the way from the walk's first folder to the one being read.
struct walk_level {
  DIR* listing = nullptr;  // while its names come from the system
  int fd = -1;             // -1 while it is closed to spare descriptors
  file_id id;              // what it must still be when it is reopened
  // The names still to visit, read ahead when it was closed: each a kind
  // byte, the name and a NUL, so that the name can be handed to openat.
  std::string ahead;
  std::size_t next = 0;  // where the next name starts in ahead
  std::size_t path_size = 0;
};

class tree_walk {
 public:
  tree_walk(std::string& path, const struct stat& skip, walk_visitor& visitor)
      : path_(path),
        skip_(skip),
        visitor_(visitor),
        kept_open_(folders_kept_open()) {}
  tree_walk(const tree_walk&) = delete;
  tree_walk& operator=(const tree_walk&) = delete;
  ~tree_walk() {
    while (!levels_.empty()) close_deepest();
  }

  void run(int folder);

 private:
  bool enter(int fd, const file_id& id);
  bool next_name(walk_level& level, const char*& name, unsigned char& kind);
  void visit(int folder, const char* name, unsigned char kind);
  void leave();
  void read_ahead(walk_level& level);
  void close_deepest();
  void report(std::size_t path_size, int error);

  std::string& path_;
  const struct stat& skip_;
  walk_visitor& visitor_;
  std::size_t kept_open_;
  // levels_[0] stays open; the others that are open are the deepest ones.
  std::vector<walk_level> levels_;
  std::size_t open_below_first_ = 0;
};

void tree_walk::run(int folder) {
  const std::size_t base = path_.size();
  struct stat id {};
  if (::fstat(folder, &id) != 0 || !enter(folder, id_of(id))) {
    visitor_.unreadable(path_, errno);
    ::close(folder);
    return;
  }
  while (!levels_.empty()) {
    walk_level& level = levels_.back();
    const char* name = nullptr;
    unsigned char kind = DT_UNKNOWN;
    if (next_name(level, name, kind)) {
      visit(level.fd, name, kind);
    } else {
      leave();
    }
  }
  path_.resize(base);
}

// Takes fd as the deepest level, closing the shallowest open one beyond
// the first when that keeps more open than allowed.
bool tree_walk::enter(int fd, const file_id& id) {
  DIR* const listing = ::fdopendir(fd);
  if (listing == nullptr) return false;
  levels_.push_back({listing, fd, id, {}, 0, path_.size()});
  if (levels_.size() == 1) return true;
  if (++open_below_first_ > kept_open_) {
    walk_level& oldest = levels_[levels_.size() - 1 - kept_open_];
    read_ahead(oldest);
    ::closedir(oldest.listing);
    oldest.listing = nullptr;
    oldest.fd = -1;
    --open_below_first_;
  }
  return true;
}

bool tree_walk::next_name(walk_level& level, const char*& name,
                          unsigned char& kind) {
  if (level.listing == nullptr) {
    if (level.next >= level.ahead.size()) return false;
    kind = static_cast<unsigned char>(level.ahead[level.next]);
    name = level.ahead.data() + level.next + 1;
    level.next += std::strlen(name) + 2;
    return true;
  }
  for (;;) {
    errno = 0;
    const dirent* const entry = ::readdir(level.listing);
    if (entry == nullptr) {
      if (errno != 0) report(level.path_size, errno);
      return false;
    }
    const std::string_view found = entry->d_name;
    if (found == "." || found == "..") continue;
    name = entry->d_name;
    kind = entry->d_type;
    return true;
  }
}

void tree_walk::visit(int folder, const char* name, unsigned char kind) {
  const std::size_t base = levels_.back().path_size;
  path_.resize(base);
  if (base > 0 && path_.back() != '/') path_ += '/';
  path_ += name;
  kind = kind_of(folder, name, kind);
  if (kind == DT_DIR) {
    const int sub =
        ::openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat id {};
    if (sub < 0 || ::fstat(sub, &id) != 0) {
      visitor_.unreadable(path_, errno);
      if (sub >= 0) ::close(sub);
    } else if (same_file(id, skip_)) {
      ::close(sub);
    } else if (!enter(sub, id_of(id))) {
      visitor_.unreadable(path_, errno);
      ::close(sub);
    }
  } else if (has_rt_name(name) &&
             !(kind == DT_LNK && leads_to_folder(folder, name))) {
    visitor_.file(folder, name, path_);
  }
}

// Leaves the deepest level for the one above, reopening that one from it
// when it was closed. A folder that is no longer where it was is named, and
// so is every closed one above it that had names left, which no descriptor
// reaches now.
void tree_walk::leave() {
  const std::size_t deepest = levels_.size() - 1;
  if (deepest == 0 || levels_[deepest - 1].fd >= 0) {
    close_deepest();
    return;
  }
  walk_level& above = levels_[deepest - 1];
  above.fd = open_parent(levels_[deepest].fd, above.id);
  const int error = errno;
  close_deepest();
  if (above.fd >= 0) {
    ++open_below_first_;
    return;
  }
  while (levels_.back().fd < 0) {
    walk_level& lost = levels_.back();
    if (lost.next < lost.ahead.size()) report(lost.path_size, error);
    levels_.pop_back();
  }
}

// Reads the names of level that are still to visit and may matter.
void tree_walk::read_ahead(walk_level& level) {
  const char* name = nullptr;
  unsigned char kind = DT_UNKNOWN;
  while (next_name(level, name, kind)) {
    if (!may_matter(name, kind)) continue;
    level.ahead += static_cast<char>(kind);
    level.ahead.append(name, std::strlen(name) + 1);
  }
}

void tree_walk::close_deepest() {
  walk_level& level = levels_.back();
  if (level.listing != nullptr) {
    ::closedir(level.listing);
  } else if (level.fd >= 0) {
    ::close(level.fd);
  }
  if (level.fd >= 0 && levels_.size() > 1) --open_below_first_;
  levels_.pop_back();
}

void tree_walk::report(std::size_t path_size, int error) {
  visitor_.unreadable(path_.substr(0, path_size), error);
}

}  // namespace

bool has_rt_name(std::string_view name) {
  return name.size() >= 3 && name[name.size() - 3] == '.' &&
         (name[name.size() - 2] | 0x20) == 'r' &&
         (name[name.size() - 1] | 0x20) == 't';
}

void walk_folder(int folder, std::string& path, const struct stat& skip,
                 walk_visitor& visitor) {
  tree_walk(path, skip, visitor).run(folder);
}

}  // namespace zorbu
