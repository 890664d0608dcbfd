// File and terminal access for the plix tool: whole-file reads that keep the
// system's reason for a failure, outputs written beside their final name and
// moved into place only when complete, and the few facts about the process's
// standard streams the tool needs. POSIX today.
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
    // Size of the temporary file as it stands, or -1.
    int64_t Size() const;
    // Reads the temporary file back whole.
    bool ReadBack(std::string &out, std::string &reason) const;
    // exists is set when the target exists and replace is false.
    bool Commit(bool replace, bool &exists, std::string &reason);
    void Discard();

private:
    int fd_ = -1;
    std::string temp_;
    std::string target_;
};

}  // namespace plix::platform
