// SPDX-License-Identifier: GPL-2.0-or-later
#include "BitmapFile.h"

#include "BitmapFormat.h"
#include "FileError.h"
#include "FileIO.h"
#include "FileRows.h"
#include "KeptBitmap.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

using fileio::File;
using fileio::Piece;

namespace {

constexpr std::size_t kHeadersSize = sizeof EncodedBitmap::headers;
constexpr std::size_t kPaletteSize = 256 * 4;
constexpr std::int32_t kPelsPerMeter = 2835; // 72 dots per inch

std::size_t RowLength(const FrameImage& image)
{
    switch (image.BitCount) {
    case 24:
        return static_cast<std::size_t>(image.Width) * 3;
    case 8:
        return static_cast<std::size_t>(image.Width);
    default:
        return 0;
    }
}

// A BitCount other than 8 or 24 gives the two headers only.
void EncodePieces(const FrameImage& Image, RowOrder order, EncodedBitmap& out)
{
    const bool supported = Image.BitCount == 8 || Image.BitCount == 24;
    const bool hasPixels = supported && Image.Width > 0 && Image.Height > 0;
    const std::int64_t stride = bmp::Stride(Image.Width, Image.BitCount);
    const std::int64_t sizeImage = hasPixels ? stride * Image.Height : 0;
    const std::int32_t clrUsed = Image.BitCount == 8 ? 256 : 0;
    const std::int64_t offBits = static_cast<std::int64_t>(kHeadersSize) + 4 * clrUsed;

    bmp::FileHeader fh;
    fh.bfType = static_cast<std::int16_t>(bmp::kType);
    fh.bfSize = static_cast<std::int32_t>(offBits + sizeImage);
    fh.bfOffBits = static_cast<std::int32_t>(offBits);
    fh.Serialise(out.headers);
    bmp::InfoHeader ih;
    ih.biSize = bmp::kInfoHeaderSize;
    ih.biWidth = Image.Width;
    ih.biHeight = Image.Height;
    ih.biPlanes = 1;
    ih.biBitCount = Image.BitCount;
    ih.biSizeImage = static_cast<std::int32_t>(sizeImage);
    ih.biXPelsPerMeter = ih.biYPelsPerMeter = kPelsPerMeter;
    ih.biClrUsed = clrUsed;
    ih.Serialise(out.headers + bmp::kFileHeaderSize);

    out.pieces = {{out.headers, sizeof out.headers}};
    if (!supported)
        return;
    if (Image.BitCount == 8) {
        out.palette.assign(kPaletteSize, 0);
        std::copy_n(Image.Palette.begin(), std::min(Image.Palette.size(), kPaletteSize), out.palette.begin());
        out.pieces.push_back({out.palette.data(), out.palette.size()});
    }
    // Pieces are only ever read from; they point at the rows in place.
    auto* bits = const_cast<std::uint8_t*>(Image.Bits.data());
    const std::size_t row = RowLength(Image);
    const bool bottomFirst = order == RowOrder::BottomFirst;
    if (hasPixels && bottomFirst && static_cast<std::int64_t>(row) == stride) {
        out.pieces.push_back({bits, static_cast<std::size_t>(sizeImage)});
    } else if (hasPixels) {
        // Each row goes out followed by its filler, straight from Bits.
        static std::uint8_t zeros[4] = {};
        const std::size_t filler = static_cast<std::size_t>(stride) - row;
        const auto rows = static_cast<std::size_t>(Image.Height);
        for (std::size_t r = 0; r < rows; ++r) {
            out.pieces.push_back({bits + (bottomFirst ? r : rows - 1 - r) * row, row});
            if (filler > 0)
                out.pieces.push_back({zeros, filler});
        }
    }
}

// Puts the bytes in place of whatever file has that name, over the kept
// bitmap when there is one, so that nothing of an older, longer file
// remains; a directory of that name is never touched.
void ReplaceFile(const std::string& FileName, const std::vector<Piece>& pieces)
{
    if (fileio::IsDirectory(FileName))
        throw FileError(FileName, "cannot write the bitmap file: a directory has that name");
    if (const int err = fileio::Delete(FileName); err != 0)
        throw FileError(FileName, "cannot replace the bitmap file (" + fileio::ErrorText(err) + ")");

    std::int64_t keptSize = -1;
    File out = ReuseRetiredBMP(FileName, keptSize);
    if (!out.ok())
        out = File::Create(FileName);
    if (!out.ok())
        throw FileError(FileName, "cannot create the bitmap file (" + fileio::ErrorText(errno) + ")");
    bool written = out.WriteAll(pieces.data(), pieces.size());
    // A reused file that was longer keeps nothing beyond what was written now.
    if (written && keptSize >= 0)
        written = out.TruncateHere();
    if (!written || !out.Close()) {
        const int err = errno;
        fileio::Delete(FileName); // a torn bitmap is worse than none
        throw FileError(FileName, "cannot write the bitmap file (" + fileio::ErrorText(err) + ")");
    }
}

} // namespace

