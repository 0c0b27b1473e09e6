#include "output_path.hpp"

namespace zorbu {

namespace {

// Returns the first component of path, and removes it and its '/'.
std::string_view next_component(std::string_view& path) {
  const std::size_t slash = path.find('/');
  const std::string_view component = path.substr(0, slash);
  path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
  return component;
}

}  // namespace

output_path output_path_of(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  output_path result{{}, path, false};
  if (slash != std::string_view::npos) {
    result = {path.substr(0, slash), path.substr(slash + 1), false};
  }
  for (std::string_view rest = path; !rest.empty();) {
    if (next_component(rest) == "..") result.climbs = true;
  }
  return result;
}

std::string_view next_folder(std::string_view& folders) {
  while (!folders.empty()) {
    const std::string_view component = next_component(folders);
    if (!component.empty() && component != ".") return component;
  }
  return {};
}

}  // namespace zorbu
