#include "zorbu.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace zorbu {
namespace {

using namespace std::string_literals;

std::optional<std::int64_t> body_count(const std::string& file) {
  MemorySource source(file);
  LineReader reader(source);
  return check_rt(reader);
}

struct Result {
  outcome result;
  std::string out;
};

Result filter(const std::string& file, std::size_t chunk = SIZE_MAX,
              std::size_t buffer = LineReader::kDefaultBlock) {
  MemorySource source(file, chunk);
  StringSink sink;
  const outcome result = filter_rt(source, sink, buffer);
  return {result, sink.data};
}

TEST(CheckRt, RejectsWhatIsNotAnRtFile) {
  EXPECT_EQ(body_count(""), 0);
  EXPECT_EQ(body_count("<font>\n<window>\n<time/>a\n</window>\n"), 0);
  EXPECT_EQ(body_count("<WINDOW>\n<time/>a\n</WINDOW>\n"), 0);
  EXPECT_EQ(body_count("<><window>\n<time/>a\n</window>\n"), 0);
  // Well formed, but with no line between the first and the closing ones.
  EXPECT_EQ(body_count("<window><font>\n</font>\n</window>\n"), 0);
  EXPECT_EQ(body_count("<window>\n</window>\n"), 0);
}

TEST(CheckRt, AFontAfterTheWindowMeansTwoClosingLines) {
  EXPECT_EQ(body_count("<window>\n<time/>a\n</window>\n"), 1);
  EXPECT_EQ(body_count("<window><font>\n<time/>a\nb\n</font>\n</window>\n"), 2);
  EXPECT_EQ(body_count("<window x=1> <b> <font color=\"red\">\na\nb\nc\n"), 1);
  // A font before the window, or one hidden behind an empty tag, is not.
  EXPECT_EQ(body_count("<font><window>\n<time/>a\nb\n</window>\n"), 2);
  EXPECT_EQ(body_count("<window><><font>\n<time/>a\nb\n</window>\n"), 2);
  // A window only on a later line does not count, nor does a font there.
  EXPECT_EQ(body_count("<window>\n<font>\na\n"), 1);
}

TEST(CheckRt, NegativeCountsPassAndLinesAreBoundedReads) {
  EXPECT_EQ(body_count("<window>\n"), -1);
  EXPECT_EQ(body_count("<window>"), -1);
  EXPECT_EQ(body_count("<window><font>\n"), -2);
  // 1500 bytes and a newline are two lines.
  EXPECT_EQ(body_count("<window>\n" + std::string(1500, 'a') + "\n</window>\n"),
            2);
  EXPECT_EQ(body_count("<window>\0\n\0\n\0\n"s), 1);
  // The first line is cut too: a window past byte 1023 is on the second.
  EXPECT_EQ(body_count(std::string(1023, ' ') + "<window>\na\nb\n"), 0);
}

TEST(CheckRt, LeavesTheReaderAtTheFirstLine) {
  MemorySource source("<window>\n<time/>a\n</window>\n", 3);
  LineReader reader(source, 5);
  ASSERT_EQ(check_rt(reader), 1);
  EXPECT_EQ(reader.next(), "<window>\n");
}

TEST(FilterRt, WritesTheRewrittenFile) {
  const auto r = filter(
      "<window bgcolor=\"black\"><font color=\"white\">\n"
      "<time begin=\"0\"/>Hello <b>world</b>\n"
      "<time begin=\"2\"/>Line <font color=\"red\">two</font>\n"
      "</font>\n"
      "</window>\n");
  EXPECT_EQ(r.result, outcome::rewritten);
  EXPECT_EQ(r.out,
            "<window bgcolor=\"#000000\"><font color=\"#ffffff\">\n"
            "<time begin=\"0\">Hello {{{b}}}world{{{/b}}}\n"
            "</time><time begin=\"2\">Line {{{font "
            "color=\"#ff0000\"}}}two{{{/font}}}\n"
            "</time></font>\n"
            "</window>\n");
  EXPECT_EQ(filter("no window\n").result, outcome::invalid);
  EXPECT_EQ(filter("no window\n").out, "");
}

TEST(FilterRt, SegmentsSpanLinesAndBlocks) {
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
    EXPECT_EQ(r.result, outcome::rewritten);
    EXPECT_EQ(r.out, want) << "chunk " << chunk;
  }
}

