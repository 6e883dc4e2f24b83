#include "TransferPlan.h"

namespace quill {

std::optional<std::int64_t> ParseByteCount(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    if (text.empty() || text.size() > 19) {
        return std::nullopt;
    }
    std::uint64_t value = 0;  // 19 digits fit
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > static_cast<std::uint64_t>(kMaxByteCount)) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(value);
}

void TransferPlan::add(std::string name, std::string_view sizeText) {
    const std::int64_t before = files.empty() ? 0 : files.back().size;
    files.push_back({std::move(name), ParseByteCount(sizeText).value_or(before)});
}

std::int64_t TransferPlan::total() const {
    std::int64_t sum = 0;
    for (const QueuedFile& file : files) {
        sum = AddByteCounts(sum, file.size);
    }
    return sum;
}

}  // namespace quill
