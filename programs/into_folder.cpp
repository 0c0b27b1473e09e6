#include "into_folder.hpp"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string_view>

#include "fd_io.hpp"
#include "messages.hpp"
#include "output_path.hpp"
#include "zorbu_internal.hpp"

namespace {

// The partial output in flight, for the signal handler to remove: the
// descriptor of its folder, or -1 when there is none, and its name there.
// The name is whole whenever the descriptor is set.
volatile std::sig_atomic_t partial_folder = -1;
char partial_name[160];

}  // namespace

extern "C" {
static void remove_partial_and_die(int signal_number) {
  const int folder = partial_folder;
  if (folder >= 0) (void)::unlinkat(folder, partial_name, 0);
  // Blocked until this returns, then the default action ends the process
  // with the status a shell reports for the signal.
  (void)::signal(signal_number, SIG_DFL);
  (void)::raise(signal_number);
}
}

namespace zorbu {

namespace {

constexpr int kExitSomeFailed = 1;
constexpr int kExitNothingDone = 255;

// Writes "zorbu: PATH: error: MESSAGEDETAIL" to standard error, in one write
// when it fits, with PATH's control bytes as \ooo so that it stays one line
// and its backslashes doubled so that every name reads back one way.
// Returns false, for the caller to return on a failed file.
bool report(std::string_view path, std::string_view message,
            std::string_view detail = {}) {
  char line[4096];
  std::size_t size = 0;
  const auto flush = [&] {
    (void)fd_sink(STDERR_FILENO).write({line, size});
    size = 0;
  };
  const auto put = [&](std::string_view text) {
    for (const char c : text) {
      if (size + 4 > sizeof line) flush();
      const auto byte = static_cast<unsigned char>(c);
      if (c == '\\') {
        line[size++] = '\\';
        line[size++] = '\\';
      } else if (byte < 32 || byte == 127) {
        line[size++] = '\\';
        line[size++] = static_cast<char>('0' + (byte >> 6));
        line[size++] = static_cast<char>('0' + ((byte >> 3) & 7));
        line[size++] = static_cast<char>('0' + (byte & 7));
      } else {
        line[size++] = c;
      }
    }
  };
  const auto put_plain = [&](std::string_view text) {
    if (size + text.size() > sizeof line) flush();
    const std::size_t n = std::min(text.size(), sizeof line - size);
    std::memcpy(line + size, text.data(), n);
    size += n;
  };
  put_plain("zorbu: ");
  put(path);
  put_plain(": ");
  put_plain(message::kError);
  put_plain(message);
  put(detail);
  put_plain("\n");
  flush();
  return false;
}

// Writes a message that ends the whole run; returns its exit status.
int give_up(std::string_view message, std::string_view prefix = {}) {
  message::say(message, prefix);
  return kExitNothingDone;
}

// Why an output could not be written: the system's reason, or a message of
// the mode's own when error is 0.
struct write_failure {
  std::string_view why = message::kUnwritable;
  int error = EIO;
  // Takes the reason from errno, as the call that just failed left it.
  void unwritable() { error = errno != 0 ? errno : EIO; }
};

// Reports a failed output; returns false.
bool report(std::string_view path, const write_failure& failure) {
  if (failure.error == 0) return report(path, failure.why);
  return report(path, message::kCannotWrite, std::strerror(failure.error));
}

bool is_symbolic_link(int folder, const char* name) {
  struct stat st {};
  return ::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISLNK(st.st_mode);
}

// Copies a component of a path to a terminated name; false when no file
// system takes a name that long.
bool to_name(std::string_view component, char (&name)[NAME_MAX + 1]) {
  if (component.size() > NAME_MAX) return false;
  std::memcpy(name, component.data(), component.size());
  name[component.size()] = '\0';
  return true;
}

// The output folder and the one folder within it that outputs go to now,
// held open so that a run of files in one folder walks to it once.
//
// Every step is taken from the folder before it, and none follows a
// symbolic link, so that no output lands outside the output folder
// whatever links stand in it or appear in it during the run.
class output_tree {
 public:
  explicit output_tree(int root) : root_(root), current_(root) {}
  output_tree(const output_tree&) = delete;
  output_tree& operator=(const output_tree&) = delete;
  ~output_tree() {
    leave();
    ::close(root_);
  }

