#include "platform/tool_files.h"
#include "posix_io.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plix::platform {

namespace {

std::string Reason(int err) {
    return std::strerror(err);
}

// The process's file creation mask, read once: reading it means setting it,
// which must not happen while other threads create files.
mode_t CreationMask() {
    static const mode_t mask = [] {
        const mode_t m = ::umask(022);
        ::umask(m);
        return m;
    }();
    return mask;
}

// Pieces for copies between files: few system calls, little memory.
constexpr size_t kChunkBytes = size_t{1} << 20;

bool ReadFd(int fd, std::string &out, std::string &reason) {
    char chunk[1 << 16];
    for (;;) {
        const ssize_t r = ::read(fd, chunk, sizeof chunk);
        if (r < 0) {
            if (errno == EINTR) continue;
            reason = Reason(errno);
            return false;
        }
        if (r == 0) return true;
        out.append(chunk, static_cast<size_t>(r));
    }
}

bool WriteFd(int fd, const void *data, size_t size, std::string &reason) {
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t w = ::write(fd, p, size);
        if (w < 0) {
            if (errno == EINTR) continue;
            reason = Reason(errno);
            return false;
        }
        p += w;
        size -= static_cast<size_t>(w);
    }
    return true;
}

}  // namespace

bool ReadAllBytes(const std::string &path, std::string &out, std::string &reason) {
    out.clear();
    if (path == "-") return ReadFd(STDIN_FILENO, out, reason);
    const int fd = posix::OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        reason = Reason(errno);
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            ::close(fd);
            reason = "is a folder";
            return false;
        }
        if (S_ISREG(st.st_mode)) out.reserve(static_cast<size_t>(st.st_size));
    }
    const bool ok = ReadFd(fd, out, reason);
    ::close(fd);
    return ok;
}

PathKind KindOfPath(const std::string &path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return PathKind::Missing;
    if (S_ISDIR(st.st_mode)) return PathKind::Folder;
    if (S_ISREG(st.st_mode)) return PathKind::File;
    return PathKind::Other;
}

bool SameFile(const std::string &a, const std::string &b) {
    struct stat sa, sb;
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool MakeFolders(const std::string &path, std::string &reason) {
    if (path.empty()) return true;
    // Each prefix that ends before a separator, then the whole path.
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/') continue;
        const std::string part = path.substr(0, i);
        if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
            reason = Reason(errno);
            return false;
        }
    }
    if (KindOfPath(path) != PathKind::Folder) {
        reason = "exists and is not a folder";
        return false;
    }
    return true;
}

bool WriteIntoSpecialFile(const std::string &path, const void *data, size_t size,
                          std::string &reason) {
    const int fd = posix::OpenRetrying(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        reason = Reason(errno);
        return false;
    }
    bool ok = WriteFd(fd, data, size, reason);
    if (::close(fd) != 0 && ok) {
        reason = Reason(errno);
        ok = false;
    }
    return ok;
}

bool WriteStandardOutput(const void *data, size_t size, std::string &reason) {
    return WriteFd(STDOUT_FILENO, data, size, reason);
}

bool StandardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

void IgnoreBrokenPipe() {
    std::signal(SIGPIPE, SIG_IGN);
}

InputStream::~InputStream() {
    if (own_ && fd_ >= 0) ::close(fd_);
}

bool InputStream::Open(const std::string &path, std::string &reason) {
    if (own_ && fd_ >= 0) ::close(fd_);
    fd_ = -1;
    own_ = false;
    size_ = -1;
    int fd = STDIN_FILENO;
    if (path != "-") {
        fd = posix::OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            reason = Reason(errno);
            return false;
        }
        own_ = true;
    }
    fd_ = fd;
    struct stat st;
    if (::fstat(fd, &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            reason = "is a folder";
            return false;
        }
        // Standard input redirected from a file reads from where it stands.
        const off_t at = S_ISREG(st.st_mode) ? ::lseek(fd, 0, SEEK_CUR) : -1;
        if (at == 0) size_ = static_cast<int64_t>(st.st_size);
    }
    return true;
}

bool InputStream::Read(void *data, size_t size, size_t &got, std::string &reason) {
    got = 0;
    for (;;) {
        const ssize_t r = ::read(fd_, data, size);
        if (r >= 0) {
            got = static_cast<size_t>(r);
            return true;
        }
        if (errno != EINTR) {
            reason = Reason(errno);
            return false;
        }
    }
}

bool InputStream::ReadAt(uint64_t offset, void *data, size_t size, size_t &got,
                         std::string &reason) {
    got = 0;
    char *p = static_cast<char *>(data);
    while (got < size) {
        const ssize_t r = ::pread(fd_, p + got, size - got, static_cast<off_t>(offset + got));
        if (r < 0) {
            if (errno == EINTR) continue;
            reason = Reason(errno);
            return false;
        }
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return true;
}

bool InputStream::Spool(const void *head, size_t headSize, std::string &reason) {
    const char *tmp = std::getenv("TMPDIR");
    std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/plix-XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        reason = Reason(errno);
        return false;
    }
    // Unnamed from the start: nothing is left behind, whatever happens.
    ::unlink(name.c_str());
    bool ok = WriteFd(fd, head, headSize, reason);
    std::unique_ptr<char[]> chunk(new char[kChunkBytes]);
    uint64_t total = headSize;
    for (size_t got = 0; ok;) {
        ok = Read(chunk.get(), kChunkBytes, got, reason);
        if (!ok || got == 0) break;
        ok = WriteFd(fd, chunk.get(), got, reason);
        total += got;
    }
    if (!ok) {
        ::close(fd);
        return false;
    }
    if (own_ && fd_ >= 0) ::close(fd_);
    fd_ = fd;
    own_ = true;
    size_ = static_cast<int64_t>(total);
    return true;
}

