#include "FileListRow.h"

#include "TextOps.h"

#include <algorithm>
#include <numeric>

namespace quill {

bool FileNameLess(std::string_view a, std::string_view b) {
    const auto [ia, ib] = std::mismatch(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return AsciiLower(x) == AsciiLower(y);
    });
    if (ia != a.end() && ib != b.end()) {
        return static_cast<unsigned char>(AsciiLower(*ia)) <
               static_cast<unsigned char>(AsciiLower(*ib));
    }
    if (ia == a.end() && ib == b.end()) {
        return a < b;
    }
    return ia == a.end();
}

std::vector<std::size_t> SortedFileRowOrder(const std::vector<FileListRow>& rows, int column,
                                            bool descending) {
    auto key = [column](const FileListRow& row) {
        return column == kDateColumn ? row.time : row.bytes;
    };
    auto less = [&](std::size_t i, std::size_t j) {
        const FileListRow& a = rows[descending ? j : i];
        const FileListRow& b = rows[descending ? i : j];
        if (column != kNameColumn && key(a) != key(b)) {
            return key(a) < key(b);
        }
        return FileNameLess(a.name, b.name);
    };
    std::vector<std::size_t> order(rows.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), less);
    return order;
}

void SortFileRows(std::vector<FileListRow>& rows, int column, bool descending) {
    const std::vector<std::size_t> order = SortedFileRowOrder(rows, column, descending);
    std::vector<FileListRow> sorted;
    sorted.reserve(rows.size());
    for (const std::size_t i : order) {
        sorted.push_back(std::move(rows[i]));
    }
    rows = std::move(sorted);
}

}  // namespace quill
