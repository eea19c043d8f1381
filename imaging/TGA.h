// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The Targa reader for the program-wide FrameImage.
#include "FrameImage.h"

#include <string>

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
