// SPDX-License-Identifier: GPL-2.0-or-later
// The AVIFile operations on the movie writer of AviWriter.cpp. Handles are
// plain heap objects checked against a table of live ones, so that a null
// or already released handle is answered with AVIERR_BADHANDLE rather than
// a crash.
#include "mdAVI.h"

#include "FourCC.h"

#include "AviCompressorTable.h"
#include "AviWriter.h"

#include <cctype>
#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <utility>

struct AviFile {
    std::unique_ptr<avi::Writer> writer;
    AviStream* source = nullptr;
    AviStream* compressed = nullptr;
    AviStream* formatStream = nullptr; // the stream the frames go to
    AviStream* sound = nullptr;
    AVI_STREAM_INFO info{};
};

struct AviStream {
    AviFile* file = nullptr;               // null once the file is released
    const AviCompressor* compressor = nullptr; // null on the uncompressed stream
    AVICOMPRESSOPTIONS options{};
    bool isSound = false;
    std::uint16_t blockAlign = 0; // a sound stream's, once its format is set
};

namespace {

std::set<AviFile*>& LiveFiles()
{
    static std::set<AviFile*> files;
    return files;
}

std::set<AviStream*>& LiveStreams()
{
    static std::set<AviStream*> streams;
    return streams;
}

std::set<const AVICOMPRESSOPTIONS*>& PendingOptions()
{
    static std::set<const AVICOMPRESSOPTIONS*> pending;
    return pending;
}

AviSaveOptionsProvider& Provider()
{
    static AviSaveOptionsProvider provider;
    return provider;
}

bool Live(AviFile* f)
{
    return f && LiveFiles().count(f);
}

bool Live(AviStream* s)
{
    return s && LiveStreams().count(s);
}

constexpr std::uint32_t kStreamTypeVideo = FourCC("vids");
constexpr std::uint32_t kStreamTypeAudio = FourCC("auds");

// A sound stream: its format (a WAVEFORMATEX or WAVEFORMATEXTENSIBLE) goes into the header, so both
// are set before the picture's format; its samples go between the frames.
HRESULT_AVI SetSoundFormat(AviStream* pavi, const void* lpFormat, std::int32_t cbFormat)
{
    if (!lpFormat || cbFormat < static_cast<std::int32_t>(wav::kPcmFormatSize))
        return AVIERR_BADFORMAT;
    const wav::Format format =
        wav::ParseFormat(static_cast<const std::uint8_t*>(lpFormat), static_cast<std::size_t>(cbFormat));
    const HRESULT_AVI hr = pavi->file->writer->AddSound(format);
    if (hr == AVIERR_OK)
        pavi->blockAlign = format.blockAlign;
    return hr;
}

// Every entry point answers AVIERR_MEMORY instead of letting an allocation
// failure escape into the caller.
template <typename F>
HRESULT_AVI ExceptionsAsResult(F&& body)
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return AVIERR_MEMORY;
    } catch (...) {
        return AVIERR_INTERNAL;
    }
}

} // namespace

void AVIFileInit() {}

void AVIFileExit() {}

HRESULT_AVI AVIFileOpen(PAVIFILE* ppfile, const char* szFile, std::uint32_t uMode, const void* /*lpHandler*/)
{
    if (!ppfile)
        return AVIERR_BADPARAM;
    *ppfile = nullptr;
    if (!szFile || !*szFile)
        return AVIERR_BADPARAM;
    // Movies are only ever written here.
    if (!(uMode & OF_WRITE) || !(uMode & OF_CREATE))
        return AVIERR_READONLY;
    return ExceptionsAsResult([&] {
        auto file = std::make_unique<AviFile>();
        const HRESULT_AVI hr = avi::Writer::Create(szFile, file->writer);
        if (hr != AVIERR_OK)
            return hr;
        LiveFiles().insert(file.get());
        *ppfile = file.release();
        return AVIERR_OK;
    });
}

