// The kernels written once over a vector type V, which a target's folder
// supplies with its width and these operations:
//   V::runs_here() -> bool              the processor has what V uses;
//   V::kWidth                           bytes in a vector;
//   V::load(const char*) -> V::vec      an unaligned load;
//   V::store(char*, V::vec)             an unaligned store;
//   V::eq(V::vec, char) -> mask_t       bit i set where byte i equals c;
// and may supply
//   V::put_escaped(V::vec, brackets, count, out) -> out
//                                       the first count bytes written out
//                                       with the bytes at brackets as three,
//   or V::put_escaped_from(V::vec, brackets, from, count, out) -> out
//                                       the same for count bytes from byte
//                                       `from` on, brackets counted from
//                                       there,
// where the target has a way to do it without a step for each bracket.
// Each target includes this file inside a namespace of its own, so that
// nothing built with one instruction set is shared with another; and the
// code calls no standard library templates at run time, which would be.

// Never called with no bit set.
inline std::size_t count_zeros(mask_t m) {
  return static_cast<std::size_t>(__builtin_ctzll(m));
}

inline std::size_t smaller(std::size_t a, std::size_t b) {
  return a < b ? a : b;
}

// Writes the escape of a bracket, "{{{" or "}}}", as one four-byte store.
inline void put_bracket(char* out, char c) {
  const auto b =
      static_cast<std::uint32_t>(static_cast<unsigned char>(c) + kBraceStep);
  const std::uint32_t word = b * 0x01010101U;
  std::memcpy(out, &word, sizeof word);
}

inline mask_t low_bits(std::size_t n) {
  return n >= 64 ? ~mask_t{0} : (mask_t{1} << n) - 1;
}

template <class T>
concept has_put_escaped = requires(typename T::vec v, char* out) {
  { T::put_escaped(v, mask_t{}, std::size_t{}, out) } -> std::same_as<char*>;
};

template <class T>
concept has_put_escaped_from = requires(typename T::vec v, std::size_t n,
                                        char* out) {
  { T::put_escaped_from(v, mask_t{}, n, n, out) } -> std::same_as<char*>;
};

// Writes count bytes of the block v, which was loaded from block, from byte
// `from` on, with the bytes at brackets escaped; returns the end of what it
// wrote.
template <class T>
char* put_escaped(typename T::vec v, const char* block, mask_t brackets,
                  std::size_t from, std::size_t count, char* out) {
  brackets = brackets >> from & low_bits(count);
  if constexpr (has_put_escaped_from<T>) {
    return T::put_escaped_from(v, brackets, from, count, out);
  } else {
    // Loaded again rather than shuffled into place: the load does not wait
    // on where the last tag or value ended, only its address does.
    block += from;
    const typename T::vec part = from == 0 ? v : T::load(block);
    if constexpr (has_put_escaped<T>) {
      return T::put_escaped(part, brackets, count, out);
    } else {
      T::store(out, part);
      // Every bracket before this one moved what follows two bytes on: each
      // write's place is known from the bracket's index alone, so the
      // writes do not wait for one another.
      std::size_t shift = 0;
      for (; brackets != 0; brackets &= brackets - 1) {
        const std::size_t at = count_zeros(brackets);
        put_bracket(out + at + shift, block[at]);
        shift += 2;
        T::store(out + at + 1 + shift, T::load(block + at + 1));
      }
      return out + count + shift;
    }
  }
}

// Every colour name again, at a slot that its first and third bytes pick,
// so that a value is checked against the one name it could be with no
// branch on which: each slot holds a name's bytes as a word, the bytes it
// fills, and what it becomes, "#rrggbb" and the closing quote, as a word
// too.
struct hashed_name {
  std::uint64_t bits;
  std::uint64_t mask;
  std::uint64_t replacement;
  std::size_t size;  // 0 for a free slot
};

constexpr std::size_t kSlots = 64;

// A value is matched as one eight-byte word.
constexpr std::size_t kLongestName = kLongestColorName;
static_assert(kLongestName <= 8);

constexpr std::size_t slot_of(unsigned char first, unsigned char third) {
  return (first * 3U + third) % kSlots;
}

// The bytes of text as a word in memory order; at most eight of them.
constexpr std::uint64_t word_of(std::string_view text) {
  std::uint64_t word = 0;
  for (std::size_t b = 0; b < text.size(); ++b) {
    word |= std::uint64_t{static_cast<unsigned char>(text[b])} << (8 * b);
  }
  return std::endian::native == std::endian::little ? word
                                                    : __builtin_bswap64(word);
}

