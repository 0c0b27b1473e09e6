#include "filter/pull_driver.hpp"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "filter/filter_core.hpp"
#include "rt/body_writer.hpp"
#include "rt/lines.hpp"
#include "simd/kernels.hpp"

namespace zorbu {

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

status filter_rt(byte_source& in, byte_sink& out, std::span<char> storage,
                 std::size_t block, const simd::kernels& kernels,
                 invalid_reason* why) {
  const storage_layout layout = layout_for(block);
  if (storage.size() < layout.total()) return status::out_of_memory;
  block_reader reader(in, storage.subspan(0, layout.reader));
  output_buffer buffered(out, storage.subspan(layout.reader, layout.output));
  filter_core run(reader, buffered, kernels);
  for (;;) {
    if (run.step() == filter_core::progress::finished) break;
    // All that is decided is written before a read that may wait.
    if (!buffered.flush()) return status::unwritable;
    if (!reader.refill() && reader.failed()) {
      // Nothing is made up after a failed read: no "</time>", and no held
      // lines that might not have been the last ones.
      if (!run.reading_first_line()) return status::unreadable;
      if (why != nullptr) *why = invalid_reason::first_line_unread;
      return status::invalid;
    }
  }
  if (why != nullptr) *why = run.reason();
  if (run.result() != status::done) return run.result();
  return buffered.flush() ? status::done : status::unwritable;
}

status filter_rt(byte_source& in, byte_sink& out, std::size_t block,
                 const simd::kernels& kernels, invalid_reason* why) {
  const std::size_t size = filter_storage_for(block);
  // Not new (std::nothrow): it reports failure by throwing inside, and with
  // no memory left for the exception either, that ends in std::terminate.
  const std::unique_ptr<char, decltype(&std::free)> storage(
      static_cast<char*>(std::malloc(size)), &std::free);
  if (!storage) return status::out_of_memory;
  return filter_rt(in, out, {storage.get(), size}, block, kernels, why);
}

}  // namespace zorbu
