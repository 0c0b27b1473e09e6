#include "rt_filter.hpp"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "color_convert.hpp"
#include "simd/kernels.hpp"
#include "tag_search.hpp"

namespace zorbu {

int check_rt(std::string_view first_line) {
  tag_info tag;
  const auto after_window = search_tag(first_line, "window", tag);
  if (!after_window) return 0;
  // A font opened after the window is closed on a line of its own.
  return search_tag(first_line.substr(*after_window), "font", tag) ? 2 : 1;
}

namespace {

// Segment text is converted in runs of up to this many bytes, so that what
// one run writes stays bounded.
constexpr std::size_t kLongestRun = std::size_t{64} << 10;

// What ends each segment.
constexpr std::string_view kCloseTag = "</time>";

// The most that one request for output room asks for: a run converted, and
// the tag that ends it.
constexpr std::size_t kLargestRoom =
    text_converter::max_output(kLongestRun) + kCloseTag.size();

struct storage_layout {
  std::size_t reader;
  std::size_t output;
  std::size_t total() const { return reader + output; }
};

storage_layout layout_for(std::size_t block) {
  block = std::max<std::size_t>(block, 1);
  // The output is written out about once a block, and always has room for
  // the largest request.
  return {block_reader::storage_for(block), block + kLargestRoom};
}

// Converts a piece of the reader's buffer, which may be read a little past.
void convert(text_converter& converter, std::string_view piece,
             output_buffer& out) {
  out.commit(converter.feed(piece,
                            out.room(text_converter::max_output(piece.size())),
                            block_reader::kReadSlack));
}

void finish(text_converter& converter, output_buffer& out) {
  out.commit(converter.finish(out.room(text_converter::max_output(0))));
}

// The timed text after one time tag, converted as it arrives, so that a
// segment of any length needs no more memory than a read.
class segment_writer {
 public:
  explicit segment_writer(output_buffer& out) : out_(out) {}

  // Adds bytes of the segment.
  void add(std::string_view bytes) {
    if (bytes.empty()) return;
    pending_ = true;
    while (bytes.size() > kLongestRun) {
      convert(converter_, bytes.substr(0, kLongestRun), out_);
      bytes.remove_prefix(kLongestRun);
    }
    convert(converter_, bytes, out_);
  }
  // Returns true when bytes were added since the segment was last closed.
  bool pending() const { return pending_; }
  // Writes the rest of the segment and "</time>".
  void close() {
    finish(converter_, out_);
    out_.append(kCloseTag);
    pending_ = false;
  }

 private:
  output_buffer& out_;
  text_converter converter_{false};
  bool pending_ = false;
};

// Returns how many lines `rest` holds, all of them complete.
std::size_t count_lines(std::string_view rest) {
  std::size_t lines = 0;
  for (; !rest.empty(); ++lines) rest.remove_prefix(line_length(rest, true));
  return lines;
}

// Rewrites body lines into one output buffer: segment text converted, and
// time tags written as opening tags with "</time>" before each segment's
// end. A segment may go on from one region to the next.
class body_writer {
 public:
  body_writer(output_buffer& out, const simd::kernels& kernels)
      : out_(out), kernels_(kernels), segment_(out) {}

  // Rewrites whole body lines. Only a line with "<time" in it can hold a
  // time tag, so lines are cut only around those; the text from one time
  // tag to the next is segment text.
  void region(std::string_view region) {
    const char* const end = region.data() + region.size();
    scan s{end, region.data(), region.data(), nullptr};
    const char* text = region.data();  // segment text not yet added
    for (;;) {
      // Segments that start and end in this region, the usual case, are
      // converted in the pass that finds their end.
      if (!segment_.pending()) whole_segments(s, text);
      const std::string_view rest(s.from,
                                  static_cast<std::size_t>(end - s.from));
      const std::size_t found = find_tag_candidate(rest, "time");
      if (found == std::string_view::npos) break;
      const char* const candidate = s.from + found;
      std::string_view tag;
      const char* after = nullptr;
      if (!tag_at(s, candidate, tag, after)) {
        s.from = std::max(s.from, candidate + 1);
        continue;
      }
      // Text before the tag closes the pending segment, or stands as a
      // segment of its own rather than being lost.
      segment_.add({text, static_cast<std::size_t>(tag.data() - text)});
      if (segment_.pending()) segment_.close();
      put_tag(tag);
      text = after;
    }
    segment_.add({text, static_cast<std::size_t>(end - text)});
  }