struct name_slots {
  hashed_name slot[kSlots];
};

constexpr name_slots hash_names() {
  name_slots slots{};
  for (std::size_t i = 0; i < color_names.size(); ++i) {
    const std::string_view name = color_names[i];
    hashed_name& s = slots.slot[slot_of(static_cast<unsigned char>(name[0]),
                                        static_cast<unsigned char>(name[2]))];
    // Two names in one slot would make this constant expression fail.
    if (s.size != 0) throw "two colour names share a slot";
    char code[8] = {};
    for (std::size_t b = 0; b < 7; ++b) code[b] = color_codes[i][b];
    code[7] = '"';
    s = {word_of(name),
         word_of(
             std::string_view("\xff\xff\xff\xff\xff\xff\xff\xff", name.size())),
         word_of({code, 8}), name.size()};
  }
  return slots;
}

constexpr name_slots kHashedNames = hash_names();

// Replaces the colour name that starts at p, if any, by its code and
// quote; there must be eight bytes at p, all of them text, and room for
// eight at out.
inline void replace_value(const char*& p, char*& out) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  const hashed_name& s = kHashedNames.slot[slot_of(
      static_cast<unsigned char>(p[0]), static_cast<unsigned char>(p[2]))];
  // All ones on a hit, else zero: what is skipped and written is masked,
  // not branched on, since values are as unpredictable as captions.
  const auto same = static_cast<std::size_t>(((word ^ s.bits) & s.mask) == 0);
  const auto used = static_cast<std::size_t>(s.size != 0);
  const std::size_t hit = 0 - (same & used);
  std::memcpy(out, &s.replacement, sizeof s.replacement);
  out += sizeof s.replacement & hit;
  p += s.size & hit;
}

// The same for a value within eight bytes of the end of the text, at p.
inline void replace_last_value(const char*& p, const char* end, char*& out) {
  // Zero bytes, which no name has, stand for what lies past the end.
  char padded[8] = {};
  std::memcpy(padded, p, static_cast<std::size_t>(end - p));
  const char* value = padded;
  replace_value(value, out);
  p += value - padded;
}

// The key's "color=", whose '=' a value follows one byte on.
constexpr std::size_t kKey = 6;

// Returns true if the '=' at sign ends a key: "color" before it, starting
// at from or later, and for every key but the first, a quote after it,
// before end.
inline bool is_key(const char* sign, const char* from, const char* end,
                   bool first) {
  return static_cast<std::size_t>(sign - from) >= kKey - 1 &&
         std::memcmp(sign - (kKey - 1), "color", kKey - 1) == 0 &&
         (first || (sign + 1 != end && sign[1] == '"'));
}

// Writes the byte after a key's '=', then the value one byte on, replaced
// if it is a colour name that ends by end; returns where the text goes on.
inline const char* put_value(const char* after, const char* end, bool escape,
                             char*& out) {
  // The value starts one byte on, whatever that byte is.
  if (escape && (*after == '<' || *after == '>')) {
    put_bracket(out, *after);
    out += 3;
  } else {
    *out++ = *after;
  }
  const char* value = after + 1;
  if (static_cast<std::size_t>(end - value) >= 8) {
    replace_value(value, out);
  } else {
    replace_last_value(value, end, out);
  }
  return value;
}

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

// A block of the text, as the kernels walk it.
struct text_block {
  const char* at;  // where it is read from: the text, or a padded copy
  typename V::vec v;
  std::size_t whole;  // how many of its bytes come before the text's end
};

// Moves p over the blocks that done has covered, which leaves p + done as
// it was, and returns the block at p; p + done must be before end.
inline text_block next_block(const char*& p, std::size_t& done, const char* end,
                             const char* readable_end, char* tail) {
  constexpr std::size_t W = V::kWidth;
  for (; done >= W; done -= W) p += W;
  const char* const at = block_at(p, end, readable_end, tail);
  return {at, V::load(at), smaller(static_cast<std::size_t>(end - p), W)};
}

