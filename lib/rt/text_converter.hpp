// Colour values to hex codes, and bracket escaping for timed text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/rt_format.hpp"
#include "simd/kernels.hpp"

namespace zorbu {

// Converts one text handed over in pieces of any size. Feeding a text in
// pieces gives exactly the bytes that converting it whole gives; only the
// few bytes that a colour key or value can span are held back between pieces.
// Output goes into caller-owned room, so that the hot path does no
// bookkeeping of its own.
class text_converter {
 public:
  // Brackets of markup are copied; those of timed text are escaped.
  text_converter(simd::text_kind kind, const simd::kernels& kernels)
      : kind_(kind), kernels_(&kernels) {}

  // The most that feed() writes for a piece of n bytes, or finish() for 0.
  static constexpr std::size_t max_output(std::size_t n) {
    // The kernels write a little past what they report.
    return 3 * (n + kHeldCapacity) + simd::kOutputSlack;
  }

  // Converts what it can of piece into out, which has room for
  // max_output(piece.size()) bytes; returns the end of what it wrote (out
  // itself for an empty piece).
  // The caller may let readable_after bytes past the piece be read (never
  // used), which spares a copy near its end.
  char* feed(std::string_view piece, char* out, std::size_t readable_after = 0);
  // Ends the text, writing what was held back into room for max_output(0)
  // bytes, and makes ready for a new text; returns the end of what it wrote.
  char* finish(char* out);
  // Writes what was held back, as finish() does, where the text so far
  // ends with a newline, which no later byte can change; the text goes on.
  // Returns the end of what it wrote.
  char* end_line(char* out);
  // Returns true when nothing is held back.
  bool settled() const { return held_size_ == 0 && mode_ != mode::at_value; }
  // Returns true while the text's first colour key is still to come.
  bool first_key() const { return mode_ == mode::first_search; }
  // Says whether the first key has come, in text converted elsewhere while
  // settled.
  void set_first_key(bool first_key) {
    mode_ = first_key ? mode::first_search : mode::next_search;
  }
  // Says that text converted elsewhere ended with the first key, whose
  // value starts at the next byte fed; the converter is then not settled.
  void set_value_next() {
    mode_ = mode::at_value;
    value_at_ = 0;
  }

 private:
  static constexpr std::size_t kHeldCapacity = 32;
  enum class mode : std::uint8_t { first_search, next_search, at_value };

  std::size_t run(const char* data, std::size_t size, bool last,
                  std::size_t readable_after, char*& out);

  simd::text_kind kind_;
  const simd::kernels* kernels_;
  mode mode_ = mode::first_search;
  // In at_value mode: how far the value starts past the first byte not yet
  // converted.
  std::uint64_t value_at_ = 0;
  std::array<char, kHeldCapacity> held_{};
  std::size_t held_size_ = 0;
};

// Converts a whole text at once into out, which has room for
// text_converter::max_output(text.size()) bytes; the caller may let
// readable_after bytes past the text be read (never used). Returns the end
// of what it wrote: out itself for an empty text.
char* convert_whole(const simd::kernels& kernels, std::string_view text,
                    simd::text_kind kind, char* out,
                    std::size_t readable_after = 0);

// Converts a whole text, in markup mode where is_markup says, else as timed
// text; an empty text gives an empty result.
std::string convert_htmltext(std::string_view src, bool is_markup,
                             const simd::kernels& kernels);

}  // namespace zorbu
