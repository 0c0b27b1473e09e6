// Converting text: colour values replaced, brackets escaped.
// Part of the kernels written once over a vector type V: included by
// generic/kernels.hpp, inside each target's own namespace.
#pragma once

ZORBU_KERNEL inline text_positions convert_unstaged(const char* p,
                                                    const char* end,
                                                    const char* readable_end,
                                                    char* out, bool escape,
                                                    bool first_key, bool last) {
  constexpr std::size_t W = V::kWidth;
  char tail[kTail];
  const mask_t escaped = escape ? ~mask_t{0} : 0;
  // A key must start here or later: at the start, or where the last value
  // began.
  const char* from = p;
  // The bytes of the block before this one are done; a value that ran
  // past the last block leaves it above zero.
  std::size_t done = 0;
  while (p + done < end) {
    const text_block next = next_block(p, done, end, readable_end, tail);
    const char* const block = next.at;
    const typename V::vec v = next.v;
    const std::size_t whole = next.whole;
    const mask_t brackets = (V::eq(v, '<') | V::eq(v, '>')) & escaped;
    // No '=' can stand where done skips: a colour name has none, and one
    // just after a key's '=' has no "color" before it. So which '=' are
    // keys does not wait on the values.
    mask_t equals = V::eq(v, '=') & low_bits(whole);
    if ((brackets | equals) == 0 && done == 0 && whole == W) {
      V::store(out, v);
      out += W;
      p += W;
      continue;
    }
    while (equals != 0) {
      const char* const sign = p + count_zeros(equals);
      equals &= equals - 1;
      if (!is_key(sign, from, end, first_key)) continue;
      const char* const after = sign + 1;
      put_block_to(v, block, brackets, done,
                   static_cast<std::size_t>(after - p), out);
      if (!last && static_cast<std::size_t>(end - after) < 1 + kLongestName) {
        // The value is not all here: the caller goes on from the '='.
        return {after, out, first_key, true};
      }
      first_key = false;
      // A first key at the very end of the text has no value.
      if (after == end) break;
      from = put_value(after, end, escape, out);
      done = static_cast<std::size_t>(from - p);
    }
    if (done < whole) put_block_to(v, block, brackets, done, whole, out);
    p += whole;
    done -= whole;
  }
  return {p + done, out, first_key, false};
}

// Text is converted a chunk at a time, in two steps: the text is copied into
// a small stage with its colour values replaced, and the stage is escaped
// whole. Escaping commutes with replacing, since neither a colour name nor
// its code has a bracket; done this way, a value never cuts the escaping of
// a block in two, which costs more than the copy.
constexpr std::size_t kStageChunk = 2048;
// A block adds less than 128 + 8 bytes past the chunk: its own, four more
// for each of its values, and a code whose name runs on into the next
// block. Stores reach a vector past that, and escaping reads three vectors
// past it.
constexpr std::size_t kStageSize = kStageChunk + 128 + 8 + 3 * V::kWidth;

// Escapes [stage, stage_end) to out; returns the end of what it wrote.
inline char* escape_stage(const char* stage, const char* stage_end, char* out) {
  constexpr std::size_t W = V::kWidth;
  for (const char* block = stage; block < stage_end; block += W) {
    const typename V::vec v = V::load(block);
    // The stage past its end holds no text: its bytes are masked off.
    const std::size_t whole =
        smaller(static_cast<std::size_t>(stage_end - block), W);
    const mask_t brackets = (V::eq(v, '<') | V::eq(v, '>')) & low_bits(whole);
    if (brackets == 0) {
      V::store(out, v);
      out += whole;
    } else {
      out = put_escaped<V>(v, block, brackets, 0, whole, out);
    }
  }
  return out;
}

ZORBU_KERNEL inline text_positions convert_text_staged(
    const char* p, const char* end, const char* readable_end, char* out,
    bool first_key, bool last) {
  constexpr std::size_t W = V::kWidth;
  char tail[kTail];
  alignas(64) char stage[kStageSize];
  char* s = stage;
  const char* from = p;  // as in convert_text
  std::size_t done = 0;
  while (p + done < end) {
    const text_block next = next_block(p, done, end, readable_end, tail);
    const char* const block = next.at;
    const typename V::vec v = next.v;
    const std::size_t whole = next.whole;
    mask_t equals = V::eq(v, '=') & low_bits(whole);
    if (equals == 0 && done == 0 && whole == W) {
      // A block without values, common outside markup, is escaped
      // straight out, after what is staged.
      if (s != stage) {
        out = escape_stage(stage, s, out);
        s = stage;
      }
      out = escape_stage(block, block + W, out);
      done = W;
    } else {
      // Copies the block's bytes from done up to at to the stage.
      const auto copy_to = [&](std::size_t at) {
        V::store(s, V::load(block + done));
        s += at - done;
        done = at;
      };
      while (equals != 0) {
        const char* const sign = p + count_zeros(equals);
        equals &= equals - 1;
        if (!is_key(sign, from, end, first_key)) continue;
        const char* const after = sign + 1;
        copy_to(static_cast<std::size_t>(after - p));
        if (!last && static_cast<std::size_t>(end - after) < 1 + kLongestName) {
          // The value is not all here: the caller goes on from the '='.
          return {after, escape_stage(stage, s, out), first_key, true};
        }
        first_key = false;
        // A first key at the very end of the text has no value.
        if (after == end) break;
        // Unescaped: the stage is escaped whole afterwards.
        from = put_value(after, end, false, s);
        done = static_cast<std::size_t>(from - p);
      }
      if (done < whole) copy_to(whole);
    }
    p += whole;
    done -= whole;
    if (static_cast<std::size_t>(s - stage) >= kStageChunk) {
      out = escape_stage(stage, s, out);
      s = stage;
    }
  }
  return {p + done, escape_stage(stage, s, out), first_key, false};
}

inline text_positions convert_text(const char* p, const char* end,
                                   const char* readable_end, char* out,
                                   bool escape, bool first_key, bool last) {
  // Targets that escape a bracket a step at a time split a block's escaping
  // at little cost, and gain nothing from a stage.
  if constexpr (has_put_escaped<V> || has_put_escaped_from<V>) {
    if (escape) {
      return convert_text_staged(p, end, readable_end, out, first_key, last);
    }
  }
  return convert_unstaged(p, end, readable_end, out, escape, first_key, last);
}
