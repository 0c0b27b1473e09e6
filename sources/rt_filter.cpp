#include "rt_filter.hpp"

#include <array>
#include <cstdlib>
#include <memory>
#include <optional>

#include "color_convert.hpp"
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

constexpr std::size_t kMaxLine = line_reader::kMaxLine;

// Segment text that follows on in the reader's buffer is converted in runs
// of up to this many bytes, so that the converter works on long runs, not
// line by line, while what one run writes stays bounded.
constexpr std::size_t kLongestRun = std::size_t{64} << 10;

// The most that one request for output room asks for: a run converted.
constexpr std::size_t kLargestRoom =
    text_converter::max_output(kLongestRun + kMaxLine);

// Lines that may outlive a read: the first line, held until the file is
// known to be valid, and up to two lines that may turn out to be the
// closing ones.
constexpr std::size_t kKeptLines = 3;

struct storage_layout {
  std::size_t block;
  std::size_t reader;
  std::size_t kept;
  std::size_t output;
  std::size_t total() const { return reader + kept + output; }
};

storage_layout layout_for(std::size_t block) {
  block = std::max<std::size_t>(block, 1);
  return {block, line_reader::storage_for(block), kKeptLines * kMaxLine,
          output_buffer::storage_for(block, kLargestRoom)};
}

void convert(text_converter& converter, std::string_view piece,
             output_buffer& out) {
  out.commit(converter.feed(
      piece, out.room(text_converter::max_output(piece.size()))));
}

void finish(text_converter& converter, output_buffer& out) {
  out.commit(converter.finish(out.room(text_converter::max_output(0))));
}

// A line that a later line decides about. It points into the reader's
// buffer while that holds it; before the next read it is copied into room of
// its own.
struct kept_line {
  std::string_view text;
  std::uint64_t generation = 0;  // the reader's, or 0 once copied
  char* room = nullptr;

  void keep_across_read() {
    if (generation == 0) return;
    std::memcpy(room, text.data(), text.size());
    text = {room, text.size()};
    generation = 0;
  }
};

// The timed text after one time tag, converted as it arrives, so that a
// segment of any length needs no more memory than a read.
class segment_writer {
 public:
  explicit segment_writer(output_buffer& out) : out_(out) {}

  // Adds bytes of the segment from a line of the given reader generation,
  // or of generation 0 for a kept copy. Bytes of one generation that follow
  // on in memory are joined into one run: the reader keeps them valid and in
  // order until its next read, and convert_run() is called before that.
  void add(std::string_view bytes, std::uint64_t generation) {
    if (bytes.empty()) return;
    pending_ = true;
    if (generation == 0) {
      convert_run();
      convert(converter_, bytes, out_);
      return;
    }
    if (generation != generation_ || bytes.data() != end_ ||
        static_cast<std::size_t>(end_ - begin_) >= kLongestRun) {
      convert_run();
      begin_ = bytes.data();
      generation_ = generation;
    }
    end_ = bytes.data() + bytes.size();
  }
  // Returns true when bytes were added since the segment was last closed.
  bool pending() const { return pending_; }
  // Converts the bytes added so far, releasing the memory they are in.
  void convert_run() {
    if (begin_ != end_) {
      convert(converter_, {begin_, static_cast<std::size_t>(end_ - begin_)},
              out_);
    }
    begin_ = end_ = nullptr;
    generation_ = 0;
  }
  // Writes the rest of the segment and "</time>".
  void close() {
    convert_run();
    finish(converter_, out_);
    out_.append("</time>");
    pending_ = false;
  }

 private:
  output_buffer& out_;
  text_converter converter_{false};
  const char* begin_ = nullptr;
  const char* end_ = nullptr;
  std::uint64_t generation_ = 0;
  bool pending_ = false;
};

