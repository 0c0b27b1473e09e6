// An output of --into written under a partial name and renamed over its
// final name only once complete; signals remove the one in flight.
#pragma once

#include <sys/stat.h>

#include <climits>
#include <cstdint>

#include "output_path.hpp"
#include "output_tree.hpp"
#include "zorbu_internal.hpp"

namespace zorbu {

// Names for partial outputs that no other process makes, on this machine
// or another sharing the folder: the host, the process and a random part.
class partial_names {
 public:
  partial_names();
  // Writes the next name into name, which has room for kSize bytes.
  void next(char* name);
  static constexpr std::size_t kSize = 160;

 private:
  char host_[65] = {};
  std::uint64_t state_ = 0;
};

// SIGINT, SIGTERM and SIGHUP remove the partial output in flight before
// they end the process; one that the parent set to be ignored stays
// ignored.
void remove_partial_on_signals();

// One output, written under a partial name in its final folder. The partial
// file is made at the first write, so an input found invalid leaves not
// even a folder behind.
class partial_output final : public byte_sink {
 public:
  partial_output(output_tree& tree, partial_names& names,
                 const output_path& path, const struct stat& input)
      : tree_(tree), names_(names), path_(path), input_(input) {}
  partial_output(const partial_output&) = delete;
  partial_output& operator=(const partial_output&) = delete;
  ~partial_output() override { discard(); }

  bool write(std::string_view bytes) override;
  // Closes the output and gives it its final name; false, with nothing
  // left behind, when either fails.
  bool publish();
  // Why writing failed.
  const write_failure& failure() const { return failure_; }

 private:
  bool create();
  void discard();

  output_tree& tree_;
  partial_names& names_;
  const output_path& path_;
  const struct stat& input_;
  int folder_ = -1;
  int fd_ = -1;
  char final_name_[NAME_MAX + 1] = {};
  write_failure failure_;
};

}  // namespace zorbu
