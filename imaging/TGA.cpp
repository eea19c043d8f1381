#include "TGA.h"

#include "BitmapFormat.h"
#include "FileError.h"
#include "FileIO.h"
#include "LittleEndian.h"
#include "MsgBox.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>
#include <utility>


using namespace le;
using fileio::File;
using fileio::Piece;

namespace {

constexpr std::size_t kTargaHeaderSize = 18;
constexpr std::uint8_t kTypeTrueColour = 2;
constexpr std::uint8_t kDescriptorTopFirst = 0x20;

constexpr std::size_t kHeadersSize = bmp::kFileHeaderSize + bmp::kInfoHeaderSize;
constexpr std::size_t kPaletteSize = 256 * 4;
constexpr std::int32_t kPelsPerMeter = 2835; // 72 dots per inch

TargaHeader g_lastHeader;

// The one retired bitmap kept for reuse, deleted at the latest when the
// program ends normally.
struct KeptBitmap {
    std::string path;
    KeptBitmap() = default;
    KeptBitmap(const KeptBitmap&) = delete;
    KeptBitmap& operator=(const KeptBitmap&) = delete;
    ~KeptBitmap() { Release(); }
    // Answers 0, or the errno of a failed delete with the path it named.
    int Release(std::string* failed = nullptr)
    {
        if (path.empty())
            return 0;
        std::string was = std::exchange(path, {});
        const int err = fileio::Delete(was);
        if (err != 0 && failed)
            *failed = std::move(was);
        return err;
    }
};

KeptBitmap& Kept()
{
    static KeptBitmap kept;
    return kept;
}

// Hidden, and named after the process, so that two runs in one directory
// never share one.
constexpr std::string_view kKeptPrefix = ".reelcast-";
constexpr std::string_view kKeptSuffix = ".bmp.part";

std::string KeptPathBeside(const std::string& file)
{
    const std::size_t slash = file.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
    return dir + std::string(kKeptPrefix) + std::to_string(fileio::ProcessId()) + std::string(kKeptSuffix);
}

// The process a kept file's name gives, or 0 when the name is not one.
int KeptFileOwner(const std::string& name)
{
    if (name.size() <= kKeptPrefix.size() + kKeptSuffix.size() || name.rfind(kKeptPrefix, 0) != 0 ||
        name.compare(name.size() - kKeptSuffix.size(), kKeptSuffix.size(), kKeptSuffix) != 0)
        return 0;
    const std::string digits = name.substr(kKeptPrefix.size(), name.size() - kKeptPrefix.size() - kKeptSuffix.size());
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return static_cast<int>(std::stol(digits));
}

// Gives the kept bitmap the name FileName and opens it for writing over;
// keptSize is its old length. An invalid File when none is kept or it cannot
// be used, and then nothing is left under either name.
File ReuseKept(const std::string& FileName, std::int64_t& keptSize)
{
    KeptBitmap& kept = Kept();
    if (kept.path.empty())
        return File();
    const std::string from = std::exchange(kept.path, {});
    // Whatever appeared under the new name meanwhile is not ours to
    // overwrite; the ordinary path deals with it.
    if (!fileio::RenameNoReplace(from, FileName)) {
        fileio::Delete(from);
        return File();
    }
    File file = File::OpenOwnedForOverwrite(FileName, keptSize);
    if (!file.ok()) // swapped for something else while it was kept: not written through
        fileio::Delete(FileName);
    return file;
}

TargaHeader ParseTargaHeader(const std::uint8_t* h)
{
    TargaHeader t;
    t.IdLength = h[0];
    t.ColorMapType = h[1];
    t.ImageType = h[2];
    std::copy(h + 3, h + 8, t.ColorMapSpec);
    t.XOrigin = GetU16(h + 8);
    t.YOrigin = GetU16(h + 10);
    t.Width = GetI16(h + 12);
    t.Height = GetI16(h + 14);
    t.PixelDepth = h[16];
    t.Descriptor = h[17];
    return t;
}

// Bytes of colour map stored between the image-ID field and the pixels.
std::int64_t ColorMapBytes(const TargaHeader& t)
{
    if (t.ColorMapType == 0)
        return 0;
    const std::int64_t length = GetU16(t.ColorMapSpec + 2);
    const std::int64_t entryBits = t.ColorMapSpec[4];
    return length * ((entryBits + 7) / 8);
}

std::size_t RowLength(const FrameImage& image)
{
    switch (image.BitCount) {
    case 24:
        return static_cast<std::size_t>(image.Width) * 3;
    case 8:
        return static_cast<std::size_t>(image.Width);
    default:
        return 0;
    }
}

// Reads rows * rowBytes bytes from offset into dest, in the file's row order
// or, when reversed, with the file's first row landing in dest's last row.
bool ReadRows(const File& file, std::uint8_t* dest, std::size_t rowBytes, std::size_t rows, std::int64_t offset,
              bool reversed)
{
    if (!reversed) {
        errno = 0;
        return file.ReadAt(dest, rowBytes * rows, offset) == static_cast<std::int64_t>(rowBytes * rows);
    }
    std::vector<Piece> pieces(rows);
    for (std::size_t i = 0; i < rows; ++i)
        pieces[i] = {dest + (rows - 1 - i) * rowBytes, rowBytes};
    return file.ReadAllAt(pieces.data(), pieces.size(), offset);
}

} // namespace

