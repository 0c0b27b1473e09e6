// Converting text: colour values replaced, brackets escaped.
// Part of the kernels written once over a vector type V: included by
// generic/kernels.hpp, inside each target's own namespace.
#pragma once

// Reads the whole block at p, and its '=', into block and equals; returns
// true when the sink may put it whole, with neither a key nor a stop in it.
template <class Sink>
ZORBU_KERNEL inline bool read_whole(const char* p, text_block& block,
                                    mask_t& equals, Sink& sink) {
  block = {p, V::load(p), V::kWidth, low_bits(V::kWidth)};
  equals = V::eq(block.v, '=');
  return (sink.stops(block.v) | equals) == 0;
}

// Puts whole blocks without a key, the bulk of most text, from the one read
// at p, in a loop of their own: with nothing else in it, it keeps its
// constants and pointers in registers. Returns with p at the first block
// it did not put, which is read into block and equals unless p reached
// whole_end.
template <class Sink>
ZORBU_KERNEL inline void put_whole_run(const char*& p, const char* whole_end,
                                       text_block& block, mask_t& equals,
                                       Sink& sink) {
  sink.start_whole();
  do {
    sink.put_whole(p, block.v);
    p += V::kWidth;
    // Blocks with no '=', '<' or '>', most of plain text, are told by one
    // test where the target has it, and copied.
    while (has_none_of<V> && p < whole_end &&
           none_of<V>(V::load(p), '=', '<', '>')) {
      sink.copy_whole(V::load(p));
      p += V::kWidth;
    }
  } while (p < whole_end && read_whole(p, block, equals, sink));
}

// Walks text a block at a time and hands each part of it to a sink: the
// bytes between colour values, and each value after its key's '='. The sink
// supplies
//   stops(v) -> mask                          bytes besides keys that a
//                                             whole block may not be put
//                                             for; v is the block now;
//   start_whole()                             whole blocks come next;
//   put_whole(at, v)                          a whole block without them;
//   copy_whole(v)                             one with no '<' or '>' either;
//   put(block, done, at)                      the block's bytes [done, at);
//   value(after, end) -> end of the value     a colour value, after its '=';
//   end_block()                               a block is done;
//   finish() -> out                           the end of all it wrote.
template <class Sink>
ZORBU_KERNEL inline text_positions walk_values(const char* p, const char* end,
                                               const char* readable_end,
                                               bool first_key, bool last,
                                               Sink& sink) {
  char tail[kTail];
  // A key must start here or later: at the start, or where the last value
  // began.
  const char* from = p;
  // The bytes of the block before this one are done; a value that ran
  // past the last block leaves it above zero.
  std::size_t done = 0;
  // Only a whole block may be read where it stands.
  const char* const whole_end = whole_blocks_end(p, end, readable_end);
  while (p + done < end) {
    text_block block;
    mask_t equals;
    if (done == 0 && p < whole_end) {
      if (read_whole(p, block, equals, sink)) {
        put_whole_run(p, whole_end, block, equals, sink);
        // The block that ended the run is read already, unless the run
        // ended near the end.
        if (block.at != p) continue;
      }
    } else {
      block = next_block(p, done, whole_end, end, readable_end, tail);
      // No '=' can stand where done skips: a colour name has none, and one
      // just after a key's '=' has no "color" before it. So which '=' are
      // keys does not wait on the values.
      equals = V::eq(block.v, '=') & block.text;
      sink.stops(block.v);
    }
    while (equals != 0) {
      const char* const sign = p + count_zeros(equals);
      equals &= equals - 1;
      if (!is_key(sign, from, end, first_key)) continue;
      const char* const after = sign + 1;
      sink.put(block, done, static_cast<std::size_t>(after - p));
      // The value is not all here: the caller goes on from the '='.
      if (static_cast<std::size_t>(end - after) < 1 + kLongestName && !last) {
        return {after, sink.finish(), first_key, true};
      }
      first_key = false;
      // A first key at the very end of the text has no value.
      if (after == end) break;
      from = sink.value(after, end);
      done = static_cast<std::size_t>(from - p);
    }
    if (done < block.whole) sink.put(block, done, block.whole);
    p += block.whole;
    done -= block.whole;
    sink.end_block();
  }
  return {p + done, sink.finish(), first_key, false};
}

