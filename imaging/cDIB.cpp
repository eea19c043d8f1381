// SPDX-License-Identifier: GPL-2.0-or-later
#include "cDIB.h"

#include "BitmapFile.h"
#include "FileError.h"
#include "FileIO.h"
#include "Notice.h"

#include <cstring>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <system_error>

using fileio::File;

namespace {

using bmp::kFileHeaderSize;
using bmp::kInfoHeaderSize;
constexpr auto kBitmapType = static_cast<std::int16_t>(bmp::kType);
const char* const kTitle = "Reelcast";
const char* const kCrLf = "\r\n";

bool IsPermissionFailure(int err)
{
    return err == EACCES || err == EPERM || err == EBUSY || err == ETXTBSY || err == EROFS;
}

} // namespace

bool cDIB::CreateFromFile(const std::string& FileName, Notice& why)
{
    std::error_code ec;
    (void)std::filesystem::file_size(FileName, ec);
    if (ec) {
        why = {std::string("File does not exist:") + kCrLf + FileName, vbCritical | vbOKOnly, kTitle};
        return false;
    }

    File file = File::OpenForReading(FileName);
    if (!file.ok()) {
        const int err = errno;
        if (IsPermissionFailure(err))
            why = {std::string("File is locked - cannot access:") + kCrLf + FileName, vbCritical | vbOKOnly, kTitle};
        else
            why = {fileio::ErrorText(err), vbInformation | vbOKOnly, kTitle};
        return false;
    }
    const std::int64_t fileLength = file.Length();

    // Headers beyond the end of a short file read as zero; the size checks
    // below then refuse what the file cannot hold.
    std::uint8_t fh[kFileHeaderSize] = {};
    if (file.ReadAt(fh, sizeof fh, 0) < 0)
        throw FileError(FileName, "cannot read the bitmap file header (" + fileio::ErrorText(errno) + ")");
    file_ = bmp::FileHeader::Parse(fh);

    if (file_.bfType != kBitmapType) {
        why = {std::string("File is not a supported bitmap format:") + kCrLf + FileName, vbInformation | vbOKOnly,
               kTitle};
        return false;
    }

    std::uint8_t ih[kInfoHeaderSize] = {};
    if (file.ReadAt(ih, sizeof ih, kFileHeaderSize) < 0)
        throw FileError(FileName, "cannot read the bitmap info header (" + fileio::ErrorText(errno) + ")");
    info_ = bmp::InfoHeader::Parse(ih);

    if (info_.biSizeImage == 0) {
        const std::int64_t stride = bmp::Stride(info_.biWidth, info_.biBitCount);
        // Width and bit count from the file can make stride * height exceed
        // even 64 bits.
        std::int64_t size = 0;
        if (__builtin_mul_overflow(stride, static_cast<std::int64_t>(info_.biHeight), &size) ||
            size > std::numeric_limits<std::int32_t>::max() || size < std::numeric_limits<std::int32_t>::min())
            throw FileError(FileName, "the bitmap's pixel data size overflows");
        info_.biSizeImage = static_cast<std::int32_t>(size);
    }
    if (info_.biSizeImage <= 0)
        throw FileError(FileName, "the bitmap has no pixel data (size " + std::to_string(info_.biSizeImage) + ")");
    const std::int64_t infoLength = static_cast<std::int64_t>(file_.bfOffBits) - static_cast<std::int64_t>(kFileHeaderSize);
    if (infoLength <= 0)
        throw FileError(FileName, "the bitmap's pixel data offset " + std::to_string(file_.bfOffBits) + " is invalid");
    // Never allocate more than the file can fill: a 60-byte file must not be
    // able to ask for gigabytes.
    if (static_cast<std::int64_t>(file_.bfOffBits) + info_.biSizeImage > fileLength)
        throw FileError(FileName, "the bitmap file is shorter than its header says (" + std::to_string(fileLength) +
                                      " bytes, " + std::to_string(static_cast<std::int64_t>(file_.bfOffBits) +
                                                                  info_.biSizeImage) +
                                      " needed)");

    try {
        bits_.resize(static_cast<std::size_t>(info_.biSizeImage));
        bitmapInfo_.resize(static_cast<std::size_t>(infoLength));
    } catch (const std::bad_alloc&) {
        throw FileError(FileName, "not enough memory to load the bitmap");
    }
    if (file.ReadAt(bits_.data(), bits_.size(), file_.bfOffBits) != static_cast<std::int64_t>(bits_.size()) ||
        file.ReadAt(bitmapInfo_.data(), bitmapInfo_.size(), kFileHeaderSize) !=
            static_cast<std::int64_t>(bitmapInfo_.size())) {
        loaded_ = false;
        throw FileError(FileName, "cannot read the bitmap data");
    }
    loaded_ = true;
    return true;
}

bool cDIB::CreateFromImage(const FrameImage& image, std::string& why)
{
    EncodedBitmap encoded;
    if (std::string trouble = EncodeBMP(image, RowOrder::TopFirst, encoded); !trouble.empty()) {
        why = std::move(trouble);
        return false;
    }
    if (image.BitCount != 24) {
        why = "Image format unsupported";
        return false;
    }
    if (image.Width <= 0 || image.Height <= 0) {
        why = "the picture has no pixels";
        return false;
    }
    file_ = bmp::FileHeader::Parse(encoded.headers);
    info_ = bmp::InfoHeader::Parse(encoded.headers + kFileHeaderSize);
    bitmapInfo_.assign(encoded.headers + kFileHeaderSize, encoded.headers + sizeof encoded.headers);
    // The pieces after the headers are the pixel rows, in the file's order;
    // the vector keeps its room from frame to frame.
    bits_.resize(static_cast<std::size_t>(info_.biSizeImage));
    std::uint8_t* to = bits_.data();
    for (std::size_t i = 1; i < encoded.pieces.size(); ++i) {
        std::memcpy(to, encoded.pieces[i].data, encoded.pieces[i].size);
        to += encoded.pieces[i].size;
    }
    loaded_ = true;
    return true;
}

const std::uint8_t* cDIB::PointerToBits() const
{
    if (!loaded_ || bits_.empty())
        throw std::out_of_range("the bitmap holds no pixel bytes");
    return bits_.data();
}

const std::uint8_t* cDIB::PointerToBitmapInfo() const
{
    if (!loaded_ || bitmapInfo_.empty())
        throw std::out_of_range("the bitmap holds no info block");
    return bitmapInfo_.data();
}

std::int32_t cDIB::SizeBitmapInfo() const
{
    if (!loaded_)
        throw std::out_of_range("the bitmap holds no info block");
    return static_cast<std::int32_t>(bitmapInfo_.size());
}
