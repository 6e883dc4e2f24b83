#include "ftp/SitePasswords.h"

#include "support/KeyringSession.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <functional>

using namespace quill;
using quill::test::KeyringSession;
using quill::test::ReadBytes;
using quill::test::TempDir;
using quill::test::WriteBytes;

namespace {

std::string ProfileText(const std::string& pass, const char* passstore) {
    return "[PROFIL]\r\nsname=site\r\nadresa=h.example\r\nID=u\r\npass=" + pass +
           "\r\nport=21\r\nprotocol=FTP" + (*passstore ? "\r\npassstore=" : "") + passstore +
           "\r\n";
}

class SitePasswordsTest : public ::testing::Test {
protected:
    std::expected<SavedSite, std::string> save(const std::string& password) {
        return SaveSite(profiles, &keyring, {"site", "h.example", "u", password, "21"});
    }
    TempDir dir;
    SiteProfiles profiles{dir.path()};
    KeyringPasswordStore keyring{QStringLiteral("Quillmint")};
};

// Runs before the keyring session exists: the bus this process is pointed at
// has nobody on it.
using NoKeyring = SitePasswordsTest;
TEST_F(NoKeyring, PasswordsStayInTheOwnerOnlyFileAndNothingHangs) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(keyring.Store("site", "pw"));
    const auto saved = save("pw");
    ASSERT_TRUE(saved) << saved.error();
    EXPECT_NE(saved->note.find("kept in the profile file"), std::string::npos) << saved->note;
    EXPECT_EQ(ReadBytes(dir / "site.ftp"), ProfileText("pw", "file"));
    struct stat info {};
    ASSERT_EQ(::stat((dir / "site.ftp").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    WriteBytes(dir / "site.ftp", ProfileText("", "keyring"));
    const LoadedSite loaded = ReadSite(profiles, &keyring, "site.ftp");
    EXPECT_NE(loaded.problem.find("could not be read"), std::string::npos) << loaded.problem;
    EXPECT_EQ(loaded.profile.adresa, "h.example");
    const auto deleted = DeleteSite(profiles, &keyring, "site.ftp");
    ASSERT_TRUE(deleted);
    EXPECT_NE(deleted->find("could not be removed from the keyring"), std::string::npos);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

class InKeyring : public SitePasswordsTest {
protected:
    static void SetUpTestSuite() { KeyringSession::Start(); }
};

// One site through its life; after each step the file, the keyring and
// what the site reads back.
TEST_F(InKeyring, StoreLoadMoveUnsaveAndDelete) {
    const auto missing = [&] { ASSERT_TRUE(keyring.Remove("site")); };
    const auto deleted = [&] { ASSERT_EQ(DeleteSite(profiles, &keyring, "site.ftp"), ""); };
    struct Step {
        const char* what;
        std::function<void()> act;
        std::string file;
        std::string inKeyring;
        std::string read;  // the password, or the start of the problem
    };
    const Step steps[] = {
        {"a profile from before the keyring",
         [&] { WriteBytes(dir / "site.ftp", ProfileText("old", "")); }, ProfileText("old", ""), "",
         "old"},
        {"moves when saved", [&] { ASSERT_TRUE(save("old")); }, ProfileText("", "keyring"), "old",
         "old"},
        {"store", [&] { ASSERT_EQ(save("n\xe2\x82\xacw").value().note, ""); },
         ProfileText("", "keyring"), "n\xe2\x82\xacw", "n\xe2\x82\xacw"},
        {"a missing entry", missing, ProfileText("", "keyring"), "",
         "The password of the site \"site\" is kept in the keyring, but could not be read: the "
         "keyring holds no password for this site."},
        {"unsave", [&] { ASSERT_TRUE(save("x") && save("")); }, ProfileText("", "none"), "", ""},
        {"delete",
         [&] {
             ASSERT_TRUE(save("y"));
             deleted();
         },
         "<missing>", "", ""},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        EXPECT_EQ(ReadBytes(dir / "site.ftp"), step.file);
        EXPECT_EQ(KeyringSession::Lookup("site"), step.inKeyring);
        const LoadedSite loaded = ReadSite(profiles, &keyring, "site.ftp");
        EXPECT_EQ(loaded.problem.empty() ? loaded.profile.pass : loaded.problem, step.read);
    }
    // Bytes that are not UTF-8 come back exactly.
    ASSERT_TRUE(keyring.Store("latin", "\xe9t\xe9"));
    EXPECT_EQ(keyring.Load("latin"), "\xe9t\xe9");
    EXPECT_TRUE(keyring.Remove("latin"));
}

}  // namespace
