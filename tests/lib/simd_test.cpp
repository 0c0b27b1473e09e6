#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "kernel_sets.hpp"
#include "reference.hpp"
#include "rt/tag_search.hpp"
#include "simd/kernels.hpp"

namespace zorbu {
namespace {

using namespace std::string_literals;

class SimdKernels : public EachKernelSet {};
ZORBU_ON_EACH_KERNEL_SET(SimdKernels);

// The suite runs on the set that ctest named, not on the one the program
// would choose.
TEST_P(SimdKernels, RunsOnTheSetUnderTest) {
  const char* const named = std::getenv("ZORBU_KERNELS_UNDER_TEST");
  if (named == nullptr) GTEST_SKIP() << "ZORBU_KERNELS_UNDER_TEST names no set";
  EXPECT_EQ(set().name, std::string_view(named));
}

TEST(Simd, SetsAreFoundByNameWhereTheyRun) {
  std::vector<std::string_view> sets;
  for (const simd::kernels& k : simd::built_kernels()) {
    sets.push_back(k.name);
    // A set is found by its name exactly where it runs, never elsewhere.
    EXPECT_EQ(simd::kernels_named(k.name), k.runs_here() ? &k : nullptr);
  }
  ASSERT_FALSE(sets.empty());
  EXPECT_EQ(sets.front(), "portable");
  EXPECT_EQ(simd::kernels_named("portable"), &simd::built_kernels().front());
#if defined(__x86_64__)
  // SSE2 is part of x86-64 itself.
  EXPECT_NE(simd::kernels_named("sse2"), nullptr);
  EXPECT_EQ(sets, (std::vector<std::string_view>{"portable", "sse2", "avx2",
                                                 "avx512"}));
#elif defined(__aarch64__)
  // NEON is part of 64-bit ARM itself.
  EXPECT_NE(simd::kernels_named("neon"), nullptr);
  EXPECT_EQ(sets, (std::vector<std::string_view>{"portable", "neon"}));
#endif
  EXPECT_EQ(simd::kernels_named("avx3"), nullptr);
  EXPECT_EQ(simd::kernels_named(""), nullptr);
  // The best set is the last of them that runs here.
  const simd::kernels* best = nullptr;
  for (const simd::kernels& k : simd::built_kernels()) {
    if (k.runs_here()) best = &k;
  }
  EXPECT_EQ(&simd::best_kernels(), best);
}

// Text made of the pieces that the conversion turns on: brackets, keys
// whole, cut short and unquoted, colour names, and near misses of both.
std::string random_markup(std::mt19937& rng, std::size_t size) {
  static const std::vector<std::string> kPieces = {
      "<",      ">",        "=",          "x",     "xyz ", "\n",    "\0"s,
      "color=", "color=\"", "bgcolor=\"", "colo",  "r=",   "red\"", "fuchsia\"",
      "blue",   "\"",       "black\"",    "<time", "\xff", "{}"};
  std::string text;
  while (text.size() < size) text += kPieces[rng() % kPieces.size()];
  return text.substr(0, size);
}

TEST_P(SimdKernels, TextAgreesWithTheByteAtATimeRulesAtEveryOffset) {
  std::mt19937 rng(21);
  const std::string_view name = set().name;
  const auto convert = set().convert_text;
  int body_checked = 0;
  // Lengths and starting offsets cover every remainder modulo 32 and 64,
  // so every block and tail shape of every width is met; with no slack
  // the kernel may read nothing past the text, and with some, quotes that
  // would end a colour name cut short by the end must not.
  for (std::size_t size = 0; size < 200; ++size) {
    const std::string text = random_markup(rng, size);
    for (std::size_t offset : {0, 1, 7, 31, 33, 63}) {
      for (std::size_t slack : {std::size_t{0}, simd::kReadAhead}) {
        for (bool escape : {true, false}) {
          std::string in(offset, '<');
          in += text;
          in += std::string(slack, '"');
          const char* p = in.data() + offset;
          std::string out(3 * text.size() + simd::kOutputSlack + 8, '\0');
          const simd::text_positions r = convert(
              p, p + text.size(), p + text.size() + slack, out.data(),
              escape ? simd::text_kind::timed_text : simd::text_kind::markup,
              true, simd::text_end::last);
          ASSERT_EQ(r.in, p + text.size()) << name;
          ASSERT_FALSE(r.at_value) << name;
          ASSERT_EQ(std::string(out.data(), r.out),
                    reference::convert(text, !escape))
              << name << " size " << size << " offset " << offset << " slack "
              << slack << " text " << text;
          if (!escape) continue;
          // The body kernel converts it the same, up to a "<t" that it
          // leaves to its caller; a line that a time tag starts is left
          // to the test of those.
          simd::body_scan scan{p, out.data(), nullptr, true, false, false};
          set().rewrite_body(scan, p + text.size(), p + text.size() + slack);
          if (scan.tag_line != nullptr) continue;
          const auto stop = static_cast<std::size_t>(scan.in - p);
          ASSERT_EQ(stop < text.size(), scan.at_tag) << name << " " << text;
          ASSERT_EQ(std::string(out.data(), scan.out),
                    reference::convert(text.substr(0, stop), false))
              << name << " body, size " << size << " offset " << offset
              << " slack " << slack << " text " << text;
          ++body_checked;
        }
      }
    }
  }
  // Few lines start with a tag the kernel writes itself.
  EXPECT_GT(body_checked, 2000) << name;
}

TEST_P(SimdKernels, ConvertTextAgreesOnLongTextsFullOfValues) {
  // Kernels may work through text a few kilobytes at a time: long texts,
  // with values every few bytes, meet every place that a value or a
  // bracket can fall against such a step; a piece that is not the last
  // still stops at a value cut short after many steps.
  std::mt19937 rng(23);
  const std::string_view name = set().name;
  const auto convert = set().convert_text;
  for (std::size_t size = 1800; size < 9000; size += 97 + rng() % 200) {
    std::string text;
    while (text.size() < size) {
      text += rng() % 4 == 0 ? random_markup(rng, rng() % 40)
                             : "<p color=\"navy\">x</p>"s;
    }
    for (bool last : {true, false}) {
      const std::string in = text + std::string(simd::kReadAhead, 'e');
      const char* const p = in.data();
      std::string out(3 * text.size() + simd::kOutputSlack + 8, '\0');
      const simd::text_positions r =
          convert(p, p + text.size(), p + in.size(), out.data(),
                  simd::text_kind::timed_text, true,
                  last ? simd::text_end::last : simd::text_end::more_to_come);
      // Where a piece stops, what it wrote is the converted text before.
      const std::size_t stop = static_cast<std::size_t>(r.in - p);
      ASSERT_TRUE(r.at_value ? !last && stop + 1 + 8 >= text.size()
                             : stop == text.size())
          << name << " size " << size;
      ASSERT_EQ(std::string(out.data(), r.out),
                reference::convert(text.substr(0, stop), false))
          << name << " size " << size << " last " << last;
    }
  }
}

TEST_P(SimdKernels, ConvertTextStopsWhereAValueMayGoOn) {
  const std::string_view name = set().name;
  const auto convert = set().convert_text;
  // A key eight bytes or less from the end of a piece that is not the
  // last: the kernel stops just past its '=', having written the key.
  const std::string text = std::string(70, 'a') + "<b color=\"red\"";
  std::string out(3 * text.size() + simd::kOutputSlack, '\0');
  const char* const p = text.data();
  simd::text_positions r =
      convert(p, p + text.size(), p + text.size(), out.data(),
              simd::text_kind::timed_text, true, simd::text_end::more_to_come);
  EXPECT_TRUE(r.at_value) << name;
  EXPECT_EQ(r.in, p + text.size() - 5) << name;
  EXPECT_EQ(std::string(out.data(), r.out),
            std::string(70, 'a') + "{{{b color=")
      << name;
  // Nine bytes on, the value is decided: the first key may go unquoted,
  // and the next must not.
  const std::string more =
      "<b color=\"red\"xxxxx color=blue\" color=\"red\" and more";
  r = convert(more.data(), more.data() + more.size(), more.data() + more.size(),
              out.data(), simd::text_kind::timed_text, true,
              simd::text_end::more_to_come);
  EXPECT_FALSE(r.at_value) << name;
  EXPECT_FALSE(r.first_key) << name;
  EXPECT_EQ(std::string(out.data(), r.out),
            "{{{b color=\"#ff0000\"xxxxx color=blue\" color=\"#ff0000\" and "
            "more")
      << name;
}

// Every line that begins "<time" somewhere in the golden cases and the fuzz
// corpora, from each such place on, and shapes around the kernel's limits.
std::vector<std::string> time_tag_lines() {
  std::vector<std::string> lines = {
      "<time>",    "<time/>",          "<time />",         "<time/x>",
      "<time a/>", "<timex>",          "<time\t>",         "<time",
      "<time >",   "<time a=\"<b>\">", "<time a>b</time>", "<time\n>",
      "<time/\n>", "<time />x<time/>"};
  for (std::size_t size = 60; size <= 68; ++size) {
    lines.push_back("<time " + std::string(size - 7, 'a') + "/>");
  }
  for (const char* folder :
       {"tests/cases", "fuzz/corpus/filter_rt", "fuzz/regressions/filter_rt",
        "fuzz/corpus/search_tag", "fuzz/regressions/search_tag"}) {
    const std::filesystem::path dir =
        std::filesystem::path(ZORBU_SOURCE_DIR) / folder;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      std::ifstream in(entry.path(), std::ios::binary);
      const std::string file((std::istreambuf_iterator<char>(in)), {});
      for (std::size_t at = file.find("<time"); at != std::string::npos;
           at = file.find("<time", at + 1)) {
        lines.push_back(file.substr(at, file.find('\n', at) - at));
      }
    }
  }
  return lines;
}

TEST_P(SimdKernels, PlainTimeTagsAreWhatTheTagSearchFinds) {
  // The body kernel writes a time tag that starts a line itself only when
  // it is the tag the tag search finds there, and ends where it ends; and
  // never one that the end of its text cuts, whatever may be read past it.
  int written = 0;
  for (const std::string& line : time_tag_lines()) {
    // A line of text after it: the kernel leaves a tag within a few dozen
    // bytes of the end to its caller.
    const std::string rest = "\n" + std::string(80, 'x') + "\n";
    const std::string text =
        "\n" + line + rest + std::string(simd::kReadAhead, '\0');
    const char* const begin = text.data();
    std::string out(3 * text.size() + simd::kOutputSlack, '\0');
    const auto scan_to = [&](const char* end) {
      simd::body_scan scan{begin, out.data(), nullptr, true, false, false};
      set().rewrite_body(scan, end, begin + text.size());
      return scan;
    };
    tag_info tag;
    const auto past = search_tag(line, "time", tag);
    // An end that cuts the line's last byte leaves a tag that ends there.
    if (scan_to(begin + line.size()).tag_line != nullptr) {
      ASSERT_TRUE(past.has_value()) << set().name << ": " << line;
      EXPECT_LT(*past, line.size()) << set().name << ": " << line;
    }
    const simd::body_scan scan = scan_to(begin + line.size() + rest.size());
    if (scan.tag_line == nullptr) continue;
    ++written;
    ASSERT_TRUE(past.has_value()) << set().name << ": " << line;
    EXPECT_EQ(tag.start, 0U) << set().name << ": " << line;
    EXPECT_EQ(scan.tag_line, begin + 1) << set().name << ": " << line;
    // The text before it ends its segment, and the rest of the line opens
    // the next, up to a later "<time", left to the caller.
    std::string opening(tag.text);
    if (tag.self_closing) opening.replace(opening.size() - 2, 2, ">");
    const std::string after = line.substr(*past) + rest;
    EXPECT_EQ(std::string(out.data(), scan.out),
              "\n</time>" + opening +
                  reference::convert(
                      after.substr(0, static_cast<std::size_t>(
                                          scan.in - (begin + 1 + *past))),
                      false))
        << set().name << ": " << line;
    EXPECT_EQ(scan.at_tag, after.find("<time") != std::string::npos)
        << set().name << ": " << line;
  }
  // Most of them stand plainly, and the kernel writes those itself.
  EXPECT_GT(written, 20);
}

}  // namespace
}  // namespace zorbu
