// The byte-scanning kernels of the hot path, built once per instruction set
// from one generic source, and the choice among them, made once at start-up
// from what the processor can do.
#pragma once

#include <span>
#include <string_view>

namespace zorbu::simd {

struct text_positions {
  const char* in;
  char* out;
  bool first;     // the first key is still to come
  bool at_value;  // in is just past a key's '=', whose value is not all here
  bool at_tag;    // in is at a '<' that the stop byte follows
};

// The most that a kernel writes past the end of what it reports written.
inline constexpr std::size_t kOutputSlack = 128;

struct kernels {
  std::string_view name;
  // Converts [p, end) to out: each colour key's value replaced, and '<'
  // and '>' escaped as "{{{" and "}}}" when escape is set. first says that
  // the first key, "color=" with or without a quote after it, is still to
  // come; every later key is `color="`. A key must start at p or later.
  // last says that the text ends at end; otherwise the converter stops just
  // past the '=' of a key whose value needs bytes from end on. Unless stop
  // is '\0', it also stops before the first '<' that stop follows, as if the
  // text ended there. Returns where it stopped in both, and whether the
  // first key is still to come. May read, but does not use, the bytes from
  // end to readable_end, and may write kOutputSlack bytes past the returned
  // out.
  text_positions (*convert_text)(const char* p, const char* end,
                                 const char* readable_end, char* out,
                                 bool escape, bool first, bool last,
                                 char stop);
  // Returns the first '<' in [p, end) that `name` follows, or end when
  // there is none. The name must not be empty.
  const char* (*find_tag_start)(const char* p, const char* end,
                                std::string_view name);
};

// The kernels every processor of this architecture can run: the portable
// ones first, then each wider set; the last is the widest.
std::span<const kernels> built_kernels() noexcept;

// Returns the kernels this processor runs best; the same on every call.
const kernels& best_kernels() noexcept;

// Returns the kernels a run starts with: best_kernels(), unless the build
// forces a set for testing.
const kernels& chosen_kernels() noexcept;

// Returns the kernels in use: chosen_kernels() unless use() chose others.
const kernels& active();

// Makes the kernels of the given name active; returns false when they are
// not built or this processor cannot run them. For tests and benchmarks.
bool use(std::string_view name);

}  // namespace zorbu::simd
