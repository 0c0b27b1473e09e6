#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "filter/filter_core.hpp"
#include "filter/one_shot.hpp"
#include "filter/pull_driver.hpp"
#include "filter/push_stream.hpp"
#include "kernel_sets.hpp"
#include "memory_io.hpp"
#include "reference.hpp"
#include "simd/kernels.hpp"

namespace zorbu {
namespace {

using namespace std::string_literals;

// Runs once for each kernel set.
class FilterRt : public EachKernelSet {};
ZORBU_ON_EACH_KERNEL_SET(FilterRt);

struct Result {
  status result;
  std::string out;
};

Result filter(const std::string& file, std::size_t chunk = SIZE_MAX,
              std::size_t block = block_reader::kDefaultBlock,
              const simd::kernels& kernels = test_kernels()) {
  memory_source source(file, chunk);
  string_sink sink;
  const status result = filter_rt(source, sink, block, kernels);
  return {result, sink.data};
}

TEST(CheckRt, CountsClosingLinesFromTheFirstLine) {
  EXPECT_EQ(check_rt(""), 0);
  EXPECT_EQ(check_rt("<font>\n"), 0);
  EXPECT_EQ(check_rt("<WINDOW>\n"), 0);
  EXPECT_EQ(check_rt("<><window>\n"), 0);
  EXPECT_EQ(check_rt("window\n"), 0);
  EXPECT_EQ(check_rt("<window>\n"), 1);
  EXPECT_EQ(check_rt("<window><font>\n"), 2);
  EXPECT_EQ(check_rt("<window x=1> <b> <font color=\"red\">\n"), 2);
  // A font before the window, or one hidden behind an empty tag, is not.
  EXPECT_EQ(check_rt("<font><window>\n"), 1);
  EXPECT_EQ(check_rt("<window><><font>\n"), 1);
  EXPECT_EQ(check_rt("<window><fonts>\n"), 1);
}

TEST_P(FilterRt, ExactlyAsManyLinesAsClosingOnesIsInvalid) {
  for (const std::string& file :
       {""s, "no window\n"s, "<font>\n<window>\n<time/>a\n</window>\n"s,
        "<window><font>\n</font>\n</window>\n"s, "<window>\n</window>\n"s,
        // The first line is cut too: a window past byte 1023 is on the
        // second line.
        std::string(1023, ' ') + "<window>\na\nb\n"}) {
    const auto r = filter(file, 3, 5);
    EXPECT_EQ(r.result, status::invalid) << file;
    EXPECT_EQ(r.out, "") << file;
  }
}

TEST_P(FilterRt, FewerLinesThanClosingOnesPass) {
  EXPECT_EQ(filter("<window>\n").out, "<window>\n</time>");
  EXPECT_EQ(filter("<window>").out, "<window></time>");
  EXPECT_EQ(filter("<window><font>\n").out, "<window><font>\n</time>");
  const auto r = filter("<window color=\"red\"><font>\n</window>\n");
  EXPECT_EQ(r.result, status::done);
  EXPECT_EQ(r.out, "<window color=\"#ff0000\"><font>\n</time></window>\n");
}

TEST_P(FilterRt, ClosingLinesAreTheLastOneOrTwoBoundedReads) {
  // 1500 bytes and a newline are two lines: both are body lines here.
  const std::string a1500(1500, 'a');
  EXPECT_EQ(filter("<window>\n" + a1500 + "\n</window>\n").out,
            "<window>\n" + a1500 + "\n</time></window>\n");
  // With a font, two closing lines are copied unchanged, colours and all.
  EXPECT_EQ(
      filter("<window><font>\n<time/>a\n<b color=\"red\">\n</window>\n").out,
      "<window><font>\n<time>a\n</time><b color=\"red\">\n</window>\n");
  EXPECT_EQ(filter("<window>\0\n\0\n\0\n"s).out,
            "<window>\0\n\0\n</time>\0\n"s);
}

TEST_P(FilterRt, WritesTheRewrittenFile) {
  const auto r = filter(
      "<window bgcolor=\"black\"><font color=\"white\">\n"
      "<time begin=\"0\"/>Hello <b>world</b>\n"
      "<time begin=\"2\"/>Line <font color=\"red\">two</font>\n"
      "</font>\n"
      "</window>\n");
  EXPECT_EQ(r.result, status::done);
  EXPECT_EQ(r.out,
            "<window bgcolor=\"#000000\"><font color=\"#ffffff\">\n"
            "<time begin=\"0\">Hello {{{b}}}world{{{/b}}}\n"
            "</time><time begin=\"2\">Line {{{font "
            "color=\"#ff0000\"}}}two{{{/font}}}\n"
            "</time></font>\n"
            "</window>\n");
}

TEST_P(FilterRt, SegmentsSpanLinesAndBlocks) {
  // A segment with a colour value cut across lines and read blocks.
  std::string body = "<time begin=\"0\"/>";
  body +=
      std::string(1023 - body.size() - 8, 'x') + "<font color=\"fuchsia\">y\n";
  const std::string file = "<window>\n" + body + "</window>\n";
  const std::string want = "<window>\n<time begin=\"0\">" +
                           std::string(998, 'x') +
                           "{{{font color=\"#ff00ff\"}}}y\n</time></window>\n";
  for (std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{7},
                            std::size_t{1024}, std::size_t{SIZE_MAX}}) {
    const auto r = filter(file, chunk);
    EXPECT_EQ(r.result, status::done);
    EXPECT_EQ(r.out, want) << "chunk " << chunk;
  }
}

TEST_P(FilterRt, TimeTagsOfEveryShapeAndPlaceMatchTheReference) {
  // Tags the fast path writes itself and tags it leaves to the line rules,
  // around the longest it takes (64 bytes), after keys that run up to them,
  // two keys at once, values across blocks, and brackets right after a tag
  // or a value, at every place in a block of every width.
  std::vector<std::string> tags = {"<time>",
                                   "<time/>",
                                   "<time begin=\"1\"/>",
                                   "<time begin=\"1\">",
                                   "<time/ x>",
                                   "<timex>",
                                   "<time",
                                   "<tt>",
                                   "<time a=\"<time>\"/>",
                                   "<time color=\"red\"/>"};
  for (std::size_t size = 62; size <= 66; ++size) {
    tags.push_back("<time " + std::string(size - 8, 'a') + "/>");
  }
  const std::vector<std::string> befores = {
      "", "color=", "color=\"red\"", "<b color=\"blue", "color=<teal\" "};
  std::vector<std::size_t> leads;
  for (std::size_t lead = 0; lead <= 70; ++lead) leads.push_back(lead);
  for (std::size_t lead : {100, 127, 128, 129, 200}) leads.push_back(lead);
  {
    const simd::kernels* set = &test_kernels();
    for (std::size_t t = 0; t < tags.size(); ++t) {
      const std::string& tag = tags[t];
      // Two keys at once, before the three shapes the fast path writes
      // itself: before every shape, the suite takes too long under the
      // sanitizers.
      std::vector<std::string> these = befores;
      if (t < 3) these.push_back("color=\"red\"color=\"fuchsia\"<b>");
      for (const std::string& before : these) {
        for (std::size_t lead : leads) {
          for (const char* join : {"\n", "x"}) {
            const std::string file =
                "<window>\n<time/>" + std::string(lead, 'x') + join + before +
                tag + "<i>a</i> color=\"navy\">b\n<time/>c\n</window>\n";
            const auto want = reference::filter(file);
            ASSERT_TRUE(want.has_value());
            const auto r =
                filter(file, SIZE_MAX, block_reader::kDefaultBlock, *set);
            ASSERT_EQ(r.result, status::done);
            ASSERT_EQ(r.out, *want) << set->name << ": " << file;
          }
        }
      }
    }
  }
}

// Serves its data in two reads, cut at `cut`, as a pipe fed twice does.
class TwoPieceSource final : public byte_source {
 public:
  TwoPieceSource(std::string_view data, std::size_t cut)
      : data_(data), cut_(cut) {}
  std::optional<std::size_t> read(std::span<char> buf) override {
    const std::size_t stop = pos_ < cut_ ? cut_ : data_.size();
    const std::size_t n = std::min(buf.size(), stop - pos_);
    data_.copy(buf.data(), n, pos_);
    pos_ += n;
    return n;
  }

