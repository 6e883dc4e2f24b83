#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quill {

// Files being written get a temporary name beside their target first: a dot,
// a random or chosen part and this suffix, so they are never taken for
// content.
inline constexpr std::string_view kTransferTempPrefix = ".quillmint-";
inline constexpr std::string_view kTransferTempSuffix = ".part";
inline bool IsTransferTempName(std::string_view name) {
    return name.size() > kTransferTempPrefix.size() + kTransferTempSuffix.size() &&
           name.starts_with(kTransferTempPrefix) && name.ends_with(kTransferTempSuffix);
}

struct FileWriteError {
    enum class Step { Create, Write, Replace };
    Step step = Step::Write;
    int code = 0;      // errno where there is one
    std::string text;  // what failed and where, for a message or a log entry
};

struct ReplacingFileOptions {
    // The mode of the result; without it a replaced file keeps its own.
    std::optional<mode_t> mode;
    // A fixed name for the temporary file, so a transfer cut off can go on
    // later: bytes an existing file of that name holds are kept when there
    // are at most keepUpTo of them, else it starts empty. Empty: a new file
    // with a random name.
    std::string resumeName;
    std::int64_t keepUpTo = 0;
};

// A file written in pieces to a temporary file in its target's folder, and
// renamed over the target by Commit, so the target is always either the old
// file or the whole new one. A symbolic link is written through: its final
// target is replaced and the link stays. Without a mode, a replaced file
// keeps its permission bits (never setuid, setgid or sticky) and, where the
// system allows, its owner and group; a new file gets 0666 less the umask.
// The temporary file is never readable by more people than the result.
// A writer destroyed before Commit removes its temporary file unless Keep
// was called.
class ReplacingFile {
public:
    static std::expected<ReplacingFile, FileWriteError> Open(
        const std::filesystem::path& target, const ReplacingFileOptions& options = {});

    ReplacingFile(ReplacingFile&& other) noexcept;
    ReplacingFile& operator=(ReplacingFile&&) = delete;
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;
    ~ReplacingFile();

    std::expected<void, FileWriteError> Append(std::string_view bytes);
    // Drops what follows size, for a transfer that starts again from there.
    std::expected<void, FileWriteError> Truncate(std::int64_t size);
    // Makes the bytes durable and puts them in place of the target. On a
    // failure the target is untouched and the temporary file is gone.
    std::expected<void, FileWriteError> Commit();
    // Closes the temporary file and leaves it for a later writer to resume.
    void Keep();

    // Bytes in the temporary file, resumed ones included.
    std::int64_t Size() const { return m_size; }
    const std::filesystem::path& TempPath() const { return m_temp; }

private:
    ReplacingFile() = default;
    FileWriteError failure(FileWriteError::Step step, const char* what, int code) const;
    void abandon();

    std::filesystem::path m_requested;  // as the caller named it, for messages
    std::filesystem::path m_target;     // where the bytes land, links followed
    std::filesystem::path m_temp;
    std::optional<mode_t> m_mode;
    int m_fd = -1;
    std::int64_t m_size = 0;
    std::int64_t m_writtenBack = 0;
    bool m_failed = false;
    bool m_done = true;  // no temporary file of ours to remove
};

// Writes bytes to path through a ReplacingFile. With a mode, the file gets
// exactly that mode. The error text says what failed.
std::expected<void, std::string> WriteFileReplacing(const std::filesystem::path& path,
                                                    std::string_view bytes,
                                                    std::optional<mode_t> mode = std::nullopt);

// Appends bytes to path, creating it when missing.
std::expected<void, std::string> AppendToFile(const std::filesystem::path& path,
                                              std::string_view bytes);

}  // namespace quill
