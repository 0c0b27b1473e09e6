#include "rt/lines.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "reference.hpp"

namespace zorbu {
namespace {

TEST(LineLength, AnUnfinishedLineIsNotALineYet) {
  EXPECT_EQ(line_length("", false), 0U);
  EXPECT_EQ(line_length("", true), 0U);
  EXPECT_EQ(line_length("abc", false), 0U);
  EXPECT_EQ(line_length("abc", true), 3U);
  EXPECT_EQ(line_length("a\nb", false), 2U);
  EXPECT_EQ(line_length(std::string(1022, 'x'), false), 0U);
  EXPECT_EQ(line_length(std::string(1023, 'x'), false), 1023U);
  EXPECT_EQ(line_length(std::string(5000, 'x'), false), 1023U);
}

TEST(LastLinesStart, FindsWhereTheLastLinesBeginCountingBackwards) {
  const std::string x1023(1023, 'x');
  EXPECT_EQ(last_lines_start("a\nb\nc\n", 1), 4U);
  EXPECT_EQ(last_lines_start("a\nb\nc\n", 2), 2U);
  EXPECT_EQ(last_lines_start("a\nb\nc\n", 3), 0U);
  EXPECT_EQ(last_lines_start("a\nb\nc\n", 4), 0U);
  // An unfinished line counts as one.
  EXPECT_EQ(last_lines_start("a\nb\nc", 1), 4U);
  EXPECT_EQ(last_lines_start("a\nbc", 1), 2U);
  // Long stretches are cut every 1023 bytes from their start.
  EXPECT_EQ(last_lines_start("a\n" + x1023 + "yy\n", 1), 1025U);
  EXPECT_EQ(last_lines_start("a\n" + x1023 + "yy\n", 2), 2U);
  EXPECT_EQ(last_lines_start("a\n" + x1023 + "\n", 1), 1025U);
  EXPECT_EQ(last_lines_start(x1023 + x1023 + "z", 2), 1023U);
  EXPECT_EQ(last_lines_start(x1023 + x1023, 1), 1023U);

  std::mt19937 rng(3);
  for (int round = 0; round < 500; ++round) {
    std::string data;
    for (int i = static_cast<int>(rng() % 6); i > 0; --i) {
      data.append(rng() % 3 == 0 ? rng() % 3000 : rng() % 5, 'q');
      if (rng() % 4 != 0) data.push_back('\n');
    }
    const auto lines = reference::lines(data);
    for (std::size_t count = 1; count <= 3; ++count) {
      std::size_t want = 0;
      if (lines.size() > count) {
        for (std::size_t i = 0; i + count < lines.size(); ++i)
          want += lines[i].size();
      }
      ASSERT_EQ(last_lines_start(data, count), want)
          << "count " << count << " size " << data.size();
    }
  }
}

TEST(LineStart, FindsTheBoundedLineThatHoldsAByte) {
  const std::string x1023(1023, 'x');
  const std::string text = "ab\n" + x1023 + x1023 + "cd\n\ne";
  const char* const begin = text.data();
  // Byte offset, and where its line starts.
  const std::pair<std::size_t, std::size_t> cases[] = {
      {0, 0},       {2, 0},       {3, 3},       {1025, 3},    {1026, 1026},
      {2048, 1026}, {2049, 2049}, {2051, 2049}, {2052, 2052}, {2053, 2053}};
  for (const auto& [at, want] : cases) {
    EXPECT_EQ(line_start(begin, begin + at) - begin,
              static_cast<std::ptrdiff_t>(want))
        << "byte " << at;
  }
  // Counting from a later line start gives the same lines after it.
  EXPECT_EQ(line_start(begin + 3, begin + 2051) - begin, 2049);
}

}  // namespace
}  // namespace zorbu