std::uint32_t mmioStringToFOURCC(const char* sz, std::uint32_t uFlags)
{
    constexpr std::uint32_t MMIO_TOUPPER = 0x0010;
    char code[5] = {};
    bool ended = !sz;
    for (int i = 0; i < 4; ++i) {
        unsigned char c = ' ';
        if (!ended) {
            if (sz[i] == '\0')
                ended = true;
            else
                c = static_cast<unsigned char>(sz[i]);
        }
        if (uFlags & MMIO_TOUPPER)
            c = static_cast<unsigned char>(std::toupper(c));
        code[i] = static_cast<char>(c);
    }
    return FourCC(code);
}

bool SetRect(RECT* lprc, int xLeft, int yTop, int xRight, int yBottom)
{
    if (!lprc)
        return false;
    *lprc = RECT{xLeft, yTop, xRight, yBottom};
    return true;
}

HRESULT_AVI AVIFileCreateStream(PAVIFILE pfile, PAVISTREAM* ppavi, const AVI_STREAM_INFO* psi)
{
    if (!ppavi || !psi)
        return AVIERR_BADPARAM;
    *ppavi = nullptr;
    if (!Live(pfile))
        return AVIERR_BADHANDLE;
    if (psi->fccType == kStreamTypeAudio) {
        if (pfile->sound || pfile->writer->Started())
            return AVIERR_UNSUPPORTED; // one sound track, described in the header
        return ExceptionsAsResult([&] {
            auto stream = std::make_unique<AviStream>();
            stream->file = pfile;
            stream->isSound = true;
            LiveStreams().insert(stream.get());
            pfile->sound = stream.get();
            *ppavi = stream.release();
            return AVIERR_OK;
        });
    }
    if (psi->fccType != kStreamTypeVideo)
        return AVIERR_UNSUPPORTED;
    if (psi->dwRate == 0 || psi->dwScale == 0)
        return AVIERR_BADPARAM;
    if (pfile->source)
        return AVIERR_UNSUPPORTED; // one video stream per movie
    return ExceptionsAsResult([&] {
        auto stream = std::make_unique<AviStream>();
        stream->file = pfile;
        pfile->info = *psi;
        LiveStreams().insert(stream.get());
        pfile->source = stream.get();
        *ppavi = stream.release();
        return AVIERR_OK;
    });
}

