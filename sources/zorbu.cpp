// zorbu: checks an rt file and writes a rewritten copy to standard output.
#include "zorbu.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "color_convert.hpp"
#include "tag_search.hpp"

namespace zorbu {

std::optional<std::int64_t> check_rt(LineReader& in) {
  const auto first = in.next();
  if (!first) return 0;
  tag_info tag;
  const auto after_window = search_tag(*first, "window", tag);
  if (!after_window) return 0;
  // A font opened after the window is closed on a line of its own.
  const std::int64_t closing_lines =
      search_tag(first->substr(*after_window), "font", tag) ? 2 : 1;
  std::int64_t lines = 0;
  while (in.next()) ++lines;
  if (in.failed() || !in.rewind()) return std::nullopt;
  return lines - closing_lines;
}

outcome rewrite_rt(LineReader& in, std::int64_t body_count, OutputBuffer& out) {
  constexpr std::string_view kClose = "</time>";
  std::string& buf = out.text();

  if (const auto first = in.next()) {
    text_converter markup(true);
    markup.feed(*first, buf);
    markup.finish(buf);
  }

  // Each segment is converted as it arrives, so a segment of any length
  // needs no more memory than a line.
  text_converter segment(false);
  bool pending = false;
  tag_info tag;
  // The input can only run out early if it shrank since it was checked; the
  // body then ends where the input does.
  for (std::int64_t left = body_count; left > 0; --left) {
    const auto line = in.next();
    if (!line) break;
    if (const auto after = search_tag(*line, "time", tag)) {
      const std::string_view before = line->substr(0, *tag.start);
      // Text before the tag closes the pending segment, or stands as a
      // segment of its own rather than being lost.
      if (pending || !before.empty()) {
        segment.feed(before, buf);
        segment.finish(buf);
        buf.append(kClose);
      }
      if (tag.self_closing) {
        buf.append(tag.text.substr(0, tag.text.size() - 2));
        buf.push_back('>');
      } else {
        buf.append(tag.text);
      }
      const std::string_view rest = line->substr(*after);
      segment.feed(rest, buf);
      pending = !rest.empty();
    } else {
      segment.feed(*line, buf);
      pending = true;
    }
    if (!out.maybe_flush()) return outcome::unwritable;
  }
  segment.finish(buf);
  buf.append(kClose);

  while (const auto line = in.next()) {
    buf.append(*line);
    if (!out.maybe_flush()) return outcome::unwritable;
  }
  if (!out.flush()) return outcome::unwritable;
  return in.failed() ? outcome::unreadable : outcome::rewritten;
}

outcome filter_rt(ByteSource& in, ByteSink& out) {
  LineReader lines(in);
  const auto body_count = check_rt(lines);
  if (!body_count) return outcome::unreadable;
  if (*body_count == 0) return outcome::invalid;
  OutputBuffer buffer(out);
  return rewrite_rt(lines, *body_count, buffer);
}

}  // namespace zorbu

#ifndef ZORBU_NO_MAIN

namespace {

// Keeps descriptors 0 to 2 taken, so that no file opened later can become
// standard output by accident. A closed standard output gets a read-only
// stand-in, on which every write fails and is reported.
void reserve_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      ::open("/dev/null", fd == STDERR_FILENO ? O_WRONLY : O_RDONLY);
    }
  }
}

// Returns a descriptor above the standard ones for a new unnamed temporary
// file, or -1.
int open_temporary() {
  const char* dir = std::getenv("TMPDIR");
  if (dir == nullptr || *dir == '\0') dir = "/tmp";
  int fd = ::open(dir, O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    // Some file systems cannot make unnamed files: make a named one and
    // remove its name at once.
    std::string path = std::string(dir) + "/zorbu.XXXXXX";
    fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) return -1;
    ::unlink(path.c_str());
  }
  if (fd > STDERR_FILENO) return fd;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  ::close(fd);
  return moved;
}

// Input that cannot be read twice (a pipe, a terminal) is copied to a
// temporary file first. Returns a rewindable descriptor for fd, closing fd if
// it was replaced, or -1 when the copy failed.
int make_rereadable(int fd) {
  if (::lseek(fd, 0, SEEK_CUR) >= 0 || errno != ESPIPE) return fd;
  const int copy = open_temporary();
  bool ok = copy >= 0;
  if (ok) {
    zorbu::FdSource from(fd);
    zorbu::FdSink to(copy);
    ok = zorbu::copy_all(from, to) && ::lseek(copy, 0, SEEK_SET) == 0;
  }
  ::close(fd);
  if (!ok && copy >= 0) ::close(copy);
  return ok ? copy : -1;
}

int fail(const char* message) {
  std::fputs(message, stderr);
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  reserve_standard_descriptors();
  if (argc < 2) return fail("usage: zorbu filename\n");
  const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail("usage: zorbu filename\n");
  const int input = make_rereadable(fd);
  if (input < 0) return fail("error: cannot read input\n");

  zorbu::FdSource source(input);
  zorbu::FdSink sink(STDOUT_FILENO);
  const zorbu::outcome result = zorbu::filter_rt(source, sink);
  ::close(input);
  switch (result) {
    case zorbu::outcome::rewritten:
      // Some file systems report a failed write only when it is closed.
      if (::close(STDOUT_FILENO) != 0 && errno != EINTR) {
        return fail("error: cannot write output\n");
      }
      return 0;
    case zorbu::outcome::invalid:
      return fail("error: invalid rt file\n");
    case zorbu::outcome::unreadable:
      return fail("error: cannot read input\n");
    case zorbu::outcome::unwritable:
      return fail("error: cannot write output\n");
  }
  return fail("error: cannot write output\n");
}

#endif  // ZORBU_NO_MAIN
