#include "TGA.h"

#include "BinaryFile.h"
#include "MsgBox.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>
#include <utility>

#include <csignal>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace binfile;

namespace {

constexpr std::size_t kTargaHeaderSize = 18;
constexpr std::uint8_t kTypeTrueColour = 2;
constexpr std::uint8_t kDescriptorTopFirst = 0x20;

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::size_t kPaletteSize = 256 * 4;
constexpr std::int32_t kPelsPerMeter = 2835; // 72 dots per inch
constexpr std::size_t kMaxPieces = 1024;     // IOV_MAX on Linux

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
        if (::unlink(was.c_str()) == 0 || errno == ENOENT)
            return 0;
        const int err = errno;
        if (failed)
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
    return dir + std::string(kKeptPrefix) + std::to_string(::getpid()) + std::string(kKeptSuffix);
}

// The process a kept file's name gives, or 0 when the name is not one.
pid_t KeptFileOwner(const std::string& name)
{
    if (name.size() <= kKeptPrefix.size() + kKeptSuffix.size() || name.rfind(kKeptPrefix, 0) != 0 ||
        name.compare(name.size() - kKeptSuffix.size(), kKeptSuffix.size(), kKeptSuffix) != 0)
        return 0;
    const std::string digits = name.substr(kKeptPrefix.size(), name.size() - kKeptPrefix.size() - kKeptSuffix.size());
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return static_cast<pid_t>(std::stol(digits));
}

