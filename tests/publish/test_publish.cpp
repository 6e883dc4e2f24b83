// The publish command, run as the program itself against real servers on
// loopback: pyftpdlib and vsftpd.
#include "ftp/SiteProfiles.h"
#include "net/ServerTrust.h"
#include "publish/Publisher.h"

#include "support/ChildProcess.h"
#include "support/FtpServer.h"
#include "support/TestCertificate.h"
#include "support/TestFiles.h"
#include "support/VsftpdServer.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <thread>

using namespace quill;
using namespace quill::test;
namespace fs = std::filesystem;

namespace {

// The paths a run names in its output lines starting with verb.
std::set<std::string> named(const std::string& output, const std::string& verb) {
    std::set<std::string> paths;
    for (std::size_t at = 0; at < output.size();) {
        const auto end = output.find('\n', at);
        const std::string line = output.substr(at, end - at);
        at = end == std::string::npos ? output.size() : end + 1;
        if (line.starts_with(verb + ' ')) {
            paths.insert(line.substr(verb.size() + 1, line.rfind(" (") - verb.size() - 1));
        }
    }
    return paths;
}

// A program folder with a saved site "web", a local folder and a server.
class Publish : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("QUILLMINT_PROGRAM_FOLDER", (dir / "program").c_str(), 1);
        fs::create_directories(dir / "program");
        fs::create_directories(dir / "server");
        fs::create_directories(local);
    }
    void useServer(FtpServerOptions options = {}) {
        options.commandLog = dir / "commands.log";
        pyftpd.reset();
        pyftpd = std::make_unique<FtpServer>(dir / "server", options);
        saveSite(pyftpd->port(), "user", "secret");
        remote = "/www";
        remoteDisk = dir / "server" / "www";
    }
    void useVsftpd() {
        vsftpd = std::make_unique<VsftpdServer>();
        saveSite(vsftpd->port(), "anonymous", "x");
        remote = "up/www";  // below the login folder: vsftpd here does not chroot
        remoteDisk = vsftpd->root() / "up" / "www";
    }
    void saveSite(int port, const std::string& user, const std::string& password,
                  FtpProtocol protocol = FtpProtocol::Ftp) {
        ASSERT_TRUE(
            SiteProfiles(dir / "program")
                .Save({"web", "127.0.0.1", user, password, std::to_string(port), protocol}));
    }
    ProgramResult run(std::vector<std::string> options = {}, const std::string& site = "web") {
        std::vector<std::string> args{QUILLMINT_EXECUTABLE, "publish"};
        args.insert(args.end(), options.begin(), options.end());
        args.insert(args.end(), {site, local.native(), remote});
        return RunProgram(args);
    }
    // Every local file is on the server, byte for byte.
    void expectPublished() {
        for (const auto& entry : fs::recursive_directory_iterator(local)) {
            if (entry.is_regular_file()) {
                const fs::path path = fs::relative(entry.path(), local);
                EXPECT_EQ(ReadBytes(remoteDisk / path), ReadBytes(entry.path())) << path;
            }
        }
    }
    std::string changingCommands() const {
        std::string found;
        const std::string log = ReadBytes(dir / "commands.log");
        for (const char* command : {"STOR ", "DELE ", "RNTO ", "MKD "}) {
            found += log.find(command) != std::string::npos ? command : "";
        }
        return found;
    }
    fs::path recordFile() const { return PublishRecordFile(dir / "program", "web", remote); }

    TempDir dir;
    fs::path local = dir / "site";
    std::string remote;
    fs::path remoteDisk;
    std::unique_ptr<FtpServer> pyftpd;
    std::unique_ptr<VsftpdServer> vsftpd;
};

