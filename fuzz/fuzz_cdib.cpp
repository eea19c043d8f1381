// SPDX-License-Identifier: GPL-2.0-or-later
// cDIB::CreateFromFile and the window's direct bitmap read on arbitrary
// bytes. A FileError (or a declined read) is the documented refusal; a
// crash, leak, undefined behaviour or an allocation out of proportion to the
// file is a bug.
#include "BitmapFile.h"
#include "FileError.h"
#include "FuzzSupport.h"
#include "cDIB.h"

#include <cstring>
#include <vector>

namespace {

std::int32_t I32(const std::uint8_t* p)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                                     (static_cast<std::uint32_t>(p[2]) << 16) |
                                     (static_cast<std::uint32_t>(p[3]) << 24));
}

// A read that accepts the file hands out exactly its rows, bottom row of the
// file first, and never asks for more room than the file holds.
void CheckDirectRead(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> rows;
    std::int32_t width = 0, height = 0;
    std::size_t stride = 0;
    const bool read = ReadBMPRows(path, [&](std::int32_t w, std::int32_t h, std::size_t s) {
        FUZZ_CHECK(w > 0 && h > 0 && s >= static_cast<std::size_t>(w) * 3);
        FUZZ_CHECK(s * static_cast<std::size_t>(h) <= size);
        width = w, height = h, stride = s;
        rows.assign(s * static_cast<std::size_t>(h), 0xA5);
        return rows.data();
    });
    if (!read)
        return;
    FUZZ_CHECK(width == I32(data + 18) && height == I32(data + 22));
    const std::size_t offBits = static_cast<std::uint32_t>(I32(data + 10));
    for (std::int32_t y = 0; y < height; ++y) {
        const std::size_t fileRow = offBits + static_cast<std::size_t>(height - 1 - y) * stride;
        FUZZ_CHECK(std::memcmp(rows.data() + static_cast<std::size_t>(y) * stride, data + fileRow,
                               static_cast<std::size_t>(width) * 3) == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static fuzz::ScratchFiles scratch{{fuzz::ScratchPath(".bmp")}};
    const std::string& path = scratch.paths[0];
    fuzz::WriteFile(path, data, size);
    CheckDirectRead(path, data, size);

    cDIB dib;
    Notice why;
    bool loaded = false;
    try {
        loaded = dib.CreateFromFile(path, why);
    } catch (const FileError&) {
        return 0;
    }
    if (!loaded) {
        // Only a file that does not start with "BM" is refused this way here,
        // and the report says so.
        FUZZ_CHECK(size < 2 || data[0] != 'B' || data[1] != 'M');
        FUZZ_CHECK(why.text == "File is not a supported bitmap format:\r\n" + path &&
                   why.style == (vbInformation | vbOKOnly) && why.title == "Reelcast");
        return 0;
    }
    FUZZ_CHECK(why.text.empty());

    // Everything the object hands out lies inside the file.
    FUZZ_CHECK(size >= 14);
    const std::int64_t offBits = I32(data + 10);
    FUZZ_CHECK(dib.BitOffset() == offBits);
    FUZZ_CHECK(dib.SizeImage() > 0 && dib.SizeBitmapInfo() > 0);
    FUZZ_CHECK(dib.SizeBitmapInfo() == offBits - 14);
    FUZZ_CHECK(offBits + dib.SizeImage() <= static_cast<std::int64_t>(size));
    FUZZ_CHECK(std::memcmp(dib.PointerToBits(), data + offBits, static_cast<std::size_t>(dib.SizeImage())) == 0);
    FUZZ_CHECK(std::memcmp(dib.PointerToBitmapInfo(), data + 14, static_cast<std::size_t>(dib.SizeBitmapInfo())) == 0);

    return 0;
}
