#include "platform/file.h"
#include "posix_io.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plix::platform {

namespace posix {

int OpenRetrying(const char *path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

void CloseAndRemoveTemp(int &fd, std::string &temp) {
    if (fd >= 0) ::close(fd);
    fd = -1;
    if (!temp.empty()) ::unlink(temp.c_str());
    temp.clear();
}

}  // namespace posix

bool InputFile::Open(const char *path) {
    Close();
    if (!path) return false;
    const int fd = posix::OpenRetrying(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void InputFile::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

size_t InputFile::Read(void *dest, size_t n) {
    if (fd_ < 0) return 0;
    auto *p = static_cast<unsigned char *>(dest);
    size_t got = 0;
    // Loop so that a short read from a pipe or a signal does not look like the end.
    while (got < n) {
        ssize_t r = ::read(fd_, p + got, n - got);
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return got;
}

int64_t InputFile::Seek(int64_t distance, int origin) {
    if (fd_ < 0) return -1;
    int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : -1;
    if (whence < 0) return -1;
    off_t r = ::lseek(fd_, static_cast<off_t>(distance), whence);
    return r < 0 ? -1 : static_cast<int64_t>(r);
}

int64_t InputFile::Size() const {
    if (fd_ < 0) return -1;
    struct stat st;
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_size);
}

namespace {

std::atomic<unsigned> tempCounter{0};

// Name of a file beside target that nobody else uses.
std::string TempNameFor(const std::string &target) {
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%ld.%u.tmp", static_cast<long>(::getpid()),
                  tempCounter.fetch_add(1, std::memory_order_relaxed));
    return target + suffix;
}

}  // namespace

bool OutputFile::Create(const char *path) {
    Abort();
    failed_ = false;
    if (!path || !*path) return false;

    // Write through symbolic links to the file they name.
    std::string target = path;
    if (char *resolved = ::realpath(path, nullptr)) {
        target = resolved;
        std::free(resolved);
    }

    struct stat st;
    bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return false;
    bool direct = exists && !S_ISREG(st.st_mode);  // device, pipe, socket

    if (!direct) {
        std::string temp = TempNameFor(target);
        const int fd =
            posix::OpenRetrying(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (exists) (void)::fchmod(fd, st.st_mode & 07777);
            fd_ = fd;
            target_ = target;
            temp_ = temp;
            return true;
        }
        // A folder we may not create files in can still hold a file we may
        // overwrite; anything else (a missing folder) is a failure.
        if (!(exists && (errno == EACCES || errno == EPERM || errno == EROFS))) return false;
    }

    const int fd =
        posix::OpenRetrying(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    fd_ = fd;
    target_ = target;
    temp_.clear();
    return true;
}

bool OutputFile::Write(const void *src, size_t n) {
    if (fd_ < 0) {
        failed_ = true;
        return false;
    }
    const auto *p = static_cast<const unsigned char *>(src);
    while (n > 0) {
        ssize_t w = ::write(fd_, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            failed_ = true;
            return false;
        }
        if (w == 0) {
            failed_ = true;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

bool OutputFile::Commit() {
    if (fd_ < 0) return false;
    if (::close(fd_) != 0) failed_ = true;
    fd_ = -1;
    if (temp_.empty()) return !failed_;
    if (failed_ || ::rename(temp_.c_str(), target_.c_str()) != 0) {
        failed_ = true;
        ::unlink(temp_.c_str());
    }
    temp_.clear();
    return !failed_;
}

void OutputFile::Abort() {
    posix::CloseAndRemoveTemp(fd_, temp_);
}

}  // namespace plix::platform
