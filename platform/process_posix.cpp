#include "platform/process.h"

#include <unistd.h>

namespace plix::platform {

unsigned long ProcessId() {
    return static_cast<unsigned long>(getpid());
}

}  // namespace plix::platform