  // Returns the descriptor of folders, walked to from the output folder
  // and made where missing; -1 on failure, with failure set.
  int enter(std::string_view folders, write_failure& failure) {
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
    current_folders_ = folders;
    return current_;
  }

 private:
  static int open_step(int folder, std::string_view step,
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

  void leave() {
    if (current_ >= 0 && current_ != root_) ::close(current_);
    current_ = -1;
  }

  int root_;
  int current_;
  std::string_view current_folders_;
};

// Names for partial outputs that no other process makes, on this machine
// or another sharing the folder: the host, the process and a random part.
class partial_names {
 public:
  partial_names() {
    char host[65] = {};
    if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    for (char* c = host; *c != '\0'; ++c) {
      const bool plain = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') ||
                         (*c >= '0' && *c <= '9') || *c == '-' || *c == '.';
      if (!plain) *c = '_';
    }
    std::memcpy(host_, host, sizeof host);
    if (::getrandom(&state_, sizeof state_, GRND_NONBLOCK) != sizeof state_) {
      state_ = static_cast<std::uint64_t>(std::time(nullptr)) ^
               (static_cast<std::uint64_t>(::getpid()) << 32);
    }
  }

  // Writes the next name into partial_name.
  void next() {
    // splitmix64: every call gives another value.
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15U);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9U;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebU;
    z ^= z >> 31;
    (void)std::snprintf(partial_name, sizeof partial_name,
                        ".zorbu-partial.%s.%ld.%016llx", host_,
                        static_cast<long>(::getpid()),
                        static_cast<unsigned long long>(z));
  }

 private:
  char host_[65] = {};
  std::uint64_t state_ = 0;
};

// One output, written under a partial name in its final folder and renamed
// over the final name only once complete. The partial file is made at the
// first write, so an input found invalid leaves not even a folder behind.
class partial_output final : public byte_sink {
 public:
  partial_output(output_tree& tree, partial_names& names,
                 const output_path& path, const struct stat& input)
      : tree_(tree), names_(names), path_(path), input_(input) {}
  partial_output(const partial_output&) = delete;
  partial_output& operator=(const partial_output&) = delete;
  ~partial_output() override { discard(); }

  bool write(std::string_view bytes) override {
    if (fd_ < 0 && !create()) return false;
    errno = 0;
    if (fd_sink(fd_).write(bytes)) return true;
    failure_.unwritable();
    return false;
  }

  // Closes the output and gives it its final name; false, with nothing
  // left behind, when either fails.
  bool publish() {
    if (fd_ < 0 && !create()) return false;
    const int fd = fd_;
    fd_ = -1;
    if ((::close(fd) != 0 && errno != EINTR) ||
        ::renameat(folder_, partial_name, folder_, final_name_) != 0) {
      failure_.unwritable();
      discard();
      return false;
    }
    partial_folder = -1;
    return true;
  }

  // Why writing failed.
  const write_failure& failure() const { return failure_; }

