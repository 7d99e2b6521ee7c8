#include "parallel/WorkerPool.h"

#include <chrono>

namespace {

/// How long a thread without work keeps looking before it sleeps: long
/// enough to bridge the short sequential steps between two loops of one
/// iteration, short enough to cost a busy machine next to nothing.
constexpr std::chrono::microseconds kSpin(50);

inline void relax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

/// Spins until ready() or the spin time is over; returns ready().
template <typename Ready>
bool spinUntil(Ready ready)
{
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        for (int i = 0; i < 64; ++i) {
            if (ready())
                return true;
            relax();
        }
        if (std::chrono::steady_clock::now() - start > kSpin)
            return ready();
    }
}

} // namespace

WorkerPool::WorkerPool() = default;

WorkerPool::~WorkerPool()
{
    stopping_.store(true);
    for (std::unique_ptr<Worker>& worker : workers_) {
        std::lock_guard<std::mutex> lock(worker->bed.mutex);
        worker->bed.wake.notify_one();
    }
    for (std::unique_ptr<Worker>& worker : workers_)
        worker->thread.join();
}

WorkerPool& WorkerPool::shared()
{
    static WorkerPool pool;
    return pool;
}

bool& WorkerPool::insideTask()
{
    thread_local bool inside = false;
    return inside;
}

void WorkerPool::ensureWorkers(int count)
{
    while (static_cast<int>(workers_.size()) < count) {
        workers_.push_back(std::make_unique<Worker>());
        Worker& worker = *workers_.back();
        worker.thread = std::thread([this, &worker] { workerLoop(worker); });
    }
}

void WorkerPool::runShared(int threads, int64_t tasks, Invoke invoke, void* context)
{
    ensureWorkers(threads - 1);
    if (++generation_ == 0)
        ++generation_;   // ticket 0 means "no job yet"
    const uint32_t generation = generation_;
    Job& job = jobs_[generation & 1];
    job.invoke.store(invoke, std::memory_order_relaxed);
    job.context.store(context, std::memory_order_relaxed);
    job.tasks.store(tasks, std::memory_order_relaxed);
    finished_.store(0, std::memory_order_relaxed);
    claim_.store(static_cast<uint64_t>(generation) << 32, std::memory_order_release);

    // Only as many workers as can have a task are asked to join.
    const int helpers = static_cast<int>(std::min<int64_t>(threads - 1, tasks - 1));
    for (int w = 0; w < helpers; ++w) {
        Worker& worker = *workers_[w];
        worker.ticket.store(generation);
        if (worker.bed.sleeping.load()) {
            std::lock_guard<std::mutex> lock(worker.bed.mutex);
            worker.bed.wake.notify_one();
        }
    }

    insideTask() = true;
    work(generation);
    insideTask() = false;

    auto done = [&] { return finished_.load(std::memory_order_acquire) == tasks; };
    if (!spinUntil(done)) {
        std::unique_lock<std::mutex> lock(caller_.mutex);
        caller_.sleeping.store(true);
        while (finished_.load() != tasks)
            caller_.wake.wait(lock);
        caller_.sleeping.store(false);
    }
}

void WorkerPool::work(uint32_t generation)
{
    const Job& job = jobs_[generation & 1];
    uint64_t claim = claim_.load(std::memory_order_acquire);
    for (;;) {
        if (static_cast<uint32_t>(claim >> 32) != generation)
            return;
        const int64_t task = static_cast<int64_t>(claim & kTaskMask);
        // Read before the claim: a stale value only lets a claim fail.
        const int64_t tasks = job.tasks.load(std::memory_order_relaxed);
        if (task >= tasks)
            return;
        if (!claim_.compare_exchange_weak(claim, claim + 1, std::memory_order_acq_rel, std::memory_order_acquire))
            continue;
        job.invoke.load(std::memory_order_relaxed)(job.context.load(std::memory_order_relaxed), task);
        if (finished_.fetch_add(1) + 1 == tasks)
            wakeCaller();
        claim = claim_.load(std::memory_order_acquire);
    }
}

void WorkerPool::wakeCaller()
{
    if (caller_.sleeping.load()) {
        std::lock_guard<std::mutex> lock(caller_.mutex);
        caller_.wake.notify_one();
    }
}

void WorkerPool::workerLoop(Worker& worker)
{
    insideTask() = true;
    uint32_t seen = 0;
    for (;;) {
        auto called = [&] { return worker.ticket.load(std::memory_order_acquire) != seen || stopping_.load(); };
        if (!spinUntil(called)) {
            std::unique_lock<std::mutex> lock(worker.bed.mutex);
            worker.bed.sleeping.store(true);
            while (worker.ticket.load() == seen && !stopping_.load())
                worker.bed.wake.wait(lock);
            worker.bed.sleeping.store(false);
        }
        if (stopping_.load())
            return;
        seen = worker.ticket.load(std::memory_order_acquire);
        work(seen);
    }
}
