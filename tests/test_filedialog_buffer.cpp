#include "FileDialogBuffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

// A buffer as the dialog leaves it: Layout written over the prepared one.
std::string Returned(const std::string& layout)
{
    std::string buffer = PreparedFileBuffer();
    buffer.replace(0, layout.size(), layout);
    return buffer;
}

} // namespace

TEST(ConvertFilter, TurnsEveryBarIntoANulAndClosesWithOne)
{
    EXPECT_EQ(ConvertFilter("Avi Files (*.avi)|*.avi"), "Avi Files (*.avi)\0*.avi\0"s);
    EXPECT_EQ(ConvertFilter("Avi (*.avi)|*.avi|All (*.*)|*.*"), "Avi (*.avi)\0*.avi\0All (*.*)\0*.*\0"s);
    EXPECT_EQ(ConvertFilter("no bars"), "no bars\0"s);
    EXPECT_EQ(ConvertFilter(""), "\0"s);
}

TEST(SplitFilter, GivesDescriptionPatternPairsInOrder)
{
    const auto entries = SplitFilter(ConvertFilter("Avi (*.avi)|*.avi|Pictures|*.bmp;*.tga"));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].description, "Avi (*.avi)");
    EXPECT_EQ(entries[0].pattern, "*.avi");
    EXPECT_EQ(entries[1].description, "Pictures");
    EXPECT_EQ(entries[1].pattern, "*.bmp;*.tga");

    // A text without "|" is a description with no pattern: no usable entry.
    EXPECT_TRUE(SplitFilter(ConvertFilter("no bars")).empty());
    EXPECT_TRUE(SplitFilter("").empty());
}

TEST(QtNameFilters, AppendThePatternUnlessTheDescriptionShowsIt)
{
    const auto names = QtNameFilters({{"Avi Files (*.avi)", "*.avi"},
                                      {"Pictures", "*.bmp;*.tga"},
                                      {"Movies (*.avi)", "*.mkv"},
                                      {"", "*"}});
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names[0], "Avi Files (*.avi)");
    EXPECT_EQ(names[1], "Pictures (*.bmp *.tga)");
    // The description claims another pattern: the real one must win.
    EXPECT_EQ(names[2], "Movies (*.avi) (*.mkv)");
    EXPECT_EQ(names[3], "(*)");
}

TEST(DefaultSuffix, DropsTheWildcardAndDot)
{
    EXPECT_EQ(DefaultSuffix("*.avi"), "avi");
    EXPECT_EQ(DefaultSuffix(".avi"), "avi");
    EXPECT_EQ(DefaultSuffix("avi"), "avi");
    EXPECT_EQ(DefaultSuffix("*.*"), "");
    EXPECT_EQ(DefaultSuffix(""), "");
}

TEST(PreparedFileBuffer, IsOneNulThenBlanks)
{
    const std::string buffer = PreparedFileBuffer();
    ASSERT_EQ(buffer.size(), 260u);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer.find_first_not_of(' ', 1), std::string::npos);
}

TEST(CountFiles, ReadsEveryLayout)
{
    EXPECT_EQ(CountFiles(""), -1) << "before any dialog";
    EXPECT_EQ(CountFiles(PreparedFileBuffer()), 0) << "cancelled";
    EXPECT_EQ(CountFiles(Returned("/home/u/movie.avi\0"s)), 0) << "single name";
    EXPECT_EQ(CountFiles(Returned("/home/u/movie.avi\0\0"s)), 1) << "one file of a multiple selection";
    EXPECT_EQ(CountFiles(Returned("/home/u\0a.avi\0b.avi\0"s + "\0"s)), 2);
    EXPECT_EQ(CountFiles(Returned("/home/u\0a.avi\0b.avi\0c.avi\0\0"s)), 3);
}

TEST(MultiFilename, JoinsTheFolderWithEachNameInBufferOrder)
{
    const std::string buffer = Returned("/home/u/frames\0c.avi\0a b.avi\0b.avi\0\0"s);
    EXPECT_EQ(MultiFilename(buffer, 1), "/home/u/frames/c.avi");
    EXPECT_EQ(MultiFilename(buffer, 2), "/home/u/frames/a b.avi");
    EXPECT_EQ(MultiFilename(buffer, 3), "/home/u/frames/b.avi");
}

TEST(MultiFilename, OneFileSelectionGivesThePathWithoutTrailingSeparator)
{
    EXPECT_EQ(MultiFilename(Returned("/home/u/movie.avi\0\0"s), 1), "/home/u/movie.avi");
}

