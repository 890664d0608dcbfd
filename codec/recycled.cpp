#include "recycled.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <bit>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/memory.h"

namespace plix {

namespace {

// Small blocks the allocator keeps mapped anyway.
constexpr size_t kLeastRecycled = size_t{64} << 10;

// Blocks by their size, rounded up to a power of two, so that a block
// given back fits the same request next time.
struct Bin {
    std::mutex mutex;
    std::vector<std::pair<size_t, void *>> blocks;
    size_t bytes = 0;

    ~Bin() {
        for (const auto &b : blocks) std::free(b.second);
    }
};

Bin &TheBin() {
    static Bin bin;
    return bin;
}

size_t SizeOf(size_t bytes) { return bytes < kLeastRecycled ? bytes : std::bit_ceil(bytes); }

}  // namespace

void *TakeRecycled(size_t bytes) {
    // (No power of two holds more.)
    if (bytes > SIZE_MAX / 2 + 1) throw std::bad_alloc();
    const size_t size = SizeOf(bytes);
    if (size >= kLeastRecycled) {
        Bin &bin = TheBin();
        const std::lock_guard<std::mutex> lock(bin.mutex);
        // The block given back last first: its pages are the likeliest
        // still cached.
        const auto it = std::find_if(bin.blocks.rbegin(), bin.blocks.rend(),
                                     [&](const auto &b) { return b.first == size; });
        if (it != bin.blocks.rend()) {
            void *p = it->second;
            bin.bytes -= size;
            bin.blocks.erase(std::next(it).base());
            return p;
        }
    }
    // Where huge pages back it, the rest faults in a few at a time.
    if (void *p = platform::AllocatePictureBuffer(size)) return p;
    throw std::bad_alloc();
}

void GiveRecycled(void *p, size_t bytes) noexcept {
    const size_t size = SizeOf(bytes);
    if (p && size >= kLeastRecycled) {
        Bin &bin = TheBin();
        const std::lock_guard<std::mutex> lock(bin.mutex);
        if (bin.bytes + size <= kMostRecycled) {
            try {
                bin.blocks.emplace_back(size, p);
                bin.bytes += size;
                return;
            } catch (...) {
            }
        }
    }
    std::free(p);
}

}  // namespace plix
