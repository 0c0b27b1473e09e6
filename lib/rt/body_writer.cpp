#include "rt/body_writer.hpp"

#include <algorithm>

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

void segment_writer::close() {
  finish_into(converter_, out_);
  out_.append(kCloseTime);
  pending_ = false;
}

// Only a line with "<time" in it can hold a time tag, so lines are cut only
// around those; the text from one time tag to the next is segment text.
void body_writer::region(std::string_view region, const char* readable_end) {
  readable_end_ = readable_end;
  const char* const end = region.data() + region.size();
  scan s{end, region.data(), region.data(), nullptr};
  const char* text = region.data();  // segment text not yet added
  for (;;) {
    // Segments that start and end in this region, the usual case, are
    // converted in the pass that finds their end.
    if (!segment_.pending()) whole_segments(s, text);
    const char* const candidate =
        kernels_.find_tag_start(s.from, end, kTimeTag);
    if (candidate == end) break;
    std::string_view tag;
    const char* after = nullptr;
    if (!tag_at(s, candidate, tag, after)) {
      s.from = std::max(s.from, candidate + 1);
      continue;
    }
    // Text before the tag closes the pending segment, or stands as a
    // segment of its own rather than being lost.
    segment_.add({text, static_cast<std::size_t>(tag.data() - text)},
                 readable_end);
    if (segment_.pending()) segment_.close();
    put_tag(tag);
    text = after;
  }
  segment_.add({text, static_cast<std::size_t>(end - text)}, readable_end);
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

// Writes a time tag as an opening tag.
void body_writer::put_tag(std::string_view tag) {
  if (tag.size() >= 2 && tag[tag.size() - 2] == '/') {
    out_.append(tag.substr(0, tag.size() - 2));
    out_.append(">");
  } else {
    out_.append(tag);
  }
}

// Converts a whole segment of this region, and ends it.
void body_writer::put_segment(std::string_view text) {
  if (text.empty()) return;
  char* const room =
      out_.room(text_converter::max_output(text.size()) + kCloseTime.size());
  char* const e = convert_whole(
      kernels_, text, false, room,
      static_cast<std::size_t>(readable_end_ - (text.data() + text.size())));
  out_.commit(put_bytes(e, kCloseTime));
}

// Rewrites segments and time tags from text on, in passes of up to
// longest_run_ bytes that convert each segment in the pass that finds its
// end, for as long as the segments it starts end in this region. Returns
// with text at the segment that goes on past the region, or past a pass.
void body_writer::whole_segments(scan& s, const char*& text) {
  const char* const end = s.end;
  while (text < end) {
    const char* const limit =
        text + std::min<std::size_t>(static_cast<std::size_t>(end - text),
                                     longest_run_);
    char* const room = out_.room(
        text_converter::max_output(static_cast<std::size_t>(limit - text)) +
        kCloseTime.size());
    simd::body_scan b{text, room, text, room, nullptr, true, false};
    bool tagged = false;
    for (;;) {
      kernels_.rewrite_body(b, limit, readable_end_);
      if (b.tag_line != nullptr) {
        s.p = s.tag_line = b.tag_line;
        s.from = b.text;
      }
      if (!b.at_tag) break;
      // A tag the kernel leaves to the line rules.
      const char* const candidate = b.in;
      std::string_view tag;
      const char* after = nullptr;
      if (!tag_at(s, candidate, tag, after)) {
        // A '<' of the text after all.
        b.out = put_bytes(b.out, kEscapedOpen);
        b.in = candidate + 1;
        continue;
      }
      if (tag.data() == candidate) {
        out_.commit(candidate > b.text ? put_bytes(b.out, kCloseTime) : b.out);
      } else {
        out_.commit(b.text_out);
        put_segment({b.text, static_cast<std::size_t>(tag.data() - b.text)});
      }
      put_tag(tag);
      text = after;
      tagged = true;
      break;
    }
    if (tagged) continue;
    // The pass ran out with a segment still open: what came before it
    // stands, and the segment is looked at again from its start, in a new
    // pass if this one ended tags.
    out_.commit(b.text_out);
    const bool ended_any = b.text != text;
    text = b.text;
    if (!ended_any || limit == end) return;
  }
}

}  // namespace zorbu
