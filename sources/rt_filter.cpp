#include "rt_filter.hpp"

#include <sched.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
  // Returns whether the open segment's first key is still to come;
  // std::nullopt when no bytes were added since it was last closed.
  std::optional<bool> open_first() const {
    if (!pending_) return std::nullopt;
    return converter_.first_key_ahead();
  }
  // Goes on with an open segment from where a writer of all that came
  // before stood, with open_first() as given.
  void go_on(bool first) {
    converter_.go_on(first);
    pending_ = true;
  }
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

  // Returns whether the open segment's first key is still to come;
  // std::nullopt when no segment is open.
  std::optional<bool> open_first() const { return segment_.open_first(); }
  // Goes on from where a writer of all that came before stood, with
  // open_first() as given.
  void go_on(bool first) { segment_.go_on(first); }

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

// Keeps what a helper writes past its buffer; its buffer is made large
// enough that this is never needed, but the output must not depend on it.
class spill_sink final : public byte_sink {
 public:
  bool write(std::string_view bytes) override {
    data.append(bytes);
    return true;
  }
  std::string data;
};

// Drops the bytes of text from this processor's cache, and every other's.
// Later reads go into the same memory, and where two processors share no
// cache, as can happen in a virtual machine, a read into memory that the
// other one still holds was measured to take three times as long.
void let_go(std::string_view text) {
#if defined(__SSE2__)
  if (text.empty()) return;
  // A step of a cache line from the first byte meets every line but
  // perhaps the last one's.
  constexpr std::size_t kLine = 64;
  for (std::size_t at = 0; at < text.size(); at += kLine) {
    _mm_clflush(text.data() + at);
  }
  _mm_clflush(&text.back());
#else
  (void)text;
#endif
}

