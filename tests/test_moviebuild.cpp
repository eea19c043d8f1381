// SPDX-License-Identifier: GPL-2.0-or-later
// The movie build run, end to end, through a front end made of plain
// members: generated Targa sequences in, movies read back with FFmpeg out.
// Runs of direct frames are held to the movie their bitmaps would have made.
#include "AviMovieReader.h"
#include "MovieBuild.h"
#include "TestSupport.h"
#include "mdAVI.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
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
const Box kWatch{"watch", vbYesNo, "movie.avi"}; // the offer of a complete movie
using Told = std::vector<std::pair<std::string, std::string>>; // files passed over, and why

// Frames of both origins, a front end of plain members, and what was
// written, so that any change to it shows.
class Build : public BuildQuestions, public BuildSink {
public:
    TempDir frames, outDir;
    std::vector<Bytes> pictures; // top row first
    std::map<std::string, Bytes> written;
    std::string w = "abc", h = "-7", fps = "15", dir = frames.path().string(), out = outDir.file("movie.avi"),
                codec = "raw";
    int dialogShown = 0, blend = 1, framesShown = 0;
    bool force = false, closing = false, acceptDialog = true, direct = false;
    Told passedOver;
    std::vector<std::string> statuses;
    std::string atAYield; // direct frames: what the frame folder held beyond its files at a yield
    std::vector<float> progress;
    BuildState state;
    // Questions and messages in order, a question's title being what it
    // asks; the frame and movie folders (and a slash after them) are left out
    // of the paths.
    std::vector<Box> boxes;
    int yields = 0, actAt = 0;
    std::function<void()> act;

    void SetStatus(const std::string& s) override { statuses.push_back(s); }
    void ShowProgress(float p) override { progress.push_back(p); }
    std::string FormatPercent(double p) const override
    {
        char text[32];
        return {text, static_cast<std::size_t>(std::snprintf(text, sizeof text, "%.1f", p))};
    }
    std::string ShowFrame(const std::string& f) override { return ++framesShown, f; }
    void Shown(const std::string& title, unsigned style, std::string text)
    {
        for (const std::string& folder : {frames.path().string(), outDir.path().string()})
            for (std::size_t at; (at = text.find(folder)) != std::string::npos;)
                text.erase(at, folder.size() + (text.compare(at + folder.size(), 1, "/") == 0));
        boxes.emplace_back(title, style, text);
    }
    bool ConfirmOverwrite(const std::string& p) override { return Shown("overwrite", vbYesNo, p), false; }
    void OfferToWatch(const std::string& p) override { Shown("watch", vbYesNo, p); }
    void ShowMessage(const Notice& n) override { Shown(n.title, n.style, n.text); }
    void PassedOver(const std::string& file, const std::string& why) override { passedOver.emplace_back(file, why); }
    bool ChooseCompressor(PAVISTREAM, AVICOMPRESSOPTIONS& o) override
    {
        ++dialogShown;
        o.fccType = mmioStringToFOURCC("vids", 0);
        for (const auto& c : AviCompressors())
            if (c.name == codec)
                o.fccHandler = c.fccHandler;
        return acceptDialog;
    }
    bool Yield() override
    {
        if (direct && atAYield.empty())
            atAYield = Litter();
        if (++yields == actAt)
            act();
        return closing;
    }

    Build(int n, int width, int height)
    {
        for (int i = 0; i < n; ++i) {
            pictures.push_back(PatternPixels(width, height, static_cast<unsigned>(i * 5 + 1)));
            Put(i, MakeTarga(width, height, pictures.back(), {i % 2 == 1}));
        }
        // For the runs in unprivileged child processes.
        ::chmod(frames.path().c_str(), 0777);
        ::chmod(outDir.path().c_str(), 0777);
    }
    // Runs action at the k-th yield: the run yields once before its loop and
    // six times a frame.
    void AtYield(int k, std::function<void()> action) { actAt = k, act = std::move(action); }
    std::string Name(int i) const { return frames.file("shot00" + std::string(i < 10, '0') + std::to_string(i) + ".tga"); }
    void Put(int i, const Bytes& bytes) { WriteFile(Name(i), written[Name(i)] = bytes); }
    BuildResult Press()
    {
        BuildRequest request;
        request.directory = dir, request.output = out, request.widthText = w, request.heightText = h;
        request.fpsText = fps, request.force = force, request.blend = blend, request.directFrames = direct;
        return BuildMovie(request, *this, *this, state, SharedFrameImage());
    }
    std::string LastStatus() const { return statuses.empty() ? "" : statuses.back(); }

