// File and terminal access for the plix tool: whole-file and streamed reads
// that keep the system's reason for a failure, outputs written beside their
// final name and moved into place only when complete, and the few facts about
// the process's standard streams the tool needs. POSIX today.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plix::platform {

// Reads all of path, or of standard input for "-". On failure, reason holds
// the system's text (for example "No such file or directory"), or "is a
// folder".
bool ReadAllBytes(const std::string &path, std::string &out, std::string &reason);

enum class PathKind { Missing, File, Folder, Other };
PathKind KindOfPath(const std::string &path);

// True when both paths exist and name the same file.
bool SameFile(const std::string &a, const std::string &b);

// Makes path and its missing parents as folders.
bool MakeFolders(const std::string &path, std::string &reason);

// Writes all bytes into an existing device or pipe, such as /dev/null.
bool WriteIntoSpecialFile(const std::string &path, const void *data, size_t size,
                          std::string &reason);

// Writes all bytes to standard output.
bool WriteStandardOutput(const void *data, size_t size, std::string &reason);

bool StandardErrorIsTerminal();

// A failed write to a closed pipe reports an error instead of ending the process.
void IgnoreBrokenPipe();

// A file, or standard input for "-", read a piece at a time.
class InputStream {
public:
    InputStream() = default;
    InputStream(const InputStream &) = delete;
    InputStream &operator=(const InputStream &) = delete;
    ~InputStream();

    // Reasons as ReadAllBytes gives them.
    bool Open(const std::string &path, std::string &reason);
    // Up to size bytes from the current place; got is 0 at the end.
    bool Read(void *data, size_t size, size_t &got, std::string &reason);
    // Regular files (and spooled input): whether ReadAt works, and the size.
    bool Seekable() const { return size_ >= 0; }
    int64_t Size() const { return size_; }
    // Up to size bytes at offset, the current place unchanged; got is short
    // only at the end.
    bool ReadAt(uint64_t offset, void *data, size_t size, size_t &got, std::string &reason);
    // For input that cannot seek: head (the bytes already read) and the rest
    // go to an unnamed temporary file, which is then read from its start.
    bool Spool(const void *head, size_t headSize, std::string &reason);

private:
    int fd_ = -1;
    bool own_ = false;
    int64_t size_ = -1;
};

// Standard output ("-"), or a device or pipe named as an output, written
// straight as the bytes come.
class DirectOutput {
public:
    DirectOutput() = default;
    DirectOutput(const DirectOutput &) = delete;
    DirectOutput &operator=(const DirectOutput &) = delete;
    ~DirectOutput();

    bool Open(const std::string &path, std::string &reason);
    bool Write(const void *data, size_t size, std::string &reason);
    // Closes a named device; standard output stays open.
    bool Close(std::string &reason);

private:
    int fd_ = -1;
    bool own_ = false;
};

// A file being written beside its final name. Commit moves it there; without
// replace an existing file is left alone and Commit reports it. A pending file
// that is not committed is removed.
class PendingFile {
public:
    PendingFile() = default;
    PendingFile(const PendingFile &) = delete;
    PendingFile &operator=(const PendingFile &) = delete;
    ~PendingFile();

    // Creates the temporary file beside target (in target's folder, or in the
    // system's temporary folder when target is empty).
    bool Create(const std::string &target, std::string &reason);
    // The temporary file's name, for writers that take a path.
    const std::string &TempPath() const { return temp_; }
    bool Write(const void *data, size_t size, std::string &reason);
    // Writes at offset, the file growing as needed (for rows stored bottom-up).
    bool WriteAt(uint64_t offset, const void *data, size_t size, std::string &reason);
    // Copies the whole temporary file into out, a piece at a time.
    bool CopyInto(DirectOutput &out, std::string &reason) const;
    // Size of the temporary file as it stands, or -1.
    int64_t Size() const;
    // exists is set when the target exists and replace is false.
    bool Commit(bool replace, bool &exists, std::string &reason);
    void Discard();

private:
    int fd_ = -1;
    std::string temp_;
    std::string target_;
};

}  // namespace plix::platform
