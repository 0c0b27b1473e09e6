#include "progress.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "messages.hpp"

namespace zorbu {

namespace {

// Nothing is shown for a run shorter than this, and then no more often
// than every kEvery.
constexpr std::int64_t kFirstAfterNs = 1'000'000'000;
constexpr std::int64_t kEveryNs = 100'000'000;

std::int64_t now_ns() {
  // The coarse clock is read without a system call, and a few milliseconds
  // out is close enough here.
  timespec t{};
  (void)::clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

}  // namespace

progress::progress(std::size_t total, bool up_to_date)
    : on_terminal_(::isatty(STDERR_FILENO) == 1),
      total_(total),
      counts_skipped_(up_to_date) {
  if (on_terminal_) next_show_ns_ = now_ns() + kFirstAfterNs;
}

void progress::tick() {
  const std::int64_t now = now_ns();
  if (now < next_show_ns_) return;
  next_show_ns_ = now + kEveryNs;
  char line[128];
  std::size_t size = 0;
  const auto put = [&](int n) {
    if (n > 0) {
      size = std::min(size + static_cast<std::size_t>(n), sizeof line - 1);
    }
  };
  put(total_ > 0
          ? std::snprintf(line, sizeof line, "%zu of %zu files", files_, total_)
          : std::snprintf(line, sizeof line, "%zu files", files_));
  if (counts_skipped_) {
    put(std::snprintf(line + size, sizeof line - size, ", %zu up to date",
                      skipped_));
  }
  put(std::snprintf(line + size, sizeof line - size, ", %.1f MiB read",
                    static_cast<double>(bytes_) / (1 << 20)));
  message::show_status({line, size});
  shown_ = true;
}

void progress::finish() {
  if (shown_) message::clear_status();
  shown_ = false;
  on_terminal_ = false;
}

}  // namespace zorbu
