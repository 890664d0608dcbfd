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

// A picture buffer of capacity bytes trimmed to its first used ones, to hand
// to a caller who frees it with std::free. One backed by huge pages stays as
// it is: the pages past the used ones were never touched, so they take no
// memory, and giving them back would make every processor that ran one of
// the process's threads flush its address cache (0.1 ms on a virtual machine).
void *TrimPictureBuffer(void *p, size_t used, size_t capacity);

}  // namespace plix::platform
