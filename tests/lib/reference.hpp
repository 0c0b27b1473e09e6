// The rules written out the slow, obvious way, one byte and one whole file
// at a time. The unit tests and the fuzz targets hold the fast code to these.
// The colour table is spelled out here again, so that a wrong entry in the
// product's table cannot agree with itself.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zorbu::reference {

inline constexpr std::array<std::pair<std::string_view, std::string_view>, 17>
    kColours = {{{"white\"", "#ffffff"},
                 {"black\"", "#000000"},
                 {"blue\"", "#0000ff"},
                 {"red\"", "#ff0000"},
                 {"green\"", "#008000"},
                 {"maroon\"", "#800000"},
                 {"orange\"", "#ffa500"},
                 {"yellow\"", "#ffff00"},
                 {"olive\"", "#808000"},
                 {"purple\"", "#800080"},
                 {"fuchsia\"", "#ff00ff"},
                 {"lime\"", "#00ff00"},
                 {"navy\"", "#000080"},
                 {"aqua\"", "#00ffff"},
                 {"teal\"", "#008080"},
                 {"silver\"", "#c0c0c0"},
                 {"gray\"", "#808080"}}};

// Converts src as convert_htmltext must.
inline std::string convert(std::string_view src, bool is_markup) {
  std::string dst;
  std::size_t value = std::string::npos;
  if (const auto at = src.find("color="); at != std::string::npos)
    value = at + 7;
  for (std::size_t r = 0; r < src.size(); ++r) {
    if (r == value) {
      for (const auto& [name, code] : kColours) {
        if (src.substr(value).starts_with(name)) {
          dst += code;
          dst += '"';
          r += name.size();
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
// and start to the offset of its '<', and returns the offset past its '>'.
inline std::optional<std::size_t> search(std::string_view str,
                                         std::string_view name,
                                         std::string& found,
                                         std::size_t& start) {
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
    start = lt;
    if (name == "*" || found == name) return gt + 1;
    from = gt;
  }
}

inline std::optional<std::size_t> search(std::string_view str,
                                         std::string_view name,
                                         std::string& found) {
  std::size_t start = 0;
  return search(str, name, found, start);
}

// The lines of a file as reads of at most 1023 bytes that stop after a
// newline cut them.
inline std::vector<std::string_view> lines(std::string_view file) {
  std::vector<std::string_view> out;
  while (!file.empty()) {
    const std::size_t newline = file.find('\n');
    const std::size_t len = std::min<std::size_t>(
        newline == std::string_view::npos ? file.size() : newline + 1, 1023);
    out.push_back(file.substr(0, len));
    file.remove_prefix(len);
  }
  return out;
}

// Rewrites a whole file as zorbu must, counting its lines first; returns
// std::nullopt when it is not an rt file.
inline std::optional<std::string> filter(std::string_view file) {
  const auto all = lines(file);
  std::string found;
  std::size_t start = 0;
  if (all.empty()) return std::nullopt;
  const auto window = search(all[0], "window", found, start);
  if (!window) return std::nullopt;
  const long closing =
      search(all[0].substr(*window), "font", found, start) ? 2 : 1;
  const long body = static_cast<long>(all.size()) - 1 - closing;
  if (body == 0) return std::nullopt;

  std::string out = convert(all[0], true);
  std::string segment;
  for (long i = 1; i <= body; ++i) {
    const std::string_view line = all[static_cast<std::size_t>(i)];
    const auto after = search(line, "time", found, start);
    if (!after) {
      segment += line;
      continue;
    }
    const std::string_view before = line.substr(0, start);
    if (!segment.empty() || !before.empty()) {
      out += convert(segment + std::string(before), false) + "</time>";
      segment.clear();
    }
    std::string tag(line.substr(start, *after - start));
    if (tag.ends_with("/>")) tag.replace(tag.size() - 2, 2, ">");
    out += tag;
    segment += line.substr(*after);
  }
  out += convert(segment, false) + "</time>";
  for (std::size_t i = static_cast<std::size_t>(std::max(body, 0L)) + 1;
       i < all.size(); ++i) {
    out += all[i];
  }
  return out;
}

}  // namespace zorbu::reference
