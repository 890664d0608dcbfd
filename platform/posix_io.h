// Small POSIX helpers shared by the file classes of this folder.
#pragma once

#include <string>
#include <sys/types.h>

namespace plix::platform::posix {

// open() that is retried while a signal interrupts it; -1 with errno set on
// failure.
int OpenRetrying(const char *path, int flags, mode_t mode = 0);

// Closes fd when open and removes the temporary file temp, if any; both are
// left empty.
void CloseAndRemoveTemp(int &fd, std::string &temp);

}  // namespace plix::platform::posix
