#include "FileError.h"
#include "TGA.h"
#include "TestSupport.h"
#include "cDIB.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include <sys/stat.h>

using namespace testsupport;

namespace {

void PutU32(Bytes& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void PutU16(Bytes& b, std::size_t at, std::uint16_t v)
{
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// A bitmap file as the frame writer makes it.
std::string WriteFrameBitmap(const TempDir& dir, const std::string& name, int w, int h, unsigned seed = 0)
{
    FrameImage image;
    image.Width = w;
    image.Height = h;
    image.BitCount = 24;
    image.Bits = PatternPixels(w, h, seed);
    WriteBMP(dir.file(name), image);
    return dir.file(name);
}

Bytes BitmapFile(int w, int h, int bitCount, std::uint32_t offBits, std::uint32_t sizeImage, std::size_t pixelBytes)
{
    Bytes f(offBits + pixelBytes, 0);
    f[0] = 'B';
    f[1] = 'M';
    PutU32(f, 2, static_cast<std::uint32_t>(f.size()));
    PutU32(f, 10, offBits);
    PutU32(f, 14, 40);
    PutU32(f, 18, static_cast<std::uint32_t>(w));
    PutU32(f, 22, static_cast<std::uint32_t>(h));
    PutU16(f, 26, 1);
    PutU16(f, 28, static_cast<std::uint16_t>(bitCount));
    PutU32(f, 34, sizeImage);
    for (std::size_t i = 0; i < pixelBytes; ++i)
        f[offBits + i] = static_cast<std::uint8_t>(i * 3 + 1);
    return f;
}

} // namespace

TEST(cDIB, LoadsAFrameBitmap)
{
    TempDir dir;
    const std::string path = WriteFrameBitmap(dir, "f.bmp", 512, 384);
    cDIB dib;
    ASSERT_TRUE(dib.CreateFromFile(path));
    EXPECT_EQ(dib.SizeImage(), 589824);
    EXPECT_EQ(dib.SizeBitmapInfo(), 40);
    EXPECT_EQ(dib.BitOffset(), 54);
    EXPECT_EQ(dib.SizeInfoHeader(), 40);
    EXPECT_EQ(dib.BitCount(), 24);
    EXPECT_EQ(dib.Width(), 512);
    EXPECT_EQ(dib.Height(), 384);
    EXPECT_EQ(dib.Planes(), 1);
    EXPECT_EQ(dib.FileType(), 0x4D42);
    EXPECT_EQ(dib.SizeFileHeader(), 54 + 589824);
    EXPECT_EQ(dib.XPPM(), 2835);
    EXPECT_EQ(dib.YPPM(), 2835);
    const Bytes file = ReadFile(path);
    EXPECT_EQ(0, std::memcmp(dib.PointerToBits(), file.data() + 54, 589824));
    EXPECT_EQ(0, std::memcmp(dib.PointerToBitmapInfo(), file.data() + 14, 40));
}

TEST(cDIB, EightBitInfoBlockHoldsTheColourTable)
{
    TempDir dir;
    FrameImage image;
    image.Width = 4;
    image.Height = 4;
    image.BitCount = 8;
    image.Bits.assign(16, 3);
    for (int i = 0; i < 1024; ++i)
        image.Palette.push_back(static_cast<std::uint8_t>(i ^ 0x5A));
    WriteBMP(dir.file("e.bmp"), image);
    cDIB dib;
    ASSERT_TRUE(dib.CreateFromFile(dir.file("e.bmp")));
    EXPECT_EQ(dib.SizeBitmapInfo(), 1064);
    EXPECT_EQ(dib.ClrUsed(), 256);
    EXPECT_EQ(0, std::memcmp(dib.PointerToBitmapInfo() + 40, image.Palette.data(), 1024));
}

TEST(cDIB, ZeroSizeImageIsComputedButTheInfoBlockKeepsZero)
{
    TempDir dir;
    WriteFile(dir.file("z.bmp"), BitmapFile(3, 2, 24, 54, 0, 24));
    cDIB dib;
    ASSERT_TRUE(dib.CreateFromFile(dir.file("z.bmp")));
    EXPECT_EQ(dib.SizeImage(), 24);
    std::int32_t stored = -1;
    std::memcpy(&stored, dib.PointerToBitmapInfo() + 20, 4);
    EXPECT_EQ(stored, 0);
}

TEST(cDIB, AnyBitmapStartingWithBMIsTakenAsItIs)
{
    TempDir dir;
    Bytes rle = BitmapFile(4, 4, 8, 54, 16, 16);
    PutU32(rle, 30, 1);
    WriteFile(dir.file("rle.bmp"), rle);
    WriteFile(dir.file("four.bmp"), BitmapFile(8, 2, 4, 54, 8, 8));
    cDIB dib;
    MsgBoxRecorder boxes;
    EXPECT_TRUE(dib.CreateFromFile(dir.file("rle.bmp")));
    EXPECT_EQ(dib.Compression(), 1);
    EXPECT_TRUE(dib.CreateFromFile(dir.file("four.bmp")));
    EXPECT_EQ(dib.BitCount(), 4);
    EXPECT_TRUE(boxes.shown().empty());
}

TEST(cDIB, RejectionsSayWhatAndKeepThePreviousBitmap)
{
    TempDir dir;
    cDIB dib;
    ASSERT_TRUE(dib.CreateFromFile(WriteFrameBitmap(dir, "ok.bmp", 5, 3)));
    const std::uint8_t* bits = dib.PointerToBits();
    const Bytes previous(bits, bits + dib.SizeImage());

    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    png.resize(100, 0);
    WriteFile(dir.file("pic.png"), png);
    MsgBoxRecorder boxes;
    EXPECT_FALSE(dib.CreateFromFile(dir.file("pic.png")));
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].prompt, "File is not a supported bitmap format:\r\n" + dir.file("pic.png"));
    EXPECT_EQ(boxes.shown()[0].style, unsigned(vbInformation));
    EXPECT_EQ(boxes.shown()[0].title, "Reelcast");
    // The file header record now holds the rejected file's first 14 bytes...
    EXPECT_EQ(dib.FileType(), 0x5089);
    EXPECT_EQ(dib.SizeFileHeader(), 0x0A0D474E);
    EXPECT_EQ(dib.BitOffset(), 0x48490D00);
    // ...while the rest still describes the previous bitmap.
    EXPECT_EQ(dib.Width(), 5);
    EXPECT_EQ(dib.Height(), 3);
    EXPECT_EQ(dib.SizeImage(), static_cast<std::int32_t>(previous.size()));

