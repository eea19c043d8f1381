// Every input that ever made a fuzz target fail, fed again to its routine.
// The inputs live in tests/data/regress/<target>/; a file whose name starts
// with "refused_" must be refused with a FileError, any other must give the
// outcome that holds for every input: decoded with sizes inside the file,
// passed over, or refused with a FileError.
#include "FileError.h"
#include "TGA.h"
#include "TestSupport.h"
#include "cDIB.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using testsupport::Bytes;

namespace {

std::vector<fs::path> Inputs(const std::string& target)
{
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(fs::path(REELCAST_TEST_DATA) / "regress" / target))
        if (entry.is_regular_file())
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

bool MustBeRefused(const fs::path& file)
{
    return file.filename().string().rfind("refused_", 0) == 0;
}

std::int64_t I32(const Bytes& b, std::size_t at)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | (at + i < b.size() ? b[at + i] : 0u);
    return static_cast<std::int32_t>(v);
}

// The window's direct read of the same input: declined, or exactly the
// file's rows, bottom row of the file first, in no more room than the file.
void ExpectDirectReadWithinTheFile(const fs::path& file, const Bytes& bytes)
{
    Bytes rows;
    std::int64_t height = 0, stride = 0;
    const bool read = ReadBMPRows(file.string(), [&](std::int32_t w, std::int32_t h, std::size_t s) {
        height = h, stride = static_cast<std::int64_t>(s);
        EXPECT_GE(stride, static_cast<std::int64_t>(w) * 3);
        EXPECT_LE(stride * height, static_cast<std::int64_t>(bytes.size()));
        rows.assign(s * static_cast<std::size_t>(h), 0);
        return rows.data();
    });
    if (!read)
        return;
    const std::int64_t offBits = static_cast<std::uint32_t>(I32(bytes, 10));
    for (std::int64_t y = 0; y < height; ++y)
        ASSERT_TRUE(std::equal(rows.begin() + y * stride, rows.begin() + (y + 1) * stride,
                               bytes.begin() + offBits + (height - 1 - y) * stride))
            << "row " << y;
}

} // namespace

TEST(Regressions, BitmapInputsAreLoadedWithinTheFileOrRefused)
{
    const auto files = Inputs("fuzz_cdib");
    ASSERT_FALSE(files.empty());
    for (const auto& file : files) {
        SCOPED_TRACE(file.string());
        const Bytes bytes = testsupport::ReadFile(file.string());
        ExpectDirectReadWithinTheFile(file, bytes);
        testsupport::MsgBoxRecorder boxes;
        cDIB dib;
        bool loaded = false;
        bool refused = false;
        try {
            loaded = dib.CreateFromFile(file.string());
        } catch (const FileError& e) {
            refused = true;
            EXPECT_EQ(e.path(), file.string());
        }
        if (MustBeRefused(file)) {
            EXPECT_TRUE(refused);
            continue;
        }
        if (refused)
            continue;
        if (!loaded) {
            // Passed over only when the file is not a bitmap at all.
            EXPECT_FALSE(bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M');
            EXPECT_EQ(boxes.shown().size(), 1u);
            continue;
        }
        const std::int64_t offBits = I32(bytes, 10);
        ASSERT_GT(dib.SizeImage(), 0);
        ASSERT_LE(offBits + dib.SizeImage(), static_cast<std::int64_t>(bytes.size()));
        ASSERT_EQ(dib.SizeBitmapInfo(), offBits - 14);
        EXPECT_EQ(std::memcmp(dib.PointerToBits(), bytes.data() + offBits, static_cast<std::size_t>(dib.SizeImage())),
                  0);
    }
}
