#include "platform/process.h"

#include <windows.h>

namespace plix::platform {

unsigned long ProcessId() {
    return GetCurrentProcessId();
}

}  // namespace plix::platform
