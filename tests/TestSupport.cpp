#include "TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <sys/wait.h>
#include <sys/mount.h>
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
    std::error_code ec;
    // Permission tests may have locked parts of the tree.
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
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
    Bytes f(18, 0);
    f[0] = o.idLength;
    f[1] = o.colorMapLength ? 1 : 0;
    f[2] = o.imageType;
    f[5] = static_cast<std::uint8_t>(o.colorMapLength);
    f[6] = static_cast<std::uint8_t>(o.colorMapLength >> 8);
    f[7] = o.colorMapLength ? 24 : 0;
    f[12] = static_cast<std::uint8_t>(width);
    f[13] = static_cast<std::uint8_t>(width >> 8);
    f[14] = static_cast<std::uint8_t>(height);
    f[15] = static_cast<std::uint8_t>(height >> 8);
    f[16] = o.depth;
    f[17] = o.topFirst ? 0x20 : 0x00;
    for (int i = 0; i < o.idLength; ++i)
        f.push_back(static_cast<std::uint8_t>('A' + i % 26));
    for (int i = 0; i < o.colorMapLength * 3; ++i)
        f.push_back(static_cast<std::uint8_t>(0xC0 ^ i));
    const std::size_t row = static_cast<std::size_t>(width) * 3;
    for (int r = 0; r < height; ++r) {
        const int src = o.topFirst ? r : height - 1 - r;
        f.insert(f.end(), topDownRows.begin() + static_cast<std::ptrdiff_t>(src * row),
                 topDownRows.begin() + static_cast<std::ptrdiff_t>((src + 1) * row));
    }
    if (o.tga2Footer) {
        const char footer[] = "\0\0\0\0\0\0\0\0TRUEVISION-XFILE.";
        f.insert(f.end(), footer, footer + sizeof footer); // includes the final NUL
    }
    return f;
}

Bytes BitmapRows(int width, int height, const Bytes& topDownRows, int bytesPerPixel)
{
    const std::size_t row = static_cast<std::size_t>(width) * bytesPerPixel;
    const std::size_t stride = (row + 3) / 4 * 4;
    Bytes out(stride * height, 0);
    for (int r = 0; r < height; ++r)
        std::copy_n(topDownRows.begin() + static_cast<std::ptrdiff_t>((height - 1 - r) * row), row,
                    out.begin() + static_cast<std::ptrdiff_t>(r * stride));
    return out;
}

MsgBoxRecorder::MsgBoxRecorder(int answer) : MsgBoxRecorder([answer](const Shown&) { return answer; }) {}

MsgBoxRecorder::MsgBoxRecorder(std::function<int(const Shown&)> answer)
{
    previous_ = SetMsgBoxHandler([this, answer](const std::string& p, unsigned s, const std::string& t) {
        shown_.push_back({p, s, t});
        return answer(shown_.back());
    });
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
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

} // namespace testsupport
