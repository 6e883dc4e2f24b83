#include "PublishFolders.h"

#include "PublishRecord.h"
#include "common/FileWrite.h"

#include <fstream>
#include <sstream>

namespace quill {
namespace {

std::filesystem::path foldersFile(const std::filesystem::path& programFolder) {
    return programFolder / "publish" / "folders.txt";
}

}  // namespace

std::map<std::string, std::string> LoadPublishFolders(const std::filesystem::path& programFolder) {
    std::map<std::string, std::string> folders;
    std::ifstream in(foldersFile(programFolder), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        const auto tab = line.find('\t');
        if (tab == std::string::npos) {
            continue;
        }
        auto site = UnescapeRecordField(std::string_view(line).substr(0, tab));
        auto folder = UnescapeRecordField(std::string_view(line).substr(tab + 1));
        if (site && folder) {
            folders[*site] = *folder;
        }
    }
    return folders;
}

std::expected<void, std::string> RememberPublishFolder(const std::filesystem::path& programFolder,
                                                       const std::string& site,
                                                       const std::string& folder) {
    auto folders = LoadPublishFolders(programFolder);
    folders[site] = folder;
    std::string text;
    for (const auto& [name, remote] : folders) {
        text += EscapeRecordField(name) + '\t' + EscapeRecordField(remote) + '\n';
    }
    const auto file = foldersFile(programFolder);
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    return WriteFileReplacing(file, text);
}

}  // namespace quill
