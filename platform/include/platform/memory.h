// Large buffers for whole pictures.
#pragma once

#include <cstddef>

namespace plix::platform {

// Like malloc, but a buffer of 2 MiB or more is placed so that the system can
// back it with huge pages: a 64 MiB picture then costs dozens of page faults
// instead of thousands (each costs microseconds on a virtual machine).
// Aligned to a cache line where std::free allows it (not on Windows). Release
// with std::free (or grow it with std::realloc). Null when memory is short.
void *AllocatePictureBuffer(size_t bytes);

}  // namespace plix::platform
