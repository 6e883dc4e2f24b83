#include "ftp/RemoteListing.h"

#include "common/TextOps.h"
#include "ftp/FtpSession.h"
#include "ftp/StatusLog.h"

#include <gtest/gtest.h>

using namespace quill;

namespace {

FtpFindData File(std::string name, std::int64_t size, std::optional<FtpFileTime> time = {}) {
    return {std::move(name), false, size, time};
}
FtpFindData Folder(std::string name) {
    return {std::move(name), true, 0, {}};
}

TEST(RemoteListing, FilesGetIconSizeDateAndBytes) {
    const auto listing =
        BuildRemoteListing({File("page.HTML", 1536, FtpFileTime{2008, 12, 7, 9, 5}),
                            File("empty", 0), File("big.zip", 3'000'000'000LL)},
                           "/www/");
    ASSERT_EQ(listing.files.size(), 3u);
    EXPECT_EQ(listing.files[0].name, "page.HTML");
    EXPECT_EQ(listing.files[0].type, 2);
    EXPECT_EQ(listing.files[0].sizeText, QStringLiteral("1.5Kb"));
    EXPECT_EQ(listing.files[0].bytesText, QStringLiteral("1536"));
    EXPECT_EQ(listing.files[0].dateText, QStringLiteral("7.12.2008 9:05"));
    EXPECT_EQ(listing.files[1].type, 10);
    EXPECT_EQ(listing.files[1].sizeText, QStringLiteral("0Kb"));
    EXPECT_TRUE(listing.files[1].dateText.isEmpty());
    EXPECT_EQ(listing.files[2].bytesText, QStringLiteral("3000000000"));  // beyond 32 bits
    EXPECT_EQ(listing.files[2].sizeText, QStringLiteral("2 929 687.5Kb"));
    EXPECT_EQ(listing.files[2].type, 7);
}

TEST(RemoteListing, FoldersGetKeysBelowTheRemotePath) {
    const auto listing = BuildRemoteListing(
        {Folder("img"), Folder(".."), Folder("."), Folder("img"), Folder("my docs"), Folder("../x"),
         Folder("a/b"), File("a/b", 1), File("../../etc/passwd", 2),
         File(std::string("\0hidden", 7), 3), Folder("")},
        "/www/");
    ASSERT_EQ(listing.folders.size(), 4u);
    EXPECT_EQ(listing.folders[0].key, "/www/img/");
    EXPECT_EQ(listing.folders[1].key, "/www/../");
    EXPECT_EQ(listing.folders[2].key, "/www/./");
    EXPECT_EQ(listing.folders[3].name, "my docs");
    EXPECT_EQ(listing.folders[3].key, "/www/my docs/");
    // Names that could leave the folder never become keys or rows.
    EXPECT_TRUE(listing.files.empty());
}

TEST(FtpSessionValues, PortAndSearchPattern) {
    EXPECT_EQ(ParsePort("21"), 21);
    EXPECT_EQ(ParsePort(" 65535 "), 65535);
    EXPECT_EQ(ParsePort("1"), 1);
    for (const char* bad : {"", "0", "65536", "-21", "+21", "21a", "2 1", "99999999999", "0x15"}) {
        EXPECT_FALSE(ParsePort(bad)) << bad;
    }
    EXPECT_EQ(SearchPatternForLoginFolder("/"), "/*.*");
    EXPECT_EQ(SearchPatternForLoginFolder("/home/u"), "/home/u/*.*");
    EXPECT_EQ(SearchPatternForLoginFolder("/home/u/"), "/home/u/*.*");
    EXPECT_EQ(SearchPatternForLoginFolder(""), "/*.*");
    const std::pair<const char*, const char*> remotePaths[] = {
        {"/", "/"}, {"/home/u", "/home/u/"}, {"/home/u/", "/home/u/"}, {"", "/"}, {"C:\\x", "/"}};
    for (const auto& [login, path] : remotePaths) {
        EXPECT_EQ(RemotePathForLoginFolder(login), path) << login;
    }
    // The one check for names from outside, and the line rule beside it.
    for (const char* good : {"a", "-rf", "a b", "..a", "\xc3\xa9", "two\nlines"}) {
        EXPECT_TRUE(IsPlainName(good)) << good;
    }
    using namespace std::string_view_literals;
    for (std::string_view bad : {""sv, "."sv, ".."sv, "a/b"sv, "/"sv, "a\0b"sv}) {
        EXPECT_FALSE(IsPlainName(bad)) << bad;
    }
    EXPECT_TRUE(HoldsLineBreak("a\rb"));
    EXPECT_FALSE(HoldsLineBreak("a b"));
}

TEST(StatusLogText, EntriesAndHeading) {
    EXPECT_EQ(LogEntry(QStringLiteral("9:05"), QStringLiteral(" > Server disconnected.")),
              QStringLiteral("9:05 > Server disconnected.\r\n"));
    EXPECT_EQ(ConnectHeading(QStringLiteral("1/2/26"), QStringLiteral("9:05"),
                             QStringLiteral("My Site"), QStringLiteral("ftp.example.test")),
              QStringLiteral("1/2/26, 9:05 *** MY SITE ***\r\n"
                             "9:05 > Connecting to: ftp.example.test...\r\n"));
    EXPECT_EQ(ForTextBox(QStringLiteral("a\r\nb\r\n")), QStringLiteral("a\nb\n"));
}

}  // namespace
