#include "ftp/TransferMeter.h"

#include "ftp/TransferPlan.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace quill;

namespace {

TEST(TransferMeter, LabelsFollowTheFormulasAtEachRefresh) {
    TransferMeter meter(5500);  // a file of 3000 bytes, then one of 2500
    EXPECT_EQ(meter.labels().lbLeft, "5.37109375") << "the total without a picture at the start";
    EXPECT_EQ(meter.labels().lbCelkem, "5.37 Kb");
    struct Step {
        std::int64_t fileBytes, nowMs;
        const char *far, *left, *time, *speed, *timeLeft;
    };
    // A refresh in the file's first millisecond moves only the amounts; the
    // speed is halved towards each new rate.
    meter.startFile(1000);
    const Step first[] = {
        {0, 1000, "0 Kb", "5.37 Kb", "", "", ""},
        {1024, 1000, "1 Kb", "4.37 Kb", "", "", ""},
        {2048, 1500, "2 Kb", "3.37 Kb", "1 s", "2.05 Kbps", "2 s"},
        {3000, 2500, "2.93 Kb", "2.44 Kb", "2 s", "2.02 Kbps", "1 s"},
    };
    for (const Step& s : first) {
        SCOPED_TRACE(s.fileBytes);
        meter.update(s.fileBytes, s.nowMs);
        const auto& l = meter.labels();
        EXPECT_EQ(l.lbFar, s.far);
        EXPECT_EQ(l.lbLeft, s.left);
        EXPECT_EQ(l.lbTime, s.time);
        EXPECT_EQ(l.lbSpeed, s.speed);
        EXPECT_EQ(l.lbTimeLeft, s.timeLeft);
    }
    EXPECT_FLOAT_EQ(meter.speed(), 2.024f);
    meter.endFile();
    EXPECT_EQ(meter.priorSeconds(), 2) << "1.5 s rounds to even";
    // The second file shows its own time plus the whole seconds before it.
    meter.startFile(10000);
    meter.update(2500, 12500);
    EXPECT_EQ(meter.labels().lbTime, "5 s");
    EXPECT_EQ(meter.labels().lbLeft, "0 Kb");
    EXPECT_EQ(meter.transferred(), 5500);
    meter.endFile();
    EXPECT_EQ(meter.priorSeconds(), 4) << "2.5 s rounds to even";
    // An empty file touches neither the times nor the speed.
    const auto before = meter.labels();
    meter.startFile(20000);
    meter.update(0, 29000);
    meter.endFile();
    EXPECT_EQ(meter.labels().lbTime, before.lbTime);
    EXPECT_EQ(meter.labels().lbSpeed, before.lbSpeed);
    EXPECT_EQ(meter.priorSeconds(), 4);
}

TEST(TransferMeter, SizesBarsAndCountsAreSixtyFourBit) {
    constexpr std::int64_t kFiveGib = std::int64_t{5} << 30;
    EXPECT_EQ(AddByteCounts(kMaxByteCount, kMaxByteCount), kMaxByteCount);
    EXPECT_GT(BarStepsFor(kMaxByteCount).maximum, 0);
    EXPECT_EQ(PlainDecimal(1.5), "1.5");
    EXPECT_EQ(PlainDecimal(5242880), "5242880");

    EXPECT_EQ(BarStepsFor(0).maximum, 0);
    EXPECT_EQ(BarStepsFor(1000).maximum, 1024) << "1.024 times the size";
    EXPECT_EQ(BarStepsFor(1000).value(1000), 1000);
    const BarSteps big = BarStepsFor(kFiveGib);
    EXPECT_GT(big.shift, 0);
    EXPECT_EQ(big.maximum, std::llround(kFiveGib * 1.024) >> big.shift);
    EXPECT_LE(big.value(kFiveGib), big.maximum);
    EXPECT_NEAR(static_cast<double>(big.value(kFiveGib)) / big.maximum, 1 / 1.024, 1e-6);

    TransferMeter meter(kFiveGib);
    EXPECT_EQ(meter.labels().lbCelkem, "5 242 880 Kb");
    meter.startFile(0);
    meter.update(kFiveGib - 1024, 1000);
    EXPECT_EQ(meter.labels().lbFar, "5 242 879 Kb");
    EXPECT_EQ(meter.labels().lbLeft, "1 Kb");
}

}  // namespace
