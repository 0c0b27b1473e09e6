#include "partial_output.hpp"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "fd_io.hpp"
#include "same_file.hpp"

namespace {

// The partial output in flight, for the signal handler to remove: the
// descriptor of its folder, or -1 when there is none, and its name there.
// The name is whole whenever the descriptor is set.
volatile std::sig_atomic_t partial_folder = -1;
char partial_name[zorbu::partial_names::kSize];

}  // namespace

extern "C" {
static void remove_partial_and_die(int signal_number) {
  const int folder = partial_folder;
  if (folder >= 0) (void)::unlinkat(folder, partial_name, 0);
  zorbu::message::clear_status_in_handler();
  // Blocked until this returns, then the default action ends the process
  // with the status a shell reports for the signal.
  (void)::signal(signal_number, SIG_DFL);
  (void)::raise(signal_number);
}
}

namespace zorbu {

partial_names::partial_names() {
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

void partial_names::next(char* name) {
  // splitmix64: every call gives another value.
  std::uint64_t z = (state_ += 0x9e3779b97f4a7c15U);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9U;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebU;
  z ^= z >> 31;
  (void)std::snprintf(name, kSize, ".zorbu-partial.%s.%ld.%016llx", host_,
                      static_cast<long>(::getpid()),
                      static_cast<unsigned long long>(z));
}

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

bool partial_output::write(std::string_view bytes) {
  if (fd_ < 0 && !create()) return false;
  errno = 0;
  if (fd_sink(fd_).write(bytes)) return true;
  failure_.unwritable();
  return false;
}

bool partial_output::publish() {
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

bool partial_output::create() {
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
  if (replacing && same_file(existing, input_)) {
    failure_ = {message::kInputIsOutput, 0};
    return false;
  }
  // A clash needs a leftover of a process with this host, number and
  // random part; a few tries are plenty.
  for (int tries = 0; tries < 16 && fd_ < 0; ++tries) {
    partial_folder = -1;
    names_.next(partial_name);
    partial_folder = folder_;
    fd_ = ::openat(folder_, partial_name,
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

void partial_output::discard() {
  if (partial_folder < 0) return;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  (void)::unlinkat(folder_, partial_name, 0);
  partial_folder = -1;
}

}  // namespace zorbu
