// SPDX-License-Identifier: GPL-2.0-or-later
// The movie build run, end to end, through a front end made of plain
// members: generated Targa sequences in, movies read back with FFmpeg out.
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

// Frames of both origins, a front end of plain members that answers every
// question alike, and what was written, so that any change to it shows.
class Build : public BuildQuestions, public BuildSink {
public:
    TempDir frames, outDir;
    std::vector<Bytes> pictures; // top row first
    std::map<std::string, Bytes> written;
    std::string w = "512", h = "384", fps = "15", dir = frames.path().string(),
                out = outDir.file("movie.avi"), codec = "raw";
    int chkF = 0, dialogShown = 0, blend = 1, framesShown = 0;
    bool closing = false, acceptDialog = true, everyKind = false, strict = false, direct = false;
    std::vector<std::pair<std::string, std::string>> passedOver; // file, why
    std::vector<std::string> statuses, opened;
    std::vector<float> progress;
    BuildState state;
    // Questions and messages in order; a question's title is what it asks.
    std::vector<MsgBoxRecorder::Shown> shown;
    const bool yes;
    std::function<void()> atYield;

    void SetStatus(const std::string& s) override { statuses.push_back(s); }
    void ShowProgress(float p) override { progress.push_back(p); }
    std::string FormatPercent(double p) const override
    {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", p);
        return text;
    }
    std::string ShowFrame(const std::string& f) override
    {
        ++framesShown;
        if (!std::filesystem::exists(f))
            throw std::runtime_error("cannot load " + f);
        return f;
    }
    bool ConfirmOverwrite(const std::string& p) override
    {
        shown.push_back({p, vbYesNo, "overwrite"});
        return yes;
    }
    void OfferToWatch(const std::string& p) override
    {
        shown.push_back({p, vbYesNo, "watch"});
        if (yes)
            opened.push_back(p);
    }
    void ShowMessage(const Notice& n) override { shown.push_back({n.text, n.style, n.title}); }
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
        if (atYield)
            atYield();
        return closing;
    }

    Build(int n, int width, int height, bool yes = false) : yes(yes)
    {
        for (int i = 0; i < n; ++i) {
            pictures.push_back(PatternPixels(width, height, static_cast<unsigned>(i * 5 + 1)));
            TargaOptions o;
            o.topFirst = i % 2 == 1;
            Put(i, MakeTarga(width, height, pictures.back(), o));
        }
        // For the runs in unprivileged child processes.
        ::chmod(frames.path().c_str(), 0777);
        ::chmod(outDir.path().c_str(), 0777);
    }
    // Runs action at the k-th yield from now: the run yields once before its
    // loop and six times a frame.
    void AtYield(int k, std::function<void()> action)
    {
        atYield = [=, count = 0]() mutable {
            if (++count == k)
                action();
        };
    }
    std::string Name(int i) const
    {
        char name[16];
        std::snprintf(name, sizeof name, "shot%04d.tga", i);
        return frames.file(name);
    }
    void Put(int i, const Bytes& bytes)
    {
        WriteFile(Name(i), bytes);
        written[Name(i)] = bytes;
    }
    BuildResult Press()
    {
        BuildRequest request;
        request.directory = dir, request.output = out, request.widthText = w, request.heightText = h;
        request.fpsText = fps, request.force = chkF != 0, request.blend = blend;
        request.everyTargaKind = everyKind, request.strict = strict, request.directFrames = direct;
        return BuildMovie(request, *this, *this, state, SharedFrameImage());
    }
    avitest::Movie Movie() const { return avitest::ReadMovie(out); }
    const MsgBoxRecorder::Shown& Box(std::size_t i) const { return shown.at(i); }
    std::string LastStatus() const { return statuses.empty() ? "" : statuses.back(); }

    // Temporary bitmaps, hidden or not, must never outlive the run.
    ::testing::AssertionResult Intact() const
    {
        std::map<std::string, Bytes> now;
        for (const auto& e : std::filesystem::directory_iterator(frames.path()))
            if (e.is_regular_file())
                now[e.path().string()] = ReadFile(e.path().string());
        auto result = now == written ? ::testing::AssertionSuccess() : ::testing::AssertionFailure();
        for (const auto& [name, bytes] : now) // a star marks what the run changed or left
            result << std::filesystem::path(name).filename().string()
                   << (written.count(name) && written.at(name) == bytes ? " " : "* ");
        return result;
    }
};

