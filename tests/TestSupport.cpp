#include "TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <sys/mount.h>
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
    std::size_t i = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                px[i++] = static_cast<std::uint8_t>((x * 7 + y * 13 + c * 85 + seed * 31 + (x * y) % 11) & 0xFF);
    return px;
}

Bytes MakeTarga(int width, int height, const Bytes& topDownRows, const TargaOptions& o)
{
    const int cmap = o.colorMapLength;
    Bytes f{o.idLength, static_cast<std::uint8_t>(cmap ? 1 : 0), 2, 0, 0, static_cast<std::uint8_t>(cmap),
            static_cast<std::uint8_t>(cmap >> 8), static_cast<std::uint8_t>(cmap ? 24 : 0), 0, 0, 0, 0,
            static_cast<std::uint8_t>(width), static_cast<std::uint8_t>(width >> 8), static_cast<std::uint8_t>(height),
            static_cast<std::uint8_t>(height >> 8), 24, static_cast<std::uint8_t>(o.topFirst ? 0x20 : 0x00)};
    for (int i = 0; i < o.idLength; ++i)
        f.push_back(static_cast<std::uint8_t>('A' + i % 26));
    for (int i = 0; i < cmap * 3; ++i)
        f.push_back(static_cast<std::uint8_t>(0xC0 ^ i));
    const std::size_t row = static_cast<std::size_t>(width) * 3;
    for (int r = 0; r < height; ++r) {
        const auto from = topDownRows.begin() + static_cast<std::ptrdiff_t>((o.topFirst ? r : height - 1 - r) * row);
        f.insert(f.end(), from, from + static_cast<std::ptrdiff_t>(row));
    }
    if (o.tga2Footer) {
        const char footer[] = "\0\0\0\0\0\0\0\0TRUEVISION-XFILE.";
        f.insert(f.end(), footer, footer + sizeof footer); // includes the final NUL
    }
    return f;
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
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        if (e.path().extension() != ".tga")
            return false;
    return true;
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

namespace {

void PutLE(Bytes& b, std::size_t at, std::uint32_t v, int bytes = 4)
{
    for (int i = 0; i < bytes; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

} // namespace

Bytes InfoHeader(int width, int height, int bitCount, std::uint32_t sizeImage, std::uint32_t clrUsed)
{
    Bytes h(40, 0);
    PutLE(h, 0, 40), PutLE(h, 4, static_cast<std::uint32_t>(width)), PutLE(h, 8, static_cast<std::uint32_t>(height));
    PutLE(h, 12, 1, 2), PutLE(h, 14, static_cast<std::uint32_t>(bitCount), 2), PutLE(h, 20, sizeImage);
    PutLE(h, 24, 2835), PutLE(h, 28, 2835), PutLE(h, 32, clrUsed);
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

ReadOnlyView::ReadOnlyView(const std::filesystem::path& directory)
{
    const char* at = mountPoint_.path().c_str();
    if (::mount(directory.c_str(), at, nullptr, MS_BIND, nullptr) != 0)
        return;
    ok_ = ::mount(nullptr, at, nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    if (!ok_)
        ::umount(at);
}

ReadOnlyView::~ReadOnlyView()
{
    if (ok_)
        ::umount(mountPoint_.path().c_str());
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

} // namespace testsupport
