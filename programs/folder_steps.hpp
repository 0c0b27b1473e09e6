// How walks of deep trees spend descriptors: a bounded number of folders
// held open, and a folder that was closed reopened from its child only.
#pragma once

#include <sys/stat.h>

#include <cstddef>

#include "same_file.hpp"

namespace zorbu {

// Returns how many folders below its first a walk may keep open: a share of
// the open-file limit that leaves room for the other walk and the files,
// at least 1 and at most 8, since an open listing holds a buffer of 32 KiB
// and a closed folder costs only its reopening on the way back up.
std::size_t folders_kept_open();

// Opens the folder above the open folder child; -1 when it cannot, with
// errno set, and with ESTALE when it is not the folder `was` describes.
int open_parent(int child, const file_id& was);

}  // namespace zorbu
