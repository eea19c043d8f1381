// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The frame files of a run, read into the shared image: one file a frame,
// or a group of files blended into one; with the window's reader of one
// Targa kind, or with the reader of every kind where the request asks for
// it. Private to the run.
#include "FrameBlend.h"
#include "FrameImage.h"
#include "MovieBuild.h"
#include "TargaReader.h"

#include <cstdint>
#include <string>
#include <vector>

class FrameFiles {
public:
    FrameFiles(const BuildRequest& request, BuildSink& sink, FrameImage& image)
        : request_(request), sink_(sink), image_(image)
    {
    }

    // Decodes group into the image: its one file, or the average of those of
    // its files that can be read. False when none could, the image then as
    // it was. report: whether a file passed over is reported (once only,
    // however often it is read). Throws, with a message naming the file,
    // when a group's pictures differ in size, when a lone file cannot be
    // opened, and under strict when a file cannot be read.
    bool Decode(const std::vector<std::string>& group, bool report);

    // The files passed over and reported so far.
    std::int64_t passedOver() const { return passedOver_; }

private:
    bool Read(const std::string& targa, bool report, bool blended);

    const BuildRequest& request_;
    BuildSink& sink_;
    FrameImage& image_;
    FrameBlend blend_;
    targa::Reader reader_;
    std::int64_t passedOver_ = 0;
};
