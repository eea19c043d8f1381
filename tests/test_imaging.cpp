// SPDX-License-Identifier: GPL-2.0-or-later
// The imaging module: Targa frames to bitmaps and back, the DIB object, the
// resampler, the frame list and option values.
#include "BitmapFile.h"
#include "BitmapFormat.h"
#include "FileError.h"
#include "FileIO.h"
#include "FileListBox.h"
#include "FileRows.h"
#include "KeptBitmap.h"
#include "TGA.h"
#include "TestSupport.h"
#include "TextValue.h"
#include "cDIB.h"
#include "mdFile.h"
#include "modImageEffects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <tuple>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

namespace {

// A bitmap file of the picture (top row first), without a colour table.
Bytes Bmp(int width, int height, int bitCount, const Bytes& topDownRows)
{
    const Bytes rows = BitmapRows(width, height, topDownRows, bitCount / 8);
    return BitmapFile(InfoHeader(width, height, bitCount, static_cast<std::uint32_t>(rows.size())), rows);
}

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

// A report as a whole, for comparing.
std::tuple<std::string, unsigned, std::string> Told(const Notice& why)
{
    return {why.text, why.style, why.title};
}

// Whether the window's direct read declines the file before asking for rows.
bool DirectReadDeclines(const std::string& file)
{
    bool asked = false;
    return !ReadBMPRows(file, [&](std::int32_t, std::int32_t, std::size_t) {
        return asked = true, static_cast<std::uint8_t*>(nullptr);
    }) && !asked;
}

std::vector<std::string> Names(const TempDir& dir) // hidden ones included
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        names.push_back(e.path().filename().string());
    return std::sort(names.begin(), names.end()), names;
}

} // namespace

// Targa -> frame -> bitmap -> the window's direct read, byte for byte, whatever
// the padding, origin, ID field, colour map or footer; one frame for all, as in a run.
// The direct read takes nothing but such bitmaps.
TEST(TargaToBitmap, EveryStepHoldsThePictureByteForByte)
{
    std::vector<std::tuple<int, int, TargaOptions>> cases = {
        {5, 1100, {}}, // more rows than one scattered read or write takes
        {5, 4, {false, 17, 0, false}}, {5, 4, {true, 255, 4, true}}, {7, 1, {false, 0, 3, false}}};
    for (int w = 1; w <= 8; ++w)
        cases.insert(cases.end(), {{w, 3, {}}, {w, 2, {true, 12, 0, true}}}); // the latter as FFmpeg writes
    TempDir dir;
    const std::string tga = dir.file("f.tga"), bmp = dir.file("f.tga.bmp");
    MsgBoxRecorder boxes; // every report goes to the caller, none is shown
    FrameImage image; // as at program start: nothing read yet, a file of headers only
    Notice unsupported;
    EXPECT_FALSE(WriteBMP(bmp, image, unsupported));
    EXPECT_EQ(Told(unsupported), Told({"Image format unsupported", vbCritical | vbOKOnly, "Error"}));
    EXPECT_EQ(ReadFile(bmp), Bmp(0, 0, 0, {}));
    for (const auto& [w, h, o] : cases) {
        SCOPED_TRACE(testing::Message() << w << "x" << h << " top " << o.topFirst << " id " << int(o.idLength));
        const Bytes picture = PatternPixels(w, h, static_cast<unsigned>(w + h));
        WriteFile(tga, MakeTarga(w, h, picture, o));
        image.Palette.assign(1024, 9);
        ASSERT_TRUE(ReadTGA(tga, image));
        EXPECT_EQ(std::tuple(image.Width, image.Height, image.BitCount, image.Palette.size(), image.Bits),
                  std::tuple(w, h, 24, 0u, picture));
        Notice why{"untouched", vbCritical, "t"};
        EXPECT_TRUE(WriteBMP(bmp, image, why));
        EXPECT_EQ(Told(why), Told({"untouched", vbCritical, "t"}));
        EXPECT_EQ(ReadFile(bmp), Bmp(w, h, 24, picture));
        const std::size_t stride = (w * 3u + 3) / 4 * 4;
        Bytes rows;
        ASSERT_TRUE(ReadBMPRows(bmp, [&](std::int32_t gotW, std::int32_t gotH, std::size_t gotStride) {
            EXPECT_EQ(std::tuple(gotW, gotH, gotStride), std::tuple(w, h, stride));
            return rows.assign(stride * h, 0xEE), rows.data();
        }));
        // Top row first, with the file's filler; Bits are left bottom row
        // first, as the file holds them.
        EXPECT_EQ(rows, BitmapRows(w, h, image.Bits));
    }
    // Any other file is declined before the rows are asked for: each header
    // field the read relies on changed in turn (type, info size, width,
    // height, planes, bits, compression, pixel offset), a byte short, none.
    const Bytes good = ReadFile(bmp);
    const std::pair<std::size_t, std::uint8_t> changes[] = {{0, 'C'}, {14, 56}, {18, 0}, {25, 0x80},
                                                            {26, 2}, {28, 8}, {30, 1}, {10, 53}};
    for (const auto& [at, value] : changes) {
        Bytes other = good;
        other[at] = value;
        WriteFile(bmp, other);
        EXPECT_TRUE(DirectReadDeclines(bmp)) << "byte " << at;
    }
    WriteFile(bmp, Bytes(good.begin(), good.end() - 1));
    for (const std::string& file : {tga, bmp, dir.file("none.bmp")})
        EXPECT_TRUE(DirectReadDeclines(file)) << file;
    EXPECT_TRUE(boxes.shown().empty());
}

