// Counts the allocations made through operator new while watched, for tests
// that must show a call allocates nothing. Process-wide.
#pragma once

#include <cstddef>

namespace plix::test {

void WatchAllocations(bool on);
size_t AllocationsSeen();  // since watching last began

}  // namespace plix::test
