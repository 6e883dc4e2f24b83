#pragma once

#include <QString>

#include <cstdint>
#include <string>

namespace quill {

// One row of a file list, local or remote, as text ready to show.
struct FileListRow {
    std::string name;        // bytes, as the file system or the server has it
    std::int16_t type = 10;  // file type number, which picks the icon
    QString sizeText;
    QString dateText;   // empty when the time is unknown
    QString bytesText;  // exact size in bytes, the hidden column
};

}  // namespace quill
