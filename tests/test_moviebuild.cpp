// SPDX-License-Identifier: GPL-2.0-or-later
// The movie build run, end to end, through a front end of plain members: Targa files in, movies read back by FFmpeg.
#include "AviMovieReader.h"
#include "MovieBuild.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>

#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

namespace {

using Box = std::tuple<std::string, unsigned, std::string>; // title, style, prompt
constexpr unsigned kWarn = vbExclamation | vbOKOnly, kStop = vbCritical | vbOKOnly;
// The question for a compressor, and the offer of a complete movie.
const Box kChoose{"compressor", vbOKCancel, ""}, kWatch{"watch", vbYesNo, "movie.avi"};
using Told = std::vector<std::pair<std::string, std::string>>; // files passed over, and why

// Frames of both origins, the front end, and what was written, so that any change to it shows.
class Build : public BuildQuestions, public BuildSink {
public:
    TempDir frames, outDir;
    std::vector<Bytes> pictures; // top row first
    std::map<std::string, Bytes> written;
    // showAs: added to each bitmap's name on its way to cDIB; atAYield: with direct frames, what the frame folder
    // held beyond its files at a yield.
    std::string w = "abc", h = "-7", fps = "15", dir = frames.path().string(), out = outDir.file("movie.avi"),
                codec = "raw", showAs, atAYield;
    int blend = 1, framesShown = 0, yields = 0, actAt = 0;
    bool force = false, closing = false, choose = true, replace = true, direct = false;
    Told passedOver;
    std::vector<std::string> statuses;
    std::vector<float> progress;
    BuildState state;
    std::vector<Box> boxes; // questions and messages in order, without the frame and movie folders
    std::function<void()> act;

    void SetStatus(const std::string& s) override { statuses.push_back(s); }
    void ShowProgress(float p) override { progress.push_back(p); }
    std::string FormatPercent(double p) const override
    {
        char text[32];
        return {text, static_cast<std::size_t>(std::snprintf(text, sizeof text, "%.1f", p))};
    }
    std::string ShowFrame(const std::string& f) override { return ++framesShown, f + showAs; }
    void Shown(const std::string& title, unsigned style, std::string text)
    {
        for (const std::string& folder : {frames.path().string(), outDir.path().string()})
            for (std::size_t at; (at = text.find(folder)) != std::string::npos;)
                text.erase(at, folder.size() + (text.compare(at + folder.size(), 1, "/") == 0));
        boxes.emplace_back(title, style, text);
    }
    bool ConfirmOverwrite(const std::string& p) override { return Shown("overwrite", vbYesNo, p), replace; }
    void OfferToWatch(const std::string& p) override { Shown("watch", vbYesNo, p); }
    void ShowMessage(const Notice& n) override { Shown(n.title, n.style, n.text); }
    void PassedOver(const std::string& file, const std::string& why) override { passedOver.emplace_back(file, why); }
    bool ChooseCompressor(PAVISTREAM, AVICOMPRESSOPTIONS& o) override
    {
        Shown("compressor", vbOKCancel, "");
        o.fccType = mmioStringToFOURCC("vids", 0);
        o.fccHandler = std::ranges::find(AviCompressors(), codec, &AviCompressor::name)->fccHandler;
        return choose;
    }
    bool Yield() override
    {
        atAYield = direct && atAYield.empty() ? Litter() : atAYield;
        return ++yields == actAt ? (act(), closing) : closing;
    }

    Build(int n, int width, int height)
    {
        for (int i = 0; i < n; ++i)
            pictures.push_back(PatternPixels(width, height, static_cast<unsigned>(i * 5 + 1))),
                Put(i, MakeTarga(width, height, pictures.back(), {.topFirst = i % 2 == 1}));
        ::chmod(frames.path().c_str(), 0777), ::chmod(outDir.path().c_str(), 0777); // for unprivileged children
    }
    // Runs action at the k-th yield: the run yields once before its loop and six times a frame.
    void AtYield(int k, std::function<void()> action) { actAt = k, act = std::move(action); }
    std::string Name(int i) const { return frames.file("shot00" + std::string(i < 10, '0') + std::to_string(i) + ".tga"); }
    void Put(int i, const Bytes& bytes) { WriteFile(Name(i), written[Name(i)] = bytes); }
    BuildResult Press()
    {
        const BuildRequest request{.directory = dir, .output = out, .widthText = w, .heightText = h, .fpsText = fps,
            .force = force, .exactRate = {}, .sound = nullptr, .blend = blend, .directFrames = direct};
        return BuildMovie(request, *this, *this, state, SharedFrameImage());
    }