    // What the run left or changed in the frame folder, or "": temporary
    // bitmaps, hidden or not, never outlive the run; direct frames make none
    // at any moment, and show none.
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

// N files give N frames, files 2 to N as pictures: status by N + 1, bar by
// N, the rate text in the header, the width and height texts unread unless
// forced (6 x 4 pictures forced to 12 x 8 are doubled). A file the window
// does not read, of whatever kind, is passed over without a word and repeats
// the frame before it, the right way up; the first takes the second's
// picture. Direct frames make the very same file. Hidden bitmaps of dead
// processes are removed before a run, a live one's kept.
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
            run.codec = codec, run.force = force, run.direct = direct, run.fps = "40";
            if (force)
                run.w = "12", run.h = "8";
            if (skipped >= 0)
                run.Put(skipped, MakeAnyTarga(6, 4, kinds[skipped], 9).file);
            WriteFile(run.frames.file(".reelcast-" + std::to_string(dead) + ".bmp.part"), Bytes(10, 1));
            const std::string alive = run.frames.file(".reelcast-" + std::to_string(::getppid()) + ".bmp.part");
            WriteFile(alive, run.written[alive] = Bytes(10, 3));
            const BuildResult r = run.Press();
            EXPECT_EQ(std::tuple(r.outcome, r.framesWritten, r.passedOver, r.repeats, r.status),
                      std::tuple(BuildOutcome::Created, 4, skipped >= 0, skipped > 0, "Movie's Creation Completed!"));
            EXPECT_EQ(run.passedOver,
                      (skipped < 0 ? Told{} : Told{{run.Name(skipped), "not an uncompressed 24-bit Targa file"}}));
            EXPECT_EQ(std::tuple(run.dialogShown, AviSaveOptionsPending(), run.framesShown),
                      std::tuple(1, 0, direct ? 0 : 5));
            EXPECT_EQ(run.statuses,
                      (std::vector<std::string>{"File's Creation Status: 16.7%", "File's Creation Status: 33.3%",
                                                "File's Creation Status: 50.0%", "File's Creation Status: 66.7%",
                                                "Movie's Creation Completed!"}));
            EXPECT_EQ(run.progress, (std::vector<float>{1, 0, 20, 40, 60, 80, 100}));
            EXPECT_EQ(run.boxes, std::vector{kWatch});

            const auto movie = avitest::ReadMovie(run.out);
            EXPECT_EQ(std::tuple(movie.width, movie.height, movie.rateNum * 1.0 / movie.rateDen),
                      std::tuple(force ? 12 : 6, force ? 8 : 4, 30.0))
                << movie.error;
            ASSERT_EQ(movie.frames.size(), 5u);
            EXPECT_TRUE(movie.warnings.empty()) << movie.warnings.front();
            for (int k = 1; k < 5; ++k) {
                const Bytes& source = run.pictures[k == skipped ? k - 1 : k];
                // Forced, the top-left pixel tells the picture and its way up
                // (the resampler's own tests hold the rest).
                EXPECT_TRUE(force ? std::equal(source.begin(), source.begin() + 3, movie.frames[k].begin())
                                  : movie.frames[k] == source) << k;
                EXPECT_TRUE(k != skipped || !force || movie.frames[k] == movie.frames[k - 1]) << k;
            }
            EXPECT_EQ(run.Litter(), "");
            EXPECT_TRUE(!direct || ReadFile(run.out) == viaBitmaps);
            viaBitmaps = ReadFile(run.out);
        }
    }
}

