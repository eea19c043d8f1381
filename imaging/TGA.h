#pragma once
// Targa reader and Windows bitmap writer for the program-wide FrameImage.
#include "FrameImage.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// The header of the last Targa file read; width and height widened.
struct TargaHeader {
    std::uint8_t IdLength = 0;
    std::uint8_t ColorMapType = 0;
    std::uint8_t ImageType = 0;
    std::uint8_t ColorMapSpec[5] = {};
    std::uint16_t XOrigin = 0;
    std::uint16_t YOrigin = 0;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::uint8_t PixelDepth = 0;
    std::uint8_t Descriptor = 0;
};

// Decodes an uncompressed 24-bit true-colour Targa file (image type 2) into
// Image, top row first. The image-ID field and any colour map are skipped and
// the origin bit is honoured, so that files from any writer come out the right
// way up.
//
// Any other file is passed over and Image is left exactly as it was: another
// image type or depth, a width or height of 0 or below, and a file shorter
// than its header announces (a truncated frame is not a picture worth
// putting into a movie, and zero-filled rows would flash black).
//
// Answers whether the file was decoded, so that a caller can tell a passed-over
// file from a frame. Throws FileError when the file cannot be opened or read.
bool ReadTGA(const std::string& FileName, FrameImage& Image);

// The header of the most recent ReadTGA call.
const TargaHeader& LastTargaHeader();

// Writes Image as an uncompressed bitmap file (bottom row first, rows padded
// to 4 bytes), replacing an existing file. Reverses the rows of Image in
// place: afterwards they are in the order in which they went into the file.
// A BitCount other than 8 or 24 gets the message "Image format unsupported"
// and a file of the two headers only.
//
// Throws FileError when the file cannot be replaced or written.
void WriteBMP(const std::string& FileName, FrameImage& Image);

// Reads a bitmap as WriteBMP writes 24-bit frames (uncompressed, bottom row
// first) into rows of the caller's, top row first and each padded to 4 bytes
// as in the file, with no pass over the pixels beyond the read. rowsFor is
// asked once for the rows, given the picture's size and the bytes per row;
// null declines. Answers false for any other file, or one shorter than its
// header says, before asking for the rows; or when the read fails.
using BitmapRowsFor = std::function<std::uint8_t*(std::int32_t width, std::int32_t height, std::size_t stride)>;
bool ReadBMPRows(const std::string& FileName, const BitmapRowsFor& rowsFor);

// Takes a temporary bitmap away once its frame is written. Its name goes at
// once, as with a delete, but the file itself is kept under a hidden name
// beside it, and the next WriteBMP writes over it instead of creating a file:
// freeing and reserving every block and page of each temporary bitmap costs
// the file system more than writing it. One file is kept at most; others are
// deleted. Answers 0 when the name is gone, else the errno of the delete.
int RetireBMP(const std::string& FileName);

// Deletes the file RetireBMP keeps, if any; done by the end of every run and
// at the latest when the program ends. Answers 0, or the errno of the failed
// delete with the file's path in failedPath.
int ReleaseRetiredBMP(std::string& failedPath);

// Deletes the hidden files that RetireBMP kept in Directory for processes
// that are no longer alive (a crash, a power cut): nothing else removes them.
void RemoveOrphanedBMPs(const std::string& Directory);

// Reverses the row order of Image.Bits in place (8 and 24 bits only).
void FlipRows(FrameImage& Image);
