// The colour table: the names a colour value may have, and their codes.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace zorbu {

// Each name carries its closing quote so that only a whole attribute value
// matches: `red"` matches the value red but not redwood.
inline constexpr std::array<std::string_view, 17> color_names = {
    "white\"",  "black\"",  "blue\"",  "red\"",    "green\"",   "maroon\"",
    "orange\"", "yellow\"", "olive\"", "purple\"", "fuchsia\"", "lime\"",
    "navy\"",   "aqua\"",   "teal\"",  "silver\"", "gray\""};

inline constexpr std::array<std::string_view, 17> color_codes = {
    "#ffffff", "#000000", "#0000ff", "#ff0000", "#008000", "#800000",
    "#ffa500", "#ffff00", "#808000", "#800080", "#ff00ff", "#00ff00",
    "#000080", "#00ffff", "#008080", "#c0c0c0", "#808080"};

// The longest entry of color_names, closing quote included.
inline constexpr std::size_t kLongestColorName = [] {
  std::size_t longest = 0;
  for (const std::string_view name : color_names) {
    longest = name.size() > longest ? name.size() : longest;
  }
  return longest;
}();

}  // namespace zorbu
