#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quill {

// Extension of a file name (with or without folder): the text after the last
// dot of the last path component, "" when there is none. A leading dot alone
// (".profile") is not an extension.
std::string ExtensionOf(std::string_view name);

// File type number (image index) for a name, by its extension in lower case;
// 10 for any other extension and for names without one.
std::int16_t FileTypeIndex(std::string_view name);

// Calendar fields as a file-time conversion delivers them.
struct FileDateTime {
    int year = 0;
    int month = 0;
    int dayOfWeek = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// "7.12.2008 9:05": day.month.year without leading zeros, a blank, then hour
// without and minute with a leading zero.
std::string FormatFileTime(const FileDateTime& time);

}  // namespace quill
