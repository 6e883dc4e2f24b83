#include "ftp/RemoteListing.h"

#include "common/TextOps.h"
#include "ftp/FtpSession.h"
#include "ftp/StatusLog.h"

#include <gtest/gtest.h>

#include <tuple>

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
    EXPECT_EQ(listing.files[0].bytes, 1536);
    EXPECT_EQ(RemoteSizeText(listing.files[0].bytes), "1.5Kb");
    EXPECT_EQ(RemoteDateText(listing.files[0].time), "7.12.2008 9:05");
    EXPECT_EQ(listing.files[1].type, 10);
    EXPECT_EQ(RemoteSizeText(listing.files[1].bytes), "0Kb");
    EXPECT_EQ(listing.files[1].time, FileListRow::kUnknown);
    EXPECT_EQ(listing.files[2].bytes, 3'000'000'000LL);  // beyond 32 bits
    EXPECT_EQ(RemoteSizeText(listing.files[2].bytes), "2 929 687.5Kb");
    EXPECT_EQ(listing.files[2].type, 7);
    EXPECT_LT(PackedListingTime({2008, 12, 31, 23, 59}), PackedListingTime({2009, 1, 1, 0, 0}));
    EXPECT_EQ(RemoteDateText(PackedListingTime({9999, 1, 2, 3, 4})), "2.1.9999 3:04");
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

TEST(RemoteListing, LoginFolderNodesFromTheRootDown) {
    using Nodes = std::vector<std::pair<std::string, std::string>>;
    const std::pair<std::string, Nodes> cases[] = {
        {"/", {}},
        {"/home/", {{"home", "/home/"}}},
        {"/home/u b/r\xc3\xa9s/",
         {{"home", "/home/"}, {"u b", "/home/u b/"}, {"r\xc3\xa9s", "/home/u b/r\xc3\xa9s/"}}},
    };
    for (const auto& [path, expected] : cases) {
        Nodes nodes;
        for (const auto& node : LoginFolderNodes(path)) {
            nodes.emplace_back(node.name, node.key);
        }
        EXPECT_EQ(nodes, expected) << path;
    }
}

// The site manager's Connect: what it refuses, and a scheme, port, user or
// password in the address going before the other fields.
TEST(FtpSessionValues, ConnectRequestFromTheFields) {
    const std::tuple<const char*, const char*, FtpProtocol, std::string> cases[] = {
        {"abcdef", "21", FtpProtocol::Ftp, "refused Wrong adress!"},
        {"sftp://:0", "21", FtpProtocol::Ftp, "refused Wrong adress!"},
        {"127.0.0.1", "0", FtpProtocol::Ftp,
         "port The port must be a whole number from 1 to 65535."},
        {" host.example ", "2121", FtpProtocol::Ftp, "FTP host.example:2121 u/p"},
        {"sftp://host.example", "21", FtpProtocol::Ftp, "SFTP host.example:22 u/p"},
        {"sftp://host.example", "2121", FtpProtocol::Ftp, "SFTP host.example:2121 u/p"},
        {"ftps://bob:pa#s@s@host.example:990/www", "x", FtpProtocol::Sftp,
         "FTPS host.example:990 bob/pa#s@s"},
    };
    for (const auto& [server, port, chosen, expected] : cases) {
        const auto request = ConnectRequestFor(ConnectFields{QString::fromLatin1(server),
                                                             QStringLiteral("u"),
                                                             QStringLiteral("p"),
                                                             QString::fromLatin1(port),
                                                             {},
                                                             chosen,
                                                             false});
        const std::string got = request
                                    ? std::string(ProtocolName(request->protocol)) + " " +
                                          request->server + ":" + std::to_string(request->port) +
                                          " " + request->user + "/" + request->password
                                    : (request.error().port ? "port " : "refused ") +
                                          request.error().message.toStdString();
        EXPECT_EQ(got, expected) << server;
        if (request) {
            EXPECT_EQ(request->siteName, "Quillmint 2012");
            EXPECT_FALSE(request->passive);
        }
    }
}

TEST(FtpSessionValues, SearchPatternAndNames) {
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

TEST(FtpSessionValues, TrustPromptAndAnswer) {
    const std::filesystem::path folder = "/home/u/.local/share/Quillmint";
    struct Case {
        FtpServerKey key;
        FtpProtocol protocol;
        bool question;
        std::string text;
    };
    const Case cases[] = {
        {{"AB:CD:EF", "certificate", "127.0.0.1:2121", false, "self-signed certificate"},
         FtpProtocol::Ftps,
         true,
         "The server 127.0.0.1:2121 showed a certificate you have not trusted before "
         "(self-signed certificate).\r\nSHA-256 fingerprint: AB:CD:EF\r\n\r\n"
         "Do you trust it and want to connect?"},
        {{"SHA256:abc+/=", "ssh-ed25519", "[127.0.0.1]:2222", false, ""},
         FtpProtocol::Sftp,
         true,
         "The server [127.0.0.1]:2222 showed a host key (ssh-ed25519) you have not trusted "
         "before.\r\nSHA-256 fingerprint: SHA256:abc+/=\r\n\r\n"
         "Do you trust it and want to connect?"},
        {{"SHA256:new", "ssh-rsa", "example.test:22", true, ""},
         FtpProtocol::Sftp,
         false,
         "WARNING: the host key of example.test:22 has changed!\r\nSomeone may be listening in, "
         "or the server got a new key.\r\nNew SHA-256 fingerprint: SHA256:new\r\nThe "
         "connection was refused. If you expected the change, remove the server's line from "
         "/home/u/.local/share/Quillmint/known_hosts."},
        {{"01:02", "certificate", "example.test:21", true, "certificate has expired"},
         FtpProtocol::Ftps,
         false,
         "WARNING: the certificate of example.test:21 has changed!\r\nSomeone may be listening "
         "in, or the server got a new key.\r\nNew SHA-256 fingerprint: 01:02\r\nThe "
         "connection was refused. If you expected the change, remove the server's line from "
         "/home/u/.local/share/Quillmint/known_certificates."},
    };
    const std::vector<std::string> refused{" > Connection to server failed.",
                                           " > Key not trusted by the user."};
    const std::vector<std::string> changed{" > Connection to server failed.",
                                           " > The server's key has changed; connection refused."};
    for (const Case& c : cases) {
        const TrustPrompt prompt = TrustPromptFor(c.key, c.protocol, folder);
        EXPECT_EQ(prompt.question, c.question) << c.key.server;
        EXPECT_EQ(prompt.text, c.text);
        const TrustAnswer yes = AnswerTrust(c.key, true);
        const TrustAnswer no = AnswerTrust(c.key, false);
        // Only an unknown key accepted by the user is tried again.
        EXPECT_EQ(yes.retry, c.question);
        EXPECT_FALSE(no.retry);
        EXPECT_EQ(yes.log,
                  c.question ? std::vector<std::string>{" > Key accepted by the user."} : changed);
        EXPECT_EQ(no.log, c.question ? refused : changed);
    }
}

TEST(StatusLogText, EntriesAndHeading) {
    EXPECT_EQ(LogEntry(QStringLiteral("9:05"), QStringLiteral(" > Server disconnected.")),
              QStringLiteral("9:05 > Server disconnected.\r\n"));
    const std::pair<FtpProtocol, QString> named[] = {
        {FtpProtocol::Ftp, QString()},
        {FtpProtocol::Ftps, QStringLiteral(" (FTPS, explicit TLS)")},
        {FtpProtocol::Sftp, QStringLiteral(" (SFTP)")}};
    for (const auto& [protocol, name] : named) {
        EXPECT_EQ(
            ConnectHeading(QStringLiteral("1/2/26"), QStringLiteral("9:05"),
                           QStringLiteral("My Site"), QStringLiteral("ftp.example.test"), protocol),
            QStringLiteral("1/2/26, 9:05 *** MY SITE ***\r\n"
                           "9:05 > Connecting to: ftp.example.test") +
                name + QStringLiteral("...\r\n"));
    }
    EXPECT_EQ(ForTextBox(QStringLiteral("a\r\nb\r\n")), QStringLiteral("a\nb\n"));
}

}  // namespace
