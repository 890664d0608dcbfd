#include "platform/library.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace plix::platform {

// The system's search order already starts with the program's own folder,
// where the library is installed beside the programs.
bool Library::Load(const char *fileName) {
    Unload();
    if (!fileName || !*fileName) return false;
    // A library that cannot be loaded is reported by the caller, not by a
    // message box of the system's.
    const UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    handle_ = ::LoadLibraryA(fileName);
    ::SetErrorMode(oldMode);
    return handle_ != nullptr;
}

void *Library::Symbol(const char *name) const {
    if (!handle_) return nullptr;
    return reinterpret_cast<void *>(::GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void Library::Unload() {
    if (handle_) ::FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

const char *CodecLibraryFileName() {
    return "PLIX.DLL";
}

}  // namespace plix::platform
