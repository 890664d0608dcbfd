#include "threads.h"

#include <exception>
#include <memory>
#include <new>
#include <vector>

#include "platform/process.h"

#if !defined(_WIN32) && !defined(__EMSCRIPTEN__)
#define PLIX_KEPT_THREADS 1
#else
#define PLIX_KEPT_THREADS 0
#endif

namespace plix {

namespace {

#if PLIX_KEPT_THREADS

// One job handed to a kept thread. It lives in the caller's frame: the
// thread touches it last when it marks it done, under the crew's lock.
struct Offer {
    void (*call)(void *, unsigned);
    void *job;
    unsigned worker;
    std::atomic<bool> done{false};
};

// The threads kept, each asleep until given an offer.
class Crew {
public:
    struct Member {
        Offer *offer = nullptr;  // given, not yet begun (under the lock)
        std::condition_variable wake;
        std::thread thread;
    };

    Crew() : pid_(platform::ProcessId()) {}
    Crew(const Crew &) = delete;
    Crew &operator=(const Crew &) = delete;

    unsigned long Pid() const { return pid_; }
    // The parent's crew, kept only so that it is not lost memory.
    void Inherit(Crew *parents) { parents_ = parents; }

    // The member that was given o, or null where none could be had.
    Member *Give(Offer *o) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (stop_) return nullptr;
        if (!idle_.empty()) {
            Member *m = idle_.back();
            idle_.pop_back();
            m->offer = o;
            lock.unlock();
            m->wake.notify_one();
            return m;
        }
        if (members_.size() + 1 >= kMaxThreads) return nullptr;
        try {
            members_.reserve(members_.size() + 1);
            auto m = std::make_unique<Member>();
            m->offer = o;
            m->thread = std::thread([this, p = m.get()] { Serve(p); });
            members_.push_back(std::move(m));
            return members_.back().get();
        } catch (...) {
            return nullptr;  // no thread (or no memory for one)
        }
    }

    // o back from m where m has not begun it; else once it is done.
    void TakeBack(Member *m, Offer *o) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (m->offer == o) {
                m->offer = nullptr;
                idle_.push_back(m);
                return;
            }
        }
        // Both ends finish at about the same time when the work was shared
        // well: a short wait awake spares a wake-up.
        for (int spin = 0; spin < 2000; ++spin) {
            if (o->done.load(std::memory_order_acquire)) return;
            std::this_thread::yield();
        }
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [&] { return o->done.load(std::memory_order_relaxed); });
    }

    // Ends and joins every thread (no job may be under way).
    void Stop() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        for (const auto &m : members_) m->wake.notify_one();
        for (const auto &m : members_) m->thread.join();
        members_.clear();
    }

private:
    void Serve(Member *m) {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            m->wake.wait(lock, [&] { return stop_ || m->offer != nullptr; });
            Offer *const o = m->offer;
            if (!o) return;
            m->offer = nullptr;  // begun: no longer to be taken back
            lock.unlock();
            o->call(o->job, o->worker);
            lock.lock();
            o->done.store(true, std::memory_order_release);
            idle_.push_back(m);
            done_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable done_;
    std::vector<Member *> idle_;
    std::vector<std::unique_ptr<Member>> members_;
    bool stop_ = false;
    const unsigned long pid_;
    Crew *parents_ = nullptr;
};

// The process's crew, ended with the library (a static's destructor runs
// when it is unloaded, and at exit).
class CrewHolder {
public:
    ~CrewHolder() {
        Crew *c = crew_.exchange(nullptr);
        // A crew from before a fork has no threads here: left alone.
        if (c && c->Pid() == platform::ProcessId()) {
            c->Stop();
            delete c;
        }
    }

    Crew *Get() {
        Crew *c = crew_.load(std::memory_order_acquire);
        if (c && c->Pid() == platform::ProcessId()) return c;
        // None yet, or the parent's: its lock may have been held by a
        // thread that is not here, so a new one, the old one left alone.
        Crew *fresh = new (std::nothrow) Crew;
        if (!fresh) return nullptr;
        fresh->Inherit(c);
        if (!crew_.compare_exchange_strong(c, fresh, std::memory_order_acq_rel)) {
            delete fresh;
            return c;
        }
        return fresh;
    }

private:
    std::atomic<Crew *> crew_{nullptr};
};

CrewHolder &Holder() {
    static CrewHolder holder;
    return holder;
}

#endif

}  // namespace

void RunTogether(unsigned team, void (*call)(void *, unsigned), void *job) {
    team = std::clamp(team, 1u, kMaxThreads);
#if PLIX_KEPT_THREADS
    Offer offers[kMaxThreads];
    Crew::Member *to[kMaxThreads] = {};
    Crew *crew = team > 1 ? Holder().Get() : nullptr;
    for (unsigned w = 1; w < team && crew; ++w) {
        offers[w].call = call;
        offers[w].job = job;
        offers[w].worker = w;
        to[w] = crew->Give(&offers[w]);
    }
#else
    std::vector<std::thread> pool;
#if !defined(__EMSCRIPTEN__) || defined(__EMSCRIPTEN_PTHREADS__)
    try {
        pool.reserve(team - 1);
        for (unsigned w = 1; w < team; ++w) pool.emplace_back(call, job, w);
    } catch (...) {
        // No thread (or no memory for one): the others take its share.
    }
#endif
#endif
    std::exception_ptr failure;
    try {
        call(job, 0);
    } catch (...) {
        failure = std::current_exception();
    }
#if PLIX_KEPT_THREADS
    for (unsigned w = 1; w < team && crew; ++w)
        if (to[w]) crew->TakeBack(to[w], &offers[w]);
#else
    for (std::thread &t : pool) t.join();
#endif
    if (failure) std::rethrow_exception(failure);
}

}  // namespace plix