ZORBU_KERNEL inline text_positions convert_unstaged(const char* p,
                                                    const char* end,
                                                    const char* readable_end,
                                                    char* out, bool escape,
                                                    bool first, bool last) {
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
    // Writes the block's bytes from done up to at.
    const auto put_to = [&](std::size_t at) {
      const std::size_t count = at - done;
      out = put_escaped<V>(v, block, brackets, done, count, out);
      done = at;
    };
    while (equals != 0) {
      const char* const sign = p + count_zeros(equals);
      equals &= equals - 1;
      if (!is_key(sign, from, end, first)) continue;
      const char* const after = sign + 1;
      put_to(static_cast<std::size_t>(after - p));
      if (!last && static_cast<std::size_t>(end - after) < 1 + kLongestName) {
        // The value is not all here: the caller goes on from the '='.
        return {after, out, first, true};
      }
      first = false;
      // A first key at the very end of the text has no value.
      if (after == end) break;
      from = put_value(after, end, escape, out);
      done = static_cast<std::size_t>(from - p);
    }
    if (done < whole) put_to(whole);
    p += whole;
    done -= whole;
  }
  return {p + done, out, first, false};
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

ZORBU_KERNEL inline text_positions convert_text_staged(const char* p,
                                                       const char* end,
                                                       const char* readable_end,
                                                       char* out, bool first,
                                                       bool last) {
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
        if (!is_key(sign, from, end, first)) continue;
        const char* const after = sign + 1;
        copy_to(static_cast<std::size_t>(after - p));
        if (!last && static_cast<std::size_t>(end - after) < 1 + kLongestName) {
          // The value is not all here: the caller goes on from the '='.
          return {after, escape_stage(stage, s, out), first, true};
        }
        first = false;
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
  return {p + done, escape_stage(stage, s, out), first, false};
}

// What closes a segment, "</time>", as a word in memory order.
constexpr std::size_t kCloseSize = 7;
constexpr std::uint64_t kCloseWord = word_of("</time>");

// The longest time tag that rewrite_body writes itself, and what it may
// read from the tag's start to find and copy one.
constexpr std::size_t kPlainTag = 64;
constexpr std::size_t kTagReach = 2 * kPlainTag + 2 * V::kWidth;
static_assert(kTagReach <= kReadAhead && kTail <= kReadAhead);

// Returns where a time tag that stands plainly at c, at the start of a
// line, closes: "<time" and then ' ', '/' or '>', closed by a '>' before
// the line's end and before end, kPlainTag bytes long at most; `<time/`
// only as `<time/>`. Returns nullptr for anything else, left to the caller.
inline const char* plain_tag_close(const char* c, const char* end,
                                   const char* readable_end) {
  constexpr std::size_t W = V::kWidth;
  if (static_cast<std::size_t>(readable_end - c) < kTagReach ||
      static_cast<std::size_t>(end - c) < 6 ||
      std::memcmp(c + 1, "time", 4) != 0) {
    return nullptr;
  }
  const char next = c[5];
  if (next != ' ' && next != '/' && next != '>') return nullptr;
  const std::size_t limit =
      smaller(static_cast<std::size_t>(end - c), kPlainTag);
  for (std::size_t at = 5; at < limit; at += W) {
    const typename V::vec v = V::load(c + at);
    const mask_t stops =
        (V::eq(v, '>') | V::eq(v, '\n')) & low_bits(limit - at);
    if (stops == 0) continue;
    const char* const close = c + at + count_zeros(stops);
    if (*close != '>' || (next == '/' && close != c + 6)) return nullptr;
    return close;
  }
  return nullptr;
}

