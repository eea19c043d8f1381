// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Motion blur for recordings made at many times the movie's frame rate: each
// run of consecutive pictures becomes one movie frame, their average.
//
// The average is taken in linear light, as a camera's shutter collects it:
// samples are decoded from sRGB, averaged and encoded back, rounded to
// nearest. Averaging the sRGB bytes themselves would darken every moving
// edge (black and white alternating give 188, not 128).
#include "FrameImage.h"

#include <cstdint>
#include <vector>

class FrameBlend {
public:
    // How samples go to linear light and back. Both round as the exact
    // curve does, but for values all but halfway between two.
    enum class Method {
        // Look-up tables: a scalar loop, fast on any processor.
        Tables,
        // Fitted polynomials: vector arithmetic, faster where the vector
        // units are 512 bits wide.
        Polynomials,
    };
    // The faster of the two on this processor.
    static Method Fastest();

    explicit FrameBlend(Method method = Fastest()) : method_(method) {}

    // Beyond this many pictures a sum no longer converts exactly to float,
    // and a group of identical pictures would no longer give the picture.
    static constexpr int kMaxCount = 256;

    // Starts a group: the next picture added sets its size. The accumulator
    // is kept for the next group of the same size.
    void Start();

    // Adds one 24-bit picture, the only kind a frame file gives. False, with
    // nothing added, for a picture whose size differs from the group's
    // first, another depth, pixel bytes shorter than its size needs, no
    // pixels at all, or a group already kMaxCount strong.
    bool Add(const FrameImage& picture);

    int Count() const { return count_; }

    // Writes the group's average into out as a 24-bit picture of the group's
    // size, rows in the order in which they were added; out may be one of
    // the pictures added. False, with out left alone, when nothing was added.
    bool Result(FrameImage& out) const;

private:
    Method method_;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    int count_ = 0;
    // One sum of linear values (16-bit scale) per sample.
    std::vector<std::uint32_t> sum_;
};
