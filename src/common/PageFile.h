#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace quill {

// Skip count used for the web-search result page.
inline constexpr std::int64_t kResultPageSkip = 125'666;

// The page text of a file: every line (ended by LF or CR LF, the last one needs
// none) followed by CR LF. With a skip count above 0, that many bytes (line ends
// included) are dropped before each line is taken. A file that cannot be opened
// gives an empty text.
std::string ReadPageFile(const std::filesystem::path& path, std::int64_t skip = 0);

// Same rule applied to bytes already in memory.
std::string PageTextFromBytes(std::string_view bytes, std::int64_t skip = 0);

}  // namespace quill
