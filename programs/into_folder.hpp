// zorbu --into: many inputs converted in one process into one output
// folder, each under its own path.
#pragma once

#include <span>

#include "options.hpp"
#include "zorbu_internal.hpp"

namespace zorbu {

// Converts each file of options into its output folder, keeping its path.
// Returns the exit status: 0 when every file was converted or there was
// none, 1 when some failed, 255 when nothing could be done (no folder
// given, or none could be made).
int convert_into_folder(const into_options& options,
                        const simd::kernels& kernels);

}  // namespace zorbu