const TargaHeader& LastTargaHeader()
{
    return g_lastHeader;
}

bool ReadTGA(const std::string& FileName, FrameImage& Image)
{
    File file = File::OpenForReading(FileName);
    if (!file.ok())
        throw FileError(FileName, "cannot open the Targa file (" + fileio::ErrorText(errno) + ")");

    std::uint8_t raw[kTargaHeaderSize] = {};
    const std::int64_t got = file.ReadAt(raw, sizeof raw, 0);
    if (got < 0)
        throw FileError(FileName, "cannot read the Targa file (" + fileio::ErrorText(errno) + ")");
    if (got < static_cast<std::int64_t>(sizeof raw))
        return false; // too short to be a Targa file: passed over
    g_lastHeader = ParseTargaHeader(raw);
    const TargaHeader& t = g_lastHeader;

    if (t.ImageType != kTypeTrueColour || t.PixelDepth != 24)
        return false;
    if (t.Width <= 0 || t.Height <= 0)
        return false;
    const std::int64_t rowBytes = static_cast<std::int64_t>(t.Width) * 3;
    const std::int64_t total = rowBytes * t.Height;
    if (total > std::numeric_limits<std::int32_t>::max())
        return false;
    const std::int64_t pixelStart = static_cast<std::int64_t>(kTargaHeaderSize) + t.IdLength + ColorMapBytes(t);
    // A truncated file is refused whole rather than half-decoded, so that the
    // movie repeats the previous picture instead of showing a torn one.
    if (file.Length() < pixelStart + total)
        return false;

    Image.BitCount = 24;
    Image.Width = t.Width;
    Image.Height = t.Height;
    Image.Palette.clear();
    Image.Bits.resize(static_cast<std::size_t>(total));

    // Most writers store the bottom row first; Bits holds the top row first.
    // The kernel scatters the rows straight to their places, so the
    // reversal costs no pass over the pixels.
    const bool topFirst = (t.Descriptor & kDescriptorTopFirst) != 0;
    if (!ReadRows(file, Image.Bits.data(), static_cast<std::size_t>(rowBytes), static_cast<std::size_t>(t.Height),
                  pixelStart, !topFirst))
        throw FileError(FileName, "cannot read the Targa pixels (" + fileio::ErrorText(errno ? errno : EIO) + ")");
    return true;
}

