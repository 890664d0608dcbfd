#include "platform/file.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <atomic>
#include <climits>
#include <cstdio>

namespace plix::platform {

namespace {

HANDLE H(NativeFile f) {
    return static_cast<HANDLE>(f);
}

// Transfers are at most this long, so that the DWORD counts never overflow.
constexpr size_t kMaxTransfer = size_t{1} << 30;

}  // namespace

bool InputFile::Open(const char *path) {
    Close();
    if (!path || !*path) return false;
    // Without FILE_FLAG_BACKUP_SEMANTICS a folder does not open.
    HANDLE h = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    // A character device (CON, a serial port) would wait for typing instead of
    // delivering a file; only files on disk and pipes are read.
    if (::GetFileType(h) == FILE_TYPE_CHAR) {
        ::CloseHandle(h);
        return false;
    }
    fd_ = h;
    return true;
}

void InputFile::Close() {
    if (fd_ != kNoFile) ::CloseHandle(H(fd_));
    fd_ = kNoFile;
}

size_t InputFile::Read(void *dest, size_t n) {
    if (fd_ == kNoFile) return 0;
    auto *p = static_cast<unsigned char *>(dest);
    size_t got = 0;
    // A pipe delivers what it has; only 0 bytes mean the end.
    while (got < n) {
        const size_t want = n - got < kMaxTransfer ? n - got : kMaxTransfer;
        DWORD r = 0;
        if (!::ReadFile(H(fd_), p + got, static_cast<DWORD>(want), &r, nullptr) || r == 0) break;
        got += r;
    }
    return got;
}

int64_t InputFile::Seek(int64_t distance, int origin) {
    if (fd_ == kNoFile) return -1;
    const DWORD method = origin == 0   ? FILE_BEGIN
                         : origin == 1 ? FILE_CURRENT
                         : origin == 2 ? FILE_END
                                       : DWORD{0xFFFFFFFF};
    if (method == 0xFFFFFFFF) return -1;
    LONG high = static_cast<LONG>(distance >> 32);
    ::SetLastError(NO_ERROR);
    const DWORD low =
        ::SetFilePointer(H(fd_), static_cast<LONG>(distance & 0xFFFFFFFF), &high, method);
    if (low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR) return -1;
    return (static_cast<int64_t>(high) << 32) | low;
}

int64_t InputFile::Size() const {
    if (fd_ == kNoFile || ::GetFileType(H(fd_)) != FILE_TYPE_DISK) return -1;
    DWORD high = 0;
    ::SetLastError(NO_ERROR);
    const DWORD low = ::GetFileSize(H(fd_), &high);
    if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) return -1;
    return (static_cast<int64_t>(high) << 32) | low;
}

namespace {

std::atomic<unsigned> tempCounter{0};

// Name of a file beside target that nobody else uses.
std::string TempNameFor(const std::string &target) {
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%lu.%u.tmp",
                  static_cast<unsigned long>(::GetCurrentProcessId()),
                  tempCounter.fetch_add(1, std::memory_order_relaxed));
    return target + suffix;
}

HANDLE CreateForWriting(const std::string &path, DWORD disposition) {
    return ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool OutputFile::Create(const char *path) {
    Abort();
    failed_ = false;
    if (!path || !*path) return false;
    const std::string target = path;

    // A folder is never replaced, and neither is a read-only file: the
    // attribute is the user's word that it stays as it is. (Checked here, not
    // left to the system, because a superuser under an emulation layer may
    // write it all the same.)
    const DWORD attributes = ::GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
        return false;

    // What is there already? A device (NUL, CON, a port, whatever extension
    // follows the reserved name) is written directly: a name built on it would
    // name the device again, not a file beside it.
    HANDLE existing = CreateForWriting(target, OPEN_EXISTING);
    if (existing != INVALID_HANDLE_VALUE) {
        if (::GetFileType(existing) != FILE_TYPE_DISK) {
            fd_ = existing;
            target_ = target;
            temp_.clear();
            return true;
        }
        ::CloseHandle(existing);
    } else if (::GetLastError() == ERROR_ACCESS_DENIED) {
        // A read-only file, or one we may not write: it stays as it is.
        return false;
    }

    // A file, or nothing yet: write beside it and move over it when complete.
    const std::string temp = TempNameFor(target);
    HANDLE h = CreateForWriting(temp, CREATE_NEW);
    if (h == INVALID_HANDLE_VALUE) return false;
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        // The temporary name itself turned out to be a device.
        ::CloseHandle(h);
        return false;
    }
    fd_ = h;
    target_ = target;
    temp_ = temp;
    return true;
}

bool OutputFile::Write(const void *src, size_t n) {
    if (fd_ == kNoFile) {
        failed_ = true;
        return false;
    }
    const auto *p = static_cast<const unsigned char *>(src);
    while (n > 0) {
        const size_t want = n < kMaxTransfer ? n : kMaxTransfer;
        DWORD w = 0;
        if (!::WriteFile(H(fd_), p, static_cast<DWORD>(want), &w, nullptr) || w == 0) {
            failed_ = true;
            return false;
        }
        p += w;
        n -= w;
    }
    return true;
}

bool OutputFile::Commit() {
    if (fd_ == kNoFile) return false;
    if (!::CloseHandle(H(fd_))) failed_ = true;
    fd_ = kNoFile;
    if (temp_.empty()) return !failed_;
    if (failed_ || !::MoveFileExA(temp_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        failed_ = true;
        ::DeleteFileA(temp_.c_str());
    }
    temp_.clear();
    return !failed_;
}

void OutputFile::Abort() {
    if (fd_ != kNoFile) ::CloseHandle(H(fd_));
    fd_ = kNoFile;
    if (!temp_.empty()) ::DeleteFileA(temp_.c_str());
    temp_.clear();
}

}  // namespace plix::platform
