#include "TransferPlan.h"

namespace quill {

void TransferPlan::add(std::string name, std::int64_t bytes, std::string localFolder) {
    const std::int64_t before = files.empty() ? 0 : files.back().size;
    files.push_back({std::move(name), bytes >= 0 && bytes <= kMaxByteCount ? bytes : before,
                     std::move(localFolder)});
}

std::int64_t TransferPlan::total() const {
    std::int64_t sum = 0;
    for (const QueuedFile& file : files) {
        sum = AddByteCounts(sum, file.size);
    }
    return sum;
}

}  // namespace quill
