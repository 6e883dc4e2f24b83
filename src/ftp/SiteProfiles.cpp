#include "SiteProfiles.h"

#include "common/FileWrite.h"

#define SI_CONVERT_ICU
#include "common/TextOps.h"

#include <SimpleIni.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

namespace quill {
namespace {

// A profile is a file named after its site, and the name is an INI line.
bool IsSiteName(std::string_view name) {
    return IsPlainName(name) && !HoldsLineBreak(name);
}

constexpr const char* kSection = "PROFIL";
constexpr const char* kExtension = ".ftp";

std::string oneLine(std::string value) {
    // A line break would end the INI value and start a line of its own.
    std::replace_if(
        value.begin(), value.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return value;
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

std::expected<std::filesystem::path, std::string> SiteProfiles::Save(
    const SiteProfile& profile) const {
    auto path = PathFor(profile.sname);
    if (!path) {
        return path;
    }
    CSimpleIniA ini(false, false, false);
    ini.SetSpaces(false);
    if (!loadIni(ini, *path)) {
        ini.Reset();
    }
    ini.SetValue(kSection, "sname", oneLine(profile.sname).c_str());
    ini.SetValue(kSection, "adresa", oneLine(profile.adresa).c_str());
    ini.SetValue(kSection, "ID", oneLine(profile.ID).c_str());
    ini.SetValue(kSection, "pass", oneLine(profile.pass).c_str());
    ini.SetValue(kSection, "port", oneLine(profile.port).c_str());
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
    auto value = [&](const char* key, std::size_t limit) {
        const char* text = ini.GetValue(kSection, key, "");
        return CutToCharacters(text ? text : "", limit);
    };
    profile.sname = value("sname", 49);
    profile.adresa = value("adresa", 74);
    profile.ID = value("ID", 49);
    profile.pass = value("pass", 49);
    profile.port = value("port", 49);
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
