// ReadTGA on arbitrary bytes, then the decoded frame through WriteBMP and
// back through cDIB: the way every frame travels to the movie.
#include "BitmapFile.h"
#include "FileError.h"
#include "FrameImage.h"
#include "FuzzSupport.h"
#include "TGA.h"
#include "cDIB.h"

#include <cstring>

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

    Notice why;
    try {
        // A decoded frame is always a format the bitmap takes.
        FUZZ_CHECK(WriteBMP(bmp, image, why) && why.text.empty());
    } catch (const FileError&) {
        return 0; // too large for a bitmap file: reported, not written
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
    return 0;
}
