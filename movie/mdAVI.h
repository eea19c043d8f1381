// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The movie file library: the operations, records, flags and result codes of
// the classic AVIFile interface, on FFmpeg's AVI muxer and encoders. The build
// run calls these in a fixed order; see the implementation for how each maps.
#include "AviCompressor.h"
#include "AviResult.h"
#include "WaveFormat.h"

#include <cstdint>
#include <functional>
#include <string>

constexpr std::uint32_t OF_WRITE = 0x0001;
constexpr std::uint32_t OF_CREATE = 0x1000;
constexpr std::uint32_t ICMF_CHOOSE_KEYFRAME = 0x0001;
constexpr std::uint32_t ICMF_CHOOSE_DATARATE = 0x0002;
constexpr std::uint32_t AVIIF_KEYFRAME = 0x0010;
// dwFlags of AVICOMPRESSOPTIONS, as the dialog fills them. The values are
// honoured whenever they are nonzero; the flags only record the choice.
constexpr std::uint32_t AVICOMPRESSF_DATARATE = 0x0002;
constexpr std::uint32_t AVICOMPRESSF_KEYFRAMES = 0x0004;
constexpr std::uint32_t AVICOMPRESSF_VALID = 0x0008;

struct RECT {
    std::int32_t left;
    std::int32_t top;
    std::int32_t right;
    std::int32_t bottom;
};

// The stream header, in the published 140-byte ANSI layout.
struct AVI_STREAM_INFO {
    std::uint32_t fccType;
    std::uint32_t fccHandler;
    std::uint32_t dwFlags;
    std::uint32_t dwCaps;
    std::uint16_t wPriority;
    std::uint16_t wLanguage;
    std::uint32_t dwScale;
    std::uint32_t dwRate;
    std::uint32_t dwStart;
    std::uint32_t dwLength;
    std::uint32_t dwInitialFrames;
    std::uint32_t dwSuggestedBufferSize;
    std::uint32_t dwQuality;
    std::uint32_t dwSampleSize;
    RECT rcFrame;
    std::uint32_t dwEditCount;
    std::uint32_t dwFormatChangeCount;
    char szName[64];
};
static_assert(sizeof(AVI_STREAM_INFO) == 140, "AVISTREAMINFO is 140 bytes");

// The compression options the dialog fills and the compressed stream takes.
struct AVICOMPRESSOPTIONS {
    std::uint32_t fccType;
    std::uint32_t fccHandler;
    std::uint32_t dwKeyFrameEvery;
    std::uint32_t dwQuality; // 0..10000
    std::uint32_t dwBytesPerSecond;
    std::uint32_t dwFlags;
    void* lpFormat;
    std::uint32_t cbFormat;
    void* lpParms;
    std::uint32_t cbParms;
    std::uint32_t dwInterleaveEvery;
};

// What AVIFileInfo tells of a file, in the published 108-byte ANSI layout.
struct AVIFILEINFO {
    std::uint32_t dwMaxBytesPerSec;
    std::uint32_t dwFlags;
    std::uint32_t dwCaps;
    std::uint32_t dwStreams;
    std::uint32_t dwSuggestedBufferSize;
    std::uint32_t dwWidth;
    std::uint32_t dwHeight;
    std::uint32_t dwScale;
    std::uint32_t dwRate;
    std::uint32_t dwLength; // frames in the file, position 0 included
    std::uint32_t dwEditCount;
    char szFileType[64];
};
static_assert(sizeof(AVIFILEINFO) == 108, "AVIFILEINFO is 108 bytes");

struct AviFile;
struct AviStream;
using PAVIFILE = AviFile*;
using PAVISTREAM = AviStream*;
// The window that owns the compression dialog (a QWidget*, or null).
using AviOwnerWindow = void*;

void AVIFileInit();
HRESULT_AVI AVIFileOpen(PAVIFILE* ppfile, const char* szFile, std::uint32_t uMode, const void* lpHandler);
std::uint32_t mmioStringToFOURCC(const char* sz, std::uint32_t uFlags);
bool SetRect(RECT* lprc, int xLeft, int yTop, int xRight, int yBottom);
// One "vids" stream, and at most one "auds" stream of PCM or float samples
// (its format a WAVEFORMATEX), created and given its format before the
// picture's format is set. Its samples are written with AVIStreamWrite,
// between the frames they play with.
HRESULT_AVI AVIFileCreateStream(PAVIFILE pfile, PAVISTREAM* ppavi, const AVI_STREAM_INFO* psi);
// Answers 1 when the user accepted and the options were filled, else 0.
int AVISaveOptions(AviOwnerWindow hwnd, std::uint32_t uiFlags, int nStreams, PAVISTREAM* ppavi,
                   AVICOMPRESSOPTIONS** plpOptions);
HRESULT_AVI AVIMakeCompressedStream(PAVISTREAM* ppsCompressed, PAVISTREAM psSource,
                                    const AVICOMPRESSOPTIONS* lpOptions, const void* pclsidHandler);
HRESULT_AVI AVIStreamSetFormat(PAVISTREAM pavi, std::int32_t lPos, const void* lpFormat, std::int32_t cbFormat);
HRESULT_AVI AVIStreamWrite(PAVISTREAM pavi, std::int32_t lStart, std::int32_t lSamples, const void* lpBuffer,
                           std::int32_t cbBuffer, std::uint32_t dwFlags, std::int32_t* plSampWritten,
                           std::int32_t* plBytesWritten);
// Releasing the stream the frames went to ends it: the compressor gives up
// the frames it still holds, so that AVIFileInfo then counts them.
std::uint32_t AVIStreamRelease(PAVISTREAM pavi);
HRESULT_AVI AVIFileInfo(PAVIFILE pfile, AVIFILEINFO* pfi, std::int32_t lSize);
// Writes the indexes and closes the file. Unlike the classic call, it
// answers a result code: 0 when the file on disk is a complete movie holding
// every frame whose write was answered 0; else the first failure of the
// movie (a frame the worker or the compressor could not write, the indexes).
// A file that cannot be closed as a readable movie is removed.
HRESULT_AVI AVIFileRelease(PAVIFILE pfile);
HRESULT_AVI AVISaveOptionsFree(int nStreams, AVICOMPRESSOPTIONS** plpOptions);
void AVIFileExit();

// FFmpeg's own messages (encoder statistics, notices) stay off the terminal
// unless this turns them on, at FFmpeg's info level on standard error.
void AviSetLibraryLog(bool on);

// The seam through which AVISaveOptions gets its answer. The window installs
// the Qt dialog; tests and the batch front end install a function that fills
// the options without a person. The function returns 1 (accepted, options
// filled) or 0 (refused).
using AviSaveOptionsProvider =
    std::function<int(AviOwnerWindow owner, std::uint32_t uiFlags, AVICOMPRESSOPTIONS& options)>;
// Installs the provider and answers the one it replaces. With no provider
// installed AVISaveOptions answers 0, as a refused dialog.
AviSaveOptionsProvider SetAviSaveOptionsProvider(AviSaveOptionsProvider provider);

// How many option records AVISaveOptions accepted that AVISaveOptionsFree
// has not freed yet: what a run leaves behind when it misses the free.
int AviSaveOptionsPending();

// Why a movie cannot carry `samples` samples of sound of this format, in
// words that follow "The sound file NAME "; empty when it can. The limits are
// the stream header's, FFmpeg's muxer's and those of FFmpeg's reader, so that
// a sound no player could open is refused before anything is written.
std::string AviSoundUnfit(const wav::Format& format, std::int64_t samples);
