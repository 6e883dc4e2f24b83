#pragma once

#include <expected>
#include <filesystem>
#include <map>
#include <string>

namespace quill {

// The folders the FTP client comes back to: per saved site the remote and
// local folder last in use, and the local folder shown last. Kept in a hidden
// file of the program folder, apart from the site profiles; a missing or
// broken file remembers nothing, and a broken line only itself.
struct RememberedFolders {
    struct Site {
        std::string remote;  // "/" at the end
        std::string local;   // "/" at the end
        bool operator==(const Site&) const = default;
    };
    std::map<std::string, Site> sites;
    std::string localFolder;

    static std::filesystem::path FileIn(const std::filesystem::path& programFolder);
    static RememberedFolders Load(const std::filesystem::path& programFolder);
    // Replaces the file whole, so a failed write keeps the one before.
    std::expected<void, std::string> save(const std::filesystem::path& programFolder) const;
    bool operator==(const RememberedFolders&) const = default;
};

}  // namespace quill
