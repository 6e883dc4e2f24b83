#include "common/PageFile.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

using quill::kResultPageSkip;
using quill::ReadPageFile;
using quill::test::TempDir;
using quill::test::WriteBytes;

class PageFileTest : public ::testing::Test {
protected:
    std::string read(std::string_view bytes, std::int64_t skip = 0) {
        WriteBytes(dir / "page.htm", bytes);
        return ReadPageFile(dir / "page.htm", skip);
    }
    TempDir dir;
};

TEST_F(PageFileTest, EveryLineEndsInCrLfWhateverTheFileUsed) {
    EXPECT_EQ(read("a\nb\n"), "a\r\nb\r\n");
    EXPECT_EQ(read("a\r\nb\r\n"), "a\r\nb\r\n");
    EXPECT_EQ(read("a\nb"), "a\r\nb\r\n") << "the last line needs no line end";
    EXPECT_EQ(read("a\n\nb"), "a\r\n\r\nb\r\n") << "empty lines are kept";
    EXPECT_EQ(read("a\rb\n"), "a\rb\r\n") << "a lone CR is not a line end";
}

TEST_F(PageFileTest, EmptyAndMissingFilesGiveAnEmptyText) {
    EXPECT_EQ(read(""), "");
    EXPECT_EQ(ReadPageFile(dir / "missing.htm"), "");
    EXPECT_EQ(ReadPageFile(dir.path()), "") << "a folder is not a page file";
}

TEST_F(PageFileTest, NulAndHighBytesPassThroughUnchanged) {
    const std::string bytes("x\0y\xff\xfe\n\x80", 7);
    EXPECT_EQ(read(bytes), std::string("x\0y\xff\xfe\r\n\x80\r\n", 10));
}

TEST_F(PageFileTest, SkipDropsWholeFilesUpToTheSkipCount) {
    EXPECT_EQ(read(std::string(kResultPageSkip, 'x'), kResultPageSkip), "");
    EXPECT_EQ(read(std::string(kResultPageSkip - 1, 'x'), kResultPageSkip), "");
    std::string lines;
    while (lines.size() < static_cast<std::size_t>(kResultPageSkip)) {
        lines += "short line\r\n";
    }
    lines.resize(kResultPageSkip);
    EXPECT_EQ(read(lines, kResultPageSkip), "") << "line ends count as characters";
}

TEST_F(PageFileTest, SkipKeepsTheRestOfTheLineWhereItEnded) {
    std::string oneLine(kResultPageSkip, 'a');
    oneLine += "TAIL";
    EXPECT_EQ(read(oneLine, kResultPageSkip), "TAIL\r\n");
    EXPECT_EQ(read(oneLine + "\r\n", kResultPageSkip), "TAIL\r\n");
}

TEST_F(PageFileTest, SkipRepeatsBeforeEveryFurtherLine) {
    std::string bytes(kResultPageSkip - 6, 'p');
    bytes += "\nFIRSTone\n";  // the skip ends just after "FIRST"
    bytes += std::string(kResultPageSkip, 'q');
    bytes += "SECOND\nshort\n";
    // Before "short" another 125,666 bytes would be skipped, past the end.
    EXPECT_EQ(read(bytes, kResultPageSkip), "one\r\nSECOND\r\n");
}

TEST_F(PageFileTest, SkipEndingBetweenCrAndLfGivesAnEmptyLine) {
    std::string bytes(kResultPageSkip - 1, 'z');
    bytes += "\r\nnext\n";
    // The skip ends just after the CR: what is left of that line is empty.
    EXPECT_EQ(read(bytes, kResultPageSkip), "\r\n");
}
