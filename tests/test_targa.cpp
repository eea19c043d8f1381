// SPDX-License-Identifier: GPL-2.0-or-later
// The reader of every Targa kind (reelcast-batch's): pictures of every kind,
// made by hand, each equal to what FFmpeg's own decoder gives but where
// FFmpeg strays from the format; hostile files refused with their reason,
// and passed over by the window's reader, which takes its one kind only.
#include "TGA.h"
#include "TargaReader.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace testsupport;

// Where FFmpeg's decoder strays from the format, and the format wins.
static const char* FfmpegStrays(const TargaKind& k)
{
    return (k.type & 7) == 3 && k.depth == 16   ? "FFmpeg reads 16-bit grey as 5-5-5 colour"
           : (k.type & 7) == 1 && k.depth == 16 ? "FFmpeg reads 16-bit colour indexes as 5-5-5 colour"
           : k.depth == 15 && k.rightToLeft     ? "FFmpeg has no right-to-left flip at 15 bits"
                                                : nullptr;
}

// One of every kind: colour-mapped, true colour and grey, plain and
// run-length, at every depth, with every map entry size, turned every way.
TEST(TargaReader, EveryKindByHandIsThePictureTheFormatDefinesAndFfmpegGivesWhereItFollowsTheFormat)
{
    std::vector<TargaKind> kinds = {{2, 15}, {2, 16}, {2, 24}, {2, 32}, {3, 8}, {3, 16}, {1, 8, 15, 0, 256},
                                    {1, 8, 16, 0, 256}, {1, 8, 24, 0, 256}, {1, 8, 32, 0, 256},
                                    {1, 8, 24, 17, 50}, // a first entry of 17
                                    {1, 16, 24, 300, 700},
                                    {2, 24, 15, 0, 3}}; // a map it does not use, 2 bytes an entry
    for (std::size_t i = 0, plain = kinds.size(); i < plain; ++i) // and each run-length
        kinds.push_back(kinds[i]), kinds.back().type |= 8;
    TempDir dir;
    const std::string file = dir.file("k.tga");
    const bool ffmpeg = HaveFfmpeg();
    targa::Reader reader;
    for (TargaKind kind : kinds)
        for (const int turn : {0, 1, 2, 3})
            for (const auto& [w, h] : {std::pair(37, 11), std::pair(300, 3)}) { // runs of 150 cross rows
                kind.topFirst = turn & 1, kind.rightToLeft = turn & 2;
                kind.idLength = turn == 3 ? 9 : 0, kind.footer = turn >= 2;
                SCOPED_TRACE(testing::Message() << "type " << int(kind.type) << ", " << int(kind.depth) << " bits, map "
                                                << kind.mapLength << " x " << int(kind.mapBits) << " bits from "
                                                << kind.mapFirst << ", turn " << turn << ", " << w << " x " << h);
                const HandTarga t = MakeAnyTarga(w, h, kind, static_cast<unsigned>(w + turn));
                WriteFile(file, t.file);
                FrameImage image, again;
                std::string why;
                ASSERT_TRUE(reader.Read(file, image, why)) << why;
                EXPECT_EQ(std::tuple(image.Width, image.Height, image.BitCount, image.Palette.empty()),
                          std::tuple(w, h, 24, true));
                EXPECT_TRUE(image.Bits == t.picture);
                ASSERT_TRUE(reader.Decode(t.file.data(), t.file.size(), again, why)) << why; // the same bytes from memory
                EXPECT_TRUE(again.Bits == t.picture);
                if (!ffmpeg || h != 11)
                    continue;
                if (const char* strays = FfmpegStrays(kind))
                    EXPECT_NE(FfmpegPicture(file), t.picture) << "no longer so: " << strays;
                else
                    EXPECT_TRUE(FfmpegPicture(file) == t.picture);
            }
    if (!ffmpeg)
        GTEST_SKIP() << "no ffmpeg to compare with";
}