// One run of the filter over one input.
//
// The input is read once, so the closing lines cannot be counted ahead:
// they are the last one or two lines, and a line is known to be a body line
// only once that many lines have come after it. Until then it is held back.
// The first line is held back too, until the file is known to be valid: a
// body line arrived, or the input ended with fewer lines after the first
// than closing lines, which is allowed; exactly as many is not.
class filter_run {
 public:
  filter_run(line_reader& in, output_buffer& out, char* kept_room)
      : in_(in), out_(out), segment_(out) {
    first_.room = kept_room;
    held_[0].room = kept_room + kMaxLine;
    held_[1].room = kept_room + 2 * kMaxLine;
  }

  outcome run() {
    // A first line that cannot be read is no rt file, as for an empty one.
    const auto first = in_.next();
    if (!first) return outcome::invalid;
    closing_ = static_cast<std::size_t>(check_rt(*first));
    if (closing_ == 0) return outcome::invalid;
    first_.text = *first;
    first_.generation = in_.generation();

    for (;;) {
      auto line = in_.next_buffered();
      if (!line) {
        if (!before_read()) return outcome::unwritable;
        line = in_.next();
        if (!line) break;
      }
      kept_line& slot = held_[oldest_];
      if (held_count_ < closing_) {
        ++held_count_;
      } else {
        if (!started_) start();
        body_line(slot);
        if (!out_.maybe_flush()) return outcome::unwritable;
      }
      // The slot's room is reused only before the next read, once the body
      // line's text has been converted.
      slot.text = *line;
      slot.generation = in_.generation();
      oldest_ = (oldest_ + 1) % closing_;
    }
    // Nothing is made up after a failed read: no "</time>", and no held
    // lines that might not have been the last ones.
    if (in_.failed()) return outcome::unreadable;
    if (!started_) {
      if (held_count_ == closing_) return outcome::invalid;
      start();
    }
    segment_.close();
    // Until the slots are all taken, the oldest line is in the first one.
    const std::size_t oldest = held_count_ < closing_ ? 0 : oldest_;
    for (std::size_t i = 0; i < held_count_; ++i) {
      out_.append(held_[(oldest + i) % closing_].text);
    }
    return out_.flush() ? outcome::rewritten : outcome::unwritable;
  }

 private:
  // Writes all that is decided, and keeps what is held back, before a read
  // reuses the reader's buffer and perhaps waits for more input.
  bool before_read() {
    segment_.convert_run();
    if (!started_) first_.keep_across_read();
    for (std::size_t i = 0; i < held_count_; ++i) held_[i].keep_across_read();
    return out_.flush();
  }

  void start() {
    text_converter markup(true);
    convert(markup, first_.text, out_);
    finish(markup, out_);
    started_ = true;
  }

  void body_line(const kept_line& line) {
    const std::string_view text = line.text;
    if (const auto after = search_tag(text, "time", tag_)) {
      const std::string_view before = text.substr(0, *tag_.start);
      // Text before the tag closes the pending segment, or stands as a
      // segment of its own rather than being lost.
      if (segment_.pending() || !before.empty()) {
        segment_.add(before, line.generation);
        segment_.close();
      }
      if (tag_.self_closing) {
        out_.append(tag_.text.substr(0, tag_.text.size() - 2));
        out_.append(">");
      } else {
        out_.append(tag_.text);
      }
      segment_.add(text.substr(*after), line.generation);
    } else {
      segment_.add(text, line.generation);
    }
  }

  line_reader& in_;
  output_buffer& out_;
  segment_writer segment_;
  tag_info tag_;
  kept_line first_;
  std::array<kept_line, 2> held_;
  std::size_t closing_ = 0;
  std::size_t held_count_ = 0;
  std::size_t oldest_ = 0;
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
  line_reader reader(in, storage.subspan(0, layout.reader));
  char* const kept = storage.data() + layout.reader;
  output_buffer buffered(
      out, storage.subspan(layout.reader + layout.kept, layout.output),
      layout.block);
  return filter_run(reader, buffered, kept).run();
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
