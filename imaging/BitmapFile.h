// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The run's temporary bitmap files: written from the program-wide FrameImage
// and read back row by row for the window.
#include "BitmapFormat.h"
#include "FileIO.h"
#include "FrameImage.h"
#include "Notice.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Writes Image as an uncompressed bitmap file (bottom row first, rows padded
// to 4 bytes), replacing an existing file, over the bitmap RetireBMP kept
// when there is one. Reverses the rows of Image in place: afterwards they are
// in the order in which they went into the file.
//
// A BitCount other than 8 or 24 still gets a file, of the two headers only,
// and answers false with the report for the user in why ("Image format
// unsupported"); true otherwise, why untouched.
//
// Throws FileError when the file cannot be replaced or written.
bool WriteBMP(const std::string& FileName, FrameImage& Image, Notice& why);

// Which row of the picture a FrameImage's Bits hold first.
enum class RowOrder { TopFirst, BottomFirst };

// A frame as the bytes of its bitmap file: the file and info headers, the
// palette of an 8-bit frame, then the pixel rows, bottom row first, each
// padded to 4 bytes. The pieces point into the frame itself where they can,
// so that the rows are not copied; they hold while the frame is unchanged.
struct EncodedBitmap {
    std::uint8_t headers[bmp::kFileHeaderSize + bmp::kInfoHeaderSize] = {};
    std::vector<std::uint8_t> palette;
    std::vector<fileio::Piece> pieces;
};

// The bytes WriteBMP writes for Image, without a file and without touching
// Image: order says which row its Bits hold first. Answers why there can be
// no such file (too large a picture, too few pixel bytes), or nothing.
std::string EncodeBMP(const FrameImage& Image, RowOrder order, EncodedBitmap& out);

// Reads a bitmap as WriteBMP writes 24-bit frames (uncompressed, bottom row
// first) into rows of the caller's, top row first and each padded to 4 bytes
// as in the file, with no pass over the pixels beyond the read. rowsFor is
// asked once for the rows, given the picture's size and the bytes per row;
// null declines. Answers false for any other file, or one shorter than its
// header says, before asking for the rows; or when the read fails.
using BitmapRowsFor = std::function<std::uint8_t*(std::int32_t width, std::int32_t height, std::size_t stride)>;
bool ReadBMPRows(const std::string& FileName, const BitmapRowsFor& rowsFor);

// Reverses the row order of Image.Bits in place (8 and 24 bits only).
void FlipRows(FrameImage& Image);
