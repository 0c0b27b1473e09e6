#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "simd/kernels.hpp"

namespace zorbu {
namespace {

// Every set of kernels this processor can run, each made active in turn.
std::vector<std::string> runnable_sets() {
  std::vector<std::string> names;
  for (const simd::kernels& k : simd::built_kernels()) {
    if (simd::use(k.name)) names.emplace_back(k.name);
  }
  simd::use(simd::chosen_kernels().name);
  return names;
}

// The escape of [p, end) through its first '=', one byte at a time.
std::string slow_escape(std::string_view text, std::size_t& used) {
  std::string out;
  for (used = 0; used < text.size();) {
    const char c = text[used++];
    out += c == '<' ? "{{{" : c == '>' ? "}}}" : std::string(1, c);
    if (c == '=') break;
  }
  return out;
}

std::string random_text(std::mt19937& rng, std::size_t size) {
  static const char kBytes[] = "<>=<>=tt<time<tim ime\n\0\xff\x3f\x7b{}abc";
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    text += kBytes[rng() % (sizeof kBytes - 1)];
    if (rng() % 3 == 0) text += 'x';
  }
  return text.substr(0, size);
}

TEST(Simd, EverySetIsBuiltAndThePortableOneRunsAnywhere) {
  const auto sets = runnable_sets();
  ASSERT_FALSE(sets.empty());
  EXPECT_EQ(sets.front(), "portable");
#if defined(__x86_64__)
  // SSE2 is part of x86-64 itself.
  EXPECT_NE(std::find(sets.begin(), sets.end(), "sse2"), sets.end());
#endif
}

TEST(Simd, EscapeAgreesWithTheByteByByteRuleAtEveryOffset) {
  std::mt19937 rng(21);
  for (const std::string& set : runnable_sets()) {
    ASSERT_TRUE(simd::use(set));
    const auto escape = simd::active().escape_to_equals;
    // Lengths and starting offsets cover every remainder modulo 32 and 64,
    // so every block and tail shape of every width is met.
    for (std::size_t size = 0; size < 200; ++size) {
      const std::string text = random_text(rng, size);
      for (std::size_t offset : {0, 1, 7, 31, 33, 63}) {
        for (std::size_t slack : {0, 64}) {
          std::string in(offset, '<');
          in += text;
          in += std::string(slack, '=');
          const char* p = in.data() + offset;
          const char* end = p + text.size();
          std::string out(3 * text.size() + simd::kOutputSlack, '\0');
          std::string want;
          std::string got;
          // Walk the text from '=' to '=', as the converter does.
          while (p != end) {
            std::size_t used = 0;
            want += slow_escape({p, static_cast<std::size_t>(end - p)}, used);
            const simd::positions r = escape(p, end, end + slack, out.data());
            ASSERT_EQ(r.in, p + used) << set << " size " << size;
            got.append(out.data(), r.out);
            p = r.in;
          }
          ASSERT_EQ(got, want) << set << " size " << size << " offset "
                               << offset << " slack " << slack;
        }
      }
    }
  }
  simd::use(simd::chosen_kernels().name);
}

TEST(Simd, FindTagStartAgreesWithAPlainSearch) {
  std::mt19937 rng(22);
  for (const std::string& set : runnable_sets()) {
    ASSERT_TRUE(simd::use(set));
    const auto find = simd::active().find_tag_start;
    for (int round = 0; round < 3000; ++round) {
      const std::string text = random_text(rng, rng() % 150);
      for (std::size_t from = 0; from < std::min<std::size_t>(text.size(), 70);
           from += 1 + from / 8) {
        const std::string_view rest = std::string_view(text).substr(from);
        const std::size_t want = rest.find("<time");
        const char* const at =
            find(rest.data(), rest.data() + rest.size(), "time");
        ASSERT_EQ(at - rest.data(),
                  static_cast<std::ptrdiff_t>(
                      want == std::string_view::npos ? rest.size() : want))
            << set << ": " << rest;
      }
    }
    // A '<' at the very end, or a name cut off by the end, is no start.
    const std::string cut = std::string(40, 'a') + "<tim";
    EXPECT_EQ(find(cut.data(), cut.data() + cut.size(), "time"),
              cut.data() + cut.size())
        << set;
  }
  simd::use(simd::chosen_kernels().name);
}

}  // namespace
}  // namespace zorbu
