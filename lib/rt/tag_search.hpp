// Finding a tag by name in one line of an rt file.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace zorbu {

// What search_tag found. Offsets count from the start of the searched line;
// name and text are views into that line.
struct tag_info {
  std::optional<std::size_t> start;  // the tag's '<'
  std::optional<std::size_t> end;    // the first '>' after start
  std::string_view name;      // between the brackets, up to the first space,
                              // without the '/' of a self-closing tag
  std::string_view text;      // the whole tag, '<' through '>'
  bool self_closing = false;  // the byte before '>' is '/'
};

// Finds the first tag named `name` ("*" takes any name) and describes it in
// `tag`. Returns the offset just past its '>'; std::nullopt when there is no
// such tag, or when a tag with an empty name comes first. On std::nullopt,
// start and end are empty and name is empty; text and self_closing are stale.
std::optional<std::size_t> search_tag(std::string_view str,
                                      std::string_view name, tag_info& tag);

}  // namespace zorbu
