#include "parallel/WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

TEST(WorkerPool, RunsEveryTaskExactlyOnceAtAnyThreadCount)
{
    WorkerPool pool;
    for (int threads : {1, 2, 8, 16})
        for (int64_t tasks : {0, 1, 7, 1000}) {
            std::vector<std::atomic<int>> runs(static_cast<size_t>(tasks));
            pool.run(threads, tasks, [&](int64_t t) { runs[t].fetch_add(1); });
            for (int64_t t = 0; t < tasks; ++t)
                ASSERT_EQ(runs[t].load(), 1) << threads << " threads, task " << t << " of " << tasks;
        }
    // Chunks cover the range once, the last one shorter.
    std::vector<int> covered(1000, 0);
    pool.forChunks(8, 1000, 64, [&](int64_t begin, int64_t end) {
        for (int64_t i = begin; i < end; ++i)
            ++covered[i];
    });
    EXPECT_EQ(covered, std::vector<int>(1000, 1));
}

TEST(WorkerPool, ManyShortJobsInARowAllComplete)
{
    // Workers sleep and wake between jobs and may still be looking at the
    // previous one when the next starts; no task may be lost or run twice.
    WorkerPool pool;
    int64_t total = 0;
    for (int job = 0; job < 20000; ++job) {
        std::vector<int64_t> values(static_cast<size_t>(1 + job % 13), 0);
        pool.run(1 + job % 9, static_cast<int64_t>(values.size()), [&](int64_t t) { values[t] = t + 1; });
        for (int64_t v : values)
            total += v;
    }
    int64_t expected = 0;
    for (int job = 0; job < 20000; ++job) {
        const int64_t count = 1 + job % 13;
        expected += count * (count + 1) / 2;
    }
    EXPECT_EQ(total, expected);
}

TEST(WorkerPool, NestedAndConcurrentCallsRunOnTheirCaller)
{
    WorkerPool pool;
    std::atomic<int> innerOnOtherThread{0};
    std::atomic<int> innerRuns{0};
    pool.run(8, 16, [&](int64_t) {
        const std::thread::id outer = std::this_thread::get_id();
        pool.run(8, 4, [&](int64_t) {
            innerRuns.fetch_add(1);
            if (std::this_thread::get_id() != outer)
                innerOnOtherThread.fetch_add(1);
        });
    });
    EXPECT_EQ(innerRuns.load(), 64);
    EXPECT_EQ(innerOnOtherThread.load(), 0);

    // Two callers at once: both finish, each task once.
    std::vector<std::atomic<int>> a(5000), b(5000);
    std::thread other([&] {
        for (int round = 0; round < 20; ++round)
            pool.run(4, 250, [&](int64_t t) { a[round * 250 + t].fetch_add(1); });
    });
    for (int round = 0; round < 20; ++round)
        pool.run(4, 250, [&](int64_t t) { b[round * 250 + t].fetch_add(1); });
    other.join();
    for (size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(a[i].load(), 1);
        ASSERT_EQ(b[i].load(), 1);
    }
}