// 0, or the number of the first failed check: a child process's exit code.
int FirstFailed(std::initializer_list<bool> checks)
{
    const auto failed = std::find(checks.begin(), checks.end(), false);
    return failed == checks.end() ? 0 : static_cast<int>(failed - checks.begin()) + 1;
}

} // namespace

// N files give N frames, files 2 to N as pictures; status by N + 1, bar by N.
TEST(MovieBuild, NFilesGiveNFramesWithFilesTwoToNAsPictures)
{
    for (const char* codec : {"raw", "ffv1", "utvideo"}) {
        SCOPED_TRACE(codec);
        Build run(5, 33, 17);
        run.codec = codec;
        run.fps = "25";
        const BuildResult result = run.Press();
        EXPECT_EQ(std::tuple(result.outcome, result.framesWritten), std::tuple(BuildOutcome::Created, 4));
        EXPECT_EQ(std::tuple(run.dialogShown, AviSaveOptionsPending()), std::tuple(1, 0));
        EXPECT_EQ(run.statuses,
                  (std::vector<std::string>{"File's Creation Status: 16.7%", "File's Creation Status: 33.3%",
                                            "File's Creation Status: 50.0%", "File's Creation Status: 66.7%",
                                            "Movie's Creation Completed!"}));
        EXPECT_EQ(run.progress, (std::vector<float>{1, 0, 20, 40, 60, 80, 100}));
        ASSERT_EQ(run.shown.size(), 1u);
        EXPECT_EQ(std::tuple(run.Box(0).title, run.Box(0).prompt), std::tuple("watch", run.out));

        const auto movie = run.Movie();
        EXPECT_EQ(std::tuple(movie.width, movie.height, movie.rateNum * 1.0 / movie.rateDen),
                  std::tuple(33, 17, 25.0))
            << movie.error;
        ASSERT_EQ(movie.frames.size(), 5u);
        for (std::size_t k = 1; k < movie.frames.size(); ++k)
            EXPECT_EQ(movie.frames[k], run.pictures[k]) << "movie frame " << k;
        EXPECT_TRUE(movie.warnings.empty()) << movie.warnings.front();
        EXPECT_TRUE(run.Intact());
    }
}

// The window's rule for its rate text; the runs below show it reaches the
// header. Unchecked, any width and height text is accepted and has no effect.
TEST(MovieBuild, RateTextGivesTheHeaderRateAndUncheckedSizesDoNothing)
{
    const std::pair<const char*, std::uint32_t> rates[] = {
        {"", 15},  {"0", 15},  {"-3", 15}, {"51", 15}, {"60", 15},   {"40", 30},    {"50", 30},
        {"31", 30}, {"30", 30}, {"25", 25}, {"15.5", 16}, {"14.5", 14}, {"12abc", 12}, {"1 0", 10}};
    for (const auto& [text, rate] : rates)
        EXPECT_EQ(std::tuple(WindowRate(text).rate, WindowRate(text).scale), std::tuple(rate, 1u)) << '"' << text << '"';
    Build run(3, 40, 30);
    run.w = "abc", run.h = "-7", run.fps = "40";
    EXPECT_EQ(run.Press().outcome, BuildOutcome::Created);
    EXPECT_EQ(std::tuple(run.Movie().width, run.Movie().rateNum), std::tuple(40, 30));
}

