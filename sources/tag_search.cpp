#include "tag_search.hpp"

#include <cstring>

namespace zorbu {

namespace {

// Offset of the first c in str at or after from, or npos.
std::size_t find_byte(std::string_view str, std::size_t from, char c) {
  if (from >= str.size()) return std::string_view::npos;
  const void* p = std::memchr(str.data() + from, c, str.size() - from);
  return p ? static_cast<std::size_t>(static_cast<const char*>(p) - str.data())
           : std::string_view::npos;
}

}  // namespace

std::optional<std::size_t> search_tag(std::string_view str,
                                      std::string_view name, tag_info& tag) {
  const bool any = name == "*";
  std::size_t from = 0;
  for (;;) {
    tag.name = {};
    const std::size_t lt = find_byte(str, from, '<');
    const std::size_t gt = find_byte(str, lt, '>');
    if (gt != std::string_view::npos) {
      tag.self_closing = str[gt - 1] == '/';
      std::string_view found = str.substr(lt + 1, gt - lt - 1);
      if (tag.self_closing) found.remove_suffix(1);
      // Only a space ends a name: a tab is part of it.
      tag.name = found.substr(0, found.find(' '));
      tag.text = str.substr(lt, gt - lt + 1);
    }
    // A tag with no name ends the search even if a wanted one follows.
    if (tag.name.empty()) {
      tag.start = tag.end = std::nullopt;
      return std::nullopt;
    }
    if (any || tag.name == name) {
      tag.start = lt;
      tag.end = gt;
      return gt + 1;
    }
    from = gt;
  }
}

}  // namespace zorbu
