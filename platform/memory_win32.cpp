#include "platform/memory.h"

#include <cstdlib>

namespace plix::platform {

// The general allocator; released with std::free like the other platforms'.
void *AllocatePictureBuffer(size_t bytes) {
    return std::malloc(bytes > 0 ? bytes : 1);
}

}  // namespace plix::platform
