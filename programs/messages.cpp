#include "messages.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "fd_io.hpp"

namespace zorbu::message {

namespace {

// Returns the cursor to the start of the line and erases it.
constexpr std::string_view kEraseLine = "\r\033[K";

// Set while a status line stands on the terminal, unended.
bool status_shown = false;

// A line of standard error built in pieces and written in one write when it
// fits, after what clears a status line.
class line_writer {
 public:
  line_writer() {
    if (status_shown) put_plain(kEraseLine);
    status_shown = false;
  }
  line_writer(const line_writer&) = delete;
  line_writer& operator=(const line_writer&) = delete;
  ~line_writer() { flush(); }

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
  line_writer line;
  line.put_plain(text);
  status_shown = true;
}

void clear_status() { line_writer line; }

}  // namespace zorbu::message
