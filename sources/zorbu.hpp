// The driver's core: checking an rt file and writing its rewritten copy, on
// any byte source and sink.
#pragma once

#include <cstdint>
#include <optional>

#include "byte_io.hpp"

namespace zorbu {

enum class outcome : std::uint8_t {
  rewritten,   // the whole rewritten file was written
  invalid,     // not an rt file; nothing was written
  unreadable,  // reading failed after the first line
  unwritable,  // writing failed
};

// Returns the body count: the lines after the first, less the one or two
// closing lines; 0 when the input is not an rt file (no first line, or no
// `window` tag on it); std::nullopt when a later read failed. A nonzero count
// leaves the reader rewound.
std::optional<std::int64_t> check_rt(LineReader& in);

// Writes the rewritten file from a rewound reader and its body count; stops
// at the first failed read or write.
outcome rewrite_rt(LineReader& in, std::int64_t body_count, OutputBuffer& out);

// Checks, then rewrites; writes nothing unless the input is an rt file.
// Reads and writes in blocks of about `buffer` bytes.
outcome filter_rt(ByteSource& in, ByteSink& out,
                  std::size_t buffer = LineReader::kDefaultBlock);

}  // namespace zorbu
