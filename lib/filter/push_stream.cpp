#include "filter/push_stream.hpp"

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

}  // namespace

// A step never writes its output out, which the debug builds the tests run
// check after every step: a write would mean it outgrew kOutputSize.
push_stream::parts::parts(char* storage, const simd::kernels& kernels)
    : reader(std::span<char>(storage, kReaderSize)),
      out(sink, {storage + kReaderSize, kOutputSize}),
      run(reader, out, kernels, kStepLimit) {}

std::unique_ptr<push_stream> push_stream::create(const simd::kernels& kernels) {
  // Not new (std::nothrow) for the storage: it reports failure by throwing
  // inside.
  char* const storage =
      static_cast<char*>(std::malloc(kReaderSize + kOutputSize));
  if (storage == nullptr) return nullptr;
  auto* stream = new (std::nothrow) push_stream(storage, kernels);
  if (stream == nullptr) std::free(storage);
  return std::unique_ptr<push_stream>(stream);
}

push_stream::push_stream(char* storage, const simd::kernels& kernels)
    : storage_(storage, &std::free), kernels_(&kernels) {
  parts_.emplace(storage, kernels);
}

void push_stream::reset() {
  parts_.emplace(storage_.get(), *kernels_);
  last_ = filter_core::progress::need_input;
  pushed_ = false;
  ended_ = false;
}

status push_stream::set_kernels(const simd::kernels& kernels) {
  if (pushed_) return status::misuse;
  kernels_ = &kernels;
  reset();
  return status::done;
}

bool push_stream::found_invalid() const {
  return last_ == filter_core::progress::finished &&
         parts_->run.result() != status::done;
}

bool push_stream::drain(std::span<char>& out) {
  const std::string_view pending = parts_->out.pending();
  const std::size_t n = std::min(pending.size(), out.size());
  if (n > 0) std::memcpy(out.data(), pending.data(), n);
  parts_->out.taken(n);
  out = out.subspan(n);
  return n == pending.size();
}

void push_stream::step() {
  last_ = parts_->run.step();
  assert(parts_->out.ok());
}

status push_stream::push(std::string_view& in, std::span<char>& out) {
  pushed_ = true;
  // An invalid input stays invalid, ended or not; a valid one ended takes
  // nothing more.
  if (found_invalid()) return status::invalid;
  if (ended_) return status::misuse;
  for (;;) {
    if (!drain(out)) return status::output_full;
    if (last_ == filter_core::progress::finished) return status::invalid;
    if (last_ == filter_core::progress::need_input) {
      if (in.empty()) return status::done;
      in.remove_prefix(parts_->reader.append(in));
    }
    step();
  }
}

status push_stream::finish(std::span<char>& out) {
  pushed_ = true;
  if (!ended_) {
    ended_ = true;
    parts_->reader.end_input();
  }
  for (;;) {
    if (!drain(out)) return status::output_full;
    // The run ends done or invalid, which is what finish returns.
    if (last_ == filter_core::progress::finished) return parts_->run.result();
    step();
  }
}

}  // namespace zorbu