// The window's rule for its rate text: whole numbers, 1 to 50, of which the
// header takes at most 30. A rate paced by a sound is a fraction of two
// signed 32-bit fields: exact where it fits, reduced first; else the
// closest fraction that fits, so that the movie ends with its sound.
TEST(MovieBuild, HeaderRatesComeFromTheRateTextOrExactlyAsCloseAsTheHeaderHoldsFromTheSound)
{
    const std::pair<const char*, std::uint32_t> texts[] = {
        {"", 15},   {"0", 15},  {"-3", 15}, {"51", 15},  {"60", 15},  {"40", 30},
        {"50", 30}, {"31", 30}, {"30", 30}, {"25", 25}, {"15.5", 16}, {"1", 1}};
    for (const auto& [text, rate] : texts)
        EXPECT_EQ(std::tuple(WindowRate(text).rate, WindowRate(text).scale), std::tuple(rate, 1u)) << '"' << text << '"';

    const auto rate = [](FrameRate r) { return std::tuple(r.rate, r.scale); };
    EXPECT_EQ(rate(RateForSound(120, 96000, 48000)), std::tuple(60u, 1u));
    EXPECT_EQ(rate(ClosestRate(30000, 1001)), std::tuple(30000u, 1001u));
    EXPECT_EQ(rate(ClosestRate(3000000000, 100000000)), std::tuple(30u, 1u));
    EXPECT_EQ(rate(ClosestRate(1ull << 40, 1)), std::tuple(kMaxRateField, 1u));
    EXPECT_EQ(rate(ClosestRate(1, 1ull << 40)), std::tuple(1u, kMaxRateField));
    // Frame counts around where a halved fraction used to drift, and sounds a
    // little off a whole number of frames: the movie ends within half a frame
    // of its sound.
    for (const std::int64_t frames : {44740ll, 45000ll, 1000003ll, 216000000ll})
        for (const std::int64_t samples : {frames * 800 + 1, frames * 1600 - 7, frames * 441 / 10 + 3}) {
            const FrameRate r = RateForSound(frames, samples, 48000);
            ASSERT_TRUE(r.rate > 0 && r.rate <= kMaxRateField && r.scale <= kMaxRateField) << frames;
            const long double movie = static_cast<long double>(frames) * r.scale / r.rate,
                              sound = static_cast<long double>(samples) / 48000;
            EXPECT_LT(std::fabs(movie - sound), 0.5L * r.scale / r.rate) << frames << " " << samples;
        }
}

