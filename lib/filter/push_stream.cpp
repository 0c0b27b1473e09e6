#include "filter/push_stream.hpp"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <new>

#include "rt/lines.hpp"
#include "rt/text_converter.hpp"
#include "zorbu.h"

namespace zorbu {

namespace {

// What one step rewrites at most, in bytes of body.
constexpr std::size_t kStepLimit = std::size_t{64} << 10;
static_assert(kStepLimit >= kMaxLine);

constexpr std::size_t kReaderSize = block_reader::storage_for(kStepLimit);
// Returns the room that a step of `limit` bytes of body needs: it writes at
// most three bytes a byte of body, a little for each tag and the first and
// closing lines, and asks for room a run at a time, so that it never has
// to write anything out before it ends.
constexpr std::size_t room_for_step(std::size_t limit) {
  return 4 * limit + body_writer::kLargestRoom +
         4 * text_converter::max_output(kMaxLine);
}
constexpr std::size_t kOutputSize = room_for_step(kStepLimit);
// A caller's room this large takes a whole step's output straight; a
// smaller one, down to a step of one line, takes a shorter step's.
static_assert(kOutputSize <= ZORBU_DIRECT_ROOM);

// Returns the longest step whose output room takes, or 0 when not even a
// step of one line's fits.
constexpr std::size_t step_that_fits(std::size_t room) {
  if (room < room_for_step(kMaxLine)) return 0;
  return std::min(kStepLimit, (room - room_for_step(0)) / 4);
}

// What a push copies of its input to join it to what the reader holds of
// the pushes before: the line that the reader's last line goes on in, and
// more after it than a run holds back (its closing lines and a line
// unfinished), so that what the reader held is decided and the rest of the
// input can be read where it stands. Where that is not enough, as at the
// start of a file, another join follows.
constexpr std::size_t kJoinLines = 4;
constexpr std::size_t kJoin = kJoinLines * kMaxLine;
static_assert(kJoin + block_reader::kMaxCarry <= kReaderSize);

// Returns how much of in to join: its first kJoinLines lines, or all of it.
std::size_t join_size(std::string_view in) {
  std::size_t size = 0;
  for (std::size_t line = 0; line < kJoinLines; ++line) {
    const std::size_t length = line_length(in.substr(size), false);
    if (length == 0) return std::min(in.size(), kJoin);
    size += length;
  }
  return size;
}

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
  joined_ = 0;
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

void push_stream::step(std::span<char>& out) {
  // Nothing is pending when a step starts, so a room that takes all that a
  // step can make takes it straight, the step made as long as it allows.
  const std::size_t direct = step_that_fits(out.size());
  parts_->run.set_step_limit(direct > 0 ? direct : kStepLimit);
  if (direct > 0) parts_->out.redirect(out);
  last_ = parts_->run.step();
  assert(parts_->out.ok());
  if (direct > 0) out = out.subspan(parts_->out.take_redirected());
}

void push_stream::take_input(std::string_view& in) {
  block_reader& reader = parts_->reader;
  if (joined_ > 0) {
    // The bytes joined are still in, where they stand: read the rest there
    // too once the run has decided all that the reader held before them.
    const std::size_t left = reader.buffered().size();
    if (left <= joined_ && in.size() > joined_) {
      in.remove_prefix(joined_ - left);
      joined_ = 0;
      reader.lend(in);
      return;
    }
    in.remove_prefix(joined_);
    joined_ = 0;
  }
  if (in.empty()) return;
  if (reader.buffered().empty()) {
    reader.lend(in);
  } else {
    joined_ = reader.append(in.substr(0, join_size(in)));
  }
}

void push_stream::keep_lent(std::string_view& in) {
  // The caller's bytes are the caller's again once the push returns: the
  // reader keeps what it can of those the run has not taken, as a push
  // that copied its input would have, and the rest stays in in.
  block_reader& reader = parts_->reader;
  const std::size_t left = reader.buffered().size();
  in.remove_prefix(in.size() - left + reader.keep());
}

status push_stream::leave(std::string_view& in, status result) {
  if (parts_->reader.lending()) keep_lent(in);
  in.remove_prefix(joined_);
  joined_ = 0;
  return result;
}

status push_stream::push(std::string_view& in, std::span<char>& out) {
  pushed_ = true;
  // An invalid input stays invalid, ended or not; a valid one ended takes
  // nothing more.
  if (found_invalid()) return status::invalid;
  if (ended_) return status::misuse;
  block_reader& reader = parts_->reader;
  for (;;) {
    if (!drain(out)) return leave(in, status::output_full);
    if (last_ == filter_core::progress::finished) {
      return leave(in, status::invalid);
    }
    if (last_ == filter_core::progress::need_input) {
      // The run wants more than the caller's bytes: what it left of them
      // is a few lines, which the reader keeps whole.
      if (reader.lending()) keep_lent(in);
      take_input(in);
      if (in.empty() && !reader.lending() && joined_ == 0) {
        return status::done;
      }
    }
    step(out);
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
    step(out);
  }
}

}  // namespace zorbu
