#include "platform/memory.h"

#include <cstdlib>

namespace plix::platform {

// The general allocator; released with std::free like the other platforms'.
void *AllocatePictureBuffer(size_t bytes) {
    return std::malloc(bytes > 0 ? bytes : 1);
}

void *TrimPictureBuffer(void *p, size_t used, size_t) {
    if (!p || used == 0) return p;
    void *trimmed = std::realloc(p, used);
    return trimmed ? trimmed : p;
}

}  // namespace plix::platform
