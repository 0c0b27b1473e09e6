// Rewriting body lines in one pass: text converted, plain time tags
// written as opening tags.
// Part of the kernels written once over a vector type V: included by
// generic/kernels.hpp, inside each target's own namespace.
#pragma once

// Where a run of text without keys or tags ends, and its output.
struct text_run {
  const char* in;
  char* out;
};

// Writes the whole blocks from p on, before end, that have no key or tag
// candidate, up to the first that has; they must be far from the end of
// the text, as the body kernel's far blocks are. Blocks with no '=', '<' or
// '>', most of plain text, are told by one test where the target has it,
// and those with brackets alone are escaped. Kept out of line, so that the
// body kernel's loop keeps its registers for the blocks that captions and
// markup are made of.
[[gnu::noinline]] inline text_run put_text_run(const char* p, const char* end,
                                               char* out) {
  constexpr std::size_t W = V::kWidth;
  for (; p < end; p += W) {
    // Plain blocks in a loop of their own, which makes no masks.
    while (none_of<V>(V::load(p), '=', '<', '>')) {
      V::store(out, V::load(p));
      out += W;
      p += W;
      if (p >= end) return {p, out};
    }
    const typename V::vec v = V::load(p);
    if (eq_or_pair<V>(v, '=', '<', V::load(p + 1), 't') != 0) break;
    out = put_escaped<V>(v, p, either_eq<V>(v, '<', '>'), 0, W, out);
  }
  return {p, out};
}

// How a block's walk ended.
enum class walked { plain, written, at_tag };

// The walk of a run of body lines, a block at a time. Its state is the body
// kernel's locals, which it refers to, and its methods are forced inline:
// so the state stays in registers, where the same walk with the state in
// the struct itself, measured on GCC 12, ran 5.6% more instructions on
// untagged text with the portable kernels, 3.6% on captions, and 2% on
// captions with SSE2.
struct body_walk {
  body_scan& b;
  const char* const start;
  const char* const end;
  const char* const tags_end;
  char* const escaped;  // room for a block escaped whole
  const char*& p;
  // The bytes of the block at p that are written already: a value or a
  // tag that ran on from the block before.
  std::size_t& done;
  char*& out;
  bool& first_key;
  bool& has_text;
  const char*& text;  // where the open segment's text began here
  const char*& tag_line;
  const char*& from;  // where a key may start

  // Walks one block, read and classified once. Its keys cut it into pieces
  // of text, written escaped in order between the values replaced; a time
  // tag ends the block, and the next starts past it. A far block, as nearly
  // all are, is walked with its size known and no test for the end of the
  // text.
  template <bool Far>
  [[gnu::always_inline]] walked walk_block(const text_block& block) {
    // Keys cut at their '=', and time tags at their '<': a block with
    // neither brackets nor '=' is plain. A target that joins the two tests
    // before making a mask of them finds the cuts at once; another finds
    // the tags only in blocks that are not plain.
    const mask_t brackets = either_eq<V>(block.v, '<', '>') & block.text;
    const auto keys_and_tags = [&] {
      return eq_or_pair<V>(block.v, '=', '<', V::load(block.at + 1), 't') &
             block.text;
    };
    mask_t cuts =
        has_eq_or_pair<V> ? keys_and_tags() : V::eq(block.v, '=') & block.text;
    if ((brackets | cuts | done) == 0) {
      V::store(out, block.v);
      out += block.whole;
      p += block.whole;
      return walked::plain;
    }
    if constexpr (!has_eq_or_pair<V>) cuts = keys_and_tags();
    // Nothing written already is cut again; done is below the width.
    cuts = cuts >> done << done;
    if ((cuts | done) == 0) {
      out = put_escaped<V>(block.v, block.at, brackets, 0, block.whole, out);
      p += block.whole;
      return walked::written;
    }
    // A block whose first cut is a tag (a cut at a bracket), as most are in
    // captions, is escaped up to it where it stands; with nothing written
    // already, there is a cut. Copying the text instead where it has no
    // bracket saves instructions, but the branch costs captions more time
    // than they save.
    if (done == 0) {
      const std::size_t first_cut = count_zeros(cuts);
      if ((brackets >> first_cut & 1) != 0) {
        return put_tag(
            p + first_cut,
            put_escaped<V>(block.v, block.at, brackets, 0, first_cut, out));
      }
    }
    return walk_cuts<Far>(block, brackets, cuts);
  }

  // Writes a block with cuts in it piece by piece: the text between them
  // escaped, each key's value replaced, up to the first tag.
  template <bool Far>
  [[gnu::always_inline]] walked walk_cuts(const text_block& block,
                                          mask_t brackets, mask_t cuts) {
    block_pieces pieces{block, brackets, escaped, done};
    pieces.escape_whole();
    while (cuts != 0) {
      const std::size_t at = count_zeros(cuts);
      cuts &= cuts - 1;
      const char* const c = p + at;
      if (*c != '=') return put_tag(c, pieces.put_to(at, out));
      if (!is_key(c, from, Far ? nullptr : end, first_key)) continue;
      // Nothing that a first key's value covered is cut again.
      if (put_key<Far>(c, at, pieces)) cuts &= ~low_bits(pieces.done);
    }
    if (pieces.done <= block.whole) {
      out = pieces.put_rest(out);
      p += block.whole;
      done = 0;
      return walked::written;
    }
    // A value may run on into the blocks after.
    for (done = pieces.done; done >= V::kWidth; done -= V::kWidth) {
      p += V::kWidth;
    }
    return walked::written;
  }