int AVISaveOptions(AviOwnerWindow hwnd, std::uint32_t uiFlags, int nStreams, PAVISTREAM* /*ppavi*/,
                   AVICOMPRESSOPTIONS** plpOptions)
{
    if (nStreams < 1 || !plpOptions)
        return 0;
    AviSaveOptionsProvider& provider = Provider();
    if (!provider)
        return 0;
    try {
        std::vector<AVICOMPRESSOPTIONS> chosen;
        for (int i = 0; i < nStreams; ++i) {
            if (!plpOptions[i])
                return 0;
            AVICOMPRESSOPTIONS opts = *plpOptions[i];
            if (provider(hwnd, uiFlags, opts) != 1)
                return 0;
            chosen.push_back(opts);
        }
        // Nothing is filled unless every stream was accepted.
        for (int i = 0; i < nStreams; ++i) {
            *plpOptions[i] = chosen[static_cast<std::size_t>(i)];
            PendingOptions().insert(plpOptions[i]);
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

HRESULT_AVI AVISaveOptionsFree(int nStreams, AVICOMPRESSOPTIONS** plpOptions)
{
    if (nStreams < 0 || (nStreams > 0 && !plpOptions))
        return AVIERR_BADPARAM;
    for (int i = 0; i < nStreams; ++i)
        if (plpOptions[i])
            PendingOptions().erase(plpOptions[i]);
    return AVIERR_OK;
}

int AviSaveOptionsPending()
{
    return static_cast<int>(PendingOptions().size());
}

HRESULT_AVI AVIMakeCompressedStream(PAVISTREAM* ppsCompressed, PAVISTREAM psSource,
                                    const AVICOMPRESSOPTIONS* lpOptions, const void* /*pclsidHandler*/)
{
    if (!ppsCompressed || !lpOptions)
        return AVIERR_BADPARAM;
    *ppsCompressed = nullptr;
    if (!Live(psSource) || !psSource->file || psSource->compressor)
        return AVIERR_BADHANDLE;
    if (lpOptions->fccType != 0 && lpOptions->fccType != kStreamTypeVideo)
        return AVIERR_UNSUPPORTED;
    const AviCompressor* compressor = avi::CompressorForFourCC(lpOptions->fccHandler);
    if (!compressor)
        return AVIERR_NOCOMPRESSOR;
    AviFile* file = psSource->file;
    if (file->compressed)
        return AVIERR_UNSUPPORTED;
    return ExceptionsAsResult([&] {
        auto stream = std::make_unique<AviStream>();
        stream->file = file;
        stream->compressor = compressor;
        stream->options = *lpOptions;
        LiveStreams().insert(stream.get());
        file->compressed = stream.get();
        *ppsCompressed = stream.release();
        return AVIERR_OK;
    });
}

HRESULT_AVI AVIStreamSetFormat(PAVISTREAM pavi, std::int32_t lPos, const void* lpFormat, std::int32_t cbFormat)
{
    if (!Live(pavi) || !pavi->file)
        return AVIERR_BADHANDLE;
    AviFile* file = pavi->file;
    if (pavi->isSound)
        return lPos != 0 || pavi->blockAlign ? AVIERR_UNSUPPORTED : ExceptionsAsResult([&] {
            return SetSoundFormat(pavi, lpFormat, cbFormat);
        });
    if (lPos != 0 || file->formatStream)
        return AVIERR_UNSUPPORTED; // the format is set once, before any frame
    return ExceptionsAsResult([&] {
        bmp::FrameFormat format;
        if (!bmp::ParseBitmapInfo(lpFormat, cbFormat, format) || !avi::Writer::CanHold(format))
            return AVIERR_BADFORMAT;
        const RECT& rc = file->info.rcFrame;
        const bool rectGiven = rc.left || rc.top || rc.right || rc.bottom;
        if (rectGiven && (rc.right - rc.left != format.width || rc.bottom - rc.top != format.height))
            return AVIERR_BADFORMAT;

        avi::Settings settings;
        settings.frameRate = FrameRate{file->info.dwRate, file->info.dwScale};
        if (pavi->compressor) {
            settings.compressor = pavi->compressor;
            settings.keyFrameEvery = pavi->options.dwKeyFrameEvery;
            settings.quality = pavi->options.dwQuality;
            settings.bytesPerSecond = pavi->options.dwBytesPerSecond;
        } else {
            settings.compressor = avi::CompressorForFourCC(0);
        }
        const HRESULT_AVI hr = file->writer->Start(settings, format);
        if (hr == AVIERR_OK)
            file->formatStream = pavi;
        return hr;
    });
}

HRESULT_AVI AVIStreamWrite(PAVISTREAM pavi, std::int32_t lStart, std::int32_t lSamples, const void* lpBuffer,
                           std::int32_t cbBuffer, std::uint32_t /*dwFlags*/, std::int32_t* plSampWritten,
                           std::int32_t* plBytesWritten)
{
    // NOTE: the key-frame flag is not examined. Uncompressed frames are all
    // key frames; for a compressor, its key-frame interval decides, as the
    // run flags every frame.
    if (plSampWritten)
        *plSampWritten = 0;
    if (plBytesWritten)
        *plBytesWritten = 0;
    if (!Live(pavi) || !pavi->file)
        return AVIERR_BADHANDLE;
    AviFile* file = pavi->file;
    if (file->formatStream != pavi && !(pavi->isSound && pavi->blockAlign))
        return AVIERR_UNSUPPORTED;
    if (lStart < 0 || lSamples < 0 || (!pavi->isSound && lSamples != 1) || cbBuffer < 0)
        return AVIERR_BADPARAM;
    const HRESULT_AVI hr = ExceptionsAsResult([&] {
        const auto cb = static_cast<std::size_t>(cbBuffer);
        return pavi->isSound ? file->writer->WriteSound(lStart, lSamples, lpBuffer, cb)
                             : file->writer->Write(lStart, lpBuffer, cb);
    });
    if (hr == AVIERR_OK) {
        if (plSampWritten)
            *plSampWritten = lSamples;
        if (plBytesWritten)
            *plBytesWritten = cbBuffer;
    }
    return hr;
}

std::uint32_t AVIStreamRelease(PAVISTREAM pavi)
{
    if (!Live(pavi))
        return 0;
    if (AviFile* file = pavi->file) {
        if (file->source == pavi)
            file->source = nullptr;
        if (file->compressed == pavi)
            file->compressed = nullptr;
        if (file->sound == pavi)
            file->sound = nullptr;
        if (file->formatStream == pavi) {
            file->writer->EndStream();
            file->formatStream = nullptr;
        }
    }
    LiveStreams().erase(pavi);
    delete pavi;
    return 0;
}

HRESULT_AVI AVIFileInfo(PAVIFILE pfile, AVIFILEINFO* pfi, std::int32_t lSize)
{
    if (!pfi || lSize < static_cast<std::int32_t>(sizeof(AVIFILEINFO)))
        return AVIERR_BADSIZE;
    if (!Live(pfile))
        return AVIERR_BADHANDLE;
    AVIFILEINFO info{};
    const AVI_STREAM_INFO& s = pfile->info;
    info.dwStreams = (pfile->source ? 1 : 0) + (pfile->sound ? 1 : 0);
    info.dwSuggestedBufferSize = s.dwSuggestedBufferSize;
    info.dwWidth = static_cast<std::uint32_t>(s.rcFrame.right - s.rcFrame.left);
    info.dwHeight = static_cast<std::uint32_t>(s.rcFrame.bottom - s.rcFrame.top);
    info.dwScale = s.dwScale;
    info.dwRate = s.dwRate;
    info.dwLength = static_cast<std::uint32_t>(pfile->writer->FramesInFile());
    std::memcpy(info.szFileType, "AVI", 4);
    *pfi = info;
    return AVIERR_OK;
}

HRESULT_AVI AVIFileRelease(PAVIFILE pfile)
{
    if (!Live(pfile))
        return AVIERR_BADHANDLE;
    // The file is finished here even while a stream handle is still held:
    // the run relies on a complete file once it has released it.
    const HRESULT_AVI closed = ExceptionsAsResult([&] { return pfile->writer->Finish(); });
    for (AviStream* s : {pfile->source, pfile->compressed, pfile->sound})
        if (s)
            s->file = nullptr;
    LiveFiles().erase(pfile);
    delete pfile;
    return closed;
}

const std::vector<AviCompressor>& AviCompressors()
{
    return avi::CompressorList();
}

void AviSetLibraryLog(bool on)
{
    avi::SetLibraryLog(on);
}

AviSaveOptionsProvider SetAviSaveOptionsProvider(AviSaveOptionsProvider provider)
{
    return std::exchange(Provider(), std::move(provider));
}

std::string AviSoundUnfit(const wav::Format& format, std::int64_t samples)
{
    // FFmpeg's reader refuses more channels; its muxer keeps the byte rate,
    // and with it the sample rate, in a signed 32-bit field; AVIStreamWrite
    // numbers samples in 32 bits.
    constexpr unsigned kMostChannels = 512;
    constexpr std::uint32_t kMostBytesPerSecond = 2147483647;
    constexpr std::int64_t kMostSamples = 2147483647;
    if (format.channels > kMostChannels)
        return "has " + std::to_string(format.channels) + " channels, more than a movie's sound can (" +
               std::to_string(kMostChannels) + ")";
    if (format.bytesPerSecond > kMostBytesPerSecond)
        return "takes " + std::to_string(format.bytesPerSecond) + " bytes a second (" +
               std::to_string(format.sampleRate) + " samples a second), more than a movie's sound can (" +
               std::to_string(kMostBytesPerSecond) + ")";
    if (samples > kMostSamples)
        return "holds " + std::to_string(samples) + " samples a channel, more than a movie's sound can (" +
               std::to_string(kMostSamples) + ")";
    return {};
}