// Bitmaps are never written through a directory or a link, and one retired
// file is kept hidden, to take the next bitmap whole, until it is released.
TEST(WriteBMP, NeverWritesThroughADirectoryOrALinkAndKeepsOneRetiredFileUntilReleased)
{
    TempDir dir, elsewhere;
    Notice why;
    const auto refusal = [&](const std::string& path, FrameImage image) -> std::string {
        try {
            return WriteBMP(path, image, why), "written";
        } catch (const FileError& e) {
            return e.path() == path ? e.trouble() : "another path";
        }
    };
    FrameImage image{40, 30, 24, {}, PatternPixels(40, 30)};
    EXPECT_EQ(refusal(elsewhere.file("no/such/dir/x.bmp"), image),
              "cannot create the bitmap file (" + fileio::ErrorText(ENOENT) + ")");
    std::filesystem::create_directories(elsewhere.file("d.bmp/keep"));
    EXPECT_EQ(refusal(elsewhere.file("d.bmp"), image), "cannot write the bitmap file: a directory has that name");
    EXPECT_TRUE(std::filesystem::exists(elsewhere.file("d.bmp/keep")));
    EXPECT_EQ(refusal(dir.file("x.bmp"), {30000, 30000, 24, {}, {}}), "the picture is too large for a bitmap file");
    EXPECT_EQ(refusal(dir.file("x.bmp"), {4, 4, 24, {}, Bytes(47)}),
              "the picture holds fewer pixel bytes than its size needs");
    EXPECT_EQ(refusal(dir.file("a.bmp"), image), "written");
    ASSERT_EQ(RetireBMP(dir.file("a.bmp")), 0);
    ASSERT_TRUE(Names(dir).size() == 1 && Names(dir)[0][0] == '.') << "the name is gone; the file is kept hidden";
    // The kept, longer file takes the next bitmap: what a fresh file holds.
    struct stat kept {}, taken {};
    ASSERT_EQ(::stat(dir.file(Names(dir)[0]).c_str(), &kept), 0);
    image = {3, 2, 24, {}, PatternPixels(3, 2, 2)};
    WriteBMP(dir.file("b.bmp"), image, why);
    EXPECT_EQ(Names(dir), std::vector<std::string>{"b.bmp"});
    EXPECT_TRUE(::stat(dir.file("b.bmp").c_str(), &taken) == 0 && taken.st_ino == kept.st_ino) << "written over";
    EXPECT_EQ(ReadFile(dir.file("b.bmp")), Bmp(3, 2, 24, PatternPixels(3, 2, 2)));
    ASSERT_EQ(RetireBMP(dir.file("b.bmp")), 0);
    // The kept file swapped for a link: the link goes, its target stays.
    WriteFile(elsewhere.file("victim"), Bytes(100, 0x5A));
    const std::string link = dir.file(Names(dir)[0]);
    ASSERT_EQ(::unlink(link.c_str()) | ::symlink(elsewhere.file("victim").c_str(), link.c_str()), 0);
    image = {40, 30, 24, {}, PatternPixels(40, 30)};
    WriteBMP(dir.file("d.bmp"), image, why);
    EXPECT_EQ(ReadFile(elsewhere.file("victim")), Bytes(100, 0x5A));
    EXPECT_EQ(ReadFile(dir.file("d.bmp")), Bmp(40, 30, 24, PatternPixels(40, 30)));
    EXPECT_EQ(Names(dir), std::vector<std::string>{"d.bmp"});
    ASSERT_EQ(RetireBMP(dir.file("d.bmp")), 0);
    WriteFile(elsewhere.file("second.bmp"), Bytes(10, 1));
    EXPECT_EQ(RetireBMP(elsewhere.file("second.bmp")) | RetireBMP(dir.file("never-written.bmp")), 0);
    EXPECT_EQ(Names(dir).size(), 1u) << "one file is kept at most";
    EXPECT_EQ(Names(elsewhere), (std::vector<std::string>{"d.bmp", "victim"}));
    std::string failed;
    EXPECT_EQ(ReleaseRetiredBMP(failed), 0);
    EXPECT_TRUE(Names(dir).empty());
    EXPECT_EQ(ReleaseRetiredBMP(failed), 0) << "nothing left to release";
}

