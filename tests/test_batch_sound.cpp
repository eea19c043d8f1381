// SPDX-License-Identifier: GPL-2.0-or-later
// reelcast-batch's sound: every kind kept sample for sample at an exact rate, or refused before anything is written.
#include "AviMovieReader.h"
#include "BatchRun.h"
#include "TestSupport.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <gtest/gtest.h>

#include <optional>

#include <sys/stat.h>

using namespace testsupport;

namespace {

// The sound stream's channel layout as FFmpeg reads it, as in "quad".
std::string SoundLayout(const std::string& path)
{
    AVFormatContext* ctx = nullptr;
    char name[64] = "none";
    if (avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) == 0 && avformat_find_stream_info(ctx, nullptr) >= 0)
        if (const int i = av_find_best_stream(ctx, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0); i >= 0)
            av_channel_layout_describe(&ctx->streams[i]->codecpar->ch_layout, name, sizeof name);
    avformat_close_input(&ctx);
    return name;
}

} // namespace

TEST(BatchSound, EveryKindIsKeptSampleForSampleAtAnExactRateOrRefusedBeforeAnythingIsWritten)
{
    TempDir frames, outDir;
    WriteFrames(frames, 120, 8, 6);
    const std::string dir = frames.path().string(), out = outDir.file("m.avi"), wav = outDir.file("s.wav");
    // The sound's tag, channels, rate, bits, seconds and channel mask; --rate and the header's rate; FFmpeg's decoder
    // and layout, which names none where the movie's record has no speakers (it has them above 16 bits).
    const std::tuple<int, int, int, int, double, std::uint32_t, const char*, int, int, const char*, const char*>
        cases[] = {{1, 1, 22050, 16, 4.004, 0, "30000/1001", 30000, 1001, "pcm_s16le", "1 channels"},
                   {1, 2, 48000, 24, 2, 0, "6000000000/100000000", 60, 1, "pcm_s24le", "stereo"}, // reduced to fit
                   {3, 4, 48000, 32, 2, 0x33, "60", 60, 1, "pcm_f32le", "quad"},
                   {1, 2, 44100, 8, 1.5, 0, "audio", 80, 1, "pcm_u8", "2 channels"}};
    for (const auto& [tag, channels, rate, bits, seconds, mask, rateText, num, den, decoder, layout] : cases) {
        SCOPED_TRACE(std::string(decoder) + " " + rateText);
        Bytes samples;
        WriteFile(wav, Wav(tag, channels, rate, bits, seconds, mask, &samples));
        const Outcome r = Batch({dir, out, "--overwrite", "--rate", rateText, "--audio", wav});
        // The scan only: no word of a length the sound does not share.
        EXPECT_EQ(std::tuple(r.code, r.err.find('\n') + 1), std::tuple(0, r.err.size())) << r.err;
        const auto m = avitest::ReadMovie(out, false);
        EXPECT_EQ(std::tuple(m.rateNum, m.rateDen, m.soundCodec, m.sampleRate, m.channels, m.soundStart, SoundLayout(out)),
                  std::tuple(num, den, decoder, rate, channels, 0.0, layout)) << m.error;
        // Samples are copied whatever their size; FFmpeg widens 24-bit ones, so they are compared in the others.
        EXPECT_TRUE(bits == 24 || m.sound == samples) << m.sound.size() << " bytes decoded, " << samples.size();
    }
    // A sound over a frame off the movie's length is kept and told, with a rate that would match them.
    WriteFile(wav, Wav(1, 1, 8000, 8, 2.025));
    EXPECT_TRUE(Batch({dir, out, "--overwrite", "--rate", "60", "--audio", wav})
                    .err.ends_with("reelcast-batch: the movie lasts 2 s, its sound 2.025 s; --rate 1600/27 (or --rate "
                                   "audio) makes them end together\n"));
    WriteFile(wav, Wav(1, 1, 8000, 8, 150));

    // Frames that last as long as the sound only at a rate no movie takes; and sounds that cannot be used: refused
    // before anything is written.
    const std::string none = outDir.file("none.avi"), wavs = outDir.file("");
    const Outcome slow = Batch({dir, none, "--audio", wav, "--rate", "audio"});
    EXPECT_EQ(std::tuple(slow.code, slow.err.substr(slow.err.find('\n') + 1)),
              std::tuple(1, "reelcast-batch: --rate audio: 120 frames over the sound's 150 s would be 0.8 frames a "
                            "second, and a movie takes 1 to 1000. Nothing was written.\n"));
    Bytes contradicting = Wav(1, 2, 48000, 16, 1), noData = contradicting, tooLong = Wav(1, 1, 8000, 8, 0);
    contradicting[32] = 3, noData.resize(36), noData[4] = 28, noData[5] = noData[6] = 0;
    // 8-bit mono, one sample past what a movie's sound can number; sparse, so that it costs no disk.
    const std::uint32_t samples = 1u << 31;
    for (int i = 0; i < 4; ++i)
        tooLong[52 + i] = std::uint8_t(samples >> 8 * i), tooLong[4 + i] = std::uint8_t((samples + 48) >> 8 * i);
    WriteFile(wavs + "long.wav", tooLong);
    std::filesystem::resize_file(wavs + "long.wav", 56 + std::uintmax_t(samples));
    ::mkfifo((wavs + "fifo.wav").c_str(), 0600);
    const std::tuple<std::string, std::optional<Bytes>, std::string> bad[] = {
        {"riff.wav", Bytes{'R', 'I', 'F', 'F'}, "is not a WAV file: it does not start with a RIFF WAVE header."},
        {"adpcm.wav", Wav(2, 2, 48000, 16, 1),
         "holds samples of format 2; Reelcast reads PCM of 8, 16, 24 or 32 bits and 32-bit float."},
        {"contradicting.wav", contradicting,
         "has a format Reelcast cannot use or that contradicts itself: 2 channels, 48000 samples a second, 16-bit "
         "PCM, 3 bytes a sample and 192000 bytes a second."},
        {"nodata.wav", noData, "has no sound data (no \"data\" chunk)."},
        {"long.wav", std::nullopt, "holds 2147483648 samples a channel, more than a movie's sound can (2147483647)"},
        {"many.wav", Wav(1, 513, 8000, 8, 0.01), "has 513 channels, more than a movie's sound can (512)"},
        {"fifo.wav", std::nullopt, "is a FIFO, not a WAV file."},
        {"", std::nullopt, "is a directory, not a WAV file."}};
    for (const auto& [name, bytes, says] : bad) {
        if (bytes)
            WriteFile(wavs + name, *bytes);
        const Outcome r = Batch({dir, none, "--audio", wavs + name});
        EXPECT_EQ(std::tuple(r.code, r.err, std::filesystem::exists(none)),
                  std::tuple(1, "reelcast-batch: The sound file " + wavs + name + " " + says + "\n", false));
    }
}
