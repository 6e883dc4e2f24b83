// FTPS and SFTP through the same connection class: trust of unknown and
// changed keys, and every operation, against a loopback pyftpdlib with TLS
// and a loopback OpenSSH sshd.
#include "net/FtpConnection.h"
#include "net/ServerTrust.h"

#include "support/FtpServer.h"
#include "support/SecureServer.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <thread>

using namespace quill;
using quill::test::ReadBytes;
using quill::test::TempDir;
using quill::test::WriteBytes;

namespace {

mode_t modeOf(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

TEST(ServerTrustTest, FingerprintsNamesAndKeyTypes) {
    const std::string blob = test::DecodeBase64(test::kOtherKeyBase64);
    EXPECT_EQ(SshKeyFingerprint(blob), test::kOtherKeyFingerprint);
    EXPECT_EQ(SshKeyType(blob), "ssh-ed25519");
    // Too short, a length past the end, a type that is not text.
    for (const std::string& bad : {std::string("\0\0\0", 3), std::string("\0\0\0\x20ssh", 7),
                                   std::string("\0\0\0\x02\x01\x02", 6), std::string()}) {
        EXPECT_EQ(SshKeyType(bad), "");
    }
    // "abc" has a well-known SHA-256.
    EXPECT_EQ(CertificateFingerprint("abc"),
              "BA:78:16:BF:8F:01:CF:EA:41:41:40:DE:5D:AE:22:23:B0:03:61:A3:96:17:7A:9C:B4:10:FF:"
              "61:F2:00:15:AD");
    EXPECT_EQ(KnownHostsName("example.org", 22), "example.org");
    EXPECT_EQ(KnownHostsName("127.0.0.1", 2222), "[127.0.0.1]:2222");
    EXPECT_EQ(ServerName("example.org", 21), "example.org:21");
    EXPECT_EQ(ServerName("::1", 990), "[::1]:990");
}

TEST(ServerTrustTest, FilesKeepOtherLinesAndStayOwnerOnly) {
    TempDir dir;
    const auto certificates = dir.path() / kKnownCertificatesFile;
    WriteBytes(certificates, "a.example:21 AA:BB\nb.example:21 CC:DD");
    ASSERT_TRUE(RememberCertificate(certificates, "a.example:21", "EE:FF"));
    EXPECT_EQ(ReadBytes(certificates), "b.example:21 CC:DD\na.example:21 EE:FF\n");
    EXPECT_EQ(RememberedCertificate(certificates, "a.example:21"), "EE:FF");
    EXPECT_EQ(RememberedCertificate(certificates, "c.example:21"), std::nullopt);
    EXPECT_EQ(modeOf(certificates), 0600u);
    EXPECT_FALSE(RememberCertificate(certificates, "a b:21", "EE:FF"));

    const auto hosts = dir.path() / kKnownHostsFile;
    WriteBytes(hosts, "old.example ssh-rsa AAAA");
    ASSERT_TRUE(
        RememberHostKey(hosts, "[127.0.0.1]:2222", test::DecodeBase64(test::kOtherKeyBase64)));
    EXPECT_EQ(ReadBytes(hosts),
              std::string("old.example ssh-rsa AAAA\n[127.0.0.1]:2222 ssh-ed25519 ") +
                  test::kOtherKeyBase64 + "\n");
    EXPECT_EQ(modeOf(hosts), 0600u);
    EXPECT_FALSE(RememberHostKey(hosts, "h", "not a key"));
}

class SecureConnectionTest : public ::testing::TestWithParam<FtpProtocol> {
protected:
    void SetUp() override {
        std::string why;
        if (!test::SecureServer::Available(GetParam(), &why)) {
            GTEST_SKIP() << why;
        }
        server.emplace(GetParam());
    }
    FtpResult<std::unique_ptr<FtpConnection>> connect(std::string accepted = {},
                                                      std::string password = "secret") {
        return FtpConnection::Connect(*session,
                                      server->params(std::move(accepted), std::move(password)));
    }
    std::unique_ptr<NetworkLibrary> session = NetworkLibrary::Open("Quillmint");
    std::optional<test::SecureServer> server;
};

TEST_P(SecureConnectionTest, UnknownKeyIsTrustedOnlyOnceAcceptedAndThenRemembered) {
    for (const std::string accepted : {"", "SHA256:somethingelse"}) {
        auto refused = connect(accepted);
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().kind, FtpErrorKind::Untrusted) << refused.error().text;
        ASSERT_TRUE(refused.error().key);
        EXPECT_EQ(refused.error().key->fingerprint, server->fingerprint);
        EXPECT_EQ(refused.error().key->server, ServerName("127.0.0.1", server->port()));
        EXPECT_FALSE(refused.error().key->changed);
        EXPECT_EQ(refused.error().key->type,
                  GetParam() == FtpProtocol::Ftps ? "certificate" : "ssh-ed25519");
        EXPECT_FALSE(std::filesystem::exists(server->trustFile()));
    }
    ASSERT_TRUE(connect(server->fingerprint));
    const std::string remembered = ReadBytes(server->trustFile());
    EXPECT_NE(remembered, "");
    // Remembered: no question the next time, and nothing written again.
    auto again = connect();
    ASSERT_TRUE(again) << again.error().text;
    EXPECT_EQ(ReadBytes(server->trustFile()), remembered);
}

TEST_P(SecureConnectionTest, AKeyThatCannotBeRememberedStillConnectsAndSaysSo) {
    test::SmallFolder readOnly;
    if (!readOnly.mounted()) {
        GTEST_SKIP() << "no small folder can be mounted here";
    }
    readOnly.makeReadOnly();
    auto params = server->params(server->fingerprint);
    params.trustFolder = readOnly.path();
    auto connected = FtpConnection::Connect(*session, params);
    ASSERT_TRUE(connected) << connected.error().text;
    EXPECT_NE((*connected)->TrustNote().find("could not be remembered"), std::string::npos);
    params.trustFolder = server->trust.path();
    auto remembered = FtpConnection::Connect(*session, params);
    ASSERT_TRUE(remembered);
    EXPECT_EQ((*remembered)->TrustNote(), "");
}

TEST_P(SecureConnectionTest, ChangedKeyIsRefusedEvenWhenAccepted) {
    server->rememberOtherKey();
    const std::string before = ReadBytes(server->trustFile());
    for (const std::string& accepted : {std::string(), server->fingerprint}) {
        auto refused = connect(accepted);
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().kind, FtpErrorKind::Untrusted);
        ASSERT_TRUE(refused.error().key);
        EXPECT_TRUE(refused.error().key->changed);
        EXPECT_EQ(refused.error().key->fingerprint, server->fingerprint);
        EXPECT_NE(refused.error().text.find("changed"), std::string::npos);
    }
    EXPECT_EQ(ReadBytes(server->trustFile()), before);
}