 private:
  std::string_view data_;
  std::size_t cut_;
  std::size_t pos_ = 0;
};

// The stream's output for a file pushed in two pieces, cut at `cut`.
Result push_in_two(std::string_view file, std::size_t cut,
                   const simd::kernels& kernels) {
  const auto stream = push_stream::create(kernels);
  std::string out;
  char room[4096];
  status ended = status::done;
  for (std::string_view in : {file.substr(0, cut), file.substr(cut)}) {
    do {
      std::span<char> free(room);
      ended = stream->push(in, free);
      out.append(room, sizeof room - free.size());
    } while (ended == status::output_full);
  }
  do {
    std::span<char> free(room);
    ended = stream->finish(free);
    out.append(room, sizeof room - free.size());
  } while (ended == status::output_full);
  return {ended, out};
}

Result convert_whole_file(std::string_view file, const simd::kernels& kernels) {
  std::string room(4 * file.size() + 64, '\0');
  const one_shot_result r = convert_one_shot(file, room, kernels);
  room.resize(r.written);
  return {r.result, room};
}

// A caption file whose segment's first key, `key`, ends the line whose
// newline stands at byte newline_at, with `next` on the line after it.
std::string first_key_ending_a_line(std::size_t newline_at,
                                    std::string_view key,
                                    std::string_view next) {
  std::string file = "<window>\n";
  const std::string caption = "<time begin=\"1\"/>a <b>caption</b> line\n";
  const std::string_view tag = "<time/>";
  while (file.size() + caption.size() + tag.size() + key.size() < newline_at) {
    file += caption;
  }
  file += tag;
  file.append(newline_at - file.size() - key.size(), 'x');
  file += key;
  file += '\n';
  file += next;
  file += "\n<time/>end\n</window>\n";
  return file;
}

TEST_P(FilterRt, AFirstKeysValueOnTheNextLineIsConvertedWhereverTheInputIsCut) {
  // The value of a first `color=` that ends a line starts on the next line,
  // so a newline there decides nothing: not at a read, a push, a step of
  // the stream, or a run of the one-shot conversion.
  const std::vector<std::pair<std::string, std::string>> shapes = {
      {"color=", "gray\" rest"},
      {"bgcolor=", "fuchsia\""},
      {"color=", "red\"<time/>after"},
      {"color=", "<time/>red\""},
      {"color=", "redwood\""}};
  for (const std::size_t mark :
       {std::size_t{12} << 10, std::size_t{64} << 10, std::size_t{128} << 10}) {
    for (const long away : {-8, -7, -3, -2, -1, 1, 2, 3, 7, 8}) {
      const std::size_t newline_at =
          static_cast<std::size_t>(static_cast<long>(mark) + away);
      for (const auto& [key, next] : shapes) {
        const std::string file = first_key_ending_a_line(newline_at, key, next);
        ASSERT_EQ(file[newline_at], '\n');
        const auto want = reference::filter(file);
        ASSERT_TRUE(want.has_value());
        const Result expected{status::done, *want};
        const auto same = [&](const Result& r, const char* how) {
          ASSERT_EQ(r.result, expected.result) << how << " at " << newline_at;
          ASSERT_EQ(r.out, expected.out) << how << " at " << newline_at;
        };
        same(filter(file, SIZE_MAX, block_reader::kDefaultBlock, set()),
             "read whole");
        for (const std::size_t cut : {newline_at + 1, newline_at + 2}) {
          TwoPieceSource source(file, cut);
          string_sink sink;
          same({filter_rt(source, sink, block_reader::kDefaultBlock, set()),
                sink.data},
               "read in two");
          same(push_in_two(file, cut, set()), "pushed in two");
        }
        same(convert_whole_file(file, set()), "converted whole");
      }
    }
  }
  // Every two-piece split of a small file, pushed.
  const std::string small =
      "<window>\n<time/>a\nb color=\ngray\"c\n<time/>d\n</window>\n";
  const auto want = reference::filter(small);
  ASSERT_TRUE(want.has_value());
  ASSERT_NE(want->find("#808080\"c"), std::string::npos);
  for (std::size_t cut = 0; cut <= small.size(); ++cut) {
    const Result r = push_in_two(small, cut, set());
    EXPECT_EQ(r.result, status::done) << cut;
    EXPECT_EQ(r.out, *want) << cut;
  }
}

// Random text built from the pieces that matter.
std::string random_body(std::mt19937& rng) {
  static const std::vector<std::string> parts = {
      "<time begin=\"1\"/>",
      "<time>",
      "a",
      "<b>",
      "color=\"red\"",
      "\n",
      "\n",
      "\n",
      "<time begin=\"2\" />",
      "</time>",
      "\0"s,
      std::string(700, 'w'),
      "<time/>",
      "color=",
      "<tt>",
      "<time/ x>",
      "<time " + std::string(60, 'a') + ">"};
  std::string body;
  const auto count = rng() % 4 == 0 ? rng() % 4 : rng() % 60;
  for (unsigned i = 0; i < count; ++i) body += parts[rng() % parts.size()];
  return body;
}

// Random files, from a few lines (where holding lines back decides
// everything) to many.
std::string random_file(std::mt19937& rng) {
  static const std::vector<std::string> heads = {
      "<window color=\"navy\"><font>\n", "<window>\n", "<window><font>",
      "<font><window>x\n", "<b>\n"};
  std::string file = heads[rng() % heads.size()];
  return file + random_body(rng);
}

TEST_P(FilterRt, MatchesTheReferenceWhateverTheReadAndBufferSizes) {
  // The reader's buffer, the kept lines and the output are carved from one
  // allocation, with brackets and colour names around and between them: a
  // run of text that strayed from one part into the next would show.
  std::mt19937 rng(4);
  // Filled once and copied for each run: a fill a byte at a time, for each
  // of thousands of runs, was most of the sanitized suite's time.
  std::vector<char> pattern(filter_storage_for(100000) + 64);
  for (std::size_t i = 0; i < pattern.size(); ++i)
    pattern[i] = "<red\">\n"[i % 7];
  for (int round = 0; round < 300; ++round) {
    const std::string file = random_file(rng);
    const auto want = reference::filter(file);
    for (std::size_t chunk : {1, 5, 300, 100000}) {
      for (std::size_t block : {1, 17, 64, 1023, 1024, 1025, 100000}) {
        const std::size_t size = filter_storage_for(block);
        std::vector<char> storage(
            pattern.begin(),
            pattern.begin() + static_cast<std::ptrdiff_t>(size + 64));
        memory_source source(file, chunk);
        string_sink sink;
        const status result = filter_rt(
            source, sink, {storage.data() + 32, size}, block, test_kernels());
        ASSERT_EQ(result, want ? status::done : status::invalid) << file;
        ASSERT_EQ(sink.data, want.value_or("")) << file;
      }
    }
  }
}

TEST_P(FilterRt, TooLittleStorageReadsNothing) {
  memory_source source("<window>\n<time/>a\n</window>\n");
  string_sink sink;
  std::vector<char> small(filter_storage_for(64) - 1);
  EXPECT_EQ(filter_rt(source, sink, small, 64, test_kernels()),
            status::out_of_memory);
  EXPECT_EQ(source.reads, 0);
}

// Serves one line a read, and notes what had been written before each read.
class WatchingSource final : public byte_source {
 public:
  WatchingSource(std::vector<std::string> lines, const string_sink& sink)
      : lines_(std::move(lines)), sink_(sink) {}
  std::optional<std::size_t> read(std::span<char> buf) override {
    written_before_read.push_back(sink_.data);
    if (next_ == lines_.size()) return 0;
    const std::string& line = lines_[next_++];
    line.copy(buf.data(), line.size());
    return line.size();
  }
  std::vector<std::string> written_before_read;

