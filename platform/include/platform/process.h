// The running process.
#pragma once

namespace plix::platform {

// Differs in a child from its parent: state a process kept with threads of
// its own (which a child does not inherit) tells it was made before a fork.
unsigned long ProcessId();

}  // namespace plix::platform
