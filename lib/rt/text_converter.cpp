#include "rt/text_converter.hpp"

#include <algorithm>
#include <cstring>
#include <optional>

#include "common/byte_buffers.hpp"

namespace zorbu {

namespace {

// Every key but the first is a quoted `color="`; bytes at the end of a piece
// that could begin one wait for the next piece.
constexpr std::string_view kNextKey(kQuotedColourKey.data(),
                                    kQuotedColourKey.size());

// The table entry whose name starts value, or std::nullopt; entries in
// table order. Only a value cut by the end of a piece comes here, so a
// plain walk of the table does.
std::optional<std::size_t> match_name(std::string_view value) {
  for (std::size_t i = 0; i < color_names.size(); ++i) {
    if (value.starts_with(color_names[i])) return i;
  }
  return std::nullopt;
}

// How many bytes at the end of [data, data + size) could begin a key that
// later bytes complete; usually none, since lines end in a newline.
std::size_t key_start_at_end(const char* data, std::size_t size,
                             std::string_view key) {
  // A tail that begins a key ends in one of the key's first six bytes; the
  // newline that ends most pieces is none of them.
  if (size == 0 || kColourKey.find(data[size - 1]) == std::string_view::npos) {
    return 0;
  }
  for (std::size_t k = std::min(size, key.size() - 1); k > 0; --k) {
    if (data[size - k] == key[0] &&
        std::memcmp(data + size - k, key.data(), k) == 0) {
      return k;
    }
  }
  return 0;
}

// Writes c as text mode wants it.
char* put_escaped(char* out, char c) {
  if (c == '<') return put_bytes(out, kEscapedOpen);
  if (c == '>') return put_bytes(out, kEscapedClose);
  *out = c;
  return out + 1;
}

// Where a value of the text stands once the bytes before it are passed.
enum class value_found : std::uint8_t {
  beyond_piece,  // it starts at or after the piece's end
  needs_more,    // it starts here, but later bytes tell which name it is
  decided        // it was replaced, or is not in the table, and is passed
};

// Copies the value_at bytes before a value (escaped in timed text), as many
// as the piece has, then replaces a value that is in the table.
value_found pass_value(const char*& p, const char* end, bool last, bool markup,
                       std::uint64_t& value_at, char*& out) {
  // The value starts just past the key's quote, at most one byte on.
  const auto step = static_cast<std::size_t>(
      std::min<std::uint64_t>(value_at, static_cast<std::uint64_t>(end - p)));
  for (const char* const stop = p + step; p < stop; ++p) {
    out = markup ? put_bytes(out, {p, 1}) : put_escaped(out, *p);
  }
  value_at -= step;
  if (value_at > 0 || p == end) return value_found::beyond_piece;
  const std::string_view rest(p, static_cast<std::size_t>(end - p));
  if (!last && rest.size() < kLongestColorName) return value_found::needs_more;
  if (const auto i = match_name(rest)) {
    out = put_bytes(out, color_codes[*i]);
    *out++ = '"';
    p += color_names[*i].size();
  }
  return value_found::decided;
}

}  // namespace

// Converts data[0, size) as far as it can be decided without later bytes
// (all of it when last) and returns how many bytes it used up. At most
// kLongestColorName - 1 bytes are left over.
std::size_t text_converter::run(const char* data, std::size_t size, bool last,
                                std::size_t readable_after, char*& out_ref) {
  // The state lives in locals while bytes are written: a write through a
  // char pointer may alias the members, and would make the compiler reload
  // them after every one.
  const bool markup = kind_ == simd::text_kind::markup;
  const auto convert_text = kernels_->convert_text;
  mode state = mode_;
  std::uint64_t value_at = value_at_;
  char* out = out_ref;
  const char* p = data;
  const char* const end = data + size;
  const char* const readable_end = end + readable_after;
  // Bytes at the end that could begin a key wait for the next piece, so
  // that the kernel sees every key whole.
  const char* const held =
      last ? end : end - key_start_at_end(data, size, kNextKey);
  const char* used = end;
  for (;;) {
    if (state == mode::at_value) {
      const value_found value = pass_value(p, end, last, markup, value_at, out);
      if (value == value_found::beyond_piece) break;
      if (value == value_found::needs_more) {
        used = p;
        break;
      }
      // The next key is searched from the value's start; no key can begin
      // inside a replaced name, so searching from p finds the same one.
      state = mode::next_search;
    }
    // A value decided here never runs into the held bytes, which begin a
    // key; but p may pass them when nothing is held.
    const char* const stop = std::max(p, held);
    const simd::text_positions next = convert_text(
        p, stop, readable_end, out, kind_, state == mode::first_search,
        last ? simd::text_end::last : simd::text_end::more_to_come);
    p = next.in;
    out = next.out;
    state = next.first_key ? mode::first_search : mode::next_search;
    if (!next.at_value) {
      used = stop;
      break;
    }
    // Past a key's '=', with a value that lies partly beyond what can be
    // decided now, one byte on.
    state = mode::at_value;
    value_at = 1;
  }
  mode_ = state;
  value_at_ = value_at;
  out_ref = out;
  return static_cast<std::size_t>(used - data);
}

char* text_converter::feed(std::string_view piece, char* out,
                           std::size_t readable_after) {
  if (held_size_ > 0) {
    // Join the held bytes with the start of the piece, so that a key or a
    // name that spans the two is seen whole; then go on in the piece itself.
    const std::size_t take = std::min(piece.size(), held_.size() - held_size_);
    std::memcpy(held_.data() + held_size_, piece.data(), take);
    const std::size_t joined = held_size_ + take;
    const std::size_t used = run(held_.data(), joined, false, 0, out);
    if (take == piece.size()) {
      held_size_ = joined - used;
      std::memmove(held_.data(), held_.data() + used, held_size_);
      return out;
    }
    // A full join leaves only a few bytes over, so every held byte was used
    // and the rest is in the piece.
    piece.remove_prefix(used - held_size_);
    held_size_ = 0;
  }
  const std::size_t used =
      run(piece.data(), piece.size(), false, readable_after, out);
  held_size_ = piece.size() - used;
  if (held_size_ > 0) {
    std::memcpy(held_.data(), piece.data() + used, held_size_);
  }
  return out;
}

char* text_converter::end_line(char* out) {
  // With nothing held back there is nothing left to decide or write.
  if (held_size_ > 0) run(held_.data(), held_size_, true, 0, out);
  held_size_ = 0;
  return out;
}

char* text_converter::finish(char* out) {
  out = end_line(out);
  mode_ = mode::first_search;
  value_at_ = 0;
  return out;
}

char* convert_whole(const simd::kernels& kernels, std::string_view text,
                    simd::text_kind kind, char* out,
                    std::size_t readable_after) {
  const char* const end = text.data() + text.size();
  return kernels
      .convert_text(text.data(), end, end + readable_after, out, kind, true,
                    simd::text_end::last)
      .out;
}

std::string convert_htmltext(std::string_view src, bool is_markup,
                             const simd::kernels& kernels) {
  std::string out(text_converter::max_output(src.size()), '\0');
  out.resize(static_cast<std::size_t>(
      convert_whole(
          kernels, src,
          is_markup ? simd::text_kind::markup : simd::text_kind::timed_text,
          out.data()) -
      out.data()));
  return out;
}

}  // namespace zorbu