// Runs that end before their last frame: what they say and show, and a
// playable movie of the frames so far, or none; nothing left behind. Cancel
// inside frame 3 still writes the frame in hand; closing the window stops
// before it, with no offer to watch a movie nobody sees. A bitmap spoiled
// between its write and its load is told in the bitmap's words, then the run's.
TEST(MovieBuild, RunsThatEndEarlySayWhyKeepThePlayableMovieSoFarAndLeaveNothingBehind)
{
    // Direct frames: the window's own run stops the same way with bitmaps.
    const auto stopAt = [](int yield, bool cancel) {
        return [=](Build& r) {
            r.codec = "ffv1", r.direct = true;
            r.AtYield(yield, [&r, cancel] { (cancel ? r.state.CancelRequested : r.closing) = true; });
        };
    };
    constexpr auto notStarted = BuildOutcome::NotStarted, failed = BuildOutcome::Failed,
                   cancelled = BuildOutcome::Cancelled;
    const std::string done = "Movie's Creation Completed!", closed = "Movie's creation stopped: the window was closed.",
                      size = "The forced movie dimensions must be at least 1 x 1 and fit a bitmap file:\r\n";
    const std::tuple<const char*, std::function<void(Build&)>, BuildOutcome, int, std::string, std::vector<Box>>
        cases[] = {
            {"no files", [](Build& r) { std::filesystem::create_directory(r.dir += "/empty"); }, notStarted, 0, "",
             {{"Error!", kWarn, "There's no TGA files in:\r\nempty"}}},
            {"one file", [](Build& r) { std::filesystem::create_directory(r.dir += "/one");
                                        std::filesystem::copy(r.Name(0), r.dir); }, notStarted, 0, "",
             {{"Error!", kWarn, "There's only one TGA file in:\r\none\r\n"
                                "A movie needs at least two: the first one only gives the movie its format."}}},
            {"negative height", [](Build& r) { r.force = true, r.w = "6", r.h = "-384"; }, notStarted, 0, "",
             {{"Error!", kWarn, size + "Width: 6\r\nHeight: -384"}}},
            {"absurd size", [](Build& r) { r.force = true, r.w = r.h = "100000"; }, notStarted, 0, "",
             {{"Error!", kWarn, size + "Width: 100000\r\nHeight: 100000"}}},
            {"fewer files than two groups", [](Build& r) { r.blend = 4; }, notStarted, 0, "",
             {{"Error!", kWarn, "There are 6 TGA files in:\r\n\r\nBlending 4 into each frame needs at least 8: the "
                                "first group only gives the movie its format."}}},
            {"no supported Targa", [](Build& r) { r.Put(0, MakeAnyTarga(6, 4, {2, 32}).file), r.Put(1, Bytes(5, 1)); }, failed, 0, "Movie's creation stopped after 0 frames.",
             {{"Reelcast", kStop, "Neither of the first two frames is an uncompressed 24-bit Targa file:\r\n"
                                  "shot0000.tga\r\nshot0001.tga\r\nReelcast reads only that kind."}}},
            {"refused dialog", [](Build& r) { r.acceptDialog = false; }, notStarted, 0,
             "Movie's creation cancelled: no compressor chosen.", {}},
            {"frame of another size", [](Build& r) { r.Put(2, MakeTarga(4, 6, PatternPixels(4, 6))); }, failed, 1,
             "There was an error creating the AVI File.",
             {{"Reelcast", kWarn, "The frame shot0002.tga is 4 x 6 pixels, but the movie's frames are 6 x 4, the size "
                                  "of the first frame:\r\nshot0000.tga"}}},
            {"bitmap spoiled", [](Build& r) { r.AtYield(1 + 6 * 2 + 1, [&r] { WriteFile(r.Name(3) + ".bmp", {'X'}); }); },
             failed, 2, "Movie's creation stopped after 2 frames.",
             {{"Reelcast", vbInformation | vbOKOnly, "File is not a supported bitmap format:\r\nshot0003.tga.bmp"},
              {"Reelcast", kStop, "Could not load the bitmap of frame 4:\r\nshot0003.tga.bmp"}}},
            {"cancel", stopAt(1 + 6 * 2 + 2, true), cancelled, 3, done, {kWatch}},
            {"close", stopAt(1 + 6 * 2 + 1, false), cancelled, 2, closed, {}},
        };
    for (const auto& [what, setUp, outcome, frames, status, boxes] : cases) {
        SCOPED_TRACE(what);
        Build run(6, 6, 4);
        setUp(run);
        const BuildResult r = run.Press();
        EXPECT_EQ(std::tuple(r.outcome, r.framesWritten, run.LastStatus()), std::tuple(outcome, frames, status));
        EXPECT_EQ(run.boxes, boxes);
        EXPECT_EQ(run.progress.empty() ? -1.f : run.progress.back(), status.empty() ? -1.f : 100.f);
        EXPECT_EQ(std::tuple(run.dialogShown, AviSaveOptionsPending()), std::tuple(run.acceptDialog ? frames > 0 : 1, 0));
        EXPECT_EQ(run.Litter(), "");
        ASSERT_EQ(std::filesystem::exists(run.out), frames > 0);
        if (frames > 0) {
            const auto movie = avitest::ReadMovie(run.out);
            ASSERT_EQ(movie.frames.size(), frames + 1u) << movie.error;
            EXPECT_TRUE(movie.warnings.empty()) << movie.warnings.front();
            for (int k = 1; k <= frames; ++k)
                EXPECT_EQ(movie.frames[k], run.pictures[k]) << k;
        }
    }
}