bool ReadBMPRows(const std::string& FileName, const BitmapRowsFor& rowsFor)
{
    File file = File::OpenForReading(FileName);
    std::uint8_t h[kHeadersSize] = {};
    if (!file.ok() || file.ReadAt(h, sizeof h, 0) != static_cast<std::int64_t>(sizeof h))
        return false;
    const auto fh = bmp::FileHeader::Parse(h);
    const auto ih = bmp::InfoHeader::Parse(h + bmp::kFileHeaderSize);
    const std::int64_t offBits = static_cast<std::uint32_t>(fh.bfOffBits);
    if (static_cast<std::uint16_t>(fh.bfType) != bmp::kType || ih.biSize != bmp::kInfoHeaderSize ||
        ih.biPlanes != 1 || ih.biBitCount != 24 || ih.biCompression != bmp::kRgb || ih.biWidth <= 0 ||
        ih.biHeight <= 0 || offBits < static_cast<std::int64_t>(sizeof h))
        return false;
    const std::int64_t stride = bmp::Stride(ih.biWidth, 24);
    // Refused before anything is read, so a short file leaves the caller's
    // rows as they were.
    if (!bmp::FitsFile(ih.biWidth, ih.biHeight, 24, 0) || file.Length() < offBits + stride * ih.biHeight)
        return false;
    std::uint8_t* rows = rowsFor(ih.biWidth, ih.biHeight, static_cast<std::size_t>(stride));
    return rows && ReadRows(file, rows, static_cast<std::size_t>(stride), static_cast<std::size_t>(ih.biHeight),
                            offBits, true);
}

void FlipRows(FrameImage& Image)
{
    const std::size_t row = RowLength(Image);
    if (row == 0 || Image.Height <= 1)
        return;
    const auto rows = static_cast<std::size_t>(Image.Height);
    if (Image.Bits.size() < row * rows)
        return;
    auto* bits = Image.Bits.data();
    std::vector<std::uint8_t> scratch(row);
    for (std::size_t top = 0, bottom = rows - 1; top < bottom; ++top, --bottom) {
        std::memcpy(scratch.data(), bits + top * row, row);
        std::memcpy(bits + top * row, bits + bottom * row, row);
        std::memcpy(bits + bottom * row, scratch.data(), row);
    }
}

namespace {

// A frame as the bytes of its bitmap file, in pieces that point into the
// frame itself where they can, so that the rows are not copied.
struct EncodedBitmap {
    std::uint8_t headers[kHeadersSize] = {};
    std::vector<std::uint8_t> palette;
    std::vector<Piece> pieces;
};

// Image's rows must already be bottom row first. A BitCount other than 8 or
// 24 gives the two headers only.
void EncodeBMP(FrameImage& Image, EncodedBitmap& out)
{
    const bool supported = Image.BitCount == 8 || Image.BitCount == 24;
    const bool hasPixels = supported && Image.Width > 0 && Image.Height > 0;
    const std::int64_t stride = bmp::Stride(Image.Width, Image.BitCount);
    const std::int64_t sizeImage = hasPixels ? stride * Image.Height : 0;
    const std::int32_t clrUsed = Image.BitCount == 8 ? 256 : 0;
    const std::int64_t offBits = static_cast<std::int64_t>(kHeadersSize) + 4 * clrUsed;

    bmp::FileHeader fh;
    fh.bfType = static_cast<std::int16_t>(bmp::kType);
    fh.bfSize = static_cast<std::int32_t>(offBits + sizeImage);
    fh.bfOffBits = static_cast<std::int32_t>(offBits);
    fh.Serialise(out.headers);
    bmp::InfoHeader ih;
    ih.biSize = bmp::kInfoHeaderSize;
    ih.biWidth = Image.Width;
    ih.biHeight = Image.Height;
    ih.biPlanes = 1;
    ih.biBitCount = Image.BitCount;
    ih.biSizeImage = static_cast<std::int32_t>(sizeImage);
    ih.biXPelsPerMeter = ih.biYPelsPerMeter = kPelsPerMeter;
    ih.biClrUsed = clrUsed;
    ih.Serialise(out.headers + bmp::kFileHeaderSize);

    out.pieces = {{out.headers, sizeof out.headers}};
    if (!supported)
        return;
    if (Image.BitCount == 8) {
        out.palette.assign(kPaletteSize, 0);
        std::copy_n(Image.Palette.begin(), std::min(Image.Palette.size(), kPaletteSize), out.palette.begin());
        out.pieces.push_back({out.palette.data(), out.palette.size()});
    }
    const std::size_t row = RowLength(Image);
    if (hasPixels && static_cast<std::int64_t>(row) == stride) {
        out.pieces.push_back({Image.Bits.data(), static_cast<std::size_t>(sizeImage)});
    } else if (hasPixels) {
        // Each row goes out followed by its filler, straight from Bits.
        static std::uint8_t zeros[4] = {};
        const std::size_t filler = static_cast<std::size_t>(stride) - row;
        for (std::size_t r = 0; r < static_cast<std::size_t>(Image.Height); ++r) {
            out.pieces.push_back({Image.Bits.data() + r * row, row});
            out.pieces.push_back({zeros, filler});
        }
    }
}

// Puts the bytes in place of whatever file has that name, over the kept
// bitmap when there is one, so that nothing of an older, longer file
// remains; a directory of that name is never touched.
void ReplaceFile(const std::string& FileName, const std::vector<Piece>& pieces)
{
    if (fileio::IsDirectory(FileName))
        throw FileError(FileName, "cannot write the bitmap file: a directory has that name");
    if (const int err = fileio::Delete(FileName); err != 0)
        throw FileError(FileName, "cannot replace the bitmap file (" + fileio::ErrorText(err) + ")");

    std::int64_t keptSize = -1;
    File out = ReuseKept(FileName, keptSize);
    if (!out.ok())
        out = File::Create(FileName);
    if (!out.ok())
        throw FileError(FileName, "cannot create the bitmap file (" + fileio::ErrorText(errno) + ")");
    bool written = out.WriteAll(pieces.data(), pieces.size());
    // A reused file that was longer keeps nothing beyond what was written now.
    if (written && keptSize >= 0)
        written = out.TruncateHere();
    if (!written || !out.Close()) {
        const int err = errno;
        fileio::Delete(FileName); // a torn bitmap is worse than none
        throw FileError(FileName, "cannot write the bitmap file (" + fileio::ErrorText(err) + ")");
    }
}

} // namespace

