#include "ftp/SitePasswords.h"

#include "support/KeyringSession.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <functional>

using namespace quill;
using quill::test::ReadBytes;
using quill::test::WriteBytes;

namespace {

class SitePasswords : public ::testing::Test {
protected:
    std::string save(const std::string& password) {  // the note
        return SaveSite(profiles, &keyring, {"site", "h", "u", password, "21"}).value().note;
    }
    std::string read() {  // the password, or why there is none
        const LoadedSite loaded = ReadSite(profiles, &keyring, "site.ftp");
        return loaded.problem.empty() ? loaded.profile.pass : loaded.problem;
    }
    quill::test::TempDir dir;
    SiteProfiles profiles{dir.path()};
    KeyringPasswordStore keyring{QStringLiteral("Quillmint")};
    const std::string file = "[PROFIL]\r\nsname=site\r\nadresa=h\r\nID=u\r\npass=";
    const std::string tail = "\r\nport=21\r\nprotocol=FTP\r\n";
};

// Runs first, before the keyring session: nobody answers on the bus.
TEST_F(SitePasswords, WithoutAKeyringTheOwnerOnlyFileKeepsIt) {
    EXPECT_TRUE(
        save("pw").starts_with("The password is kept in the profile file, which only "
                               "you can read: the keyring could not be reached ("));
    EXPECT_EQ(ReadBytes(dir / "site.ftp"), file + "pw" + tail + "passstore=file\r\n");
    // A keyring that is there but says no keeps the profile as it was.
    struct Refusing final : PasswordStore {
        std::expected<void, PasswordStoreError> Store(const std::string&,
                                                      const std::string&) override {
            return std::unexpected(PasswordStoreError{"locked", true});
        }
        std::expected<std::string, PasswordStoreError> Load(const std::string&) override {
            return "";
        }
        std::expected<void, PasswordStoreError> Remove(const std::string&) override { return {}; }
    } refusing;
    EXPECT_EQ(SaveSite(profiles, &refusing, {"site", "h", "u", "new", "21"}).error(),
              "The profile was not saved: locked. Unlock the keyring, or save without the "
              "password.");
    EXPECT_EQ(ReadBytes(dir / "site.ftp"), file + "pw" + tail + "passstore=file\r\n");
    WriteBytes(dir / "site.ftp", file + tail + "passstore=keyring\r\n");
    EXPECT_EQ(read().substr(0, 60),
              "The password of the site \"site\" is kept in the keyring, but ");
}

TEST_F(SitePasswords, StoreLoadMoveUnsaveAndDelete) {
    quill::test::StartKeyringSession();
    const std::string inKeyring = file + tail + "passstore=keyring\r\n";
    const std::tuple<const char*, std::function<void()>, std::string, std::string, std::string>
        steps[] = {
            {"old", [&] { WriteBytes(dir / "site.ftp", file + "old" + tail); }, file + "old" + tail,
             "", "old"},
            {"moved", [&] { EXPECT_EQ(save("old"), ""); }, inKeyring, "old", "old"},
            {"store", [&] { EXPECT_EQ(save("n\xe2\x82\xacw"), ""); }, inKeyring, "n\xe2\x82\xacw",
             "n\xe2\x82\xacw"},
            {"missing", [&] { ASSERT_TRUE(keyring.Remove("site")); }, inKeyring, "",
             "The password of the site \"site\" is kept in the keyring, but could not be read: "
             "the keyring holds no password for this site."},
            {"unsave", [&] { save("x"), save(""); }, file + tail + "passstore=none\r\n", "", ""},
            {"delete",
             [&] { EXPECT_EQ((save("y"), DeleteSite(profiles, &keyring, "site.ftp")), ""); },
             "<missing>", "", ""},
            {"not UTF-8", [&] { ASSERT_TRUE(keyring.Store("site", "\xe9")); }, "<missing>", "\xe9",
             ""},
        };
    for (const auto& [what, act, bytes, kept, password] : steps) {
        act();
        EXPECT_EQ(ReadBytes(dir / "site.ftp"), bytes) << what;
        EXPECT_EQ(keyring.Load("site").value_or(""), kept) << what;
        EXPECT_EQ(read(), password) << what;
    }
}

}  // namespace
