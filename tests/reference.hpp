// The rules written out the slow, obvious way, one byte at a time. The unit
// tests and the fuzz targets hold the fast code to these.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "color_convert.hpp"

namespace zorbu::reference {

// Converts src as convert_htmltext must.
inline std::string convert(std::string_view src, bool is_markup) {
  std::string dst;
  std::size_t value = std::string::npos;
  if (const auto at = src.find("color="); at != std::string::npos)
    value = at + 7;
  for (std::size_t r = 0; r < src.size(); ++r) {
    if (r == value) {
      for (std::size_t i = 0; i < color_names.size(); ++i) {
        if (src.substr(value).starts_with(color_names[i])) {
          dst += color_codes[i];
          dst += '"';
          r += color_names[i].size();
          break;
        }
      }
      const auto next = src.find("color=\"", value);
      value = next == std::string::npos ? next : next + 7;
      if (r == src.size()) break;
    }
    if (!is_markup && src[r] == '<') {
      dst += "{{{";
    } else if (!is_markup && src[r] == '>') {
      dst += "}}}";
    } else {
      dst += src[r];
    }
  }
  return dst;
}

// Searches str as search_tag must; on success sets found to the tag's name
// and returns the offset past its '>'.
inline std::optional<std::size_t> search(std::string_view str,
                                         std::string_view name,
                                         std::string& found) {
  std::size_t from = 0;
  for (;;) {
    const std::size_t lt = str.find('<', from);
    if (lt == std::string_view::npos) return std::nullopt;
    const std::size_t gt = str.find('>', lt);
    if (gt == std::string_view::npos) return std::nullopt;
    std::string inside(str.substr(lt + 1, gt - lt - 1));
    if (str[gt - 1] == '/') inside.pop_back();
    found = inside.substr(0, inside.find(' '));
    if (found.empty()) return std::nullopt;
    if (name == "*" || found == name) return gt + 1;
    from = gt;
  }
}

}  // namespace zorbu::reference
