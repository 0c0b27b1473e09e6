// The words and limits of the rt format, in one place: the tag names, what
// the rewrite writes, the line limit and the colour table. The scalar code
// and the kernels both work from these, and this header includes nothing
// of theirs.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace zorbu {

// A bounded line read stops after a newline or after this many bytes.
inline constexpr std::size_t kMaxLine = 1023;

inline constexpr std::string_view kWindowTag = "window";
inline constexpr std::string_view kFontTag = "font";
inline constexpr std::string_view kTimeTag = "time";

// What ends each segment of timed text.
inline constexpr std::string_view kCloseTime = "</time>";

// What '<' and '>' become in timed text.
inline constexpr std::string_view kEscapedOpen = "{{{";
inline constexpr std::string_view kEscapedClose = "}}}";

// The key whose value may be a colour name: the first one in a text may
// stand unquoted, every later one is followed by a quote.
inline constexpr std::string_view kColourKey = "color=";

// A key after the first: the key and its quote.
inline constexpr std::array<char, kColourKey.size() + 1> kQuotedColourKey = [] {
  std::array<char, kColourKey.size() + 1> key{};
  for (std::size_t i = 0; i < kColourKey.size(); ++i) key[i] = kColourKey[i];
  key.back() = '"';
  return key;
}();

struct colour {
  std::string_view name;  // lower case, without quotes
  std::string_view code;  // "#rrggbb"
};

// The colours, in the order a value is matched against them: one a line.
inline constexpr colour kColours[] = {
    {"white", "#ffffff"},  {"black", "#000000"},   {"blue", "#0000ff"},
    {"red", "#ff0000"},    {"green", "#008000"},   {"maroon", "#800000"},
    {"orange", "#ffa500"}, {"yellow", "#ffff00"},  {"olive", "#808000"},
    {"purple", "#800080"}, {"fuchsia", "#ff00ff"}, {"lime", "#00ff00"},
    {"navy", "#000080"},   {"aqua", "#00ffff"},    {"teal", "#008080"},
    {"silver", "#c0c0c0"}, {"gray", "#808080"},
};

inline constexpr std::size_t kColourCount = std::size(kColours);

// The longest name the kernels can match: eight letters and the quote
// fill two of their eight-byte words at most.
inline constexpr std::size_t kLongestColourLetters = 8;

namespace detail {

struct quoted_names {
  char bytes[kColourCount][kLongestColourLetters + 1];
  std::size_t sizes[kColourCount];

  constexpr std::string_view operator[](std::size_t i) const {
    return {bytes[i], sizes[i]};
  }
  static constexpr std::size_t size() { return kColourCount; }
};

constexpr bool is_hex_code(std::string_view code) {
  if (code.size() != 7 || code[0] != '#') return false;
  for (const char c : code.substr(1)) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

constexpr quoted_names quote_names() {
  quoted_names names{};
  for (std::size_t i = 0; i < kColourCount; ++i) {
    const std::string_view name = kColours[i].name;
    // Thrown at compile time, where it stops the build with this text.
    if (name.size() < 2 || name.size() > kLongestColourLetters) {
      throw "a colour name needs 2 to 8 letters: the kernels pick its slot "
            "by its first and third bytes and match it in two words";
    }
    if (!is_hex_code(kColours[i].code)) {
      throw "a colour code is '#' and six lower-case hex digits";
    }
    for (std::size_t b = 0; b < name.size(); ++b) names.bytes[i][b] = name[b];
    names.bytes[i][name.size()] = '"';
    names.sizes[i] = name.size() + 1;
  }
  return names;
}

}  // namespace detail

// Each colour name with its closing quote, so that only a whole attribute
// value matches: `red"` matches the value red but not redwood. Entry i of
// color_names becomes entry i of color_codes.
inline constexpr detail::quoted_names color_names = detail::quote_names();

inline constexpr std::array<std::string_view, kColourCount> color_codes = [] {
  std::array<std::string_view, kColourCount> codes{};
  for (std::size_t i = 0; i < kColourCount; ++i) codes[i] = kColours[i].code;
  return codes;
}();

// The longest entry of color_names, closing quote included.
inline constexpr std::size_t kLongestColorName = [] {
  std::size_t longest = 0;
  for (std::size_t i = 0; i < kColourCount; ++i) {
    longest = color_names[i].size() > longest ? color_names[i].size() : longest;
  }
  return longest;
}();

}  // namespace zorbu
