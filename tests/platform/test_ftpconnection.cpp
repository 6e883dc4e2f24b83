#include "platform/FtpConnection.h"

#include "support/FtpServer.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include <sys/time.h>

using namespace quill;
using quill::test::FtpServer;
using quill::test::FtpServerOptions;
using quill::test::ReadBytes;
using quill::test::TempDir;
using quill::test::WriteBytes;

namespace {

void SetTime(const std::filesystem::path& path, std::time_t when) {
    const timeval times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimes(path.c_str(), times), 0);
}

class FtpConnectionTest : public ::testing::Test {
protected:
    std::unique_ptr<FtpConnection> connect(const FtpServer& server, bool passive = true) {
        auto result = FtpConnection::Connect(*session, params(server.port(), passive));
        EXPECT_TRUE(result.has_value()) << (result ? "" : result.error().text);
        return result ? std::move(*result) : nullptr;
    }
    FtpConnectParams params(int port, bool passive = true, std::string password = "secret") {
        FtpConnectParams p;
        p.host = "127.0.0.1";
        p.port = static_cast<std::uint16_t>(port);
        p.user = "user";
        p.password = std::move(password);
        p.passive = passive;
        p.timeouts.connectSeconds = 2;
        p.timeouts.serverResponseSeconds = 2;
        return p;
    }
    static const FtpFindData* find(const std::vector<FtpFindData>& list, std::string_view name) {
        auto it = std::find_if(list.begin(), list.end(),
                               [&](const FtpFindData& e) { return e.name == name; });
        return it == list.end() ? nullptr : &*it;
    }

    TempDir root;
    std::unique_ptr<FtpInternetSession> session = FtpInternetSession::Open("Quillmint 2012");
};

TEST(FtpListingTime, UnixAndDosForms) {
    // Today is 10 March 2026 for these.
    auto t = ParseListingTime("Dec 08 01:20", 2026, 3, 10);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->year, 2025);  // December would be in the future this year
    EXPECT_EQ(t->month, 12);
    EXPECT_EQ(t->day, 8);
    EXPECT_EQ(t->hour, 1);
    EXPECT_EQ(t->minute, 20);
    t = ParseListingTime("Mar 11 23:59", 2026, 3, 10);  // a day ahead: clock skew, same year
    ASSERT_TRUE(t);
    EXPECT_EQ(t->year, 2026);
    t = ParseListingTime("Jan 02  2020", 2026, 3, 10);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->year, 2020);
    EXPECT_EQ(t->month, 1);
    EXPECT_EQ(t->day, 2);
    EXPECT_EQ(t->hour, 0);
    t = ParseListingTime("12-08-26  01:28AM", 2026, 3, 10);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->year, 2026);
    EXPECT_EQ(t->month, 12);
    EXPECT_EQ(t->day, 8);
    EXPECT_EQ(t->hour, 1);
    t = ParseListingTime("07-04-99  12:05PM", 2026, 3, 10);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->year, 1999);
    EXPECT_EQ(t->hour, 12);
    EXPECT_EQ(t->minute, 5);
    t = ParseListingTime("07-04-2001  12:05AM", 2026, 3, 10);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->year, 2001);
    EXPECT_EQ(t->hour, 0);
    t = ParseListingTime("01-31-20  11:00PM", 2026, 3, 10);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->hour, 23);
    for (const char* bad : {"", "Foo 08 01:20", "Dec 08 25:20", "13-08-26  01:28AM",
                            "12-08-26  13:28PM", "Dec", "12-0826 01:00"}) {
        EXPECT_FALSE(ParseListingTime(bad, 2026, 3, 10)) << bad;
    }
}

TEST(FtpMask, WindowsRules) {
    EXPECT_TRUE(FtpMaskMatches("*.*", "README"));
    EXPECT_TRUE(FtpMaskMatches("*.*", ".hidden"));
    EXPECT_TRUE(FtpMaskMatches("*", "a b"));
    EXPECT_TRUE(FtpMaskMatches("*.htm", "INDEX.HTM"));
    EXPECT_FALSE(FtpMaskMatches("*.htm", "index.html"));
    EXPECT_TRUE(FtpMaskMatches("a?c*", "abcdef"));
    EXPECT_FALSE(FtpMaskMatches("a?c", "ac"));
    EXPECT_TRUE(FtpMaskMatches("**x", "yyyx"));
}