TEST(TargaReader, HostileFilesAreRefusedWithTheirReasonAndNothingPastTheBufferIsRead)
{
    const Bytes rle = MakeAnyTarga(37, 11, {10, 24}).file, plain = MakeAnyTarga(37, 11, {2, 24}).file,
                mapped = MakeAnyTarga(37, 11, {1, 8, 24, 0, 256}).file;
    const auto with = [](Bytes b, std::initializer_list<std::pair<std::size_t, std::uint8_t>> changes) {
        for (const auto& [at, value] : changes)
            b[at] = value;
        return b;
    };
    const auto cut = [](const Bytes& b, std::size_t keep) { return Bytes(b.begin(), b.begin() + keep); };
    // Maps of 200 entries and of 1: the indexes past them are in the pixels.
    Bytes pastMap = with(mapped, {{5, 200}, {6, 0}}),
          pastMapRle = with(MakeAnyTarga(37, 11, {9, 8, 24, 0, 256}).file, {{5, 1}, {6, 0}});
    for (auto [b, entries] : {std::pair(&pastMap, 200), std::pair(&pastMapRle, 1)})
        b->erase(b->begin() + 18 + 3 * entries, b->begin() + 18 + 3 * 256);
    const std::pair<Bytes, std::string> cases[] = {
        {with(rle, {{rle.size() - 4, 0xFF}}), "run-length data overruns the picture"}, // the last packet is a run
        {cut(rle, rle.size() - 5), "run-length data ends early"},
        {cut(rle, 18 + 30), "run-length data ends early"},
        {pastMap, "colour index "}, // which one depends on the pattern
        {pastMapRle, "colour index "},
        {cut(mapped, 18 + 3 * 200), "the colour map is cut short: the header announces 256 entries"},
        {cut(plain, plain.size() - 1), "the file ends before its last pixel"},
        {with(cut(plain, 18), {{0, 30}}), "the file ends in its image-ID field"},
        {Bytes(10, 2), "too short for a Targa header"},
        {Bytes(), "too short for a Targa header"},
        {with(plain, {{2, 0}}), "holds no picture (image type 0)"},
        {with(plain, {{2, 7}}), "image type 7 is no Targa picture"}, // between the picture types
        {with(plain, {{16, 48}}), "true colour at 48 bits a pixel"},
        {with(plain, {{2, 3}}), "grey at 24 bits a pixel"},
        {with(mapped, {{16, 24}}), "colour-mapped at 24 bits a pixel"},
        {with(plain, {{12, 0}, {13, 0}}), "a width or height of 0 pixels"},
        {with(plain, {{13, 0x80}}), "a width or height past 32767 pixels"},
        {with(plain, {{12, 0xFF}, {13, 0x7F}, {14, 0xFF}, {15, 0x7F}}), "too large a picture"},
        {with(plain, {{17, 0x40}}), "interleaved rows (a TGA 1.0 layout)"},
        {with(mapped, {{1, 0}}), "colour-mapped without a colour map"},
        {with(mapped, {{7, 12}}), "a colour map of 12-bit entries"},
    };
    TempDir dir;
    const std::string file = dir.file("h.tga");
    targa::Reader reader;
    const FrameImage before{3, 2, 24, {}, PatternPixels(3, 2, 9)};
    FrameImage image = before;
    std::string why;
    for (const auto& [bytes, says] : cases) {
        WriteFile(file, bytes);
        if (!says.starts_with("interleaved")) { // a layout the window's reader never looked at
            EXPECT_FALSE(ReadTGA(file, image)) << says;
            EXPECT_EQ(std::tuple(image.Width, image.Height, image.Bits), std::tuple(3, 2, before.Bits)) << says;
        }
        // Decoded from exactly the file's bytes, so that a read past them
        // shows under the sanitizers.
        for (const bool fromMemory : {false, true}) {
            const Bytes exact = bytes;
            std::string said;
            EXPECT_FALSE(fromMemory ? reader.Decode(exact.data(), exact.size(), image, said)
                                    : reader.Read(file, image, said)) << says;
            EXPECT_TRUE(said.starts_with(says)) << said << " / " << says;
            EXPECT_EQ(std::tuple(image.Width, image.Height, image.Bits), std::tuple(3, 2, before.Bits)) << says;
        }
    }
    WriteFile(file, pastMap);
    EXPECT_FALSE(reader.Read(file, image, why));
    EXPECT_TRUE(why.starts_with("colour index 2") && why.ends_with(" is past the map (entries 0 to 199)")) << why;
}

TEST(TargaReader, KindsAreNamedByTypeDepthAndRunLength)
{
    const std::pair<TargaKind, const char*> kinds[] = {{{10, 24}, "run-length true colour, 24-bit (type 10)"},
                                                       {{2, 32}, "true colour, 32-bit (type 2)"},
                                                       {{3, 8}, "grey, 8-bit (type 3)"},
                                                       {{9, 8, 24, 0, 16}, "run-length colour-mapped, 8-bit (type 9)"}};
    for (const auto& [kind, name] : kinds)
        EXPECT_EQ(targa::KindName(TargaHeader::Parse(MakeAnyTarga(4, 4, kind).file.data())), name);
}
