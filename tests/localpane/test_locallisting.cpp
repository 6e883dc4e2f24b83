#include "localpane/LocalListing.h"

#include "support/TestFiles.h"

#include <QDateTime>
#include <QLocale>

#include <gtest/gtest.h>

#include <chrono>

#include <unistd.h>

using namespace quill;
using quill::test::TempDir;
using quill::test::WriteBytes;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> Strings(std::initializer_list<const char*> items) {
    return {items.begin(), items.end()};
}

std::vector<std::string> Names(const std::vector<FileListRow>& rows) {
    std::vector<std::string> names;
    for (const FileListRow& row : rows) {
        names.push_back(row.name);
    }
    return names;
}

// Sets a file's modification time to a whole second and returns it.
std::int64_t SetTime(const fs::path& path, std::int64_t secondsSinceEpoch) {
    const std::chrono::sys_seconds when{std::chrono::seconds(secondsSinceEpoch)};
    fs::last_write_time(path, std::chrono::file_clock::from_sys(when));
    return secondsSinceEpoch;
}

}  // namespace

TEST(LocalPath, AlwaysEndsInOneSlash) {
    EXPECT_EQ(LocalPathOf("/"), "/") << "the root never gives //";
    EXPECT_EQ(LocalPathOf("//"), "/");
    EXPECT_EQ(LocalPathOf("/srv/www"), "/srv/www/");
    EXPECT_EQ(LocalPathOf("/srv/www/"), "/srv/www/");
    EXPECT_EQ(LocalPathOf("/srv//www/./a/.."), "/srv/www/");
    EXPECT_EQ(FolderListPath("/srv/www/"), fs::path("/srv/www"));
    EXPECT_EQ(FolderListPath("/"), fs::path("/"));
    const std::string relative = LocalPathOf("some dir");
    EXPECT_EQ(relative.front(), '/');
    EXPECT_TRUE(relative.ends_with("/some dir/")) << relative;
}

TEST(LocalPath, LabelKeepsTheLast30Characters) {
    EXPECT_EQ(LocalPathLabel("/srv/www/"), QStringLiteral("/srv/www/"));
    const std::string thirty = "/" + std::string(28, 'a') + "/";
    ASSERT_EQ(thirty.size(), 30u);
    EXPECT_EQ(LocalPathLabel(thirty), QString::fromStdString(thirty)) << "30 is not longer than 30";
    const std::string longer = "/home/user/projects/websites/articles/";
    EXPECT_EQ(LocalPathLabel(longer),
              QStringLiteral("...") + QString::fromStdString(longer.substr(longer.size() - 30)));
    EXPECT_EQ(LocalPathLabel(longer).size(), 33);
    // The last 30 characters are taken first, then their blanks trimmed.
    const std::string blankAtCut =
        "/some/long/prefix/folder" + std::string(" ") + std::string(28, 'z') + "/";
    EXPECT_EQ(LocalPathLabel(blankAtCut),
              QStringLiteral("...") + QString::fromStdString(std::string(28, 'z') + "/"));
    // A character outside the basic plane is never cut in half.
    const std::string wide =
        "/" + std::string(40, 'x') + "/\xF0\x9F\x98\x80" + std::string(28, 'y') + "/";
    const QString label = LocalPathLabel(wide);
    EXPECT_TRUE(label.startsWith(QStringLiteral("...")));
    EXPECT_FALSE(label.at(3).isLowSurrogate());
    EXPECT_TRUE(label.endsWith(QString::fromStdString(std::string(28, 'y') + "/")));
}

