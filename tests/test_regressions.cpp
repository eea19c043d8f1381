// Every input that ever made a fuzz target fail, fed again to its routines.
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
#include <filesystem>

namespace fs = std::filesystem;
using testsupport::Bytes;

TEST(Regressions, BitmapInputsAreLoadedWithinTheFileOrRefused)
{
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(fs::path(REELCAST_TEST_DATA) / "regress" / "fuzz_cdib"))
        files.push_back(entry.path());
    ASSERT_FALSE(files.empty());
    for (const auto& file : files) {
        SCOPED_TRACE(file.string());
        const Bytes bytes = testsupport::ReadFile(file.string());
        std::uint32_t offBits = 0;
        for (std::size_t i = 14; i-- > 10;)
            offBits = offBits << 8 | (i < bytes.size() ? bytes[i] : 0u);

        // The window's direct read: declined, or exactly the file's rows,
        // bottom row of the file first, in no more room than the file.
        Bytes rows;
        std::size_t height = 0, stride = 0;
        if (ReadBMPRows(file.string(), [&](std::int32_t w, std::int32_t h, std::size_t s) {
                height = static_cast<std::size_t>(h), stride = s;
                EXPECT_GE(stride, static_cast<std::size_t>(w) * 3);
                EXPECT_LE(stride * height, bytes.size());
                rows.assign(stride * height, 0);
                return rows.data();
            })) {
            for (std::size_t y = 0; y < height; ++y)
                ASSERT_TRUE(std::equal(rows.begin() + y * stride, rows.begin() + (y + 1) * stride,
                                       bytes.begin() + offBits + (height - 1 - y) * stride)) << "row " << y;
        }

        testsupport::MsgBoxRecorder boxes;
        cDIB dib;
        bool loaded = false, refused = false;
        try {
            loaded = dib.CreateFromFile(file.string());
        } catch (const FileError& e) {
            refused = true;
            EXPECT_EQ(e.path(), file.string());
        }
        const bool mustBeRefused = file.filename().string().rfind("refused_", 0) == 0;
        EXPECT_TRUE(refused || !mustBeRefused);
        if (refused)
            continue;
        if (!loaded) { // passed over only when the file is not a bitmap at all
            EXPECT_FALSE(bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M');
            EXPECT_EQ(boxes.shown().size(), 1u);
            continue;
        }
        ASSERT_GT(dib.SizeImage(), 0);
        ASSERT_LE(std::int64_t(offBits) + dib.SizeImage(), std::int64_t(bytes.size()));
        ASSERT_EQ(dib.SizeBitmapInfo(), std::int64_t(offBits) - 14);
        EXPECT_EQ(Bytes(dib.PointerToBits(), dib.PointerToBits() + dib.SizeImage()),
                  Bytes(bytes.begin() + offBits, bytes.begin() + offBits + dib.SizeImage()));
    }
}
