#include "FileError.h"
#include "TestSupport.h"
#include "cDIB.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <tuple>

#include <sys/stat.h>

using namespace testsupport;

namespace {

// A bitmap file of any kind (compression 3 here); the pixel bytes count up
// from 1, the colour table fills the space up to offBits.
Bytes Dib(int w, int h, int bitCount, std::uint32_t offBits, std::uint32_t sizeImage, std::size_t pixelBytes)
{
    Bytes info = InfoHeader(w, h, bitCount, sizeImage), pixels(pixelBytes);
    info[16] = 3;
    info.resize(offBits - 14);
    for (std::size_t i = 0; i < pixelBytes; ++i)
        pixels[i] = static_cast<std::uint8_t>(i + 1);
    return BitmapFile(info, pixels);
}

} // namespace

// The pixel size, when the header leaves it 0, is rows of whole 32-bit words;
// the info block (colour table included) goes to the movie as the file has it.
TEST(cDIB, TakesAnyBitmapAsItIsAndComputesAMissingPixelSize)
{
    TempDir dir;
    const std::tuple<int, int, int, std::uint32_t, std::uint32_t, std::uint32_t> cases[] = {
        {5, 3, 24, 54, 0, 48}, {3, 2, 24, 54, 0, 24}, {8, 2, 4, 118, 0, 8}, {5, 3, 1, 62, 0, 12},
        {4, 4, 8, 1078, 16, 16}};
    MsgBoxRecorder boxes;
    for (const auto& [w, h, bitCount, offBits, sizeImage, pixels] : cases) {
        const Bytes file = Dib(w, h, bitCount, offBits, sizeImage, pixels);
        WriteFile(dir.file("f.bmp"), file);
        cDIB dib;
        ASSERT_TRUE(dib.CreateFromFile(dir.file("f.bmp"))) << bitCount;
        EXPECT_EQ(std::tuple(dib.Width(), dib.Height(), dib.BitCount(), dib.SizeImage()),
                  std::tuple(w, h, bitCount, int(pixels)));
        EXPECT_EQ(Bytes(dib.PointerToBitmapInfo(), dib.PointerToBitmapInfo() + dib.SizeBitmapInfo()),
                  Bytes(file.begin() + 14, file.begin() + offBits));
        EXPECT_EQ(Bytes(dib.PointerToBits(), dib.PointerToBits() + dib.SizeImage()),
                  Bytes(file.begin() + offBits, file.end()));
        const std::string copy = dir.file("copy" + std::to_string(offBits + pixels) + ".bmp");
        EXPECT_TRUE(dib.WriteToFile(copy));
        EXPECT_EQ(ReadFile(copy), file);
    }
    EXPECT_TRUE(boxes.shown().empty());
}

// Each refusal is told, naming the file; the bitmap loaded before stays.
TEST(cDIB, FilesItCannotTakeAreReportedAndThePreviousBitmapStays)
{
    TempDir dir;
    const Bytes previous = Dib(5, 3, 24, 54, 0, 48);
    WriteFile(dir.file("ok.bmp"), previous);
    WriteFile(dir.file("pic.png"), {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'});
    cDIB dib;
    ASSERT_TRUE(dib.CreateFromFile(dir.file("ok.bmp")));
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(dir.file("ok.bmp").c_str(), 0200); // unreadable for whoever runs the test, below
    MsgBoxRecorder boxes;
    EXPECT_FALSE(dib.CreateFromFile(dir.file("pic.png")));
    EXPECT_FALSE(dib.CreateFromFile(dir.file("nothing.bmp")));
    const auto named = [&](std::size_t i, const std::string& name) {
        return boxes.shown().size() > i && boxes.shown()[i].prompt.ends_with("\r\n" + dir.file(name));
    };
    EXPECT_EQ(RunAsUnprivileged([&] { return !cDIB().CreateFromFile(dir.file("ok.bmp")) && named(2, "ok.bmp") ? 0 : 1; }),
              0);
    EXPECT_TRUE(named(0, "pic.png") && named(1, "nothing.bmp") && boxes.shown().size() == 2);
    EXPECT_EQ(Bytes(dib.PointerToBits(), dib.PointerToBits() + 48), Bytes(previous.begin() + 54, previous.end()));
}

// Found by fuzzing: a header must never make the load read or allocate
// beyond the file.
TEST(cDIB, HeadersThatCannotDescribeTheFileAreCatchableErrors)
{
    TempDir dir;
    Bytes tiny = Dib(1, 1, 24, 54, 0, 0);
    tiny.resize(20);
    std::vector<std::pair<const char*, Bytes>> cases = {
        {"pixel data past the end", Dib(4, 4, 24, 54, 0x7FFFFFF0, 6)},
        {"size overflows", Dib(0x7FFFFFFF, 0x7FFFFFFF, 24, 54, 0, 6)},
        {"top-down, size 0", Dib(4, -4, 24, 54, 0, 64)},
        {"negative size", Dib(4, 4, 24, 54, 0xFFFFFF00, 64)},
        {"20-byte file", tiny}};
    const std::pair<const char*, std::uint32_t> offsets[] = {
        {"offset past the end", 0x7FFFFF00u}, {"info block of 0 bytes", 14u}, {"negative offset", 0xFFFFFFF0u}};
    for (const auto& [what, offBits] : offsets) {
        cases.push_back({what, Dib(2, 2, 24, 54, 16, 16)});
        std::memcpy(&cases.back().second[10], &offBits, 4); // little-endian, as the machines this runs on
    }
    for (const auto& [what, file] : cases) {
        WriteFile(dir.file("bad.bmp"), file);
        cDIB dib;
        EXPECT_THROW(dib.CreateFromFile(dir.file("bad.bmp")), FileError) << what;
        EXPECT_THROW(dib.PointerToBits(), std::out_of_range) << what;
    }
}

// Below 16 bits, below 1 byte of pixels, or with a file size past 32 bits, a
// packed bitmap is refused (before a byte is copied), and the arrays stay.
TEST(cDIB, PackedDibOfSixteenBitsAndSomePixelsIsTakenOver)
{
    cDIB dib;
    EXPECT_THROW(dib.PointerToBitmapInfo(), std::out_of_range) << "nothing loaded yet";
    const std::tuple<unsigned, unsigned, bool> cases[] = {
        {16, 600, true}, {24, 0x7FFFFFD0u, false}, {24, 0, false}, {8, 100, false}, {32, 1, true}};
    for (const auto& [bits, size, taken] : cases) {
        Bytes file = Dib(10, 30, int(bits), 54, size, 600);
        file[54] = static_cast<std::uint8_t>(bits);
        EXPECT_EQ(dib.CreateFromPackedDIBPointer(file.data() + 14), taken) << bits << " bits, " << size << " bytes";
        EXPECT_EQ(unsigned(dib.PointerToBits()[0]), taken ? bits : 16u) << bits;
    }
}