// Blended, groups stand in for files: each frame is its group's linear-light
// average (black and white give 188), without its passed-over files; a group
// of none repeats the frame before; a short last group is left out. Only
// direct frames are ever blended.
TEST(MovieBuild, BlendedGroupsStandInForFiles)
{
    Build run(14, 2, 2);
    run.blend = 3, run.direct = true;
    for (int i = 3; i < 12; ++i) // black, white, four passed over, three of one picture
        run.Put(i, i < 5 ? MakeTarga(2, 2, Bytes(12, i == 3 ? 0 : 255))
                   : i < 9 ? MakeAnyTarga(2, 2, {10, 24}).file : MakeTarga(2, 2, run.pictures[9]));
    const BuildResult r = run.Press();
    EXPECT_EQ(std::tuple(r.outcome, r.framesWritten, r.passedOver, r.repeats),
              std::tuple(BuildOutcome::Created, 3, 4, 1));
    const auto movie = avitest::ReadMovie(run.out);
    ASSERT_EQ(movie.frames.size(), 4u) << movie.error;
    EXPECT_EQ(std::vector(movie.frames.begin() + 1, movie.frames.end()),
              (std::vector{Bytes(12, 188), Bytes(12, 188), run.pictures[9]}));
    EXPECT_EQ(run.boxes, (std::vector<Box>{{"Reelcast", vbInformation | vbOKOnly,
                                            "The last 2 files, from shot0012.tga on, make no whole group of 3 and are "
                                            "left out."},
                                           kWatch}));
    EXPECT_EQ(run.Litter(), "");
}

// In an unprivileged child, where permissions apply (root passes their
// checks): a frame folder the user cannot write converts through a folder
// of the run's own; an unreadable frame, or a temporary bitmap that cannot
// be deleted, stops the run with one message and keeps the frames before.
TEST(MovieBuildFaults, PermissionsShapeTheRunButNeverCostAFrameWritten)
{
    TempDir runtime;
    ::chmod(runtime.path().c_str(), 0777);
    ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    const std::tuple<const char*, std::function<void(Build&)>, BuildOutcome, int, std::vector<Box>, std::string>
        cases[] = {
            {"read-only frame folder", [](Build& r) { ::chmod(r.dir.c_str(), 0555); }, BuildOutcome::Created, 4,
             {kWatch}, ""},
            {"unreadable frame", [](Build& r) { ::chmod(r.Name(4).c_str(), 0); }, BuildOutcome::Failed, 3,
             {{"Reelcast", kStop, "cannot open the Targa file (Permission denied): shot0004.tga"}}, ""},
            {"undeletable bitmap", [](Build& r) {
                 ASSERT_TRUE(::geteuid() != 0 || ::chown(r.dir.c_str(), 65534, 65534) == 0);
                 r.AtYield(1 + 2, [&r] { ::chmod(r.dir.c_str(), 0555); });
             }, BuildOutcome::Failed, 1,
             {{"Reelcast", kStop, "Cannot delete the temporary bitmap:\r\nshot0001.tga.bmp\r\nPermission denied"}},
             "shot0001.tga.bmp "},
        };
    for (const auto& [what, setUp, outcome, frames, boxes, left] : cases) {
        SCOPED_TRACE(what);
        Build run(5, 8, 6);
        setUp(run);
        EXPECT_EQ(RunAsUnprivileged([&] {
                      const BuildResult r = run.Press();
                      const auto movie = avitest::ReadMovie(run.out);
                      // Each failed check sets its own bit of the child's exit code.
                      return (r.outcome != outcome) | (r.framesWritten != frames) << 1 | (run.boxes != boxes) << 2 |
                             !(movie.frames.size() == frames + 1u && movie.frames.back() == run.pictures[frames]) << 3;
                  }),
                  0);
        ::chmod(run.dir.c_str(), 0777);
        ::chmod(run.Name(4).c_str(), 0644);
        const std::string litter = run.Litter(); // a bitmap that cannot be deleted stays, with the kept one
        EXPECT_TRUE(left.empty() ? litter.empty() : litter.find(left) != std::string::npos) << litter;
        EXPECT_TRUE(std::filesystem::is_empty(runtime.path()));
    }
    ::unsetenv("XDG_RUNTIME_DIR");
}
