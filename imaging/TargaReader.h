// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Every kind of Targa file a game or tool writes, for reelcast-batch: image
// types 1, 2 and 3 (colour-mapped, true colour, grey), uncompressed or
// run-length (9, 10, 11); 8, 15, 16, 24 and 32 bits a pixel; colour maps of
// 15, 16, 24 or 32-bit entries from any first index; either vertical
// origin, rows right to left, an image-ID field, and a TGA 2.0 extension
// area and footer after the picture (ignored). Run-length packets may cross
// rows. The picture is its colour: alpha is dropped, and 5-bit channels are
// widened by repeating their top bits.
//
// The window reads one kind only (ReadTGA in TGA.h); this reader is chosen
// through the run's request.
#include "FrameImage.h"
#include "TargaFormat.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace targa {

// Why the header alone keeps its file from being read, in a few words
// ("colour-mapped at 24 bits a pixel"), or empty when the file may be
// decoded. fileSize is the file's length: a file shorter than its header
// says is refused here, before any pixel is read.
std::string HeaderProblem(const TargaHeader& t, std::int64_t fileSize);

// The kind of a file that HeaderProblem takes, for reports: image type,
// depth and run-length, as in "run-length true colour, 24-bit (type 10)".
std::string KindName(const TargaHeader& t);

// Reads Targa files into 24-bit pictures, top row first. Keeps its buffers
// from one file to the next, so that a run of frames allocates once.
class Reader {
public:
    // Decodes the file into Image (BitCount 24, no palette). A file it
    // refuses leaves Image as it was and why holds the reason: the header's
    // (HeaderProblem), or what the pixels showed ("run-length data ends
    // early", "colour index 7 is past the map"). Throws FileError when the
    // file cannot be opened or read.
    bool Read(const std::string& FileName, FrameImage& Image, std::string& why);

    // The same on a whole file held in memory; nothing past size is read.
    bool Decode(const std::uint8_t* data, std::size_t size, FrameImage& Image, std::string& why);

private:
    // The decoding proper, into pixels_, once the header has been accepted.
    std::string DecodePixels(const TargaHeader& t, const std::uint8_t* data, std::size_t size);
    // Hands pixels_ to Image as its picture.
    void Give(const TargaHeader& t, FrameImage& Image);

    std::vector<std::uint8_t> file_;   // the file's bytes, where they are needed whole
    std::vector<std::uint8_t> pixels_; // the picture being decoded
    std::vector<std::uint8_t> map_;    // the colour map, 3 bytes an entry
};

} // namespace targa
