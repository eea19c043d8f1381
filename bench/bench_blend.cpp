// Motion blur at 1920 x 1080, five pictures a movie frame: the blend beside
// reading the five Targa files it blends, from the page cache (the reader's
// cost without the disk's) and from the disk (their pages dropped first).
// Run: build/bench/bench_blend [--benchmark_filter=...]
#include "FrameBlend.h"
#include "FrameImage.h"
#include "TGA.h"

#include <benchmark/benchmark.h>

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

// Under the build tree's temporary directory unless REELCAST_BENCH_DIR says otherwise.
const std::vector<std::string>& Frames()
{
    static const std::vector<std::string> paths = [] {
        const char* env = std::getenv("REELCAST_BENCH_DIR");
        const std::filesystem::path dir =
            env ? env : std::filesystem::temp_directory_path() / "reelcast-bench";
        std::filesystem::create_directories(dir);
        std::vector<std::string> made;
        for (int f = 0; f < kGroup; ++f) {
            made.push_back((dir / ("blend" + std::to_string(f) + ".tga")).string());
            // Uncompressed true colour, bottom row first.
            const unsigned char header[18] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, kWidth & 0xFF, kWidth >> 8,
                                              kHeight & 0xFF, kHeight >> 8, 24, 0};
            // Every byte differs from frame to frame, as in a moving scene.
            std::vector<char> px(std::size_t(kWidth) * kHeight * 3);
            for (std::size_t i = 0; i < px.size(); ++i)
                px[i] = static_cast<char>((i + f * 977u) * 2654435761u >> 24);
            std::ofstream out(made.back(), std::ios::binary);
            out.write(reinterpret_cast<const char*>(header), sizeof header);
            out.write(px.data(), static_cast<std::streamsize>(px.size()));
        }
        return made;
    }();
    return paths;
}

void BM_ReadGroup(benchmark::State& state)
{
    FrameImage picture;
    for (auto _ : state)
        for (const std::string& path : Frames()) {
            ReadTGA(path, picture);
            benchmark::DoNotOptimize(picture.Bits.data());
        }
    state.SetItemsProcessed(state.iterations());
}

// The same files from the disk: each one's pages are dropped from the cache
// before every round, as for a recording too large to stay in memory.
void BM_ReadGroupFromDisk(benchmark::State& state)
{
    FrameImage picture;
    for (auto _ : state) {
        state.PauseTiming();
        for (const std::string& path : Frames()) {
            const int fd = ::open(path.c_str(), O_RDONLY);
            ::fdatasync(fd);
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            ::close(fd);
        }
        state.ResumeTiming();
        for (const std::string& path : Frames()) {
            ReadTGA(path, picture);
            benchmark::DoNotOptimize(picture.Bits.data());
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_BlendGroup(benchmark::State& state)
{
    std::vector<FrameImage> pictures(kGroup);
    for (int f = 0; f < kGroup; ++f)
        ReadTGA(Frames()[f], pictures[f]);
    FrameBlend blend;
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
    FrameBlend blend;
    FrameImage picture;
    for (auto _ : state) {
        blend.Start();
        for (const std::string& path : Frames()) {
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
BENCHMARK(BM_BlendGroup)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadAndBlendGroup)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
