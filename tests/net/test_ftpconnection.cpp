#include "net/FtpConnection.h"

#include "support/FtpServer.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <tuple>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <set>
#include <stdexcept>
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
    // Runs op on a new connection to server whose stop flag another thread
    // raises after `after`; gives op's result and the time it took.
    template <typename Op>
    auto stoppedAfter(const FtpServer& server, std::chrono::milliseconds after, Op op) {
        std::atomic<bool> stop{false};
        auto p = params(server.port());
        p.stop = &stop;
        auto connection = FtpConnection::Connect(*session, p);
        if (!connection) {
            // GoogleTest reports the exception as the test's failure.
            throw std::runtime_error("connect failed: " + connection.error().text);
        }
        std::thread stopper([&stop, after] {
            std::this_thread::sleep_for(after);
            stop = true;
        });
        const auto start = std::chrono::steady_clock::now();
        auto result = op(**connection);
        stopper.join();
        return std::pair(std::move(result), std::chrono::steady_clock::now() - start);
    }

    std::unique_ptr<NetworkLibrary> session = NetworkLibrary::Open("Quillmint 2012");
};

TEST(FtpListingTime, UnixAndDosForms) {
    // Today is 10 March 2026 for these.
    const std::pair<const char*, FtpFileTime> cases[] = {
        {"Dec 08 01:20", {2025, 12, 8, 1, 20}},   // December would be in the future this year
        {"Mar 11 23:59", {2026, 3, 11, 23, 59}},  // a day ahead: clock skew, same year
        {"Jan 02  2020", {2020, 1, 2, 0, 0}},        {"12-08-26  01:28AM", {2026, 12, 8, 1, 28}},
        {"07-04-99  12:05PM", {1999, 7, 4, 12, 5}},  {"07-04-2001  12:05AM", {2001, 7, 4, 0, 5}},
        {"01-31-20  11:00PM", {2020, 1, 31, 23, 0}},
    };
    const auto fields = [](const FtpFileTime& t) {
        return std::tuple(t.year, t.month, t.day, t.hour, t.minute);
    };
    for (const auto& [text, expected] : cases) {
        const auto t = ParseListingTime(text, 2026, 3, 10);
        ASSERT_TRUE(t) << text;
        EXPECT_EQ(fields(*t), fields(expected)) << text;
    }
    for (const char* bad : {"", "Foo 08 01:20", "Dec 08 25:20", "13-08-26  01:28AM",
                            "12-08-26  13:28PM", "Dec", "12-0826 01:00"}) {
        EXPECT_FALSE(ParseListingTime(bad, 2026, 3, 10)) << bad;
    }
}