// Each refusal is reported to the caller, not shown, naming the file; the
// bitmap loaded before stays.
TEST(cDIB, FilesItCannotTakeAreReportedAndThePreviousBitmapStays)
{
    TempDir dir;
    const Bytes previous = Dib(5, 3, 24, 54, 0, 48);
    WriteFile(dir.file("ok.bmp"), previous);
    WriteFile(dir.file("other.bmp"), previous);
    WriteFile(dir.file("pic.png"), {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'});
    cDIB dib;
    Notice why;
    ASSERT_TRUE(dib.CreateFromFile(dir.file("ok.bmp"), why));
    EXPECT_EQ(why.text, "");
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(dir.file("ok.bmp").c_str(), 0200); // unreadable for whoever runs the test, below
    MsgBoxRecorder boxes;
    const auto told = [&](const std::string& name) {
        Notice why;
        const bool loaded = dib.CreateFromFile(dir.file(name), why);
        return std::tuple(loaded, Told(why));
    };
    const auto report = [&](const std::string& text, unsigned icon) {
        return std::tuple(false, Told({text, icon | vbOKOnly, "Reelcast"}));
    };
    EXPECT_EQ(told("pic.png"), report("File is not a supported bitmap format:\r\n" + dir.file("pic.png"), vbInformation));
    EXPECT_EQ(told("nothing.bmp"), report("File does not exist:\r\n" + dir.file("nothing.bmp"), vbCritical));
    // Any reason but a permission is told in the system's words.
    EXPECT_EQ(RunAsUnprivileged([&] {
                  const rlimit none{0, 0};
                  return told("ok.bmp") != report("File is locked - cannot access:\r\n" + dir.file("ok.bmp"), vbCritical)
                             ? 1
                         : ::setrlimit(RLIMIT_NOFILE, &none) != 0                                  ? 2
                         : told("other.bmp") != report(fileio::ErrorText(EMFILE), vbInformation) ? 3
                                                                                                   : 0;
              }),
              0);
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_EQ(Bytes(dib.PointerToBits(), dib.PointerToBits() + 48), Bytes(previous.begin() + 54, previous.end()));
}

// Found by fuzzing: a header must never make a load read or allocate beyond
// the file. Neither cDIB nor the window's direct read takes these, nor the
// inputs that once made a fuzz target fail (tests/data/regress/). Below 16
// bits, below 1 byte of pixels, or with a file size past 32 bits, a packed
// bitmap is refused before a byte is copied.
TEST(cDIB, HeadersThatCannotDescribeTheBitmapAreRefusedAndNothingIsTaken)
{
    Bytes tiny = Dib(1, 1, 24, 54, 0, 0);
    tiny.resize(20);
    std::vector<std::pair<std::string, Bytes>> cases = {
        {"pixel data past the end", Dib(4, 4, 24, 54, 0x7FFFFFF0, 6)},
        {"size overflows", Dib(0x7FFFFFFF, 0x7FFFFFFF, 24, 54, 0, 6)},
        {"top-down, size 0", Dib(4, -4, 24, 54, 0, 64)},
        {"no rows", Dib(4, 0, 24, 54, 0, 64)}, {"20-byte file", tiny}};
    for (const auto& [what, offBits] :
         {std::pair("offset past the end", 0x7FFFFF00u), std::pair("info block of 0 bytes", 14u)}) {
        cases.push_back({what, Dib(2, 2, 24, 54, 16, 16)});
        std::memcpy(&cases.back().second[10], &offBits, 4); // little-endian, as the machines this runs on
    }
    for (const auto& entry : std::filesystem::directory_iterator(REELCAST_TEST_DATA "/regress/fuzz_cdib"))
        cases.push_back({entry.path().string(), ReadFile(entry.path().string())});
    ASSERT_EQ(cases.size(), 9u) << "two inputs in tests/data/regress/fuzz_cdib";
    TempDir dir;
    for (const auto& [what, file] : cases) {
        WriteFile(dir.file("bad.bmp"), file);
        cDIB dib;
        Notice why;
        EXPECT_THROW(dib.CreateFromFile(dir.file("bad.bmp"), why), FileError) << what;
        EXPECT_THROW(dib.PointerToBits(), std::out_of_range) << what;
        EXPECT_TRUE(DirectReadDeclines(dir.file("bad.bmp"))) << what;
    }
    // Frames taken from memory are refused for what they are, before anything is taken.
    const std::pair<FrameImage, const char*> frames[] = {
        {{4, 2, 8, Bytes(1024, 7), Bytes(8, 1)}, "Image format unsupported"},
        {{0, 2, 24, {}, {}}, "the picture has no pixels"},
        {{4, 2, 24, {}, Bytes(23, 1)}, "the picture holds fewer pixel bytes than its size needs"}};
    for (const auto& [frame, said] : frames) {
        cDIB dib;
        std::string why;
        EXPECT_EQ(std::tuple(dib.CreateFromImage(frame, why), why), std::tuple(false, said));
        EXPECT_THROW(dib.PointerToBits(), std::out_of_range) << said;
        EXPECT_THROW(dib.PointerToBitmapInfo(), std::out_of_range) << said;
    }
}

// Nearest pixel, halves to even; positions past a row's end read on into the
// next row, past the last pixel byte they give zero pixels. 8-bit pictures
// are resampled a byte a pixel, and written with their palette; other depths
// are left alone.
TEST(ResampleImage, TakesTheNearestPixelReadsOnPastTheEdgeThenZeroes)
{
    FrameImage image{4, 2, 8, Bytes(1024, 7), {1, 2, 3, 4, 5, 6, 7, 8}};
    ResampleImage(image, 8, 4); // positions 0, 0.5, 1, 1.5 ...: columns 0 0 1 2 2 2 3 4, rows 0 0 1 2
    TempDir dir;
    Notice why;
    ASSERT_TRUE(WriteBMP(dir.file("p.bmp"), image, why));
    Bytes info = InfoHeader(8, 4, 8, 32);
    info[33] = 1; // 256 colours used
    info.insert(info.end(), 1024, 7);
    Bytes resampled = {1, 1, 2, 3, 3, 3, 4, 5, 1, 1, 2, 3, 3, 3, 4, 5, 5, 5, 6, 7, 7, 7, 8, 0};
    resampled.resize(32); // the last row starts past the last pixel byte
    EXPECT_EQ(ReadFile(dir.file("p.bmp")), BitmapFile(info, BitmapRows(8, 4, resampled, 1)));
    image = {2, 2, 24, {}, {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4}};
    ResampleImage(image, 5, 5);
    const int source[5][5] = {{1, 1, 2, 2, 3}, {1, 1, 2, 2, 3}, {3, 3, 4, 4, 0}, {3, 3, 4, 4, 0}, {0, 0, 0, 0, 0}};
    ASSERT_EQ(std::tuple(image.Width, image.Height, image.Bits.size()), std::tuple(5, 5, 75u));
    for (int i = 0; i < 75; ++i)
        EXPECT_EQ(image.Bits[i], source[i / 15][i % 15 / 3]) << "pixel " << i / 3;
    image = {1, 1, 32, {}, {1, 2, 3, 4}};
    ResampleImage(image, 2, 2);
    EXPECT_EQ(std::tuple(image.Width, image.Height, image.Bits), std::tuple(1, 1, Bytes{1, 2, 3, 4}));
}

// A read that meets the file's end fails, with no stale error left to be
// told as its reason; a whole read succeeds.
TEST(FileRows, ReadsPastTheEndFailWithoutAStaleError)
{
    TempDir dir;
    WriteFile(dir.file("f"), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    const fileio::File file = fileio::File::OpenForReading(dir.file("f"));
    std::uint8_t rows[8] = {};
    for (const bool reversed : {false, true}) {
        errno = EINTR;
        EXPECT_EQ(std::tuple(ReadRows(file, rows, 4, 2, 4, reversed), errno), std::tuple(false, 0)) << reversed;
        EXPECT_TRUE(ReadRows(file, rows, 4, 2, 2, reversed));
        const Bytes expected = reversed ? Bytes{7, 8, 9, 10, 3, 4, 5, 6} : Bytes{3, 4, 5, 6, 7, 8, 9, 10};
        EXPECT_EQ(Bytes(rows, rows + 8), expected);
    }
}

// The two bitmap headers hold their fields at the offsets the format gives,
// little-endian, and are written back byte for byte.
TEST(BitmapHeaders, FieldsSitAtTheFormatsOffsets)
{
    std::uint8_t bytes[54], again[54] = {};
    for (int i = 0; i < 54; ++i)
        bytes[i] = static_cast<std::uint8_t>(i + 1);
    const auto fh = bmp::FileHeader::Parse(bytes);
    const auto ih = bmp::InfoHeader::Parse(bytes + 14);
    EXPECT_EQ(std::tuple(fh.bfType, fh.bfSize, fh.bfReserved1, fh.bfReserved2, fh.bfOffBits),
              std::tuple(0x0201, 0x06050403, 0x0807, 0x0A09, 0x0E0D0C0B));
    EXPECT_EQ(std::tuple(ih.biSize, ih.biWidth, ih.biHeight, ih.biPlanes, ih.biBitCount, ih.biCompression),
              std::tuple(0x1211100F, 0x16151413, 0x1A191817, 0x1C1B, 0x1E1D, 0x2221201F));
    EXPECT_EQ(std::tuple(ih.biSizeImage, ih.biXPelsPerMeter, ih.biYPelsPerMeter, ih.biClrUsed, ih.biClrImportant),
              std::tuple(0x26252423, 0x2A292827, 0x2E2D2C2B, 0x3231302F, 0x36353433));
    fh.Serialise(again);
    ih.Serialise(again + 14);
    EXPECT_TRUE(std::equal(bytes, bytes + 54, again));
}

// A file's extension is what follows its name's last dot, in small letters;
// a dot in a folder's name, or none at all, gives none.
TEST(GetExtension, TakesTheLastDotOfTheNameInSmallLetters)
{
    const std::pair<const char*, const char*> cases[] = {
        {"shot0001.TGA", "tga"}, {"a.b.BmP", "bmp"}, {"/frames.d/shot", ""}, {"C:\\frames.d\\shot", ""},
        {"C:shot", ""},          {"noext", ""},       {"trailing.", ""},        {"x.AZaz09", "azaz09"}};
    for (const auto& [path, extension] : cases)
        EXPECT_EQ(GetExtension(path), extension) << path;
}

TEST(FileListBox, ListsOnlyTargaFilesInCaseBlindOrderAndGetNextWalksPastTheEnd)
{
    TempDir dir;
    for (const char* name : {"clip2.tga", "Clip10.tga", "b.TGA", "a.Tga", "notes.txt", "x.tga.bmp", "tga", "c.tgax"})
        WriteFile(dir.file(name), {});
    std::filesystem::create_directory(dir.file("dir.tga"));
    FileListBox fle;
    fle.SetPath(dir.path().string() + "/");
    std::vector<std::string> walked;
    std::int64_t index = 0;
    for (int i = 0; i < 6; ++i)
        walked.push_back(GetNext(fle, index));
    EXPECT_EQ(walked, (std::vector<std::string>{"a.Tga", "b.TGA", "Clip10.tga", "clip2.tga", "", ""}));
    EXPECT_EQ(std::tuple(index, fle.Path(), fle.ListError()), std::tuple(6, dir.path().string(), ""));
    fle.SetPath(dir.file("missing"));
    EXPECT_TRUE(fle.ListCount() == 0 && !fle.ListError().empty());
}

// The leading number, blanks ignored, 0 for none, with a full stop for the
// decimal point; rounding halves to even and clamps.
TEST(TextValue, LeadingNumberInAnyLocaleRoundedHalfToEvenAndClamped)
{
    const std::pair<const char*, double> cases[] = {
        {"15", 15}, {"99.9", 99.9}, {"&H19", 25}, {"5 12", 512}, {" \t1\n5 ", 15}, {"12abc", 12}, {"-3", -3}, {"+7", 7}, {"15.5", 15.5},
        {".5", 0.5}, {"1.5e2", 150}, {"1.5D2", 150}, {"2E-1", 0.2}, {"2e", 2}, {"2e+x", 2}, {"1.2.3", 1.2},
        {"1,5", 1}, {"&H1F", 31}, {"&hff", 255}, {"&O17", 15}, {"&o19", 1}, {"& H 1 0", 16}, {"&H", 0},
        {"", 0}, {" ", 0}, {"abc", 0}, {"-", 0}, {".", 0}, {"e5", 0}, {"inf", 0}, {"nan", 0}, {"0x10", 0},
        {"&", 0}, {"&X1", 0}, {"--1", 0}, {"&ha", 10}, {"&HA", 10}};
    for (const auto& [text, value] : cases)
        EXPECT_DOUBLE_EQ(TextValue(text), value) << '"' << text << '"';
    const std::tuple<const char*, int, long> rounded[] = {
        {"14.5", 14, 14}, {"15.5", 16, 16}, {"-2.5", -2, -2}, {"2.51", 3, 3}, {"100000", 32767, 100000},
        {"-100000", -32768, -100000}, {"1e300", 32767, 2147483647}, {"-1e999", -32768, -2147483648L},
        {"1e-999", 0, 0}};
    for (const auto& [text, int16, int32] : rounded)
        EXPECT_EQ(std::tuple(RoundToInt16(TextValue(text)), RoundToInt32(TextValue(text))), std::tuple(int16, int32))
            << text;
}
