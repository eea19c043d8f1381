// SPDX-License-Identifier: GPL-2.0-or-later
#include "TargaReader.h"

#include "FileError.h"
#include "FileIO.h"
#include "FileRows.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>

namespace targa {

namespace {

// How a stored pixel becomes blue, green and red.
enum class Pixel { Grey8, Grey16, Index8, Index16, Colour15, Colour24, Colour32 };

Pixel PixelOf(const TargaHeader& t)
{
    switch (t.BaseType()) {
    case TargaHeader::kTypeColourMapped:
        return t.PixelDepth == 8 ? Pixel::Index8 : Pixel::Index16;
    case TargaHeader::kTypeGrey:
        return t.PixelDepth == 8 ? Pixel::Grey8 : Pixel::Grey16;
    default:
        return t.PixelDepth == 24 ? Pixel::Colour24 : t.PixelDepth == 32 ? Pixel::Colour32 : Pixel::Colour15;
    }
}

// A 5-bit channel widened to 8 bits by repeating its top bits.
inline std::uint8_t Widen5(unsigned v)
{
    v &= 31;
    return static_cast<std::uint8_t>(v << 3 | v >> 2);
}

// A 5-5-5 colour (the 16th bit, alpha, dropped) as blue, green, red.
inline void Put555(unsigned v, std::uint8_t* d)
{
    d[0] = Widen5(v);
    d[1] = Widen5(v >> 5);
    d[2] = Widen5(v >> 10);
}

// The colour map's entries as blue, green, red; stored index i is entry
// i - first.
struct Map {
    const std::uint8_t* bgr = nullptr;
    std::int64_t first = 0;
    std::int64_t length = 0;
};

std::string PastTheMap(unsigned index, const Map& map)
{
    return "colour index " + std::to_string(index) + " is past the map (entries " + std::to_string(map.first) +
           " to " + std::to_string(map.first + map.length - 1) + ")";
}

// Converts n stored pixels at s into d. Answers the reason a colour index
// cannot be looked up, or empty.
std::string Convert(Pixel kind, const std::uint8_t* s, std::int64_t n, std::uint8_t* d, const Map& map)
{
    switch (kind) {
    case Pixel::Colour24:
        std::memcpy(d, s, static_cast<std::size_t>(n) * 3);
        break;
    case Pixel::Colour32:
        for (std::int64_t i = 0; i < n; ++i, s += 4, d += 3)
            d[0] = s[0], d[1] = s[1], d[2] = s[2];
        break;
    case Pixel::Colour15:
        for (std::int64_t i = 0; i < n; ++i, s += 2, d += 3)
            Put555(static_cast<unsigned>(s[0] | s[1] << 8), d);
        break;
    case Pixel::Grey8:
        for (std::int64_t i = 0; i < n; ++i, ++s, d += 3)
            d[0] = d[1] = d[2] = s[0];
        break;
    case Pixel::Grey16: // the grey byte, then alpha
        for (std::int64_t i = 0; i < n; ++i, s += 2, d += 3)
            d[0] = d[1] = d[2] = s[0];
        break;
    case Pixel::Index8:
    case Pixel::Index16: {
        const int bytes = kind == Pixel::Index8 ? 1 : 2;
        for (std::int64_t i = 0; i < n; ++i, s += bytes, d += 3) {
            const unsigned index = bytes == 1 ? s[0] : static_cast<unsigned>(s[0] | s[1] << 8);
            const std::int64_t entry = static_cast<std::int64_t>(index) - map.first;
            if (entry < 0 || entry >= map.length)
                return PastTheMap(index, map);
            std::memcpy(d, map.bgr + entry * 3, 3);
        }
        break;
    }
    }
    return {};
}

// n copies of the 3-byte pixel p from d on: one pixel, then what is written
// so far copied after itself, doubling, so that a run of 128 pixels takes
// eight copies instead of 384 byte stores.
inline void Fill(std::uint8_t* d, std::int64_t n, const std::uint8_t* p)
{
    const auto bytes = static_cast<std::size_t>(n) * 3;
    if (p[0] == p[1] && p[1] == p[2]) {
        std::memset(d, p[0], bytes);
        return;
    }
    d[0] = p[0], d[1] = p[1], d[2] = p[2];
    for (std::size_t done = 3; done < bytes; done *= 2)
        std::memcpy(d + done, d, std::min(done, bytes - done));
}

void ReverseRow(std::uint8_t* row, std::int64_t width)
{
    for (std::int64_t a = 0, b = width - 1; a < b; ++a, --b)
        for (int c = 0; c < 3; ++c)
            std::swap(row[a * 3 + c], row[b * 3 + c]);
}

// The fewest bytes that run-length data of pixels pixels can take: packets
// of 128 repeated pixels.
std::int64_t LeastRunLengthBytes(const TargaHeader& t)
{
    const std::int64_t pixels = static_cast<std::int64_t>(t.Width) * t.Height;
    return (pixels + TargaHeader::kPacketMost - 1) / TargaHeader::kPacketMost * (1 + t.PixelBytes());
}

} // namespace

std::string HeaderProblem(const TargaHeader& t, std::int64_t fileSize)
{
    if (fileSize < static_cast<std::int64_t>(TargaHeader::kSize))
        return "too short for a Targa header";
    const int depth = t.PixelDepth;
    if (t.ImageType == TargaHeader::kTypeNoImage)
        return "holds no picture (image type 0)";
    if (t.ImageType > (TargaHeader::kTypeRunLength | TargaHeader::kTypeGrey) ||
        t.BaseType() < TargaHeader::kTypeColourMapped || t.BaseType() > TargaHeader::kTypeGrey)
        return "image type " + std::to_string(t.ImageType) + " is no Targa picture";
    switch (t.BaseType()) {
    case TargaHeader::kTypeColourMapped:
        if (depth != 8 && depth != 16)
            return "colour-mapped at " + std::to_string(depth) + " bits a pixel";
        if (t.ColorMapType == 0)
            return "colour-mapped without a colour map";
        if (const int bits = t.ColorMapEntryBits(); bits != 15 && bits != 16 && bits != 24 && bits != 32)
            return "a colour map of " + std::to_string(bits) + "-bit entries";
        break;
    case TargaHeader::kTypeTrueColour:
        if (depth != 15 && depth != 16 && depth != 24 && depth != 32)
            return "true colour at " + std::to_string(depth) + " bits a pixel";
        break;
    default:
        if (depth != 8 && depth != 16)
            return "grey at " + std::to_string(depth) + " bits a pixel";
        break;
    }
    if (t.Width == 0 || t.Height == 0)
        return "a width or height of 0 pixels";
    if (t.Width < 0 || t.Height < 0)
        return "a width or height past 32767 pixels";
    if (static_cast<std::int64_t>(t.Width) * t.Height * 3 > std::numeric_limits<std::int32_t>::max())
        return "too large a picture";
    if (t.Interleaved())
        return "interleaved rows (a TGA 1.0 layout)";
    if (fileSize < t.ColorMapStart())
        return "the file ends in its image-ID field";
    if (fileSize < t.PixelStart())
        return "the colour map is cut short: the header announces " + std::to_string(t.ColorMapLength()) +
               " entries";
    const std::int64_t data = fileSize - t.PixelStart();
    if (t.RunLength() ? data < LeastRunLengthBytes(t)
                      : data < static_cast<std::int64_t>(t.Width) * t.Height * t.PixelBytes())
        return t.RunLength() ? "run-length data ends early" : "the file ends before its last pixel";
    return {};
}

std::string KindName(const TargaHeader& t)
{
    const char* base = t.BaseType() == TargaHeader::kTypeColourMapped ? "colour-mapped"
                       : t.BaseType() == TargaHeader::kTypeGrey       ? "grey"
                                                                      : "true colour";
    return std::string(t.RunLength() ? "run-length " : "") + base + ", " + std::to_string(t.PixelDepth) +
           "-bit (type " + std::to_string(t.ImageType) + ")";
}

std::string Reader::DecodePixels(const TargaHeader& t, const std::uint8_t* data, std::size_t size)
{
    const Pixel kind = PixelOf(t);
    Map map;
    if (kind == Pixel::Index8 || kind == Pixel::Index16) {
        const std::int64_t length = t.ColorMapLength();
        const int entryBytes = (t.ColorMapEntryBits() + 7) / 8;
        map_.resize(static_cast<std::size_t>(length) * 3);
        const std::uint8_t* e = data + t.ColorMapStart();
        for (std::int64_t i = 0; i < length; ++i, e += entryBytes) {
            std::uint8_t* d = map_.data() + i * 3;
            if (entryBytes == 2)
                Put555(static_cast<unsigned>(e[0] | e[1] << 8), d);
            else
                d[0] = e[0], d[1] = e[1], d[2] = e[2];
        }
        map = {map_.data(), t.ColorMapFirst(), length};
    }

    const std::int64_t width = t.Width, height = t.Height, rowBytes = width * 3;
    const int pb = t.PixelBytes();
    pixels_.resize(static_cast<std::size_t>(rowBytes * height));
    const bool topFirst = t.TopRowFirst(), reversed = t.RightToLeft();
    const auto row = [&](std::int64_t k) { return pixels_.data() + (topFirst ? k : height - 1 - k) * rowBytes; };
    const std::uint8_t* s = data + t.PixelStart();
    const std::uint8_t* const end = data + size;

    if (!t.RunLength()) { // HeaderProblem has seen that every pixel is there
        for (std::int64_t k = 0; k < height; ++k, s += width * pb) {
            if (std::string why = Convert(kind, s, width, row(k), map); !why.empty())
                return why;
            if (reversed)
                ReverseRow(row(k), width);
        }
        return {};
    }

    std::int64_t k = 0, x = 0;
    std::uint8_t* r = row(0);
    // Places n converted pixels from src (or n copies of one) at the current
    // position, row after row.
    const auto advance = [&](std::int64_t n) {
        x += n;
        if (x == width) {
            if (reversed)
                ReverseRow(r, width);
            x = 0;
            if (++k < height)
                r = row(k);
        }
    };
    while (k < height) {
        if (s >= end)
            return "run-length data ends early";
        const std::uint8_t head = *s++;
        std::int64_t count = (head & ~TargaHeader::kPacketRun) + 1;
        if (count > (height - k) * width - x)
            return "run-length data overruns the picture";
        if (head & TargaHeader::kPacketRun) {
            if (end - s < pb)
                return "run-length data ends early";
            std::uint8_t p[3] = {};
            if (std::string why = Convert(kind, s, 1, p, map); !why.empty())
                return why;
            s += pb;
            while (count > 0) {
                const std::int64_t n = std::min(count, width - x);
                Fill(r + x * 3, n, p);
                count -= n;
                advance(n);
            }
        } else {
            if (end - s < count * pb)
                return "run-length data ends early";
            while (count > 0) {
                const std::int64_t n = std::min(count, width - x);
                if (std::string why = Convert(kind, s, n, r + x * 3, map); !why.empty())
                    return why;
                s += n * pb;
                count -= n;
                advance(n);
            }
        }
    }
    return {};
}

void Reader::Give(const TargaHeader& t, FrameImage& Image)
{
    Image.BitCount = 24;
    Image.Width = t.Width;
    Image.Height = t.Height;
    Image.Palette.clear();
    std::swap(Image.Bits, pixels_);
}

bool Reader::Decode(const std::uint8_t* data, std::size_t size, FrameImage& Image, std::string& why)
{
    if (size < TargaHeader::kSize) {
        why = "too short for a Targa header";
        return false;
    }
    const TargaHeader t = TargaHeader::Parse(data);
    why = HeaderProblem(t, static_cast<std::int64_t>(size));
    if (why.empty())
        why = DecodePixels(t, data, size);
    if (!why.empty())
        return false;
    Give(t, Image);
    return true;
}

bool Reader::Read(const std::string& FileName, FrameImage& Image, std::string& why)
{
    fileio::File file = fileio::File::OpenForReading(FileName);
    if (!file.ok())
        throw FileError(FileName, "cannot open the Targa file (" + fileio::ErrorText(errno) + ")");
    const auto cannotRead = [&] {
        return FileError(FileName, "cannot read the Targa file (" + fileio::ErrorText(errno ? errno : EIO) + ")");
    };
    std::uint8_t raw[TargaHeader::kSize] = {};
    const std::int64_t length = file.Length();
    const std::int64_t got = file.ReadAt(raw, sizeof raw, 0);
    if (got < 0 || length < 0)
        throw cannotRead();
    const TargaHeader t = TargaHeader::Parse(raw);
    why = HeaderProblem(t, got < static_cast<std::int64_t>(sizeof raw) ? got : length);
    if (!why.empty())
        return false;

    // The common screenshot goes straight from the file into its rows.
    if (t.ImageType == TargaHeader::kTypeTrueColour && t.PixelDepth == 24 && !t.RightToLeft()) {
        const auto rowBytes = static_cast<std::size_t>(t.Width) * 3;
        pixels_.resize(rowBytes * static_cast<std::size_t>(t.Height));
        if (!ReadRows(file, pixels_.data(), rowBytes, static_cast<std::size_t>(t.Height), t.PixelStart(),
                      !t.TopRowFirst()))
            throw cannotRead();
        Give(t, Image);
        return true;
    }

    // Any other kind is read whole, up to the most its pixels can take:
    // what follows (a TGA 2.0 extension area and footer) is not needed.
    const std::int64_t pixels = static_cast<std::int64_t>(t.Width) * t.Height;
    const std::int64_t most = t.PixelStart() + pixels * (t.RunLength() ? 1 + t.PixelBytes() : t.PixelBytes());
    const auto size = static_cast<std::size_t>(std::min(length, most));
    if (file_.size() < size)
        file_.resize(size);
    errno = 0;
    if (file.ReadAt(file_.data(), size, 0) != static_cast<std::int64_t>(size))
        throw cannotRead();
    why = DecodePixels(t, file_.data(), size);
    if (!why.empty())
        return false;
    Give(t, Image);
    return true;
}

} // namespace targa
