// The codec library bound at run time by its file name, for the programs that
// use it without linking against it. Not installed: it rests on the project's
// platform layer.
#pragma once

#include "platform/library.h"
#include "plix/plix.h"

namespace plix {

class CodecBinding {
public:
    // Loads the library by file name (the platform's name for it by default).
    bool Load(const char *fileName = platform::CodecLibraryFileName()) {
        return library_.Load(fileName);
    }
    bool IsLoaded() const { return library_.IsLoaded(); }
    void Unload() { library_.Unload(); }

    // The factory, looked up by name; null when the library has none.
    PLIX_ConstructorFn Constructor() const {
        return reinterpret_cast<PLIX_ConstructorFn>(library_.Symbol("PLIX_Constructor"));
    }
    // Destroys codec with the disposer, looked up by name only now that it is
    // needed; without one the codec is left alone.
    void Destroy(PlixCodec *codec) const {
        if (auto destroy = reinterpret_cast<PLIX_DestructorFn>(library_.Symbol("PLIX_Destructor")))
            destroy(codec);
    }

private:
    platform::Library library_;
};

}  // namespace plix
