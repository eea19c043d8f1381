// SPDX-License-Identifier: GPL-2.0-or-later
// Targa frames to bitmaps and back, the kept bitmap, cDIB, bitmap limits, resampling, WAV files, lists, values.
#include "BitmapFile.h"
#include "BitmapInfo.h"
#include "FileError.h"
#include "FileListBox.h"
#include "FileRows.h"
#include "KeptBitmap.h"
#include "RunFolder.h"
#include "TGA.h"
#include "TestSupport.h"
#include "TextValue.h"
#include "WaveFile.h"
#include "cDIB.h"
#include "mdFile.h"
#include "modImageEffects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

namespace {

// A bitmap file of any kind (compression 3); pixel bytes count up from 1, a colour table fills up to offBits.
Bytes Dib(int w, int h, int bitCount, std::uint32_t offBits, std::uint32_t sizeImage, std::size_t pixelBytes)
{
    Bytes info = InfoHeader(w, h, bitCount, sizeImage), pixels(pixelBytes);
    info[16] = 3, info.resize(offBits - 14, 0xC7);
    return std::iota(pixels.begin(), pixels.end(), 1), BitmapFile(info, pixels);
}

std::tuple<std::string, unsigned, std::string> Told(const Notice& why) { return {why.text, why.style, why.title}; }

// What calls said, in the order they are listed: a braced list runs its calls in order.
using Said = std::vector<std::string>;

// What the window's direct read answers, the size it asks for rows of, and the rows it gives.
using DirectRead = std::tuple<bool, std::int32_t, std::int32_t, std::size_t, Bytes>;
DirectRead ReadDirect(const std::string& file)
{
    DirectRead got;
    std::get<0>(got) = ReadBMPRows(file, [&](std::int32_t w, std::int32_t h, std::size_t stride) {
        std::get<1>(got) = w, std::get<2>(got) = h, std::get<3>(got) = stride;
        return std::get<4>(got).assign(stride * h, 0xEE), std::get<4>(got).data();
    });
    return got;
}

// What a call's error says: a FileError's trouble, if it names path, another's message; "done" for none.
std::string Trouble(const std::string& path, const std::function<void()>& call)
{
    try {
        return call(), "done";
    } catch (const FileError& e) {
        return e.path() == path ? e.trouble() : "another path";
    } catch (const std::runtime_error& e) {
        return e.what();
    }
}

std::vector<std::string> Names(const TempDir& dir) // hidden ones included
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        names.push_back(e.path().filename().string());
    return std::sort(names.begin(), names.end()), names;
}

// A WAV file of the chunks given (of less than 64 KiB), each padded to an even size.
Bytes Riff(std::initializer_list<std::pair<const char*, Bytes>> chunks)
{
    Bytes f = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    for (const auto& [id, body] : chunks) {
        f.insert(f.end(), id, id + 4), f.insert(f.end(), {std::uint8_t(body.size()), 0, 0, 0});
        f.insert(f.end(), body.begin(), body.end()), f.resize(f.size() + body.size() % 2);
    }
    return f[4] = static_cast<std::uint8_t>(f.size() - 8), f;
}

} // namespace