TEST(FtpListLines, UnixDosAndMlsd) {
    const FtpToday today{2026, 3, 10};
    struct Case {
        bool mlsd;
        std::string line;
        ListLineKind kind;
        std::string name;
        bool folder;
        std::int64_t size;
    };
    using K = ListLineKind;
    const Case cases[] = {
        {false, "drwxr-xr-x 2 user group 4096 Dec 08 01:20 www", K::Entry, "www", true, 4096},
        {false, "-rw-r--r-- 1 user 12 Jan 02  2020 no group.txt", K::Entry, "no group.txt", false,
         12},
        {false, "-rw-r--r-- 1 1000 Jan 3000000000 Dec 08 01:20 big", K::Entry, "big", false,
         3000000000},
        {false, "-rw-r--r-- 1 u g 5 Jan 02  2020   two  blanks ", K::Entry, "  two  blanks ", false,
         5},
        {false, "lrwxrwxrwx 1 u g 9 Jan 02  2020 link -> target", K::Entry, "link", true, 9},
        {false, "12-08-26  01:28AM       <DIR>          old folder", K::Entry, "old folder", true,
         0},
        {false, "12-08-26  01:28PM                 1234 file.txt", K::Entry, "file.txt", false,
         1234},
        {false, "total 48", K::Ignored, "", false, 0},
        {false, "-rw-r--r-- 1 u g 5 Jan 02", K::Unreadable, "", false, 0},
        {false, "garbage", K::Unreadable, "", false, 0},
        {false, "12-08-26  99:28AM  <DIR>  x", K::Unreadable, "", false, 0},
        {true, "type=dir;modify=20261208102030;perm=el; my docs", K::Entry, "my docs", true, 0},
        {true, "Type=File;Size=1536;Modify=20200102020000; page.htm", K::Entry, "page.htm", false,
         1536},
        {true, "type=OS.unix=slink:/x;size=1; ln", K::Entry, "ln", true, 1},
        {true, "type=cdir; /www", K::Ignored, "", false, 0},
        {true, "type=pdir; ..", K::Ignored, "", false, 0},
        {true, "size=5; untyped", K::Unreadable, "", false, 0},
        {true, "type=file;size=5;", K::Unreadable, "", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const auto parsed = c.mlsd ? ParseMlsdLine(c.line) : ParseListLine(c.line, today);
        ASSERT_EQ(parsed.kind, c.kind);
        if (c.kind == K::Entry) {
            EXPECT_EQ(parsed.entry.name, c.name);
            EXPECT_EQ(parsed.entry.folder, c.folder);
            EXPECT_EQ(parsed.entry.size, c.size);
        }
    }
    // MLSD times are exact; a Unix time without a year is in the last twelve months.
    auto mlsd = ParseMlsdLine("type=file;modify=20200102030405; f");
    ASSERT_TRUE(mlsd.entry.lastWrite);
    EXPECT_EQ(mlsd.entry.lastWrite->hour, 3);
    EXPECT_EQ(mlsd.entry.lastWrite->minute, 4);
    auto unix = ParseListLine("-rw-r--r-- 1 u g 5 Dec 08 01:20 f", today);
    ASSERT_TRUE(unix.entry.lastWrite);
    EXPECT_EQ(unix.entry.lastWrite->year, 2025);
}

// Lines cut anywhere by the network come out whole; a lone LF inside a CR LF
// listing belongs to a name, which is then left out.
TEST(FtpListLines, ReaderJoinsPiecesAndKeepsLineBreaksInNamesOut) {
    const std::string listing =
        "type=file;size=1; a.txt\r\ntype=file;size=2; b\nc.txt\r\ntype=dir; d\r\ntype=file; e";
    for (std::size_t piece : {std::size_t{1}, std::size_t{3}, listing.size()}) {
        FtpListReader reader(true, FtpToday{});
        for (std::size_t i = 0; i < listing.size(); i += piece) {
            reader.feed(std::string_view(listing).substr(i, piece));
        }
        reader.finish();
        ASSERT_EQ(reader.entries.size(), 3u) << piece;
        EXPECT_EQ(reader.entries[0].name, "a.txt");
        EXPECT_EQ(reader.entries[1].name, "d");
        EXPECT_EQ(reader.entries[2].name, "e");
        ASSERT_EQ(reader.skipped.size(), 1u);
        EXPECT_EQ(reader.skipped[0].text, "b\nc.txt");
    }
    // "." and ".." (SFTP lists them) are neither entries nor odd lines.
    FtpListReader lf(false, FtpToday{});
    lf.feed(
        "drwxr-xr-x 2 u g 6 Jan 02  2020 .\ndrwxr-xr-x 2 u g 6 Jan 02  2020 ..\n"
        "-rw-r--r-- 1 u g 5 Jan 02  2020 one\n-rw-r--r-- 1 u g 5 Jan 02  2020 two\n");
    lf.finish();
    ASSERT_EQ(lf.entries.size(), 2u);
    EXPECT_EQ(lf.entries[1].name, "two");
    EXPECT_TRUE(lf.skipped.empty());
}

// A hostile listing costs bounded memory and time: the first lines left out
// are kept and the rest counted, entries stop at the cap, and a lone LF
// followed by CRs is searched once, not again with every piece.
TEST(FtpListLines, ReaderBoundsHostileListings) {
    std::string junk;
    for (int i = 0; i < 30'000; ++i) {
        junk += "junk\r\n";
    }
    const std::string entry = "-rw-r--r-- 1 u g 5 Jan 02  2020 f\r\n";
    const std::string crs(8 << 20, '\r');
    struct Case {
        std::string listing;
        std::size_t maxEntries, entries, kept, count;
        bool cut;
    };
    const std::size_t all = FtpListReader::kMaxEntries;
    const Case cases[] = {{junk + entry, all, 1, 20, 30'000, false},
                          {entry + entry + entry + entry, 3, 3, 0, 0, true},
                          {"\n" + crs, all, 0, 1, 1, false},
                          {"x\r\n\n" + crs, all, 0, 2, 2, false}};
    for (const Case& c : cases) {
        FtpListReader reader(false, FtpToday{}, c.maxEntries);
        for (std::size_t i = 0; i < c.listing.size(); i += 64 << 10) {
            reader.feed(std::string_view(c.listing).substr(i, 64 << 10));
        }
        reader.finish();
        EXPECT_EQ(reader.entries.size(), c.entries) << c.count;
        EXPECT_EQ(reader.skipped.size(), c.kept) << c.count;
        EXPECT_EQ(reader.skippedCount, c.count);
        EXPECT_EQ(reader.cut, c.cut) << c.count;
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

// Both listing commands give the same entries: MLSD where the server offers
// it, LIST where it does not.
TEST_F(FtpConnectionTest, ListsFoldersFilesSizesAndTimesOverMlsdAndList) {
    std::filesystem::create_directories(root / "www" / "img");
    std::filesystem::create_directories(root / "my docs");
    WriteBytes(root / "page.htm", std::string(1536, 'x'));
    WriteBytes(root / "README", "r");
    WriteBytes(root / "-rf", "dash");
    WriteBytes(root / " lead and trail ", "");
    WriteBytes(root / "\xc3\xa9t\xc3\xa9 100%#.html", "ete");
    SetTime(root / "page.htm", 1577930400);  // 2 Jan 2020 02:00 UTC: listed with its year
    const std::time_t recent = std::time(nullptr) - 3600;
    SetTime(root / "README", recent);
    for (const bool mlsd : {true, false}) {
        SCOPED_TRACE(mlsd ? "MLSD" : "LIST");
        FtpServerOptions options;
        options.noMlst = !mlsd;
        FtpServer server(root.path(), options);
        auto connection = connect(server);
        ASSERT_TRUE(connection);
        EXPECT_EQ(connection->UsesMlsd(), mlsd);

        auto list = connection->ListFolder("/*.*");
        ASSERT_TRUE(list) << list.error().text;
        EXPECT_TRUE(list->skipped.empty());
        const auto& entries = list->entries;
        EXPECT_EQ(entries.size(), 7u);
        const auto* page = find(entries, "page.htm");
        ASSERT_TRUE(page && page->lastWrite);
        EXPECT_FALSE(page->folder);
        EXPECT_EQ(page->size, 1536);
        EXPECT_EQ(page->lastWrite->year, 2020);
        EXPECT_EQ(page->lastWrite->month, 1);
        EXPECT_EQ(page->lastWrite->day, 2);
        const auto* readme = find(entries, "README");
        ASSERT_TRUE(readme && readme->lastWrite);
        std::tm utc{};
        gmtime_r(&recent, &utc);
        EXPECT_EQ(readme->lastWrite->year, utc.tm_year + 1900);
        EXPECT_EQ(readme->lastWrite->day, utc.tm_mday);
        EXPECT_EQ(readme->lastWrite->hour, utc.tm_hour);
        EXPECT_EQ(readme->lastWrite->minute, utc.tm_min);
        ASSERT_TRUE(find(entries, "www"));
        EXPECT_TRUE(find(entries, "www")->folder);
        ASSERT_TRUE(find(entries, "my docs"));
        EXPECT_TRUE(find(entries, "-rf"));
        EXPECT_TRUE(find(entries, " lead and trail ") || !mlsd);  // LIST cannot keep a lead blank
        EXPECT_TRUE(find(entries, "\xc3\xa9t\xc3\xa9 100%#.html"));

        auto htm = connection->ListFolder("/*.HTM");
        ASSERT_TRUE(htm);
        ASSERT_EQ(htm->entries.size(), 1u);
        EXPECT_EQ(htm->entries.front().name, "page.htm");

        auto sub = connection->ListFolder("/www/*.*");
        ASSERT_TRUE(sub);
        ASSERT_EQ(sub->entries.size(), 1u);
        EXPECT_EQ(sub->entries.front().name, "img");
        EXPECT_TRUE(sub->entries.front().folder);

        auto blank = connection->ListFolder("/my docs/*.*");
        ASSERT_TRUE(blank) << blank.error().text;
        EXPECT_TRUE(blank->entries.empty());  // an empty folder is an empty list

        auto missing = connection->ListFolder("/missing/*.*");
        ASSERT_FALSE(missing);
        EXPECT_EQ(missing.error().kind, FtpErrorKind::NotFound);
        // The connection still works after a failed listing.
        EXPECT_TRUE(connection->ListFolder("/www/*.*"));
    }
}

TEST_F(FtpConnectionTest, ActiveModeLists) {
    WriteBytes(root / "one.txt", "1");
    FtpServer server(root.path());
    auto connection = connect(server, false);
    ASSERT_TRUE(connection);
    auto list = connection->ListFolder("/*.*");
    ASSERT_TRUE(list) << list.error().text;
    ASSERT_EQ(list->entries.size(), 1u);
    EXPECT_EQ(list->entries.front().name, "one.txt");
}

// With a sink the entries arrive in batches while the listing comes in, each
// exactly once, the mask applied.
TEST_F(FtpConnectionTest, EntriesGoToTheSinkInBatches) {
    for (int i = 0; i < 4500; ++i) {
        WriteBytes(root / ("f" + std::to_string(i) + (i % 2 ? ".htm" : ".txt")), "");
    }
    FtpServer server(root.path());
    auto connection = connect(server);
    ASSERT_TRUE(connection);
    std::vector<std::size_t> batches;
    std::set<std::string> names;
    auto list = connection->ListFolder("/*.HTM", [&](std::vector<FtpFindData>&& entries) {
        batches.push_back(entries.size());
        for (auto& entry : entries) {
            EXPECT_TRUE(names.insert(entry.name).second) << entry.name;
        }
    });
    ASSERT_TRUE(list) << list.error().text;
    EXPECT_TRUE(list->entries.empty());
    EXPECT_EQ(names.size(), 2250u);
    EXPECT_GE(batches.size(), 2u);
}

// One odd line costs that line only; names that could leave their folder or
// end a command early are left out, never shown cut short.
TEST_F(FtpConnectionTest, OddLinesAreLeftOutAndTheRestIsListed) {
    WriteBytes(root / "real.txt", "r");
    FtpServerOptions options;
    options.extraListLines = {
        "drwxr-xr-x   2 u g 0 Jan 02  2020 ../x",
        "-rw-r--r--   1 u g 5 Jan 02  2020 ../../etc/passwd",
        "-rw-r--r--   1 u g 5 Jan 02  2020 nul<NUL>tail.txt",
        "-rw-r--r--   1 u g 5 Jan 02  2020 two\nlines.txt",
        "this is no listing line",
        "-rw-r--r--   1 u g 7 Jan 02  2020 after.txt",
    };
    options.extraMlsdLines = {
        "type=dir;modify=20200102000000; a/b",
        "type=file;size=5; nul<NUL>tail.txt",
        "type=file;size=5; two\nlines.txt",
        "no facts here",
        "type=file;size=7;modify=20200102000000; after.txt",
    };
    for (const bool mlsd : {true, false}) {
        SCOPED_TRACE(mlsd ? "MLSD" : "LIST");
        options.noMlst = !mlsd;
        FtpServer server(root.path(), options);
        auto connection = connect(server);
        ASSERT_TRUE(connection);
        auto list = connection->ListFolder("/*.*");
        ASSERT_TRUE(list) << list.error().text;
        std::vector<std::string> names;
        for (const auto& entry : list->entries) {
            names.push_back(entry.name);
        }
        EXPECT_EQ(names, (std::vector<std::string>{"real.txt", "after.txt"}));
        EXPECT_EQ(list->skipped.size(), mlsd ? 4u : 5u);
        EXPECT_EQ(find(list->entries, "after.txt")->size, 7);
    }
}

TEST_F(FtpConnectionTest, ListingsHaveADeadlineASizeCapAndStop) {
    struct Case {
        const char* what;
        FtpServerOptions options;
        FtpErrorKind kind;
    };
    FtpServerOptions drip, endless, stall;
    drip.dripSeconds = 0.5;
    endless.endlessListing = true;
    stall.stallAfterPasv = true;
    WriteBytes(root / "a.txt", "a");
    WriteBytes(root / "b.txt", "b");
    WriteBytes(root / "c.txt", "c");
    WriteBytes(root / "d.txt", "d");
    const Case cases[] = {
        {"drip", drip, FtpErrorKind::TimedOut},
        {"endless", endless, FtpErrorKind::TooLarge},
        {"stall after PASV", stall, FtpErrorKind::TimedOut},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FtpServer server(root.path(), c.options);
        auto p = params(server.port());
        p.timeouts.listingSeconds = 1;
        p.timeouts.listingMaxBytes = 1 << 20;
        auto connection = FtpConnection::Connect(*session, p);
        ASSERT_TRUE(connection) << connection.error().text;
        const auto start = std::chrono::steady_clock::now();
        auto list = (*connection)->ListFolder("/*.*");
        ASSERT_FALSE(list);
        EXPECT_EQ(list.error().kind, c.kind) << list.error().text;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
    }
    // A stop from another thread ends a dripping listing at once.
    FtpServer server(root.path(), drip);
    const auto [list, took] = stoppedAfter(server, std::chrono::milliseconds(300),
                                           [](FtpConnection& c) { return c.ListFolder("/*.*"); });
    ASSERT_FALSE(list);
    EXPECT_EQ(list.error().kind, FtpErrorKind::Stopped);
    EXPECT_LT(took, std::chrono::milliseconds(1900));
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
    EXPECT_TRUE(connection->ListFolder("/*.*"));

    WriteBytes(root / "f.txt", "f");
    auto reply = connection->SiteCommand("CHMOD 600 /f.txt");
    ASSERT_TRUE(reply) << reply.error().text;
    EXPECT_EQ(std::filesystem::status(root / "f.txt").permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    auto refused = connection->SiteCommand("CHMOD 600 /missing");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, FtpErrorKind::Refused);
}

// A command whose reply was lost may have been carried out: it is reported
// as a broken connection, not sent again (a second DELE would fail and hide
// that the file is gone).
TEST_F(FtpConnectionTest, ACommandIsNotSentTwiceWhenTheReplyIsLost) {
    WriteBytes(root / "gone.txt", "g");
    FtpServerOptions options;
    options.dropAfter = "DELE";
    FtpServer server(root.path(), options);
    auto connection = connect(server);
    ASSERT_TRUE(connection);
    auto deleted = connection->DeleteFile("/gone.txt");
    ASSERT_FALSE(deleted);
    EXPECT_EQ(deleted.error().kind, FtpErrorKind::Dropped) << deleted.error().text;
    EXPECT_FALSE(std::filesystem::exists(root / "gone.txt"));
    auto list = connection->ListFolder("/*.*");  // a new connection shows the truth
    ASSERT_TRUE(list) << list.error().text;
    EXPECT_TRUE(list->entries.empty());
}

TEST_F(FtpConnectionTest, ListsAgainAfterTheServerDroppedTheIdleSession) {
    WriteBytes(root / "f.txt", "f");
    FtpServerOptions options;
    options.idleTimeoutSeconds = 1;
    FtpServer server(root.path(), options);
    auto connection = connect(server);
    ASSERT_TRUE(connection);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    auto list = connection->ListFolder("/*.*");
    ASSERT_TRUE(list) << list.error().text;
    EXPECT_EQ(list->entries.size(), 1u);
    EXPECT_EQ(connection->TakeNotes(),
              std::vector<std::string>{"The connection had been closed; it was re-established."});
}

}  // namespace

namespace transfers {

using quill::test::FolderNames;
using quill::test::SmallFolder;

// Bytes that show a shifted or lost chunk: no two 1 KiB blocks are alike.
std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + i / 1024) & 0xff);
    }
    return bytes;
}