TEST(MultiFilename, RootFolderGetsNoSecondSeparator)
{
    const std::string buffer = Returned("/\0a.avi\0b.avi\0\0"s);
    EXPECT_EQ(MultiFilename(buffer, 1), "/a.avi");
    EXPECT_EQ(MultiFilename(buffer, 2), "/b.avi");
}

TEST(MultiFilename, GivesNothingWhereThereIsNoSuchFile)
{
    const std::string three = Returned("/d\0a\0b\0c\0\0"s);
    EXPECT_EQ(MultiFilename(three, 0), "");
    EXPECT_EQ(MultiFilename(three, -1), "");
    EXPECT_EQ(MultiFilename(three, 4), "") << "the closing NUL is no file";
    EXPECT_EQ(MultiFilename(three, 5), "");
    EXPECT_EQ(MultiFilename("", 1), "") << "before any dialog";
    EXPECT_EQ(MultiFilename(PreparedFileBuffer(), 1), "") << "cancelled";
    EXPECT_EQ(MultiFilename(std::string(260, 'x'), 1), "") << "no NUL at all";
    EXPECT_EQ(MultiFilename(Returned("/home/u/movie.avi\0"s), 1), "") << "single name";
}

TEST(WriteFileBuffer, WritesEachLayoutOverThePreparedBuffer)
{
    std::string single = PreparedFileBuffer();
    ASSERT_TRUE(WriteFileBuffer(single, {"/home/u/movie.avi"}, false));
    EXPECT_EQ(single, Returned("/home/u/movie.avi\0"s));

    std::string one = PreparedFileBuffer();
    ASSERT_TRUE(WriteFileBuffer(one, {"/home/u/movie.avi"}, true));
    EXPECT_EQ(one, Returned("/home/u/movie.avi\0\0"s));

    std::string several = PreparedFileBuffer();
    ASSERT_TRUE(WriteFileBuffer(several, {"/home/u/a.avi", "/home/u/b.avi"}, true));
    EXPECT_EQ(several, Returned("/home/u\0a.avi\0b.avi\0\0"s));
    EXPECT_EQ(CountFiles(several), 2);
    EXPECT_EQ(MultiFilename(several, 2), "/home/u/b.avi");

    std::string root = PreparedFileBuffer();
    ASSERT_TRUE(WriteFileBuffer(root, {"/a.avi", "/b.avi"}, true));
    EXPECT_EQ(root, Returned("/\0a.avi\0b.avi\0\0"s));
}

TEST(WriteFileBuffer, RefusesWhatTheLayoutCannotHoldAndKeepsTheBuffer)
{
    const std::string prepared = PreparedFileBuffer();

    // 258 characters and the NUL fit; one more does not.
    std::string fits = prepared;
    EXPECT_TRUE(WriteFileBuffer(fits, {"/" + std::string(258, 'n')}, false));
    EXPECT_EQ(fits.size(), 260u);
    std::string tooLong = prepared;
    EXPECT_FALSE(WriteFileBuffer(tooLong, {"/" + std::string(259, 'n')}, false));
    EXPECT_EQ(tooLong, prepared);

    std::string manyNames = prepared;
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i)
        names.push_back("/home/u/frame" + std::to_string(1000 + i) + ".tga");
    EXPECT_FALSE(WriteFileBuffer(manyNames, names, true));
    EXPECT_EQ(manyNames, prepared);
    EXPECT_EQ(CountFiles(manyNames), 0);

    std::string twoFolders = prepared;
    EXPECT_FALSE(WriteFileBuffer(twoFolders, {"/a/x.avi", "/b/y.avi"}, true));
    EXPECT_EQ(twoFolders, prepared);

    std::string severalInSingle = prepared;
    EXPECT_FALSE(WriteFileBuffer(severalInSingle, {"/a/x.avi", "/a/y.avi"}, false));
    EXPECT_EQ(severalInSingle, prepared);

    std::string none = prepared;
    EXPECT_FALSE(WriteFileBuffer(none, {}, false));
    EXPECT_EQ(none, prepared);
}

TEST(NameBeforeNul, CutsAtTheFirstNul)
{
    EXPECT_EQ(NameBeforeNul(Returned("/home/u/movie.avi\0"s)), "/home/u/movie.avi");
    EXPECT_EQ(NameBeforeNul(PreparedFileBuffer()), "");
    EXPECT_EQ(NameBeforeNul("no nul here"), "");
    EXPECT_EQ(NameBeforeNul(""), "");
}