ZORBU_KERNEL inline void rewrite_body(body_scan& b, const char* end,
                                      const char* readable_end) {
  constexpr std::size_t W = V::kWidth;
  char tail[kTail];
  const char* const start = b.in;
  const char* p = start;
  char* out = b.out;
  bool first = b.first;
  // The scan's fields live in locals while bytes are written: a write
  // through a char pointer may alias them.
  const char* text = b.text;
  char* text_out = b.text_out;
  const char* tag_line = nullptr;
  const char* from = p;  // where a key may start
  std::size_t done = 0;  // as in convert_text
  mask_t r_before = 0;   // the last block ended in an 'r'
  while (p + done < end) {
    const text_block next = next_block(p, done, end, readable_end, tail);
    const char* const block = next.at;
    const typename V::vec v = next.v;
    std::size_t whole = next.whole;
    const mask_t opens = V::eq(v, '<');
    const mask_t brackets = opens | V::eq(v, '>');
    // Nothing past the end of the text counts.
    const mask_t open = low_bits(whole);
    // Only an '=' after an 'r' can end "color"; other attributes' '=' are
    // passed over without a branch on each.
    const mask_t rs = V::eq(v, 'r');
    mask_t equals = V::eq(v, '=') & (rs << 1 | r_before) & open;
    r_before = rs >> (W - 1);
    mask_t tags = opens & V::eq(V::load(block + 1), 't') & open;
    // A whole block of plain text, common outside captions, is worth a
    // branch of its own.
    if ((brackets | equals | tags) == 0 && done == 0 && whole == W) {
      V::store(out, v);
      out += W;
      p += W;
      continue;
    }
    const auto put_to = [&](std::size_t at) {
      const std::size_t count = at - done;
      out = put_escaped<V>(v, block, brackets, done, count, out);
      done = at;
    };
    while ((equals | tags) != 0) {
      const std::size_t next_key = count_zeros(equals | (mask_t{1} << 63));
      const std::size_t next_tag = count_zeros(tags | (mask_t{1} << 63));
      if (next_key < next_tag || tags == 0) {
        const char* const sign = p + next_key;
        equals &= equals - 1;
        if (!is_key(sign, from, end, first)) continue;
        const char* const after = sign + 1;
        put_to(static_cast<std::size_t>(after - p));
        first = false;
        if (after == end) break;
        // A value that a time tag may cut short waits for the tag to be
        // decided: if it ends the segment, there is none; if not, no colour
        // name starts "ti".
        if (*after == '<' && std::memcmp(after + 1, "time", 4) == 0) continue;
        from = put_value(after, end, true, out);
        done = static_cast<std::size_t>(from - p);
        continue;
      }
      const char* const c = p + next_tag;
      tags &= tags - 1;
      // A '<' that a key's '=' came just before is written already.
      if (c < p + done) continue;
      const char* const close = c > start && c[-1] == '\n'
                                    ? plain_tag_close(c, end, readable_end)
                                    : nullptr;
      put_to(static_cast<std::size_t>(c - p));
      if (close == nullptr) {
        b = {c, out, text, text_out, tag_line, first, true};
        return;
      }
      // The segment before the tag ends, if it has any text; the tag opens
      // the next one, written with '>' for a closing "/>".
      if (c > text) {
        std::memcpy(out, &kCloseWord, sizeof kCloseWord);
        out += kCloseSize;
      }
      const auto size = static_cast<std::size_t>(close - c) + 1;
      for (std::size_t k = 0; k < size; k += W) {
        V::store(out + k, V::load(c + k));
      }
      const bool self_closing = close[-1] == '/';
      out += size - (self_closing ? 1 : 0);
      out[-1] = '>';
      text = close + 1;
      text_out = out;
      tag_line = c;
      first = true;
      from = close + 1;
      // The block ends with the tag, and the next one starts just past it,
      // rather than the rest of this one being written in a second, shorter
      // run: a run's length decides how many steps its escaping takes, and
      // mispredicting that costs more than the load that waits for the
      // tag's end. Nothing in the tag is looked at again.
      whole = done = static_cast<std::size_t>(close + 1 - p);
      r_before = 0;
      break;
    }
    if (done < whole) put_to(whole);
    p += whole;
    done -= whole;
  }
  b = {p + done, out, text, text_out, tag_line, first, false};
}

inline bool rest_is(const char* at, const char* end, std::string_view name) {
  if (static_cast<std::size_t>(end - at) < name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (at[i] != name[i]) return false;
  }
  return true;
}

inline const char* find_tag_start(const char* p, const char* end,
                                  std::string_view name) {
  constexpr std::size_t W = V::kWidth;
  // '<' and the name's first byte side by side, W places at a time.
  while (static_cast<std::size_t>(end - p) >= W + 1) {
    mask_t pairs = V::eq(V::load(p), '<') & V::eq(V::load(p + 1), name[0]);
    for (; pairs != 0; pairs &= pairs - 1) {
      const char* const at = p + count_zeros(pairs);
      if (rest_is(at + 1, end, name)) return at;
    }
    p += W;
  }
  for (; p < end; ++p) {
    if (*p == '<' && rest_is(p + 1, end, name)) return p;
  }
  return end;
}

inline text_positions convert_text(const char* p, const char* end,
                                   const char* readable_end, char* out,
                                   bool escape, bool first, bool last) {
  // Targets that escape a bracket a step at a time split a block's escaping
  // at little cost, and gain nothing from a stage.
  if constexpr (has_put_escaped<V> || has_put_escaped_from<V>) {
    if (escape) {
      return convert_text_staged(p, end, readable_end, out, first, last);
    }
  }
  return convert_unstaged(p, end, readable_end, out, escape, first, last);
}

inline constexpr kernels kKernels = {kName, &V::runs_here, &convert_text,
                                     &rewrite_body, &find_tag_start};
