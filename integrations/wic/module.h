// What the parts of plixwic.dll share: the module's handle, the count of live
// objects that keeps it loaded, and the objects' constructors.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <wincodec.h>

#include <cstdint>

#include "plix/codec.h"

namespace plixwic {

extern HMODULE gModule;

// Every object and every LockServer(TRUE) holds the module.
void LockModule();
void UnlockModule();
bool ModuleInUse();

HRESULT CreateDecoder(REFIID iid, void **out);
HRESULT CreateEncoder(REFIID iid, void **out);

// Pictures above this are refused before anything is allocated, as the other
// loaders refuse them.
inline constexpr uint64_t kMaxPixels = uint64_t{1} << 28;

// A library result as a WIC error.
HRESULT FromPlix(int result);

// Codec information through the imaging factory, as GetDecoderInfo and
// GetEncoderInfo give it.
HRESULT ComponentInfo(REFCLSID clsid, REFIID iid, void **out);

// Reference counting and module locking for one COM object.
class RefCounted {
public:
    RefCounted() { LockModule(); }
    virtual ~RefCounted() { UnlockModule(); }
    RefCounted(const RefCounted &) = delete;
    RefCounted &operator=(const RefCounted &) = delete;

protected:
    ULONG AddRefImpl() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG ReleaseImpl() {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

private:
    LONG refs_ = 1;
};

// An exclusive lock for the scope.
class Guard {
public:
    explicit Guard(SRWLOCK &lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~Guard() { ReleaseSRWLockExclusive(&lock_); }
    Guard(const Guard &) = delete;
    Guard &operator=(const Guard &) = delete;

private:
    SRWLOCK &lock_;
};

}  // namespace plixwic