    EXPECT_FALSE(dib.CreateFromFile(dir.file("nothing.bmp")));
    ASSERT_EQ(boxes.shown().size(), 2u);
    EXPECT_EQ(boxes.shown()[1].prompt, "File does not exist:\r\n" + dir.file("nothing.bmp"));
    EXPECT_EQ(boxes.shown()[1].style, unsigned(vbCritical));
    EXPECT_EQ(0, std::memcmp(dib.PointerToBits(), previous.data(), previous.size()));
}

TEST(cDIB, UnreadableFileIsReportedAsLocked)
{
    TempDir dir;
    const std::string path = WriteFrameBitmap(dir, "locked.bmp", 2, 2);
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(path.c_str(), 0200);
    const int result = RunAsUnprivileged([&] {
        MsgBoxRecorder boxes;
        cDIB dib;
        const bool loaded = dib.CreateFromFile(path);
        if (loaded || boxes.shown().size() != 1)
            return 1;
        const auto& shown = boxes.shown()[0];
        return shown.prompt == "File is locked - cannot access:\r\n" + path && shown.style == vbCritical ? 0 : 2;
    });
    EXPECT_EQ(result, 0);
}

TEST(cDIB, HeadersThatCannotDescribeTheFileAreCatchableErrors)
{
    TempDir dir;
    struct Case {
        const char* what;
        Bytes file;
    };
    std::vector<Case> cases;
    cases.push_back({"pixel data past the end", BitmapFile(4, 4, 24, 54, 0x7FFFFFF0, 6)});
    Bytes lowOffset = BitmapFile(2, 2, 24, 54, 16, 16);
    PutU32(lowOffset, 10, 0x7FFFFF00);
    cases.push_back({"offset past the end", lowOffset});
    PutU32(lowOffset, 10, 14);
    cases.push_back({"info block of 0 bytes", lowOffset});
    PutU32(lowOffset, 10, 0xFFFFFFF0);
    cases.push_back({"negative offset", lowOffset});
    cases.push_back({"size overflows", BitmapFile(0x7FFFFFFF, 0x7FFFFFFF, 24, 54, 0, 6)});
    cases.push_back({"top-down, size 0", BitmapFile(4, -4, 24, 54, 0, 64)});
    cases.push_back({"negative size", BitmapFile(4, 4, 24, 54, 0xFFFFFF00, 64)});
    Bytes tiny = BitmapFile(1, 1, 24, 54, 0, 0);
    tiny.resize(20);
    cases.push_back({"20-byte file", tiny});

    for (const auto& c : cases) {
        WriteFile(dir.file("bad.bmp"), c.file);
        cDIB dib;
        EXPECT_THROW(dib.CreateFromFile(dir.file("bad.bmp")), FileError) << c.what;
        EXPECT_THROW(dib.PointerToBits(), std::out_of_range) << c.what;
    }
}

