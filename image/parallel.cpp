#include "parallel.h"

#include <sched.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Blocks per thread: more than one, so that a thread slowed by other work on
// the machine, or given the costlier rows, leaves some of its share to the
// others.
constexpr int kBlocksPerThread = 4;

// Whether this thread is running a block, in which case further work runs
// inline instead of waiting for threads that may all be busy with this job.
thread_local bool insideBlock = false;

// Worker threads that sleep between jobs. One job at a time: its blocks are
// handed out in order, under the mutex, to whichever thread asks next, the
// one that posted the job included.
class Pool {
  public:
    explicit Pool(int threads) { start(threads); }

    int threads() const { return (int)workers.size() + 1; }

    void resize(int threads) {
        std::lock_guard<std::mutex> own(posting);
        stop();
        start(threads);
    }

    void run(int rows, int blockCount, void (*call)(const void *, int, int), const void *work) {
        // A second thread posting work while a job runs does it alone.
        std::unique_lock<std::mutex> own(posting, std::try_to_lock);
        if (!own) {
            call(work, 0, rows);
            return;
        }
        std::unique_lock<std::mutex> lock(mutex);
        job = Job{call, work, rows, blockCount};
        nextBlock = 0;
        wake.notify_all();
        runBlocks(lock);
        finished.wait(lock, [&] { return running == 0; });
        job = Job{};
        nextBlock = 0;
        if (failure) std::rethrow_exception(std::exchange(failure, nullptr));
    }

  private:
    struct Job {
        void (*call)(const void *, int, int) = nullptr;
        const void *work = nullptr;
        int rows = 0, blocks = 0;
        int start(int block) const { return (int)((int64_t)rows * block / blocks); }
    };

    void start(int threads) {
        try {
            workers.reserve(threads - 1);
            while ((int)workers.size() < threads - 1) workers.emplace_back([this] { serve(); });
        } catch (...) {
            // Fewer threads than asked for (no memory, or a limit on threads):
            // the work still gets done by those there are.
        }
    }

    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        for (std::thread &worker : workers) worker.join();
        workers.clear();
        stopping = false;
    }

    void serve() {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            wake.wait(lock, [&] { return stopping || nextBlock < job.blocks; });
            if (stopping) return;
            runBlocks(lock);
        }
    }

    // Runs blocks of the current job until none is left to start. Called and
    // returns with the mutex held.
    void runBlocks(std::unique_lock<std::mutex> &lock) {
        while (nextBlock < job.blocks) {
            const int block = nextBlock++;
            ++running;
            const Job current = job;
            lock.unlock();
            std::exception_ptr thrown;
            insideBlock = true;
            try {
                current.call(current.work, current.start(block), current.start(block + 1));
            } catch (...) {
                thrown = std::current_exception();
            }
            insideBlock = false;
            lock.lock();
            if (thrown) {
                if (!failure) failure = thrown;
                nextBlock = job.blocks; // the blocks not started are skipped
            }
            if (--running == 0 && nextBlock == job.blocks) finished.notify_all();
        }
    }

    std::mutex posting; // held by the thread whose job is running
    std::mutex mutex;   // guards everything below
    std::condition_variable wake, finished;
    std::vector<std::thread> workers;
    bool stopping = false;
    Job job;
    int nextBlock = 0, running = 0;
    std::exception_ptr failure; // the first exception a block of the job threw
};

// Never destroyed: at exit (`stop` calls exit) the workers end with the
// process, and a forked child, which has none of them, never waits for them.
Pool &pool() {
    static Pool &instance = *new Pool(processorCount());
    return instance;
}

} // namespace

namespace parallel_detail {

void runRowBlocks(int rows, int minimumRows, void (*call)(const void *, int, int), const void *work) {
    if (rows <= 0) return;
    const int most = rows / std::max(1, minimumRows);
    if (most < 2 || insideBlock) {
        call(work, 0, rows);
        return;
    }
    Pool &threads = pool();
    if (threads.threads() == 1)
        call(work, 0, rows);
    else
        threads.run(rows, std::min(most, threads.threads() * kBlocksPerThread), call, work);
}

} // namespace parallel_detail

int processorCount() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    return std::max(1u, std::thread::hardware_concurrency());
}

int threadCount() { return pool().threads(); }

void setThreadCount(int count) { pool().resize(count > 0 ? count : processorCount()); }