DirectOutput::~DirectOutput() {
    if (own_ && fd_ >= 0) ::close(fd_);
}

bool DirectOutput::Open(const std::string &path, std::string &reason) {
    if (path == "-") {
        fd_ = STDOUT_FILENO;
        own_ = false;
        return true;
    }
    fd_ = posix::OpenRetrying(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) {
        reason = Reason(errno);
        return false;
    }
    own_ = true;
    return true;
}

bool DirectOutput::Write(const void *data, size_t size, std::string &reason) {
    if (fd_ < 0) {
        reason = "not open";
        return false;
    }
    return WriteFd(fd_, data, size, reason);
}

bool DirectOutput::Close(std::string &reason) {
    if (!own_ || fd_ < 0) return true;
    const int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0) {
        reason = Reason(errno);
        return false;
    }
    return true;
}

PendingFile::~PendingFile() {
    Discard();
}

bool PendingFile::Create(const std::string &target, std::string &reason) {
    Discard();
    std::string pattern;
    if (target.empty()) {
        const char *tmp = std::getenv("TMPDIR");
        pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/plix-XXXXXX";
    } else {
        const size_t slash = target.rfind('/');
        const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
        const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
        // Hidden, and named after the output so that a left-over is recognised.
        pattern = folder + "." + base + ".plix-XXXXXX";
    }
    std::string name = pattern;
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        reason = Reason(errno);
        return false;
    }
    // mkostemp makes the file private; an output gets the usual permissions.
    (void)::fchmod(fd, 0666 & ~CreationMask());
    fd_ = fd;
    temp_ = name;
    target_ = target;
    return true;
}

bool PendingFile::Write(const void *data, size_t size, std::string &reason) {
    if (fd_ < 0) {
        reason = "not open";
        return false;
    }
    return WriteFd(fd_, data, size, reason);
}

int64_t PendingFile::Size() const {
    struct stat st;
    if (temp_.empty() || ::stat(temp_.c_str(), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool PendingFile::WriteAt(uint64_t offset, const void *data, size_t size, std::string &reason) {
    if (fd_ < 0) {
        reason = "not open";
        return false;
    }
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t w = ::pwrite(fd_, p, size, static_cast<off_t>(offset));
        if (w < 0) {
            if (errno == EINTR) continue;
            reason = Reason(errno);
            return false;
        }
        p += w;
        offset += static_cast<uint64_t>(w);
        size -= static_cast<size_t>(w);
    }
    return true;
}

bool PendingFile::CopyInto(DirectOutput &out, std::string &reason) const {
    if (fd_ < 0) {
        reason = "not open";
        return false;
    }
    std::unique_ptr<char[]> chunk(new char[kChunkBytes]);
    for (uint64_t offset = 0;;) {
        const ssize_t r = ::pread(fd_, chunk.get(), kChunkBytes, static_cast<off_t>(offset));
        if (r < 0) {
            if (errno == EINTR) continue;
            reason = Reason(errno);
            return false;
        }
        if (r == 0) return true;
        if (!out.Write(chunk.get(), static_cast<size_t>(r), reason)) return false;
        offset += static_cast<uint64_t>(r);
    }
}

bool PendingFile::Commit(bool replace, bool &exists, std::string &reason) {
    exists = false;
    if (temp_.empty()) {
        reason = "not open";
        return false;
    }
    if (fd_ >= 0) {
        const int rc = ::close(fd_);
        fd_ = -1;
        if (rc != 0) {
            reason = Reason(errno);
            Discard();
            return false;
        }
    }
    if (replace) {
        if (::rename(temp_.c_str(), target_.c_str()) != 0) {
            reason = Reason(errno);
            Discard();
            return false;
        }
        temp_.clear();
        return true;
    }
    // A hard link appears only where no file of that name exists, so another
    // process cannot slip a file in between the test and the move.
    if (::link(temp_.c_str(), target_.c_str()) == 0) {
        ::unlink(temp_.c_str());
        temp_.clear();
        return true;
    }
    const int err = errno;
    if (err == EEXIST) {
        exists = true;
        Discard();
        return false;
    }
    // File systems without hard links: test, then move.
    if (err == EPERM || err == ENOTSUP || err == EOPNOTSUPP || err == EMLINK) {
        if (KindOfPath(target_) != PathKind::Missing) {
            exists = true;
            Discard();
            return false;
        }
        if (::rename(temp_.c_str(), target_.c_str()) == 0) {
            temp_.clear();
            return true;
        }
    }
    reason = Reason(errno);
    Discard();
    return false;
}

void PendingFile::Discard() {
    posix::CloseAndRemoveTemp(fd_, temp_);
}

}  // namespace plix::platform