TEST(cDIB, WriteToFileReproducesTheSource)
{
    TempDir dir;
    const std::string path = WriteFrameBitmap(dir, "src.bmp", 7, 5, 3);
    cDIB dib;
    ASSERT_TRUE(dib.CreateFromFile(path));
    EXPECT_TRUE(dib.WriteToFile(dir.file("copy.bmp")));
    EXPECT_EQ(ReadFile(dir.file("copy.bmp")), ReadFile(path));
    EXPECT_TRUE(dib.WriteToFile(dir.file("no/such/dir/x.bmp"))); // never reports
}

TEST(cDIB, PackedDibIsTakenOverOrRefused)
{
    Bytes packed(40 + 1200, 0);
    PutU32(packed, 0, 40);
    PutU32(packed, 4, 10);
    PutU32(packed, 8, 30);
    PutU16(packed, 12, 1);
    PutU16(packed, 14, 32);
    PutU32(packed, 20, 1200);
    for (std::size_t i = 40; i < packed.size(); ++i)
        packed[i] = static_cast<std::uint8_t>(i);
    cDIB dib;
    ASSERT_TRUE(dib.CreateFromPackedDIBPointer(packed.data()));
    EXPECT_EQ(dib.SizeBitmapInfo(), 40);
    EXPECT_EQ(dib.BitOffset(), 54);
    EXPECT_EQ(dib.SizeFileHeader(), 1254);
    EXPECT_EQ(0, std::memcmp(dib.PointerToBits(), packed.data() + 40, 1200));
    TempDir dir;
    dib.WriteToFile(dir.file("p.bmp"));
    const Bytes written = ReadFile(dir.file("p.bmp"));
    ASSERT_EQ(written.size(), 1254u);
    EXPECT_TRUE(std::equal(packed.begin(), packed.end(), written.begin() + 14));

    Bytes refused = packed;
    PutU16(refused, 14, 24);
    PutU32(refused, 20, 0);
    EXPECT_FALSE(dib.CreateFromPackedDIBPointer(refused.data()));
    EXPECT_EQ(dib.SizeImage(), 0); // the header record already took the refused DIB
    EXPECT_EQ(dib.SizeBitmapInfo(), 40); // the arrays did not
    PutU16(refused, 14, 8);
    PutU32(refused, 20, 100);
    EXPECT_FALSE(dib.CreateFromPackedDIBPointer(refused.data()));
}

TEST(cDIB, NewObjectHasNoArrays)
{
    cDIB dib;
    EXPECT_EQ(dib.Width(), 0);
    EXPECT_EQ(dib.SizeImage(), 0);
    EXPECT_THROW(dib.PointerToBits(), std::out_of_range);
    EXPECT_THROW(dib.PointerToBitmapInfo(), std::out_of_range);
    EXPECT_THROW(dib.SizeBitmapInfo(), std::out_of_range);
}
