// Work spread over the caller's thread and a few more.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace plix {

// Smaller pictures take less time than starting threads and sharing the work
// out (on this machine a thread takes 40 to 130 microseconds to start and
// join): the encoder's bands, and the decoder's parts, which also read the
// codes twice. Tests lower them to send the smallest through the threads.
inline constexpr int64_t kBandMinPixels = int64_t{1} << 19;
inline constexpr int64_t kPartMinPixels = int64_t{1} << 20;

// More threads than this only cost their start.
inline constexpr unsigned kMaxThreads = 64;

// Threads the work can use: at most asked, and no more than there are items.
inline unsigned WorkersFor(unsigned asked, size_t items) {
    return static_cast<unsigned>(
        std::max<size_t>(1, std::min<size_t>({asked, items, kMaxThreads})));
}

// Runs item(i, worker) for every i in [0, items), each exactly once, on up to
// workers threads, the caller's being worker 0; items are taken in order as
// threads get free. Returns when all are done. Where a thread cannot be
// started, the others take its share, so the outcome never depends on how
// many ran. item must not throw.
template <class Item>
void ForEachItem(unsigned workers, size_t items, Item item) {
    workers = WorkersFor(workers, items);
    std::atomic<size_t> next{0};
    const auto work = [&](unsigned worker) {
        for (size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < items;) item(i, worker);
    };
    std::vector<std::thread> pool;
#if !defined(__EMSCRIPTEN__) || defined(__EMSCRIPTEN_PTHREADS__)
    try {
        pool.reserve(workers - 1);
        for (unsigned w = 1; w < workers; ++w) pool.emplace_back(work, w);
    } catch (...) {
        // No thread (or no memory for one): fewer workers.
    }
#endif
    work(0);
    for (std::thread &t : pool) t.join();
}

// Where threads wait for each other: a while on their own, then asleep until
// told that something changed.
class Signal {
public:
    template <class Ready>
    void Wait(Ready ready) {
        for (int spin = 0; spin < 2000; ++spin) {
            if (ready()) return;
            std::this_thread::yield();
        }
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, ready);
    }
    void Tell() {
        { const std::lock_guard<std::mutex> lock(mutex_); }
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

}  // namespace plix
