// How the kernels walk text a block at a time.
// Part of the kernels written once over a vector type V: included by
// generic/kernels.hpp, inside each target's own namespace.
#pragma once

// The kernels read blocks at fixed steps, so that no load waits on what the
// last value was; a part of a block is loaded again from where it starts,
// which escaping a bracket a step at a time reads two vectors past. Near
// the end, where those loads would leave what may be read, blocks come from
// a copy padded with zero bytes. That copy is slow to load back, so callers
// that can let a little more be read say so.
constexpr std::size_t kTail =
    (has_put_escaped<V> || has_put_escaped_from<V> ? 2 : 3) * V::kWidth;

inline const char* block_at(const char* p, const char* end,
                            const char* readable_end, char* tail) {
  if (static_cast<std::size_t>(readable_end - p) >= kTail) return p;
  const std::size_t copied = smaller(static_cast<std::size_t>(end - p), kTail);
  std::memcpy(tail, p, copied);
  std::memset(tail + copied, 0, kTail - copied);
  return tail;
}

// Returns where places stop, from p on, that have `text` bytes of text
// before end and `readable` bytes to read before readable_end: every place
// from p up to the returned one has both. Worked out once a call, since
// the walks only move on.
inline const char* reach_end(const char* p, const char* end,
                             const char* readable_end, std::size_t text,
                             std::size_t readable) {
  const auto to_end = static_cast<std::size_t>(end - p);
  const auto to_readable = static_cast<std::size_t>(readable_end - p);
  return p + (to_end >= text && to_readable >= readable
                  ? smaller(to_end - text, to_readable - readable) + 1
                  : 0);
}

// Returns where whole blocks stop: a block that starts before it lies
// before end and may be read where it stands.
inline const char* whole_blocks_end(const char* p, const char* end,
                                    const char* readable_end) {
  return reach_end(p, end, readable_end, V::kWidth, kTail);
}

// A block of the text, as the kernels walk it.
struct text_block {
  const char* at;  // where it is read from: the text, or a padded copy
  typename V::vec v;
  std::size_t whole;  // how many of its bytes come before the text's end
  mask_t text;        // the bits of those bytes
};

// Copies the block's bytes [done, at) as they are, and moves done to at.
// Writes a whole vector at out.
inline void copy_block_to(const text_block& block, std::size_t& done,
                          std::size_t at, char*& out) {
  V::store(out, V::load(block.at + done));
  out += at - done;
  done = at;
}

// Returns the block at p, which must be before end; whole_end is what
// whole_blocks_end gave for an earlier p.
inline text_block block_from(const char* p, const char* whole_end,
                             const char* end, const char* readable_end,
                             char* tail) {
  if (p < whole_end) return {p, V::load(p), V::kWidth, low_bits(V::kWidth)};
  const char* const at = block_at(p, end, readable_end, tail);
  const std::size_t whole =
      smaller(static_cast<std::size_t>(end - p), V::kWidth);
  return {at, V::load(at), whole, low_bits(whole)};
}

// Moves p over the blocks that done has covered, which leaves p + done as
// it was, and returns the block at p; p + done must be before end.
inline text_block next_block(const char*& p, std::size_t& done,
                             const char* whole_end, const char* end,
                             const char* readable_end, char* tail) {
  for (; done >= V::kWidth; done -= V::kWidth) p += V::kWidth;
  return block_from(p, whole_end, end, readable_end, tail);
}