 private:
  std::vector<std::string> lines_;
  std::size_t next_ = 0;
  const string_sink& sink_;
};

TEST_P(FilterRt, WritesAllThatIsDecidedBeforeEachRead) {
  string_sink sink;
  WatchingSource source({"<window><font color=\"red\">\n", "<time/>a\n",
                         "b<c\n", "<time/>d\n", "</font>\n", "</window>\n"},
                        sink);
  ASSERT_EQ(
      filter_rt(source, sink, block_reader::kDefaultBlock, test_kernels()),
      status::done);
  const std::string first = "<window><font color=\"#ff0000\">\n";
  const std::vector<std::string> want = {
      "",
      "",  // the first line alone is not yet known to be valid,
      "",  // nor with one line after it,
      "",  // nor with two: they may be the two closing lines
      first + "<time>a\n",
      first + "<time>a\nb{{{c\n",
      first + "<time>a\nb{{{c\n</time><time>d\n",
  };
  EXPECT_EQ(source.written_before_read, want);
  EXPECT_EQ(
      sink.data,
      first + "<time>a\nb{{{c\n</time><time>d\n</time></font>\n</window>\n");
}

// Serves its data in small reads, then fails.
class BreakingSource final : public byte_source {
 public:
  BreakingSource(std::string data, int reads_before_failure)
      : data_(std::move(data)), left_(reads_before_failure) {}
  std::optional<std::size_t> read(std::span<char> buf) override {
    if (left_-- <= 0) return std::nullopt;
    const std::size_t n =
        std::min({buf.size(), std::size_t{4}, data_.size() - pos_});
    data_.copy(buf.data(), n, pos_);
    pos_ += n;
    return n;
  }

