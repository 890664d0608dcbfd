#include "platform/library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <string>

// The library folder as seen from the program folder, set by the build.
#ifndef PLIX_BINDIR_TO_LIBDIR
#define PLIX_BINDIR_TO_LIBDIR "../lib"
#endif

namespace plix::platform {

namespace {

// Folder of the running program, or empty when it cannot be told.
std::string ProgramFolder() {
    std::string path(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
        if (n <= 0) return {};
        if (static_cast<size_t>(n) < path.size()) {
            path.resize(static_cast<size_t>(n));
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

bool Library::Load(const char *fileName) {
    Unload();
    // A bare name is first looked for where the programs' run path points:
    // beside the program and in the installed library folder. dlopen applies
    // the run path of its caller, and a runtime that interposes dlopen (the
    // sanitizers) is the caller then, so the program's own run path would be
    // ignored.
    if (std::strchr(fileName, '/') == nullptr) {
        const std::string folder = ProgramFolder();
        if (!folder.empty()) {
            for (const char *sub : {"/", "/" PLIX_BINDIR_TO_LIBDIR "/"}) {
                const std::string path = folder + sub + fileName;
                handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
                if (handle_) return true;
            }
        }
    }
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

const char *CodecLibraryFileName() {
    return "libPLIX.so";
}

}  // namespace plix::platform
