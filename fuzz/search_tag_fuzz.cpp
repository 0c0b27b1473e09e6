// search_tag on arbitrary bytes: the first byte picks the wanted name, the
// rest is the line. Checks what a result promises, and that it agrees with
// the plain rendering of the rules.
#include <cstdint>
#include <string>
#include <string_view>

#include "check.hpp"
#include "reference.hpp"
#include "rt/tag_search.hpp"

using zorbu::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string_view name;
  switch (data[0] % 5) {
    case 0:
      name = "*";
      break;
    case 1:
      name = "time";
      break;
    case 2:
      name = "window";
      break;
    case 3:
      name = "font";
      break;
    default: {
      // A name of the input's own choosing, up to its first newline.
      const std::size_t newline = input.find('\n');
      if (newline == std::string_view::npos) return 0;
      name = input.substr(0, newline);
      input.remove_prefix(newline + 1);
      if (name.empty()) return 0;
    }
  }
  const std::string_view line = input;

  zorbu::tag_info tag;
  const auto after = zorbu::search_tag(line, name, tag);
  std::string want_name;
  check(after == zorbu::reference::search(line, name, want_name));
  if (!after) {
    check(!tag.start && !tag.end && tag.name.empty());
    return 0;
  }
  check(tag.start && tag.end);
  const std::size_t start = *tag.start;
  const std::size_t end = *tag.end;
  check(start < end && end < line.size() && *after == end + 1);
  check(line[start] == '<' && line[end] == '>');
  check(line.substr(start + 1, end - start - 1).find('>') ==
        std::string_view::npos);
  check(tag.text == line.substr(start, end - start + 1));
  check(tag.self_closing == (line[end - 1] == '/'));
  // The name opens the tag, holds no space, and is followed by a space or
  // by the end of the tag.
  check(!tag.name.empty() && tag.name == want_name);
  check(tag.name.find(' ') == std::string_view::npos);
  check(tag.text.substr(1, tag.name.size()) == tag.name);
  const char after_name = tag.text[1 + tag.name.size()];
  check(after_name == ' ' || after_name == '>' ||
        (tag.self_closing && after_name == '/'));
  if (name != "*") check(tag.name == name);
  return 0;
}
