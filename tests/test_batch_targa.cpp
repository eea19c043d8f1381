// SPDX-License-Identifier: GPL-2.0-or-later
// reelcast-batch and Targa files: the look at the sequence before anything is written; --strict; the final account.
#include "AviMovieReader.h"
#include "BatchRun.h"
#include "SequenceScan.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <iostream>
#include <limits>

#include <sys/stat.h>

using namespace testsupport;

namespace {

std::string Shot(int i) { return (i < 10 ? "shot000" : "shot00") + std::to_string(i) + ".tga"; }

} // namespace

// The look at the sequence tells its kinds, unreadable files, other sizes and gaps (five of each) before anything is
// written. A frame number is the digits ending a name's stem, at most 18; numbers of one prefix (letter case aside) and
// one width are compared, leading zeros kept; the count missing stops at its largest. Counts group thousands.
TEST(BatchTarga, TheLookAtTheSequenceReportsGapsUnreadableFilesAndOtherSizesBeforeAnythingIsWritten)
{
    TempDir frames, outDir;
    const std::string dir = frames.path().string(), out = outDir.file("m.avi");
    for (const int i : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12})
        WriteFile(frames.file(Shot(i)), MakeAnyTarga(16, 8, {10, 24}, static_cast<unsigned>(i)).file);
    WriteFile(frames.file(Shot(8)), Bytes(12, 0));                              // too short
    WriteFile(frames.file(Shot(9)), MakeAnyTarga(16, 8, {2, 24}).file);         // another kind
    WriteFile(frames.file(Shot(10)), MakeAnyTarga(12, 8, {2, 32}).file);        // another size
    Bytes cut = MakeAnyTarga(16, 8, {2, 16}).file;
    cut.pop_back();
    WriteFile(frames.file(Shot(12)), cut);                                      // shorter than its header says
    const Outcome r = Batch({dir, out});
    EXPECT_EQ(std::tuple(r.code, r.out, std::filesystem::exists(out)), std::tuple(1, "", false));
    EXPECT_EQ(r.err,
              "reelcast-batch: 11 frame files: 7 run-length true colour, 24-bit (type 10); 1 true colour, 24-bit "
              "(type 2); 1 true colour, 32-bit (type 2)\n"
              "reelcast-batch: 2 cannot be read: shot0008.tga (too short for a Targa header); shot0012.tga (the "
              "file ends before its last pixel)\n"
              "reelcast-batch: 1 not 16 x 8 like the first frame, shot0001.tga: shot0010.tga (12 x 8)\n"
              "reelcast-batch: gaps in the numbering (1 file): shot0011 missing\n"
              "reelcast-batch: every frame must be 16 x 8, the size of the first; --size WxH makes them one size. "
              "Nothing was written.\n");
    // Made one size, the frames go on, a frame for every file.
    EXPECT_EQ(Batch({dir, out, "--size", "16x8"}).code, 0);
    EXPECT_EQ(avitest::ReadMovie(out).frames.size(), 11u);

    // More than five of a finding: the first five, then a count.
    TempDir many;
    for (int i = 0; i < 9; ++i)
        WriteFile(many.file(Shot(i * 2)), i % 8 ? Bytes(5, 1) : MakeAnyTarga(4, 4, {2, 24}).file);
    const Outcome manyR = Batch({many.path().string(), outDir.file("n.avi")});
    EXPECT_EQ(manyR.out, "Movie's Creation Completed!\n8 frames written to " + outDir.file("n.avi") +
                             ", 7 of them repeats of the frame before\n");
    std::string shortOnes;
    for (const int i : {2, 4, 6, 8, 10})
        shortOnes += Shot(i) + " (too short for a Targa header); ";
    std::string named = shortOnes + "and 2 more\n";
    std::replace(shortOnes.begin(), shortOnes.end(), ';', ',');
    EXPECT_EQ(manyR.err, "reelcast-batch: 9 frame files: 2 true colour, 24-bit (type 2)\n"
                         "reelcast-batch: 7 cannot be read: " + named +
                         "reelcast-batch: gaps in the numbering (8 files): shot0001 missing; shot0003 missing; "
                         "shot0005 missing; shot0007 missing; shot0009 missing; and 3 more\n"
                         "reelcast-batch: 7 of 9 files could not be read and repeat the frame before them: " +
                         shortOnes + "and 2 more\n");
    TempDir numbered, wide;
    const std::string zeros(18, '0'), nines(18, '9');
    const std::vector<std::string> stems = {"a" + zeros, "a" + nines, "b" + nines + "7", "b" + nines + "9",
                                            "c99999999999999999997", "c99999999999999999999", "D0009", "d0012",
                                            "e1", "e3"};
    for (const std::string& stem : stems)
        WriteFile(numbered.file(stem + ".tga"), Bytes{});
    const batch::SequenceScan scan = batch::ScanSequence(numbered.path().string());
    EXPECT_EQ(std::tuple(scan.files, scan.unreadable.count, scan.unreadable.first[0], scan.missing, scan.gaps.first),
              std::tuple(10, 10, "a" + zeros + ".tga (too short for a Targa header)", 999999999999999998 + 2 + 1,
                         std::vector<std::string>{"a000000000000000001\u2013a999999999999999998 missing",
                                                  "D0010\u2013D0011 missing", "e2 missing"}));
    for (char prefix = 'a'; prefix < 'k'; ++prefix)
        for (const std::string& number : {zeros, nines})
            WriteFile(wide.file(prefix + number + ".tga"), Bytes{});
    const batch::SequenceScan all = batch::ScanSequence(wide.path().string());
    EXPECT_EQ(std::tuple(all.gaps.count, all.missing), std::tuple(10, std::numeric_limits<std::int64_t>::max()));
    for (const auto& [n, text] : {std::pair(0, "0"), std::pair(999, "999"), std::pair(1000, "1,000"),
                                  std::pair(-1234567, "-1,234,567"), std::pair(33000, "33,000")})
        EXPECT_EQ(batch::Thousands(n), text);
}

