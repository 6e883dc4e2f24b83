#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

// One row of a file list, local or remote, as stored: texts such as sizes
// and dates are made only when a row is shown.
struct FileListRow {
    // A size or time that is not known (the file vanished before it was
    // measured, or the listing line had none).
    static constexpr std::int64_t kUnknown = std::numeric_limits<std::int64_t>::min();

    std::string name;  // bytes, as the file system or the server has it
    std::int64_t bytes = kUnknown;
    // When the file was written, in the list's own clock: milliseconds since
    // the epoch for local files, the server's calendar packed as
    // yyyymmddhhmm for remote ones. Both grow with time.
    std::int64_t time = kUnknown;
    std::int16_t type = 10;  // file type number, which picks the icon
};

// Name order of both lists: ASCII letters without regard to case, other
// bytes by value; names equal but for case fall back to the exact bytes.
bool FileNameLess(std::string_view a, std::string_view b);

// The columns of both file lists; the last one is hidden.
enum FileListColumn { kNameColumn = 0, kSizeColumn = 1, kDateColumn = 2, kBytesColumn = 3 };

// Sorts rows by a column's stored value (name order, size or time; unknown
// values first), ties by name, the whole order reversed when descending.
void SortFileRows(std::vector<FileListRow>& rows, int column, bool descending);
// The same order as positions into rows: order[i] is the row that goes i-th.
std::vector<std::size_t> SortedFileRowOrder(const std::vector<FileListRow>& rows, int column,
                                            bool descending);

}  // namespace quill