TEST_F(Publish, SendsOnlyWhatChangedOnEachServer) {
    struct Change {
        const char* name;
        std::function<void(const fs::path& local, const fs::path& remote)> apply;
        std::set<std::string> uploaded, replaced;
    };
    const Change changes[] = {
        {"nothing", [](auto&, auto&) {}, {}, {}},
        {"the time only",
         [](const fs::path& l, auto&) {
             fs::last_write_time(l / "a.html",
                                 fs::file_time_type::clock::now() - std::chrono::hours(50));
         },
         {},
         {}},
        {"the content only, same size and time",
         [](const fs::path& l, auto&) {
             const auto time = fs::last_write_time(l / "b.html");
             WriteBytes(l / "b.html", "<p>B2</p>");
             fs::last_write_time(l / "b.html", time);
         },
         {},
         {"b.html"}},
        {"deleted on the server",
         [](auto&, const fs::path& r) { fs::remove(r / "sub/c.html"); },
         {"sub/c.html"},
         {}},
        {"another size on the server",
         [](auto&, const fs::path& r) { WriteBytes(r / "a.html", "cut"); },
         {},
         {"a.html"}},
        {"a new file and a leftover temporary file",
         [](const fs::path& l, const fs::path& r) {
             WriteBytes(l / "sub/new.html", "new");
             WriteBytes(r / ".quillmint-abc123.part", "half");
         },
         {"sub/new.html"},
         {}},
    };
    for (const bool useVsftpdServer : {false, true}) {
        SCOPED_TRACE(useVsftpdServer ? "vsftpd" : "pyftpdlib");
        fs::remove_all(local);
        fs::remove_all(dir / "program" / "publish");
        fs::create_directories(local / "sub");
        WriteBytes(local / "a.html", "<p>A</p>");
        WriteBytes(local / "b.html", "<p>B</p>");
        fs::create_directories(local / "sub");
        WriteBytes(local / "sub/c.html", "<p>C</p>");
        WriteBytes(local / ".htaccess", "Options -Indexes\n");
        useVsftpdServer ? useVsftpd() : useServer();

        auto first = run();
        ASSERT_EQ(first.exitCode, 0) << first.output;
        EXPECT_EQ(named(first.output, "upload"),
                  (std::set<std::string>{".htaccess", "a.html", "b.html", "sub/c.html"}));
        expectPublished();
        for (const Change& change : changes) {
            SCOPED_TRACE(change.name);
            change.apply(local, remoteDisk);
            fs::remove(dir / "commands.log");
            const auto result = run();
            EXPECT_EQ(result.exitCode, 0) << result.output;
            EXPECT_EQ(named(result.output, "upload"), change.uploaded) << result.output;
            EXPECT_EQ(named(result.output, "replace"), change.replaced) << result.output;
            expectPublished();
            EXPECT_FALSE(fs::exists(remoteDisk / ".quillmint-abc123.part"));
            if (!useVsftpdServer && change.uploaded.empty() && change.replaced.empty()) {
                EXPECT_EQ(changingCommands(), "");
            }
        }
        vsftpd.reset();
    }
}

TEST_F(Publish, DeleteTouchesOnlyFilesThisFolderPublished) {
    useServer();
    WriteBytes(local / "keep.html", "keep");
    WriteBytes(local / "old.html", "old");
    ASSERT_EQ(run().exitCode, 0);
    // Another folder publishes to the same place; a file comes by hand.
    const fs::path otherLocal = dir / "other";
    fs::create_directories(otherLocal);
    WriteBytes(otherLocal / "other.html", "other");
    ASSERT_EQ(
        RunProgram({QUILLMINT_EXECUTABLE, "publish", "web", otherLocal.native(), remote}).exitCode,
        0);
    WriteBytes(remoteDisk / "byhand.html", "mine");
    fs::remove(local / "old.html");
    const std::string record = ReadBytes(recordFile());

    auto dry = run({"--dry-run", "--delete"});
    EXPECT_EQ(dry.exitCode, 0) << dry.output;
    EXPECT_EQ(named(dry.output, "would delete"), std::set<std::string>{"old.html"});
    EXPECT_EQ(ReadBytes(recordFile()), record) << "a dry run writes no record";
    EXPECT_TRUE(fs::exists(remoteDisk / "old.html"));
    EXPECT_EQ(run().exitCode, 0);
    EXPECT_TRUE(fs::exists(remoteDisk / "old.html")) << "deleted without --delete";

    // A file that cannot be published holds the deletions back.
    fs::create_symlink(dir / "nowhere", local / "broken.html");
    auto held = run({"--delete"});
    EXPECT_EQ(held.exitCode, 1) << held.output;
    EXPECT_TRUE(fs::exists(remoteDisk / "old.html"));
    fs::remove(local / "broken.html");

    auto deleted = run({"--delete"});
    EXPECT_EQ(deleted.exitCode, 0) << deleted.output;
    EXPECT_EQ(named(deleted.output, "delete"), std::set<std::string>{"old.html"});
    EXPECT_EQ(FolderNames(remoteDisk),
              (std::vector<std::string>{"byhand.html", "keep.html", "other.html"}));
    EXPECT_EQ(named(run({"--delete"}).output, "delete"), std::set<std::string>{});
}

