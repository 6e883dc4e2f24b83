#include "RememberedFolders.h"

#include "common/FileWrite.h"
#include "publish/PublishRecord.h"

#include <fstream>

namespace quill {
namespace {

// A folder path as stored: absolute and ending in "/".
bool IsFolderPath(const std::string& path) {
    return !path.empty() && path.front() == '/' && path.back() == '/';
}

}  // namespace

std::filesystem::path RememberedFolders::FileIn(const std::filesystem::path& programFolder) {
    return programFolder / ".folders";
}

RememberedFolders RememberedFolders::Load(const std::filesystem::path& programFolder) {
    RememberedFolders folders;
    std::ifstream in(FileIn(programFolder), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        const auto fields = UnescapeRecordFields(line);
        if (!fields) {
            continue;
        }
        const auto& f = *fields;
        if (f.size() == 2 && f[0] == "local" && IsFolderPath(f[1])) {
            folders.localFolder = f[1];
        } else if (f.size() == 4 && f[0] == "site" && !f[1].empty() && IsFolderPath(f[2]) &&
                   (f[3].empty() || IsFolderPath(f[3]))) {
            folders.sites[f[1]] = {f[2], f[3]};
        }
    }
    return folders;
}

std::expected<void, std::string> RememberedFolders::save(
    const std::filesystem::path& programFolder) const {
    std::string text;
    if (!localFolder.empty()) {
        text += "local\t" + EscapeRecordField(localFolder) + '\n';
    }
    for (const auto& [name, site] : sites) {
        text += "site\t" + EscapeRecordField(name) + '\t' + EscapeRecordField(site.remote) + '\t' +
                EscapeRecordField(site.local) + '\n';
    }
    return WriteFileReplacing(FileIn(programFolder), text);
}

}  // namespace quill
