// The pieces of a block between the cuts that keys and tags make in it,
// written escaped in order.
// Part of the kernels written once over a vector type V: included by
// generic/kernels.hpp, inside each target's own namespace.
#pragma once

// Where a target escapes a whole block at a fixed cost, a block that keys
// cut is escaped once, into a scratch buffer, and the pieces between its
// cuts are copied from there. Elsewhere escaping costs a step
// for each bracket, and each piece is escaped where it goes.
constexpr bool kEscapeOnce = has_put_escaped<V> || has_put_escaped_from<V>;

// What escaping a block whole may write: three bytes for each of its own,
// and what a target writes past the end.
constexpr std::size_t kEscapedBlock = 5 * V::kWidth;

// The pieces of one block between its cuts, written escaped in order.
struct block_pieces {
  const text_block& block;
  mask_t brackets;
  char* escaped;          // where kEscapeOnce: the block escaped whole
  std::size_t done;       // the bytes before this are written
  std::size_t shift = 0;  // where kEscapeOnce: two for each bracket before done

  // Escapes the block whole, where the pieces are copied from that.
  void escape_whole() {
    if constexpr (kEscapeOnce) {
      if (brackets != 0) {
        put_escaped<V>(block.v, block.at, brackets, 0, block.whole, escaped);
        shift = shift_at(done);
      } else {
        V::store(escaped, block.v);
      }
    }
  }
  std::size_t shift_at(std::size_t i) const {
    return 2 * static_cast<std::size_t>(
                   __builtin_popcountll(bits_below(brackets, i)));
  }
  // Most pieces fit in one vector.
  static char* copy(const char* from, std::size_t size, char* out) {
    V::store(out, V::load(from));
    for (std::size_t k = V::kWidth; k < size; k += V::kWidth) {
      V::store(out + k, V::load(from + k));
    }
    return out + size;
  }
  // Writes the bytes from done up to i, escaped, and moves done there;
  // returns the end of what it wrote, and may write a vector past it.
  char* put_to(std::size_t i, char* out) {
    if constexpr (kEscapeOnce) {
      const std::size_t shift_i = shift_at(i);
      out = copy(escaped + done + shift, i + shift_i - done - shift, out);
      shift = shift_i;
    } else {
      out = put_escaped<V>(block.v, block.at, brackets, done, i - done, out);
    }
    done = i;
    return out;
  }
  // Moves done on to i over bytes written otherwise, which have no
  // brackets.
  void skip_plain_to(std::size_t i) { done = i; }
  // The same over bytes that may have brackets.
  void skip_to(std::size_t i) {
    if constexpr (kEscapeOnce) shift = shift_at(i);
    done = i;
  }
  char* put_rest(char* out) { return put_to(block.whole, out); }
};
