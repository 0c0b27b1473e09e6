#include "rt/body_writer.hpp"

#include <cstring>

#include "rt/lines.hpp"

namespace zorbu {

void convert_into(text_converter& converter, std::string_view piece,
                  const char* readable_end, output_buffer& out) {
  out.commit(converter.feed(
      piece, out.room(text_converter::max_output(piece.size())),
      static_cast<std::size_t>(readable_end - (piece.data() + piece.size()))));
}

void finish_into(text_converter& converter, output_buffer& out) {
  out.commit(converter.finish(out.room(text_converter::max_output(0))));
}

void segment_writer::add(std::string_view bytes, const char* readable_end) {
  if (bytes.empty()) return;
  pending_ = true;
  while (bytes.size() > longest_run_) {
    convert_into(converter_, bytes.substr(0, longest_run_), readable_end, out_);
    bytes.remove_prefix(longest_run_);
  }
  convert_into(converter_, bytes, readable_end, out_);
}

void segment_writer::end_line() {
  out_.commit(converter_.end_line(out_.room(text_converter::max_output(0))));
}

void segment_writer::close() {
  finish_into(converter_, out_);
  out_.append(kCloseTime);
  pending_ = false;
}

namespace {

// Returns the end of the last line in [p, end) that a newline ends, or p
// when there is none.
const char* past_last_newline(const char* p, const char* end) {
  const void* const newline =
      memrchr(p, '\n', static_cast<std::size_t>(end - p));
  return newline == nullptr ? p : static_cast<const char*>(newline) + 1;
}

// Writes a time tag as an opening tag; returns the end of what it wrote.
char* put_tag(char* out, std::string_view tag) {
  if (tag.size() >= 2 && tag[tag.size() - 2] == '/') {
    out = put_bytes(out, tag.substr(0, tag.size() - 2));
    *out++ = '>';
    return out;
  }
  return put_bytes(out, tag);
}

}  // namespace

// The body kernel takes runs of lines that newlines end, and only a settled
// segment: a newline decides everything before it but a first key's value
// that starts past it. Such a value, and lines that a length limit cut,
// are few, and go a line at a time through the segment's converter, which
// holds back what they leave undecided.
void body_writer::region(std::string_view region, const char* readable_end) {
  readable_end_ = readable_end;
  const char* p = region.data();
  const char* const end = p + region.size();
  const char* const lines_end = past_last_newline(p, end);
  while (p < lines_end) {
    if (!segment_.settled()) {
      p = line_by_line(p, lines_end, true);
      continue;
    }
    const char* run_end = lines_end;
    if (static_cast<std::size_t>(lines_end - p) > longest_run_) {
      run_end = past_last_newline(p, p + longest_run_);
    }
    p = run_end == p ? line_by_line(p, lines_end, true)
                     : kernel_run(p, run_end);
  }
  line_by_line(p, end, false);
}

// Rewrites the whole lines [p, end) with the body kernel; returns end.
const char* body_writer::kernel_run(const char* p, const char* end) {
  char* const room =
      out_.room(text_converter::max_output(static_cast<std::size_t>(end - p)) +
                kCloseTime.size());
  scan s{end, p, p, nullptr};
  simd::body_scan b{
      p, room, nullptr, segment_.first_key(), segment_.pending(), false};
  for (;;) {
    kernels_.rewrite_body(b, end, readable_end_);
    if (b.tag_line != nullptr) s.p = s.tag_line = b.tag_line;
    if (!b.at_tag) break;
    // A tag the kernel leaves to the line rules.
    const char* const candidate = b.in;
    std::string_view tag;
    const char* after = nullptr;
    if (!tag_at(s, candidate, tag, after)) {
      // A '<' of the text after all.
      b.out = put_bytes(b.out, kEscapedOpen);
      b.in = candidate + 1;
      b.has_text = true;
      continue;
    }
    // The tag may stand further on in the line, past text that no colour
    // value runs into, since no colour name has a '<'.
    if (tag.data() > candidate) {
      b.out = kernels_
                  .convert_text(candidate, tag.data(), readable_end_, b.out,
                                simd::text_kind::timed_text, b.first_key,
                                simd::text_end::last)
                  .out;
      b.has_text = true;
    }
    if (b.has_text) b.out = put_bytes(b.out, kCloseTime);
    b.out = put_tag(b.out, tag);
    b = {after, b.out, nullptr, true, false, false};
  }
  out_.commit(b.out);
  segment_.resume(b.first_key, b.has_text, b.value_at_end);
  return end;
}

// Rewrites lines from p on, one at a time through the segment's converter,
// up to end, or with to_newline up to the first that a newline ends, after
// which the segment is settled; returns where it stopped.
const char* body_writer::line_by_line(const char* p, const char* end,
                                      bool to_newline) {
  while (p < end) {
    const std::string_view line(
        p, line_length({p, static_cast<std::size_t>(end - p)}, true));
    p += line.size();
    if (const auto past = search_tag(line, kTimeTag, tag_)) {
      // Text before the tag closes the pending segment, or stands as a
      // segment of its own rather than being lost.
      segment_.add(line.substr(0, *tag_.start), readable_end_);
      if (segment_.pending()) segment_.close();
      out_.commit(put_tag(out_.room(tag_.text.size()), tag_.text));
      segment_.add(line.substr(*past), readable_end_);
    } else {
      segment_.add(line, readable_end_);
    }
    if (line.back() == '\n') {
      segment_.end_line();
      if (to_newline) break;
    }
  }
  return p;
}

// Decides whether the time tag of the candidate's line is to be written
// now, and which it is: the first that the tag search finds on the line.
// Returns false for a candidate passed over, or on a line already done or
// without one. Most tags never get here: the body kernel writes those that
// stand plainly at the start of a line.
bool body_writer::tag_at(scan& s, const char* candidate, std::string_view& tag,
                         const char*& after) {
  if (candidate < s.from) return false;
  const char* const line = line_start(s.p, candidate);
  // Only the first time tag of a line counts; later ones are text.
  if (line == s.tag_line) return false;
  const std::string_view from_line(line,
                                   static_cast<std::size_t>(s.end - line));
  const std::string_view whole =
      from_line.substr(0, line_length(from_line, true));
  s.p = s.from = line + whole.size();
  s.tag_line = nullptr;
  const auto past = search_tag(whole, kTimeTag, tag_);
  if (!past) return false;
  tag = tag_.text;
  after = line + *past;
  return true;
}

}  // namespace zorbu
