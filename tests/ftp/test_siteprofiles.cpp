#include "ftp/SiteProfiles.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace quill;
using quill::test::ReadBytes;
using quill::test::TempDir;
using quill::test::WriteBytes;

namespace {

class SiteProfilesTest : public ::testing::Test {
protected:
    TempDir dir;
    SiteProfiles profiles{dir.path()};
};

TEST_F(SiteProfilesTest, SaveWritesTheKeysInOrderOwnerOnly) {
    const std::pair<FtpProtocol, const char*> protocols[] = {
        {FtpProtocol::Ftp, "FTP"}, {FtpProtocol::Ftps, "FTPS"}, {FtpProtocol::Sftp, "SFTP"}};
    for (const auto& [protocol, name] : protocols) {
        std::filesystem::remove(dir / "my site.ftp");
        auto path =
            profiles.Save({"my site", "ftp.example.test", "webmaster", "", "2121", protocol});
        ASSERT_TRUE(path) << path.error();
        EXPECT_EQ(*path, dir / "my site.ftp");
        EXPECT_EQ(ReadBytes(*path),
                  "[PROFIL]\r\nsname=my site\r\nadresa=ftp.example.test\r\nID=webmaster\r\n"
                  "pass=\r\nport=2121\r\nprotocol=" +
                      std::string(name) + "\r\npassstore=none\r\n");
        struct stat info {};
        ASSERT_EQ(::stat(path->c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);

        const SiteProfile read = profiles.Read("my site.ftp");
        EXPECT_EQ(read.sname, "my site");
        EXPECT_EQ(read.adresa, "ftp.example.test");
        EXPECT_EQ(read.ID, "webmaster");
        EXPECT_EQ(read.pass, "");
        EXPECT_EQ(read.port, "2121");
        EXPECT_EQ(read.protocol, protocol) << name;
    }
}

// Files written before there was a protocol (or by hand) read as FTP unless
// they name one; reading leaves them as they are.
TEST_F(SiteProfilesTest, ProfilesWithoutAKnownProtocolAreFtp) {
    const std::string old =
        "[PROFIL]\r\nsname=old\r\nadresa=ftp.example.test\r\nID=u\r\npass=\r\nport=21\r\n";
    const std::pair<std::string, FtpProtocol> cases[] = {
        {"", FtpProtocol::Ftp},
        {"protocol=\r\n", FtpProtocol::Ftp},
        {"protocol=SCP\r\n", FtpProtocol::Ftp},
        {"protocol=FTPS (explicit TLS)\r\n", FtpProtocol::Ftp},
        {"protocol=sftp\r\n", FtpProtocol::Sftp},
        {"protocol=FTPS\r\n", FtpProtocol::Ftps},
    };
    for (const auto& [line, protocol] : cases) {
        WriteBytes(dir / "old.ftp", old + line);
        const SiteProfile read = profiles.Read("old.ftp");
        EXPECT_EQ(read.protocol, protocol) << line;
        EXPECT_EQ(read.adresa, "ftp.example.test");
        EXPECT_EQ(read.port, "21");
        EXPECT_EQ(ReadBytes(dir / "old.ftp"), old + line);
    }
}

// Saving over a profile keeps its other keys and their order; the protocol
// goes after them in an older file that had none.
TEST_F(SiteProfilesTest, SavingAgainOverwritesTheKeysAndKeepsOthers) {
    WriteBytes(dir / "site.ftp", "[PROFIL]\nport=21\nsname=site\nextra=kept\n[OTHER]\nx=1\n");
    ASSERT_TRUE(profiles.Save(
        {"site", "h\xc3\xb6st.example", "annonymous", "pw", "990", FtpProtocol::Ftps}));
    const std::string saved =
        "[PROFIL]\r\nport=990\r\nsname=site\r\nextra=kept\r\nadresa=h\xc3\xb6st.example\r\n"
        "ID=annonymous\r\npass=pw\r\nprotocol=";
    EXPECT_EQ(ReadBytes(dir / "site.ftp"),
              saved + "FTPS\r\npassstore=file\r\n\r\n\r\n[OTHER]\r\nx=1\r\n");
    const SiteProfile read = profiles.Read("site.ftp");
    EXPECT_EQ(read.adresa, "h\xc3\xb6st.example");
    EXPECT_EQ(read.pass, "pw");
    EXPECT_EQ(read.protocol, FtpProtocol::Ftps);
    ASSERT_TRUE(profiles.Save({"site", "h\xc3\xb6st.example", "annonymous", "pw", "990"}));
    EXPECT_EQ(ReadBytes(dir / "site.ftp"),
              saved + "FTP\r\npassstore=file\r\n\r\n\r\n[OTHER]\r\nx=1\r\n");
}

TEST_F(SiteProfilesTest, ReadAppliesTheLimits) {
    const std::string address(80, 'a');
    const std::string longName(60, 'n');
    WriteBytes(dir / "long.ftp", "[PROFIL]\r\nsname=" + longName + "\r\nadresa=" + address +
                                     "\r\nID=\xc3\xa9" + std::string(60, 'u') + "\r\n");
    const SiteProfile read = profiles.Read("long.ftp");
    EXPECT_EQ(read.adresa, std::string(74, 'a'));
    EXPECT_EQ(read.sname, std::string(49, 'n'));
    EXPECT_EQ(read.ID, "\xc3\xa9" + std::string(48, 'u'));  // characters, not bytes
    EXPECT_EQ(read.pass, "");
    EXPECT_EQ(read.port, "");
}

// Whatever is typed into a field reads back the same, or the save is refused
// with a message naming the field and nothing is written.
TEST_F(SiteProfilesTest, ValuesRoundTripExactlyOrAreRefused) {
    using namespace std::string_literals;
    const std::string savable[] = {
        " user",
        "  pa ss  ",
        "\tx\t",
        std::string(60, 'p'),
        std::string(80, 'a'),
        "\"quoted\"",
        "\"",
        "\"\"",
        "a \"b\" c",
        "=x;#y [z]",
        "\xc3\xa9" + std::string(254, 'e'),
    };
    const std::string refused[] = {"pa\rss", "pa\nss", "line\r\n", "nul\0x"s,
                                   std::string(256, 'p')};
    const std::pair<std::string SiteProfile::*, const char*> fields[] = {
        {&SiteProfile::adresa, "server address"},
        {&SiteProfile::ID, "user ID"},
        {&SiteProfile::pass, "password"},
        {&SiteProfile::port, "port"}};
    for (const auto& [field, label] : fields) {
        for (const std::string& value : savable) {
            SiteProfile profile{"site", "ftp.example.test", "u", "p", "21"};
            profile.*field = value;
            ASSERT_TRUE(profiles.Save(profile)) << label << ": " << value;
            const SiteProfile read = profiles.Read("site.ftp");
            EXPECT_EQ(read.*field, value) << label;
            EXPECT_EQ(read.sname, "site");
            EXPECT_EQ(read.adresa.empty(), profile.adresa.empty());
        }
        for (const std::string& value : refused) {
            const std::string before = ReadBytes(dir / "site.ftp");
            SiteProfile profile{"site", "ftp.example.test", "u", "p", "21"};
            profile.*field = value;
            const auto saved = profiles.Save(profile);
            ASSERT_FALSE(saved) << label << ": " << value;
            EXPECT_NE(saved.error().find(label), std::string::npos) << saved.error();
            EXPECT_EQ(ReadBytes(dir / "site.ftp"), before) << "nothing is written";
        }
    }
    ASSERT_TRUE(profiles.Save({" spaced site ", "h", "u", "", "21"}));
    EXPECT_EQ(profiles.Read(" spaced site .ftp").sname, " spaced site ");
}

TEST_F(SiteProfilesTest, QuotesAreWrittenOnlyWhereNeededAndReadLikeThePlatform) {
    ASSERT_TRUE(profiles.Save({"q", "ftp.example.test", " user", std::string(50, 'p'), "21"}));
    EXPECT_EQ(ReadBytes(dir / "q.ftp"),
              "[PROFIL]\r\nsname=q\r\nadresa=ftp.example.test\r\nID=\" user\"\r\npass=\"" +
                  std::string(50, 'p') + "\"\r\nport=21\r\nprotocol=FTP\r\npassstore=file\r\n");
    // An older profile with quotes, as the platform's own reader takes them.
    WriteBytes(dir / "old.ftp", "[PROFIL]\r\nID=\"webmaster\"\r\npass= secret \r\n");
    EXPECT_EQ(profiles.Read("old.ftp").ID, "webmaster");
    EXPECT_EQ(profiles.Read("old.ftp").pass, "secret");
}

TEST_F(SiteProfilesTest, FilesThatAreNotProfilesReadEmpty) {
    WriteBytes(dir / "binary.ftp", std::string("\x00\x01\xff\xfe garbage [[[ = \n\n", 20));
    WriteBytes(dir / "text.ftp", "just some words\nno sections here\n");
    for (const char* name : {"binary.ftp", "text.ftp", "missing.ftp"}) {
        const SiteProfile read = profiles.Read(name);
        EXPECT_EQ(read.sname, "") << name;
        EXPECT_EQ(read.adresa, "") << name;
    }
    // Saving over a file that is not INI gives a clean profile.
    ASSERT_TRUE(profiles.Save({"text", "ftp.example.test", "u", "", "21"}));
    EXPECT_EQ(profiles.Read("text.ftp").adresa, "ftp.example.test");
}

TEST_F(SiteProfilesTest, NamesThatLeaveTheFolderAreRefused) {
    std::filesystem::create_directories(dir / "sub");
    const std::vector<std::string> names{
        "../evil", "sub/x", "/tmp/abs", "..", ".", std::string("a\0b", 3), "a\nb"};
    for (const std::string& name : names) {
        auto saved = profiles.Save({name, "ftp.example.test", "u", "", "21"});
        EXPECT_FALSE(saved) << name;
        if (!saved) {
            EXPECT_FALSE(saved.error().empty());
        }
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path().parent_path() / "evil.ftp"));
    EXPECT_FALSE(std::filesystem::exists(dir / "sub" / "x.ftp"));
    EXPECT_TRUE(profiles.List().empty());
    EXPECT_TRUE(profiles.Save({"..x", "ftp.example.test", "u", "", "21"}));
    EXPECT_FALSE(profiles.Delete("../x.ftp"));
}

TEST_F(SiteProfilesTest, ListsEveryFtpFileAndDeletes) {
    WriteBytes(dir / "b.ftp", "");
    WriteBytes(dir / "A.FTP", "[PROFIL]\r\n");
    WriteBytes(dir / "c.ftp.bak", "");
    WriteBytes(dir / ".hidden.ftp", "");
    WriteBytes(dir / "notes.txt", "");
    std::filesystem::create_directories(dir / "folder.ftp");
    EXPECT_EQ(profiles.List(), (std::vector<std::string>{"A.FTP", "b.ftp"}));
    EXPECT_TRUE(profiles.Delete("b.ftp"));
    EXPECT_FALSE(profiles.Delete("b.ftp"));
    EXPECT_EQ(profiles.List(), (std::vector<std::string>{"A.FTP"}));
}

}  // namespace
