// SPDX-License-Identifier: GPL-2.0-or-later
#include "WaveFile.h"

#include "LittleEndian.h"
#include "RiffChunk.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace wav {
namespace {

[[noreturn]] void Refuse(const std::string& path, const std::string& why)
{
    throw std::runtime_error("The sound file " + path + " " + why);
}

} // namespace

Reader::Reader(const std::string& path) : path_(path), file_(fileio::File::OpenForReading(path))
{
    if (!file_.ok())
        Refuse(path, "cannot be read: " + fileio::ErrorText(errno));
    if (const char* kind = file_.NotPlainKind())
        Refuse(path, std::string("is ") + kind + ", not a WAV file.");
    const std::int64_t length = file_.Length();
    std::uint8_t riff[12];
    if (length < 12 || file_.ReadAt(riff, sizeof riff, 0) != 12 || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
        Refuse(path, "is not a WAV file: it does not start with a RIFF WAVE header.");
    const std::int64_t end = 8 + static_cast<std::int64_t>(le::GetU32(riff + 4));
    if (end > length)
        Refuse(path, "is cut short or its header is wrong: the header gives " + std::to_string(end) +
                         " bytes, the file has " + std::to_string(length) + ".");

    std::uint8_t fmt[40] = {};
    std::uint32_t fmtSize = 0, dataSize = 0;
    bool haveFormat = false, haveData = false;
    for (std::int64_t at = 12; at + 8 <= end && !haveData;) {
        std::uint8_t chunk[8];
        if (file_.ReadAt(chunk, sizeof chunk, at) != 8)
            Refuse(path, "cannot be read: " + fileio::ErrorText(errno));
        const std::uint32_t size = le::GetU32(chunk + 4);
        const std::int64_t body = at + 8;
        const std::string id(reinterpret_cast<const char*>(chunk), 4);
        if (body + size > end)
            Refuse(path, "is cut short or its header is wrong: its \"" + id + "\" chunk gives " +
                             std::to_string(size) + " bytes, the file holds " + std::to_string(end - body) +
                             " after its start.");
        if (id == "fmt " && !haveFormat) {
            fmtSize = size;
            if (size < 16 || file_.ReadAt(fmt, std::min<std::size_t>(size, sizeof fmt), body) < 16)
                Refuse(path, "has a format chunk too short to describe its sound.");
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat)
                Refuse(path, "has its sound data before its format chunk.");
            dataOffset_ = body;
            dataSize = size;
            haveData = true;
        }
        at = body + riff::PaddedSize(size);
    }
    if (!haveFormat || !haveData)
        Refuse(path, haveFormat ? "has no sound data (no \"data\" chunk)." : "has no format (no \"fmt \" chunk).");

    format_ = ParseFormat(fmt, std::min<std::size_t>(fmtSize, sizeof fmt));
    if (format_.tag == kFormatExtensible)
        Refuse(path, "has an extensible format that is not PCM or float.");
    const Format& f = format_;
    if (f.tag != kFormatPcm && f.tag != kFormatFloat)
        Refuse(path, "holds samples of format " + std::to_string(f.tag) +
                         "; Reelcast reads PCM of 8, 16, 24 or 32 bits and 32-bit float.");
    if (!f.Usable())
        Refuse(path, "has a format Reelcast cannot use or that contradicts itself: " + std::to_string(f.channels) +
                         " channels, " + std::to_string(f.sampleRate) + " samples a second, " +
                         std::to_string(f.bitsPerSample) + (f.tag == kFormatFloat ? "-bit float, " : "-bit PCM, ") +
                         std::to_string(f.blockAlign) + " bytes a sample and " + std::to_string(f.bytesPerSecond) +
                         " bytes a second.");
    if (dataSize % format_.blockAlign != 0)
        Refuse(path, "is cut short or its header is wrong: its " + std::to_string(dataSize) +
                         " bytes of sound are not a whole number of " + std::to_string(format_.blockAlign) +
                         "-byte samples.");
    frames_ = dataSize / format_.blockAlign;
    if (frames_ == 0)
        Refuse(path, "holds no sound.");
}

void Reader::Read(std::int64_t first, std::int64_t count, std::vector<std::uint8_t>& out) const
{
    count = std::max<std::int64_t>(0, std::min(count, frames_ - first));
    out.resize(static_cast<std::size_t>(count) * format_.blockAlign);
    if (count == 0)
        return;
    const std::int64_t got = file_.ReadAt(out.data(), out.size(), dataOffset_ + first * format_.blockAlign);
    if (got < 0)
        Refuse(path_, "could not be read to its end: " + fileio::ErrorText(errno));
    if (got != static_cast<std::int64_t>(out.size()))
        Refuse(path_, "has become shorter than its header says: its sound ends after " +
                          std::to_string(first + got / format_.blockAlign) +
                          " of its " + std::to_string(frames_) + " samples.");
}

} // namespace wav
