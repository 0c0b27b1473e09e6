#include "rt/text_converter.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "kernel_sets.hpp"
#include "reference.hpp"

namespace zorbu {
namespace {

using namespace std::string_literals;

// Runs once for each kernel set.
class TextConverter : public EachKernelSet {};
ZORBU_ON_EACH_KERNEL_SET(TextConverter);

// Feeds piece and appends what the converter writes, in room of exactly the
// promised size, so that the sanitizers catch any write past it.
void feed(text_converter& converter, std::string_view piece, std::string& out) {
  std::string room(text_converter::max_output(piece.size()), '\0');
  out.append(room.data(), converter.feed(piece, room.data()));
}

void finish(text_converter& converter, std::string& out) {
  std::string room(text_converter::max_output(0), '\0');
  out.append(room.data(), converter.finish(room.data()));
}

std::string text(std::string_view s) {
  return convert_htmltext(s, false, test_kernels());
}
std::string markup(std::string_view s) {
  return convert_htmltext(s, true, test_kernels());
}

TEST_P(TextConverter, EveryNameInTheTableBecomesItsCode) {
  for (const auto& [quoted_name, hex] : reference::kColours) {
    const std::string name(quoted_name.substr(0, quoted_name.size() - 1));
    const std::string code(hex);
    EXPECT_EQ(markup("<font color=\"" + name + "\">"),
              "<font color=\"" + code + "\">");
    EXPECT_EQ(text("a color=\"" + name + "\""), "a color=\"" + code + "\"");
    // Long enough after the value for every fast path, and in text mode.
    EXPECT_EQ(text("<p bgcolor=\"" + name + "\">" + std::string(40, '.')),
              "{{{p bgcolor=\"" + code + "\"}}}" + std::string(40, '.'));
  }
  // Near misses: a name cut short, run on, or in another case.
  for (const std::string value :
       {"whit", "whites", "grey", "Gray", "silvers"}) {
    const std::string src =
        "<p color=\"" + value + "\">" + std::string(40, '.');
    EXPECT_EQ(markup(src), src);
  }
}

TEST_P(TextConverter, ExamplesInBothModes) {
  EXPECT_EQ(text("<font color=\"red\">Hi</font>"),
            "{{{font color=\"#ff0000\"}}}Hi{{{/font}}}");
  EXPECT_EQ(markup("<window bgcolor=\"black\"><font color=\"white\">"),
            "<window bgcolor=\"#000000\"><font color=\"#ffffff\">");
  EXPECT_EQ(markup("<font color=\"red\">a</font><font color=\"blue\">b"),
            "<font color=\"#ff0000\">a</font><font color=\"#0000ff\">b");
  EXPECT_EQ(text("a<b>c"), "a{{{b}}}c");
  EXPECT_EQ(markup("a<b>c"), "a<b>c");
  EXPECT_EQ(text(""), "");
  EXPECT_EQ(text("{{{x}}}\n\t\0\xff"s), "{{{x}}}\n\t\0\xff"s);
}

TEST_P(TextConverter, OnlyWholeKnownLowerCaseValuesAreReplaced) {
  for (std::string value : {"pink", "Red", "#123456", "redwood", "re", ""}) {
    const std::string src = "<font color=\"" + value + "\">";
    EXPECT_EQ(markup(src), src);
  }
  // Single quotes never match.
  EXPECT_EQ(markup("<font color='red'>"), "<font color='red'>");
  // An unknown value does not stop later ones.
  EXPECT_EQ(markup("color=\"pink\" color=\"navy\""),
            "color=\"pink\" color=\"#000080\"");
}

TEST_P(TextConverter, OnlyTheFirstKeyMayGoUnquoted) {
  // The unquoted value's position falls on its second letter.
  EXPECT_EQ(markup("color=red color=\"blue\""), "color=red color=\"#0000ff\"");
  EXPECT_EQ(markup("color=xred\" color=\"blue\""),
            "color=x#ff0000\" color=\"#0000ff\"");
  EXPECT_EQ(markup("color=\"red\" color=blue\" color=xblue\""),
            "color=\"#ff0000\" color=blue\" color=xblue\"");
}

TEST_P(TextConverter, ReplacementStepOrder) {
  // A value that ends the text ends the output at its quote.
  EXPECT_EQ(text("color=\"red\""), "color=\"#ff0000\"");
  // The byte after the value is treated in the same step.
  EXPECT_EQ(text("color=\"red\">"), "color=\"#ff0000\"}}}");
  EXPECT_EQ(text("color=\"red\"<"), "color=\"#ff0000\"{{{");
  // A key right after a value is still found.
  EXPECT_EQ(markup("color=\"red\"color=\"lime\""),
            "color=\"#ff0000\"color=\"#00ff00\"");
  EXPECT_EQ(markup("bgcolor=\"black\""), "bgcolor=\"#000000\"");
  // A key that is itself the value: the search starts from the value.
  EXPECT_EQ(markup("color=\"color=\"red\""), "color=\"color=\"#ff0000\"");
  // Keys that end the text, or stop short of a value.
  EXPECT_EQ(text("x color="), "x color=");
  EXPECT_EQ(text("x color=\""), "x color=\"");
  EXPECT_EQ(text("x color=\"re"), "x color=\"re");
}

// Texts made of the pieces that matter to the converter, so that keys,
// names and brackets meet in every arrangement.
std::string random_text(std::mt19937& rng) {
  static const std::vector<std::string> tokens = {
      "color=", "color=\"", "bgcolor=", "\"",     "red\"",  "fuchsia\"",
      "fuchsi", "black\"",  "gray",     "Red\"",  "<",      ">",
      "<b>",    "</font>",  "\n",       "\0"s,    "c",      "o",
      "l",      "r",        "=",        " ",      "x",      "\xe9",
      "{{{",    "olor=\"",  "navy\"",   "whit\"", "grey\"", "silvers\"",
      "aqua\"", "teal\"",   "gray\""};
  std::string s;
  const int n = std::uniform_int_distribution<int>(0, 40)(rng);
  for (int i = 0; i < n; ++i) s += tokens[rng() % tokens.size()];
  return s;
}

TEST_P(TextConverter, WholeAndInPiecesAgreeWithTheByteAtATimeRules) {
  std::mt19937 rng(3);
  for (int round = 0; round < 10000; ++round) {
    std::string src = random_text(rng);
    if (round % 2 == 0) src += random_text(rng);
    if (round % 20 == 0)
      src += std::string(rng() % 3000, 'z') + random_text(rng);
    for (bool is_markup : {false, true}) {
      const std::string whole =
          convert_htmltext(src, is_markup, test_kernels());
      ASSERT_EQ(whole, reference::convert(src, is_markup))
          << "source: " << src << " markup: " << is_markup;
      // Cut at random points, with empty and one-byte pieces among them.
      text_converter converter(
          is_markup ? simd::text_kind::markup : simd::text_kind::timed_text,
          test_kernels());
      std::string out;
      std::size_t pos = 0;
      while (pos < src.size()) {
        const std::size_t max = rng() % 4 == 0 ? 2 : 40;
        const std::size_t len = std::min(src.size() - pos, rng() % (max + 1));
        feed(converter, std::string_view(src).substr(pos, len), out);
        pos += len;
      }
      finish(converter, out);
      ASSERT_EQ(out, whole) << "source: " << src;
    }
  }
}

TEST_P(TextConverter, AConverterStartsAfreshAfterFinish) {
  text_converter converter(simd::text_kind::timed_text, test_kernels());
  std::string out;
  feed(converter, "x color=\"re", out);
  finish(converter, out);
  // The second text's first key may again be unquoted.
  feed(converter, "color=xred\"<", out);
  finish(converter, out);
  EXPECT_EQ(out, "x color=\"recolor=x#ff0000\"{{{");
}

}  // namespace
}  // namespace zorbu