// Writes text straight out, escaping brackets block by block when asked.
struct unstaged_sink {
  char* out;
  mask_t escaped;       // all ones when brackets are escaped, else zero
  mask_t brackets = 0;  // the current block's, set by stops()

  mask_t stops(typename V::vec v) {
    brackets = either_eq<V>(v, '<', '>') & escaped;
    return brackets;
  }
  void start_whole() {}
  void put_whole(const char*, typename V::vec v) { copy_whole(v); }
  void copy_whole(typename V::vec v) {
    V::store(out, v);
    out += V::kWidth;
  }
  void put(const text_block& block, std::size_t& done, std::size_t at) {
    // Markup keeps its brackets, which a target's own escape takes for
    // brackets to escape.
    if (has_put_escaped_from<V> && escaped == 0) {
      copy_block_to(block, done, at, out);
      return;
    }
    put_block_to(block.v, block.at, brackets, done, at, out);
  }
  const char* value(const char* after, const char* end) {
    return put_value(after, end, escaped != 0, out);
  }
  void end_block() {}
  char* finish() { return out; }
};

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

// Escapes the first `whole` bytes of the block v, loaded from block, to out;
// returns the end of what it wrote. Forced inline: left to itself, GCC 12
// takes the escaping out of line in every kernel, the body kernel's too.
[[gnu::always_inline]] inline char* escape_block(typename V::vec v,
                                                 const char* block,
                                                 std::size_t whole, char* out) {
  const mask_t brackets = either_eq<V>(v, '<', '>') & low_bits(whole);
  if (brackets != 0) return put_escaped<V>(v, block, brackets, 0, whole, out);
  V::store(out, v);
  return out + whole;
}

// Escapes [stage, stage_end) to out; returns the end of what it wrote.
inline char* escape_stage(const char* stage, const char* stage_end, char* out) {
  constexpr std::size_t W = V::kWidth;
  const char* block = stage;
  for (; static_cast<std::size_t>(stage_end - block) >= W; block += W) {
    out = escape_block(V::load(block), block, W, out);
  }
  // The stage past its end holds no text: its bytes are masked off.
  if (block == stage_end) return out;
  return escape_block(V::load(block), block,
                      static_cast<std::size_t>(stage_end - block), out);
}

// Stages text with its values replaced, and escapes the stage a chunk at a
// time; the stage must outlive the sink.
struct staged_sink {
  char* out;
  char* stage;
  char* s = stage;  // the end of what is staged

  mask_t stops(typename V::vec) { return 0; }
  // Blocks without values, common outside markup, are escaped straight
  // out, after what is staged.
  void start_whole() {
    out = escape_stage(stage, s, out);
    s = stage;
  }
  void put_whole(const char* at, typename V::vec v) {
    out = escape_block(v, at, V::kWidth, out);
  }
  // A whole block with no bracket.
  void copy_whole(typename V::vec v) {
    V::store(out, v);
    out += V::kWidth;
  }
  void put(const text_block& block, std::size_t& done, std::size_t at) {
    copy_block_to(block, done, at, s);
  }
  // Unescaped: the stage is escaped whole afterwards.
  const char* value(const char* after, const char* end) {
    return put_value(after, end, false, s);
  }
  void end_block() {
    if (static_cast<std::size_t>(s - stage) < kStageChunk) return;
    out = escape_stage(stage, s, out);
    s = stage;
  }
  char* finish() { return escape_stage(stage, s, out); }
};

inline text_positions convert_text(const char* p, const char* end,
                                   const char* readable_end, char* out,
                                   text_kind kind, bool first_key,
                                   text_end ending) {
  const bool escape = kind == text_kind::timed_text;
  const bool last = ending == text_end::last;
  // Targets that escape a bracket a step at a time split a block's escaping
  // at little cost, and gain nothing from a stage.
  if constexpr (has_put_escaped<V> || has_put_escaped_from<V>) {
    if (escape) {
      alignas(64) char stage[kStageSize];
      staged_sink sink{out, stage};
      return walk_values(p, end, readable_end, first_key, last, sink);
    }
  }
  unstaged_sink sink{out, escape ? ~mask_t{0} : 0};
  return walk_values(p, end, readable_end, first_key, last, sink);
}
