#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

/// The worker threads of the engine's parallel loops, built for a machine
/// that other programs share:
/// - tasks are claimed one at a time by whichever thread is free, so a
///   thread that the system has descheduled holds up a loop by no more than
///   the task it is running, and the others finish the rest;
/// - a thread without work spins for a few microseconds only, then sleeps,
///   so waiting costs neither the other programs nor our own descheduled
///   threads any processor time.
/// Each task must write only its own outputs; then the results do not
/// depend on which thread ran which task, nor on the thread count. Tasks
/// must not throw.
class WorkerPool
{
public:
    WorkerPool();
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    /// The process's pool.
    static WorkerPool& shared();

    /// Calls task(t) for every t in [0, tasks) on up to `threads` threads,
    /// the calling one included, and returns when all calls have returned.
    /// A call made from inside a task, or while another thread is using the
    /// pool, runs every task on the calling thread.
    template <typename Task>
    void run(int threads, int64_t tasks, Task&& task)
    {
        if (tasks <= 0)
            return;
        if (threads > 1 && tasks > 1 && tasks <= static_cast<int64_t>(kTaskMask) && !insideTask() && owner_.try_lock()) {
            using Callable = std::remove_reference_t<Task>;
            runShared(threads, tasks, [](void* context, int64_t t) { (*static_cast<Callable*>(context))(t); },
                      const_cast<void*>(static_cast<const void*>(&task)));
            owner_.unlock();
            return;
        }
        for (int64_t t = 0; t < tasks; ++t)
            task(t);
    }

    /// Splits [0, count) into chunks of `chunk` (the last one shorter) and
    /// calls body(begin, end) for each, as run does.
    template <typename Body>
    void forChunks(int threads, int64_t count, int64_t chunk, Body&& body)
    {
        const int64_t chunks = (count + chunk - 1) / chunk;
        run(threads, chunks, [&](int64_t c) { body(c * chunk, std::min(count, (c + 1) * chunk)); });
    }

private:
    using Invoke = void (*)(void* context, int64_t task);

    /// One job's description, read by a worker only after it claimed one of
    /// the job's tasks; two of them alternate, so a worker still looking at
    /// the previous job never reads one that is being written.
    struct Job
    {
        std::atomic<Invoke> invoke{nullptr};
        std::atomic<void*> context{nullptr};
        std::atomic<int64_t> tasks{0};
    };

    /// A sleeping place: the flag says someone sleeps there, the waker then
    /// takes the lock and notifies.
    struct alignas(64) Bed
    {
        std::atomic<bool> sleeping{false};
        std::mutex mutex;
        std::condition_variable wake;
    };

    struct alignas(64) Worker
    {
        std::atomic<uint32_t> ticket{0};   ///< the latest job it is asked to join
        Bed bed;
        std::thread thread;
    };

    static bool& insideTask();
    void runShared(int threads, int64_t tasks, Invoke invoke, void* context);
    void ensureWorkers(int count);
    void workerLoop(Worker& worker);
    /// Claims and runs tasks of job `generation` until none is left.
    void work(uint32_t generation);
    void wakeCaller();

    static constexpr uint64_t kTaskMask = 0xffffffffu;

    std::mutex owner_;                       ///< held by the caller of a running job
    Job jobs_[2];
    alignas(64) std::atomic<uint64_t> claim_{0};    ///< generation << 32 | next task
    alignas(64) std::atomic<int64_t> finished_{0};  ///< tasks of the current job done
    Bed caller_;
    uint32_t generation_ = 0;
    std::atomic<bool> stopping_{false};
    std::vector<std::unique_ptr<Worker>> workers_;
};
