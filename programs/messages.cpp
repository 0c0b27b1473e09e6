#include "messages.hpp"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>

#include "fd_io.hpp"

namespace zorbu::message {

namespace {

// Returns the cursor to the start of the line and erases it.
constexpr std::string_view kEraseLine = "\r\033[K";

// Set while a status line stands on the terminal, unended; read by the
// handler of the signals that end a run.
volatile std::sig_atomic_t status_shown = 0;

// A line of standard error built in pieces and written in one write when it
// fits, after what clears a status line. status_shown stays set until the
// line that ends the status line is written, so that a signal at any moment
// in between still finds the status line to clear.
class line_writer {
 public:
  explicit line_writer(bool is_status = false) : is_status_(is_status) {
    if (status_shown != 0) put_plain(kEraseLine);
  }
  line_writer(const line_writer&) = delete;
  line_writer& operator=(const line_writer&) = delete;
  ~line_writer() {
    if (is_status_) status_shown = 1;
    flush();
    if (!is_status_) status_shown = 0;
  }

  void put_plain(std::string_view text) {
    while (!text.empty()) {
      if (size_ == sizeof line_) flush();
      const std::size_t n = std::min(text.size(), sizeof line_ - size_);
      std::memcpy(line_ + size_, text.data(), n);
      size_ += n;
      text.remove_prefix(n);
    }
  }
  // Puts text with control bytes as \ooo and backslashes doubled.
  void put_escaped(std::string_view text) {
    for (const char c : text) {
      if (size_ + 4 > sizeof line_) flush();
      const auto byte = static_cast<unsigned char>(c);
      if (c == '\\') {
        line_[size_++] = '\\';
        line_[size_++] = '\\';
      } else if (byte < 32 || byte == 127) {
        line_[size_++] = '\\';
        line_[size_++] = static_cast<char>('0' + (byte >> 6));
        line_[size_++] = static_cast<char>('0' + ((byte >> 3) & 7));
        line_[size_++] = static_cast<char>('0' + (byte & 7));
      } else {
        line_[size_++] = c;
      }
    }
  }

 private:
  void flush() {
    (void)fd_sink(STDERR_FILENO).write({line_, size_});
    size_ = 0;
  }

  bool is_status_;
  char line_[4096];
  std::size_t size_ = 0;
};

}  // namespace

std::string_view for_status(status result) {
  switch (result) {
    case status::invalid:
      return kInvalid;
    case status::unreadable:
      return kUnreadable;
    case status::out_of_memory:
      return kOutOfMemory;
    // A run of the filter over a source and a sink ends in none of the
    // last three, and done has no message.
    case status::unwritable:
    case status::done:
    case status::output_full:
    case status::misuse:
      break;
  }
  return kUnwritable;
}

void say(std::string_view message, std::string_view prefix) {
  line_writer line;
  line.put_plain(prefix);
  line.put_plain(message);
  line.put_plain("\n");
}

bool report(std::string_view path, std::string_view message,
            std::string_view detail) {
  line_writer line;
  line.put_plain("zorbu: ");
  line.put_escaped(path);
  line.put_plain(": ");
  line.put_plain(kError);
  line.put_plain(message);
  line.put_escaped(detail);
  line.put_plain("\n");
  return false;
}

void show_status(std::string_view text) {
  line_writer line(true);
  line.put_plain(text);
}

void clear_status() { line_writer line; }

void clear_status_in_handler() {
  if (status_shown != 0) {
    // Nothing more can be done about a failed write, here of all places.
    const ssize_t ignored =
        ::write(STDERR_FILENO, kEraseLine.data(), kEraseLine.size());
    (void)ignored;
  }
}

}  // namespace zorbu::message
