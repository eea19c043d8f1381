// SPDX-License-Identifier: GPL-2.0-or-later
// The reader of every Targa kind (reelcast-batch's): pictures made by hand from the format's layout; hostile
// files refused with their reason, and by the window's reader.
#include "TGA.h"
#include "TargaReader.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace testsupport;

// A run-length picture of 256 x 1 pixels: a run of 128 pixels (1, 2, 3), then the packets given.
static Bytes RunLengthRow(Bytes packets)
{
    const Bytes head = {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 24, 0, 0xFF, 1, 2, 3};
    return packets.insert(packets.begin(), head.begin(), head.end()), packets;
}

// Every kind, depth and map entry size, turned every way; runs longer than a packet's 128 pixels cross rows. Hostile
// files refused alike from file and memory, reading nothing past the bytes and keeping the picture held; kinds named.
TEST(TargaReader, EveryKindByHandIsThePictureTheFormatDefinesAndHostileFilesAreRefusedWithTheirReason)
{
    std::vector<TargaKind> kinds = {{2, 15}, {2, 16}, {2, 24}, {2, 32}, {3, 8}, {3, 16}, {1, 8, 15, 0, 256},
        {1, 8, 16, 0, 256}, {1, 8, 24, 0, 256}, {1, 8, 32, 0, 256}, {1, 8, 24, 17, 50} /* a first entry of 17 */,
        {1, 16, 24, 300, 700}, {2, 24, 15, 0, 3} /* a map it does not use, 2 bytes an entry */};
    for (std::size_t i = 0, plain = kinds.size(); i < plain; ++i) // and each run-length
        kinds.push_back(kinds[i]), kinds.back().type |= 8;
    TempDir dir;
    const std::string file = dir.file("k.tga");
    targa::Reader reader;
    for (TargaKind kind : kinds)
        for (const int turn : {0, 1, 2, 3})
            for (const auto& [w, h] : {std::pair(37, 11), std::pair(300, 3)}) { // runs of 150 cross rows
                kind.topFirst = turn & 1, kind.rightToLeft = turn & 2, kind.idLength = turn == 3 ? 9 : 0;
                kind.footer = turn >= 2;
                SCOPED_TRACE(testing::Message() << "type " << int(kind.type) << ", " << int(kind.depth) << " bits, map "
                             << kind.mapLength << " x " << int(kind.mapBits) << " from " << kind.mapFirst << ", turn "
                             << turn << ", " << w << " x " << h);
                const HandTarga t = MakeAnyTarga(w, h, kind, static_cast<unsigned>(w + turn));
                WriteFile(file, t.file);
                FrameImage image{1, 1, 8, Bytes(1024, 1), {}}, again; // a palette that must go
                std::string why;
                ASSERT_TRUE(reader.Read(file, image, why)) << why;
                ASSERT_TRUE(reader.Decode(t.file.data(), t.file.size(), again, why)) << why; // the bytes in memory
                EXPECT_TRUE(std::tuple(image.Width, image.Height, image.BitCount, image.Palette.empty(), image.Bits,
                                       again.Bits) == std::tuple(w, h, 24, true, t.picture, t.picture));
            }

    const Bytes rle = MakeAnyTarga(37, 11, {10, 24}).file, plain = MakeAnyTarga(37, 11, {2, 24}).file,
                mapped = MakeAnyTarga(37, 11, {1, 8, 24, 0, 256}).file;
    const auto with = [](Bytes b, std::initializer_list<std::pair<std::size_t, std::uint8_t>> changes) {
        return std::ranges::for_each(changes, [&](const auto& change) { b[change.first] = change.second; }), b;
    };
    const auto cut = [](const Bytes& b, std::size_t keep) { return Bytes(b.begin(), b.begin() + keep); };
    // Maps of 201 entries and of 1: the indexes past them are in the pixels, 201 the first.
    Bytes pastMap = with(mapped, {{5, 201}, {6, 0}}),
          pastMapRle = with(MakeAnyTarga(37, 11, {9, 8, 24, 0, 256}).file, {{5, 1}, {6, 0}});
    for (auto [b, entries] : {std::pair(&pastMap, 201), std::pair(&pastMapRle, 1)})
        b->erase(b->begin() + 18 + 3 * entries, b->begin() + 18 + 3 * 256);
    const std::string early = "run-length data ends early", overruns = "run-length data overruns the picture",
                      tooWide = "a width or height past 32767 pixels", zero = "a width or height of 0 pixels",
                      interleaved = "interleaved rows (a TGA 1.0 layout)", tooShort = "too short for a Targa header";
    const std::pair<Bytes, std::string> cases[] = {
        {with(rle, {{rle.size() - 4, 0xFF}}), overruns}, // the last packet is a run
        {RunLengthRow({0xFE, 1, 2, 3, 0x81, 1, 2, 3}), overruns}, // by one pixel
        {cut(rle, rle.size() - 5), early}, {cut(rle, 18 + 30), early}, {RunLengthRow({0, 1, 2, 3}), early},
        {RunLengthRow({0xFE, 1, 2, 3, 0x80, 1}), early}, {RunLengthRow({0xFD, 1, 2, 3, 1, 1, 2, 3, 4}), early},
        {pastMap, "colour index 201 is past the map (entries 0 to 200)"},
        {pastMapRle, "colour index 201 is past the map (entries 0 to 0)"},
        {cut(mapped, 18 + 3 * 256 - 1), "the colour map is cut short: the header announces 256 entries"},
        {cut(plain, plain.size() - 1), "the file ends before its last pixel"},
        {with(cut(plain, 18 + 29), {{0, 30}}), "the file ends in its image-ID field"},
        {Bytes(10, 2), tooShort}, {Bytes(), tooShort}, {with(plain, {{2, 0}}), "holds no picture (image type 0)"},
        {with(plain, {{2, 7}}), "image type 7 is no Targa picture"}, // between the picture types
        {with(plain, {{16, 88}}), "true colour at 88 bits a pixel"}, {with(plain, {{2, 3}}), "grey at 24 bits a pixel"},
        {with(mapped, {{16, 24}}), "colour-mapped at 24 bits a pixel"},
        {with(plain, {{12, 0}, {13, 0}}), zero}, {with(plain, {{14, 0}, {15, 0}}), zero},
        {with(plain, {{13, 0x80}}), tooWide}, {with(plain, {{15, 0x80}}), tooWide},
        {with(plain, {{12, 0xFF}, {13, 0x7F}, {14, 0xFF}, {15, 0x7F}}), "too large a picture"},
        {with(plain, {{17, 0x40}}), interleaved}, {with(plain, {{17, 0x80}}), interleaved},
        {with(mapped, {{1, 0}}), "colour-mapped without a colour map"},
        {with(mapped, {{7, 12}}), "a colour map of 12-bit entries"}};
    const FrameImage before{3, 2, 24, {}, PatternPixels(3, 2, 9)};
    FrameImage image = before;
    for (const auto& [bytes, says] : cases) {
        WriteFile(file, bytes);
        EXPECT_FALSE(says != interleaved && ReadTGA(file, image)) << says; // a layout it never looked at
        const Bytes exact = bytes; // so that a read past them shows under the sanitizers
        std::string fromFile, fromMemory;
        EXPECT_FALSE(reader.Read(file, image, fromFile) || reader.Decode(exact.data(), exact.size(), image, fromMemory));
        EXPECT_EQ(std::tuple(fromFile, fromMemory, image.Width, image.Height, image.Bits),
                  std::tuple(says, says, 3, 2, before.Bits));
    }
}
