// SPDX-License-Identifier: GPL-2.0-or-later
#include "FrameFiles.h"

#include "BuildRun.h"
#include "FileError.h"
#include "TGA.h"

#include <stdexcept>

bool FrameFiles::Read(const std::string& targa, bool report, bool blended)
{
    std::string why = "not an uncompressed 24-bit Targa file";
    try {
        if (request_.everyTargaKind ? reader_.Read(targa, image_, why) : ReadTGA(targa, image_))
            return true;
    } catch (const FileError& e) {
        // A file of a group that vanished or cannot be opened is left out of
        // the average, as a file of another kind is: the group still has its
        // others.
        if (!blended || request_.strict)
            throw;
        why = e.trouble();
    }
    if (!report)
        return false;
    ++passedOver_;
    sink_.PassedOver(targa, why);
    if (request_.strict)
        throw std::runtime_error("The frame " + targa + " cannot be read: " + why + "." + kCrLf +
                                 "A complete movie was asked for: none is left.");
    return false;
}

bool FrameFiles::Decode(const std::vector<std::string>& group, bool report)
{
    if (group.size() == 1)
        return Read(group.front(), report, false);
    blend_.Start();
    for (const std::string& targa : group)
        if (Read(targa, report, true) && !blend_.Add(image_))
            throw std::runtime_error("The frame " + targa + " is " + std::to_string(image_.Width) + " x " +
                                     std::to_string(image_.Height) + " pixels, unlike the frames blended with it:" +
                                     kCrLf + group.front());
    return blend_.Result(image_);
}
