// File access for the codec and the programs. POSIX today; another platform
// provides the same functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plix::platform {

// A file opened for reading. Others may read it at the same time.
class InputFile {
public:
    InputFile() = default;
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;
    InputFile(InputFile &&other) noexcept;
    InputFile &operator=(InputFile &&other) noexcept;
    ~InputFile();

    // Fails for a missing or unreadable file and for a directory.
    bool Open(const char *path);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    // Reads n bytes, fewer only at the end of the file or on an error; returns
    // how many arrived.
    size_t Read(void *dest, size_t n);
    // origin: 0 start, 1 current, 2 end. Returns the new position or -1.
    int64_t Seek(int64_t distance, int origin);
    // Size in bytes, or -1 when it cannot be told.
    int64_t Size() const;

private:
    int fd_ = -1;
};

// A file opened for writing. An existing regular file is replaced only when the
// new one has been written completely: the data goes to a temporary file beside
// it, which Commit renames over the old one. Devices and pipes are written
// directly.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;
    ~OutputFile();

    bool Create(const char *path);
    // Writes all n bytes; false when any of them could not be written.
    bool Write(const void *src, size_t n);
    // Finishes the file. False when it could not be finished; the old file, if
    // any, is then left as it was.
    bool Commit();
    // Drops what was written; an existing file stays as it was.
    void Abort();
    bool IsOpen() const { return fd_ >= 0; }
    bool Failed() const { return failed_; }

private:
    int fd_ = -1;
    bool failed_ = false;
    std::string target_;  // file the data ends up in
    std::string temp_;    // temporary name while writing, empty when direct
};

}  // namespace plix::platform