// Ctrl+C stops safely and clears the temporary file; a kill leaves it for
// the next run to clear. Either way the old file stays whole.
TEST_F(Publish, AStopOrAKillDuringAReplacementLeavesTheOldFile) {
    FtpServerOptions slow;
    slow.rateBytesPerSecond = 400'000;
    useServer(slow);
    WriteBytes(local / "page.html", "old page");
    ASSERT_EQ(run().exitCode, 0);
    const std::string bigger(std::size_t{3} << 20, 'n');
    WriteBytes(local / "page.html", bigger);

    for (const int signal : {SIGINT, SIGKILL}) {
        SCOPED_TRACE(signal);
        const pid_t pid =
            StartProcess({QUILLMINT_EXECUTABLE, "publish", "web", local.native(), remote}, -1, -1);
        bool sending = false;
        for (int i = 0; i < 1000 && !sending; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            for (const auto& name : FolderNames(remoteDisk)) {
                sending =
                    sending || (IsTransferTempName(name) && fs::file_size(remoteDisk / name) > 0);
            }
        }
        ASSERT_TRUE(sending);
        ::kill(pid, signal);
        int status = 0;
        for (int i = 0; i < 500 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_EQ(ReadBytes(remoteDisk / "page.html"), "old page");
        if (signal == SIGINT) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
            EXPECT_EQ(FolderNames(remoteDisk), std::vector<std::string>{"page.html"});
        }
    }

    useServer();
    auto again = run();
    EXPECT_EQ(again.exitCode, 0) << again.output;
    EXPECT_EQ(named(again.output, "replace"), std::set<std::string>{"page.html"});
    EXPECT_EQ(FolderNames(remoteDisk), std::vector<std::string>{"page.html"});
    EXPECT_EQ(ReadBytes(remoteDisk / "page.html"), bigger);
}

TEST_F(Publish, GoesOnWithTheConnectionsTheServerAllows) {
    FtpServerOptions two;
    two.maxConnections = 2;
    useServer(two);
    for (int i = 0; i < 12; ++i) {
        WriteBytes(local / ("p" + std::to_string(i) + ".html"), std::string(5000 + i, 'x'));
    }
    auto result = run({"--connections", "4"});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("going on with fewer"), std::string::npos) << result.output;
    expectPublished();
}

// vsftpd by default takes a data connection only when it resumes its
// control connection's TLS session.
TEST_F(Publish, FtpsDataConnectionsResumeTheirSession) {
    const auto tls = MakeTestCertificate(dir.path(), "vsftpd");
    vsftpd = std::make_unique<VsftpdServer>(
        "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\n"
        "force_anon_data_ssl=YES\nrequire_ssl_reuse=YES\nrsa_cert_file=" +
        tls.certificate.native() + "\nrsa_private_key_file=" + tls.key.native() + "\n");
    saveSite(vsftpd->port(), "anonymous", "x", FtpProtocol::Ftps);
    ASSERT_TRUE(RememberCertificate(dir / "program" / kKnownCertificatesFile,
                                    ServerName("127.0.0.1", vsftpd->port()), tls.fingerprint));
    remote = "up/tls";
    remoteDisk = vsftpd->root() / "up" / "tls";
    for (int i = 0; i < 40; ++i) {
        WriteBytes(local / ("p" + std::to_string(i) + ".html"), std::string(3000 + i, 's'));
    }
    auto result = run({"--connections", "2"});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    expectPublished();
}

TEST_F(Publish, FailedFilesAreTriedAgainAndBadInputSendsNothing) {
    FtpServerOptions refusing;
    refusing.refuse = "STOR";
    useServer(refusing);
    WriteBytes(local / "a.html", "a");
    auto failed = run();
    EXPECT_EQ(failed.exitCode, 1) << failed.output;
    EXPECT_NE(failed.output.find("failed a.html: "), std::string::npos) << failed.output;
    useServer();
    EXPECT_EQ(named(run().output, "upload"), std::set<std::string>{"a.html"});

    fs::remove(dir / "commands.log");
    ASSERT_TRUE(SiteProfiles(dir / "program").Save({"badport", "127.0.0.1", "u", "p", "99999"}));
    const std::vector<std::vector<std::string>> usages = {
        {"web", local.native()},
        {"--connections", "0", "web", local.native(), remote},
        {"--connections", "9", "web", local.native(), remote},
        {"--connections", "x", "web", local.native(), remote},
        {"--bogus", "web", local.native(), remote},
        {"nosuch", local.native(), remote},
        {"../web", local.native(), remote},
        {"badport", local.native(), remote},
        {"web", (dir / "missing").native(), remote},
    };
    for (const auto& arguments : usages) {
        std::vector<std::string> args{QUILLMINT_EXECUTABLE, "publish"};
        args.insert(args.end(), arguments.begin(), arguments.end());
        const auto result = RunProgram(args);
        EXPECT_EQ(result.exitCode, 2) << arguments[0] << ' ' << arguments[1];
        EXPECT_NE(result.output.find("Usage: quillmint publish"), std::string::npos);
    }
    EXPECT_EQ(ReadBytes(dir / "commands.log"), "<missing>") << "a usage error connects";
    WriteBytes(dir / "program" / "web.ftp",
               "[PROFIL]\r\nadresa=127.0.0.1\r\npassstore=keyring\r\n");
    const auto locked = run();  // no keyring answers in tests
    EXPECT_EQ(locked.exitCode, 1);
    EXPECT_NE(locked.output.find("but could not be read"), std::string::npos) << locked.output;
    EXPECT_EQ(ReadBytes(dir / "commands.log"), "<missing>");
}

}  // namespace
