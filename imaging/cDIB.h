// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// One device-independent bitmap in memory, in the two pieces a movie stream
// asks for: the info block (BITMAPINFOHEADER and any colour table) as the
// stream format, and the pixel bytes as one frame.
#include "BitmapFormat.h"
#include "FrameImage.h"
#include "Notice.h"

#include <cstdint>
#include <string>
#include <vector>

class cDIB {
public:
    // Loads a .bmp file. A missing file, a file that cannot be opened and one
    // that does not start with "BM" answer false, with the report for the
    // user in why; the caller decides how it is shown. Once the file is open,
    // a header that cannot describe the file (sizes that overflow, pixel data
    // or info block of 0 bytes or less, or larger than the file can hold)
    // throws FileError; the headers read so far stay replaced.
    bool CreateFromFile(const std::string& FileName, Notice& why);

    // Takes a frame as a reader leaves it, top row first, as the bitmap
    // file WriteBMP would make of it and CreateFromFile would load: the
    // same info block and the same pixel bytes, without the file. False,
    // with the reason in why and the bitmap held before unchanged, for a
    // frame no bitmap file can hold.
    bool CreateFromImage(const FrameImage& image, std::string& why);

    std::int32_t BitCount() const { return info_.biBitCount; }
    std::int32_t Height() const { return info_.biHeight; }
    std::int32_t Width() const { return info_.biWidth; }
    std::int32_t Compression() const { return info_.biCompression; }
    std::int32_t SizeInfoHeader() const { return info_.biSize; }
    std::int32_t SizeImage() const { return info_.biSizeImage; }
    std::int32_t Planes() const { return info_.biPlanes; }
    std::int32_t ClrImportant() const { return info_.biClrImportant; }
    std::int32_t ClrUsed() const { return info_.biClrUsed; }
    std::int32_t XPPM() const { return info_.biXPelsPerMeter; }
    std::int32_t YPPM() const { return info_.biYPelsPerMeter; }
    std::int32_t FileType() const { return file_.bfType; }
    std::int32_t SizeFileHeader() const { return file_.bfSize; }
    std::int32_t BitOffset() const { return file_.bfOffBits; }

    // Addresses into the object's arrays, valid until the next load that
    // replaces them. Throw std::out_of_range while nothing is loaded.
    const std::uint8_t* PointerToBits() const;
    const std::uint8_t* PointerToBitmapInfo() const;
    std::int32_t SizeBitmapInfo() const;

private:
    std::vector<std::uint8_t> bits_;
    std::vector<std::uint8_t> bitmapInfo_;
    bool loaded_ = false;
    bmp::InfoHeader info_;
    bmp::FileHeader file_;
};
