// SPDX-License-Identifier: GPL-2.0-or-later
// Frames per second of every compressor of the movie layer at 640 x 480 and
// 1920 x 1080, beside the ffmpeg command line encoding the same frames with
// the same codec and settings into AVI. Run by hand: avi_bench [frames]
#include "mdAVI.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Something like a rendered scene: smooth gradients, moving hard-edged
// blocks and a little noise, different in every frame.
std::vector<std::uint8_t> MakeFrame(int width, int height, int n)
{
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
    std::vector<std::uint8_t> bits(stride * height);
    unsigned noise = 12345u + static_cast<unsigned>(n);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = &bits[stride * y];
        for (int x = 0; x < width; ++x) {
            noise = noise * 1103515245u + 12345u;
            const int block = ((x + 4 * n) / 64 + (y + 2 * n) / 48) & 1;
            const int grain = static_cast<int>((noise >> 16) & 7);
            row[3 * x] = static_cast<std::uint8_t>((x / 4 + n) + grain);
            row[3 * x + 1] = static_cast<std::uint8_t>(block ? 200 - y / 8 : y / 5 + grain);
            row[3 * x + 2] = static_cast<std::uint8_t>(block ? 40 + grain : (x + y) / 6);
        }
    }
    return bits;
}

double OursFps(const AviCompressor& c, int width, int height, const std::vector<std::vector<std::uint8_t>>& frames,
               const std::string& path)
{
    std::vector<std::uint8_t> info(40, 0);
    auto put = [&](std::size_t at, std::uint32_t v) { std::memcpy(&info[at], &v, 4); };
    put(0, 40);
    put(4, static_cast<std::uint32_t>(width));
    put(8, static_cast<std::uint32_t>(height));
    info[12] = 1;
    info[14] = 24;
    put(20, static_cast<std::uint32_t>(frames[0].size()));
    SetAviSaveOptionsProvider([&c](AviOwnerWindow, std::uint32_t, AVICOMPRESSOPTIONS& o) {
        o = {};
        o.fccType = mmioStringToFOURCC("vids", 0);
        o.fccHandler = c.fccHandler;
        o.dwQuality = 7500;
        return 1;
    });
    const auto t0 = Clock::now();
    AVIFileInit();
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr, compressed = nullptr;
    AVICOMPRESSOPTIONS options{};
    AVICOMPRESSOPTIONS* array[1] = {&options};
    HRESULT_AVI hr = AVIFileOpen(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr);
    AVI_STREAM_INFO si{};
    si.fccType = mmioStringToFOURCC("vids", 0);
    si.dwScale = 1;
    si.dwRate = 30;
    SetRect(&si.rcFrame, 0, 0, width, height);
    if (hr == AVIERR_OK)
        hr = AVIFileCreateStream(file, &stream, &si);
    if (hr == AVIERR_OK && AVISaveOptions(nullptr, 3, 1, &stream, array) != 1)
        hr = AVIERR_ERROR;
    if (hr == AVIERR_OK)
        hr = AVIMakeCompressedStream(&compressed, stream, &options, nullptr);
    if (hr == AVIERR_OK)
        hr = AVIStreamSetFormat(compressed, 0, info.data(), 40);
    for (std::size_t i = 0; hr == AVIERR_OK && i < frames.size(); ++i)
        hr = AVIStreamWrite(compressed, static_cast<std::int32_t>(i + 1), 1, frames[i].data(),
                            static_cast<std::int32_t>(frames[i].size()), AVIIF_KEYFRAME, nullptr, nullptr);
    if (stream)
        AVIStreamRelease(stream);
    if (compressed)
        AVIStreamRelease(compressed);
    if (file)
        AVIFileRelease(file);
    AVISaveOptionsFree(1, array);
    AVIFileExit();
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    if (hr != AVIERR_OK) {
        std::fprintf(stderr, "%s failed: 0x%08x\n", c.name.c_str(), static_cast<unsigned>(hr));
        return 0;
    }
    return static_cast<double>(frames.size()) / s;
}

// The ffmpeg options that match the layer's settings at quality 7500.
const std::map<std::string, std::string>& FfmpegCodecs()
{
    static const std::map<std::string, std::string> m = {
        {"raw", "-c:v rawvideo -pix_fmt bgr24"},
        {"mjpeg", "-c:v mjpeg -pix_fmt yuvj420p -q:v 9"},
        {"ffv1", "-c:v ffv1 -level 3 -slices 4 -pix_fmt bgr0"},
        {"huffyuv", "-c:v huffyuv -pix_fmt rgb24"},
        {"utvideo", "-c:v utvideo -pix_fmt gbrp"},
        {"zmbv", "-c:v zmbv -pix_fmt bgr0"},
        {"mpeg4", "-c:v mpeg4 -pix_fmt yuv420p -q:v 9 -bf 0 -vtag XVID"},
        {"h264", "-c:v libx264 -pix_fmt yuv420p -crf 15 -bf 0"},
    };
    return m;
}

double FfmpegFps(const AviCompressor& c, int width, int height, std::size_t count, const std::string& rawPath,
                 const std::string& out)
{
    const auto it = FfmpegCodecs().find(c.name);
    if (it == FfmpegCodecs().end())
        return 0;
    // The bitmap rows come bottom row first, as the layer gets them.
    const std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y -f rawvideo -pix_fmt bgr24 -s " +
                            std::to_string(width) + "x" + std::to_string(height) + " -r 30 -i '" + rawPath +
                            "' -vf vflip " + it->second + " '" + out + "'";
    const auto t0 = Clock::now();
    const int rc = std::system(cmd.c_str());
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    if (rc != 0) {
        std::fprintf(stderr, "ffmpeg failed for %s\n", c.name.c_str());
        return 0;
    }
    return static_cast<double>(count) / s;
}

} // namespace

int main(int argc, char** argv)
{
    const int base = argc > 1 ? std::atoi(argv[1]) : 60;
    const fs::path dir = fs::temp_directory_path() / "reelcast_avi_bench";
    fs::create_directories(dir);
    std::printf("%-9s %-10s %8s %8s %12s %12s\n", "codec", "size", "frames", "ours", "ffmpeg", "ours/ffmpeg");
    for (auto [width, height, count] : {std::tuple{640, 480, base}, std::tuple{1920, 1080, base / 2}}) {
        std::vector<std::vector<std::uint8_t>> frames;
        for (int i = 0; i < count; ++i)
            frames.push_back(MakeFrame(width, height, i));
        const std::string rawPath = (dir / "frames.raw").string();
        {
            std::ofstream raw(rawPath, std::ios::binary);
            for (const auto& f : frames)
                raw.write(reinterpret_cast<const char*>(f.data()), static_cast<std::streamsize>(f.size()));
        }
        for (const AviCompressor& c : AviCompressors()) {
            const double ours = OursFps(c, width, height, frames, (dir / "ours.avi").string());
            const double theirs = FfmpegFps(c, width, height, frames.size(), rawPath, (dir / "ffmpeg.avi").string());
            const std::string size = std::to_string(width) + "x" + std::to_string(height);
            std::printf("%-9s %-10s %8d %8.1f %12.1f %12.2f\n", c.name.c_str(), size.c_str(), count, ours, theirs,
                        theirs > 0 ? ours / theirs : 0.0);
            std::fflush(stdout);
        }
    }
    fs::remove_all(dir);
    return 0;
}