// A second thread that rewrites a stretch of body lines into a buffer of
// its own, while the run's thread rewrites the lines before it. A stretch
// begins and ends at lines where a writer of what came before has all of
// it written: what the helper needs to know of that is only whether the
// open segment's first key is still to come. It is told a guess, which the
// run's thread checks once it gets there.
class body_helper {
 public:
  // Returns a helper for reads of `block` bytes, or nullptr when the memory
  // or the thread cannot be had.
  static std::unique_ptr<body_helper> make(const simd::kernels& kernels,
                                           std::size_t block) {
    const std::size_t size =
        text_converter::max_output(block + block_reader::kMaxCarry) +
        kLargestRoom;
    std::unique_ptr<char, decltype(&std::free)> storage(
        static_cast<char*>(std::malloc(size)), &std::free);
    if (!storage) return nullptr;
    try {
      return std::unique_ptr<body_helper>(
          new body_helper(kernels, std::move(storage), size));
    } catch (const std::system_error&) {
      return nullptr;
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }

  body_helper(const body_helper&) = delete;
  body_helper& operator=(const body_helper&) = delete;

  ~body_helper() {
    // A run cut short by an exception may leave a stretch offered or being
    // rewritten: the helper must be done with it before it is told to quit.
    take_back();
    wait_while(kWorking);
    state_.store(kQuit, std::memory_order_release);
    state_.notify_one();
    thread_.join();
  }

  // Offers the helper a stretch, guessing whether the first key of the
  // segment open at its start is still to come.
  void offer(std::string_view stretch, bool first) {
    stretch_ = stretch;
    first_ = first;
    state_.store(kOffered, std::memory_order_release);
    state_.notify_one();
  }

  // Takes the stretch back if the helper has not started on it; returns
  // true if so.
  bool take_back() {
    std::uint32_t offered = kOffered;
    return state_.compare_exchange_strong(offered, kIdle,
                                          std::memory_order_acquire);
  }

  // Waits for the stretch to be rewritten. If the guess held, writes the
  // rewrite to out and returns whether the first key of the segment open
  // at the stretch's end is still to come; else drops it and returns
  // std::nullopt. Throws what the rewrite threw.
  std::optional<bool> finish(output_buffer& out, bool guess_held) {
    // Offered, then being rewritten, then done.
    wait_while(kOffered);
    wait_while(kWorking);
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
    const std::optional<bool> at_end = guess_held ? end_first_ : std::nullopt;
    if (at_end) {
      if (!spill_.data.empty()) out.write_through(spill_.data);
      out.write_through(out_.buffered());
    }
    spill_.data.clear();
    out_.clear();
    return at_end;
  }

 private:
  static constexpr std::uint32_t kIdle = 0;
  static constexpr std::uint32_t kOffered = 1;
  static constexpr std::uint32_t kWorking = 2;
  static constexpr std::uint32_t kQuit = 3;
  static constexpr auto kWatch = std::chrono::milliseconds(1);

  body_helper(const simd::kernels& kernels,
              std::unique_ptr<char, decltype(&std::free)> storage,
              std::size_t size)
      : storage_(std::move(storage)),
        out_(spill_, {storage_.get(), size}),
        body_(out_, kernels),
        thread_([this] { work(); }) {}

  // Returns the state once it is no longer `state`. A thread woken from
  // sleep starts tens of microseconds late on some machines, about as long
  // as it takes to rewrite a stretch: so each side first watches for a
  // while, longer than the other takes between two hand-overs. It watches
  // without a pause instruction: in a virtual machine, a run of those can
  // make the host take the processor away.
  std::uint32_t wait_while(std::uint32_t state) {
    std::uint32_t now = state_.load(std::memory_order_acquire);
    if (now == state) {
      const auto until = std::chrono::steady_clock::now() + kWatch;
      do {
        for (int i = 0; i < 64 && now == state; ++i) {
          now = state_.load(std::memory_order_acquire);
        }
      } while (now == state && std::chrono::steady_clock::now() < until);
    }
    while (now == state) {
      state_.wait(state, std::memory_order_acquire);
      now = state_.load(std::memory_order_acquire);
    }
    return now;
  }

  void work() {
    for (;;) {
      std::uint32_t now = wait_while(kIdle);
      if (now == kQuit) return;
      // The run's thread may have taken the stretch back meanwhile.
      if (!state_.compare_exchange_strong(now, kWorking,
                                          std::memory_order_acquire)) {
        continue;
      }
      try {
        body_.go_on(first_);
        body_.region(stretch_);
        end_first_ = body_.open_first();
      } catch (...) {
        error_ = std::current_exception();
      }
      let_go(stretch_);
      state_.store(kIdle, std::memory_order_release);
      state_.notify_one();
    }
  }

  spill_sink spill_;
  std::unique_ptr<char, decltype(&std::free)> storage_;
  output_buffer out_;
  body_writer body_;
  std::string_view stretch_;
  bool first_ = true;
  std::optional<bool> end_first_;
  std::exception_ptr error_;
  std::atomic<std::uint32_t> state_{kIdle};
  // Last, so that everything it uses is ready before it starts.
  std::thread thread_;
};

// How many bytes before a place where a stretch begins or ends must hold no
// '=': a converter fed all that comes before then has all of it written,
// holding back no key's value, which needs the '=', the byte after it and
// the longest name. So it writes what follows as it would the start of a
// text, but for whether the first key is still to come.
constexpr std::size_t kQuiet = 16;
static_assert(kQuiet >= kLongestColorName + 2);

// Returns true if a stretch may begin or end at c, which starts a line just
// after a newline, in a region of whole body lines that starts at begin.
bool quiet(const char* begin, const char* c) {
  return static_cast<std::size_t>(c - begin) >= kQuiet &&
         std::memchr(c - kQuiet, '=', kQuiet) == nullptr;
}

// Returns the first place in [from, end) where a stretch may begin or end,
// or end when there is none.
const char* quiet_line(const char* begin, const char* from, const char* end) {
  from = std::max(from, begin + kQuiet);
  while (from < end) {
    const void* const nl =
        std::memchr(from - 1, '\n', static_cast<std::size_t>(end - from));
    if (nl == nullptr) break;
    from = static_cast<const char*>(nl) + 1;
    if (quiet(begin, from)) return from;
    ++from;
  }
  return end;
}

// Returns the first time tag before `before` and at or after from that
// starts a line and is the line's first time tag, which a rewrite of the
// lines always writes as a tag; `before` when there is none. The region
// [begin, end) holds whole lines.
const char* line_tag(const simd::kernels& kernels, const char* begin,
                     const char* from, const char* before, const char* end) {
  tag_info tag;
  for (from = std::max(from, begin + 1); from < before; ++from) {
    from = kernels.find_tag_start(from, before, "time");
    if (from == before) break;
    if (from[-1] != '\n') continue;
    const std::string_view rest(from, static_cast<std::size_t>(end - from));
    const std::string_view line = rest.substr(0, line_length(rest, true));
    if (search_tag(line, "time", tag) && tag.start == 0) return from;
  }
  return before;
}

// Where a stretch begins or ends.
struct cut {
  const char* at;
  bool at_tag;  // a time tag starts the line there
};

// How far past where it is looked for a cut at a time tag may stand.
constexpr std::size_t kNearby = std::size_t{4} << 10;

// Returns the first cut at or after from, best at a time tag nearby, since
// that ends the segment before it whatever was guessed of it; at end when
// there is none.
cut find_cut(const simd::kernels& kernels, const char* begin, const char* from,
             const char* end) {
  const char* const near =
      from + std::min(static_cast<std::size_t>(end - from), kNearby);
  for (const char* c = from;; ++c) {
    c = line_tag(kernels, begin, c, near, end);
    if (c == near) break;
    if (quiet(begin, c)) return {c, true};
  }
  return {quiet_line(begin, from, end), false};
}

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
  filter_run(block_reader& in, output_buffer& out, std::size_t block,
             sharing shared)
      : in_(in),
        out_(out),
        body_(out, kernels_),
        shared_(shared),
        block_(block) {}

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
        body(rest.substr(0, size));
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

