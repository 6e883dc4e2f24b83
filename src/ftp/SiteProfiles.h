#pragma once

#include "net/FtpConnection.h"

#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

// The values of one site profile, as bytes.
struct SiteProfile {
    std::string sname;
    std::string adresa;
    std::string ID;
    std::string pass;
    std::string port;
    // Key "protocol": "FTP", "FTPS" or "SFTP"; a profile without it (written
    // before there was a choice), or with another value, is FTP.
    FtpProtocol protocol = FtpProtocol::Ftp;
    // Key "passstore": "keyring" when the desktop keyring holds the password
    // and "pass" is empty; otherwise "file" or "none", written from "pass".
    // A profile without it keeps its password in "pass", as before.
    bool passInKeyring = false;
};

// Site profiles: one INI file per site, "<site name>.ftp" in the program
// folder, section "PROFIL".
class SiteProfiles {
public:
    explicit SiteProfiles(std::filesystem::path folder) : m_folder(std::move(folder)) {}

    // Folder + "/" + site name + ".ftp", or an error text when the name would
    // leave the folder or cannot be a file name ("/", NUL, line breaks, "."
    // or "..").
    std::expected<std::filesystem::path, std::string> PathFor(std::string_view siteName) const;

    // Writes the seven keys into the profile of profile.sname, keeping other
    // keys an existing profile holds. New files get the keys in the order
    // sname, adresa, ID, pass, port, protocol, passstore. Written owner-only (0600) through a temp
    // file, so a failed write leaves the old profile as it was. A value with
    // blanks at either end, surrounding quotes or more characters than the
    // read limit is stored in double quotes, so Read gives back exactly what
    // was saved; one with a line break or over 255 characters is refused with
    // a message and nothing is written.
    std::expected<std::filesystem::path, std::string> Save(const SiteProfile& profile) const;
    // Why Save would refuse the profile, before anything is written.
    std::optional<std::string> Refusal(const SiteProfile& profile) const;

    // Reads a profile by its file name ("site.ftp"). Missing keys, a missing
    // file or a file that is not INI at all read as empty values; values are
    // cut to 49 characters (74 for "adresa"), those in double quotes lose the
    // quotes and are cut to 255.
    SiteProfile Read(std::string_view fileName) const;

    // Names of the "*.ftp" files of the folder (not hidden ones), sorted.
    std::vector<std::string> List() const;

    // Deletes a profile by its file name. False when it could not be deleted.
    bool Delete(std::string_view fileName) const;

    const std::filesystem::path& folder() const { return m_folder; }

private:
    std::expected<std::filesystem::path, std::string> fileFor(std::string_view fileName) const;
    std::filesystem::path m_folder;
};

// The first maxChars characters of a UTF-8 text (bytes that are not UTF-8
// count one each).
std::string CutToCharacters(std::string_view text, std::size_t maxChars);

}  // namespace quill
