#pragma once

#include <sys/types.h>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

namespace quill {

// Writes bytes to a temp file beside path and renames it over path, so a
// failed write never leaves a half-written file where a good one was.
// The error text says what failed, for a message or a log entry.
std::expected<void, std::string> WriteFileReplacing(const std::filesystem::path& path,
                                                    std::string_view bytes, mode_t mode = 0644);

// Appends bytes to path, creating it when missing.
std::expected<void, std::string> AppendToFile(const std::filesystem::path& path,
                                              std::string_view bytes);

}  // namespace quill
