#include "common/FileListRow.h"
#include "ftp/RemoteOperations.h"
#include "ftp/TransferPlan.h"

#include <gtest/gtest.h>

using namespace quill;

namespace {

// Sizes come from the lists' rows; a size not known or not believed keeps
// the size before it, and the total stops at kMaxByteCount.
TEST(TransferPlan, SizesAndSaturatingTotals) {
    constexpr std::int64_t kUnknown = FileListRow::kUnknown;
    const std::int64_t huge = 999999999999999999;
    struct Case {
        std::vector<std::int64_t> listed;
        std::vector<std::int64_t> sizes;
        std::int64_t total;
    };
    const Case cases[] = {
        {{}, {}, 0},
        {{1536, 12, 5368709120}, {1536, 12, 5368709120}, 5368710668},
        {{kUnknown, 7, kUnknown, -3}, {0, 7, 7, 7}, 21},
        {{kMaxByteCount + 1, 2}, {0, 2}, 2},
        {{kMaxByteCount, 1}, {kMaxByteCount, 1}, kMaxByteCount},
        {std::vector<std::int64_t>(10, huge), std::vector<std::int64_t>(10, huge), kMaxByteCount},
    };
    for (const Case& c : cases) {
        TransferPlan plan{TransferDirection::Upload, "/home/u/", "/www/", {}};
        for (const std::int64_t bytes : c.listed) {
            plan.add("f", bytes);
        }
        std::vector<std::int64_t> sizes;
        for (const QueuedFile& file : plan.files) {
            sizes.push_back(file.size);
        }
        EXPECT_EQ(sizes, c.sizes) << ::testing::PrintToString(c.listed);
        EXPECT_EQ(plan.total(), c.total) << ::testing::PrintToString(c.listed);
    }
}

TEST(RemoteOperations, ModesAreThreeOrFourOctalDigits) {
    for (const char* good : {"644", "0755", "000", "7777"}) {
        EXPECT_TRUE(IsOctalMode(good)) << good;
    }
    for (const char* bad :
         {"", "64", "07555", "648", "9x", "+644", " 644", "6 4", "\xd9\xa6\xd9\xa4"}) {
        EXPECT_FALSE(IsOctalMode(bad)) << bad;
    }
}

}  // namespace