  // Ends the segment still open as the end of the body does: with
  // "</time>", text or not.
  void end_body() { segment_.close(); }

 private:
  // Where the scan of a region for time tags stands.
  struct scan {
    const char* end;
    const char* p;         // a line start at or before `from`
    const char* from;      // candidates before this are passed over
    const char* tag_line;  // the line of the last tag written
  };

  // Decides whether the time tag of the candidate's line is to be written
  // now, and which it is: the first that the tag search finds on the line.
  // Returns false for a candidate passed over, or on a line already done or
  // without one. Most tags never get here: the body kernel writes those
  // that stand plainly at the start of a line.
  bool tag_at(scan& s, const char* candidate, std::string_view& tag,
              const char*& after) {
    if (candidate < s.from) return false;
    // The candidate's line starts a whole number of kMaxLine bytes after
    // the start of its newline-ended stretch, or after p.
    const char* origin = s.p;
    if (candidate > s.p && candidate[-1] == '\n') {
      origin = candidate;
    } else if (const void* nl = memrchr(
                   s.p, '\n', static_cast<std::size_t>(candidate - s.p))) {
      origin = static_cast<const char*>(nl) + 1;
    }
    const char* const line =
        origin +
        static_cast<std::size_t>(candidate - origin) / kMaxLine * kMaxLine;
    // Only the first time tag of a line counts; later ones are text.
    if (line == s.tag_line) return false;
    const std::string_view from_line(line,
                                     static_cast<std::size_t>(s.end - line));
    const std::string_view whole =
        from_line.substr(0, line_length(from_line, true));
    s.p = s.from = line + whole.size();
    s.tag_line = nullptr;
    const auto past = search_tag(whole, "time", tag_);
    if (!past) return false;
    tag = tag_.text;
    after = line + *past;
    return true;
  }

  // Writes a time tag as an opening tag.
  void put_tag(std::string_view tag) {
    if (tag.size() >= 2 && tag[tag.size() - 2] == '/') {
      out_.append(tag.substr(0, tag.size() - 2));
      out_.append(">");
    } else {
      out_.append(tag);
    }
  }

  // Converts a whole segment of this region, and ends it.
  void put_segment(std::string_view text, const char* end) {
    if (text.empty()) return;
    char* const room =
        out_.room(text_converter::max_output(text.size()) + kCloseTag.size());
    char* const e = convert_whole(
        text, false, room,
        static_cast<std::size_t>(end - (text.data() + text.size())) +
            block_reader::kReadSlack);
    std::memcpy(e, kCloseTag.data(), kCloseTag.size());
    out_.commit(e + kCloseTag.size());
  }

  // Rewrites segments and time tags from text on, in passes of up to
  // kLongestRun bytes that convert each segment in the pass that finds its
  // end, for as long as the segments it starts end in this region. Returns
  // with text at the segment that goes on past the region, or past a pass.
  void whole_segments(scan& s, const char*& text) {
    const char* const end = s.end;
    while (text < end) {
      const char* const limit =
          text + std::min<std::size_t>(static_cast<std::size_t>(end - text),
                                       kLongestRun);
      char* const room = out_.room(
          text_converter::max_output(static_cast<std::size_t>(limit - text)) +
          kCloseTag.size());
      simd::body_scan b{text, room, text, room, nullptr, true, false};
      bool tagged = false;
      for (;;) {
        kernels_.rewrite_body(b, limit, end + block_reader::kReadSlack);
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
          b.out = put(b.out, "{{{");
          b.in = candidate + 1;
          continue;
        }
        if (tag.data() == candidate) {
          out_.commit(candidate > b.text ? put(b.out, kCloseTag) : b.out);
        } else {
          out_.commit(b.text_out);
          put_segment({b.text, static_cast<std::size_t>(tag.data() - b.text)},
                      end);
        }
        put_tag(tag);
        text = after;
        tagged = true;
        break;
      }
      if (tagged) continue;
      // The pass ran out with a segment still open: what came before it
      // stands, and the segment is looked at again from its start, in a
      // new pass if this one ended tags.
      out_.commit(b.text_out);
      const bool ended_any = b.text != text;
      text = b.text;
      if (!ended_any || limit == end) return;
    }
  }

