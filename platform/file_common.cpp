// The parts of the file classes that need no system call.
#include "platform/file.h"

namespace plix::platform {

InputFile::InputFile(InputFile &&other) noexcept : fd_(other.fd_) {
    other.fd_ = kNoFile;
}

InputFile &InputFile::operator=(InputFile &&other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        other.fd_ = kNoFile;
    }
    return *this;
}

InputFile::~InputFile() {
    Close();
}

OutputFile::~OutputFile() {
    Abort();
}

}  // namespace plix::platform
