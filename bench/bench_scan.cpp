// SPDX-License-Identifier: GPL-2.0-or-later
// reelcast-batch's look at the whole sequence before it starts: the header
// and size of each of 33,000 frame files, from the page cache. The files are
// made before the clock starts: small run-length frames, each with a full
// header, as a long recording's would be.
#include "SequenceScan.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kFiles = 33000;

const std::string& Frames()
{
    static const std::string dir = [] {
        const auto d = std::filesystem::temp_directory_path() / "reelcast-bench-scan";
        std::filesystem::create_directories(d);
        // 64 x 36 run-length frames of one colour: a header, then runs.
        std::vector<char> file(18, 0);
        file[2] = 10, file[12] = 64;
        file[14] = 36, file[16] = 24;
        for (int i = 0; i < 64 * 36 / 128; ++i)
            file.insert(file.end(), {static_cast<char>(0xFF), 1, 2, 3});
        for (int i = 0; i < kFiles; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "shot%05d.tga", i);
            const auto path = d / name;
            if (!std::filesystem::exists(path))
                std::ofstream(path, std::ios::binary).write(file.data(), static_cast<std::streamsize>(file.size()));
        }
        return d.string();
    }();
    return dir;
}

void BM_ScanSequence(benchmark::State& state)
{
    const std::string& dir = Frames();
    batch::ScanSequence(dir); // into the page cache
    for (auto _ : state) {
        const batch::SequenceScan scan = batch::ScanSequence(dir);
        if (scan.files != kFiles || scan.problems())
            state.SkipWithError("the scan did not find the files as made");
        benchmark::DoNotOptimize(scan);
    }
    state.counters["files"] = kFiles;
    state.counters["files/s"] = benchmark::Counter(kFiles, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ScanSequence)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
