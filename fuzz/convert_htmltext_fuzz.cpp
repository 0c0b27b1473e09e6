// convert_htmltext in both modes: the whole-text result must match the plain
// rendering of the rules, and feeding the same text in pieces of the
// fuzzer's choosing must give the same bytes. The first byte picks the mode
// and the kernels, the next ones the piece sizes; the rest is the text.
#include <cstdint>
#include <string>
#include <string_view>

#include "check.hpp"
#include "reference.hpp"
#include "rt/text_converter.hpp"

using zorbu::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  constexpr std::size_t kHeader = 9;
  if (size < kHeader) return 0;
  const bool is_markup = (data[0] & 1) != 0;
  const zorbu::simd::kernels& kernels =
      zorbu::fuzz::pick_kernels(static_cast<std::uint8_t>(data[0] >> 2));
  const std::string_view text(reinterpret_cast<const char*>(data) + kHeader,
                              size - kHeader);

  const std::string whole = zorbu::convert_htmltext(text, is_markup, kernels);
  check(whole == zorbu::reference::convert(text, is_markup));
  if (!is_markup) {
    check(whole.find('<') == std::string::npos &&
          whole.find('>') == std::string::npos);
  }

  // Piece sizes cycle through bytes 1 to 8 of the header; zero is an empty
  // piece. Each piece gets room of exactly the promised size, so a write past
  // it is caught. With bit 1 of the first byte, the converter may read 256
  // bytes past each piece, where '=' and '<' that must not count follow the
  // last one.
  const std::size_t readable_after = (data[0] & 2) != 0 ? 256 : 0;
  std::string padded(text);
  padded.append(128, '=').append(128, '<');
  const std::string_view source(padded.data(), text.size());
  zorbu::text_converter converter(is_markup
                                      ? zorbu::simd::text_kind::markup
                                      : zorbu::simd::text_kind::timed_text,
                                  kernels);
  std::string pieces;
  std::size_t pos = 0;
  for (std::size_t i = 0; pos < text.size(); ++i) {
    const std::size_t len =
        std::min<std::size_t>(data[1 + i % 8] % 64, text.size() - pos);
    std::string room(zorbu::text_converter::max_output(len), '\0');
    pieces.append(room.data(), converter.feed(source.substr(pos, len),
                                              room.data(), readable_after));
    pos += len;
    if (i > 4 * text.size() + 16) break;  // all-empty piece sizes
  }
  if (pos < text.size()) {
    std::string room(zorbu::text_converter::max_output(text.size() - pos),
                     '\0');
    pieces.append(room.data(), converter.feed(source.substr(pos), room.data(),
                                              readable_after));
  }
  std::string room(zorbu::text_converter::max_output(0), '\0');
  pieces.append(room.data(), converter.finish(room.data()));
  check(pieces == whole);
  return 0;
}
