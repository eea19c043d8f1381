// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Shared test helpers: temporary directories, generated Targa files, whole-file reads, a message-box recorder.
#include "MsgBox.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<std::uint8_t>;

// A fresh directory under the system's temporary directory, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

Bytes ReadFile(const std::string& path);
void WriteFile(const std::string& path, const Bytes& bytes);

// Pixel rows of a picture, top row first, 3 bytes (blue, green, red) a pixel, no filler; every byte depends on row,
// column, channel and seed, so swapped channels, rows or columns show.
Bytes PatternPixels(int width, int height, unsigned seed = 0);

// Any kind of Targa file, made by hand from the format's definition.
struct TargaKind {
    std::uint8_t type = 2;        // 1, 2, 3, or 9, 10, 11 for run-length
    std::uint8_t depth = 24;      // bits a stored pixel
    std::uint8_t mapBits = 0;     // bits a colour map entry (with mapLength)
    std::uint16_t mapFirst = 0;   // the first entry's index
    std::uint16_t mapLength = 0;  // entries of the colour map, 0 for none
    bool topFirst = false;        // descriptor bit 5
    bool rightToLeft = false;     // descriptor bit 4
    std::uint8_t idLength = 0;    // bytes of image-ID field
    bool footer = false;          // a TGA 2.0 extension area and footer after the pixels
};
struct HandTarga {
    Bytes file;
    Bytes picture; // what the format says it shows: top row first, blue-green-red
};
// A width x height picture of the kind, whose stored pixels come in runs of 150 equal pixels, then pairs, then single
// ones, crossing rows; run-length types store them in both kinds of packet, runs of up to 128.
HandTarga MakeAnyTarga(int width, int height, const TargaKind& kind, unsigned seed = 0);
// An uncompressed 24-bit Targa file of the picture given by topDownRows (top row first), with the kind's ID field,
// colour map, origin and footer.
Bytes MakeTarga(int width, int height, const Bytes& topDownRows, const TargaKind& kind = {});


// n pattern pictures of width x height written to dir as f000.tga, f001.tga, ...; answers the pictures.
std::vector<Bytes> WriteFrames(const TempDir& dir, int n, int width, int height);
// Whether dir holds nothing but Targa files: no temporary bitmap, hidden or not.
bool OnlyFrames(const TempDir& dir);

// The rows of topDownRows as a bitmap stores them: bottom row first, each padded with zeros to a multiple of 4 bytes.
Bytes BitmapRows(int width, int height, const Bytes& topDownRows, int bytesPerPixel = 3);

// A 40-byte bitmap info header at 72 dots per inch, from the format's definition rather than the program's.
Bytes InfoHeader(int width, int height, int bitCount, std::uint32_t sizeImage);

// A bitmap file: the 14-byte file header, then info (header and colour table) and the pixel bytes as given.
Bytes BitmapFile(const Bytes& info, const Bytes& pixels);

// The 24-bit bitmap file of a picture given top row first, without a colour table.
Bytes BitmapFileOf(int width, int height, const Bytes& topDownRows);

// Answers every message box with a fixed answer and keeps what was shown, for as long as it lives.
class MsgBoxRecorder {
public:
    struct Shown {
        std::string prompt;
        unsigned style;
        std::string title;
    };
    explicit MsgBoxRecorder(int answer = vbOK);
    ~MsgBoxRecorder();
    const std::vector<Shown>& shown() const { return shown_; }

private:
    std::vector<Shown> shown_;
    MsgBoxHandler previous_;
};

// Why GStreamer cannot play the suite's movies here, or empty: a reason to skip, never a pass.
std::string GStreamerMissing();

// Whether gst-launch-1.0 plays `path` to its end without error, through its AVI reader d, then `rest` ("d. ! …");
// `said` gets what it printed.
bool GStreamerPlays(const std::string& path, const std::string& rest, std::string& said);

// Runs body in a child process under an unprivileged user, so that permission checks apply even when the tests run as
// root. Returns the body's result, or -1 when the child could not run it.
int RunAsUnprivileged(const std::function<int()>& body);

} // namespace testsupport
