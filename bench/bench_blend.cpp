// SPDX-License-Identifier: GPL-2.0-or-later
// Motion blur at 1920 x 1080, five pictures a movie frame: the blend beside
// reading the five Targa files it blends, from the page cache (the reader's
// cost without the disk's) and from the disk (their pages dropped first).
// The blend runs on a scene and on noise, by each of its two methods.
// Run: build/bench/bench_blend [--benchmark_filter=...]
#include "FrameBlend.h"
#include "FrameImage.h"
#include "TGA.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kGroup = 5;

// What the pictures show. Reading does not care; the blend's table look-ups
// do, as neighbouring samples share cache lines of the tables.
enum class Content { Scene, Noise };

// A game's frames: smooth shading with a little texture, and a bright bar
// that moves 12 pixels a frame, as at several hundred frames a second.
char SceneSample(int x, int y, int channel, int frame)
{
    const double shade = 0.5 + 0.35 * std::sin(x / 90.0 + channel) * std::cos(y / 70.0 - frame * 0.02);
    int v = static_cast<int>(shade * 255) + static_cast<int>((x * 7 + y * 13 + channel) % 9) - 4;
    if (x >= 400 + frame * 12 && x < 520 + frame * 12)
        v = 250 - channel * 20;
    return static_cast<char>(std::clamp(v, 0, 255));
}

// Every byte differs from its neighbours and from frame to frame: the
// look-ups' worst case.
char NoiseSample(std::size_t i, int frame)
{
    return static_cast<char>((i + frame * 977u) * 2654435761u >> 24);
}

// Under the build tree's temporary directory unless REELCAST_BENCH_DIR says otherwise.
const std::vector<std::string>& Frames(Content content = Content::Scene)
{
    static const auto make = [](Content kind) {
        const char* env = std::getenv("REELCAST_BENCH_DIR");
        const std::filesystem::path dir =
            env ? env : std::filesystem::temp_directory_path() / "reelcast-bench";
        std::filesystem::create_directories(dir);
        std::vector<std::string> made;
        for (int f = 0; f < kGroup; ++f) {
            const std::string name = kind == Content::Scene ? "blend-scene" : "blend-noise";
            made.push_back((dir / (name + std::to_string(f) + ".tga")).string());
            // Uncompressed true colour, bottom row first, as most writers store it.
            const unsigned char header[18] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, kWidth & 0xFF, kWidth >> 8,
                                              kHeight & 0xFF, kHeight >> 8, 24, 0};
            std::vector<char> px(std::size_t(kWidth) * kHeight * 3);
            for (std::size_t i = 0; i < px.size(); ++i) {
                const int x = static_cast<int>(i / 3 % kWidth);
                const int y = static_cast<int>(i / 3 / kWidth);
                px[i] = kind == Content::Scene ? SceneSample(x, y, static_cast<int>(i % 3), f) : NoiseSample(i, f);
            }
            std::ofstream out(made.back(), std::ios::binary);
            out.write(reinterpret_cast<const char*>(header), sizeof header);
            out.write(px.data(), static_cast<std::streamsize>(px.size()));
        }
        return made;
    };
    static const std::vector<std::string> scene = make(Content::Scene);
    if (content == Content::Scene)
        return scene;
    static const std::vector<std::string> noise = make(Content::Noise);
    return noise;
}

void BM_ReadGroup(benchmark::State& state)
{
    const auto& frames = Frames(); // made before the clock starts
    FrameImage picture;
    for (auto _ : state)
        for (const std::string& path : frames) {
            ReadTGA(path, picture);
            benchmark::DoNotOptimize(picture.Bits.data());
        }
    state.SetItemsProcessed(state.iterations());
}

// The same files from the disk: each one's pages are dropped from the cache
// before every round, as for a recording too large to stay in memory.
void BM_ReadGroupFromDisk(benchmark::State& state)
{
    const auto& frames = Frames();
    FrameImage picture;
    for (auto _ : state) {
        state.PauseTiming();
        for (const std::string& path : frames) {
            const int fd = ::open(path.c_str(), O_RDONLY);
            ::fdatasync(fd);
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            ::close(fd);
        }
        state.ResumeTiming();
        for (const std::string& path : frames) {
            ReadTGA(path, picture);
            benchmark::DoNotOptimize(picture.Bits.data());
        }
    }
    state.SetItemsProcessed(state.iterations());
}

// First argument 0: a scene; 1: noise. Second: 0 the tables, 1 the
// polynomials, 2 the faster of the two on this processor, as a run blends.
FrameBlend::Method MethodOf(const benchmark::State& state)
{
    const auto chosen = state.range(1);
    return chosen == 0 ? FrameBlend::Method::Tables
                       : chosen == 1 ? FrameBlend::Method::Polynomials : FrameBlend::Fastest();
}

void BM_BlendGroup(benchmark::State& state)
{
    const auto& frames = Frames(state.range(0) == 0 ? Content::Scene : Content::Noise);
    std::vector<FrameImage> pictures(kGroup);
    for (int f = 0; f < kGroup; ++f)
        ReadTGA(frames[f], pictures[f]);
    FrameBlend blend(MethodOf(state));
    FrameImage out;
    for (auto _ : state) {
        blend.Start();
        for (const FrameImage& picture : pictures)
            blend.Add(picture);
        blend.Result(out);
        benchmark::DoNotOptimize(out.Bits.data());
    }
    state.SetItemsProcessed(state.iterations());
}

// As a run would do it: one picture, each file read into it and added.
void BM_ReadAndBlendGroup(benchmark::State& state)
{
    const auto& frames = Frames(state.range(0) == 0 ? Content::Scene : Content::Noise);
    FrameBlend blend(MethodOf(state));
    FrameImage picture;
    for (auto _ : state) {
        blend.Start();
        for (const std::string& path : frames) {
            ReadTGA(path, picture);
            blend.Add(picture);
        }
        blend.Result(picture);
        benchmark::DoNotOptimize(picture.Bits.data());
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

// Items are movie frames: one per group of five pictures.
BENCHMARK(BM_ReadGroup)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadGroupFromDisk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlendGroup)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadAndBlendGroup)->ArgsProduct({{0, 1}, {2}})->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