TEST_P(SecureConnectionTest, WrongPasswordIsRefusedWithoutShowingIt) {
    auto refused = connect(server->fingerprint, "Wr0ngPassw0rd");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, FtpErrorKind::Refused) << refused.error().text;
    EXPECT_EQ(refused.error().text.find("Wr0ngPassw0rd"), std::string::npos);
}

TEST_P(SecureConnectionTest, EveryOperationAndTransferWorks) {
    auto connected = connect(server->fingerprint);
    ASSERT_TRUE(connected) << connected.error().text;
    FtpConnection& connection = **connected;
    EXPECT_EQ(connection.protocol(), GetParam());
    // The login folder is where the server put us: "/" for pyftpdlib, the
    // served folder's real path for sshd.
    std::string base = connection.CurrentDirectory();
    ASSERT_FALSE(base.empty());
    if (base.back() != '/') {
        base += '/';
    }
    const auto local = [&](std::string_view name) { return server->files.path() / name; };
    WriteBytes(local("old.txt"), "old");
    server->handOver();

    TempDir here;
    // A name that needs quoting in SFTP commands and escaping in addresses.
    const std::string odd = "a \"q\" \\b #%.txt";
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{100 * 1024 + 3}}) {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i) {
            bytes[i] = static_cast<char>((i * 131) % 251);
        }
        WriteBytes(here.path() / "up.bin", bytes);
        auto up = connection.UploadFile(here.path() / "up.bin", base + odd);
        ASSERT_TRUE(up) << up.error().text;
        EXPECT_EQ(*up, static_cast<std::int64_t>(size));
        EXPECT_EQ(ReadBytes(local(odd)), bytes);
        auto down = connection.DownloadFile(base + odd, here.path() / "down.bin");
        ASSERT_TRUE(down) << down.error().text;
        EXPECT_EQ(ReadBytes(here.path() / "down.bin"), bytes);
    }

    ASSERT_TRUE(connection.CreateDirectory(base + "new dir"));
    EXPECT_TRUE(std::filesystem::is_directory(local("new dir")));
    auto twice = connection.CreateDirectory(base + "new dir");
    ASSERT_FALSE(twice);
    EXPECT_EQ(twice.error().kind, FtpErrorKind::Refused) << twice.error().text;

    auto mode = connection.ChangeMode(base + "old.txt", "600");
    ASSERT_TRUE(mode) << mode.error().text;
    EXPECT_EQ(modeOf(local("old.txt")), 0600u);

    ASSERT_TRUE(connection.RenameFile(base + "old.txt", base + "renamed.txt"));
    EXPECT_EQ(ReadBytes(local("renamed.txt")), "old");

    auto listing = connection.ListFolder(base + "*.*");
    ASSERT_TRUE(listing) << listing.error().text;
    std::set<std::string> names;
    for (const auto& entry : listing->entries) {
        names.insert(entry.name + (entry.folder ? "/" : ""));
    }
    EXPECT_EQ(names, (std::set<std::string>{odd, "new dir/", "renamed.txt"}));

    ASSERT_TRUE(connection.DeleteFile(base + "renamed.txt"));
    ASSERT_TRUE(connection.DeleteFile(base + odd));
    ASSERT_TRUE(connection.RemoveDirectory(base + "new dir"));
    auto missing = connection.DeleteFile(base + "renamed.txt");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind, FtpErrorKind::Refused);
    auto empty = connection.ListFolder(base + "*.*");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->entries.empty());
    auto gone = connection.ListFolder(base + "nothere/*.*");
    ASSERT_FALSE(gone);
    EXPECT_EQ(gone.error().kind, FtpErrorKind::NotFound) << gone.error().text;
}

