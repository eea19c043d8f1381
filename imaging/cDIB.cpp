#include "cDIB.h"

#include "BinaryFile.h"
#include "MsgBox.h"

#include <cstring>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <system_error>

using namespace binfile;

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::int16_t kBitmapType = 0x4D42; // "BM"
const char* const kTitle = "Reelcast";
const char* const kCrLf = "\r\n";

bool IsPermissionFailure(int err)
{
    return err == EACCES || err == EPERM || err == EBUSY || err == ETXTBSY || err == EROFS;
}

} // namespace

cDIB::InfoHeader cDIB::ParseInfoHeader(const std::uint8_t* p)
{
    InfoHeader h;
    h.biSize = GetI32(p + 0);
    h.biWidth = GetI32(p + 4);
    h.biHeight = GetI32(p + 8);
    h.biPlanes = GetI16(p + 12);
    h.biBitCount = GetI16(p + 14);
    h.biCompression = GetI32(p + 16);
    h.biSizeImage = GetI32(p + 20);
    h.biXPelsPerMeter = GetI32(p + 24);
    h.biYPelsPerMeter = GetI32(p + 28);
    h.biClrUsed = GetI32(p + 32);
    h.biClrImportant = GetI32(p + 36);
    return h;
}

bool cDIB::CreateFromFile(const std::string& FileName)
{
    std::error_code ec;
    (void)std::filesystem::file_size(FileName, ec);
    if (ec) {
        MsgBox(std::string("File does not exist:") + kCrLf + FileName, vbCritical | vbOKOnly, kTitle);
        return false;
    }

    Fd file = OpenForReading(FileName);
    if (!file.ok()) {
        const int err = errno;
        if (IsPermissionFailure(err))
            MsgBox(std::string("File is locked - cannot access:") + kCrLf + FileName, vbCritical | vbOKOnly, kTitle);
        else
            MsgBox(ErrnoText(err), vbInformation | vbOKOnly, kTitle);
        return false;
    }
    const std::int64_t fileLength = file.Length();

    // Headers beyond the end of a short file read as zero; the size checks
    // below then refuse what the file cannot hold.
    std::uint8_t fh[kFileHeaderSize] = {};
    if (file.ReadAt(fh, sizeof fh, 0) < 0)
        throw FileError(FileName, "cannot read the bitmap file header (" + ErrnoText(errno) + ")");
    file_.bfType = GetI16(fh + 0);
    file_.bfSize = GetI32(fh + 2);
    file_.bfReserved1 = GetI16(fh + 6);
    file_.bfReserved2 = GetI16(fh + 8);
    file_.bfOffBits = GetI32(fh + 10);

    if (file_.bfType != kBitmapType) {
        MsgBox(std::string("File is not a supported bitmap format:") + kCrLf + FileName, vbInformation | vbOKOnly,
               kTitle);
        return false;
    }

    std::uint8_t ih[kInfoHeaderSize] = {};
    if (file.ReadAt(ih, sizeof ih, kFileHeaderSize) < 0)
        throw FileError(FileName, "cannot read the bitmap info header (" + ErrnoText(errno) + ")");
    info_ = ParseInfoHeader(ih);

    if (info_.biSizeImage == 0) {
        const std::int64_t stride = (static_cast<std::int64_t>(info_.biWidth) * info_.biBitCount + 31) / 32 * 4;
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

bool cDIB::CreateFromPackedDIBPointer(const void* pDIB)
{
    const auto* p = static_cast<const std::uint8_t*>(pDIB);
    info_ = ParseInfoHeader(p);
    // The file header's size is signed 32-bit like the rest.
    if (info_.biBitCount < 16 || info_.biSizeImage < 1 ||
        static_cast<std::int64_t>(kFileHeaderSize + kInfoHeaderSize) + info_.biSizeImage >
            std::numeric_limits<std::int32_t>::max())
        return false;

    bits_.assign(p + kInfoHeaderSize, p + kInfoHeaderSize + info_.biSizeImage);
    bitmapInfo_.assign(p, p + kInfoHeaderSize);
    file_.bfType = kBitmapType;
    file_.bfSize = static_cast<std::int32_t>(kFileHeaderSize + kInfoHeaderSize) + info_.biSizeImage;
    file_.bfReserved1 = 0;
    file_.bfReserved2 = 0;
    file_.bfOffBits = static_cast<std::int32_t>(kFileHeaderSize + kInfoHeaderSize);
    loaded_ = true;
    return true;
}

bool cDIB::WriteToFile(const std::string& FileName)
{
    Fd out(::open(FileName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!out.ok())
        return true;
    std::uint8_t fh[kFileHeaderSize] = {};
    PutU16(fh + 0, static_cast<std::uint16_t>(file_.bfType));
    PutU32(fh + 2, static_cast<std::uint32_t>(file_.bfSize));
    PutU16(fh + 6, static_cast<std::uint16_t>(file_.bfReserved1));
    PutU16(fh + 8, static_cast<std::uint16_t>(file_.bfReserved2));
    PutU32(fh + 10, static_cast<std::uint32_t>(file_.bfOffBits));
    // Each piece is written on its own and its failure ignored, so that as
    // much of the bitmap as possible reaches the file.
    (void)out.WriteAllAt(fh, sizeof fh, 0);
    (void)out.WriteAllAt(bitmapInfo_.data(), bitmapInfo_.size(), kFileHeaderSize);
    (void)out.WriteAllAt(bits_.data(), bits_.size(), static_cast<std::int64_t>(kFileHeaderSize + bitmapInfo_.size()));
    out.Close();
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