bool ReadBMPRows(const std::string& FileName, const BitmapRowsFor& rowsFor)
{
    File file = File::OpenForReading(FileName);
    std::uint8_t h[kHeadersSize] = {};
    if (!file.ok() || file.ReadAt(h, sizeof h, 0) != static_cast<std::int64_t>(sizeof h))
        return false;
    const auto fh = bmp::FileHeader::Parse(h);
    const auto ih = bmp::InfoHeader::Parse(h + bmp::kFileHeaderSize);
    const std::int64_t offBits = static_cast<std::uint32_t>(fh.bfOffBits);
    if (static_cast<std::uint16_t>(fh.bfType) != bmp::kType || ih.biSize != bmp::kInfoHeaderSize ||
        ih.biPlanes != 1 || ih.biBitCount != 24 || ih.biCompression != bmp::kRgb || ih.biWidth <= 0 ||
        ih.biHeight <= 0 || offBits < static_cast<std::int64_t>(sizeof h))
        return false;
    const std::int64_t stride = bmp::Stride(ih.biWidth, 24);
    // Refused before anything is read, so a short file leaves the caller's
    // rows as they were.
    if (!bmp::FitsFile(ih.biWidth, ih.biHeight, 24, 0) || file.Length() < offBits + stride * ih.biHeight)
        return false;
    std::uint8_t* rows = rowsFor(ih.biWidth, ih.biHeight, static_cast<std::size_t>(stride));
    return rows && ReadRows(file, rows, static_cast<std::size_t>(stride), static_cast<std::size_t>(ih.biHeight),
                            offBits, true);
}

void FlipRows(FrameImage& Image)
{
    const std::size_t row = RowLength(Image);
    if (row == 0 || Image.Height <= 1)
        return;
    const auto rows = static_cast<std::size_t>(Image.Height);
    if (Image.Bits.size() < row * rows)
        return;
    auto* bits = Image.Bits.data();
    std::vector<std::uint8_t> scratch(row);
    for (std::size_t top = 0, bottom = rows - 1; top < bottom; ++top, --bottom) {
        std::memcpy(scratch.data(), bits + top * row, row);
        std::memcpy(bits + top * row, bits + bottom * row, row);
        std::memcpy(bits + bottom * row, scratch.data(), row);
    }
}

std::string EncodeBMP(const FrameImage& Image, RowOrder order, EncodedBitmap& out)
{
    const bool supported = Image.BitCount == 8 || Image.BitCount == 24;
    const std::int64_t palette = Image.BitCount == 8 ? static_cast<std::int64_t>(kPaletteSize) : 0;
    if (supported && !bmp::FitsFile(std::max(Image.Width, 0), std::max(Image.Height, 0), Image.BitCount,
                                    static_cast<std::int64_t>(kHeadersSize) + palette))
        return "the picture is too large for a bitmap file";
    const bool hasPixels = supported && Image.Width > 0 && Image.Height > 0;
    if (hasPixels && Image.Bits.size() < RowLength(Image) * static_cast<std::size_t>(Image.Height))
        return "the picture holds fewer pixel bytes than its size needs";
    EncodePieces(Image, order, out);
    return {};
}

bool WriteBMP(const std::string& FileName, FrameImage& Image, Notice& why)
{
    FlipRows(Image);
    EncodedBitmap encoded;
    if (std::string trouble = EncodeBMP(Image, RowOrder::BottomFirst, encoded); !trouble.empty())
        throw FileError(FileName, trouble);
    // The file of headers only is written all the same: whatever reads it
    // next refuses it for a reason of its own.
    const bool supported = Image.BitCount == 8 || Image.BitCount == 24;
    if (!supported)
        why = {"Image format unsupported", vbCritical | vbOKOnly, "Error"};
    ReplaceFile(FileName, encoded.pieces);
    return supported;
}