TEST(FilterRt, OutputDoesNotDependOnReadOrBufferSizes) {
  std::mt19937 rng(4);
  const std::vector<std::string> parts = {"<time begin=\"1\"/>",
                                          "<time>",
                                          "a",
                                          "<b>",
                                          "color=\"red\"",
                                          "\n",
                                          "\n",
                                          "<time begin=\"2\" />",
                                          "</time>",
                                          "\0"s,
                                          std::string(700, 'w')};
  for (int round = 0; round < 100; ++round) {
    std::string file = "<window color=\"navy\"><font>\n";
    for (int i = 0; i < 60; ++i) file += parts[rng() % parts.size()];
    file += "\n</font>\n</window>\n";
    const auto whole = filter(file);
    for (std::size_t chunk : {1, 5, 300}) {
      for (std::size_t buffer : {1, 64, 1500}) {
        const auto r = filter(file, chunk, buffer);
        ASSERT_EQ(r.result, whole.result);
        ASSERT_EQ(r.out, whole.out);
      }
    }
  }
}

// Checks one file and rewrites another, as when a file changes in between.
Result check_then_rewrite(const std::string& checked, const std::string& read) {
  const auto count = body_count(checked);
  if (!count || *count == 0) {
    ADD_FAILURE() << "not an rt file: " << checked;
    return {outcome::invalid, ""};
  }
  MemorySource source(read);
  LineReader reader(source);
  StringSink sink;
  OutputBuffer out(sink);
  const outcome result = rewrite_rt(reader, *count, out);
  return {result, sink.data};
}

TEST(RewriteRt, AFileThatShrankEndsItsBodyWhereItEnds) {
  const std::string full = "<window>\n<time/>a\n<time/>b\nc\nd\n</window>\n";
  const auto r = check_then_rewrite(full, "<window>\n<time/>a\nb");
  EXPECT_EQ(r.result, outcome::rewritten);
  EXPECT_EQ(r.out, "<window>\n<time>a\nb</time>");
  const auto gone = check_then_rewrite(full, "");
  EXPECT_EQ(gone.result, outcome::rewritten);
  EXPECT_EQ(gone.out, "</time>");
}

// Serves its data in small reads, then fails.
class BreakingSource final : public ByteSource {
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
  bool rewind() override {
    pos_ = 0;
    left_ = reads_after_rewind;
    return true;
  }
  int reads_after_rewind = 1000;

 private:
  std::string data_;
  std::size_t pos_ = 0;
  int left_;
};

TEST(FilterRt, AFailedReadIsAnErrorNotAnEnd) {
  const std::string file = "<window>\n<time/>a\nbbbbbbbbbbbb\n</window>\n";
  {
    // Fails on the first read: there is no first line.
    BreakingSource source(file, 0);
    StringSink sink;
    EXPECT_EQ(filter_rt(source, sink), outcome::invalid);
  }
  {
    // Fails while counting.
    BreakingSource source(file, 5);
    StringSink sink;
    EXPECT_EQ(filter_rt(source, sink), outcome::unreadable);
    EXPECT_EQ(sink.data, "");
  }
  {
    // Fails while rewriting: what came before is written, then the error.
    BreakingSource source(file, 1000);
    source.reads_after_rewind = 5;
    StringSink sink;
    EXPECT_EQ(filter_rt(source, sink), outcome::unreadable);
    EXPECT_EQ(sink.data.find("</window>"), std::string::npos);
  }
}

// Accepts a number of writes, then refuses every one.
class RefusingSink final : public ByteSink {
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

TEST(FilterRt, AFailedWriteStopsTheRewrite) {
  std::string file = "<window>\n";
  for (int i = 0; i < 100000; ++i)
    file += "<time begin=\"" + std::to_string(i) + "\"/>text\n";
  file += "</window>\n";
  RefusingSink refusing(1);
  MemorySource source(file);
  EXPECT_EQ(filter_rt(source, refusing), outcome::unwritable);
  // It gave up at the first refusal instead of converting the rest.
  EXPECT_EQ(refusing.calls, 2);

  RefusingSink small(0);
  MemorySource tiny("<window>\n<time/>a\n</window>\n");
  EXPECT_EQ(filter_rt(tiny, small), outcome::unwritable);
}

}  // namespace
}  // namespace zorbu
