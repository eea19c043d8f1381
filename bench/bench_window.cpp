// SPDX-License-Identifier: GPL-2.0-or-later
// The window's per-frame picture load (FrmMain::loadPic) on the temporary
// bitmap of a 640 x 480 and a 1920 x 1080 frame, beside the bitmap object's
// own load of the same file, which every frame needs anyway.
// Run: QT_QPA_PLATFORM=offscreen build/bench/bench_window
#include "BitmapFile.h"
#include "FrmMain.h"
#include "FrameImage.h"
#include "cDIB.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

std::string BitmapOf(int width, int height)
{
    const char* env = std::getenv("REELCAST_BENCH_DIR");
    const std::filesystem::path dir = env ? env : std::filesystem::temp_directory_path() / "reelcast-bench";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / ("frame" + std::to_string(width) + ".tga.bmp")).string();
    FrameImage image;
    image.Width = width;
    image.Height = height;
    image.BitCount = 24;
    image.Bits.resize(static_cast<std::size_t>(width) * height * 3);
    for (std::size_t i = 0; i < image.Bits.size(); ++i)
        image.Bits[i] = static_cast<std::uint8_t>(i * 2654435761u >> 24);
    Notice why;
    WriteBMP(path, image, why);
    return path;
}

FrmMain& Window()
{
    static FrmMain window(std::filesystem::temp_directory_path().string());
    return window;
}

void BM_loadPic(benchmark::State& state)
{
    const std::string path = BitmapOf(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state)
        benchmark::DoNotOptimize(Window().loadPic(path, false, false, true));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0) * state.range(1) * 3);
}
BENCHMARK(BM_loadPic)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);

void BM_CreateFromFile(benchmark::State& state)
{
    const std::string path = BitmapOf(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    cDIB dib;
    Notice why;
    for (auto _ : state)
        if (!dib.CreateFromFile(path, why))
            return state.SkipWithError(why.text.c_str());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0) * state.range(1) * 3);
}
BENCHMARK(BM_CreateFromFile)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
