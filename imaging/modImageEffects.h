// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include "FrameImage.h"

#include <cstdint>

// Nearest-neighbour resampling of Image to NewWidth x NewHeight, each axis on
// its own, in place. Sample positions round half to even; a sample outside
// the pixel bytes gives a zero pixel. Depths other than 8 and 24 are left
// alone. Never reports an error.
void ResampleImage(FrameImage& Image, std::int32_t NewWidth, std::int32_t NewHeight);
