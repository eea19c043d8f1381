// SPDX-License-Identifier: GPL-2.0-or-later
// The window's ReadTGA and reelcast-batch's reader of every Targa kind on
// arbitrary bytes, then the decoded frame through WriteBMP and back through
// cDIB: the way every frame travels to the movie. The batch reader's picture
// is held to a plain pixel-by-pixel decoding written from the format here.
#include "BitmapFile.h"
#include "FileError.h"
#include "FrameImage.h"
#include "FuzzSupport.h"
#include "TGA.h"
#include "TargaReader.h"
#include "cDIB.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

FrameImage Sentinel()
{
    FrameImage image;
    image.Width = 3;
    image.Height = 1;
    image.BitCount = 8;
    image.Palette.assign(256 * 4, 7);
    image.Bits = {1, 2, 3};
    return image;
}

bool Same(const FrameImage& a, const FrameImage& b)
{
    return a.Width == b.Width && a.Height == b.Height && a.BitCount == b.BitCount && a.Palette == b.Palette &&
           a.Bits == b.Bits;
}

std::uint8_t Wide5(unsigned v)
{
    v &= 31;
    return static_cast<std::uint8_t>(v << 3 | v >> 2);
}

// Pixel by pixel, from the format's definition: the picture, or nothing
// when the file cannot give one. Trusts the header checks of the reader
// (kinds, sizes), which it asks first.
bool Plain(const std::uint8_t* d, std::size_t size, std::vector<std::uint8_t>& out)
{
    const long w = static_cast<std::int16_t>(U16(d + 12)), h = static_cast<std::int16_t>(U16(d + 14));
    const int depth = d[16], type = d[2] & 7, pb = (depth + 7) / 8;
    const bool rle = d[2] & 8, top = d[17] & 0x20, rtl = d[17] & 0x10;
    const long first = U16(d + 3), length = d[1] ? U16(d + 5) : 0, entry = (d[7] + 7) / 8;
    std::size_t at = 18 + d[0];
    const std::size_t map = at;
    at += static_cast<std::size_t>(length * entry);
    out.assign(static_cast<std::size_t>(w * h * 3), 0);
    const auto colour = [&](const std::uint8_t* p, std::uint8_t* o) {
        unsigned v = p[0] | (pb > 1 ? p[1] << 8 : 0);
        if (type == 1) {
            if (static_cast<long>(v) < first || static_cast<long>(v) - first >= length)
                return false;
            p = d + map + (v - first) * entry;
            if (entry == 2)
                v = p[0] | p[1] << 8, o[0] = Wide5(v), o[1] = Wide5(v >> 5), o[2] = Wide5(v >> 10);
            else
                o[0] = p[0], o[1] = p[1], o[2] = p[2];
        } else if (type == 3)
            o[0] = o[1] = o[2] = p[0];
        else if (pb == 2)
            o[0] = Wide5(v), o[1] = Wide5(v >> 5), o[2] = Wide5(v >> 10);
        else
            o[0] = p[0], o[1] = p[1], o[2] = p[2];
        return true;
    };
    const auto place = [&](long i, const std::uint8_t* p) {
        const long row = i / w, col = i % w;
        return colour(p, out.data() + ((top ? row : h - 1 - row) * w + (rtl ? w - 1 - col : col)) * 3);
    };
    for (long i = 0; i < w * h;) {
        long count = 1;
        bool repeat = false;
        if (rle) {
            if (at >= size)
                return false;
            count = (d[at] & 0x7F) + 1, repeat = d[at] & 0x80, ++at;
            if (count > w * h - i)
                return false;
        }
        for (long n = 0; n < count; ++n, ++i) {
            if (at + pb > size || !place(i, d + at))
                return false;
            if (!repeat || n + 1 == count)
                at += pb;
        }
    }
    return true;
}

// A decoded frame goes through WriteBMP and comes back whole through cDIB.
void ThroughTheBitmap(FrameImage& image, const std::string& bmp)
{
    const auto width = static_cast<std::size_t>(image.Width);
    const auto height = static_cast<std::size_t>(image.Height);
    const std::size_t row = width * 3;
    Notice why;
    try {
        // A decoded frame is always a format the bitmap takes.
        FUZZ_CHECK(WriteBMP(bmp, image, why) && why.text.empty());
    } catch (const FileError&) {
        return; // too large for a bitmap file: reported, not written
    }
    // WriteBMP left the rows bottom first, the order of the bitmap file.
    cDIB dib;
    bool loaded = false;
    try {
        loaded = dib.CreateFromFile(bmp, why);
    } catch (const FileError&) {
        FUZZ_CHECK(!"a bitmap written by WriteBMP does not load");
    }
    FUZZ_CHECK(loaded && why.text.empty());
    const std::size_t stride = (row + 3) / 4 * 4;
    FUZZ_CHECK(dib.Width() == image.Width && dib.Height() == image.Height && dib.BitCount() == 24);
    FUZZ_CHECK(dib.SizeImage() == static_cast<std::int32_t>(stride * height));
    FUZZ_CHECK(dib.SizeBitmapInfo() == 40);
    const std::uint8_t* bits = dib.PointerToBits();
    for (std::size_t r = 0; r < height; ++r)
        FUZZ_CHECK(std::memcmp(bits + r * stride, image.Bits.data() + r * row, row) == 0);
}

