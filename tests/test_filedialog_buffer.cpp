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

TEST(FilterText, BarsBecomeNulsAndSplitIntoEntriesShownWithTheirPatterns)
{
    EXPECT_EQ(ConvertFilter("Avi (*.avi)|*.avi|All (*.*)|*.*"), "Avi (*.avi)\0*.avi\0All (*.*)\0*.*\0"s);
    EXPECT_EQ(ConvertFilter("no bars"), "no bars\0"s);
    EXPECT_EQ(ConvertFilter(""), "\0"s);

    const auto entries = SplitFilter(ConvertFilter("Avi (*.avi)|*.avi|Pictures|*.bmp;*.tga"));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].description + "|" + entries[0].pattern, "Avi (*.avi)|*.avi");
    EXPECT_EQ(entries[1].description + "|" + entries[1].pattern, "Pictures|*.bmp;*.tga");
    // A text without "|" is a description with no pattern: no usable entry.
    EXPECT_TRUE(SplitFilter(ConvertFilter("no bars")).empty());
    EXPECT_TRUE(SplitFilter("").empty());

    // The pattern is appended unless the description shows it; a description
    // claiming another pattern does not hide the real one.
    EXPECT_EQ(QtNameFilters({{"Avi Files (*.avi)", "*.avi"}, {"Pictures", "*.bmp;*.tga"}, {"Movies (*.avi)", "*.mkv"},
                             {"", "*"}}),
              (std::vector<std::string>{"Avi Files (*.avi)", "Pictures (*.bmp *.tga)", "Movies (*.avi) (*.mkv)", "(*)"}));

    for (auto [extension, suffix] : {std::pair{"*.avi", "avi"}, {".avi", "avi"}, {"avi", "avi"}, {"*.*", ""}, {"", ""}})
        EXPECT_EQ(DefaultSuffix(extension), suffix) << extension;
}

TEST(FileBuffer, EveryLayoutIsCountedAndItsNamesRead)
{
    const std::string prepared = PreparedFileBuffer();
    ASSERT_EQ(prepared.size(), 260u);
    EXPECT_EQ(prepared, "\0"s + std::string(259, ' '));

    const struct {
        std::string buffer;
        int count;
        std::string name1;
    } layouts[] = {
        {"", -1, ""},                              // before any dialog
        {prepared, 0, ""},                         // cancelled
        {Returned("/home/u/movie.avi\0"s), 0, ""}, // single name
        {Returned("/home/u/movie.avi\0\0"s), 1, "/home/u/movie.avi"},
        {Returned("/home/u\0a.avi\0b.avi\0\0"s), 2, "/home/u/a.avi"},
        {Returned("/\0a.avi\0b.avi\0c.avi\0\0"s), 3, "/a.avi"}, // the root gets no second separator
    };
    for (const auto& l : layouts) {
        SCOPED_TRACE(l.buffer.substr(0, 20));
        EXPECT_EQ(CountFiles(l.buffer), l.count);
        EXPECT_EQ(MultiFilename(l.buffer, 1), l.name1);
    }

    const std::string three = Returned("/home/u/frames\0c.avi\0a b.avi\0b.avi\0\0"s);
    EXPECT_EQ(MultiFilename(three, 2), "/home/u/frames/a b.avi") << "in buffer order";
    EXPECT_EQ(MultiFilename(three, 3), "/home/u/frames/b.avi");
    EXPECT_EQ(MultiFilename(std::string(260, 'x'), 1), "") << "no NUL at all";
    for (int index : {0, -1, 4, 5}) // 4: the closing NUL is no file
        EXPECT_EQ(MultiFilename(three, index), "") << index;

    EXPECT_EQ(NameBeforeNul(Returned("/home/u/movie.avi\0"s)), "/home/u/movie.avi");
    for (const std::string& noName : {prepared, "no nul here"s, ""s})
        EXPECT_EQ(NameBeforeNul(noName), "");
}

TEST(WriteFileBuffer, WritesEachLayoutOverThePreparedBufferOrRefusesAndKeepsIt)
{
    const std::string prepared = PreparedFileBuffer();
    const struct {
        std::vector<std::string> names;
        bool multiselect;
        std::string layout;
    } written[] = {
        {{"/home/u/movie.avi"}, false, "/home/u/movie.avi\0"s},
        {{"/home/u/movie.avi"}, true, "/home/u/movie.avi\0\0"s},
        {{"/home/u/a.avi", "/home/u/b.avi"}, true, "/home/u\0a.avi\0b.avi\0\0"s},
        {{"/a.avi", "/b.avi"}, true, "/\0a.avi\0b.avi\0\0"s},
        {{std::string("/").append(258, 'n')}, false, std::string("/").append(258, 'n') + "\0"s}, // just fits
    };
    for (const auto& w : written) {
        std::string buffer = prepared;
        EXPECT_TRUE(WriteFileBuffer(buffer, w.names, w.multiselect)) << w.names[0];
        EXPECT_EQ(buffer, Returned(w.layout)) << w.names[0];
    }

    std::vector<std::string> many;
    for (int i = 0; i < 40; ++i)
        many.push_back("/home/u/frame" + std::to_string(1000 + i) + ".tga");
    const struct {
        const char* what;
        std::vector<std::string> names;
        bool multiselect;
    } refused[] = {
        {"name too long", {std::string("/").append(259, 'n')}, false}, // append: GCC 12 warns falsely (-Wrestrict) on "/" + string at -O3
        {"names too long together", many, true},
        {"two folders", {"/a/x.avi", "/b/y.avi"}, true},
        {"several in a single selection", {"/a/x.avi", "/a/y.avi"}, false},
        {"none", {}, false},
    };
    for (const auto& r : refused) {
        std::string buffer = prepared;
        EXPECT_FALSE(WriteFileBuffer(buffer, r.names, r.multiselect)) << r.what;
        EXPECT_EQ(buffer, prepared) << r.what;
    }
}
