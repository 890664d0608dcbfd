#include "platform/memory.h"

#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace plix::platform {

void *AllocatePictureBuffer(size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr size_t kHuge = size_t{2} << 20;
    if (bytes >= kHuge) {
        const size_t rounded = (bytes + kHuge - 1) / kHuge * kHuge;
        if (rounded >= bytes) {
            if (void *p = std::aligned_alloc(kHuge, rounded)) {
                // Only advice: without huge pages the buffer works the same.
                (void)::madvise(p, rounded, MADV_HUGEPAGE);
                return p;
            }
            return nullptr;
        }
    }
#endif
    // Whole cache lines, so that rows of pixels can be streamed out.
    const size_t lines = (bytes > 0 ? bytes : 1) + 63;
    return lines > bytes ? std::aligned_alloc(64, lines / 64 * 64) : nullptr;
}

}  // namespace plix::platform
