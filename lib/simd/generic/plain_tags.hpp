// Time tags that stand plainly at the start of a line, which the body
// kernel writes itself as opening tags.
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

// Where the name of a tag at c stands, as "<time": at c + 1, and what
// follows it at c + kAfterName.
constexpr std::size_t kNameAt = 1;
constexpr std::size_t kAfterName = kNameAt + kTimeTag.size();

// Returns where a time tag that stands plainly at c, at the start of a
// line, closes: "<time" and then ' ', '/' or '>', closed by a '>' before
// the line's end, kPlainTag bytes long at most; `<time/` only as `<time/>`.
// Returns nullptr for anything else, left to the caller. Only a tag that
// starts before tags_end, as plain_tags_end gave it, is looked at.
inline const char* plain_tag_close(const char* c, const char* tags_end) {
  constexpr std::size_t W = V::kWidth;
  if (c >= tags_end ||
      std::memcmp(c + kNameAt, kTimeTag.data(), kTimeTag.size()) != 0) {
    return nullptr;
  }
  const char next = c[kAfterName];
  if (next != ' ' && next != '/' && next != '>') return nullptr;
  // Read from the tag's start, which "<time" leaves with no stop, as the
  // copy of the tag reads it.
  for (std::size_t at = 0; at < kPlainTag; at += W) {
    const typename V::vec v = V::load(c + at);
    const mask_t stops = either_eq<V>(v, '>', '\n') & low_bits(kPlainTag - at);
    if (stops == 0) continue;
    const char* const close = c + at + count_zeros(stops);
    // A '/' after the name is a tag only as "<time/>".
    if (*close != '>' || (next == '/' && close != c + kAfterName + 1)) {
      return nullptr;
    }
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

// Where a time tag that a body kernel met ends, and its output.
struct written_tag {
  const char* close;  // nullptr for a tag left to the caller
  char* out;
};

// Writes the time tag at c, if it stands plainly at the start of a line,
// as an opening tag, with "</time>" first where close_segment says; c is
// after the scan's start. Forced inline: after a call, the loop over
// blocks would load its constants again, and captions have a tag every
// other line.
[[gnu::always_inline]] inline written_tag put_plain_tag(const char* c,
                                                        const char* tags_end,
                                                        bool close_segment,
                                                        char* out) {
  constexpr std::size_t W = V::kWidth;
  const char* const close =
      c[-1] == '\n' ? plain_tag_close(c, tags_end) : nullptr;
  if (close == nullptr) return {nullptr, out};
  // The segment before the tag ends, if it has any text; the tag opens the
  // next one, written with '>' for a closing "/>".
  if (close_segment) {
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
  return {close, out};
}
