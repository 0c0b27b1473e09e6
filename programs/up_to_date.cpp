#include "up_to_date.hpp"

#include <algorithm>

namespace zorbu {

namespace {

constexpr std::int64_t kSecondNs = 1'000'000'000;

// Returns the coarsest power of ten of nanoseconds, up to a second, that
// the time is a whole multiple of: what it says of its file system's
// granularity. A file system keeps every time at its granularity, but a
// finer one may hold a time that happens to be round, so the finest seen
// on a file system is the one taken.
std::int64_t roundness(const timespec& t) {
  std::int64_t step = 1;
  for (long ns = t.tv_nsec; step < kSecondNs && ns % 10 == 0; ns /= 10) {
    step *= 10;
  }
  return step;
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  return a / b - (a % b != 0 && a < 0 ? 1 : 0);
}

std::int64_t nanoseconds(const timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * kSecondNs + t.tv_nsec;
}

}  // namespace

std::int64_t update_rule::granularity(const struct stat& st) {
  // The change time is always the file system's own clock, where the
  // modification time may have been set to a round value by tar or touch.
  const std::int64_t here =
      std::min(roundness(st.st_ctim), roundness(st.st_mtim));
  for (file_system& known : seen_) {
    if (known.device == st.st_dev) {
      known.finest_ns = std::min(known.finest_ns, here);
      return known.finest_ns;
    }
  }
  seen_.push_back({st.st_dev, here});
  return here;
}

bool update_rule::up_to_date(const struct stat& output,
                             const struct stat& input) {
  if (!S_ISREG(output.st_mode)) return false;
  const std::int64_t step = std::max(granularity(output), granularity(input));
  return floor_div(nanoseconds(output.st_mtim), step) >=
         floor_div(nanoseconds(input.st_mtim), step);
}

}  // namespace zorbu
