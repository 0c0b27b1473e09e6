#include "rt/rt_filter.hpp"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "rt/body_writer.hpp"
#include "rt/lines.hpp"
#include "rt/tag_search.hpp"
#include "simd/kernels.hpp"

namespace zorbu {

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

// One run of the filter over one input.
//
// The input is read once, so the closing lines cannot be counted ahead:
// they are the last one or two lines, and a line is known to be a body line
// only once that many lines have come after it. Until then it stays in the
// reader's buffer, unconsumed. The first line stays there too until the
// file is known to be valid: a body line arrived, or the input ended with
// fewer lines after the first than closing lines, which is allowed; exactly
// as many is not.
class filter_run {
 public:
  filter_run(block_reader& in, output_buffer& out, const simd::kernels& kernels)
      : in_(in), out_(out), kernels_(kernels), body_(out, kernels) {}

  outcome run() {
    // A first line that cannot be read is no rt file, as for an empty one.
    std::size_t first_line = 0;
    while ((first_line = line_length(in_.buffered(), in_.at_end())) == 0) {
      if (!in_.refill() && !in_.at_end()) break;
      if (in_.at_end() && in_.buffered().empty()) break;
    }
    if (first_line == 0) return outcome::invalid;
    closing_ = static_cast<std::size_t>(
        check_rt(in_.buffered().substr(0, first_line)));
    if (closing_ == 0) return outcome::invalid;
    held_first_line_ = first_line;

    for (;;) {
      const std::string_view rest = in_.buffered().substr(held_first_line_);
      if (const std::size_t size = last_lines_start(rest, closing_)) {
        start();
        body_.region(rest.substr(0, size));
        in_.consume(size);
      }
      // All that is decided is written before a read that may wait.
      if (!out_.flush()) return outcome::unwritable;
      if (!in_.refill()) break;
    }
    // Nothing is made up after a failed read: no "</time>", and no held
    // lines that might not have been the last ones.
    if (in_.failed()) return outcome::unreadable;
    const std::string_view held = in_.buffered().substr(held_first_line_);
    if (!started_) {
      if (count_lines(held) == closing_) return outcome::invalid;
      start();
    }
    body_.end_body();
    out_.append(held);
    return out_.flush() ? outcome::rewritten : outcome::unwritable;
  }

 private:
  // Writes the first line, once the file is known to be valid.
  void start() {
    if (started_) return;
    text_converter markup(true, kernels_);
    convert_into(markup, in_.buffered().substr(0, held_first_line_), out_);
    finish_into(markup, out_);
    in_.consume(held_first_line_);
    held_first_line_ = 0;
    started_ = true;
  }

  block_reader& in_;
  output_buffer& out_;
  const simd::kernels& kernels_;
  body_writer body_;
  std::size_t held_first_line_ = 0;  // the first line's length, while held
  std::size_t closing_ = 0;
  bool started_ = false;
};

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
  return filter_run(reader, buffered, kernels).run();
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
