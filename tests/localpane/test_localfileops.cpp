#include "localpane/LocalFileOps.h"

#include "common/TextCodec.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

using namespace quill;
using quill::test::ReadBytes;
using quill::test::TempDir;
using quill::test::WriteBytes;
namespace fs = std::filesystem;

namespace {

std::string Slash(const fs::path& folder) {
    return folder.string() + "/";
}

}  // namespace

TEST(LocalFileOps, PlainNamesStayInTheirFolder) {
    for (const char* name :
         {"a", "a b.txt", "-rf", ".hidden", "line\nbreak", "\xC3\xA9t\xC3\xA9"}) {
        EXPECT_TRUE(IsPlainName(name)) << name;
    }
    for (const char* name : {"", ".", "..", "../x", "a/b", "/etc"}) {
        EXPECT_FALSE(IsPlainName(name)) << name;
    }
    EXPECT_FALSE(IsPlainName(std::string("a\0b", 3)));
}

TEST(LocalFileOps, CreateFolder) {
    TempDir dir;
    const std::string local = Slash(dir.path());
    for (const char* name : {"new folder", "-x", "\xC3\xA9t\xC3\xA9", "two\nlines"}) {
        const LocalOpResult result = CreateLocalFolder(local, name);
        EXPECT_TRUE(result.ok) << name;
        EXPECT_TRUE(fs::is_directory(dir / name)) << name;
    }
    const LocalOpResult empty = CreateLocalFolder(local, "");
    EXPECT_FALSE(empty.ok);
    EXPECT_TRUE(empty.message.isEmpty()) << "an empty name shows nothing";

    const LocalOpResult again = CreateLocalFolder(local, "new folder");
    EXPECT_FALSE(again.ok);
    EXPECT_EQ(again.message, QStringLiteral("an error apeared while creating new folder\r\n"
                                            "Make sure folder doesn't exist!"));
    WriteBytes(dir / "file", "f");
    EXPECT_EQ(CreateLocalFolder(local, "file").message, again.message) << "a file of that name";

    fs::create_directory(dir / "inner");
    const std::string innerLocal = Slash(dir / "inner");
    for (const char* name : {"..", ".", "../escaped", "a/b"}) {
        const LocalOpResult bad = CreateLocalFolder(innerLocal, name);
        EXPECT_FALSE(bad.ok) << name;
        EXPECT_EQ(bad.message, Qs(localtext::kBadName)) << name;
    }
    EXPECT_FALSE(fs::exists(dir / "escaped"));

    const LocalOpResult tooLong = CreateLocalFolder(local, std::string(300, 'n'));
    EXPECT_FALSE(tooLong.ok);
    EXPECT_TRUE(tooLong.message.startsWith(QStringLiteral("an error apeared while creating")))
        << "other failures are reported too";
}

TEST(LocalFileOps, ProtectedFoldersAreRefused) {
    TempDir dir;
    const fs::path program = dir / "program";
    fs::create_directories(program / "Logon");
    fs::create_directories(program / "LOGON2");
    fs::create_directories(program / "articles");
    const QString root = QStringLiteral("This is the root folder that can't be removed!");
    const QString own = QStringLiteral("This is the program folder that can't be removed!");

    EXPECT_EQ(FolderRemovalRefusal("/", program), root);
    EXPECT_EQ(FolderRemovalRefusal(program, program), own);
    EXPECT_EQ(FolderRemovalRefusal(program / "Logon", program), own);
    EXPECT_EQ(FolderRemovalRefusal(Slash(program), program), own);
    EXPECT_EQ(FolderRemovalRefusal(program / "Logon", Slash(program)), own);
    EXPECT_EQ(FolderRemovalRefusal(program / "articles" / "..", program), own);
    fs::create_directory_symlink(program, dir / "alias");
    EXPECT_EQ(FolderRemovalRefusal(dir / "alias", program), own) << "the same folder by a link";
    EXPECT_EQ(FolderRemovalRefusal(program / "LOGON2", program), std::nullopt);
    EXPECT_EQ(FolderRemovalRefusal(program / "articles", program), std::nullopt);
}

TEST(LocalFileOps, RemoveFolderQuestionNamesTheLastComponent) {
    EXPECT_EQ(RemoveFolderQuestion("/data/old"),
              QStringLiteral("Are you sure to remove this folder: \"old\"? Make sure it contains "
                             "no files!\r\nIf you are, don't look for it in recycle!"));
}

TEST(LocalFileOps, RemoveFolderRemovesOnlyAnEmptyFolder) {
    TempDir dir;
    fs::create_directories(dir / "data" / "old");
    EXPECT_TRUE(RemoveLocalFolder(dir / "data" / "old").ok);
    EXPECT_FALSE(fs::exists(dir / "data" / "old"));

    fs::create_directories(dir / "full" / "sub");
    WriteBytes(dir / "full" / "keep.txt", "keep");
    fs::create_directory(dir / "dotonly");
    WriteBytes(dir / "dotonly" / ".profile", "p");
    for (const char* name : {"full", "dotonly"}) {
        const LocalOpResult result = RemoveLocalFolder(dir / name);
        EXPECT_FALSE(result.ok) << name;
        EXPECT_EQ(result.message, Qs(localtext::kFolderNotEmpty)) << name;
    }
    EXPECT_EQ(ReadBytes(dir / "full" / "keep.txt"), "keep");
    EXPECT_TRUE(fs::is_directory(dir / "full" / "sub"));
    EXPECT_EQ(ReadBytes(dir / "dotonly" / ".profile"), "p");

    fs::create_directory(dir / "target");
    fs::create_directory_symlink(dir / "target", dir / "link");
    const LocalOpResult link = RemoveLocalFolder(dir / "link");
    EXPECT_FALSE(link.ok) << "a link to a folder is not the folder";
    EXPECT_FALSE(link.message.isEmpty());
    EXPECT_TRUE(fs::is_directory(dir / "target"));
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
}

