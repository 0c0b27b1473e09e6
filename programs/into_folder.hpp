// zorbu --into: many inputs converted in one process into one output
// folder, each under its own path.
#pragma once

#include <span>

#include "zorbu_internal.hpp"

namespace zorbu {

// Converts each file that follows the output folder in args into that
// folder, keeping its path. Returns the exit status: 0 when every file was
// converted or there was none, 1 when some failed, 255 when nothing could
// be done (no folder given, or none could be made).
int convert_into_folder(std::span<char* const> args,
                        const simd::kernels& kernels);

}  // namespace zorbu
