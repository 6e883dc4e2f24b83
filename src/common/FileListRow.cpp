#include "FileListRow.h"

#include "TextOps.h"

#include <algorithm>

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

namespace {

// What a sort compares first, kept together so that a million rows sort
// without chasing each row: the value and the first 16 name bytes in
// lower case, big-endian (a shorter name is padded with 0, which no name
// holds, so it comes first as in FileNameLess).
struct SortKey {
    std::int64_t value;
    std::uint64_t head[2];
    std::size_t row;
};

std::uint64_t NameBytes(std::string_view name, std::size_t from) {
    std::uint64_t bytes = 0;
    for (std::size_t i = from; i < from + 8; ++i) {
        const char c = i < name.size() ? AsciiLower(name[i]) : '\0';
        bytes = bytes << 8 | static_cast<unsigned char>(c);
    }
    return bytes;
}

}  // namespace

std::vector<std::size_t> SortedFileRowOrder(const std::vector<FileListRow>& rows, int column,
                                            bool descending) {
    std::vector<SortKey> keys;
    keys.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const FileListRow& row = rows[i];
        const std::int64_t value = column == kNameColumn   ? 0
                                   : column == kDateColumn ? row.time
                                                           : row.bytes;
        keys.push_back({value, {NameBytes(row.name, 0), NameBytes(row.name, 8)}, i});
    }
    auto less = [&](const SortKey& a, const SortKey& b) {
        if (a.value != b.value) {
            return a.value < b.value;
        }
        if (a.head[0] != b.head[0] || a.head[1] != b.head[1]) {
            return a.head[0] != b.head[0] ? a.head[0] < b.head[0] : a.head[1] < b.head[1];
        }
        return FileNameLess(rows[a.row].name, rows[b.row].name);
    };
    if (descending) {
        std::stable_sort(keys.begin(), keys.end(),
                         [&](const SortKey& a, const SortKey& b) { return less(b, a); });
    } else {
        std::stable_sort(keys.begin(), keys.end(), less);
    }
    std::vector<std::size_t> order;
    order.reserve(keys.size());
    for (const SortKey& key : keys) {
        order.push_back(key.row);
    }
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
