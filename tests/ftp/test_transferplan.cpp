#include "ftp/RemoteOperations.h"
#include "ftp/TransferPlan.h"

#include <gtest/gtest.h>

using namespace quill;

namespace {

// Sizes come from the lists' size texts; a text that is no size keeps the
// size before it, and the total stops at kMaxByteCount.
TEST(TransferPlan, SizesAndSaturatingTotals) {
    const std::string huge = "999999999999999999";
    struct Case {
        std::vector<std::string> sizeTexts;
        std::vector<std::int64_t> sizes;
        std::int64_t total;
    };
    const Case cases[] = {
        {{}, {}, 0},
        {{"1536", " 12 ", "5368709120"}, {1536, 12, 5368709120}, 5368710668},
        {{"", "7", "x", "-3", "1.5"}, {0, 7, 7, 7, 7}, 28},
        {{"4611686018427387905", "2"}, {0, 2}, 2},
        {{"4611686018427387904", "1"}, {kMaxByteCount, 1}, kMaxByteCount},
        {std::vector<std::string>(10, huge), std::vector<std::int64_t>(10, 999999999999999999),
         kMaxByteCount},
    };
    for (const Case& c : cases) {
        TransferPlan plan{TransferDirection::Upload, "/home/u/", "/www/", {}};
        for (const std::string& text : c.sizeTexts) {
            plan.add("f", text);
        }
        std::vector<std::int64_t> sizes;
        for (const QueuedFile& file : plan.files) {
            sizes.push_back(file.size);
        }
        EXPECT_EQ(sizes, c.sizes) << ::testing::PrintToString(c.sizeTexts);
        EXPECT_EQ(plan.total(), c.total) << ::testing::PrintToString(c.sizeTexts);
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