TEST(LocalListing, SizeTextDividesByThousandWithABlankBeforeKb) {
    EXPECT_EQ(LocalSizeText(0), QStringLiteral("0 Kb")) << "never a bare point";
    EXPECT_EQ(LocalSizeText(1), QStringLiteral("0 Kb"));
    EXPECT_EQ(LocalSizeText(5), QStringLiteral("0.01 Kb"));
    EXPECT_EQ(LocalSizeText(1536), QStringLiteral("1.54 Kb"));
    EXPECT_EQ(LocalSizeText(2000), QStringLiteral("2 Kb"));
    EXPECT_EQ(LocalSizeText(1234567), QStringLiteral("1 234.57 Kb"));
    EXPECT_EQ(LocalSizeText(5'000'000'000ULL), QStringLiteral("5 000 000 Kb")) << "over 4 GiB";
}

TEST(LocalListing, ReadsVisibleFilesAndFoldersSortedIgnoringCase) {
    TempDir dir;
    for (const char* name : {"b.txt", "A.htm", "c d.JPG", "-rf", "\xC3\xA9t\xC3\xA9.mp3",
                             "line\nbreak.txt", ".hidden", "Zeta"}) {
        WriteBytes(dir / name, "x");
    }
    fs::create_directory(dir / "sub");
    fs::create_directory(dir / "Another");
    fs::create_directory(dir / ".git");
    fs::create_symlink(dir / "b.txt", dir / "link.txt");
    fs::create_symlink(dir / "missing", dir / "dangling");
    fs::create_directory_symlink(dir / "sub", dir / "sublink");

    const LocalFolderContents contents = ReadLocalFolder(dir.path());
    EXPECT_TRUE(contents.readable);
    EXPECT_EQ(contents.folders, Strings({"Another", "sub", "sublink"}));
    EXPECT_EQ(Names(contents.files), Strings({"-rf", "A.htm", "b.txt", "c d.JPG", "line\nbreak.txt",
                                              "link.txt", "Zeta", "\xC3\xA9t\xC3\xA9.mp3"}));
}

TEST(LocalListing, MissingOrUnreadableFolderGivesNothing) {
    TempDir dir;
    EXPECT_FALSE(ReadLocalFolder(dir / "gone").readable);
    const fs::path locked = dir / "locked";
    fs::create_directory(locked);
    WriteBytes(locked / "inside.txt", "x");
    fs::permissions(locked, fs::perms::none);
    const LocalFolderContents contents = ReadLocalFolder(locked);
    if (::geteuid() != 0) {
        EXPECT_FALSE(contents.readable);
        EXPECT_TRUE(contents.files.empty());
    }
}

// A file reached through a link is measured while the folder is read; the
// others by one stat each. One that vanished in between stays unknown and
// the listing goes on past it.
TEST(LocalListing, MeasuresSizeAndTimeOrLeavesThemUnknown) {
    TempDir dir;
    WriteBytes(dir / "Photo.JPG", std::string(1536, 'p'));
    WriteBytes(dir / "empty", "");
    WriteBytes(dir / "gone.htm", "g");
    fs::create_symlink(dir / "Photo.JPG", dir / "z link.jpg");
    const std::int64_t when = SetTime(dir / "Photo.JPG", 1'236'002'820);  // 2 March 2009

    LocalFolderContents contents = ReadLocalFolder(dir.path());
    ASSERT_EQ(contents.files.size(), 4u);
    EXPECT_EQ(contents.files[0].bytes, FileListRow::kUnknown);
    EXPECT_EQ(contents.files[3].bytes, 1536) << "the link";
    fs::remove(dir / "gone.htm");
    MeasureLocalFiles(dir.path(), contents.files);
    const std::vector<FileListRow>& rows = contents.files;
    EXPECT_EQ(Names(rows), Strings({"empty", "gone.htm", "Photo.JPG", "z link.jpg"}));
    EXPECT_EQ(rows[0].bytes, 0);
    EXPECT_EQ(rows[0].type, 10);
    EXPECT_EQ(rows[1].type, 2);
    EXPECT_EQ(rows[1].bytes, FileListRow::kUnknown);
    EXPECT_EQ(rows[1].time, FileListRow::kUnknown);
    EXPECT_EQ(rows[2].type, 1);
    EXPECT_EQ(rows[2].bytes, 1536);
    EXPECT_EQ(rows[2].time, when * 1000);
    EXPECT_EQ(rows[3].time, when * 1000);
    EXPECT_EQ(
        LocalDateFormatter()(rows[2].time),
        QLocale::system().toString(QDateTime::fromSecsSinceEpoch(when), QLocale::ShortFormat));
}