    // What the run left or changed in the frame folder, or "": no temporary bitmap outlives the run; direct frames
    // make none at any moment.
    std::string Litter() const
    {
        std::string left = direct && framesShown > 0 ? "frames shown; " : atAYield;
        std::size_t kept = 0;
        for (const auto& e : std::filesystem::directory_iterator(frames.path())) {
            const auto put = written.find(e.path().string());
            if (put != written.end() && ReadFile(put->first) == put->second)
                ++kept;
            else if (e.is_regular_file())
                left += e.path().filename().string() + " ";
        }
        return kept == written.size() ? left : left + "(gone: " + std::to_string(written.size() - kept) + ")";
    }
};

} // namespace

// N files give N frames, files 2 to N as pictures: status by N + 1, bar by N, the rate text in the header, the size
// texts read only when forced. A file the window does not read repeats the frame before it, the right way up; the
// first takes the second's. Direct frames and a second press make the same file. Dead processes' hidden bitmaps go.
TEST(MovieBuild, NFilesGiveNFramesWithFilesTwoToNAsPicturesAndPassedOverOnesRepeatTheFrameBefore)
{
    const TargaKind kinds[] = {{1, 8, 24, 0, 256}, {10, 24}, {2, 16}, {}, {3, 8}};
    const std::tuple<const char*, bool, int> cases[] = { // codec, forced, the file passed over
        {"raw", false, -1}, {"raw", false, 0}, {"raw", false, 1}, {"raw", false, 2}, {"raw", false, 4},
        {"raw", true, -1},  {"raw", true, 0},  {"raw", true, 1},  {"ffv1", true, 4}};
    pid_t dead = 4194000;
    while (::kill(dead, 0) == 0 || errno != ESRCH)
        --dead;
    for (const auto& [codec, force, skipped] : cases) {
        Bytes viaBitmaps;
        for (const bool direct : {false, true}) {
            SCOPED_TRACE(testing::Message() << codec << " forced " << force << " passed over " << skipped << " direct " << direct);
            Build run(5, 6, 4);
            run.codec = codec, run.force = force, run.direct = direct, run.fps = "40", run.w = "12", run.h = "8";
            if (skipped >= 0)
                run.Put(skipped, MakeAnyTarga(6, 4, kinds[skipped], 9).file);
            WriteFile(run.frames.file(".reelcast-" + std::to_string(dead) + ".bmp.part"), Bytes(10, 1));
            const std::string alive = run.frames.file(".reelcast-" + std::to_string(::getppid()) + ".bmp.part");
            WriteFile(alive, run.written[alive] = Bytes(10, 3));
            const BuildResult r = run.Press();
            EXPECT_EQ(std::tuple(r.outcome, r.framesWritten, r.movieFrames, r.rate.PerSecond(), r.resultCode, r.passedOver,
                                 r.repeats, AviSaveOptionsPending(), run.framesShown),
                      std::tuple(BuildOutcome::Created, 4, 5, 30.0, 0, skipped >= 0, skipped > 0, 0, direct ? 0 : 5));
            EXPECT_EQ(std::tuple(run.passedOver, run.statuses, run.progress, run.boxes),
                      std::tuple(skipped < 0 ? Told{} : Told{{run.Name(skipped), "not an uncompressed 24-bit Targa file"}},
                                 std::vector<std::string>{"File's Creation Status: 16.7%", "File's Creation Status: 33.3%",
                                                          "File's Creation Status: 50.0%", "File's Creation Status: 66.7%",
                                                          "Movie's Creation Completed!"},
                                 std::vector<float>{1, 0, 20, 40, 60, 80, 100}, std::vector{kChoose, kWatch}));
            const auto movie = avitest::ReadMovie(run.out);
            EXPECT_EQ(std::tuple(movie.width, movie.height, movie.rateNum * 1.0 / movie.rateDen, movie.warnings.size()),
                      std::tuple(force ? 12 : 6, force ? 8 : 4, 30.0, 0u)) << movie.error;
            ASSERT_EQ(movie.frames.size(), 5u);
            for (int k = 1; k < 5; ++k) {
                const Bytes& source = run.pictures[k == skipped ? k - 1 : k];
                // Forced, the top-left pixel tells the picture and its way up.
                EXPECT_TRUE(force ? std::equal(source.begin(), source.begin() + 3, movie.frames[k].begin())
                                  : movie.frames[k] == source) << k;
            }
            EXPECT_EQ(run.Litter(), "");
            EXPECT_TRUE(!direct || ReadFile(run.out) == viaBitmaps);
            viaBitmaps = ReadFile(run.out);
            EXPECT_TRUE(run.Press().outcome == BuildOutcome::Created && ReadFile(run.out) == viaBitmaps);
        }
    }
}

