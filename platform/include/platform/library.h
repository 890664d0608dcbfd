// Run-time binding of a shared library by file name.
#pragma once

namespace plix::platform {

class Library {
public:
    Library() = default;
    ~Library() { Unload(); }
    Library(const Library &) = delete;
    Library &operator=(const Library &) = delete;

    // Loads by file name. A bare name is looked for beside the program and in
    // ../lib first (the programs' run path), then by the platform's rules.
    bool Load(const char *fileName);
    // Address of an exported symbol, or null.
    void *Symbol(const char *name) const;
    void Unload();
    bool IsLoaded() const { return handle_ != nullptr; }

private:
    void *handle_ = nullptr;
};

// The file name the codec library is loaded by.
const char *CodecLibraryFileName();

}  // namespace plix::platform
