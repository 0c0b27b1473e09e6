// The filter: checking an rt file and writing its rewritten copy, in one
// pass over any byte source, into any sink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "io/byte_io.hpp"
#include "rt/outcome.hpp"
#include "simd/kernels.hpp"

namespace zorbu {

// Judges the first line of a file. Returns how many closing lines end an rt
// file that begins so: 2 when a `font` tag follows the `window` tag, else 1;
// 0 when the line has no `window` tag, so that the file is no rt file.
int check_rt(std::string_view first_line);

// The memory filter_rt needs for reads and writes of about `block` bytes.
std::size_t filter_storage_for(std::size_t block);

// Checks the input and writes its rewritten copy, reading it once, front to
// back, in reads of about `block` bytes, into `storage` of
// filter_storage_for(block) bytes. Writes nothing unless the input is an rt
// file; after a failed read, writes nothing that depends on what is missing.
outcome filter_rt(byte_source& in, byte_sink& out, std::span<char> storage,
                  std::size_t block, const simd::kernels& kernels);

// The same with storage of its own; out_of_memory when it cannot be had.
outcome filter_rt(byte_source& in, byte_sink& out, std::size_t block,
                  const simd::kernels& kernels);

}  // namespace zorbu