// A gap alone, found by the look at the sequence, writes nothing and keeps the file there; run-length data found
// short only while decoding ends the run and the movie goes. Without --strict the file repeats the one before.
TEST(BatchTarga, StrictLeavesACompleteMovieOrNone)
{
    TempDir frames, outDir;
    const std::string dir = frames.path().string(), out = outDir.file("m.avi");
    for (const int i : {0, 1, 2, 3, 4, 6})
        WriteFile(frames.file(Shot(i)), MakeAnyTarga(40, 9, {10, 32}, static_cast<unsigned>(i)).file);
    WriteFile(out, Bytes{1});
    const Outcome gap = Batch({dir, out, "--strict", "--overwrite"});
    EXPECT_EQ(std::tuple(gap.code, gap.err.substr(gap.err.rfind("reelcast-batch: ")), ReadFile(out) == Bytes{1}),
              std::tuple(1, "reelcast-batch: --strict: the sequence is not complete. Nothing was written.\n", true));
    std::filesystem::rename(frames.file(Shot(6)), frames.file(Shot(5)));

    const Bytes whole = MakeAnyTarga(40, 9, {10, 32}, 3).file;
    WriteFile(frames.file(Shot(3)), Bytes(whole.begin(), whole.end() - 6)); // run-length data ends early
    const Outcome decoded = Batch({dir, out, "--strict", "--overwrite"});
    EXPECT_EQ(std::tuple(decoded.code, decoded.err.substr(decoded.err.find('\n') + 1)),
              std::tuple(1, "reelcast-batch: The frame " + frames.file(Shot(3)) +
                                " cannot be read: run-length data ends early.\n"
                                "A complete movie was asked for: none is left.\n"
                                "Movie's creation stopped after 0 frames.\n"
                                "reelcast-batch: --strict: no movie is left at " + out + "\n"));
    EXPECT_TRUE(!std::filesystem::exists(out) && std::filesystem::exists(frames.file(Shot(3))) && OnlyFrames(frames));

    const Outcome kept = Batch({dir, out, "--overwrite"});
    EXPECT_EQ(std::tuple(kept.code, kept.out, kept.err.substr(kept.err.find('\n') + 1)),
              std::tuple(0, "Movie's Creation Completed!\n5 frames written to " + out +
                                ", 1 of them a repeat of the frame before\n",
                         "reelcast-batch: 1 of 6 files could not be read and repeats the frame before it: "
                         "shot0003.tga (run-length data ends early)\n"));
}

// A blended group's file that cannot be read, or even opened, is left out of its group's average and named at the
// end; the run goes on. In an unprivileged child, where permissions apply.
TEST(BatchTarga, BlendedGroupsLeaveAFilePassedOverOutOfTheirAverageAndTheAccountNamesIt)
{
    TempDir frames, outDir;
    const std::string dir = frames.path().string(), out = outDir.file("b.avi");
    for (int i = 0; i < 6; ++i)
        WriteFile(frames.file(Shot(i)), MakeAnyTarga(8, 4, {std::uint8_t(i % 2 ? 10 : 2), 24}, unsigned(i)).file);
    Bytes overrun = MakeAnyTarga(8, 4, {10, 24}, 5).file;
    overrun[18] = 0xFF; // a first packet of 128 pixels, in a picture of 32
    WriteFile(frames.file(Shot(5)), overrun);
    ::chmod(dir.c_str(), 0777), ::chmod(outDir.path().c_str(), 0777), ::chmod(frames.file(Shot(3)).c_str(), 0);
    EXPECT_EQ(RunAsUnprivileged([&] {
                  const Outcome r = Batch({dir, out, "--blend", "2"});
                  const bool told =
                      r.code == 0 && r.out == "Movie's Creation Completed!\n2 frames written to " + out + "\n" &&
                      r.err == "reelcast-batch: 6 frame files: 3 true colour, 24-bit (type 2); 2 run-length true "
                               "colour, 24-bit (type 10)\nreelcast-batch: 1 cannot be read: shot0003.tga (cannot be "
                               "opened: Permission denied)\nreelcast-batch: 2 of 6 files could not be read and are "
                               "left out of their groups' averages: shot0003.tga (cannot open the Targa file "
                               "(Permission denied)), shot0005.tga (run-length data overruns the picture)\n";
                  std::cerr << (told ? "" : r.out + r.err);
                  return told ? 0 : 1;
              }),
              0);
    // The groups of one readable file are that file, unblurred; position 0 repeats the first.
    const Bytes second = MakeAnyTarga(8, 4, {2, 24}, 2).picture;
    EXPECT_EQ(avitest::ReadMovie(out).frames, (std::vector{second, second, MakeAnyTarga(8, 4, {2, 24}, 4).picture}));
}
