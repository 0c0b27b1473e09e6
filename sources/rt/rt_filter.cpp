#include "rt/rt_filter.hpp"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "rt/body_writer.hpp"
#include "rt/filter_run.hpp"
#include "rt/lines.hpp"
#include "rt/tag_search.hpp"
#include "simd/kernels.hpp"

namespace zorbu {

filter_run::step_status filter_run::step() {
  if (closing_ == 0) {
    // A first line that cannot be read is no rt file, as for an empty one.
    const std::size_t first_line = line_length(in_.buffered(), in_.at_end());
    if (first_line == 0) {
      if (!in_.at_end()) return step_status::need_input;
      result_ = outcome::invalid;
      return step_status::finished;
    }
    closing_ = static_cast<std::size_t>(
        check_rt(in_.buffered().substr(0, first_line)));
    if (closing_ == 0) {
      result_ = outcome::invalid;
      return step_status::finished;
    }
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
    body_.region(rest.substr(0, size));
    in_.consume(size);
    if (limited) return step_status::again;
  }
  if (!in_.at_end()) return step_status::need_input;
  const std::string_view held = in_.buffered().substr(held_first_line_);
  if (!started_) {
    if (count_lines(held) == closing_) {
      result_ = outcome::invalid;
      return step_status::finished;
    }
    start();
  }
  body_.end_body();
  out_.append(held);
  in_.consume(held.size());
  result_ = outcome::rewritten;
  return step_status::finished;
}

// Writes the first line, once the file is known to be valid.
void filter_run::start() {
  if (started_) return;
  text_converter markup(true, kernels_);
  convert_into(markup, in_.buffered().substr(0, held_first_line_), out_);
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

namespace {

struct storage_layout {
  std::size_t reader;
  std::size_t output;
  std::size_t total() const { return reader + output; }
};

// A refill may find the first line and the two lines that may close the
// file still unconsumed, and the reader has room for a line more.
static_assert(block_reader::kMaxCarry >= 4 * kMaxLine);

storage_layout layout_for(std::size_t block) {
  block = std::max<std::size_t>(block, 1);
  // The output is written out about once a block, and always has room for
  // the largest request.
  return {block_reader::storage_for(block), block + body_writer::kLargestRoom};
}

}  // namespace

std::size_t filter_storage_for(std::size_t block) {
  return layout_for(block).total();
}

outcome filter_rt(byte_source& in, byte_sink& out, std::span<char> storage,
                  std::size_t block, const simd::kernels& kernels) {
  const storage_layout layout = layout_for(block);
  if (storage.size() < layout.total()) return outcome::out_of_memory;
  block_reader reader(in, storage.subspan(0, layout.reader));
  output_buffer buffered(out, storage.subspan(layout.reader, layout.output));
  filter_run run(reader, buffered, kernels);
  for (;;) {
    if (run.step() == filter_run::step_status::finished) break;
    // All that is decided is written before a read that may wait.
    if (!buffered.flush()) return outcome::unwritable;
    if (!reader.refill() && reader.failed()) {
      // Nothing is made up after a failed read: no "</time>", and no held
      // lines that might not have been the last ones.
      return run.reading_first_line() ? outcome::invalid : outcome::unreadable;
    }
  }
  if (run.result() != outcome::rewritten) return run.result();
  return buffered.flush() ? outcome::rewritten : outcome::unwritable;
}

outcome filter_rt(byte_source& in, byte_sink& out, std::size_t block,
                  const simd::kernels& kernels) {
  const std::size_t size = filter_storage_for(block);
  // Not new (std::nothrow): it reports failure by throwing inside, and with
  // no memory left for the exception either, that ends in std::terminate.
  const std::unique_ptr<char, decltype(&std::free)> storage(
      static_cast<char*>(std::malloc(size)), &std::free);
  if (!storage) return outcome::out_of_memory;
  return filter_rt(in, out, {storage.get(), size}, block, kernels);
}

}  // namespace zorbu