// The window's rate text: whole numbers, 1 to 50, the header at most 30. A rate paced by a sound is a fraction of two
// signed 32-bit fields: exact where it fits, reduced first; else the closest that fits.
TEST(MovieBuild, HeaderRatesComeFromTheRateTextOrExactlyAsCloseAsTheHeaderHoldsFromTheSound)
{
    const std::pair<const char*, std::uint32_t> texts[] = {{"", 15},   {"0", 15},  {"-3", 15}, {"51", 15},
        {"60", 15}, {"40", 30}, {"50", 30}, {"31", 30}, {"30", 30}, {"25", 25}, {"15.5", 16}, {"1", 1}};
    for (const auto& [text, rate] : texts)
        EXPECT_EQ(std::tuple(WindowRate(text).rate, WindowRate(text).scale), std::tuple(rate, 1u)) << '"' << text << '"';
    for (const auto& [r, rate, scale] :
         {std::tuple(RateForSound(120, 96000, 48000), 60u, 1u), {ClosestRate(30000, 1001), 30000u, 1001u},
          {ClosestRate(3000000000, 100000000), 30u, 1u}, {ClosestRate(1ull << 40, 1), kMaxRateField, 1u},
          {ClosestRate(1, 1ull << 40), 1u, kMaxRateField},
          // 65536 + 1/40000 and + 1/70000: after 65536/1 the next convergent's rate overflows; the largest t with
          // 65536t + 1 in range is 32767, and 1/32767 is nearer 1/40000 than 0 is, but not nearer 1/70000.
          {ClosestRate(2621440001, 40000), 2147418113u, 32767u}, {ClosestRate(4587520001, 70000), 65536u, 1u}})
        EXPECT_EQ(std::tuple(r.rate, r.scale), std::tuple(rate, scale));
}