// Every kind, through reelcast-batch's reader: from the file and from
// memory alike, the picture of the plain decoding, or refused with a reason
// and the image untouched.
void EveryKind(const std::uint8_t* data, std::size_t size, const std::string& tga, const std::string& bmp,
               const FrameImage* windows)
{
    static targa::Reader reader;
    FrameImage image = Sentinel(), fromMemory = Sentinel();
    std::string why, whyFromMemory;
    bool decoded = false;
    try {
        decoded = reader.Read(tga, image, why);
    } catch (const FileError&) {
        FUZZ_CHECK(!"the Targa reader threw on a readable file");
    }
    // Exactly size bytes, so that a read past them shows.
    const std::vector<std::uint8_t> exact(data, data + size);
    FUZZ_CHECK(reader.Decode(exact.data(), exact.size(), fromMemory, whyFromMemory) == decoded);
    FUZZ_CHECK(why == whyFromMemory);
    if (!decoded) {
        FUZZ_CHECK(!why.empty() && Same(image, Sentinel()) && Same(fromMemory, Sentinel()));
        return;
    }
    FUZZ_CHECK(why.empty() && Same(image, fromMemory));
    FUZZ_CHECK(image.BitCount == 24 && image.Palette.empty() && image.Width > 0 && image.Height > 0);
    FUZZ_CHECK(image.Width == static_cast<std::int16_t>(U16(data + 12)));
    FUZZ_CHECK(image.Height == static_cast<std::int16_t>(U16(data + 14)));
    std::vector<std::uint8_t> plain;
    FUZZ_CHECK(Plain(data, size, plain) && plain == image.Bits);
    // Where both readers take a file, they agree; the window's ignores the
    // right-to-left bit and the interleave bits.
    if (windows && (data[17] & 0xD0) == 0)
        FUZZ_CHECK(Same(image, *windows));
    ThroughTheBitmap(image, bmp);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static fuzz::ScratchFiles scratch{{fuzz::ScratchPath(".tga"), fuzz::ScratchPath(".bmp")}};
    const std::string& tga = scratch.paths[0];
    const std::string& bmp = scratch.paths[1];
    fuzz::WriteFile(tga, data, size);

    FrameImage image = Sentinel();
    bool decoded = false;
    try {
        decoded = ReadTGA(tga, image);
    } catch (const FileError&) {
        // A readable regular file must be decoded or passed over, never
        // half-read: the length check has to cover every pixel.
        FUZZ_CHECK(!"ReadTGA threw on a readable file");
    }
    if (!decoded) {
        FUZZ_CHECK(Same(image, Sentinel()));
        EveryKind(data, size, tga, bmp, nullptr);
        return 0;
    }

    // Where the pixels start according to the Targa layout itself.
    FUZZ_CHECK(size >= 18);
    std::size_t start = 18 + data[0];
    if (data[1] != 0)
        start += static_cast<std::size_t>(U16(data + 5)) * ((data[7] + 7u) / 8u);
    const auto width = static_cast<std::size_t>(image.Width);
    const auto height = static_cast<std::size_t>(image.Height);
    const std::size_t row = width * 3;
    FUZZ_CHECK(image.BitCount == 24 && image.Width > 0 && image.Height > 0);
    FUZZ_CHECK(image.Width == static_cast<std::int16_t>(U16(data + 12)));
    FUZZ_CHECK(image.Height == static_cast<std::int16_t>(U16(data + 14)));
    FUZZ_CHECK(image.Bits.size() == row * height);
    FUZZ_CHECK(start + row * height <= size);
    const bool topFirst = (data[17] & 0x20) != 0;
    for (std::size_t r = 0; r < height; ++r) {
        const std::size_t fileRow = topFirst ? r : height - 1 - r;
        FUZZ_CHECK(std::memcmp(image.Bits.data() + r * row, data + start + fileRow * row, row) == 0);
    }
    EveryKind(data, size, tga, bmp, &image);
    ThroughTheBitmap(image, bmp);
    return 0;
}
