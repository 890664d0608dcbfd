// The replaced operators live alone in this file, so that no caller sees
// malloc behind them.
#include "allocation_probe.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> gWatching{false};
std::atomic<size_t> gAllocations{0};
std::atomic<size_t> gFailFrom{0};
std::atomic<long> gFailAfter{0};

void *Allocate(size_t n) {
    if (gWatching) ++gAllocations;
    const size_t from = gFailFrom.load();
    if (from > 0 && n >= from && gFailAfter.fetch_sub(1) <= 0) return nullptr;
    return std::malloc(n > 0 ? n : 1);
}

}  // namespace

namespace plix::test {

void WatchAllocations(bool on) {
    if (on) gAllocations = 0;
    gWatching = on;
}

size_t AllocationsSeen() {
    return gAllocations;
}

void FailLargeAllocations(size_t from, long after) {
    gFailAfter = after;
    gFailFrom = from;
}

}  // namespace plix::test

void *operator new(size_t n) {
    if (void *p = Allocate(n)) return p;
    throw std::bad_alloc();
}
void *operator new[](size_t n) {
    if (void *p = Allocate(n)) return p;
    throw std::bad_alloc();
}
void *operator new(size_t n, const std::nothrow_t &) noexcept {
    return Allocate(n);
}
void *operator new[](size_t n, const std::nothrow_t &) noexcept {
    return Allocate(n);
}
void operator delete(void *p) noexcept {
    std::free(p);
}
void operator delete[](void *p) noexcept {
    std::free(p);
}
void operator delete(void *p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void *p, size_t) noexcept {
    std::free(p);
}
