// How far a long run of --into has got, on a terminal: after about a
// second, one status line, updated a few times a second and cleared at the
// end. Where standard error is no terminal, nothing at all.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zorbu {

class progress {
 public:
  // total is how many files the run takes, or 0 while folders are walked;
  // with up_to_date, the line counts the files passed over as up to date.
  progress(std::size_t total, bool up_to_date);
  progress(const progress&) = delete;
  progress& operator=(const progress&) = delete;
  ~progress() { finish(); }

  // Counts one more file done, which read `bytes`.
  void file_done(std::uint64_t bytes) {
    ++files_;
    bytes_ += bytes;
    if (on_terminal_) tick();
  }
  // Counts one more file, passed over as up to date.
  void file_skipped() {
    ++files_;
    ++skipped_;
    if (on_terminal_) tick();
  }
  // Clears the line, if it is shown; nothing more is shown after.
  void finish();

 private:
  void tick();

  bool on_terminal_;
  std::size_t total_;
  bool counts_skipped_;
  std::size_t files_ = 0;
  std::size_t skipped_ = 0;
  std::uint64_t bytes_ = 0;
  std::int64_t next_show_ns_ = 0;
  bool shown_ = false;
};

}  // namespace zorbu