 private:
  bool create() {
    if (path_.name.empty() || path_.name == "." ||
        !to_name(path_.name, final_name_)) {
      errno = path_.name.size() > NAME_MAX ? ENAMETOOLONG : EISDIR;
      failure_.unwritable();
      return false;
    }
    folder_ = tree_.enter(path_.folders, failure_);
    if (folder_ < 0) return false;
    struct stat existing {};
    const bool replacing =
        ::fstatat(folder_, final_name_, &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (replacing && existing.st_dev == input_.st_dev &&
        existing.st_ino == input_.st_ino) {
      failure_ = {message::kInputIsOutput, 0};
      return false;
    }
    // A clash needs a leftover of a process with this host, number and
    // random part; a few tries are plenty.
    for (int tries = 0; tries < 16 && fd_ < 0; ++tries) {
      partial_folder = -1;
      names_.next();
      partial_folder = folder_;
      fd_ =
          ::openat(folder_, partial_name,
                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) {
      failure_.unwritable();
      partial_folder = -1;
      return false;
    }
    // A replaced output keeps its permissions, as an edit in place keeps
    // them, but never a set-user or set-group bit from an earlier file.
    if (replacing && S_ISREG(existing.st_mode) &&
        ::fchmod(fd_, existing.st_mode & 0777) != 0) {
      failure_.unwritable();
      discard();
      return false;
    }
    return true;
  }

  void discard() {
    if (partial_folder < 0) return;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    (void)::unlinkat(folder_, partial_name, 0);
    partial_folder = -1;
  }

  output_tree& tree_;
  partial_names& names_;
  const output_path& path_;
  const struct stat& input_;
  int folder_ = -1;
  int fd_ = -1;
  char final_name_[NAME_MAX + 1] = {};
  write_failure failure_;
};

// Makes the output folder and the folders above it where missing, as
// mkdir -p does, and opens it; -1 with errno set when it cannot.
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

// SIGINT, SIGTERM and SIGHUP remove the partial output before they end the
// process; one that the parent set to be ignored stays ignored.
void remove_partial_on_signals() {
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action {};
    if (::sigaction(signal_number, nullptr, &action) != 0 ||
        action.sa_handler == SIG_IGN) {
      continue;
    }
    action = {};
    action.sa_handler = remove_partial_and_die;
    (void)sigemptyset(&action.sa_mask);
    (void)sigaddset(&action.sa_mask, SIGINT);
    (void)sigaddset(&action.sa_mask, SIGTERM);
    (void)sigaddset(&action.sa_mask, SIGHUP);
    (void)::sigaction(signal_number, &action, nullptr);
  }
}

// Converts one input; returns false when it failed, which it has reported.
bool convert_one(const char* file, output_tree& tree, partial_names& names,
                 std::span<char> storage, const simd::kernels& kernels) {
  const std::string_view given = file;
  if (given == "-") return report(given, message::kNoName);
  const output_path path = output_path_of(given);
  if (path.climbs) return report(given, message::kLeavesFolder);
  // Not blocking, so that a FIFO with no writer reads as empty instead of
  // stopping the run; the reader waits for data like any other.
  const int input = ::open(file, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (input < 0) {
    return report(given, message::kCannotOpen, std::strerror(errno));
  }
  struct stat input_stat {};
  (void)::fstat(input, &input_stat);
  fd_source source(input);
  partial_output output(tree, names, path, input_stat);
  outcome result = outcome::out_of_memory;
  try {
    result = filter_rt(source, output, storage, block_reader::kDefaultBlock,
                       kernels);
  } catch (const std::bad_alloc&) {
    result = outcome::out_of_memory;
  }
  ::close(input);
  if (result == outcome::rewritten && output.publish()) return true;
  if (result == outcome::unwritable || result == outcome::rewritten) {
    return report(given, output.failure());
  }
  return report(given, message::for_outcome(result));
}

}  // namespace

int convert_into_folder(std::span<char* const> args,
                        const simd::kernels& kernels) {
  // A message to a standard error that nobody reads any more is lost, not
  // the end of the run: the partial output is still removed, the files
  // after it converted, and the status tells of the failure.
  (void)std::signal(SIGPIPE, SIG_IGN);
  if (args.empty()) return give_up(message::kUsageInto);
  const std::span<char* const> files = args.subspan(1);
  if (files.empty()) return 0;

  // One allocation serves every file of the run.
  const std::size_t size = filter_storage_for(block_reader::kDefaultBlock);
  const std::unique_ptr<char, decltype(&std::free)> storage(
      static_cast<char*>(std::malloc(size)), &std::free);
  if (!storage) return give_up(message::kOutOfMemory, message::kError);
  const int root = make_output_folder(args[0]);
  if (root < 0) {
    report(args[0], message::kCannotMakeFolder, std::strerror(errno));
    return kExitNothingDone;
  }
  remove_partial_on_signals();
  output_tree tree(root);
  partial_names names;
  int status = 0;
  for (char* const file : files) {
    if (!convert_one(file, tree, names, {storage.get(), size}, kernels)) {
      status = kExitSomeFailed;
    }
  }
  return status;
}

}  // namespace zorbu