// A stopped upload over a good file leaves that file whole; the next upload
// of the same file goes on from where the first one stopped.
TEST_P(SecureConnectionTest, AStoppedUploadLeavesTheFileWholeAndResumes) {
    std::atomic<bool> stop{false};
    auto params = server->params(server->fingerprint);
    params.stop = &stop;
    auto connected = FtpConnection::Connect(*session, params);
    ASSERT_TRUE(connected) << connected.error().text;
    FtpConnection& connection = **connected;
    std::string base = connection.CurrentDirectory();
    if (base.back() != '/') {
        base += '/';
    }
    const auto served = server->files.path();
    WriteBytes(served / "page.html", "the good page");
    server->handOver();
    TempDir here;
    std::string fresh(std::size_t{48} << 20, '\0');
    for (std::size_t i = 0; i < fresh.size(); ++i) {
        fresh[i] = static_cast<char>((i * 131 + i / 4096) % 251);
    }
    WriteBytes(here.path() / "page.html", fresh);
    std::atomic<std::int64_t> moved{0};
    std::atomic<bool> over{false};
    std::thread stopper([&] {
        while (!over && moved.load() < (std::int64_t{4} << 20)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        stop = true;
    });
    auto up = connection.UploadFile(here.path() / "page.html", base + "page.html", &moved);
    over = true;
    stopper.join();
    ASSERT_FALSE(up);
    EXPECT_EQ(up.error().kind, FtpErrorKind::Stopped) << up.error().text;
    EXPECT_TRUE(up.error().opened && up.error().targetIntact);
    EXPECT_EQ(ReadBytes(served / "page.html"), "the good page");
    EXPECT_EQ(test::FolderNames(served).size(), 2u) << "the unfinished upload is kept";

    stop = false;
    connection.TakeNotes();
    auto resumed = connection.UploadFile(here.path() / "page.html", base + "page.html", &moved);
    ASSERT_TRUE(resumed) << resumed.error().text;
    EXPECT_TRUE(ReadBytes(served / "page.html") == fresh);
    EXPECT_EQ(test::FolderNames(served), std::vector<std::string>{"page.html"});
    const auto notes = connection.TakeNotes();
    EXPECT_TRUE(std::any_of(notes.begin(), notes.end(), [](const std::string& note) {
        return note.find(" resumed at ") != std::string::npos;
    }));
}

INSTANTIATE_TEST_SUITE_P(Protocols, SecureConnectionTest,
                         ::testing::Values(FtpProtocol::Ftps, FtpProtocol::Sftp),
                         [](const auto& info) { return std::string(ProtocolName(info.param)); });

TEST(FtpsTest, PlainServerIsRefusedNotUsedInClearText) {
    TempDir root;
    test::FtpServer plain(root.path());
    FtpConnectParams p;
    p.protocol = FtpProtocol::Ftps;
    p.host = "127.0.0.1";
    p.port = static_cast<std::uint16_t>(plain.port());
    p.user = "user";
    p.password = "secret";
    auto session = NetworkLibrary::Open("Quillmint");
    auto refused = FtpConnection::Connect(*session, p);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().kind, FtpErrorKind::Untrusted);
}

}  // namespace
