#include "common/WorkerQueue.h"

#include "support/GuiTest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

using namespace quill;
using quill::test::WaitFor;

namespace {

// A quicker later job still answers second; destroyed while a job runs, the
// queue stops it and drops its result and the job behind it.
TEST(WorkerQueueTest, AnswersInOrderAndDropsWorkWhenDestroyed) {
    auto queue = std::make_unique<WorkerQueue>(QStringLiteral("test"));
    std::vector<int> results;
    const auto submit = [&](int i, std::function<void()> work) {
        queue->submit<int>(
            [i, work] {
                work();
                return i;
            },
            [&](int result) { results.push_back(result); });
    };
    submit(0, [] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); });
    submit(1, [] {});
    ASSERT_TRUE(WaitFor([&] { return !queue->busy(); }));
    EXPECT_EQ(results, (std::vector<int>{0, 1}));

    std::atomic<bool> started = false;
    std::atomic<bool> secondRan = false;
    const std::atomic<bool>& stop = queue->stopFlag();
    submit(2, [&] {
        started = true;
        while (!stop.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    submit(3, [&] { secondRan = true; });
    ASSERT_TRUE(WaitFor([&] { return started.load(); }));
    queue.reset();  // returns only once the running job saw the stop
    QTest::qWait(50);
    EXPECT_FALSE(secondRan);
    EXPECT_EQ(results.size(), 2u);
}

}  // namespace