 private:
  std::string data_;
  std::size_t pos_ = 0;
  int left_;
};

TEST_P(FilterRt, AFailedReadIsAnErrorNotAnEnd) {
  const std::string file = "<window>\n<time/>a\nbbbbbbbbbbbb\n</window>\n";
  const auto run = [&](int reads) {
    BreakingSource source(file, reads);
    string_sink sink;
    const status result =
        filter_rt(source, sink, block_reader::kDefaultBlock, test_kernels());
    return Result{result, sink.data};
  };
  // No first line: as for an empty file.
  EXPECT_EQ(run(0).result, status::invalid);
  EXPECT_EQ(run(2).result, status::invalid);
  // Before the file is known to be valid: nothing is written.
  EXPECT_EQ(run(4).result, status::unreadable);
  EXPECT_EQ(run(4).out, "");
  // In the body: what was converted stands, and nothing is made up after
  // it, neither a "</time>" nor the line held back. A line with part of
  // another after it is no closing line, so it is no longer held.
  EXPECT_EQ(run(5).result, status::unreadable);
  EXPECT_EQ(run(5).out, "<window>\n<time>a\n");
  EXPECT_EQ(run(7).out, "<window>\n<time>a\n");
  EXPECT_EQ(run(8).out, "<window>\n<time>a\nbbbbbbbbbbbb\n");
  // Only the read that would have said "end of input" failed: the last line
  // is still held back.
  EXPECT_EQ(run(11).result, status::unreadable);
  EXPECT_EQ(run(11).out, "<window>\n<time>a\nbbbbbbbbbbbb\n");
  EXPECT_EQ(run(100).result, status::done);
}

// Accepts a number of writes, then refuses every one.
class RefusingSink final : public byte_sink {
 public:
  explicit RefusingSink(int accepted) : left_(accepted) {}
  bool write(std::string_view bytes) override {
    ++calls;
    if (left_-- <= 0) return false;
    written += bytes.size();
    return true;
  }
  int calls = 0;
  std::size_t written = 0;

 private:
  int left_;
};

TEST_P(FilterRt, AFailedWriteStopsTheRewrite) {
  std::string file = "<window>\n";
  for (int i = 0; i < 100000; ++i)
    file += "<time begin=\"" + std::to_string(i) + "\"/>text\n";
  file += "</window>\n";
  RefusingSink refusing(1);
  memory_source source(file);
  EXPECT_EQ(
      filter_rt(source, refusing, block_reader::kDefaultBlock, test_kernels()),
      status::unwritable);
  // It gave up at the first refusal instead of converting the rest.
  EXPECT_EQ(refusing.calls, 2);

  RefusingSink small(0);
  memory_source tiny("<window>\n<time/>a\n</window>\n");
  EXPECT_EQ(filter_rt(tiny, small, block_reader::kDefaultBlock, test_kernels()),
            status::unwritable);
  // All of this output is decided only at the end, and written at once.
  RefusingSink last(0);
  memory_source window_only("<window>\n");
  EXPECT_EQ(
      filter_rt(window_only, last, block_reader::kDefaultBlock, test_kernels()),
      status::unwritable);
  EXPECT_EQ(last.calls, 1);
}

}  // namespace
}  // namespace zorbu