// A header rate is a fraction of two signed 32-bit fields: exact where it
// fits, reduced first; else the closest fraction that fits, so that a movie
// paced by its sound ends with it, however long.
TEST(MovieBuild, SoundPacedRatesAreExactOrTheClosestAHeaderHolds)
{
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

// Cancel inside frame 3 still writes the frame in hand; closing the window
// stops before it, with no offer to open a movie nobody sees.
TEST(MovieBuild, CancelOrCloseMidRunKeepsThePlayableMovieSoFar)
{
    for (const bool cancel : {true, false}) {
        SCOPED_TRACE(cancel ? "cancel" : "close");
        Build run(8, 16, 8, true);
        run.codec = "ffv1";
        run.AtYield(1 + 6 * 2 + (cancel ? 2 : 1), [&] {
            run.state.CancelRequested = cancel; // as the window's Cancel button does
            run.closing = !cancel;
        });
        const BuildResult result = run.Press();
        EXPECT_EQ(std::tuple(result.outcome, result.framesWritten), std::tuple(BuildOutcome::Cancelled, cancel ? 3 : 2));
        const auto movie = run.Movie();
        ASSERT_EQ(movie.frames.size(), cancel ? 4u : 3u) << movie.error;
        EXPECT_EQ(movie.frames.back(), run.pictures[movie.frames.size() - 1]);
        EXPECT_TRUE(run.Intact());
        EXPECT_EQ(run.progress.back(), 100);
        EXPECT_EQ(run.LastStatus(), cancel ? "Movie's Creation Completed!" : "Movie's creation stopped: the window was closed.");
        EXPECT_EQ(run.opened, cancel ? std::vector<std::string>{run.out} : std::vector<std::string>{});
    }
}

// A bitmap spoiled between its write and its load: the bitmap object's own
// words reach the front end first, then the run's, and the movie keeps the
// frames before it.
TEST(MovieBuild, ABitmapThatNoLongerLoadsIsReportedInTheBitmapsWordsThenTheRuns)
{
    Build run(6, 8, 4);
    const std::string spoiled = run.Name(3) + ".bmp";
    run.AtYield(1 + 6 * 2 + 1, [&] { WriteFile(spoiled, {'X', 'X', 'X'}); });
    const BuildResult result = run.Press();
    EXPECT_EQ(std::tuple(result.outcome, result.framesWritten), std::tuple(BuildOutcome::Failed, 2));
    ASSERT_EQ(run.shown.size(), 2u);
    EXPECT_EQ(std::tuple(run.Box(0).prompt, run.Box(0).style, run.Box(0).title),
              std::tuple("File is not a supported bitmap format:\r\n" + spoiled, vbInformation | vbOKOnly, "Reelcast"));
    EXPECT_EQ(std::tuple(run.Box(1).prompt, run.Box(1).style, run.Box(1).title),
              std::tuple("Could not load the bitmap of frame 4:\r\n" + spoiled, vbCritical | vbOKOnly, "Reelcast"));
    EXPECT_EQ(run.LastStatus(), "Movie's creation stopped after 2 frames.");
    EXPECT_EQ(run.Movie().frames.size(), 3u);
    EXPECT_TRUE(run.Intact());
}

// Runs that end early: message, title, status, what the movie holds; nothing left.
TEST(MovieBuild, RunsThatEndEarlySayWhyAndLeaveNothingBehind)
{
    const std::string noFiles = "There's no TGA files in:\r\n", badSize = "The forced movie dimensions";
    const auto badTarga = [](Build& r) { // 32-bit Targa files are not read
        for (int i = 0; i < 3; ++i) {
            Bytes f = r.written[r.Name(i)];
            f[16] = 32;
            r.Put(i, f);
        }
    };
    const auto otherSize = [](Build& r) { r.Put(2, MakeTarga(4, 6, PatternPixels(4, 6))); };
    constexpr auto notStarted = BuildOutcome::NotStarted, failed = BuildOutcome::Failed;
    const std::string frame2 = "The frame ", creating = "There was an error creating the AVI File.";
    const std::tuple<const char*, std::function<void(Build&)>, BuildOutcome, std::string, const char*, std::string,
                     int>
        cases[] = {
            {"no files", [](Build& r) { std::filesystem::create_directory(r.dir += "/empty"); }, notStarted, noFiles,
             "Error!", "", 0},
            {"missing directory", [](Build& r) { r.dir += "/gone"; }, notStarted, noFiles, "Error!", "", 0},
            {"one file", [](Build& r) { std::filesystem::create_directory(r.dir += "/one");
                                        std::filesystem::copy(r.Name(0), r.dir); },
             notStarted, "There's only one TGA file in:\r\n", "Error!", "", 0},
            {"zero width", [](Build& r) { r.chkF = 1; r.w = ""; }, notStarted, badSize, "Error!", "", 0},
            {"negative height", [](Build& r) { r.chkF = 1; r.h = "-384"; }, notStarted, badSize, "Error!", "", 0},
            {"absurd size", [](Build& r) { r.chkF = 1; r.w = r.h = "100000"; }, notStarted, badSize, "Error!", "", 0},
            {"no supported Targa", badTarga, failed, "Neither of the first two frames is an uncompressed 24-bit Targa file",
             "Reelcast", "Movie's creation stopped after 0 frames.", 0},
            {"refused dialog", [](Build& r) { r.acceptDialog = false; }, notStarted, "", "",
             "Movie's creation cancelled: no compressor chosen.", 0},
            {"frame of another size", otherSize, failed, frame2, "Reelcast", creating, 1},
            {"fewer files than two groups", [](Build& r) { r.blend = 3; }, notStarted, "There are 4 TGA files in:",
             "Error!", "", 0},
        };
    for (const auto& [what, setUp, outcome, message, title, status, frames] : cases) {
        SCOPED_TRACE(what);
        Build run(4, 6, 4);
        setUp(run);
        const BuildResult r = run.Press();
        EXPECT_EQ(std::tuple(r.outcome, r.framesWritten), std::tuple(outcome, frames));
        ASSERT_EQ(run.shown.size(), message.empty() ? 0u : 1u);
        if (!message.empty()) {
            EXPECT_EQ(run.Box(0).prompt.rfind(message, 0), 0u) << run.Box(0).prompt;
            EXPECT_EQ(run.Box(0).title, title);
        }
        EXPECT_EQ(run.LastStatus(), status);
        EXPECT_EQ(run.progress.empty(), status.empty());
        EXPECT_EQ(std::filesystem::exists(run.out), frames > 0);
        EXPECT_TRUE(run.Intact()); // the temporary bitmaps gone too
        EXPECT_EQ(run.dialogShown, run.acceptDialog ? frames > 0 : 1);
        EXPECT_EQ(AviSaveOptionsPending(), 0);
        if (frames > 0) {
            EXPECT_EQ(run.Movie().frames.size(), 2u);
            EXPECT_EQ(run.Box(0).prompt, "The frame " + run.Name(2) + " is 4 x 6 pixels, but the movie's frames are "
                                         "6 x 4, the size of the first frame:\r\n" + run.Name(0));
        }
    }
}

// A passed-over file repeats the frame before it, the right way up, with or
// without forced dimensions (6 x 4 pictures forced to 12 x 8 are doubled).
TEST(MovieBuild, PassedOverFilesRepeatTheFrameBeforeThem)
{
    for (const int force : {0, 1}) {
        for (const int skipped : {1, 2, 4}) { // the second, the third and the last file
            SCOPED_TRACE("file " + std::to_string(skipped) + (force ? " forced" : ""));
            Build run(5, 6, 4);
            run.chkF = force;
            run.w = "12";
            run.h = "8";
            Bytes rle = MakeTarga(6, 4, run.pictures[skipped]);
            rle[2] = 10;
            run.Put(skipped, rle);
            ASSERT_EQ(run.Press().outcome, BuildOutcome::Created);
            const auto movie = run.Movie();
            ASSERT_EQ(movie.frames.size(), 5u) << movie.error;
            for (std::size_t k = 1; k < 5; ++k) {
                const Bytes& source = run.pictures[k == static_cast<std::size_t>(skipped) ? k - 1 : k];
                const Bytes& frame = movie.frames[k];
                ASSERT_EQ(frame.size(), (force ? 96u : 24u) * 3);
                // The top-left pixel tells the picture and its way up.
                EXPECT_TRUE(std::equal(frame.begin(), frame.begin() + 3, source.begin())) << k;
                if (!force || k == static_cast<std::size_t>(skipped)) { // forced: the frame before, once more
                    EXPECT_EQ(frame, force ? movie.frames[k - 1] : source) << k;
                }
            }
            EXPECT_EQ(run.shown.size(), 1u); // the closing question only
        }
    }
}

// Blended, groups stand in for files: each frame is its group's linear-light
// average (black and white give 188), without its passed-over files; a group
// of none repeats the frame before; a short last group is left out.
// The sequence of common kinds: with the window's request the run
// passes every kind but uncompressed 24-bit over without a word, each
// repeating the frame before; with every kind asked for, each file is its
// picture; and where a complete movie is asked for, a file that cannot be
// read leaves none.
TEST(MovieBuild, TheWindowsRequestPassesOtherTargaKindsOverWithoutAWordAndEveryKindReadsThem)
{
    const TargaKind kinds[] = {{2, 24}, {2, 24, 0, 0, 0, true}, {10, 24}, {2, 32}, {2, 16}, {3, 8},
                               {1, 8, 24, 0, 256}, {10, 32}, {2, 24, 0, 0, 0, false, false, 12},
                               {10, 24, 0, 0, 0, true}, {2, 24}};
    for (const bool everyKind : {false, true}) {
        SCOPED_TRACE(everyKind ? "every kind" : "the window's request");
        Build run(0, 37, 11);
        std::vector<Bytes> pictures;
        for (int i = 0; i < 11; ++i) {
            HandTarga t = MakeAnyTarga(37, 11, kinds[i], static_cast<unsigned>(i));
            run.Put(i, t.file);
            pictures.push_back(t.picture);
        }
        run.everyKind = everyKind;
        const BuildResult result = run.Press();
        ASSERT_EQ(result.outcome, BuildOutcome::Created);
        const auto movie = run.Movie();
        ASSERT_EQ(movie.frames.size(), 11u) << movie.error;
        std::size_t shownFrom = 1; // the file whose picture the frame shows
        for (std::size_t k = 1; k < 11; ++k) {
            const bool windowsKind = kinds[k].type == 2 && kinds[k].depth == 24;
            if (everyKind || windowsKind)
                shownFrom = k;
            EXPECT_TRUE(movie.frames[k] == pictures[shownFrom]) << k;
        }
        EXPECT_EQ(std::tuple(result.framesWritten, result.passedOver, result.repeats),
                  everyKind ? std::tuple(10, 0, 0) : std::tuple(10, 7, 7));
        EXPECT_EQ(run.shown.size(), 1u); // the closing question only: not a word about the files
        EXPECT_EQ(run.passedOver.size(), everyKind ? 0u : 7u);
        if (!everyKind) {
            EXPECT_EQ(run.passedOver.front(), std::pair(run.Name(2), std::string("not an uncompressed 24-bit Targa file")));
        }
        EXPECT_TRUE(run.Intact());
    }

    // A file that cannot be read: passed over and named with its reason, or,
    // where a complete movie is asked for, the end of the run and the movie.
    for (const bool strict : {false, true}) {
        Build run(6, 37, 11);
        Bytes cut = MakeAnyTarga(37, 11, {10, 24}).file;
        cut.resize(cut.size() - 4);
        run.Put(3, cut);
        run.everyKind = true, run.strict = strict;
        const BuildResult result = run.Press();
        const std::pair<std::string, std::string> told{run.Name(3), "run-length data ends early"};
        EXPECT_EQ(run.passedOver, std::vector{told});
        if (!strict) {
            EXPECT_EQ(std::tuple(result.outcome, result.framesWritten, result.passedOver, result.repeats),
                      std::tuple(BuildOutcome::Created, 5, 1, 1));
            continue;
        }
        EXPECT_EQ(std::tuple(result.outcome, result.framesWritten), std::tuple(BuildOutcome::Failed, 0));
        EXPECT_FALSE(std::filesystem::exists(run.out));
        ASSERT_EQ(run.shown.size(), 1u);
        EXPECT_EQ(run.Box(0).prompt, "The frame " + run.Name(3) + " cannot be read: run-length data ends early.\r\n"
                                     "A complete movie was asked for: none is left.");
        EXPECT_TRUE(run.Intact());
    }
}

TEST(MovieBuild, BlendedGroupsStandInForFiles)
{
    for (const int force : {0, 1}) {
        SCOPED_TRACE(force ? "forced to 4 x 4" : "as recorded");
        Build run(14, 2, 2);
        run.blend = 3, run.chkF = force, run.w = run.h = "4";
        Bytes rle = MakeTarga(2, 2, run.pictures[0]);
        rle[2] = 10;
        for (const int i : {3, 4})
            run.Put(i, MakeTarga(2, 2, Bytes(12, i == 3 ? 0 : 255)));
        for (const int i : {5, 6, 7, 8})
            run.Put(i, rle);
        for (const int i : {9, 10, 11})
            run.Put(i, MakeTarga(2, 2, run.pictures[9]));
        EXPECT_EQ(run.Press().outcome, BuildOutcome::Created);
        const auto movie = run.Movie();
        ASSERT_EQ(movie.frames.size(), 4u) << movie.error;
        // Forced, the top-left pixel stands for the rest (the resampler's own
        // tests hold its edges).
        const std::size_t n = force ? 3 : 12;
        EXPECT_EQ(std::tuple(movie.width, movie.frames[1].size()), std::tuple(force ? 4 : 2, force ? 48u : 12u));
        for (const std::size_t k : {1, 2})
            EXPECT_EQ(Bytes(movie.frames[k].begin(), movie.frames[k].begin() + n), Bytes(n, 188)) << k;
        EXPECT_TRUE(std::equal(run.pictures[9].begin(), run.pictures[9].begin() + n, movie.frames[3].begin()));
        ASSERT_EQ(run.shown.size(), 2u);
        EXPECT_EQ(run.Box(0).prompt, "The last 2 files, from " + run.Name(12) +
                                         " on, make no whole group of 3 and are left out.");
        EXPECT_TRUE(run.Intact());
    }
}

// Hidden bitmaps of dead processes are removed, a live one's kept; a frame
// directory the user cannot write converts through a folder of the run's own.
TEST(MovieBuild, TemporaryBitmapsGoWhereTheyCanAndOrphansAreRemoved)
{
    Build run(4, 8, 6);
    pid_t dead = 4194000;
    while (::kill(dead, 0) == 0 || errno != ESRCH)
        --dead;
    const std::string orphan = run.frames.file(".reelcast-" + std::to_string(dead) + ".bmp.part"),
                      alive = run.frames.file(".reelcast-" + std::to_string(::getppid()) + ".bmp.part");
    WriteFile(orphan, Bytes(10, 1));
    WriteFile(alive, run.written[alive] = Bytes(10, 3));
    EXPECT_EQ(run.Press().outcome, BuildOutcome::Created);
    EXPECT_FALSE(std::filesystem::exists(orphan));
    EXPECT_TRUE(run.Intact());

    // Root writes anywhere, so the run is made in an unprivileged child.
    TempDir runtime;
    ::chmod(runtime.path().c_str(), 0777);
    ::chmod(run.frames.path().c_str(), 0555);
    ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    run.out = run.outDir.file("second.avi");
    EXPECT_EQ(RunAsUnprivileged([&] {
                  const BuildResult r = run.Press();
                  const auto movie = run.Movie();
                  return FirstFailed({r.outcome == BuildOutcome::Created, movie.frames.size() == 4,
                                      movie.frames.size() == 4 && movie.frames[3] == run.pictures[3]});
              }),
              0);
    ::unsetenv("XDG_RUNTIME_DIR");
    ::chmod(run.frames.path().c_str(), 0755);
    EXPECT_TRUE(run.Intact());
    EXPECT_TRUE(std::filesystem::is_empty(runtime.path()));
}

// In an unprivileged child (root passes permission checks): an unreadable
// frame, and a temporary bitmap that cannot be deleted.
TEST(MovieBuildFaults, PermissionFaultsStopTheRunWithOneMessageAndKeepTheFramesBefore)
{
    {
        Build run(6, 8, 8);
        ::chmod(run.Name(4).c_str(), 0);
        EXPECT_EQ(RunAsUnprivileged([&] {
                      const BuildResult r = run.Press();
                      return FirstFailed({r.outcome == BuildOutcome::Failed, r.framesWritten == 3,
                                          run.shown.size() == 1,
                                          run.Box(0).prompt.find("shot0004.tga") != std::string::npos,
                                          run.Movie().frames.size() == 4});
                  }),
                  0);
        ::chmod(run.Name(4).c_str(), 0644);
        EXPECT_TRUE(run.Intact());
    }
    {
        Build run(5, 8, 8);
        const std::string stuck = run.Name(1) + ".bmp";
        ASSERT_TRUE(::geteuid() != 0 || ::chown(run.frames.path().c_str(), 65534, 65534) == 0);
        run.AtYield(1 + 2, [&] { ::chmod(run.frames.path().c_str(), 0555); });
        EXPECT_EQ(RunAsUnprivileged([&] {
                      const BuildResult r = run.Press();
                      return FirstFailed(
                          {r.outcome == BuildOutcome::Failed, run.shown.size() == 1,
                           run.Box(0).prompt.rfind("Cannot delete the temporary bitmap:\r\n" + stuck + "\r\n", 0) == 0,
                           r.framesWritten == 1, run.LastStatus() == "Movie's creation stopped after 1 frames.",
                           run.Movie().frames.size() == 2});
                  }),
                  0);
        EXPECT_TRUE(std::filesystem::exists(stuck));
    }
}

// Direct frames reach the movie with the very bytes their bitmaps would have
// held (rows padded, bottom first; repeats, groups and forced sizes alike),
// with the same reports and at the same moments, but with nothing beside the
// frames at any yield and no frame to show.
TEST(MovieBuild, DirectFramesMakeTheBitmapsMovieWithoutBitmaps)
{
    const auto junk = [](int i) { return [i](Build& run) { run.Put(i, {'n', 'o'}); }; };
    const auto cut = [](int i) {
        return [i](Build& run) {
            Bytes rle = MakeAnyTarga(7, 5, {10, 24}, 3).file;
            rle.resize(rle.size() - 2);
            run.Put(i, rle);
        };
    };
    const std::vector<std::pair<const char*, std::function<void(Build&)>>> cases = {
        {"rows padded", [](Build&) {}},
        {"first and last passed over", [&](Build& run) { junk(0)(run), junk(6)(run); }},
        {"second and third passed over", [&](Build& run) { cut(1)(run), cut(2)(run), run.everyKind = true; }},
        {"forced, a repeat", [&](Build& run) { junk(3)(run), run.chkF = 1, run.w = "9", run.h = "3"; }},
        {"blended, forced", [&](Build& run) { junk(4)(run), run.blend = 2, run.chkF = 1, run.w = "6"; }},
        {"compressed, cancelled", [](Build& run) {
             run.codec = "ffv1";
             run.AtYield(1 + 6 * 3 + 4, [&run] { run.state.CancelRequested = true; });
         }},
        {"strict", [&](Build& run) { cut(4)(run), run.everyKind = run.strict = true; }},
    };
    for (const auto& [name, setUp] : cases) {
        SCOPED_TRACE(name);
        Build bitmaps(7, 7, 5), direct(7, 7, 5);
        direct.direct = true;
        setUp(bitmaps), setUp(direct);
        std::vector<std::string> leftBehind;
        direct.atYield = [&, inner = direct.atYield] {
            if (!direct.Intact())
                leftBehind.push_back(direct.Intact().message());
            if (inner)
                inner();
        };
        const BuildResult a = bitmaps.Press(), b = direct.Press();
        EXPECT_EQ(std::tuple(b.outcome, b.framesWritten, b.passedOver, b.repeats, b.status),
                  std::tuple(a.outcome, a.framesWritten, a.passedOver, a.repeats, a.status));
        ASSERT_EQ(std::filesystem::exists(direct.out), std::filesystem::exists(bitmaps.out));
        if (std::filesystem::exists(bitmaps.out)) {
            EXPECT_TRUE(ReadFile(direct.out) == ReadFile(bitmaps.out));
        }
        EXPECT_EQ(std::tuple(direct.statuses, direct.progress, direct.shown.size(), direct.passedOver.size()),
                  std::tuple(bitmaps.statuses, bitmaps.progress, bitmaps.shown.size(), bitmaps.passedOver.size()));
        EXPECT_EQ(std::tuple(direct.framesShown, leftBehind), std::tuple(0, std::vector<std::string>{}));
        EXPECT_GT(bitmaps.framesShown, 0);
        EXPECT_TRUE(direct.Intact());
    }
}