void WriteBMP(const std::string& FileName, FrameImage& Image)
{
    FlipRows(Image);
    const std::int64_t palette = Image.BitCount == 8 ? static_cast<std::int64_t>(kPaletteSize) : 0;
    if ((Image.BitCount == 8 || Image.BitCount == 24) &&
        !bmp::FitsFile(std::max(Image.Width, 0), std::max(Image.Height, 0), Image.BitCount,
                       static_cast<std::int64_t>(kHeadersSize) + palette))
        throw FileError(FileName, "the picture is too large for a bitmap file");
    const bool hasPixels = (Image.BitCount == 8 || Image.BitCount == 24) && Image.Width > 0 && Image.Height > 0;
    if (hasPixels && Image.Bits.size() < RowLength(Image) * static_cast<std::size_t>(Image.Height))
        throw FileError(FileName, "the picture holds fewer pixel bytes than its size needs");

    EncodedBitmap encoded;
    EncodeBMP(Image, encoded);
    if (Image.BitCount != 8 && Image.BitCount != 24)
        MsgBox("Image format unsupported", vbCritical | vbOKOnly, "Error");
    ReplaceFile(FileName, encoded.pieces);
}

int RetireBMP(const std::string& FileName)
{
    KeptBitmap& kept = Kept();
    if (kept.path.empty()) {
        std::string aside = KeptPathBeside(FileName);
        if (fileio::IsRegularFile(FileName) && fileio::RenameNoReplace(FileName, aside)) {
            kept.path = std::move(aside);
            return 0;
        }
    }
    return fileio::Delete(FileName);
}

int ReleaseRetiredBMP(std::string& failedPath)
{
    return Kept().Release(&failedPath);
}

void RemoveOrphanedBMPs(const std::string& Directory)
{
    std::error_code ec;
    for (std::filesystem::directory_iterator it(Directory, ec), end; !ec && it != end; it.increment(ec)) {
        const int owner = KeptFileOwner(it->path().filename().string());
        // A process of that number that is alive may be another run: its
        // file is left alone, even if the number was reused.
        const std::string path = it->path().string();
        if (owner != fileio::ProcessId() && fileio::ProcessIsGone(owner) && fileio::IsRegularFile(path, true))
            fileio::Delete(path);
    }
}