TEST(FtpPath, SegmentsEscapedAndAbsolute) {
    EXPECT_EQ(EscapeRemotePath("/"), "%2F/");
    EXPECT_EQ(EscapeRemotePath("/a b/c/"), "%2Fa%20b/c/");
    EXPECT_EQ(EscapeRemotePath("/x%#?.htm"), "%2Fx%25%23%3F.htm");
    EXPECT_EQ(EscapeRemotePath("/\xc3\xa9t\xc3\xa9/-f"), "%2F%C3%A9t%C3%A9/-f");
}

TEST_F(FtpConnectionTest, ConnectGivesTheLoginFolder) {
    FtpServer server(root.path());
    auto connection = connect(server);
    ASSERT_TRUE(connection);
    EXPECT_EQ(connection->CurrentDirectory(), "/");

    std::filesystem::create_directories(root / "home" / "web site");
    FtpServerOptions options;
    options.loginDir = "/home/web site";
    FtpServer deeper(root.path(), options);
    connection = connect(deeper);
    ASSERT_TRUE(connection);
    EXPECT_EQ(connection->CurrentDirectory(), "/home/web site");
}

TEST_F(FtpConnectionTest, ConnectFailures) {
    FtpServer server(root.path());
    auto wrong = FtpConnection::Connect(*session, params(server.port(), true, "nope"));
    ASSERT_FALSE(wrong);
    EXPECT_EQ(wrong.error().curlCode, 67);
    EXPECT_NE(wrong.error().text.find("530"), std::string::npos) << wrong.error().text;

    auto closed = FtpConnection::Connect(*session, params(quill::test::ClosedPort()));
    ASSERT_FALSE(closed);
    EXPECT_EQ(closed.error().curlCode, 7);

    auto badHost = params(server.port());
    badHost.host = "no such host";
    EXPECT_FALSE(FtpConnection::Connect(*session, badHost));
    badHost.host = "evil.example/x@127.0.0.1";
    EXPECT_FALSE(FtpConnection::Connect(*session, badHost));
}

TEST_F(FtpConnectionTest, SilentServerTimesOut) {
    quill::test::SilentServer silent;
    const auto start = std::chrono::steady_clock::now();
    auto result = FtpConnection::Connect(*session, params(silent.port()));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().curlCode, 28);
    EXPECT_LT(elapsed, std::chrono::seconds(6));
}

TEST_F(FtpConnectionTest, ListsFoldersFilesSizesAndTimes) {
    std::filesystem::create_directories(root / "www" / "img");
    std::filesystem::create_directories(root / "my docs");
    WriteBytes(root / "page.htm", std::string(1536, 'x'));
    WriteBytes(root / "README", "r");
    WriteBytes(root / "-rf", "dash");
    WriteBytes(root / "a b.txt", "");
    WriteBytes(root / "\xc3\xa9t\xc3\xa9.html", "ete");
    SetTime(root / "page.htm", 1577930400);  // 2 Jan 2020 02:00 UTC: listed with its year
    const std::time_t recent = std::time(nullptr) - 3600;
    SetTime(root / "README", recent);
    FtpServer server(root.path());
    auto connection = connect(server);
    ASSERT_TRUE(connection);

    auto list = connection->FindFiles("/*.*");
    ASSERT_TRUE(list) << list.error().text;
    EXPECT_EQ(list->size(), 7u);
    const auto* page = find(*list, "page.htm");
    ASSERT_TRUE(page);
    EXPECT_FALSE(page->folder);
    EXPECT_EQ(page->size, 1536);
    ASSERT_TRUE(page->lastWrite);
    EXPECT_EQ(page->lastWrite->year, 2020);
    EXPECT_EQ(page->lastWrite->month, 1);
    EXPECT_EQ(page->lastWrite->day, 2);
    const auto* readme = find(*list, "README");
    ASSERT_TRUE(readme && readme->lastWrite);
    std::tm utc{};
    gmtime_r(&recent, &utc);
    EXPECT_EQ(readme->lastWrite->year, utc.tm_year + 1900);
    EXPECT_EQ(readme->lastWrite->day, utc.tm_mday);
    EXPECT_EQ(readme->lastWrite->hour, utc.tm_hour);
    EXPECT_EQ(readme->lastWrite->minute, utc.tm_min);
    ASSERT_TRUE(find(*list, "www"));
    EXPECT_TRUE(find(*list, "www")->folder);
    ASSERT_TRUE(find(*list, "my docs"));
    EXPECT_TRUE(find(*list, "-rf"));
    EXPECT_TRUE(find(*list, "a b.txt"));
    EXPECT_TRUE(find(*list, "\xc3\xa9t\xc3\xa9.html"));

    auto htm = connection->FindFiles("/*.HTM");
    ASSERT_TRUE(htm);
    ASSERT_EQ(htm->size(), 1u);
    EXPECT_EQ(htm->front().name, "page.htm");

    auto sub = connection->FindFiles("/www/*.*");
    ASSERT_TRUE(sub);
    ASSERT_EQ(sub->size(), 1u);
    EXPECT_EQ(sub->front().name, "img");
    EXPECT_TRUE(sub->front().folder);

    auto blank = connection->FindFiles("/my docs/*.*");
    ASSERT_TRUE(blank) << blank.error().text;
    EXPECT_TRUE(blank->empty());  // an empty folder is an empty list

    EXPECT_FALSE(connection->FindFiles("/missing/*.*"));
    // The connection still works after a failed listing.
    EXPECT_TRUE(connection->FindFiles("/www/*.*"));
}

