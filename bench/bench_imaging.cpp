// SPDX-License-Identifier: GPL-2.0-or-later
// Throughput of the frame file routines on a 1920 x 1080 frame, beside a
// plain read and write of the same number of bytes on the same disk.
// Run: build/bench/bench_imaging [--benchmark_filter=...]
#include "BitmapFile.h"
#include "FrameImage.h"
#include "TGA.h"
#include "cDIB.h"

#include <benchmark/benchmark.h>

#include <cstdio>
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
constexpr std::size_t kPixelBytes = static_cast<std::size_t>(kWidth) * kHeight * 3;

// Benchmarks run where frames normally are: on disk, under the build tree's
// temporary directory unless REELCAST_BENCH_DIR says otherwise.
const std::filesystem::path& WorkDir()
{
    static const std::filesystem::path dir = [] {
        const char* env = std::getenv("REELCAST_BENCH_DIR");
        std::filesystem::path d = env ? env : std::filesystem::temp_directory_path() / "reelcast-bench";
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

std::string PathOf(const char* name)
{
    return (WorkDir() / name).string();
}

std::vector<char> Pixels()
{
    std::vector<char> px(kPixelBytes);
    for (std::size_t i = 0; i < px.size(); ++i)
        px[i] = static_cast<char>(i * 2654435761u >> 24);
    return px;
}

const std::string& TargaFile()
{
    static const std::string path = [] {
        std::string p = PathOf("frame.tga");
        char header[18] = {};
        header[2] = 2;
        header[12] = static_cast<char>(kWidth & 0xFF);
        header[13] = static_cast<char>(kWidth >> 8);
        header[14] = static_cast<char>(kHeight & 0xFF);
        header[15] = static_cast<char>(kHeight >> 8);
        header[16] = 24;
        std::ofstream out(p, std::ios::binary);
        out.write(header, sizeof header);
        const auto px = Pixels();
        out.write(px.data(), static_cast<std::streamsize>(px.size()));
        return p;
    }();
    return path;
}

void SetBytes(benchmark::State& state, std::size_t bytes)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void BM_PlainRead(benchmark::State& state)
{
    const std::string& path = TargaFile();
    std::vector<char> buf(kPixelBytes);
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        const ssize_t got = ::pread(fd, buf.data(), buf.size(), 18);
        ::close(fd);
        benchmark::DoNotOptimize(got);
    }
    SetBytes(state, kPixelBytes);
}

void BM_ReadTGA(benchmark::State& state)
{
    const std::string& path = TargaFile();
    FrameImage image;
    for (auto _ : state) {
        ReadTGA(path, image);
        benchmark::DoNotOptimize(image.Bits.data());
    }
    SetBytes(state, kPixelBytes);
}

void BM_PlainWrite(benchmark::State& state)
{
    const std::string path = PathOf("plain.bin");
    const auto px = Pixels();
    for (auto _ : state) {
        std::remove(path.c_str());
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const ssize_t put = ::write(fd, px.data(), px.size());
        ::close(fd);
        benchmark::DoNotOptimize(put);
    }
    SetBytes(state, kPixelBytes);
}

void BM_WriteBMP(benchmark::State& state)
{
    FrameImage image;
    ReadTGA(TargaFile(), image);
    const std::string path = PathOf("frame.tga.bmp");
    Notice why;
    for (auto _ : state)
        if (!WriteBMP(path, image, why))
            return state.SkipWithError(why.text.c_str());
    SetBytes(state, kPixelBytes);
}

void BM_CreateFromFile(benchmark::State& state)
{
    FrameImage image;
    ReadTGA(TargaFile(), image);
    const std::string path = PathOf("load.bmp");
    Notice why;
    WriteBMP(path, image, why);
    cDIB dib;
    for (auto _ : state)
        if (!dib.CreateFromFile(path, why))
            return state.SkipWithError(why.text.c_str());
    SetBytes(state, kPixelBytes);
}

} // namespace

BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadTGA)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CreateFromFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteBMP)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