// Sizes around the old 1 KiB chunk and curl's buffers go up and come back
// byte for byte; the counter for the window ends at the size.
TEST_F(FtpConnectionTest, FilesGoUpAndComeBackByteForByte) {
    TempDir local;
    FtpServer server(root.path());
    auto connection = connect(server);
    ASSERT_TRUE(connection);
    for (const std::size_t size : {0u, 1u, 1023u, 1024u, 1025u, 3u * 1024 * 1024 + 7}) {
        SCOPED_TRACE(size);
        const std::string bytes = Pattern(size);
        const std::string name = "f" + std::to_string(size) + ".bin";
        WriteBytes(local / name, bytes);
        std::atomic<std::int64_t> moved{-1};
        auto up = connection->UploadFile(local / name, "/" + name, &moved);
        ASSERT_TRUE(up) << up.error().text;
        EXPECT_EQ(*up, static_cast<std::int64_t>(size));
        EXPECT_EQ(moved.load(), static_cast<std::int64_t>(size));
        EXPECT_TRUE(ReadBytes(root / name) == bytes);

        WriteBytes(local / name, "an older version");
        moved = -1;
        auto down = connection->DownloadFile("/" + name, local / name, &moved);
        ASSERT_TRUE(down) << down.error().text;
        EXPECT_EQ(*down, static_cast<std::int64_t>(size));
        EXPECT_EQ(moved.load(), static_cast<std::int64_t>(size));
        EXPECT_TRUE(ReadBytes(local / name) == bytes);
    }
    // A download that replaces a file keeps its permissions; a new one gets
    // the usual ones. No temp file stays behind.
    std::filesystem::permissions(local / "f1.bin", std::filesystem::perms::owner_read |
                                                       std::filesystem::perms::owner_write |
                                                       std::filesystem::perms::set_uid);
    ASSERT_TRUE(connection->DownloadFile("/f1.bin", local / "f1.bin"));
    EXPECT_EQ(std::filesystem::status(local / "f1.bin").permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ASSERT_TRUE(connection->DownloadFile("/f1.bin", local / "new.bin"));
    EXPECT_EQ(FolderNames(local.path()).size(), 7u);
    // UTF-8 names go both ways unchanged (FEAT lists UTF8 here).
    EXPECT_TRUE(connection->UsesUtf8());
    const std::string utf8 = "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC.html";
    WriteBytes(local / utf8, "utf8");
    ASSERT_TRUE(connection->UploadFile(local / utf8, "/" + utf8));
    EXPECT_EQ(ReadBytes(root / utf8), "utf8");
    ASSERT_TRUE(connection->DownloadFile("/" + utf8, local / "back.html"));
    EXPECT_EQ(ReadBytes(local / "back.html"), "utf8");
}

// Every way a download can fail leaves the local file exactly as it was;
// opened tells a failure of the file from one of its path.
TEST_F(FtpConnectionTest, AFailedDownloadLeavesTheLocalFileAsItWas) {
    const std::string big = Pattern(2 * 1024 * 1024);
    WriteBytes(root / "big.bin", big);
    struct Case {
        const char* what;
        FtpServerOptions options;
        std::string remote;
        FtpErrorKind kind;
        bool opened;
        bool fullDisk = false;
        bool readOnly = false;
        bool stop = false;
    };
    FtpServerOptions drop;
    drop.dropAfterBytes = 100000;
    FtpServerOptions slow;
    slow.rateBytesPerSecond = 200000;
    const Case cases[] = {
        {"missing on the server", {}, "/missing.bin", FtpErrorKind::NotFound, false},
        {"server drops mid-file", drop, "/big.bin", FtpErrorKind::Dropped, true},
        {"stopped mid-file", slow, "/big.bin", FtpErrorKind::Stopped, true, false, false, true},
        {"full disk", {}, "/big.bin", FtpErrorKind::Local, true, true},
        {"read-only folder", {}, "/big.bin", FtpErrorKind::Local, false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SmallFolder local(c.fullDisk ? 512 * 1024 : 16 * 1024 * 1024);
        if (c.fullDisk && !local.mounted()) {
            continue;  // only root can make a small file system here
        }
        WriteBytes(local / "big.bin", "the good old file");
        ASSERT_EQ(::chmod((local / "big.bin").c_str(), 04600), 0);
        if (c.readOnly) {
            local.makeReadOnly();
        }
        FtpServer server(root.path(), c.options);
        std::atomic<bool> stop{false};
        auto p = params(server.port());
        p.stop = &stop;
        auto connection = FtpConnection::Connect(*session, p);
        ASSERT_TRUE(connection);
        std::atomic<std::int64_t> moved{0};
        std::thread stopper([&] {
            while (c.stop && moved.load() < 50000) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            stop = c.stop;
        });
        auto down = (*connection)->DownloadFile(c.remote, local / "big.bin", &moved);
        stopper.join();
        ASSERT_FALSE(down);
        EXPECT_EQ(down.error().kind, c.kind) << down.error().text;
        EXPECT_EQ(down.error().opened, c.opened) << down.error().text;
        if (c.kind == FtpErrorKind::Local) {
            EXPECT_NE(down.error().text.find(local.path().native()), std::string::npos)
                << "names the place: " << down.error().text;
        }
        EXPECT_EQ(ReadBytes(local / "big.bin"), "the good old file");
        // What arrived before a break is kept aside for a resume.
        const auto names = FolderNames(local.path());
        const bool kept = c.kind == FtpErrorKind::Dropped || c.kind == FtpErrorKind::Stopped;
        ASSERT_EQ(names.size(), kept ? 2u : 1u);
        EXPECT_EQ(names.back(), "big.bin");
        if (kept) {
            EXPECT_TRUE(names[0].starts_with(kTransferTempPrefix)) << names[0];
            struct stat info {};
            ASSERT_EQ(::stat((local / names[0]).c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 07777, 0600u) << "as private as the file, no setuid bit";
        }
    }
}

// A download onto a symbolic link writes the file it names and keeps its
// mode; the link stays and no temporary file is left beside either.
TEST_F(FtpConnectionTest, DownloadsWriteThroughSymbolicLinks) {
    WriteBytes(root / "page.bin", "fresh");
    FtpServer server(root.path());
    auto connection = connect(server);
    ASSERT_TRUE(connection);
    TempDir local;
    std::filesystem::create_directories(local / "other");
    WriteBytes(local / "other" / "page.bin", "old");
    ASSERT_EQ(::chmod((local / "other" / "page.bin").c_str(), 0640), 0);
    std::filesystem::create_symlink("other/page.bin", local / "link.bin");
    auto down = connection->DownloadFile("/page.bin", local / "link.bin");
    ASSERT_TRUE(down) << down.error().text;
    EXPECT_TRUE(std::filesystem::is_symlink(local / "link.bin"));
    EXPECT_EQ(ReadBytes(local / "other" / "page.bin"), "fresh");
    EXPECT_EQ(std::filesystem::status(local / "other" / "page.bin").permissions(),
              static_cast<std::filesystem::perms>(0640));
    EXPECT_EQ(FolderNames(local / "other"), std::vector<std::string>{"page.bin"});
    EXPECT_EQ(FolderNames(local.path()), (std::vector<std::string>{"link.bin", "other"}));
}

TEST_F(FtpConnectionTest, UploadFailuresSayWhetherTheServerHadTheFileOpen) {
    TempDir local;
    WriteBytes(local / "page.htm", Pattern(1024 * 1024));
    {
        FtpServerOptions refuse;
        refuse.refuse = "STOR";
        FtpServer server(root.path(), refuse);
        auto connection = connect(server);
        ASSERT_TRUE(connection);
        auto up = connection->UploadFile(local / "page.htm", "/page.htm");
        ASSERT_FALSE(up);
        EXPECT_FALSE(up.error().opened) << up.error().text;
        EXPECT_NE(up.error().text.find("550"), std::string::npos) << up.error().text;

        auto missing = connection->UploadFile(local / "gone.htm", "/gone.htm");
        ASSERT_FALSE(missing);
        EXPECT_EQ(missing.error().kind, FtpErrorKind::Local);
        EXPECT_FALSE(missing.error().opened);
        EXPECT_NE(missing.error().text.find("gone.htm: No such file"), std::string::npos)
            << missing.error().text;
        EXPECT_FALSE(std::filesystem::exists(root / "gone.htm"));
        // A line break would smuggle a command onto the control channel.
        auto smuggled = connection->UploadFile(local / "page.htm", "/a\r\nDELE /b");
        ASSERT_FALSE(smuggled);
        EXPECT_FALSE(smuggled.error().opened);
    }
    FtpServerOptions slow;
    slow.rateBytesPerSecond = 200000;
    FtpServer server(root.path(), slow);
    const auto [up, took] = stoppedAfter(
        server, std::chrono::milliseconds(400),
        [&](FtpConnection& c) { return c.UploadFile(local / "page.htm", "/page.htm"); });
    ASSERT_FALSE(up);
    EXPECT_EQ(up.error().kind, FtpErrorKind::Stopped);
    EXPECT_TRUE(up.error().opened);
    EXPECT_LT(took, std::chrono::milliseconds(1500));
}

}  // namespace transfers

namespace transfers {

// Sizes and counts are 64-bit: a sparse file past 4 GiB goes both ways with
// its marks at the right places.
TEST_F(FtpConnectionTest, FilesPastFourGibibytes) {
    constexpr std::int64_t kSize = (std::int64_t{1} << 32) + 3;
    const std::pair<std::int64_t, char> marks[] = {{0, 'a'},
                                                   {(std::int64_t{1} << 31), 'b'},
                                                   {(std::int64_t{1} << 32) - 1, 'c'},
                                                   {kSize - 1, 'd'}};
    auto writeSparse = [&](const std::filesystem::path& path) {
        WriteBytes(path, "");
        std::filesystem::resize_file(path, static_cast<std::uintmax_t>(kSize));
        std::FILE* file = std::fopen(path.c_str(), "r+b");
        ASSERT_TRUE(file);
        for (const auto& [at, mark] : marks) {
            ASSERT_EQ(::fseeko(file, at, SEEK_SET), 0);
            std::fputc(mark, file);
        }
        std::fclose(file);
    };
    auto checkMarks = [&](const std::filesystem::path& path) {
        EXPECT_EQ(std::filesystem::file_size(path), static_cast<std::uintmax_t>(kSize));
        std::FILE* file = std::fopen(path.c_str(), "rb");
        ASSERT_TRUE(file);
        for (const auto& [at, mark] : marks) {
            ASSERT_EQ(::fseeko(file, at, SEEK_SET), 0);
            EXPECT_EQ(std::fgetc(file), mark) << at;
        }
        std::fclose(file);
    };
    TempDir local;
    writeSparse(local / "huge.bin");
    FtpServer server(root.path());
    auto connection = connect(server);
    ASSERT_TRUE(connection);
    std::atomic<std::int64_t> moved{0};
    auto up = connection->UploadFile(local / "huge.bin", "/huge.bin", &moved);
    ASSERT_TRUE(up) << up.error().text;
    EXPECT_EQ(*up, kSize);
    EXPECT_EQ(moved.load(), kSize);
    checkMarks(root / "huge.bin");
    std::filesystem::remove(local / "huge.bin");
    auto down = connection->DownloadFile("/huge.bin", local / "huge.bin", &moved);
    ASSERT_TRUE(down) << down.error().text;
    EXPECT_EQ(*down, kSize);
    checkMarks(local / "huge.bin");
}

}  // namespace transfers
