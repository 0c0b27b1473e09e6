// Rewriting the body of an rt file: segment text converted, and the first
// time tag of each line written as an opening tag, with "</time>" at the
// end of each segment.
#pragma once

#include <cstddef>
#include <string_view>

#include "common/byte_buffers.hpp"
#include "rt/tag_search.hpp"
#include "rt/text_converter.hpp"
#include "simd/kernels.hpp"

namespace zorbu {

// Converts a piece of the reader's buffer, which may be read up to
// readable_end, into out.
void convert_into(text_converter& converter, std::string_view piece,
                  const char* readable_end, output_buffer& out);
// Writes what the converter held back into out.
void finish_into(text_converter& converter, output_buffer& out);

// The timed text after one time tag, converted as it arrives, so that a
// segment of any length needs no more memory than a read. The body kernel
// writes most of it straight out and hands back where the segment stands.
class segment_writer {
 public:
  segment_writer(output_buffer& out, const simd::kernels& kernels,
                 std::size_t longest_run)
      : out_(out),
        converter_(simd::text_kind::timed_text, kernels),
        longest_run_(longest_run) {}

  // Adds bytes of the segment, which may be read up to readable_end.
  void add(std::string_view bytes, const char* readable_end);
  // Decides what the converter held back, once the bytes added end a line
  // with a newline, after which no byte can change it.
  void end_line();
  // Returns true when nothing is held back, so that the body kernel may
  // take the segment on.
  bool settled() const { return converter_.settled(); }
  // Returns true when the segment has text since it was last closed.
  bool pending() const { return pending_; }
  // Returns true while the segment's first colour key is still to come.
  bool first_key() const { return converter_.first_key(); }
  // Takes on where the body kernel left a settled segment, or one whose
  // first key's value starts at the next byte added.
  void resume(bool first_key, bool pending, bool value_next) {
    converter_.set_first_key(first_key);
    if (value_next) converter_.set_value_next();
    pending_ = pending;
  }
  // Writes the rest of the segment and "</time>".
  void close();

 private:
  output_buffer& out_;
  text_converter converter_;
  std::size_t longest_run_;
  bool pending_ = false;
};

// The most that a body writer asks for at once in output room, with runs
// of up to longest_run bytes: a run converted, and the tag that ends it. No
// line asks for more, since no line is longer than a run.
constexpr std::size_t largest_room(std::size_t longest_run) {
  return text_converter::max_output(longest_run) + kCloseTime.size();
}

// Rewrites body lines into one output buffer. A segment may go on from one
// region of lines to the next.
class body_writer {
 public:
  // Body text is rewritten in runs of up to this many bytes unless told
  // otherwise, so that what one run writes stays bounded.
  static constexpr std::size_t kLongestRun = std::size_t{64} << 10;
  static constexpr std::size_t kLargestRoom = largest_room(kLongestRun);

  body_writer(output_buffer& out, const simd::kernels& kernels,
              std::size_t longest_run = kLongestRun)
      : out_(out),
        kernels_(kernels),
        segment_(out, kernels, longest_run),
        longest_run_(longest_run) {}

  // Rewrites whole body lines, which may be read up to readable_end.
  void region(std::string_view region, const char* readable_end);
  // Ends the segment still open as the end of the body does: with
  // "</time>", text or not.
  void end_body() { segment_.close(); }

 private:
  // Where the search of a run for the lines of time tags stands.
  struct scan {
    const char* end;
    const char* p;         // a line start at or before `from`
    const char* from;      // candidates before this are passed over
    const char* tag_line;  // the line of the last tag written
  };

  const char* kernel_run(const char* p, const char* end);
  const char* line_by_line(const char* p, const char* end, bool to_newline);
  bool tag_at(scan& s, const char* candidate, std::string_view& tag,
              const char*& after);

  output_buffer& out_;
  const simd::kernels& kernels_;
  segment_writer segment_;
  std::size_t longest_run_;
  const char* readable_end_ = nullptr;  // of the region being rewritten
  tag_info tag_;
};

}  // namespace zorbu