// Targa -> frame -> bitmap -> the window's direct read, byte for byte; one frame for all, as in a run. A read of rows
// that meets the file's end fails, with no stale error left to be told as its reason.
TEST(TargaToBitmap, EveryStepHoldsThePictureByteForByteAndReadsPastTheEndFail)
{
    // Fillers of 0, 1, 1, 3, 2 bytes; more rows than one scattered read takes; an ID field, a map, a TGA 2.0 footer.
    const std::tuple<int, int, TargaKind> cases[] = {{4, 3, {}}, {5, 1100, {}}, {5, 4, {.idLength = 17}},
        {7, 1, {.mapBits = 24, .mapLength = 3}}, {6, 2, {.topFirst = true, .idLength = 12, .footer = true}}};
    TempDir dir;
    const std::string tga = dir.file("f.tga"), bmp = dir.file("f.tga.bmp");
    FrameImage image;
    Notice why;
    for (const auto& [w, h, o] : cases) {
        const Bytes picture = PatternPixels(w, h, static_cast<unsigned>(w + h));
        Bytes targa = MakeTarga(w, h, picture, o);
        if (o.mapLength == 0) // a map's first index and entry size mean nothing without entries
            targa[5] = targa[7] = 24;
        WriteFile(tga, targa);
        image.Palette.assign(1024, 9);
        ASSERT_TRUE(ReadTGA(tga, image)) << w << " x " << h;
        EXPECT_EQ(std::tuple(image.Width, image.Height, image.BitCount, image.Palette.size(), image.Bits),
                  std::tuple(w, h, 24, 0u, picture));
        EXPECT_TRUE(WriteBMP(bmp, image, why));
        // Top row first, with the file's filler; Bits are left bottom row first, as the file holds them.
        const std::size_t stride = (w * 3u + 3) / 4 * 4;
        EXPECT_EQ(std::tuple(ReadFile(bmp), ReadDirect(bmp)),
                  std::tuple(BitmapFileOf(w, h, picture), DirectRead(true, w, h, stride, BitmapRows(w, h, image.Bits))));
    }
    // A byte short: declined before rows are asked for.
    const Bytes good = ReadFile(bmp);
    WriteFile(bmp, Bytes(good.begin(), good.end() - 1));
    EXPECT_EQ(ReadDirect(bmp), DirectRead()) << "a byte short";
    WriteFile(dir.file("f"), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    const fileio::File file = fileio::File::OpenForReading(dir.file("f"));
    std::uint8_t rows[8] = {};
    for (const bool reversed : {false, true}) {
        errno = EINTR; // a braced tuple reads errno after the call
        EXPECT_EQ((std::tuple{ReadRows(file, rows, 4, 2, 4, reversed), errno}), std::tuple(false, 0)) << reversed;
    }
}

// The kept file takes the next bitmap unless it became a link, a second name or a pipe; a retired link is not kept.
// A kept bitmap whose owner (the number in its name) is gone, after a crash, is swept before a run; a living
// process's, this one's among them, is left, and so is anything not named quite so, or that is no plain file.
TEST(KeptBitmap, NeverWrittenThroughADirectoryOrALinkKeptUntilReleasedAndSweptOnlyOnceItsOwnerIsGone)
{
    TempDir dir, elsewhere;
    Notice why;
    FrameImage image{40, 30, 24, {}, PatternPixels(40, 30)};
    const auto write = [&](const std::string& to) { return Trouble(to, [&] { WriteBMP(to, image, why); }); };
    std::filesystem::create_directories(elsewhere.file("d.bmp/keep"));
    ASSERT_EQ(::symlink(elsewhere.file("d.bmp").c_str(), dir.file("a.bmp").c_str()), 0); // to a directory
    EXPECT_EQ((Said{write(elsewhere.file("d.bmp")), write(dir.file("a.bmp"))}),
              (Said{"cannot write the bitmap file: a directory has that name", "done"}));
    EXPECT_TRUE(fileio::IsRegularFile(dir.file("a.bmp")) && std::filesystem::exists(elsewhere.file("d.bmp/keep")));
    const auto keptOf = [](const std::string& owner) { return ".reelcast-" + owner + ".bmp.part"; };
    const std::string hidden = keptOf(std::to_string(::getpid())), kept = dir.file(hidden);
    ASSERT_EQ(RetireBMP(dir.file("a.bmp")), 0);
    ASSERT_EQ(Names(dir), std::vector<std::string>{hidden});
    // The kept, longer file takes the next bitmap: what a fresh file holds.
    struct stat before {}, taken {};
    ASSERT_EQ(::stat(kept.c_str(), &before), 0);
    image = {3, 2, 24, {}, PatternPixels(3, 2, 2)};
    WriteBMP(dir.file("b.bmp"), image, why);
    EXPECT_TRUE(::stat(dir.file("b.bmp").c_str(), &taken) == 0 && taken.st_ino == before.st_ino) << "written over";
    EXPECT_EQ(ReadFile(dir.file("b.bmp")), BitmapFileOf(3, 2, PatternPixels(3, 2, 2)));
    const std::string victim = elsewhere.file("victim");
    WriteFile(victim, Bytes(100, 0x5A));
    using Swap = int (*)(const char* victim, const char* kept);
    for (const Swap swap : {Swap([](const char* v, const char* k) { return ::unlink(k) | ::symlink(v, k); }),
                            Swap([](const char* v, const char* k) { return ::unlink(k) | ::link(v, k); }),
                            Swap([](const char*, const char* k) { return ::unlink(k) | ::mkfifo(k, 0600); })}) {
        ASSERT_TRUE(RetireBMP(dir.file("b.bmp")) == 0 && swap(victim.c_str(), kept.c_str()) == 0);
        image = {40, 30, 24, {}, PatternPixels(40, 30)}; // the write leaves it bottom row first
        WriteBMP(dir.file("b.bmp"), image, why);
        EXPECT_EQ(std::tuple(ReadFile(victim), ReadFile(dir.file("b.bmp")), Names(dir)),
                  std::tuple(Bytes(100, 0x5A), BitmapFileOf(40, 30, PatternPixels(40, 30)), Said{"b.bmp"}));
        EXPECT_TRUE(::stat(dir.file("b.bmp").c_str(), &taken) == 0 && taken.st_nlink == 1);
    }
    std::string failed;
    ASSERT_TRUE(RetireBMP(dir.file("b.bmp")) == 0 && ReleaseRetiredBMP(failed) == 0 &&
                ::symlink(victim.c_str(), dir.file("l.bmp").c_str()) == 0 && RetireBMP(dir.file("l.bmp")) == 0);
    EXPECT_EQ(std::tuple(Names(dir), ReadFile(victim)), std::tuple(Said{}, Bytes(100, 0x5A)));
    const std::string gone = keptOf("999999999"); // past the most process numbers a system gives (2^22)
    Said left = {hidden, keptOf(std::to_string(::getppid())), keptOf("1"), keptOf(""), keptOf("0"), keptOf("99999999x"),
                 keptOf("+99999999"), keptOf(" 99999999"), keptOf("0999999999"), "_" + gone.substr(1), "x" + gone,
                 gone + "x", gone.substr(0, 19) + "_bmp.part", gone.substr(0, 23)};
    for (const std::string& name : left)
        WriteFile(dir.file(name), {1});
    WriteFile(dir.file(gone), {1});
    left.push_back(keptOf("999999998")); // a link, to the file that goes
    ASSERT_EQ(::symlink(gone.c_str(), dir.file(left.back()).c_str()), 0);
    RemoveOrphanedBMPs(dir.path().string());
    EXPECT_NO_THROW(RemoveOrphanedBMPs(dir.file("missing")));
    std::sort(left.begin(), left.end());
    EXPECT_EQ(Names(dir), left);
}

// Each refusal is reported to the caller, not shown, naming the file; the bitmap loaded before stays, colour table too.
// No header makes cDIB or the direct read read or allocate past the file (and fuzzing finds, tests/data/regress/).
TEST(cDIB, FilesAndHeadersItCannotTakeAreReportedAndThePreviousBitmapStays)
{
    TempDir dir;
    const Bytes previous = Dib(5, 3, 24, 58, 0, 48);
    WriteFile(dir.file("ok.bmp"), previous);
    WriteFile(dir.file("other.bmp"), previous);
    std::filesystem::create_directory(dir.file("folder.bmp"));
    cDIB dib;
    Notice why;
    ASSERT_TRUE(dib.CreateFromFile(dir.file("ok.bmp"), why) && why.text.empty());
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(dir.file("ok.bmp").c_str(), 0200); // unreadable for whoever runs the test, below
    MsgBoxRecorder boxes;
    const auto told = [&](const std::string& name, const std::string& text, unsigned icon = vbCritical) {
        Notice why;
        return !dib.CreateFromFile(dir.file(name), why) && Told(why) == Told({text, icon | vbOKOnly, "Reelcast"});
    };
    const auto at = [&](const std::string& name) { return ":\r\n" + dir.file(name); };
    EXPECT_TRUE(told("folder.bmp", "File does not exist" + at("folder.bmp")));
    // Any reason but a permission is told in the system's words.
    const rlimit none{0, 0};
    EXPECT_EQ(RunAsUnprivileged([&] {
        return told("ok.bmp", "File is locked - cannot access" + at("ok.bmp")) && ::setrlimit(RLIMIT_NOFILE, &none) == 0 &&
               told("other.bmp", fileio::ErrorText(EMFILE), vbInformation);
    }), 1);
    EXPECT_EQ(Bytes(dib.PointerToBits(), dib.PointerToBits() + 48), Bytes(previous.begin() + 58, previous.end()));
    EXPECT_EQ(Bytes(dib.PointerToBitmapInfo(), dib.PointerToBitmapInfo() + dib.SizeBitmapInfo()),
              Bytes(previous.begin() + 14, previous.begin() + 58));

    Bytes tiny = Dib(1, 1, 24, 54, 0, 0), past = Dib(2, 2, 24, 54, 16, 16), noInfo = past;
    tiny.resize(20), past[13] = 0x7F, noInfo[10] = 14; // pixels past the end, or in place of the info block
    const std::string shorter = "the bitmap file is shorter than its header says (",
                      overflows = "the bitmap's pixel data size overflows", empty = "the bitmap has no pixel data (size ";
    std::vector<std::pair<std::string, Bytes>> cases = {
        {shorter + "60 bytes, 2147483686 needed)", Dib(4, 4, 24, 54, 0x7FFFFFF0, 6)},
        {shorter + "70 bytes, 2130706502 needed)", past}, {"the bitmap's pixel data offset 14 is invalid", noInfo},
        {overflows, Dib(0x7FFFFFFF, 0x7FFFFFFF, 24, 54, 0, 6)}, {overflows, Dib(65536, 65536, 24, 54, 0, 6)},
        {empty + "-48)", Dib(4, -4, 24, 54, 0, 64)}, {empty + "-16)", Dib(4, 4, 24, 54, 0xFFFFFFF0, 64)},
        {empty + "0)", Dib(4, 0, 24, 54, 0, 64)}, {empty + "0)", tiny},
        {empty + "0)", Bytes(tiny.begin(), tiny.begin() + 14)}, {"done", {}}}; // an empty file is told as no bitmap
    for (const auto& entry : std::filesystem::directory_iterator(REELCAST_TEST_DATA "/regress/fuzz_cdib"))
        cases.push_back({"", ReadFile(entry.path().string())});
    ASSERT_EQ(cases.size(), 13u) << "two inputs in tests/data/regress/fuzz_cdib";
    const std::string bad = dir.file("bad.bmp");
    for (const auto& [trouble, file] : cases) {
        WriteFile(bad, file);
        cDIB fresh;
        const std::string said = Trouble(bad, [&] { fresh.CreateFromFile(bad, why); });
        EXPECT_TRUE(said == trouble || (trouble.empty() && said != "done")) << said;
        EXPECT_THROW(fresh.PointerToBits(), std::out_of_range) << said;
        EXPECT_EQ(ReadDirect(bad), DirectRead()) << said;
    }
    const std::pair<FrameImage, const char*> frames[] = {{{4, 2, 8, Bytes(1024, 7), Bytes(8, 1)}, "Image format unsupported"},
        {{0, 2, 24, {}, {}}, "the picture has no pixels"},
        {{4, 2, 24, {}, Bytes(23, 1)}, "the picture holds fewer pixel bytes than its size needs"}};
    for (const auto& [frame, said] : frames) {
        cDIB fresh;
        std::string why;
        EXPECT_TRUE(!fresh.CreateFromImage(frame, why) && why == said) << why;
        EXPECT_THROW(fresh.PointerToBits(), std::out_of_range) << said;
    }
    EXPECT_TRUE(boxes.shown().empty());
}

// Headers, palette and rows fit in 2 GiB less a byte, as do a stream's frames; no pixels fit a file but no stream.
TEST(BitmapLimits, EverySizeFitsIn2GiBAndAStreamsFormatHasPixels)
{
    EncodedBitmap out;
    const auto encode = [&](FrameImage image) { return EncodeBMP(image, RowOrder::TopFirst, out); };
    const std::string fewer = "the picture holds fewer pixel bytes than its size needs";
    const std::string large = "the picture is too large for a bitmap file";
    EXPECT_EQ((Said{encode({1, 536870898, 24, {}, {}}), encode({1, 536870899, 24, {}, {}}), // 54 + 4 a row
                    encode({4, 536870642, 8, {}, {}}), encode({4, 536870643, 8, {}, {}})}), // 1078 + 4 a row
              (Said{fewer, large, fewer, large}));
    EXPECT_EQ((std::vector<bool>{bmp::FitsFile(-1, 1, 24, 0), bmp::FitsFile(1, -1, 24, 0), bmp::FitsFile(1LL << 31, 0, 8, 0),
                                 bmp::FitsFile(0, 9, 24, 54), bmp::FitsFile(9, 0, 24, 54)}),
              (std::vector<bool>{false, false, false, true, true}));
    using Parsed = std::tuple<bool, int, int, int, std::size_t, std::size_t>;
    const auto parse = [](int w, int h) {
        bmp::FrameFormat f{7, 7, 7, 7, 7};
        const Bytes info = InfoHeader(w, h, 24, 0);
        return Parsed(bmp::ParseBitmapInfo(info.data(), 40, f), f.width, f.height, f.bitCount, f.stride, f.frameBytes);
    };
    const Parsed refused(false, 7, 7, 7, 7, 7);
    EXPECT_EQ(std::tuple(parse(40000, 2), parse(1, 70000), parse(4, 178956970), parse(4, 178956971), parse(0x7FFFFFFF, 1),
                         parse(0, 2), parse(2, 0)),
              std::tuple(Parsed(true, 40000, 2, 24, 120000, 240000), Parsed(true, 1, 70000, 24, 4, 280000),
                         Parsed(true, 4, 178956970, 24, 12, 2147483640), refused, refused, refused, refused));
}

// Nearest pixel, halves to even, reading on past a row's end, zeros past the last pixel; 8-bit keeps its palette.
TEST(ResampleImage, TakesTheNearestPixelReadsOnPastTheEdgeThenZeroes)
{
    FrameImage image{4, 2, 8, Bytes(1024, 7), {1, 2, 3, 4, 5, 6, 7, 8}};
    ResampleImage(image, 8, 4); // positions 0, 0.5, 1, 1.5 ...: columns 0 0 1 2 2 2 3 4, rows 0 0 1 2
    TempDir dir;
    Notice why;
    ASSERT_TRUE(WriteBMP(dir.file("p.bmp"), image, why));
    Bytes info = InfoHeader(8, 4, 8, 32), resampled = {1, 1, 2, 3, 3, 3, 4, 5, 1, 1, 2, 3, 3, 3, 4, 5,
                                                       5, 5, 6, 7, 7, 7, 8, 0}; // no row past the last pixel byte
    info[33] = 1, info.insert(info.end(), 1024, 7), resampled.resize(32); // 256 colours used
    EXPECT_EQ(ReadFile(dir.file("p.bmp")), BitmapFile(info, BitmapRows(8, 4, resampled, 1)));
    image = {2, 2, 24, {}, {1, 1, 1, 2, 2, 2, 3, 3, 3, 4}}; // the last pixel cut short
    ResampleImage(image, 5, 5);
    Bytes pixels; // each source byte taken for a whole pixel: 1 1 2 2 3 / 1 1 2 2 3 / 3 3 0 0 0 / 3 3 0 0 0 / 0 0 0 0 0
    for (const int b : {1, 1, 2, 2, 3, 1, 1, 2, 2, 3, 3, 3, 0, 0, 0, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0})
        pixels.insert(pixels.end(), 3, std::uint8_t(b));
    EXPECT_EQ(std::tuple(image.Width, image.Height, image.Bits), std::tuple(5, 5, pixels));
}

// A run's own folder goes under the runtime folder if it is usable, else the cache folder if one is named, else under
// the home folder's cache; an empty name is no name.
TEST(RunFolder, GoesUnderTheFirstUsableOfTheRuntimeTheCacheAndTheHomeFolders)
{
    TempDir home;
    const std::string cache = home.file("cache"), notAFolder = home.file("file");
    WriteFile(notAFolder, {1});
    ::setenv("HOME", home.path().c_str(), 1); // nothing else in this program reads the user's folders
    const std::tuple<const char*, const char*, std::string> cases[] = {
        {home.path().c_str(), cache.c_str(), home.path().string()}, {"", cache.c_str(), cache},
        {notAFolder.c_str(), nullptr, home.file(".cache")}, {nullptr, "", home.file(".cache")}};
    for (const auto& [runtime, cacheHome, base] : cases) {
        for (const auto& [name, value] : {std::pair{"XDG_RUNTIME_DIR", runtime}, {"XDG_CACHE_HOME", cacheHome}})
            value ? ::setenv(name, value, 1) : ::unsetenv(name);
        std::string made;
        {
            const RunFolder folder;
            made = folder.path();
            EXPECT_TRUE(std::filesystem::is_directory(made));
        }
        EXPECT_EQ(std::tuple(std::filesystem::path(made).parent_path().string(), std::filesystem::exists(made)),
                  std::tuple(base, false));
    }
}

// The first format chunk counts; a sound that shrinks while read says where it now ends; each fault has its words.
TEST(WaveFile, SamplesAreReadAsStoredAndCutAtTheEndAndHeadersTheFileCannotBackAreRefused)
{
    TempDir dir;
    const std::string path = dir.file("s.wav");
    const Bytes fmt = {1, 0, 2, 0, 0x40, 0x1F, 0, 0, 0, 0x7D, 0, 0, 4, 0, 16, 0}, four = {1, 2, 3, 4}; // 16-bit stereo
    Bytes samples(40); // 10 samples
    std::iota(samples.begin(), samples.end(), 1);
    WriteFile(path, Riff({{"fmt ", fmt}, {"LIST", {'a', 'b', 'c'}}, {"fmt ", {1, 0, 1, 0}}, {"data", samples}}));
    const wav::Reader sound(path);
    EXPECT_EQ(std::tuple(sound.frames(), sound.seconds(), sound.format().channels), std::tuple(10, 10 / 8000.0, 2));
    std::vector<std::uint8_t> out{9};
    sound.Read(7, 5, out);
    EXPECT_EQ(out, Bytes(samples.begin() + 28, samples.end()));
    std::filesystem::resize_file(path, std::filesystem::file_size(path) - 12);
    EXPECT_EQ(Trouble("", [&] { sound.Read(5, 5, out); }), "The sound file " + path + " has become shorter than its "
                                                            "header says: its sound ends after 7 of its 10 samples.");
    Bytes riffPast = Riff({{"fmt ", fmt}, {"data", four}}), dataPast = riffPast;
    riffPast[4] = 41;
    dataPast[40] = 5;
    const std::string cut = "is cut short or its header is wrong: ";
    const std::pair<Bytes, std::string> bad[] = {{riffPast, cut + "the header gives 49 bytes, the file has 48."},
        {dataPast, cut + "its \"data\" chunk gives 5 bytes, the file holds 4 after its start."},
        {Riff({{"fmt ", fmt}, {"data", {1, 2, 3, 4, 5, 6}}}),
         cut + "its 6 bytes of sound are not a whole number of 4-byte samples."},
        {Riff({{"fmt ", fmt}, {"data", {}}}), "holds no sound."}, {Riff({}), "has no format (no \"fmt \" chunk)."},
        {Riff({{"data", four}, {"fmt ", fmt}}), "has its sound data before its format chunk."}};
    for (const auto& [bytes, says] : bad) {
        WriteFile(path, bytes);
        EXPECT_EQ(Trouble("", [&] { wav::Reader{path}; }), "The sound file " + path + " " + says);
    }
}

// A file's extension is what follows its name's last dot, in small letters; a dot in a folder's name, or none, gives none.
TEST(GetExtension, TakesTheLastDotOfTheNameInSmallLetters)
{
    const std::pair<const char*, const char*> cases[] = {{"a.b.BmP", "bmp"}, {"/frames.d/shot", ""},
        {"C:\\frames.d\\shot", ""}, {"C.d:shot", ""}, {"noext", ""}, {"trailing.", ""}, {"x.AZaz09", "azaz09"}};
    for (const auto& [path, extension] : cases)
        EXPECT_EQ(GetExtension(path), extension) << path;
}

// Plain, unhidden files in case-blind order but for names differing in case alone; an unreadable list says why.
TEST(FileListBox, ListsOnlyTargaFilesInCaseBlindOrderAndGetNextWalksPastTheEnd)
{
    TempDir dir;
    for (const char* name : {"clip2.tga", "Clip10.tga", "b.TGA", "a.Tga", "A.tga", "\xc3\xa9.tga", ".hidden.tga",
                             "notes.txt", "x.tga.bmp", "tga", "c.tgax"})
        WriteFile(dir.file(name), {});
    ASSERT_TRUE(std::filesystem::create_directory(dir.file("dir.tga")) && ::mkfifo(dir.file("fifo.tga").c_str(), 0600) == 0);
    FileListBox fle;
    fle.SetPath(dir.file("missing"));
    EXPECT_TRUE(fle.ListCount() == 0 && !fle.ListError().empty());
    fle.SetPath(dir.path().string()), fle.SetPath(dir.path().string() + "/"); // listed anew each time
    std::vector<std::string> walked;
    std::int64_t index = 0;
    for (int i = 0; i < 8; ++i)
        walked.push_back(GetNext(fle, index));
    EXPECT_EQ(walked, (std::vector<std::string>{"A.tga", "a.Tga", "b.TGA", "Clip10.tga", "clip2.tga", "\xc3\xa9.tga",
                                                "", ""}));
    EXPECT_EQ(std::tuple(index, fle.Path(), fle.ListError(), fle.List(-1)), std::tuple(8, dir.path().string(), "", ""));
}

// The leading number, blanks ignored, 0 for none, a full stop for the decimal point; rounding halves to even, clamps.
TEST(TextValue, LeadingNumberInAnyLocaleRoundedHalfToEvenAndClamped)
{
    const std::pair<const char*, double> cases[] = {{"99.9", 99.9}, {" \t1\n5 ", 15}, {"12abc", 12}, {"-3", -3},
        {"+7", 7}, {".5", 0.5}, {"1.5e2", 150}, {"1.5D2", 150}, {"2E-1", 0.2}, {"2e", 2}, {"2e+x", 2}, {"1.2.3", 1.2},
        {"1,5", 1}, {"&H1F", 31}, {"&H9", 9}, {"&hff", 255}, {"&O17", 15}, {"&o18", 1}, {"& H 1 0", 16}, {"&H", 0}, {"", 0},
        {" ", 0}, {"-", 0}, {".", 0}, {"e5", 0}, {"inf", 0}, {"nan", 0}, {"0x10", 0}, {"&", 0}, {"&X1", 0}, {"--1", 0}};
    for (const auto& [text, value] : cases)
        EXPECT_DOUBLE_EQ(TextValue(text), value) << '"' << text << '"';
    const std::tuple<const char*, int, long> rounded[] = {{"14.5", 14, 14}, {"15.5", 16, 16}, {"-2.5", -2, -2}, {"2.51", 3, 3},
        {"100000", 32767, 100000}, {"-100000", -32768, -100000}, {"1e300", 32767, 2147483647},
        {"-1e999", -32768, -2147483648L}, {"1e-999", 0, 0}};
    for (const auto& [text, int16, int32] : rounded)
        EXPECT_EQ(std::tuple(RoundToInt16(TextValue(text)), RoundToInt32(TextValue(text))), std::tuple(int16, int32))
            << text;
}
