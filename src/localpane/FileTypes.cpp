#include "FileTypes.h"

#include "common/TextOps.h"

#include <array>
#include <cstdio>
#include <utility>

namespace quill {

std::string ExtensionOf(std::string_view name) {
    const auto slash = name.find_last_of('/');
    const std::string_view base = slash == std::string_view::npos ? name : name.substr(slash + 1);
    const auto dot = base.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) {
        return {};
    }
    return std::string(base.substr(dot + 1));
}

std::int16_t FileTypeIndex(std::string_view name) {
    static constexpr std::array<std::pair<std::string_view, std::int16_t>, 34> kTypes{{
        {"jpg", 1}, {"jpeg", 1}, {"jpe", 1}, {"bmp", 1}, {"htm", 2}, {"html", 2}, {"xml", 2},
        {"asp", 2}, {"txt", 3},  {"log", 3}, {"doc", 3}, {"rtf", 3}, {"ftp", 3},  {"ini", 3},
        {"dat", 3}, {"gif", 4},  {"js", 5},  {"css", 5}, {"cgi", 5}, {"mp3", 6},  {"ram", 6},
        {"au", 6},  {"vaw", 6},  {"zip", 7}, {"arj", 7}, {"avi", 8}, {"mpg", 8},  {"mpeg", 8},
        {"mov", 8}, {"exe", 9},  {"com", 9}, {"bat", 9}, {"", 10},   {"", 10},
    }};
    const std::string extension = AsciiLower(ExtensionOf(name));
    if (extension.empty()) {
        return 10;
    }
    for (const auto& [ext, type] : kTypes) {
        if (!ext.empty() && ext == extension) {
            return type;
        }
    }
    return 10;
}

std::string FormatFileTime(const FileDateTime& time) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%d.%d.%d %d:%02d", time.day, time.month, time.year,
                  time.hour, time.minute);
    return buffer;
}

}  // namespace quill
