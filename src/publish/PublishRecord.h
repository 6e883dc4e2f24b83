#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

// A file as a publish sent it.
struct PublishedFile {
    // Below the local and the remote folder, parts joined by '/'.
    std::string path;
    // SHA-256 of the content, lower-case hex.
    std::string hash;
    std::int64_t size = 0;
    // The local folder it was published from (absolute).
    std::string localFolder;
};

// What was published to one remote folder of a site. A text file: a header,
// then one line per file; each completed file is appended at once (no
// rewrite), and Compact rewrites the whole through a temporary file. So a
// run killed at any moment loses at most the line being written, and that
// file is only sent again.
class PublishRecord {
public:
    // Reads file; a missing file is an empty record. Lines that cannot be
    // read (a torn last line) are left out. Fails only when the file is
    // there and cannot be read, or belongs to another site or folder.
    static std::expected<PublishRecord, std::string> Load(std::filesystem::path file,
                                                          std::string site,
                                                          std::string remoteFolder);
    ~PublishRecord();
    PublishRecord(PublishRecord&& other) noexcept;
    PublishRecord& operator=(PublishRecord&& other) noexcept;
    PublishRecord(const PublishRecord&) = delete;
    PublishRecord& operator=(const PublishRecord&) = delete;

    const PublishedFile* find(std::string_view path) const;
    const std::map<std::string, PublishedFile, std::less<>>& files() const { return m_files; }

    // Both append a line at once, creating the file (owner-only) and its
    // folder when missing. Not thread-safe.
    std::expected<void, std::string> Put(const PublishedFile& file);
    std::expected<void, std::string> Forget(std::string_view path);
    // Rewrites the file from what it holds now.
    std::expected<void, std::string> Compact();

    const std::filesystem::path& file() const { return m_file; }

private:
    PublishRecord() = default;
    std::expected<void, std::string> append(const std::string& line);
    std::string header() const;

    std::filesystem::path m_file;
    std::string m_site;
    std::string m_remote;
    std::map<std::string, PublishedFile, std::less<>> m_files;
    int m_fd = -1;
    // The file does not end in a line break (a torn last line).
    bool m_torn = false;
    bool m_exists = false;
};

// '%', control characters and DEL as %XX, so a field holds no tab or line
// break; and back. Unescape gives nullopt for a broken escape.
std::string EscapeRecordField(std::string_view text);
std::optional<std::string> UnescapeRecordField(std::string_view text);
// The tab-separated fields of a line, unescaped; nullopt when one is broken.
std::optional<std::vector<std::string>> UnescapeRecordFields(std::string_view line);

}  // namespace quill
