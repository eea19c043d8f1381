#include "FileListBox.h"
#include "TestSupport.h"
#include "mdFile.h"

#include <gtest/gtest.h>

using namespace testsupport;

TEST(FileListBox, ListsOnlyTargaFilesInCaseBlindOrderAndGetNextWalksPastTheEnd)
{
    TempDir dir;
    for (const char* name : {"clip2.tga", "Clip10.tga", "b.TGA", "a.Tga", "notes.txt", "x.tga.bmp", "tga", "c.tgax"})
        WriteFile(dir.file(name), {});
    std::filesystem::create_directory(dir.file("dir.tga"));
    FileListBox fle;
    fle.SetPath(dir.path().string() + "/");
    std::vector<std::string> walked;
    std::int64_t index = 0;
    for (int i = 0; i < 6; ++i)
        walked.push_back(GetNext(fle, index));
    EXPECT_EQ(walked, (std::vector<std::string>{"a.Tga", "b.TGA", "Clip10.tga", "clip2.tga", "", ""}));
    EXPECT_EQ(std::tuple(index, fle.Path(), fle.ListError()), std::tuple(6, dir.path().string(), ""));
    fle.SetPath(dir.file("missing"));
    EXPECT_EQ(fle.ListCount(), 0);
    EXPECT_FALSE(fle.ListError().empty());

    // Frame numbers used to be counted in 16 bits.
    for (int i = 0; i < 33000; ++i)
        WriteFile(dir.file("shot" + std::to_string(100000 + i).substr(1) + ".tga"), {});
    fle.SetPath(dir.path().string());
    index = 4 + 32767;
    EXPECT_EQ(GetNext(fle, index), "shot32767.tga");
}

TEST(mdFile, ExtensionsExistenceAndJoinedPaths)
{
    const std::pair<const char*, const char*> extensions[] = {
        {"D:\\frames\\f0001.tga.bmp", "bmp"}, {"/frames/f0001.tga.bmp", "bmp"}, {"f.BMP", "bmp"},
        {".hidden", "hidden"}, {"D:\\my.dir\\file", ""}, {"/my.dir/file", ""}, {"C:name", ""}, {"name.", ""},
        {"noext", ""}, {"", ""}};
    for (const auto& [path, extension] : extensions)
        EXPECT_EQ(GetExtension(path), extension) << path;
    TempDir dir;
    WriteFile(dir.file("there.avi"), {});
    EXPECT_TRUE(FileExist(dir.file("there.avi")));
    for (const std::string& absent : {dir.file("missing.avi"), dir.file("a/b.avi"), dir.path().string(), std::string()})
        EXPECT_FALSE(FileExist(absent)) << absent;
    EXPECT_EQ(std::tuple(JoinPath("/a", "b"), JoinPath("/", "b")), std::tuple("/a/b", "/b"));
}
