#include "platform/library.h"

#include <dlfcn.h>

#include "plix/plix.h"

namespace plix::platform {

bool Library::Load(const char *fileName) {
    Unload();
    handle_ = ::dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
    return handle_ != nullptr;
}

void *Library::Symbol(const char *name) const {
    return handle_ ? ::dlsym(handle_, name) : nullptr;
}

void Library::Unload() {
    if (handle_) ::dlclose(handle_);
    handle_ = nullptr;
}

const char *CodecLibraryFileName() { return PLIX_LIBRARY_NAME; }

} // namespace plix::platform
