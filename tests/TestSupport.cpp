// SPDX-License-Identifier: GPL-2.0-or-later
#include "TestSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "reelcast-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary directory");
    path_ = pattern;
}

TempDir::~TempDir()
{
    namespace fs = std::filesystem;
    std::error_code ec;
    // Permission tests may have locked parts of the tree.
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(path_, ec); it != fs::recursive_directory_iterator(); it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

Bytes PatternPixels(int width, int height, unsigned seed)
{
    Bytes px(static_cast<std::size_t>(width) * height * 3);
    for (std::size_t i = 0; i < px.size(); ++i) {
        const int c = static_cast<int>(i % 3), x = static_cast<int>(i / 3 % width), y = static_cast<int>(i / 3 / width);
        px[i] = static_cast<std::uint8_t>((x * 7 + y * 13 + c * 85 + seed * 31 + (x * y) % 11) & 0xFF);
    }
    return px;
}

namespace {

// A Targa file's 18-byte header, its two-byte fields low byte first; no origin.
Bytes Header(int id, int type, int first, int length, int mapBits, int width, int height, int depth, int descriptor)
{
    Bytes h;
    for (const int v : {id, length ? 1 : 0, type, first, first >> 8, length, length >> 8, mapBits, 0, 0, 0, 0, width,
                        width >> 8, height, height >> 8, depth, descriptor})
        h.push_back(static_cast<std::uint8_t>(v));
    return h;
}

void PutLE(Bytes& b, std::size_t at, std::uint32_t v, int bytes = 4)
{
    for (int i = 0; i < bytes; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint8_t Hash(unsigned a, unsigned b)
{
    std::uint32_t h = a * 2654435761u ^ (b + 0x9E3779B9u) * 40503u;
    h ^= h >> 15, h *= 2246822519u, h ^= h >> 13;
    return static_cast<std::uint8_t>(h >> 7);
}

// Blue, green, red of a stored colour: 5-5-5 in 2 bytes, each 5 bits widened by repeating its top ones; else as is.
void Colour(const std::uint8_t* s, int bytes, std::uint8_t* d)
{
    for (unsigned c = 0, v = s[0] | s[1] << 8; c < 3; ++c)
        d[c] = bytes == 2 ? static_cast<std::uint8_t>((v >> 5 * c & 31) << 3 | (v >> 5 * c & 31) >> 2) : s[c];
}

// A file of the kind up to its pixels: header, image ID and colour map; map gets each entry's blue, green, red.
Bytes Start(int width, int height, const TargaKind& k, unsigned seed, Bytes& map)
{
    const int mapBytes = (k.mapBits + 7) / 8;
    const bool mapped = (k.type & 7) == 1, grey = (k.type & 7) == 3;
    Bytes f = Header(k.idLength, k.type, k.mapFirst, k.mapLength, k.mapBits, width, height, k.depth,
                     (k.topFirst ? 0x20 : 0) | (k.rightToLeft ? 0x10 : 0) |
                         (k.depth == 32 || (grey && k.depth == 16) ? 8 : k.depth == 16 && !mapped ? 1 : 0));
    for (int i = 0; i < k.idLength; ++i)
        f.push_back(static_cast<std::uint8_t>('a' + i % 26));
    for (int e = 0; e < k.mapLength; ++e) {
        std::uint8_t stored[4];
        for (int b = 0; b < mapBytes; ++b)
            stored[b] = Hash(seed + 77, static_cast<unsigned>(e * 4 + b));
        f.insert(f.end(), stored, stored + mapBytes);
        map.resize(map.size() + 3);
        Colour(stored, mapBytes, &map[map.size() - 3]);
    }
    return f;
}

// After the pixels, when the kind has them: a 495-byte extension area (its size first) and the footer pointing to it.
void Finish(Bytes& f, const TargaKind& k)
{
    if (!k.footer)
        return;
    const auto at = static_cast<std::uint32_t>(f.size());
    f.resize(at + 495), f[at] = 0xEF, f[at + 1] = 0x01;
    for (int i = 0; i < 4; ++i)
        f.push_back(static_cast<std::uint8_t>(at >> 8 * i));
    const char footer[] = "\0\0\0\0TRUEVISION-XFILE."; // the developer area's offset, then the signature
    f.insert(f.end(), footer, footer + sizeof footer);
}

} // namespace

Bytes MakeTarga(int width, int height, const Bytes& topDownRows, const TargaKind& kind)
{
    Bytes map, f = Start(width, height, kind, 0, map);
    const std::size_t row = static_cast<std::size_t>(width) * 3;
    for (int r = 0; r < height; ++r) {
        const auto from = topDownRows.begin() + static_cast<std::ptrdiff_t>((kind.topFirst ? r : height - 1 - r) * row);
        f.insert(f.end(), from, from + static_cast<std::ptrdiff_t>(row));
    }
    return Finish(f, kind), f;
}

std::vector<Bytes> WriteFrames(const TempDir& dir, int n, int width, int height)
{
    std::vector<Bytes> pictures;
    for (int i = 0; i < n; ++i) {
        pictures.push_back(PatternPixels(width, height, static_cast<unsigned>(i + 3)));
        char name[32];
        std::snprintf(name, sizeof name, "f%03d.tga", i);
        WriteFile(dir.file(name), MakeTarga(width, height, pictures.back()));
    }
    return pictures;
}

bool OnlyFrames(const TempDir& dir)
{
    return std::ranges::all_of(std::filesystem::directory_iterator(dir.path()),
                               [](const auto& e) { return e.path().extension() == ".tga"; });
}

Bytes BitmapRows(int width, int height, const Bytes& topDownRows, int bytesPerPixel)
{
    const std::size_t row = static_cast<std::size_t>(width) * bytesPerPixel, stride = (row + 3) / 4 * 4;
    Bytes out(stride * height, 0);
    for (int r = 0; r < height; ++r)
        std::copy_n(topDownRows.begin() + static_cast<std::ptrdiff_t>((height - 1 - r) * row), row,
                    out.begin() + static_cast<std::ptrdiff_t>(r * stride));
    return out;
}

Bytes InfoHeader(int width, int height, int bitCount, std::uint32_t sizeImage)
{
    Bytes h(40, 0);
    PutLE(h, 0, 40), PutLE(h, 4, static_cast<std::uint32_t>(width)), PutLE(h, 8, static_cast<std::uint32_t>(height));
    PutLE(h, 12, 1, 2), PutLE(h, 14, static_cast<std::uint32_t>(bitCount), 2), PutLE(h, 20, sizeImage);
    PutLE(h, 24, 2835), PutLE(h, 28, 2835);
    return h;
}

Bytes BitmapFile(const Bytes& info, const Bytes& pixels)
{
    const auto offBits = static_cast<std::uint32_t>(14 + info.size());
    Bytes f(offBits + pixels.size(), 0);
    f[0] = 'B', f[1] = 'M';
    PutLE(f, 2, static_cast<std::uint32_t>(f.size())), PutLE(f, 10, offBits);
    std::copy(pixels.begin(), pixels.end(), std::copy(info.begin(), info.end(), f.begin() + 14));
    return f;
}

Bytes BitmapFileOf(int width, int height, const Bytes& topDownRows)
{
    const Bytes rows = BitmapRows(width, height, topDownRows);
    return BitmapFile(InfoHeader(width, height, 24, static_cast<std::uint32_t>(rows.size())), rows);
}

MsgBoxRecorder::MsgBoxRecorder(int answer)
    : previous_(SetMsgBoxHandler([this, answer](const std::string& p, unsigned s, const std::string& t) {
          shown_.push_back({p, s, t});
          return answer;
      }))
{
}

MsgBoxRecorder::~MsgBoxRecorder()
{
    SetMsgBoxHandler(previous_);
}

std::string GStreamerMissing()
{
    if (std::system("command -v gst-launch-1.0 >/dev/null 2>&1 && command -v gst-inspect-1.0 >/dev/null 2>&1") != 0)
        return "gst-launch-1.0 or gst-inspect-1.0 is not installed";
    for (const char* element : {"avidemux", "decodebin", "h264parse", "avdec_h264", "avdec_mpeg4", "videoconvert"})
        if (std::system((std::string("gst-inspect-1.0 --exists ") + element).c_str()) != 0)
            return std::string("GStreamer has no ") + element + " here";
    return {};
}

bool GStreamerPlays(const std::string& path, const std::string& rest, std::string& said)
{
    const std::string log = path + ".gst.log";
    const std::string run = "timeout 120 gst-launch-1.0 -q filesrc location='" + path + "' ! avidemux name=d " + rest;
    const int rc = std::system((run + " >'" + log + "' 2>&1").c_str());
    const Bytes out = ReadFile(log);
    said.assign(out.begin(), out.end());
    return rc == 0 && said.find("ERROR") == std::string::npos;
}

int RunAsUnprivileged(const std::function<int()>& body)
{
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(250);
        ::_exit(body() & 0xFF);
    }
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

HandTarga MakeAnyTarga(int width, int height, const TargaKind& k, unsigned seed)
{
    const int pb = (k.depth + 7) / 8;
    const bool mapped = (k.type & 7) == 1, grey = (k.type & 7) == 3, rle = (k.type & 8) != 0;
    Bytes map, f = Start(width, height, k, seed, map);

    // The stored pixels in file order, and what each shows.
    const int n = width * height;
    Bytes stored, shown;
    for (int i = 0; i < n; ++i) {
        const int at = i % 400;
        const unsigned key = at < 150 ? 1000000u + static_cast<unsigned>(i / 400) : at < 300 ? static_cast<unsigned>(i / 2) : static_cast<unsigned>(i);
        std::uint8_t p[4] = {};
        for (int b = 0; b < pb; ++b)
            p[b] = Hash(seed, key * 4 + static_cast<unsigned>(b));
        std::uint8_t bgr[3];
        if (mapped) {
            const unsigned entry = (p[0] | (pb == 2 ? p[1] << 8 : 0)) % (k.mapLength ? k.mapLength : 1u);
            const unsigned index = k.mapFirst + entry;
            p[0] = static_cast<std::uint8_t>(index), p[1] = static_cast<std::uint8_t>(index >> 8);
            std::copy_n(map.begin() + entry * 3, 3, bgr);
        } else if (grey)
            bgr[0] = bgr[1] = bgr[2] = p[0];
        else
            Colour(p, pb, bgr);
        stored.insert(stored.end(), p, p + pb);
        shown.insert(shown.end(), bgr, bgr + 3);
    }

    if (!rle)
        f.insert(f.end(), stored.begin(), stored.end());
    else {
        const auto same = [&](int a, int b) { return std::equal(&stored[a * pb], &stored[a * pb] + pb, &stored[b * pb]); };
        for (int i = 0; i < n;) {
            int run = 1;
            while (i + run < n && run < 128 && same(i, i + run))
                ++run;
            if (run > 1) {
                f.push_back(static_cast<std::uint8_t>(0x80 | (run - 1)));
                f.insert(f.end(), &stored[i * pb], &stored[i * pb] + pb);
            } else {
                int raw = 1;
                while (i + raw < n && raw < 128 && !(i + raw + 1 < n && same(i + raw, i + raw + 1)))
                    ++raw;
                f.push_back(static_cast<std::uint8_t>(raw - 1));
                f.insert(f.end(), &stored[i * pb], &stored[(i + raw) * pb]);
                run = raw;
            }
            i += run;
        }
    }
    Finish(f, k);

    // Stored rows go where the origin puts them, pixels where the direction does.
    HandTarga t{std::move(f), Bytes(shown.size())};
    for (int i = 0; i < n; ++i) {
        const int row = i / width, col = i % width;
        const int r = k.topFirst ? row : height - 1 - row, c = k.rightToLeft ? width - 1 - col : col;
        std::copy_n(shown.begin() + i * 3, 3, t.picture.begin() + (r * width + c) * 3);
    }
    return t;
}

} // namespace testsupport
