// SPDX-License-Identifier: GPL-2.0-or-later
#include "TGA.h"

#include "FileError.h"
#include "FileIO.h"
#include "FileRows.h"
#include "TargaFormat.h"

#include <cerrno>
#include <limits>

using fileio::File;

bool ReadTGA(const std::string& FileName, FrameImage& Image)
{
    File file = File::OpenForReading(FileName);
    if (!file.ok())
        throw FileError(FileName, "cannot open the Targa file (" + fileio::ErrorText(errno) + ")");

    std::uint8_t raw[TargaHeader::kSize] = {};
    const std::int64_t got = file.ReadAt(raw, sizeof raw, 0);
    if (got < 0)
        throw FileError(FileName, "cannot read the Targa file (" + fileio::ErrorText(errno) + ")");
    if (got < static_cast<std::int64_t>(sizeof raw))
        return false; // too short to be a Targa file: passed over
    const TargaHeader t = TargaHeader::Parse(raw);

    if (t.ImageType != TargaHeader::kTypeTrueColour || t.PixelDepth != 24)
        return false;
    if (t.Width <= 0 || t.Height <= 0)
        return false;
    const std::int64_t rowBytes = static_cast<std::int64_t>(t.Width) * 3;
    const std::int64_t total = rowBytes * t.Height;
    if (total > std::numeric_limits<std::int32_t>::max())
        return false;
    const std::int64_t pixelStart = t.PixelStart();
    // A truncated file is refused whole rather than half-decoded, so that the
    // movie repeats the previous picture instead of showing a torn one.
    if (file.Length() < pixelStart + total)
        return false;

    Image.BitCount = 24;
    Image.Width = t.Width;
    Image.Height = t.Height;
    Image.Palette.clear();
    Image.Bits.resize(static_cast<std::size_t>(total));

    // Most writers store the bottom row first; Bits holds the top row first.
    if (!ReadRows(file, Image.Bits.data(), static_cast<std::size_t>(rowBytes), static_cast<std::size_t>(t.Height),
                  pixelStart, !t.TopRowFirst()))
        throw FileError(FileName, "cannot read the Targa pixels (" + fileio::ErrorText(errno ? errno : EIO) + ")");
    return true;
}