// Runs that end before their last frame: what they say and show, a playable movie of the frames so far or none, and
// nothing left behind. Cancel inside frame 3 still writes the frame in hand; closing the window stops before it, with
// no offer to watch. A bitmap spoiled before its load is told in cDIB's words, then the run's.
TEST(MovieBuild, RunsThatEndEarlySayWhyKeepThePlayableMovieSoFarAndLeaveNothingBehind)
{
    using enum BuildOutcome;
    const std::tuple<const char*, std::function<void(Build&)>, BuildOutcome, int, HRESULT_AVI, std::string,
                     std::vector<Box>>
        cases[] = {
            {"no files", [](Build& r) { std::filesystem::create_directory(r.dir += "/empty"); }, NotStarted, 0, 0, "",
             {{"Error!", kWarn, "There's no TGA files in:\r\nempty"}}},
            {"one file", [](Build& r) { std::filesystem::create_directory(r.dir += "/one");
                                        std::filesystem::copy(r.Name(0), r.dir); }, NotStarted, 0, 0, "",
             {{"Error!", kWarn, "There's only one TGA file in:\r\none\r\n"
                                "A movie needs at least two: the first one only gives the movie its format."}}},
            {"negative height", [](Build& r) { r.force = true, r.w = "6", r.h = "-384"; }, NotStarted, 0, 0, "",
             {{"Error!", kWarn, "The forced movie dimensions must be at least 1 x 1 and fit a bitmap file:\r\n"
                                "Width: 6\r\nHeight: -384"}}},
            {"fewer files than two groups", [](Build& r) { r.blend = 4; }, NotStarted, 0, 0, "",
             {{"Error!", kWarn, "There are 6 TGA files in:\r\n\r\nBlending 4 into each frame needs at least 8: the "
                                "first group only gives the movie its format."}}},
            {"first bitmap gone", [](Build& r) { r.showAs = ".gone"; }, Failed, 0, AVIERR_FILEREAD,
             "Movie's creation stopped: the first bitmap could not be loaded.",
             {{"Reelcast", kStop, "File does not exist:\r\nshot0000.tga.bmp.gone"},
              {"Reelcast", kWarn, "Could not load first bitmap file in list!"}}},
            {"no compressor chosen", [](Build& r) { r.choose = false; }, NotStarted, 0, 0,
             "Movie's creation cancelled: no compressor chosen.", {kChoose}},
            {"too small for Ut Video", [](Build& r) { r.codec = "utvideo", r.force = true, r.w = "1", r.h = "3"; },
             Failed, 0, AVIERR_BADFORMAT, "There was an error writing the file.", {kChoose}},
            {"frame of another size", [](Build& r) { r.Put(2, MakeTarga(4, 6, Bytes(72))); }, Failed, 1, AVIERR_BADSIZE,
             "There was an error creating the AVI File.",
             {kChoose, {"Reelcast", kWarn, "The frame shot0002.tga is 4 x 6 pixels, but the movie's frames are 6 x 4, "
                                           "the size of the first frame:\r\nshot0000.tga"}}},
            {"bitmap spoiled", [](Build& r) { r.AtYield(1 + 6 * 2 + 1, [&r] { WriteFile(r.Name(3) + ".bmp", {'X'}); }); },
             Failed, 2, 0, "Movie's creation stopped after 2 frames.",
             {kChoose, {"Reelcast", vbInformation | vbOKOnly, "File is not a supported bitmap format:\r\nshot0003.tga.bmp"},
              {"Reelcast", kStop, "Could not load the bitmap of frame 4:\r\nshot0003.tga.bmp"}}},
            // Direct frames: the window's own run stops the same way with bitmaps.
            {"cancel", [](Build& r) { r.codec = "ffv1", r.direct = true;
                                      r.AtYield(15, [&r] { r.state.CancelRequested = true; }); },
             Cancelled, 3, 0, "Movie's Creation Completed!", {kChoose, kWatch}},
            {"close", [](Build& r) { r.codec = "ffv1", r.direct = true, r.AtYield(14, [&r] { r.closing = true; }); }, Cancelled,
             2, 0, "Movie's creation stopped: the window was closed.", {kChoose}},
        };
    for (const auto& [what, setUp, outcome, frames, code, status, boxes] : cases) {
        SCOPED_TRACE(what);
        Build run(6, 6, 4);
        setUp(run);
        const BuildResult r = run.Press();
        // A run that got under way ends with the bar full, marked as over.
        const std::string last = run.statuses.empty() ? "" : run.statuses.back();
        EXPECT_EQ(std::tuple(r.outcome, r.framesWritten, r.resultCode, last, run.state.CancelRequested, run.boxes),
                  std::tuple(outcome, frames, code, status, !status.empty(), boxes));
        EXPECT_EQ(std::tuple(run.progress.empty() ? -1.f : run.progress.back(), AviSaveOptionsPending(), run.Litter()),
                  std::tuple(status.empty() ? -1.f : 100.f, 0, ""));
        const auto movie = avitest::ReadMovie(run.out);
        ASSERT_EQ(std::tuple(std::filesystem::exists(run.out), movie.frames.size(), movie.warnings.size()),
                  std::tuple(frames > 0, frames ? frames + 1u : 0u, 0u)) << movie.error;
        for (int k = 1; k <= frames; ++k)
            EXPECT_EQ(movie.frames[k], run.pictures[k]) << k;
    }
}