  static char* put(char* out, std::string_view bytes) {
    std::memcpy(out, bytes.data(), bytes.size());
    return out + bytes.size();
  }

  output_buffer& out_;
  const simd::kernels& kernels_;
  segment_writer segment_;
  tag_info tag_;
};

// One run of the filter over one input.
//
// The input is read once, so the closing lines cannot be counted ahead:
// they are the last one or two lines, and a line is known to be a body line
// only once that many lines have come after it. Until then it stays in the
// reader's buffer, unconsumed. The first line stays there too until the
// file is known to be valid: a body line arrived, or the input ended with
// fewer lines after the first than closing lines, which is allowed; exactly
// as many is not.
class filter_run {
 public:
  filter_run(block_reader& in, output_buffer& out)
      : in_(in), out_(out), body_(out, kernels_) {}

  outcome run() {
    // A first line that cannot be read is no rt file, as for an empty one.
    std::size_t first = 0;
    while ((first = line_length(in_.buffered(), in_.at_end())) == 0) {
      if (!in_.refill() && !in_.at_end()) break;
      if (in_.at_end() && in_.buffered().empty()) break;
    }
    if (first == 0) return outcome::invalid;
    closing_ =
        static_cast<std::size_t>(check_rt(in_.buffered().substr(0, first)));
    if (closing_ == 0) return outcome::invalid;
    first_ = first;

    for (;;) {
      const std::string_view rest = in_.buffered().substr(first_);
      if (const std::size_t size = last_lines_start(rest, closing_)) {
        start();
        body_.region(rest.substr(0, size));
        in_.consume(size);
      }
      // All that is decided is written before a read that may wait.
      if (!out_.flush()) return outcome::unwritable;
      if (!in_.refill()) break;
    }
    // Nothing is made up after a failed read: no "</time>", and no held
    // lines that might not have been the last ones.
    if (in_.failed()) return outcome::unreadable;
    const std::string_view held = in_.buffered().substr(first_);
    if (!started_) {
      if (count_lines(held) == closing_) return outcome::invalid;
      start();
    }
    body_.end_body();
    out_.append(held);
    return out_.flush() ? outcome::rewritten : outcome::unwritable;
  }

 private:
  // Writes the first line, once the file is known to be valid.
  void start() {
    if (started_) return;
    text_converter markup(true);
    convert(markup, in_.buffered().substr(0, first_), out_);
    finish(markup, out_);
    in_.consume(first_);
    first_ = 0;
    started_ = true;
  }

  block_reader& in_;
  output_buffer& out_;
  const simd::kernels& kernels_ = simd::active();
  body_writer body_;
  std::size_t first_ = 0;  // the first line's length while it is held
  std::size_t closing_ = 0;
  bool started_ = false;
};

}  // namespace

std::size_t filter_storage_for(std::size_t block) {
  return layout_for(block).total();
}

outcome filter_rt(byte_source& in, byte_sink& out, std::span<char> storage,
                  std::size_t block) {
  const storage_layout layout = layout_for(block);
  if (storage.size() < layout.total()) return outcome::out_of_memory;
  block_reader reader(in, storage.subspan(0, layout.reader));
  output_buffer buffered(out, storage.subspan(layout.reader, layout.output));
  return filter_run(reader, buffered).run();
}

outcome filter_rt(byte_source& in, byte_sink& out, std::size_t block) {
  const std::size_t size = filter_storage_for(block);
  // Not new (std::nothrow): it reports failure by throwing inside, and with
  // no memory left for the exception either, that ends in std::terminate.
  const std::unique_ptr<char, decltype(&std::free)> storage(
      static_cast<char*>(std::malloc(size)), &std::free);
  if (!storage) return outcome::out_of_memory;
  return filter_rt(in, out, {storage.get(), size}, block);
}

}  // namespace zorbu