// Gives the kept bitmap the name FileName and opens it for writing over;
// keptSize is its old length. An invalid Fd when none is kept or it cannot be
// used, and then nothing is left under either name.
Fd ReuseKept(const std::string& FileName, std::int64_t& keptSize)
{
    KeptBitmap& kept = Kept();
    if (kept.path.empty())
        return Fd();
    const std::string from = std::exchange(kept.path, {});
    // NOREPLACE: whatever appeared under the new name meanwhile is not ours
    // to overwrite; the ordinary path below deals with it.
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, FileName.c_str(), RENAME_NOREPLACE) != 0) {
        ::unlink(from.c_str());
        return Fd();
    }
    Fd fd(::open(FileName.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat st {};
    if (fd.ok() && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 &&
        st.st_uid == ::geteuid()) {
        keptSize = static_cast<std::int64_t>(st.st_size);
        return fd;
    }
    // Swapped for something else while it was kept: not written through.
    ::unlink(FileName.c_str());
    return Fd();
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
bool ReadRows(const Fd& file, std::uint8_t* dest, std::size_t rowBytes, std::size_t rows, std::int64_t offset,
              bool reversed)
{
    if (!reversed) {
        errno = 0;
        return file.ReadAt(dest, rowBytes * rows, offset) == static_cast<std::int64_t>(rowBytes * rows);
    }
    iovec pieces[kMaxPieces];
    std::size_t done = 0;
    while (done < rows) {
        const std::size_t batch = std::min(rows - done, kMaxPieces);
        for (std::size_t i = 0; i < batch; ++i)
            pieces[i] = {dest + (rows - 1 - done - i) * rowBytes, rowBytes};
        if (!file.ReadAllVAt(pieces, static_cast<int>(batch), offset + static_cast<std::int64_t>(done * rowBytes)))
            return false;
        done += batch;
    }
    return true;
}

} // namespace

const TargaHeader& LastTargaHeader()
{
    return g_lastHeader;
}

bool ReadTGA(const std::string& FileName, FrameImage& Image)
{
    Fd file = OpenForReading(FileName);
    if (!file.ok())
        throw FileError(FileName, "cannot open the Targa file (" + ErrnoText(errno) + ")");

    std::uint8_t raw[kTargaHeaderSize] = {};
    const std::int64_t got = file.ReadAt(raw, sizeof raw, 0);
    if (got < 0)
        throw FileError(FileName, "cannot read the Targa file (" + ErrnoText(errno) + ")");
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
        throw FileError(FileName, "cannot read the Targa pixels (" + ErrnoText(errno ? errno : EIO) + ")");
    return true;
}

bool ReadBMPRows(const std::string& FileName, const BitmapRowsFor& rowsFor)
{
    Fd file = OpenForReading(FileName);
    std::uint8_t h[kFileHeaderSize + kInfoHeaderSize] = {};
    if (!file.ok() || file.ReadAt(h, sizeof h, 0) != static_cast<std::int64_t>(sizeof h))
        return false;
    const std::uint8_t* ih = h + kFileHeaderSize;
    const std::int64_t offBits = GetU32(h + 10);
    const std::int32_t width = GetI32(ih + 4), height = GetI32(ih + 8);
    if (GetU16(h) != 0x4D42 || GetU32(ih) != kInfoHeaderSize || GetU16(ih + 12) != 1 || GetU16(ih + 14) != 24 ||
        GetU32(ih + 16) != 0 || width <= 0 || height <= 0 || offBits < static_cast<std::int64_t>(sizeof h))
        return false;
    const std::int64_t stride = (static_cast<std::int64_t>(width) * 3 + 3) / 4 * 4;
    // Refused before anything is read, so a short file leaves the caller's
    // rows as they were.
    if (stride > std::numeric_limits<std::int32_t>::max() / height || file.Length() < offBits + stride * height)
        return false;
    std::uint8_t* rows = rowsFor(width, height, static_cast<std::size_t>(stride));
    return rows && ReadRows(file, rows, static_cast<std::size_t>(stride), static_cast<std::size_t>(height), offBits,
                            true);
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

void WriteBMP(const std::string& FileName, FrameImage& Image)
{
    FlipRows(Image);

    const bool supported = Image.BitCount == 8 || Image.BitCount == 24;
    const bool hasPixels = supported && Image.Width > 0 && Image.Height > 0;
    const std::int64_t stride = ((static_cast<std::int64_t>(Image.Width) * Image.BitCount + 31) / 32) * 4;
    const std::int64_t sizeImage = hasPixels ? stride * Image.Height : 0;
    const std::uint32_t clrUsed = Image.BitCount == 8 ? 256 : 0;
    const std::int64_t offBits = static_cast<std::int64_t>(kFileHeaderSize + kInfoHeaderSize) + 4 * clrUsed;
    if (offBits + sizeImage > std::numeric_limits<std::int32_t>::max())
        throw FileError(FileName, "the picture is too large for a bitmap file");
    const std::size_t row = RowLength(Image);
    if (hasPixels && Image.Bits.size() < row * static_cast<std::size_t>(Image.Height))
        throw FileError(FileName, "the picture holds fewer pixel bytes than its size needs");

    std::uint8_t headers[kFileHeaderSize + kInfoHeaderSize] = {};
    std::uint8_t* fh = headers;
    PutU16(fh + 0, 0x4D42);
    PutU32(fh + 2, static_cast<std::uint32_t>(offBits + sizeImage));
    PutU32(fh + 10, static_cast<std::uint32_t>(offBits));
    std::uint8_t* ih = headers + kFileHeaderSize;
    PutU32(ih + 0, kInfoHeaderSize);
    PutU32(ih + 4, static_cast<std::uint32_t>(Image.Width));
    PutU32(ih + 8, static_cast<std::uint32_t>(Image.Height));
    PutU16(ih + 12, 1);
    PutU16(ih + 14, Image.BitCount);
    PutU32(ih + 20, static_cast<std::uint32_t>(sizeImage));
    PutU32(ih + 24, kPelsPerMeter);
    PutU32(ih + 28, kPelsPerMeter);
    PutU32(ih + 32, clrUsed);

    // Replace rather than overwrite, so nothing of an older, longer file
    // remains; a directory of that name is never touched.
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(FileName, ec);
    if (std::filesystem::is_directory(status))
        throw FileError(FileName, "cannot write the bitmap file: a directory has that name");
    if (std::filesystem::exists(status) && !std::filesystem::remove(FileName, ec))
        throw FileError(FileName, "cannot replace the bitmap file (" + ec.message() + ")");

    std::int64_t keptSize = -1;
    Fd out = ReuseKept(FileName, keptSize);
    if (!out.ok())
        out = Fd(::open(FileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!out.ok())
        throw FileError(FileName, "cannot create the bitmap file (" + ErrnoText(errno) + ")");

    std::vector<std::uint8_t> palette;
    std::vector<iovec> pieces;
    pieces.push_back({headers, sizeof headers});
    static std::uint8_t zeros[4] = {};
    if (!supported) {
        MsgBox("Image format unsupported", vbCritical | vbOKOnly, "Error");
    } else {
        if (Image.BitCount == 8) {
            palette.assign(kPaletteSize, 0);
            std::copy_n(Image.Palette.begin(), std::min(Image.Palette.size(), kPaletteSize), palette.begin());
            pieces.push_back({palette.data(), palette.size()});
        }
        if (hasPixels && static_cast<std::int64_t>(row) == stride) {
            pieces.push_back({Image.Bits.data(), static_cast<std::size_t>(sizeImage)});
        } else if (hasPixels) {
            // Each row goes out followed by its filler, straight from Bits.
            const std::size_t filler = static_cast<std::size_t>(stride) - row;
            for (std::size_t r = 0; r < static_cast<std::size_t>(Image.Height); ++r) {
                pieces.push_back({Image.Bits.data() + r * row, row});
                pieces.push_back({zeros, filler});
            }
        }
    }
    bool written = true;
    for (std::size_t at = 0; written && at < pieces.size(); at += kMaxPieces)
        written = out.WriteAll(pieces.data() + at, static_cast<int>(std::min(kMaxPieces, pieces.size() - at)));
    // A reused file that was longer keeps nothing beyond what was written now.
    if (written && keptSize >= 0) {
        const off_t end = ::lseek(out.get(), 0, SEEK_CUR);
        written = end >= 0 && (keptSize <= end || ::ftruncate(out.get(), end) == 0);
    }
    if (!written || !out.Close()) {
        const int err = errno;
        std::filesystem::remove(FileName, ec); // a torn bitmap is worse than none
        throw FileError(FileName, "cannot write the bitmap file (" + ErrnoText(err) + ")");
    }
}

int RetireBMP(const std::string& FileName)
{
    KeptBitmap& kept = Kept();
    if (kept.path.empty()) {
        std::string aside = KeptPathBeside(FileName);
        struct stat st {};
        if (::lstat(FileName.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::renameat2(AT_FDCWD, FileName.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) {
            kept.path = std::move(aside);
            return 0;
        }
    }
    if (::unlink(FileName.c_str()) == 0 || errno == ENOENT)
        return 0;
    return errno;
}

int ReleaseRetiredBMP(std::string& failedPath)
{
    return Kept().Release(&failedPath);
}

void RemoveOrphanedBMPs(const std::string& Directory)
{
    std::error_code ec;
    for (std::filesystem::directory_iterator it(Directory, ec), end; !ec && it != end; it.increment(ec)) {
        const pid_t owner = KeptFileOwner(it->path().filename().string());
        // A process of that number that is alive may be another run: its
        // file is left alone, even if the number was reused.
        if (owner <= 0 || owner == ::getpid() || ::kill(owner, 0) == 0 || errno != ESRCH)
            continue;
        struct stat st {};
        const std::string path = it->path().string();
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
            ::unlink(path.c_str());
    }
}