TEST_F(FtpConnectionTest, ActiveModeLists) {
    WriteBytes(root / "one.txt", "1");
    FtpServer server(root.path());
    auto connection = connect(server, false);
    ASSERT_TRUE(connection);
    auto list = connection->FindFiles("/*.*");
    ASSERT_TRUE(list) << list.error().text;
    ASSERT_EQ(list->size(), 1u);
    EXPECT_EQ(list->front().name, "one.txt");
}

TEST_F(FtpConnectionTest, HostileNamesComeBackAsGiven) {
    FtpServerOptions options;
    options.extraListLines = {
        "drwxr-xr-x   2 u g 0 Jan 02  2020 ../x",
        "drwxr-xr-x   2 u g 0 Jan 02  2020 a/b",
        "-rw-r--r--   1 u g 5 Jan 02  2020 ../../etc/passwd",
    };
    FtpServer server(root.path(), options);
    auto connection = connect(server);
    ASSERT_TRUE(connection);
    auto list = connection->FindFiles("/*.*");
    ASSERT_TRUE(list) << list.error().text;
    ASSERT_TRUE(find(*list, "../x"));
    EXPECT_TRUE(find(*list, "../x")->folder);
    ASSERT_TRUE(find(*list, "a/b"));
    ASSERT_TRUE(find(*list, "../../etc/passwd"));
    EXPECT_EQ(find(*list, "../../etc/passwd")->size, 5);
}

TEST_F(FtpConnectionTest, FolderAndFileCommands) {
    WriteBytes(root / "old name.txt", "content");
    FtpServer server(root.path());
    auto connection = connect(server);
    ASSERT_TRUE(connection);

    ASSERT_TRUE(connection->CreateDirectory("/new folder"));
    EXPECT_TRUE(std::filesystem::is_directory(root / "new folder"));
    auto again = connection->CreateDirectory("/new folder");
    ASSERT_FALSE(again);
    EXPECT_NE(again.error().text.find("550"), std::string::npos) << again.error().text;

    ASSERT_TRUE(connection->RenameFile("/old name.txt", "/new folder/n\xc3\xa9w.txt"));
    EXPECT_EQ(ReadBytes(root / "new folder" / "n\xc3\xa9w.txt"), "content");
    EXPECT_FALSE(connection->RenameFile("/missing", "/x"));
    EXPECT_FALSE(std::filesystem::exists(root / "x"));

    EXPECT_FALSE(connection->RemoveDirectory("/new folder"));  // not empty
    ASSERT_TRUE(connection->DeleteFile("/new folder/n\xc3\xa9w.txt"));
    EXPECT_FALSE(connection->DeleteFile("/new folder/n\xc3\xa9w.txt"));
    ASSERT_TRUE(connection->RemoveDirectory("/new folder"));
    EXPECT_FALSE(std::filesystem::exists(root / "new folder"));

    // A line break would smuggle a second command onto the control channel.
    EXPECT_FALSE(connection->CreateDirectory("/a\r\nDELE /b"));
    EXPECT_TRUE(connection->FindFiles("/*.*"));
}

TEST_F(FtpConnectionTest, ListsAgainAfterTheServerDroppedTheIdleSession) {
    WriteBytes(root / "f.txt", "f");
    FtpServerOptions options;
    options.idleTimeoutSeconds = 1;
    FtpServer server(root.path(), options);
    auto connection = connect(server);
    ASSERT_TRUE(connection);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    auto list = connection->FindFiles("/*.*");
    ASSERT_TRUE(list) << list.error().text;
    EXPECT_EQ(list->size(), 1u);
}

}  // namespace
