// Work spread over the caller's thread and a few more.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <type_traits>

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

// Runs job(0) on the calling thread and job(1) to job(team - 1) on threads
// kept from one call to the next, and returns once job(0) is done and every
// job a thread began is done. A job that no thread began by the time job(0)
// is done is not run at all: the callers' jobs share their work out as they
// go, so that whatever one leaves the others take (with no thread to be had,
// job(0) does it all). Where job(0) throws, the jobs begun are waited for,
// then the exception goes on; the others must not throw.
// Kept threads spare each call a thread's start and end: on a virtual
// machine 0.2 to 0.3 ms and 0.05 ms, against 0.1 ms to wake a kept one. They
// wait asleep, and stop when the library is unloaded or the process ends; a
// child process after a fork starts its own. On Windows, where a library's
// threads cannot be ended while it is unloaded, and in the browser, each
// call starts its own.
void RunTogether(unsigned team, void (*call)(void *job, unsigned worker), void *job);

template <class Job>
void RunTogether(unsigned team, Job &&job) {
    using Type = std::remove_reference_t<Job>;
    RunTogether(
        team, [](void *f, unsigned worker) { (*static_cast<Type *>(f))(worker); },
        const_cast<void *>(static_cast<const void *>(&job)));
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
