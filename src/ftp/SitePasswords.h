#pragma once

#include "SiteProfiles.h"
#include "platform/PasswordStore.h"

#include <QString>

#include <chrono>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

namespace quill {

// Site passwords in the desktop keyring through QtKeychain (Secret Service or
// KWallet), filed under the service and the site name. Never falls back to a
// clear-text file of its own: the caller decides where a refused password goes.
class KeyringPasswordStore final : public PasswordStore {
public:
    // patience: how long a call waits for the keyring, long enough for the
    // user to answer an unlock prompt.
    explicit KeyringPasswordStore(QString service,
                                  std::chrono::milliseconds patience = std::chrono::seconds(60))
        : m_service(std::move(service)), m_patience(patience) {}

    std::expected<void, PasswordStoreError> Store(const std::string& site,
                                                  const std::string& password) override;
    std::expected<std::string, PasswordStoreError> Load(const std::string& site) override;
    std::expected<void, PasswordStoreError> Remove(const std::string& site) override;

private:
    QString m_service;
    std::chrono::milliseconds m_patience;
};

// The site name a profile file's password goes under: its name without ".ftp".
std::string SiteOfProfileFile(std::string_view fileName);

struct SavedSite {
    std::filesystem::path path;
    std::string note;  // what the user must know, such as where the password went
};

// Saves a profile whose pass is the password to keep (empty: none). The
// password goes to the keyring when there is one that takes it, otherwise
// into the owner-only profile file, and the note says so. A password that is
// no longer kept in the keyring leaves it. An error text when the profile
// was not written.
std::expected<SavedSite, std::string> SaveSite(const SiteProfiles& profiles, PasswordStore* keyring,
                                               SiteProfile profile);

struct LoadedSite {
    SiteProfile profile;
    // Why the password the profile keeps in the keyring is missing from
    // profile.pass; empty when nothing is missing.
    std::string problem;
};
LoadedSite ReadSite(const SiteProfiles& profiles, PasswordStore* keyring,
                    std::string_view fileName);

// Deletes a profile and its keyring entry. An error text when the profile
// stays; otherwise a note when its password stays in the keyring.
std::expected<std::string, std::string> DeleteSite(const SiteProfiles& profiles,
                                                   PasswordStore* keyring,
                                                   std::string_view fileName);

}  // namespace quill
