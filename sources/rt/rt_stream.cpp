#include "rt/rt_stream.hpp"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <new>

#include "rt/lines.hpp"
#include "rt/text_converter.hpp"

namespace zorbu {

namespace {

// What one step rewrites at most, in bytes of body.
constexpr std::size_t kStepLimit = std::size_t{64} << 10;
static_assert(kStepLimit >= kMaxLine);

constexpr std::size_t kReaderSize = block_reader::storage_for(kStepLimit);
// A step writes at most three bytes a byte of body, a little for each tag
// and the first and closing lines, and asks for room a run at a time: it
// never has to write anything out before it ends.
constexpr std::size_t kOutputSize = 4 * kStepLimit + body_writer::kLargestRoom +
                                    4 * text_converter::max_output(kMaxLine);

// The output is taken by the caller, never written anywhere: a write
// would mean that a step outgrew kOutputSize, which the debug builds the
// tests run check after every step.
class no_sink final : public byte_sink {
 public:
  bool write(std::string_view) override { return false; }
};

}  // namespace

struct rt_stream::parts {
  parts(char* storage, const simd::kernels& kernels)
      : reader({storage, kReaderSize}),
        out(sink, {storage + kReaderSize, kOutputSize}),
        run(reader, out, kernels, kStepLimit) {}
  no_sink sink;
  block_reader reader;
  output_buffer out;
  filter_run run;
};

std::unique_ptr<rt_stream> rt_stream::create(const simd::kernels& kernels) {
  // Not new (std::nothrow): it reports failure by throwing inside.
  char* const storage =
      static_cast<char*>(std::malloc(kReaderSize + kOutputSize));
  if (storage == nullptr) return nullptr;
  try {
    return std::unique_ptr<rt_stream>(new rt_stream(storage, kernels));
  } catch (const std::bad_alloc&) {
    std::free(storage);
    return nullptr;
  }
}

rt_stream::rt_stream(char* storage, const simd::kernels& kernels)
    : storage_(storage),
      kernels_(kernels),
      parts_(std::make_unique<parts>(storage, kernels)) {}

rt_stream::~rt_stream() {
  parts_.reset();
  std::free(storage_);
}

void rt_stream::reset() {
  // The parts hold no memory of their own: making them again is cheap.
  parts_->~parts();
  new (parts_.get()) parts(storage_, kernels_);
  last_ = filter_run::step_status::need_input;
  ended_ = false;
}

bool rt_stream::drain(std::span<char>& out) {
  const std::string_view pending = parts_->out.pending();
  const std::size_t n = std::min(pending.size(), out.size());
  if (n > 0) std::memcpy(out.data(), pending.data(), n);
  parts_->out.taken(n);
  out = out.subspan(n);
  return n == pending.size();
}

filter_run::step_status rt_stream::step() {
  last_ = parts_->run.step();
  assert(parts_->out.ok());
  return last_;
}

rt_stream::status rt_stream::push(std::string_view& in, std::span<char>& out) {
  if (ended_) return status::misuse;
  for (;;) {
    if (!drain(out)) return status::output_full;
    if (last_ == filter_run::step_status::finished) return status::invalid;
    if (last_ == filter_run::step_status::need_input) {
      if (in.empty()) return status::done;
      in.remove_prefix(parts_->reader.append(in));
    }
    step();
  }
}

rt_stream::status rt_stream::finish(std::span<char>& out) {
  if (!ended_) {
    ended_ = true;
    parts_->reader.end_input();
  }
  for (;;) {
    if (!drain(out)) return status::output_full;
    if (last_ == filter_run::step_status::finished) {
      return parts_->run.result() == outcome::rewritten ? status::done
                                                        : status::invalid;
    }
    step();
  }
}

}  // namespace zorbu