// Blended, groups stand in for files: each frame is its group's linear-light average (black and white give 188),
// without its passed-over files; a group of none repeats the frame before; a short last group is left out.
TEST(MovieBuild, BlendedGroupsStandInForFiles)
{
    Build run(14, 2, 2);
    run.blend = 3, run.direct = true;
    for (int i = 3; i < 12; ++i) // black, white, four passed over, three of one picture
        run.Put(i, i < 5 ? MakeTarga(2, 2, Bytes(12, i == 3 ? 0 : 255))
                   : i < 9 ? MakeAnyTarga(2, 2, {10, 24}).file : MakeTarga(2, 2, run.pictures[9]));
    const BuildResult r = run.Press();
    EXPECT_EQ(std::tuple(r.outcome, r.framesWritten, r.passedOver, r.repeats, run.Litter()),
              std::tuple(BuildOutcome::Created, 3, 4, 1, ""));
    EXPECT_EQ(avitest::ReadMovie(run.out).frames, // position 0 repeats the first frame
              (std::vector{Bytes(12, 188), Bytes(12, 188), Bytes(12, 188), run.pictures[9]}));
    EXPECT_EQ(run.boxes, (std::vector<Box>{kChoose, {"Reelcast", vbInformation | vbOKOnly, "The last 2 files, from "
                                           "shot0012.tga on, make no whole group of 3 and are left out."}, kWatch}));
}

// In an unprivileged child, where permissions apply: a frame folder the user cannot write converts through a folder
// of the run's own, which goes with the run; an undeletable bitmap stops the run with one message, keeping the frames
// before.
TEST(MovieBuildFaults, PermissionsShapeTheRunButNeverCostAFrameWritten)
{
    const std::tuple<const char*, std::function<void(Build&)>, BuildOutcome, int, std::vector<Box>, std::string>
        cases[] = {
            {"read-only frame folder", [](Build& r) { ::chmod(r.dir.c_str(), 0555); }, BuildOutcome::Created, 4,
             {kChoose, kWatch}, ""},
            {"undeletable bitmap", [](Build& r) {
                 ASSERT_TRUE(::geteuid() != 0 || ::chown(r.dir.c_str(), 65534, 65534) == 0);
                 r.AtYield(1 + 2, [&r] { ::chmod(r.dir.c_str(), 0555); });
             }, BuildOutcome::Failed, 1,
             {kChoose, {"Reelcast", kStop, "Cannot delete the temporary bitmap:\r\nshot0001.tga.bmp\r\nPermission denied"}},
             "shot0001.tga.bmp "},
        };
    for (const auto& [what, setUp, outcome, frames, boxes, left] : cases) {
        SCOPED_TRACE(what);
        Build run(5, 8, 6);
        TempDir runtime; // one the child can write
        ::chmod(runtime.path().c_str(), 0777);
        ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
        setUp(run);
        EXPECT_EQ(RunAsUnprivileged([&] {
                      const BuildResult r = run.Press();
                      const auto movie = avitest::ReadMovie(run.out);
                      // Each failed check sets its own bit of the child's exit code.
                      return (r.outcome != outcome) | (r.framesWritten != frames) << 1 | (run.boxes != boxes) << 2 |
                             !(movie.frames.size() == frames + 1u && movie.frames.back() == run.pictures[frames]) << 3;
                  }),
                  0);
        ::unsetenv("XDG_RUNTIME_DIR");
        ::chmod(run.dir.c_str(), 0777);
        const std::string litter = run.Litter(); // a bitmap that cannot be deleted stays, with the kept one
        EXPECT_TRUE(left.empty() ? litter.empty() : litter.find(left) != std::string::npos) << litter;
        EXPECT_TRUE(std::filesystem::is_empty(runtime.path())) << "the run's own folder goes with the run";
    }
}
