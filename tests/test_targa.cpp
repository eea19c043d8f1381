// SPDX-License-Identifier: GPL-2.0-or-later
// The reader of every Targa kind (reelcast-batch's): pictures of every kind,
// made by hand, by FFmpeg and by ImageMagick, each equal to what FFmpeg's own
// decoder gives, but for the cases where FFmpeg strays from the format;
// hostile files refused with their reason; and the window's reader, which
// still takes its one kind only.
#include "FileError.h"
#include "TGA.h"
#include "TargaReader.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace testsupport;

namespace {

std::string Describe(const TargaKind& k, int w, int h)
{
    return "type " + std::to_string(k.type) + ", " + std::to_string(k.depth) + " bits, map " +
           std::to_string(k.mapLength) + " x " + std::to_string(k.mapBits) + " bits from " +
           std::to_string(k.mapFirst) + (k.topFirst ? ", top first" : ", bottom first") +
           (k.rightToLeft ? ", right to left" : "") + (k.idLength ? ", image ID" : "") +
           (k.footer ? ", footer" : "") + ", " + std::to_string(w) + " x " + std::to_string(h);
}

// Where FFmpeg's decoder strays from the format, and the format wins.
const char* FfmpegStrays(const TargaKind& k)
{
    if ((k.type & 7) == 3 && k.depth == 16)
        return "FFmpeg reads 16-bit grey as 5-5-5 colour";
    if (k.depth == 15 && k.rightToLeft)
        return "FFmpeg has no right-to-left flip at 15 bits";
    if ((k.type & 7) == 1 && k.depth == 16)
        return "FFmpeg reads 16-bit colour indexes as 5-5-5 colour";
    return nullptr;
}

// One of every kind: colour-mapped, true colour and grey, plain and
// run-length, at every depth, with every map entry size.
std::vector<TargaKind> EveryKind()
{
    std::vector<TargaKind> kinds;
    for (const std::uint8_t rle : {0, 8}) {
        for (const std::uint8_t depth : {15, 16, 24, 32})
            kinds.push_back({static_cast<std::uint8_t>(2 | rle), depth});
        for (const std::uint8_t depth : {8, 16})
            kinds.push_back({static_cast<std::uint8_t>(3 | rle), depth});
        for (const std::uint8_t bits : {15, 16, 24, 32})
            kinds.push_back({static_cast<std::uint8_t>(1 | rle), 8, bits, 0, 256});
        kinds.push_back({static_cast<std::uint8_t>(1 | rle), 8, 24, 17, 50}); // a first entry of 17
        kinds.push_back({static_cast<std::uint8_t>(1 | rle), 16, 24, 300, 700});
    }
    return kinds;
}

} // namespace

TEST(TargaReader, EveryKindByHandIsThePictureTheFormatDefinesAndFfmpegGivesWhereItFollowsTheFormat)
{
    TempDir dir;
    const bool ffmpeg = HaveFfmpeg();
    targa::Reader reader;
    int compared = 0, strayed = 0;
    for (TargaKind kind : EveryKind())
        for (const int orientation : {0, 1, 2, 3})
            for (const auto& [w, h] : {std::pair(37, 11), std::pair(300, 3)}) {
                kind.topFirst = orientation & 1, kind.rightToLeft = orientation & 2;
                kind.idLength = orientation == 3 ? 9 : 0, kind.footer = orientation >= 2;
                const std::string what = Describe(kind, w, h);
                const HandTarga t = MakeAnyTarga(w, h, kind, static_cast<unsigned>(w + orientation));
                WriteFile(dir.file("k.tga"), t.file);
                FrameImage image;
                std::string why;
                ASSERT_TRUE(reader.Read(dir.file("k.tga"), image, why)) << what << ": " << why;
                EXPECT_EQ(std::tuple(image.Width, image.Height, image.BitCount, image.Palette.empty()),
                          std::tuple(w, h, 24, true)) << what;
                EXPECT_TRUE(image.Bits == t.picture) << what;
                // The same bytes from memory.
                FrameImage again;
                ASSERT_TRUE(reader.Decode(t.file.data(), t.file.size(), again, why)) << what;
                EXPECT_TRUE(again.Bits == t.picture) << what;
                if (!ffmpeg)
                    continue;
                const Bytes reference = FfmpegPicture(dir.file("k.tga"));
                if (const char* strays = FfmpegStrays(kind)) {
                    EXPECT_NE(reference, t.picture) << what << ": no longer so: " << strays;
                    ++strayed;
                } else {
                    EXPECT_TRUE(reference == image.Bits) << what;
                    ++compared;
                }
            }
    if (!ffmpeg)
        GTEST_SKIP() << "no ffmpeg to compare with";
    EXPECT_GT(compared, 100);
    EXPECT_GT(strayed, 10);
}

