#include "FileListBox.h"
#include "TestSupport.h"
#include "mdFile.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace testsupport;

namespace {
void Touch(const std::string& path)
{
    WriteFile(path, Bytes{0});
}
} // namespace

TEST(FileListBox, ListsTargaFilesInCaseBlindNameOrder)
{
    TempDir dir;
    for (const char* name : {"clip2.tga", "Clip10.tga", "b.TGA", "a.Tga", "notes.txt", "x.tga.bmp", "tga", "c.tgax"})
        Touch(dir.file(name));
    std::filesystem::create_directory(dir.file("dir.tga"));

    FileListBox fle;
    EXPECT_EQ(fle.Pattern(), "*.tga");
    fle.SetPath(dir.path().string() + "/");
    EXPECT_EQ(fle.Path(), dir.path().string());
    ASSERT_EQ(fle.ListCount(), 4);
    EXPECT_EQ(fle.List(0), "a.Tga");
    EXPECT_EQ(fle.List(1), "b.TGA");
    EXPECT_EQ(fle.List(2), "Clip10.tga");
    EXPECT_EQ(fle.List(3), "clip2.tga");
    EXPECT_EQ(fle.List(4), "");
    EXPECT_TRUE(fle.ListError().empty());
}

TEST(FileListBox, GetNextWalksTheListThenGivesEmptyNames)
{
    TempDir dir;
    Touch(dir.file("f1.tga"));
    Touch(dir.file("f0.tga"));
    FileListBox fle;
    fle.SetPath(dir.path().string());
    std::int64_t index = 0;
    EXPECT_EQ(GetNext(fle, index), "f0.tga");
    EXPECT_EQ(GetNext(fle, index), "f1.tga");
    EXPECT_EQ(GetNext(fle, index), "");
    EXPECT_EQ(GetNext(fle, index), "");
    EXPECT_EQ(index, 4);

    FileListBox empty;
    empty.SetPath(dir.file("missing"));
    EXPECT_EQ(empty.ListCount(), 0);
    EXPECT_FALSE(empty.ListError().empty());
    index = 0;
    EXPECT_EQ(GetNext(empty, index), "");
}

TEST(FileListBox, HoldsMoreThan32767Names)
{
    TempDir dir;
    const int n = 33000;
    char name[32];
    for (int i = n - 1; i >= 0; --i) {
        std::snprintf(name, sizeof name, "shot%05d.tga", i);
        std::FILE* f = std::fopen(dir.file(name).c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    FileListBox fle;
    fle.SetPath(dir.path().string());
    ASSERT_EQ(fle.ListCount(), n);
    std::int64_t index = 32767;
    EXPECT_EQ(GetNext(fle, index), "shot32767.tga");
    index = n - 1;
    EXPECT_EQ(GetNext(fle, index), "shot32999.tga");
    EXPECT_EQ(GetNext(fle, index), "");
}

TEST(GetExtension, BothSeparatorStylesAndEdgeCases)
{
    EXPECT_EQ(GetExtension("D:\\frames\\f0001.tga.bmp"), "bmp");
    EXPECT_EQ(GetExtension("/frames/f0001.tga.bmp"), "bmp");
    EXPECT_EQ(GetExtension("f.BMP"), "bmp");
    EXPECT_EQ(GetExtension("D:\\my.dir\\file"), "");
    EXPECT_EQ(GetExtension("/my.dir/file"), "");
    EXPECT_EQ(GetExtension("name."), "");
    EXPECT_EQ(GetExtension("C:name"), "");
    EXPECT_EQ(GetExtension(""), "");
    EXPECT_EQ(GetExtension("noext"), "");
    EXPECT_EQ(GetExtension(".hidden"), "hidden");
}

TEST(FileExist, FilesOnlyAndNoErrors)
{
    TempDir dir;
    Touch(dir.file("there.avi"));
    EXPECT_TRUE(FileExist(dir.file("there.avi")));
    EXPECT_FALSE(FileExist(dir.file("missing.avi")));
    EXPECT_FALSE(FileExist(dir.file("no/such/dir/x.avi")));
    EXPECT_FALSE(FileExist(dir.path().string()));
    EXPECT_FALSE(FileExist(""));
    EXPECT_EQ(JoinPath("/a", "b"), "/a/b");
    EXPECT_EQ(JoinPath("/", "b"), "/b");
}
