#include "common/WorkerQueue.h"

#include "support/GuiTest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace quill;
using quill::test::WaitFor;

namespace {

// Later jobs are quicker: results still come back in the order asked.
TEST(WorkerQueueTest, ResultsComeBackInOrderOnTheOwnersThread) {
    WorkerQueue queue(QStringLiteral("test"));
    std::vector<int> results;
    std::vector<bool> busy;
    QObject::connect(&queue, &WorkerQueue::busyChanged, &queue,
                     [&](bool now) { busy.push_back(now); });
    for (int i = 0; i < 5; ++i) {
        queue.submit<int>(
            [i] {
                std::this_thread::sleep_for(std::chrono::milliseconds(5 * (5 - i)));
                return i;
            },
            [&](int result) {
                EXPECT_EQ(QThread::currentThread(), queue.thread());
                results.push_back(result);
            });
    }
    ASSERT_TRUE(WaitFor([&] { return !queue.busy(); }));
    EXPECT_EQ(results, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(busy, (std::vector<bool>{true, false}));
}

// Destroyed while a job runs: the job sees the stop, its result and the
// queued job are dropped.
TEST(WorkerQueueTest, DestructionStopsTheJobAndDropsWhatIsLeft) {
    auto queue = std::make_unique<WorkerQueue>(QStringLiteral("test"));
    const std::atomic<bool>& stop = queue->stopFlag();
    std::atomic<bool> started = false;
    std::atomic<bool> sawStop = false;
    std::atomic<bool> secondRan = false;
    bool delivered = false;
    queue->submit<int>(
        [&] {
            started = true;
            while (!stop.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            sawStop = true;
            return 1;
        },
        [&](int) { delivered = true; });
    queue->submit<int>(
        [&] {
            secondRan = true;
            return 2;
        },
        [&](int) { delivered = true; });
    ASSERT_TRUE(WaitFor([&] { return started.load(); }));
    queue.reset();
    QTest::qWait(50);
    EXPECT_TRUE(sawStop);
    EXPECT_FALSE(secondRan);
    EXPECT_FALSE(delivered);
}

}  // namespace
