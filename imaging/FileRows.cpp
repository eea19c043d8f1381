// SPDX-License-Identifier: GPL-2.0-or-later
#include "FileRows.h"

#include <cerrno>
#include <vector>

bool ReadRows(const fileio::File& file, std::uint8_t* dest, std::size_t rowBytes, std::size_t rows,
              std::int64_t offset, bool reversed)
{
    if (!reversed) {
        errno = 0;
        return file.ReadAt(dest, rowBytes * rows, offset) == static_cast<std::int64_t>(rowBytes * rows);
    }
    std::vector<fileio::Piece> pieces(rows);
    for (std::size_t i = 0; i < rows; ++i)
        pieces[i] = {dest + (rows - 1 - i) * rowBytes, rowBytes};
    return file.ReadAllAt(pieces.data(), pieces.size(), offset);
}
