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

namespace {

void convert(text_converter& converter, std::string_view piece,
             OutputBuffer& out) {
  out.commit(converter.feed(
      piece, out.room(text_converter::max_output(piece.size()))));
}

void finish(text_converter& converter, OutputBuffer& out) {
  out.commit(converter.finish(out.room(text_converter::max_output(0))));
}

// The timed text after one time tag, converted as it arrives, so that a
// segment of any length needs no more memory than a read. Pieces that follow
// one another in the reader's buffer are converted together: the converter
// then works on long runs instead of one line at a time.
class segment_writer {
 public:
  explicit segment_writer(OutputBuffer& out) : out_(out) {}

  // Adds bytes of the segment; they must stay valid as the reader promises
  // for its lines.
  void add(std::string_view bytes) {
    if (bytes.empty()) return;
    pending_ = true;
    if (bytes.data() != end_ || end_ - begin_ >= kLongestSpan) {
      convert_span();
      begin_ = bytes.data();
    }
    end_ = bytes.data() + bytes.size();
  }
  // Returns true when bytes were added since the segment was last closed.
  bool pending() const { return pending_; }
  // Writes the rest of the segment and "</time>".
  void close() {
    convert_span();
    finish(converter_, out_);
    out_.append("</time>");
    pending_ = false;
  }

 private:
  // Converts what has been added so far. add() and close() call it before
  // the reader can reuse the memory of the lines added.
  void convert_span() {
    if (begin_ != end_) {
      convert(converter_, {begin_, static_cast<std::size_t>(end_ - begin_)},
              out_);
    }
    begin_ = end_ = nullptr;
  }

  // Keeps the converted span well within the output buffer's spare room.
  static constexpr std::ptrdiff_t kLongestSpan = 64 << 10;

  OutputBuffer& out_;
  text_converter converter_{false};
  const char* begin_ = nullptr;
  const char* end_ = nullptr;
  bool pending_ = false;
};

}  // namespace

outcome rewrite_rt(LineReader& in, std::int64_t body_count, OutputBuffer& out) {
  if (const auto first = in.next()) {
    text_converter markup(true);
    convert(markup, *first, out);
    finish(markup, out);
  }

  segment_writer segment(out);
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
      if (segment.pending() || !before.empty()) {
        segment.add(before);
        segment.close();
      }
      if (tag.self_closing) {
        out.append(tag.text.substr(0, tag.text.size() - 2));
        out.append(">");
      } else {
        out.append(tag.text);
      }
      segment.add(line->substr(*after));
    } else {
      segment.add(*line);
    }
    if (!out.maybe_flush()) return outcome::unwritable;
  }
  segment.close();

  while (const auto line = in.next()) {
    out.append(*line);
    if (!out.maybe_flush()) return outcome::unwritable;
  }
  if (!out.flush()) return outcome::unwritable;
  return in.failed() ? outcome::unreadable : outcome::rewritten;
}

outcome filter_rt(ByteSource& in, ByteSink& out, std::size_t buffer) {
  LineReader lines(in, buffer);
  const auto body_count = check_rt(lines);
  if (!body_count) return outcome::unreadable;
  if (*body_count == 0) return outcome::invalid;
  OutputBuffer buffered(out, buffer);
  return rewrite_rt(lines, *body_count, buffered);
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

// A larger pipe means fewer, larger hand-overs to the reader. A pipe that is
// already larger is left so; where growing is not allowed or standard output
// is no pipe, nothing changes.
void widen_output_pipe() {
  constexpr int kPipeSize = 1 << 20;
  const int size = ::fcntl(STDOUT_FILENO, F_GETPIPE_SZ);
  if (size >= 0 && size < kPipeSize) {
    ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, kPipeSize);
  }
}

int fail(const char* message) {
  // If standard error cannot be written either, the status still tells.
  (void)std::fputs(message, stderr);
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

  widen_output_pipe();
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
