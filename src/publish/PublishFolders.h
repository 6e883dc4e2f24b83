#pragma once

#include <expected>
#include <filesystem>
#include <map>
#include <string>

namespace quill {

// The remote folder last published to, per site: "publish/folders.txt"
// below the program folder, a line per site, both fields escaped as in the
// record. A missing or unreadable file remembers nothing.
std::map<std::string, std::string> LoadPublishFolders(const std::filesystem::path& programFolder);
std::expected<void, std::string> RememberPublishFolder(const std::filesystem::path& programFolder,
                                                       const std::string& site,
                                                       const std::string& folder);

}  // namespace quill