TEST(LocalFileOps, DeleteFilesDeletesOnlyNamesInTheFolder) {
    TempDir dir;
    fs::create_directory(dir / "here");
    const std::string local = Slash(dir / "here");
    for (const char* name : {"a.txt", "b c.htm", "-n", "\xC3\xA9.txt", "keep.txt"}) {
        WriteBytes(dir / "here" / name, name);
    }
    WriteBytes(dir / "outside.txt", "outside");
    fs::create_directory(dir / "here" / "folder");
    fs::create_symlink(dir / "outside.txt", dir / "here" / "link.txt");

    EXPECT_TRUE(DeleteLocalFiles(local, {"a.txt", "b c.htm", "-n", "\xC3\xA9.txt", "link.txt"}).ok);
    for (const char* name : {"a.txt", "b c.htm", "-n", "\xC3\xA9.txt", "link.txt"}) {
        EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "here" / name))) << name;
    }
    EXPECT_EQ(ReadBytes(dir / "outside.txt"), "outside") << "a link goes, its target stays";
    EXPECT_EQ(ReadBytes(dir / "here" / "keep.txt"), "keep.txt");

    const LocalOpResult bad = DeleteLocalFiles(local, {"../outside.txt", "folder", "vanished"});
    EXPECT_FALSE(bad.ok);
    EXPECT_TRUE(bad.message.startsWith(QStringLiteral("These files could not be deleted:\r\n")));
    EXPECT_TRUE(bad.message.contains(QStringLiteral("../outside.txt")));
    EXPECT_TRUE(bad.message.contains(QStringLiteral("folder")));
    EXPECT_FALSE(bad.message.contains(QStringLiteral("vanished"))) << "already gone is no failure";
    EXPECT_EQ(ReadBytes(dir / "outside.txt"), "outside");
    EXPECT_TRUE(fs::is_directory(dir / "here" / "folder"));
}

TEST(LocalFileOps, ExtensionQuestion) {
    EXPECT_EQ(
        ExtensionChangeQuestion("page.htm", "page.html"),
        QStringLiteral("Are you sure to exchange the file extension from: \"htm\" to: \"html\""));
    EXPECT_EQ(ExtensionChangeQuestion("README", "README.txt"),
              QStringLiteral("Are you sure to exchange the file extension from: \"\" to: \"txt\""));
    EXPECT_EQ(ExtensionChangeQuestion("a.txt", "b.txt"), std::nullopt);
    EXPECT_EQ(ExtensionChangeQuestion("a.tar.gz", "b.gz"), std::nullopt);
    EXPECT_NE(ExtensionChangeQuestion("a.txt", "a.TXT"), std::nullopt) << "case counts here";
}

TEST(LocalFileOps, RenameNeverReplacesAFile) {
    TempDir dir;
    const std::string local = Slash(dir.path());
    WriteBytes(dir / "a.txt", "A");
    WriteBytes(dir / "b.txt", "B");

    const LocalOpResult collision = RenameLocalFile(local, "a.txt", "b.txt");
    EXPECT_FALSE(collision.ok);
    EXPECT_EQ(collision.message,
              QStringLiteral("More than one file with the same name in one folder? no way!"));
    EXPECT_EQ(ReadBytes(dir / "a.txt"), "A");
    EXPECT_EQ(ReadBytes(dir / "b.txt"), "B");

    fs::create_directory(dir / "dir");
    EXPECT_EQ(RenameLocalFile(local, "a.txt", "dir").message, collision.message);

    EXPECT_TRUE(RenameLocalFile(local, "a.txt", "new name \xC3\xA9.txt").ok);
    EXPECT_EQ(ReadBytes(dir / "new name \xC3\xA9.txt"), "A");
    EXPECT_FALSE(fs::exists(dir / "a.txt"));

    const LocalOpResult empty = RenameLocalFile(local, "b.txt", "");
    EXPECT_FALSE(empty.ok);
    EXPECT_TRUE(empty.message.isEmpty());
    EXPECT_EQ(RenameLocalFile(local, "b.txt", "../b.txt").message, Qs(localtext::kBadName));
    EXPECT_EQ(ReadBytes(dir / "b.txt"), "B");
    EXPECT_TRUE(RenameLocalFile(local, "b.txt", "b.txt").ok);

    const LocalOpResult missing = RenameLocalFile(local, "nope.txt", "other.txt");
    EXPECT_FALSE(missing.ok);
    EXPECT_TRUE(missing.message.startsWith(QStringLiteral("The file \"nope.txt\" could not be")));
}
