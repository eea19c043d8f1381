// SPDX-License-Identifier: GPL-2.0-or-later
// The WAV reader on arbitrary bytes: a file is refused with its reason or
// read within what it holds, and its format survives the movie's record.
#include "FuzzSupport.h"
#include "WaveFile.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static fuzz::ScratchFiles scratch{{fuzz::ScratchPath(".wav"), {}}};
    const std::string& path = scratch.paths[0];
    fuzz::WriteFile(path, data, size);
    try {
        const wav::Reader sound(path);
        const wav::Format& f = sound.format();
        // What the header check lets through must fit the file it came from.
        FUZZ_CHECK(f.Usable());
        FUZZ_CHECK(sound.frames() > 0);
        FUZZ_CHECK(sound.frames() * f.blockAlign <= static_cast<std::int64_t>(size));
        // The whole sound, in the pieces a run asks for, and a piece past its end.
        std::vector<std::uint8_t> samples;
        for (std::int64_t first = 0; first < sound.frames(); first += 4096) {
            sound.Read(first, 4096, samples);
            FUZZ_CHECK(samples.size() ==
                       static_cast<std::size_t>(std::min<std::int64_t>(4096, sound.frames() - first)) * f.blockAlign);
        }
        sound.Read(sound.frames(), 1, samples);
        FUZZ_CHECK(samples.empty());
        std::uint8_t record[wav::kExtensibleFormatSize];
        const std::size_t used = wav::PutWaveFormat(f, record);
        const wav::Format back = wav::ParseFormat(record, used);
        FUZZ_CHECK(back.tag == f.tag && back.channels == f.channels && back.sampleRate == f.sampleRate &&
                   back.blockAlign == f.blockAlign && back.channelMask == f.channelMask);
    } catch (const std::runtime_error&) {
        // Refused, with its reason: what a file from outside may be.
    }
    return 0;
}
