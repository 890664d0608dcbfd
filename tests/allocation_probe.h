// Counts the allocations made through operator new while watched, for tests
// that must show a call allocates nothing, and makes large ones fail, for
// tests of running short of memory. Process-wide.
#pragma once

#include <cstddef>

namespace plix::test {

void WatchAllocations(bool on);
size_t AllocationsSeen();  // since watching last began
// Allocations of at least from bytes fail, all but the first after of them
// (from 0: none fails).
void FailLargeAllocations(size_t from, long after);

}  // namespace plix::test
