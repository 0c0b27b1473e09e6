// Rewriting body lines in one pass: text converted, plain time tags
// written as opening tags.
// Part of the kernels written once over a vector type V: included by
// generic/kernels.hpp, inside each target's own namespace.
#pragma once

// What closes a segment, "</time>", as a word in memory order.
constexpr std::size_t kCloseSize = kCloseTime.size();
static_assert(kCloseSize <= 8,
              "the kernels write what closes a segment as one word");
constexpr std::uint64_t kCloseWord = word_of(kCloseTime);
static_assert(kTimeTag.size() == 4,
              "the kernels compare a time tag's name as one word");

// The longest time tag that rewrite_body writes itself, and what it may
// read from the tag's start to find and copy one.
constexpr std::size_t kPlainTag = 64;
constexpr std::size_t kTagReach = 2 * kPlainTag + 2 * V::kWidth;
static_assert(kTagReach <= kReadAhead && kTail <= kReadAhead);

// Returns where a time tag that stands plainly at c, at the start of a
// line, closes: "<time" and then ' ', '/' or '>', closed by a '>' before
// the line's end, kPlainTag bytes long at most; `<time/` only as `<time/>`.
// Returns nullptr for anything else, left to the caller. Only a tag that
// starts before tags_end, as plain_tags_end gave it, is looked at.
inline const char* plain_tag_close(const char* c, const char* tags_end) {
  constexpr std::size_t W = V::kWidth;
  if (c >= tags_end || std::memcmp(c + 1, kTimeTag.data(), 4) != 0) {
    return nullptr;
  }
  const char next = c[5];
  if (next != ' ' && next != '/' && next != '>') return nullptr;
  for (std::size_t at = 5; at < kPlainTag; at += W) {
    const typename V::vec v = V::load(c + at);
    const mask_t stops = either_eq<V>(v, '>', '\n') & low_bits(kPlainTag - at);
    if (stops == 0) continue;
    const char* const close = c + at + count_zeros(stops);
    if (*close != '>' || (next == '/' && close != c + 6)) return nullptr;
    return close;
  }
  return nullptr;
}

// Returns where the tags that plain_tag_close looks at end, for text up to
// end that may be read up to readable_end, from p on: a tag before it has
// kPlainTag bytes of text, and kTagReach bytes to read.
inline const char* plain_tags_end(const char* p, const char* end,
                                  const char* readable_end) {
  return reach_end(p, end, readable_end, kPlainTag, kTagReach);
}

ZORBU_KERNEL inline void rewrite_body(body_scan& b, const char* end,
                                      const char* readable_end) {
  constexpr std::size_t W = V::kWidth;
  char tail[kTail];
  const char* const start = b.in;
  const char* p = start;
  char* out = b.out;
  bool first_key = b.first_key;
  // The scan's fields live in locals while bytes are written: a write
  // through a char pointer may alias them.
  const char* text = b.text;
  char* text_out = b.text_out;
  const char* tag_line = nullptr;
  const char* from = p;  // where a key may start
  const char* const whole_end = whole_blocks_end(p, end, readable_end);
  const char* const tags_end = plain_tags_end(p, end, readable_end);
  // Every block starts where the text still to write starts: a block ends
  // at the first key or tag in it, and the next one starts past it. So
  // each run of text is escaped from the start of a block, where its bytes
  // are in registers, and a run's length alone decides how many steps its
  // escaping takes.
  while (p < end) {
    const text_block read = block_from(p, whole_end, end, readable_end, tail);
    const char* const block = read.at;
    const typename V::vec v = read.v;
    const std::size_t whole = read.whole;
    const mask_t brackets = either_eq<V>(v, '<', '>');
    // Nothing past the end of the text counts.
    const mask_t open = read.text;
    mask_t equals = V::eq(v, '=') & open;
    mask_t tags = pair_eq<V>(v, '<', V::load(block + 1), 't') & open;
    // A whole block of plain text, common outside captions, is worth a
    // branch of its own.
    if ((brackets | equals | tags) == 0 && whole == W) {
      V::store(out, v);
      out += W;
      p += W;
      continue;
    }
    // Where the next block starts: past this one, or past the first key
    // or tag in it. No '=' or '<' in this block counts after that.
    const char* next = nullptr;
    while ((equals | tags) != 0) {
      const std::size_t next_key = count_zeros(equals | (mask_t{1} << 63));
      const std::size_t next_tag = count_zeros(tags | (mask_t{1} << 63));
      if (next_key < next_tag || tags == 0) {
        const char* const sign = p + next_key;
        equals &= equals - 1;
        if (!is_key(sign, from, end, first_key)) continue;
        const char* const after = sign + 1;
        out = put_escaped<V>(v, block, brackets, 0,
                             static_cast<std::size_t>(after - p), out);
        first_key = false;
        next = after;
        // A value that a time tag may cut short waits for the tag to be
        // decided: if it ends the segment, there is none; if not, no colour
        // name starts "ti". A first key at the very end has none either.
        if (after == end || (*after == '<' &&
                             std::memcmp(after + 1, kTimeTag.data(), 4) == 0)) {
          break;
        }
        next = from = put_value(after, end, true, out);
        break;
      }
      const char* const c = p + next_tag;
      const char* const close =
          c > start && c[-1] == '\n' ? plain_tag_close(c, tags_end) : nullptr;
      out = put_escaped<V>(v, block, brackets, 0,
                           static_cast<std::size_t>(c - p), out);
      if (close == nullptr) {
        b = {c, out, text, text_out, tag_line, first_key, true};
        return;
      }
      // The segment before the tag ends, if it has any text; the tag opens
      // the next one, written with '>' for a closing "/>".
      if (c > text) {
        std::memcpy(out, &kCloseWord, sizeof kCloseWord);
        out += kCloseSize;
      }
      const auto size = static_cast<std::size_t>(close - c) + 1;
      // One store copies any tag written here, where blocks are that wide.
      std::size_t k = 0;
      do {
        V::store(out + k, V::load(c + k));
        k += W;
      } while (W < kPlainTag && k < size);
      const bool self_closing = close[-1] == '/';
      out += size - (self_closing ? 1 : 0);
      out[-1] = '>';
      text = close + 1;
      text_out = out;
      tag_line = c;
      first_key = true;
      next = from = close + 1;
      break;
    }
    if (next == nullptr) {
      out = put_escaped<V>(v, block, brackets, 0, whole, out);
      next = p + whole;
    }
    p = next;
  }
  b = {p, out, text, text_out, tag_line, first_key, false};
}