  // Rewrites a region of body lines, sharing it with a helper when it is
  // large enough: the helper is offered the stretch from a cut past the
  // middle to one in the last sixteenth, and this thread rewrites the lines
  // before it, and the lines after it once the helper's rewrite is written.
  void body(std::string_view region) {
    const char* const begin = region.data();
    const char* const end = begin + region.size();
    cut from{end, false};
    cut upto{end, false};
    if (region.size() >= shared_.least_region && helper_usable_) {
      from = find_cut(kernels_, begin, begin + region.size() / 2, end);
      if (from.at != end) {
        upto = find_cut(kernels_, begin,
                        std::max(from.at + 1, end - region.size() / 16), end);
      }
    }
    if (upto.at == end) return body_.region(region);
    if (!helper_) {
      helper_ = body_helper::make(kernels_, block_);
      helper_usable_ = helper_ != nullptr;
      if (!helper_) return body_.region(region);
    }
    // The guess: the first key of the segment open at the cut is as far
    // off as that of the segment open now.
    const bool first = body_.open_first().value_or(true);
    helper_->offer({from.at, static_cast<std::size_t>(upto.at - from.at)},
                   first);
    body_.region({begin, static_cast<std::size_t>(from.at - begin)});
    const std::optional<bool> at_cut = body_.open_first();
    const bool guess_held = at_cut && (*at_cut == first || from.at_tag);
    // A helper that has not started yet is not waited for, nor is its
    // rewrite used when it went from a wrong guess.
    std::optional<bool> at_upto;
    if (shared_.always_helped || !helper_->take_back()) {
      at_upto = helper_->finish(out_, guess_held);
    }
    if (!at_upto) {
      body_.region({from.at, static_cast<std::size_t>(end - from.at)});
      return;
    }
    body_.go_on(*at_upto);
    body_.region({upto.at, static_cast<std::size_t>(end - upto.at)});
  }

  block_reader& in_;
  output_buffer& out_;
  const simd::kernels& kernels_ = simd::active();
  body_writer body_;
  sharing shared_;
  std::size_t block_;
  std::unique_ptr<body_helper> helper_;
  bool helper_usable_ = true;
  std::size_t first_ = 0;  // the first line's length while it is held
  std::size_t closing_ = 0;
  bool started_ = false;
};

}  // namespace

std::size_t default_shared_region() {
  static const std::size_t shared = [] {
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    return sched_getaffinity(0, sizeof cpus, &cpus) == 0 &&
                   CPU_COUNT(&cpus) >= 2
               ? kSharedRegion
               : SIZE_MAX;
  }();
  return shared;
}

std::size_t filter_storage_for(std::size_t block) {
  return layout_for(block).total();
}

outcome filter_rt(byte_source& in, byte_sink& out, std::span<char> storage,
                  std::size_t block, sharing shared) {
  const storage_layout layout = layout_for(block);
  if (storage.size() < layout.total()) return outcome::out_of_memory;
  block_reader reader(in, storage.subspan(0, layout.reader));
  output_buffer buffered(out, storage.subspan(layout.reader, layout.output));
  return filter_run(reader, buffered, block, shared).run();
}

outcome filter_rt(byte_source& in, byte_sink& out, std::size_t block,
                  sharing shared) {
  const std::size_t size = filter_storage_for(block);
  // Not new (std::nothrow): it reports failure by throwing inside, and with
  // no memory left for the exception either, that ends in std::terminate.
  const std::unique_ptr<char, decltype(&std::free)> storage(
      static_cast<char*>(std::malloc(size)), &std::free);
  if (!storage) return outcome::out_of_memory;
  return filter_rt(in, out, {storage.get(), size}, block, shared);
}

}  // namespace zorbu
