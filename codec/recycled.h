// Memory the threads' decoding takes on every call, kept from one call to
// the next. On these machines a page touched for the first time costs a
// fault of several microseconds, and the allocator hands large freed blocks
// back to the system, so that each call would fault its notes in anew: a
// few hundred faults, a third of a small picture's decode.
#pragma once

#include <cstddef>
#include <new>
#include <utility>

namespace plix {

// bytes of memory (blocks from 64 KiB on come from those given back, up to
// kMostRecycled in all, and from 2 MiB on are backed by huge pages where the
// system has them); throws std::bad_alloc where there is none.
void *TakeRecycled(size_t bytes);
// Gives back what TakeRecycled(bytes) gave.
void GiveRecycled(void *p, size_t bytes) noexcept;

inline constexpr size_t kMostRecycled = size_t{64} << 20;

// An allocator for vectors on that memory, which grow without clearing:
// what they are grown by is left for the caller to fill.
template <class T>
struct Recycling {
    using value_type = T;
    Recycling() = default;
    template <class U>
    Recycling(const Recycling<U> &) {}
    T *allocate(size_t n) { return static_cast<T *>(TakeRecycled(n * sizeof(T))); }
    void deallocate(T *p, size_t n) noexcept { GiveRecycled(p, n * sizeof(T)); }
    template <class U>
    void construct(U *p) {
        ::new (static_cast<void *>(p)) U;
    }
    template <class U, class... A>
    void construct(U *p, A &&...a) {
        ::new (static_cast<void *>(p)) U(std::forward<A>(a)...);
    }
    friend bool operator==(const Recycling &, const Recycling &) { return true; }
};

// A buffer of that memory.
template <class T>
class RecycledArray {
public:
    RecycledArray() = default;
    explicit RecycledArray(size_t n) : p_(static_cast<T *>(TakeRecycled(n * sizeof(T)))), n_(n) {}
    RecycledArray(RecycledArray &&o) noexcept : p_(std::exchange(o.p_, nullptr)), n_(o.n_) {}
    RecycledArray &operator=(RecycledArray &&o) noexcept {
        std::swap(p_, o.p_);
        std::swap(n_, o.n_);
        return *this;
    }
    ~RecycledArray() {
        if (p_) GiveRecycled(p_, n_ * sizeof(T));
    }
    T *get() const { return p_; }

private:
    T *p_ = nullptr;
    size_t n_ = 0;
};

}  // namespace plix
