#pragma once
// The run's temporary bitmap files: written from the program-wide FrameImage
// and read back row by row for the window.
#include "FrameImage.h"
#include "Notice.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

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
