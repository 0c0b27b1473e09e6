// The C interface: a thin, exception-free front to the push stream and the
// one-shot conversion.
#include "zorbu.h"

#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <string_view>

#include "common/status.hpp"
#include "filter/one_shot.hpp"
#include "filter/push_stream.hpp"
#include "simd/kernels.hpp"

struct zorbu_stream {
  std::unique_ptr<zorbu::push_stream> stream;
};

namespace {

zorbu_result result_of(zorbu::status ended) {
  switch (ended) {
    case zorbu::status::done:
      return ZORBU_DONE;
    case zorbu::status::output_full:
      return ZORBU_OUTPUT_FULL;
    case zorbu::status::invalid:
      return ZORBU_INVALID;
    case zorbu::status::out_of_memory:
      return ZORBU_OUT_OF_MEMORY;
    // The interface reads and writes only the caller's memory, never a
    // source or a sink, so the last two cannot come from its calls.
    case zorbu::status::misuse:
    case zorbu::status::unreadable:
    case zorbu::status::unwritable:
      break;
  }
  return ZORBU_MISUSE;
}

// Returns true when an output buffer may be written: not null, its position
// within its size, and bytes behind it when it has room.
bool usable(const zorbu_out* out) {
  return out != nullptr && out->pos <= out->size &&
         (out->dst != nullptr || out->size == 0);
}

std::span<char> room_of(zorbu_out* out) {
  return {static_cast<char*>(out->dst) + out->pos, out->size - out->pos};
}

void advance(zorbu_out* out, std::span<char> room) {
  out->pos = out->size - room.size();
}

}  // namespace

extern "C" {

unsigned zorbu_version_number(void) { return ZORBU_VERSION_NUMBER; }

const char* zorbu_version_string(void) { return ZORBU_VERSION_STRING; }

zorbu_stream* zorbu_create(void) {
  auto* handle = new (std::nothrow) zorbu_stream;
  if (handle == nullptr) return nullptr;
  handle->stream = zorbu::push_stream::create(zorbu::simd::best_kernels());
  if (!handle->stream) {
    delete handle;
    return nullptr;
  }
  return handle;
}

void zorbu_free(zorbu_stream* stream) { delete stream; }

zorbu_result zorbu_set_kernels(zorbu_stream* stream, const char* name) {
  if (stream == nullptr || name == nullptr) return ZORBU_MISUSE;
  const zorbu::simd::kernels* set = zorbu::simd::kernels_named(name);
  if (set == nullptr) return ZORBU_UNSUPPORTED;
  return result_of(stream->stream->set_kernels(*set));
}

zorbu_result zorbu_reset(zorbu_stream* stream) {
  if (stream == nullptr) return ZORBU_MISUSE;
  stream->stream->reset();
  return ZORBU_DONE;
}

zorbu_result zorbu_push(zorbu_stream* stream, zorbu_in* in, zorbu_out* out) {
  if (stream == nullptr || in == nullptr || in->pos > in->size ||
      (in->src == nullptr && in->size != 0) || !usable(out)) {
    return ZORBU_MISUSE;
  }
  std::string_view rest(static_cast<const char*>(in->src) + in->pos,
                        in->size - in->pos);
  std::span<char> room = room_of(out);
  const zorbu_result result = result_of(stream->stream->push(rest, room));
  in->pos = in->size - rest.size();
  advance(out, room);
  return result;
}

zorbu_result zorbu_finish(zorbu_stream* stream, zorbu_out* out) {
  if (stream == nullptr || !usable(out)) return ZORBU_MISUSE;
  std::span<char> room = room_of(out);
  const zorbu_result result = result_of(stream->stream->finish(room));
  advance(out, room);
  return result;
}

const char* zorbu_kernels(const zorbu_stream* stream) {
  // The kernel sets' names are literals, so the view ends in a NUL.
  return stream == nullptr ? "" : stream->stream->kernels().name.data();
}

const char* zorbu_result_text(zorbu_result result) {
  switch (result) {
    case ZORBU_DONE:
      return "done";
    case ZORBU_OUTPUT_FULL:
      return "output room needed";
    case ZORBU_INVALID:
      return zorbu::kInvalidText;
    case ZORBU_OUT_OF_MEMORY:
      return zorbu::kOutOfMemoryText;
    case ZORBU_MISUSE:
      return "misuse of the zorbu interface";
    case ZORBU_UNSUPPORTED:
      return "kernel set not available";
  }
  return "unknown result";
}

// Every byte becomes three at most ("<" becomes "{{{"); a tag and the
// "</time>" before it take less than three a byte of the tag; the last
// "</time>" comes on top, within the 64.
size_t zorbu_bound(size_t input_size) { return ZORBU_BOUND(input_size); }

zorbu_result zorbu_convert(const void* src, size_t src_size, void* dst,
                           size_t dst_capacity, size_t* dst_size) {
  if ((src == nullptr && src_size != 0) ||
      (dst == nullptr && dst_capacity != 0) || dst_size == nullptr) {
    return ZORBU_MISUSE;
  }
  // A C caller may pass NULL for no bytes; the scans want an address.
  const char* const input = src_size == 0 ? "" : static_cast<const char*>(src);
  const zorbu::one_shot_result done = zorbu::convert_one_shot(
      {input, src_size}, {static_cast<char*>(dst), dst_capacity},
      zorbu::simd::best_kernels());
  *dst_size = done.written;
  return result_of(done.result);
}

const char* zorbu_invalid_reason(const zorbu_stream* stream) {
  return stream == nullptr ? nullptr
                           : zorbu::reason_text(stream->stream->reason());
}

const char* zorbu_reason(const void* src, size_t src_size) {
  if (src == nullptr && src_size != 0) return nullptr;
  const char* const input = src_size == 0 ? "" : static_cast<const char*>(src);
  return zorbu::reason_text(
      zorbu::judge_one_shot({input, src_size}, zorbu::simd::best_kernels()));
}

}  // extern "C"
