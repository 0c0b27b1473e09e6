// The byte-scanning kernels of the hot path, built once per instruction set
// from one generic source, and the choice among them, made once at start-up
// from what the processor can do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace zorbu::simd {

// Which of the two kinds of rt text a piece is: the first line, whose
// brackets are markup and stay, or timed text, whose brackets are escaped.
enum class text_kind : std::uint8_t { markup, timed_text };

// Whether a piece ends its text, or more of the text comes after it.
enum class text_end : std::uint8_t { more_to_come, last };

struct text_positions {
  const char* in;
  char* out;
  bool first_key;  // the first key is still to come
  bool at_value;   // in is just past a key's '=', whose value is not all here
};

// Where a rewrite of body lines stands.
struct body_scan {
  const char* in;        // where to go on from
  char* out;             // where output goes on
  const char* tag_line;  // the line of the last tag written, or nullptr
  bool first_key;        // the segment's first colour key is still to come
  bool has_text;         // the open segment has text, which a tag closes
  bool at_tag;           // in is at a '<' left to the caller
  // The first key's value starts at end: a first "color=" ended the text
  // with one byte after its '=', so its value is on the line that follows.
  bool value_at_end = false;
};

// The most that a kernel writes past the end of what it reports written.
inline constexpr std::size_t kOutputSlack = 128;

// How much past the end of its text a kernel wants to be let read, to go at
// full speed: it copies blocks near the end otherwise, and leaves time tags
// there to its caller.
inline constexpr std::size_t kReadAhead = 256;

struct kernels {
  std::string_view name;
  // Returns true when this processor has every instruction they use.
  bool (*runs_here)();
  // Converts [p, end) to out: each colour key's value replaced, and, in
  // timed text, '<' and '>' escaped as "{{{" and "}}}". first_key says that
  // the first key, "color=" with or without a quote after it, is still to
  // come; every later key is `color="`. A key must start at p or later.
  // text_end::last says that the text ends at end; otherwise it stops just
  // past the '=' of a key whose value needs bytes from end on. Returns
  // where it stopped in both, and whether the first key is still to come.
  // May read, but does not use, the bytes from end to readable_end, and may
  // write kOutputSlack bytes past the returned out.
  text_positions (*convert_text)(const char* p, const char* end,
                                 const char* readable_end, char* out,
                                 text_kind kind, bool first_key,
                                 text_end ending);
  // Rewrites body lines from scan.in up to end, in one pass: segment text
  // converted as convert_text does in text mode, taking end as the end of
  // the text, and each time tag that stands plainly at the start of a line
  // after scan.in written as an opening tag, with "</time>" first when the
  // open segment has text. Stops at end, or at any other '<' that a 't'
  // follows, which is left to the caller. The caller ends the text after a
  // newline, where no later byte can change it but the first key's value,
  // which the byte after its '=' can put past the newline: then the scan
  // ends with value_at_end, and the caller decides the value. Reads and
  // writes as convert_text does.
  void (*rewrite_body)(body_scan& scan, const char* end,
                       const char* readable_end);
};

// The kernels built for this architecture: the portable ones first, then
// each wider set; the last is the widest. Not every processor runs them all.
std::span<const kernels> built_kernels() noexcept;

// Returns the kernels this processor runs best; the same on every call.
const kernels& best_kernels() noexcept;

// Returns the built set of that name if this processor runs it; nullptr
// when it is not built here or the processor lacks an instruction it uses.
const kernels* kernels_named(std::string_view name) noexcept;

}  // namespace zorbu::simd
