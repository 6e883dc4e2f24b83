#include "common/FileWrite.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using quill::test::ReadBytes;
using quill::test::TempDir;
using quill::test::WriteBytes;

TEST(FileWrite, ReplacesTheFileWithExactlyTheBytesGiven) {
    TempDir dir;
    WriteBytes(dir / "a.html", "old content that is longer");
    ASSERT_TRUE(quill::WriteFileReplacing(dir / "a.html", std::string("new\r\n\0", 6)));
    EXPECT_EQ(ReadBytes(dir / "a.html"), std::string("new\r\n\0", 6));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
        << "no temp file is left behind";
}

TEST(FileWrite, FailureLeavesTheOldFileAndSaysWhy) {
    TempDir dir;
    const auto result = quill::WriteFileReplacing(dir / "no-such-folder" / "a.html", "x");
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().find("no-such-folder"), std::string::npos);

    // A folder in the way makes the final rename fail, for root too.
    std::filesystem::create_directories(dir / "taken.html" / "inside");
    WriteBytes(dir / "taken.html" / "inside" / "keep", "good");
    EXPECT_FALSE(quill::WriteFileReplacing(dir / "taken.html", "broken"));
    EXPECT_EQ(ReadBytes(dir / "taken.html" / "inside" / "keep"), "good");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
        << "the temp file is removed after a failure";
}

TEST(FileWrite, NameAtTheLengthLimitCanBeWritten) {
    TempDir dir;
    const std::string name(255, 'n');
    ASSERT_TRUE(quill::WriteFileReplacing(dir / name, "x"));
    EXPECT_EQ(ReadBytes(dir / name), "x");
}

TEST(FileWrite, ModeIsApplied) {
    TempDir dir;
    ASSERT_TRUE(quill::WriteFileReplacing(dir / "secret.ftp", "pass=x", 0600));
    struct stat st {};
    ASSERT_EQ(::stat((dir / "secret.ftp").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(FileWrite, AppendCreatesThenAppends) {
    TempDir dir;
    ASSERT_TRUE(quill::AppendToFile(dir / "all.html", "one\r\n\r\n"));
    ASSERT_TRUE(quill::AppendToFile(dir / "all.html", "two\r\n\r\n"));
    EXPECT_EQ(ReadBytes(dir / "all.html"), "one\r\n\r\ntwo\r\n\r\n");
    EXPECT_FALSE(quill::AppendToFile(dir / "missing" / "all.html", "x"));
}
