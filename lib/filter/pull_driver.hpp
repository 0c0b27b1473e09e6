// The pull driver: the filter core fed by reading a byte source ahead, its
// output written to a sink, for a caller that owns the input's reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "common/byte_buffers.hpp"
#include "common/status.hpp"
#include "simd/kernels.hpp"

namespace zorbu {

// The memory filter_rt needs for reads and writes of about `block` bytes.
std::size_t filter_storage_for(std::size_t block);

// Checks the input and writes its rewritten copy, reading it once, front to
// back, in reads of about `block` bytes, into `storage` of
// filter_storage_for(block) bytes. Writes nothing unless the input is an rt
// file; after a failed read, writes nothing that depends on what is missing.
// For an invalid input, sets *why, where given, to the reason.
status filter_rt(byte_source& in, byte_sink& out, std::span<char> storage,
                 std::size_t block, const simd::kernels& kernels,
                 invalid_reason* why = nullptr);

// The same with storage of its own; out_of_memory when it cannot be had.
status filter_rt(byte_source& in, byte_sink& out, std::size_t block,
                 const simd::kernels& kernels, invalid_reason* why = nullptr);

}  // namespace zorbu
