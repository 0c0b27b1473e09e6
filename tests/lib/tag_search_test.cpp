#include "rt/tag_search.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "reference.hpp"

namespace zorbu {
namespace {

using namespace std::string_literals;

TEST(TagSearch, FindsTheTagAndDescribesIt) {
  tag_info tag;
  const std::string_view line = "<b>x<time begin=\"3\"/>y";
  const auto after = search_tag(line, "time", tag);
  ASSERT_TRUE(after);
  EXPECT_EQ(line.substr(*after), "y");
  EXPECT_EQ(tag.start, 4U);
  EXPECT_EQ(tag.end, line.size() - 2);
  EXPECT_EQ(tag.name, "time");
  EXPECT_EQ(tag.text, "<time begin=\"3\"/>");
  EXPECT_TRUE(tag.self_closing);

  ASSERT_TRUE(search_tag("<time>", "time", tag));
  EXPECT_EQ(tag.text, "<time>");
  EXPECT_FALSE(tag.self_closing);
  ASSERT_TRUE(search_tag("<time/>", "time", tag));
  EXPECT_EQ(tag.text, "<time/>");
  EXPECT_TRUE(tag.self_closing);
}

TEST(TagSearch, NamesEndAtASpaceAndLoseASelfClosingSlash) {
  tag_info tag;
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"<window>", "window"},
      {"</font>", "/font"},
      {"<br/>", "br"},
      {"<time />", "time"},
      {"<a b c>", "a"},
      {"<time\tbegin=\"0\"/>", "time\tbegin=\"0\""},  // a tab is no end
      {"<x/y/>", "x/y"},
      {"<x//>", "x/"},
  };
  for (const auto& [line, name] : cases) {
    ASSERT_TRUE(search_tag(line, "*", tag)) << line;
    EXPECT_EQ(tag.name, name) << line;
    EXPECT_EQ(tag.text, line);
  }
  // Names compare exactly, and no name holds a space, even when the bytes
  // inside the brackets are exactly the wanted name (found by fuzzing).
  EXPECT_FALSE(search_tag("<b >", "b ", tag));
  EXPECT_FALSE(search_tag("<time<\xff<b<b\xff<b<<><b >", "b ", tag));
  EXPECT_FALSE(search_tag("<a b>", "a b", tag));
  EXPECT_FALSE(search_tag("<TIME/>", "time", tag));
  EXPECT_FALSE(search_tag("<time\tbegin=\"0\"/>", "time", tag));
  EXPECT_FALSE(search_tag("<times/>", "time", tag));
  EXPECT_FALSE(search_tag("</time>", "time", tag));
}

TEST(TagSearch, SkipsTagsOfOtherNames) {
  tag_info tag;
  const std::string_view line = "<i>a</i><b x=1>b<time/>c<time begin=\"2\"/>";
  const auto after = search_tag(line, "time", tag);
  ASSERT_TRUE(after);
  EXPECT_EQ(*tag.start, line.find("<time/>"));
  EXPECT_EQ(line.substr(*after, 1), "c");
  // The search goes on from the '>' of a rejected tag, which can itself be
  // no tag's start.
  const std::string_view tricky = "<a>>time/><time/>";
  ASSERT_TRUE(search_tag(tricky, "time", tag));
  EXPECT_EQ(*tag.start, 10U);
}

TEST(TagSearch, StarTakesTheFirstTagOfAnyName) {
  tag_info tag;
  const auto after = search_tag("x <p class=\"a\">y<time/>", "*", tag);
  ASSERT_TRUE(after);
  EXPECT_EQ(*after, 15U);
  EXPECT_EQ(tag.name, "p");
  EXPECT_EQ(tag.start, 2U);
}

TEST(TagSearch, AStrayBracketSwallowsTheNextTag) {
  tag_info tag;
  EXPECT_FALSE(search_tag("a<b <time/>", "time", tag));
  ASSERT_TRUE(search_tag("a<b <time/>", "*", tag));
  EXPECT_EQ(tag.name, "b");
  EXPECT_EQ(tag.text, "<b <time/>");
  // A '>' inside quotes still ends the tag.
  ASSERT_TRUE(search_tag("<font face=\"a>b\">", "font", tag));
  EXPECT_EQ(tag.text, "<font face=\"a>");
  EXPECT_FALSE(tag.self_closing);
}

TEST(TagSearch, NothingFoundLeavesNoTag) {
  // No tag at all, and lines where an empty name ends the whole search.
  for (std::string_view line :
       {"", "plain text", "a > b", "<time begin", "x<", "<><time/>",
        "</><time/>", "< time>", "<  ><time/>", "a < b <time/>"}) {
    for (std::string_view name : {"time", "*"}) {
      tag_info tag;
      tag.start = 3;
      tag.end = 4;
      tag.name = "old";
      EXPECT_FALSE(search_tag(line, name, tag)) << line << " / " << name;
      EXPECT_FALSE(tag.start);
      EXPECT_FALSE(tag.end);
      EXPECT_TRUE(tag.name.empty());
    }
  }
}

TEST(TagSearch, AgreesWithTheRulesOnRandomLines) {
  std::mt19937 rng(6);
  const std::vector<std::string> parts = {
      "<time",   "<time/>", "<time begin=\"1\"/>",
      "<tim",    "<times>", "<t",
      "<",       ">",       "/>",
      " ",       "\t",      "x",
      "ti",      "me",      "<b>",
      "</time>", "<>",      "\0"s};
  for (int round = 0; round < 20000; ++round) {
    std::string line;
    const int n = std::uniform_int_distribution<int>(0, 30)(rng);
    for (int i = 0; i < n; ++i) line += parts[rng() % parts.size()];
    for (std::string_view name : {"time", "*", "b"}) {
      tag_info tag;
      std::string want_name;
      const auto want = reference::search(line, name, want_name);
      const auto got = search_tag(line, name, tag);
      ASSERT_EQ(got, want) << line << " / " << name;
      if (got) {
        EXPECT_EQ(tag.name, want_name);
        EXPECT_EQ(tag.text, line.substr(*tag.start, *got - *tag.start));
        EXPECT_EQ(tag.end, *got - 1);
      } else {
        EXPECT_TRUE(tag.name.empty());
        EXPECT_FALSE(tag.start);
      }
    }
  }
}

TEST(TagSearch, NulBytesAreData) {
  tag_info tag;
  const std::string line = "\0a\0<b\0>\0<time/>\0"s;
  const auto after = search_tag(line, "time", tag);
  ASSERT_TRUE(after);
  EXPECT_EQ(*tag.start, 8U);
  EXPECT_EQ(*after, line.size() - 1);
  ASSERT_TRUE(search_tag(line, "*", tag));
  EXPECT_EQ(tag.name, "b\0"s);
}

}  // namespace
}  // namespace zorbu
