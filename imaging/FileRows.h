// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Picture rows read straight from a file into their places, for the Targa
// reader and the bitmap row reader alike.
#include "FileIO.h"

#include <cstddef>
#include <cstdint>

// Reads rows * rowBytes bytes from offset into dest, in the file's row order
// or, when reversed, with the file's first row landing in dest's last row.
// The kernel scatters the rows, so the reversal costs no pass over the
// pixels. On failure errno holds the reason, or 0 when the file ended first.
bool ReadRows(const fileio::File& file, std::uint8_t* dest, std::size_t rowBytes, std::size_t rows,
              std::int64_t offset, bool reversed);
