#include "platform/memory.h"

#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace plix::platform {

void *AllocatePictureBuffer(size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr size_t kHuge = size_t{2} << 20;
    if (bytes >= 2 * kHuge) {
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
    return std::malloc(bytes > 0 ? bytes : 1);
}

}  // namespace plix::platform
