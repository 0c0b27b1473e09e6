#include "rt/tag_search.hpp"

#include "simd/find_byte.hpp"

namespace zorbu {

namespace {

// Returns true if text begins with prefix. Names are a few bytes long, and a
// plain loop beats a call to memcmp for them.
bool begins_with(const char* text, std::size_t size, std::string_view prefix) {
  if (size < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (text[i] != prefix[i]) return false;
  }
  return true;
}

// Offset of the first c in str at or after from, or npos.
std::size_t find_byte(std::string_view str, std::size_t from, char c) {
  if (from >= str.size()) return std::string_view::npos;
  const char* const end = str.data() + str.size();
  const char* const hit = zorbu::find_byte(str.data() + from, end, c);
  return hit == end ? std::string_view::npos
                    : static_cast<std::size_t>(hit - str.data());
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
    std::string_view inside;
    if (gt != std::string_view::npos) {
      tag.self_closing = str[gt - 1] == '/';
      inside = str.substr(lt + 1, gt - lt - 1);
      if (tag.self_closing) inside.remove_suffix(1);
    }
    // A tag with no name ends the search even if a wanted one follows.
    if (inside.empty() || inside[0] == ' ') {
      tag.start = tag.end = std::nullopt;
      return std::nullopt;
    }
    // Only a space ends a name: a tab is part of it. A tag whose first bytes
    // already differ is passed over without working out its name.
    if (any || begins_with(inside.data(), inside.size(), name)) {
      const std::string_view found = inside.substr(0, inside.find(' '));
      if (any || found == name) {
        tag.name = found;
        tag.text = str.substr(lt, gt - lt + 1);
        tag.start = lt;
        tag.end = gt;
        return gt + 1;
      }
    }
    from = gt;
  }
}

}  // namespace zorbu
