#include "filter/filter_core.hpp"

#include "rt/lines.hpp"
#include "rt/tag_search.hpp"
#include "rt/text_converter.hpp"

namespace zorbu {

filter_core::progress filter_core::step() {
  if (closing_ == 0) {
    // A first line that cannot be read is no rt file, as for an empty one.
    const std::size_t first_line = line_length(in_.buffered(), in_.at_end());
    if (first_line == 0) {
      if (!in_.at_end()) return progress::need_input;
      return invalid(invalid_reason::empty);
    }
    closing_ = static_cast<std::size_t>(
        check_rt(in_.buffered().substr(0, first_line)));
    if (closing_ == 0) return invalid(invalid_reason::no_window);
    held_first_line_ = first_line;
  }
  const std::string_view rest = in_.buffered().substr(held_first_line_);
  if (std::size_t size = last_lines_start(rest, closing_)) {
    // A step stops at the start of the line that crosses its limit; no line
    // is longer than the limit, so it takes one line at least.
    const bool limited = size > step_limit_;
    if (limited) {
      size = static_cast<std::size_t>(
          line_start(rest.data(), rest.data() + step_limit_) - rest.data());
    }
    start();
    body_.region(rest.substr(0, size), in_.readable_end());
    in_.consume(size);
    if (limited) return progress::again;
  }
  if (!in_.at_end()) return progress::need_input;
  const std::string_view held = in_.buffered().substr(held_first_line_);
  if (!started_) {
    if (count_lines(held) == closing_) {
      return invalid(invalid_reason::no_body);
    }
    start();
  }
  body_.end_body();
  out_.append(held);
  in_.consume(held.size());
  result_ = status::done;
  return progress::finished;
}

filter_core::progress filter_core::invalid(invalid_reason why) {
  result_ = status::invalid;
  reason_ = why;
  return progress::finished;
}

// Writes the first line, once the file is known to be valid.
void filter_core::start() {
  if (started_) return;
  text_converter markup(simd::text_kind::markup, kernels_);
  convert_into(markup, in_.buffered().substr(0, held_first_line_),
               in_.readable_end(), out_);
  finish_into(markup, out_);
  in_.consume(held_first_line_);
  held_first_line_ = 0;
  started_ = true;
}

int check_rt(std::string_view first_line) {
  tag_info tag;
  const auto after_window = search_tag(first_line, kWindowTag, tag);
  if (!after_window) return 0;
  // A font opened after the window is closed on a line of its own.
  return search_tag(first_line.substr(*after_window), kFontTag, tag) ? 2 : 1;
}

}  // namespace zorbu
