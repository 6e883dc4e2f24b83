#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quill {

// Writes bytes to a temp file beside path and renames it over path, so a
// failed write never leaves a half-written file where a good one was.
// A symbolic link is written through: its final target is replaced and the
// link stays. Without a mode, a replaced file keeps its permission bits (and
// its owner and group where the system allows), and a new file gets 0666 less
// the umask. With a mode, the file gets exactly that mode.
// The error text says what failed, for a message or a log entry.
std::expected<void, std::string> WriteFileReplacing(const std::filesystem::path& path,
                                                    std::string_view bytes,
                                                    std::optional<mode_t> mode = std::nullopt);

// The mode to create a temporary file with that will replace a file of
// this status: its permission bits (no setuid, setgid or sticky bit), only
// the owner's when its owner or group are not ours.
mode_t TempModeFor(const struct stat& old);

// Appends bytes to path, creating it when missing.
std::expected<void, std::string> AppendToFile(const std::filesystem::path& path,
                                              std::string_view bytes);

}  // namespace quill