  // Writes the pieces of the block before the key's '=' at c, `at` bytes
  // in, the '=' and the key's value. Returns true when it wrote a first
  // key's value, which later cuts of the block may fall in. The loop over
  // cuts tells keys from other '=' itself: with that test in here, the
  // portable kernels on aarch64 ran 2-3% more instructions.
  template <bool Far>
  [[gnu::always_inline]] bool put_key(const char* c, std::size_t at,
                                      block_pieces& pieces) {
    out = pieces.put_to(at + 1, out);
    const char* const after = c + 1;
    if (!first_key) {
      // The key's quote, and the value after it, neither a bracket.
      from = put_value<Far>(after, end, false, out);
      pieces.skip_plain_to(static_cast<std::size_t>(from - p));
      return false;
    }
    // A value that starts at or past end is decided once the run is
    // walked; the key stays the first meanwhile.
    if (!Far && end - after <= 1) return false;
    first_key = false;
    // A value that a time tag may cut short waits for the tag to be
    // decided: if it ends the segment, there is none; if not, no colour
    // name starts "ti". Near the end, "<time" is looked for only where it
    // fits before end: the text ends there, and past it may not be read.
    if (*after == '<' &&
        (Far || static_cast<std::size_t>(end - after) >= kAfterName) &&
        std::memcmp(after + kNameAt, kTimeTag.data(), kTimeTag.size()) == 0) {
      return false;
    }
    from = put_value<Far>(after, end, true, out);
    pieces.skip_to(static_cast<std::size_t>(from - p));
    return true;
  }

  // Writes the time tag at c, whose text before it ends at tag_out, as an
  // opening tag, ending its line's segment and starting the next, whose
  // text the next block starts; at_tag when the tag is left to the caller.
  [[gnu::always_inline]] walked put_tag(const char* c, char* tag_out) {
    const bool segment_has_text = has_text || c > text;
    const written_tag tag =
        c > start ? put_plain_tag(c, tags_end, segment_has_text, tag_out)
                  : written_tag{nullptr, tag_out};
    if (tag.close == nullptr) {
      b = {c, tag_out, tag_line, first_key, segment_has_text, true};
      return walked::at_tag;
    }
    out = tag.out;
    p = text = from = tag.close + 1;
    done = 0;
    tag_line = c;
    first_key = true;
    has_text = false;
    return walked::written;
  }

  // Ends the run where the walk stopped short of a tag, and writes its
  // state to the scan. A first key whose '=' ends the text, or stands one
  // byte before its end, was passed over by the walk: its value starts past
  // end, on the next line, which the caller decides; one past the very end
  // is none. Told here rather than in the walk, where a flag would cost
  // every block a register.
  [[gnu::always_inline]] void end_run() {
    bool value_at_end = false;
    if (first_key && end - from >= 2 && is_first_key_at(end - 2, from)) {
      first_key = false;
      value_at_end = true;
    } else if (first_key && end > from && is_first_key_at(end - 1, from)) {
      first_key = false;
    }
    b.in = p + done;
    b.out = out;
    b.tag_line = tag_line;
    b.first_key = first_key;
    b.has_text = has_text || p + done > text;
    b.at_tag = false;
    b.value_at_end = value_at_end;
  }
};

// Rewrites a run of body lines, as kernels::rewrite_body says.
ZORBU_KERNEL inline void rewrite_body(body_scan& b, const char* end,
                                      const char* readable_end) {
  constexpr std::size_t W = V::kWidth;
  char tail[kTail];
  alignas(64) char escaped[kEscapeOnce ? kEscapedBlock : 1];
  const char* const start = b.in;
  const char* p = start;
  std::size_t done = 0;
  // The scan's fields live in locals while bytes are written: a write
  // through a char pointer may alias them.
  char* out = b.out;
  bool first_key = b.first_key;
  bool has_text = b.has_text;
  const char* text = start;
  const char* tag_line = nullptr;
  const char* from = start;
  body_walk walk{.b = b,
                 .start = start,
                 .end = end,
                 .tags_end = plain_tags_end(p, end, readable_end),
                 .escaped = escaped,
                 .p = p,
                 .done = done,
                 .out = out,
                 .first_key = first_key,
                 .has_text = has_text,
                 .text = text,
                 .tag_line = tag_line,
                 .from = from};
  const char* const whole_end = whole_blocks_end(p, end, readable_end);
  // A block that starts before this is read where it stands, and any value
  // in it, with the byte before it, lies before end.
  const char* const far_end =
      reach_end(p, end, readable_end, W + 2 + 8 * kNameWords, kTail);
  // Blocks far from the end first, then the rest, which may be copied to
  // be read. The loops are apart so that the far one calls out only for a
  // tag or a run of text, and keeps its registers. Two plain blocks in a
  // row start a run of text.
  for (bool after_plain = false; p < far_end;) {
    const walked w = walk.walk_block<true>({p, V::load(p), W, ~mask_t{0}});
    if (w == walked::at_tag) return;
    const bool plain = w == walked::plain;
    if (has_none_of<V> && plain && after_plain) {
      const text_run run = put_text_run(p, far_end, out);
      p = run.in;
      out = run.out;
    }
    after_plain = plain;
  }
  while (p + done < end) {
    if (walk.walk_block<false>(block_from(p, whole_end, end, readable_end,
                                          tail)) == walked::at_tag) {
      return;
    }
  }
  walk.end_run();
}
