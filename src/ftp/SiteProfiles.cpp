#include "SiteProfiles.h"

#include "common/FileWrite.h"

#define SI_CONVERT_ICU
#include "common/TextOps.h"

#include <SimpleIni.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>

namespace quill {
namespace {

// A profile is a file named after its site, and the name is an INI line.
bool IsSiteName(std::string_view name) {
    return IsPlainName(name) && !HoldsLineBreak(name);
}

constexpr const char* kSection = "PROFIL";
constexpr const char* kExtension = ".ftp";
constexpr const char* kProtocolKey = "protocol";
constexpr const char* kPassStoreKey = "passstore";
constexpr const char* kInKeyring = "keyring";

// Longest value a new save writes, in characters. Unquoted values keep the
// old read limits (49, 74 for the address), so older profiles read as before.
constexpr std::size_t kMaxSavedCharacters = 255;

struct Field {
    const char* key;
    const char* label;  // for messages
    std::size_t readLimit;
    std::string SiteProfile::*value;
};
constexpr Field kFields[] = {
    {"sname", "site name", 49, &SiteProfile::sname},
    {"adresa", "server address", 74, &SiteProfile::adresa},
    {"ID", "user ID", 49, &SiteProfile::ID},
    {"pass", "password", 49, &SiteProfile::pass},
    {"port", "port", 49, &SiteProfile::port},
};

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isQuoted(std::string_view value) {
    return value.size() >= 2 && value.front() == '"' && value.back() == '"';
}

// The value as stored: in double quotes when the INI reader would otherwise
// trim it, take its own quotes away or cut it, as the platform's profile
// reader drops one pair of surrounding quotes.
std::string stored(const std::string& value, std::size_t readLimit) {
    const bool quote = (!value.empty() && (isBlank(value.front()) || isBlank(value.back()))) ||
                       isQuoted(value) || CutToCharacters(value, readLimit).size() < value.size();
    return quote ? '"' + value + '"' : value;
}

// Why a value cannot be stored so that it reads back the same, if it cannot.
std::optional<std::string> unstorable(const std::string& value, const char* label) {
    if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
        return std::string("The ") + label +
               " holds a line break, which a profile can not keep. The profile was not saved.";
    }
    if (CutToCharacters(value, kMaxSavedCharacters).size() < value.size()) {
        return std::string("The ") + label + " is longer than " +
               std::to_string(kMaxSavedCharacters) +
               " characters, which a profile can not keep. The profile was not saved.";
    }
    return std::nullopt;
}

bool loadIni(CSimpleIniA& ini, const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return ini.LoadData(data) >= 0;
}

}  // namespace

std::string CutToCharacters(std::string_view text, std::size_t maxChars) {
    std::size_t i = 0;
    std::size_t count = 0;
    while (i < text.size() && count < maxChars) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80           ? 1
                             : (c >> 5) == 0x6  ? 2
                             : (c >> 4) == 0xE  ? 3
                             : (c >> 3) == 0x1E ? 4
                                                : 1;
        if (i + length > text.size()) {
            length = 1;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                length = 1;
                break;
            }
        }
        i += length;
        ++count;
    }
    return std::string(text.substr(0, i));
}

std::expected<std::filesystem::path, std::string> SiteProfiles::PathFor(
    std::string_view siteName) const {
    if (!IsSiteName(siteName)) {
        return std::unexpected(
            "The site name can not be used as a file name. Leave out \"/\" and line breaks, "
            "and do not use \".\" or \"..\" as a name.");
    }
    return m_folder / (std::string(siteName) + kExtension);
}

std::expected<std::filesystem::path, std::string> SiteProfiles::fileFor(
    std::string_view fileName) const {
    if (!IsSiteName(fileName)) {
        return std::unexpected("Not a profile file name");
    }
    return m_folder / std::string(fileName);
}

std::optional<std::string> SiteProfiles::Refusal(const SiteProfile& profile) const {
    if (const auto path = PathFor(profile.sname); !path) {
        return path.error();
    }
    for (const Field& field : kFields) {
        if (auto problem = unstorable(profile.*field.value, field.label)) {
            return problem;
        }
    }
    return std::nullopt;
}

std::expected<std::filesystem::path, std::string> SiteProfiles::Save(
    const SiteProfile& profile) const {
    auto path = PathFor(profile.sname);
    if (!path) {
        return path;
    }
    if (auto problem = Refusal(profile)) {
        return std::unexpected(std::move(*problem));
    }
    CSimpleIniA ini(false, false, false);
    ini.SetSpaces(false);
    if (!loadIni(ini, *path)) {
        ini.Reset();
    }
    for (const Field& field : kFields) {
        ini.SetValue(kSection, field.key, stored(profile.*field.value, field.readLimit).c_str());
    }
    ini.SetValue(kSection, kProtocolKey, std::string(ProtocolName(profile.protocol)).c_str());
    ini.SetValue(kSection, kPassStoreKey,
                 profile.passInKeyring  ? kInKeyring
                 : profile.pass.empty() ? "none"
                                        : "file");
    std::string text;
    if (ini.Save(text) < 0) {
        return std::unexpected("The profile could not be written.");
    }
    // Profiles keep the CR LF line ends of the platform that defined them.
    std::string crlf;
    crlf.reserve(text.size() + text.size() / 8);
    for (const char c : text) {
        if (c == '\n') {
            crlf += '\r';
        }
        crlf += c;
    }
    if (auto written = WriteFileReplacing(*path, crlf, 0600); !written) {
        return std::unexpected(written.error());
    }
    return path;
}

SiteProfile SiteProfiles::Read(std::string_view fileName) const {
    SiteProfile profile;
    auto path = fileFor(fileName);
    CSimpleIniA ini(false, false, false);
    if (!path || !loadIni(ini, *path)) {
        return profile;
    }
    for (const Field& field : kFields) {
        const char* found = ini.GetValue(kSection, field.key, "");
        std::string_view text = found ? found : "";
        if (isQuoted(text)) {
            text = text.substr(1, text.size() - 2);
            profile.*field.value = CutToCharacters(text, kMaxSavedCharacters);
        } else {
            profile.*field.value = CutToCharacters(text, field.readLimit);
        }
    }
    profile.protocol =
        ProtocolFromName(ini.GetValue(kSection, kProtocolKey, "")).value_or(FtpProtocol::Ftp);
    profile.passInKeyring =
        std::string_view(ini.GetValue(kSection, kPassStoreKey, "")) == kInKeyring;
    return profile;
}

std::vector<std::string> SiteProfiles::List() const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(m_folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() <= 4 || name.front() == '.' || !entry.is_regular_file(error)) {
            continue;
        }
        std::string extension = name.substr(name.size() - 4);
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
        if (extension == kExtension) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool SiteProfiles::Delete(std::string_view fileName) const {
    auto path = fileFor(fileName);
    std::error_code error;
    return path && std::filesystem::remove(*path, error);
}

}  // namespace quill
