// SPDX-License-Identifier: GPL-2.0-or-later
// Writes an uncompressed movie of more than 4 GB through the movie layer, in
// the build run's order, and shows it complete: every frame counted, frames
// past the 1, 2 and 4 GB marks found by seeking, and the last frame's bytes
// read back. Too slow for the test suite; run by hand:
//   avi_large_check [output.avi]
#include "mdAVI.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr std::size_t kFrameBytes = std::size_t{kWidth} * 3 * kHeight;
constexpr int kFrames = 720; // 4.48 GB of pictures, at positions 1..720

void Fill(std::vector<std::uint8_t>& bits, int position)
{
    for (std::size_t i = 0; i < bits.size(); i += 4096)
        bits[i] = static_cast<std::uint8_t>(position + i / 4096);
    std::memcpy(bits.data(), &position, sizeof position);
    std::memcpy(bits.data() + bits.size() - sizeof position, &position, sizeof position);
}

bool Write(const std::string& path)
{
    std::vector<std::uint8_t> info(40, 0);
    auto put = [&](std::size_t at, std::uint32_t v) { std::memcpy(&info[at], &v, 4); };
    put(0, 40);
    put(4, kWidth);
    put(8, kHeight);
    info[12] = 1;
    info[14] = 24;
    put(20, static_cast<std::uint32_t>(kFrameBytes));

    SetAviSaveOptionsProvider([](AviOwnerWindow, std::uint32_t, AVICOMPRESSOPTIONS& o) {
        o = {};
        o.fccType = mmioStringToFOURCC("vids", 0);
        o.fccHandler = mmioStringToFOURCC("DIB ", 0);
        return 1;
    });
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
    si.dwSuggestedBufferSize = static_cast<std::uint32_t>(kFrameBytes);
    SetRect(&si.rcFrame, 0, 0, kWidth, kHeight);
    if (hr == AVIERR_OK)
        hr = AVIFileCreateStream(file, &stream, &si);
    const int accepted = hr == AVIERR_OK ? AVISaveOptions(nullptr, 3, 1, &stream, array) : 0;
    if (hr == AVIERR_OK && accepted == 1)
        hr = AVIMakeCompressedStream(&compressed, stream, &options, nullptr);
    if (hr == AVIERR_OK && accepted == 1)
        hr = AVIStreamSetFormat(compressed, 0, info.data(), 40);
    std::vector<std::uint8_t> bits(kFrameBytes);
    int position = 0;
    for (; hr == AVIERR_OK && accepted == 1 && position < kFrames;) {
        ++position;
        Fill(bits, position);
        hr = AVIStreamWrite(compressed, position, 1, bits.data(), static_cast<std::int32_t>(bits.size()),
                            AVIIF_KEYFRAME, nullptr, nullptr);
    }
    if (stream)
        AVIStreamRelease(stream);
    if (compressed)
        AVIStreamRelease(compressed);
    if (file)
        AVIFileRelease(file);
    if (accepted == 1)
        AVISaveOptionsFree(1, array);
    AVIFileExit();
    std::printf("wrote %d frames, result 0x%08x\n", position, static_cast<unsigned>(hr));
    return hr == AVIERR_OK;
}

bool Check(const std::string& path)
{
    AVFormatContext* in = nullptr;
    if (avformat_open_input(&in, path.c_str(), nullptr, nullptr) < 0 || avformat_find_stream_info(in, nullptr) < 0) {
        std::printf("cannot read the movie back\n");
        return false;
    }
    AVPacket* pkt = av_packet_alloc();
    std::vector<std::uint8_t> expected(kFrameBytes);
    bool ok = true;

    // Every chunk in order: position 0 (the first frame repeated) and 1..N.
    std::int64_t count = 0;
    std::int64_t lastPts = -1;
    std::vector<std::uint8_t> last;
    while (av_read_frame(in, pkt) >= 0) {
        ++count;
        lastPts = pkt->pts;
        if (pkt->pts == kFrames)
            last.assign(pkt->data, pkt->data + pkt->size);
        av_packet_unref(pkt);
    }
    Fill(expected, kFrames);
    const bool lastOk = last == expected;
    std::printf("frames read in order: %lld (expected %d), last position %lld, last frame's bytes %s\n",
                static_cast<long long>(count), kFrames + 1, static_cast<long long>(lastPts),
                lastOk ? "identical" : "DIFFERENT");
    ok = ok && count == kFrames + 1 && lastOk;

    // Through the index: frames beyond each size mark.
    for (int position : {180, 360, 700, kFrames}) {
        const double gb = static_cast<double>(position) * kFrameBytes / (1u << 30);
        if (av_seek_frame(in, 0, position, AVSEEK_FLAG_ANY) < 0 || av_read_frame(in, pkt) < 0) {
            std::printf("seek to %d (%.2f GB) failed\n", position, gb);
            ok = false;
            continue;
        }
        Fill(expected, position);
        const bool same = pkt->pts == position && static_cast<std::size_t>(pkt->size) == kFrameBytes &&
                          std::memcmp(pkt->data, expected.data(), kFrameBytes) == 0;
        std::printf("seek to position %d (%.2f GB into the movie): %s\n", position, gb, same ? "identical" : "WRONG");
        ok = ok && same;
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&in);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string path = argc > 1 ? argv[1] : "large_check.avi";
    const auto t0 = std::chrono::steady_clock::now();
    if (!Write(path))
        return 1;
    const auto t1 = std::chrono::steady_clock::now();
    std::printf("file size %.3f GB, written in %.1f s\n",
                static_cast<double>(std::filesystem::file_size(path)) / (1u << 30),
                std::chrono::duration<double>(t1 - t0).count());
    const bool ok = Check(path);
    std::printf("%s\n", ok ? "COMPLETE" : "INCOMPLETE");
    if (argc <= 1)
        std::filesystem::remove(path);
    return ok ? 0 : 1;
}