TEST(TargaReader, FilesMadeByFfmpegAndImageMagickAreWhatFfmpegReads)
{
    if (!HaveFfmpeg() || std::system("command -v convert >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "needs ffmpeg and ImageMagick's convert";
    TempDir dir;
    const std::string d = dir.path().string() + "/";
    const std::string source = "-f lavfi -i testsrc=size=333x75 -frames:v 1";
    const std::vector<std::string> commands = {
        "ffmpeg " + source + " -c:v targa -pix_fmt bgr24 -rle 0 " + d + "plain.tga",
        "ffmpeg " + source + " -c:v targa -pix_fmt bgr24 " + d + "rle24.tga",
        "ffmpeg " + source + " -c:v targa -pix_fmt bgra " + d + "rle32.tga",
        "ffmpeg " + source + " -c:v targa -pix_fmt bgra -rle 0 " + d + "plain32.tga",
        "ffmpeg " + source + " -c:v targa -pix_fmt rgb555le " + d + "rle16.tga",
        "ffmpeg " + source + " -c:v targa -pix_fmt rgb555le -rle 0 " + d + "plain16.tga",
        "ffmpeg " + source + " -c:v targa -pix_fmt gray " + d + "rlegrey.tga",
        "ffmpeg " + source + " -c:v targa -pix_fmt gray -rle 0 " + d + "grey.tga",
        "ffmpeg " + source + " -c:v targa -pix_fmt pal8 " + d + "rlepal.tga",
        "ffmpeg " + source + " -c:v targa -pix_fmt pal8 -rle 0 " + d + "pal.tga",
        "convert " + d + "plain.tga -alpha set -channel A -fx 0.5 -type TrueColorAlpha " + d + "im32.tga",
        "convert " + d + "plain.tga -alpha set -channel A -fx 0.5 -compress RLE " + d + "im_rle32.tga",
        "convert " + d + "plain.tga -compress RLE " + d + "im_rle24.tga",
        "convert " + d + "plain.tga -type Palette " + d + "im_pal.tga",
        "convert " + d + "plain.tga -type Palette -compress RLE " + d + "im_rlepal.tga",
        "convert " + d + "plain.tga -type Grayscale " + d + "im_grey.tga",
        "convert " + d + "plain.tga -type Grayscale -compress RLE " + d + "im_rlegrey.tga",
        "convert " + d + "plain.tga -depth 5 " + d + "im16.tga",
        "convert " + d + "plain.tga -flip -flop " + d + "im_turned.tga",
        "convert " + d + "plain.tga -define tga:image-origin=TopRight " + d + "im_topright.tga",
        "convert " + d + "plain.tga -define tga:image-origin=TopRight -compress RLE " + d + "im_rle_topright.tga",
    };
    targa::Reader reader;
    for (const std::string& command : commands) {
        ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
        const std::string file = command.substr(command.rfind(' ') + 1);
        FrameImage image;
        std::string why;
        ASSERT_TRUE(reader.Read(file, image, why)) << command << ": " << why;
        EXPECT_EQ(std::tuple(image.Width, image.Height), std::tuple(333, 75)) << command;
        EXPECT_TRUE(image.Bits == FfmpegPicture(file)) << command;
    }
}

TEST(TargaReader, HostileFilesAreRefusedWithTheirReasonAndNothingPastTheBufferIsRead)
{
    TempDir dir;
    const HandTarga rle = MakeAnyTarga(37, 11, {10, 24}), plain = MakeAnyTarga(37, 11, {2, 24});
    const HandTarga mapped = MakeAnyTarga(37, 11, {1, 8, 24, 0, 256}), rleMapped = MakeAnyTarga(37, 11, {9, 8, 24, 0, 256});
    Bytes overrun = rle.file, early(rle.file.begin(), rle.file.end() - 5), pastMap = mapped.file,
          pastMapRle = rleMapped.file, shortMap(mapped.file.begin(), mapped.file.begin() + 18 + 3 * 200),
          shortFile(plain.file.begin(), plain.file.end() - 1), idOnly(plain.file.begin(), plain.file.begin() + 18);
    // The last packet, a run, announces more pixels than are left.
    overrun[overrun.size() - 4] |= 0x7F;
    pastMap[5] = 200, pastMap[6] = 0; // a map of 200 entries: indexes 200 to 255 are past it
    pastMap.erase(pastMap.begin() + 18 + 3 * 200, pastMap.begin() + 18 + 3 * 256);
    pastMapRle[5] = 1, pastMapRle[6] = 0;
    pastMapRle.erase(pastMapRle.begin() + 18 + 3, pastMapRle.begin() + 18 + 3 * 256);
    idOnly[0] = 30;
    Bytes noImage = plain.file, deep = plain.file, zero = plain.file, huge = plain.file, interleaved = plain.file,
          noMap = mapped.file, mapBits = mapped.file;
    Bytes type7 = plain.file;
    type7[2] = 7; // a type number between the picture types: no picture
    noImage[2] = 0, deep[16] = 8, zero[12] = zero[13] = 0, huge[13] = 0x80, interleaved[17] |= 0x40, noMap[1] = 0,
    mapBits[7] = 12;
    const std::pair<Bytes, std::string> cases[] = {
        {overrun, "run-length data overruns the picture"},
        {early, "run-length data ends early"},
        {Bytes(rle.file.begin(), rle.file.begin() + 18 + 30), "run-length data ends early"},
        {pastMap, "colour index "}, // which one depends on the pattern
        {pastMapRle, "colour index "},
        {shortMap, "the colour map is cut short: the header announces 256 entries"},
        {shortFile, "the file ends before its last pixel"},
        {idOnly, "the file ends in its image-ID field"},
        {Bytes(10, 2), "too short for a Targa header"},
        {noImage, "holds no picture (image type 0)"},
        {type7, "image type 7 is no Targa picture"},
        {deep, "true colour at 8 bits a pixel"},
        {zero, "a width or height of 0 pixels"},
        {huge, "a width or height past 32767 pixels"},
        {interleaved, "interleaved rows (a TGA 1.0 layout)"},
        {noMap, "colour-mapped without a colour map"},
        {mapBits, "a colour map of 12-bit entries"},
    };
    targa::Reader reader;
    const FrameImage before{3, 2, 24, {}, PatternPixels(3, 2, 9)};
    for (const auto& [file, says] : cases) {
        WriteFile(dir.file("h.tga"), file);
        for (const bool fromMemory : {false, true}) {
            FrameImage image = before;
            std::string why;
            // Exactly the bytes of the file, so that a read past them shows
            // under the sanitizers.
            const Bytes exact = file;
            EXPECT_FALSE(fromMemory ? reader.Decode(exact.data(), exact.size(), image, why)
                                    : reader.Read(dir.file("h.tga"), image, why)) << says;
            EXPECT_TRUE(why.starts_with(says)) << why << " / " << says;
            EXPECT_EQ(std::tuple(image.Width, image.Height, image.Bits), std::tuple(3, 2, before.Bits)) << says;
        }
    }
    // FFmpeg takes an index past the map instead of refusing it.
    WriteFile(dir.file("h.tga"), pastMap);
    std::string why;
    FrameImage image;
    EXPECT_FALSE(reader.Read(dir.file("h.tga"), image, why));
    EXPECT_TRUE(why.starts_with("colour index 2") && why.ends_with(" is past the map (entries 0 to 199)")) << why;
    if (HaveFfmpeg()) {
        EXPECT_EQ(FfmpegPicture(dir.file("h.tga")).size(), 37u * 11 * 3) << "FFmpeg no longer takes it";
    }
    try {
        reader.Read(dir.file("missing.tga"), image, why);
        ADD_FAILURE() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(e.path(), dir.file("missing.tga"));
    }
}

TEST(TargaReader, KindsAreNamedByTypeDepthAndRunLength)
{
    const auto name = [](const TargaKind& k) {
        const HandTarga t = MakeAnyTarga(4, 4, k);
        return targa::KindName(TargaHeader::Parse(t.file.data()));
    };
    EXPECT_EQ(name({10, 24}), "run-length true colour, 24-bit (type 10)");
    EXPECT_EQ(name({2, 32}), "true colour, 32-bit (type 2)");
    EXPECT_EQ(name({3, 8}), "grey, 8-bit (type 3)");
    EXPECT_EQ(name({9, 8, 24, 0, 16}), "run-length colour-mapped, 8-bit (type 9)");
}

// The window reads uncompressed 24-bit true colour only, and passes every
// other kind over without a word, as it always has.
TEST(ReadTGA, TheWindowsReaderStillPassesEveryOtherKindOver)
{
    TempDir dir;
    for (TargaKind kind : EveryKind()) {
        const HandTarga t = MakeAnyTarga(37, 11, kind);
        WriteFile(dir.file("k.tga"), t.file);
        FrameImage image{3, 2, 24, {}, PatternPixels(3, 2, 9)};
        const bool windowsKind = kind.type == 2 && kind.depth == 24;
        EXPECT_EQ(ReadTGA(dir.file("k.tga"), image), windowsKind) << Describe(kind, 37, 11);
        EXPECT_EQ(image.Bits == t.picture, windowsKind) << Describe(kind, 37, 11);
    }
}
