#include "burner/ImageFile.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace burner {

TImageFileSink::TImageFileSink(std::string FileName) : FFileName(std::move(FileName)) {
    FFd = ::open(FFileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (FFd < 0)
        FErrorNumber = 3;
}

TImageFileSink::~TImageFileSink() {
    if (FFd >= 0)
        Finish(true);
}

bool TImageFileSink::Write(const std::uint8_t* Data, std::uint32_t Size) {
    while (Size > 0) {
        const ssize_t n = ::write(FFd, Data, Size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // The disk is full or failing: the image cannot be completed.
            FErrorNumber = 3;
            return false;
        }
        Data += n;
        Size -= static_cast<std::uint32_t>(n);
    }
    return true;
}

bool TImageFileSink::Finish(bool Failed) {
    if (FFd < 0)
        return false;
    bool ok = ::close(FFd) == 0;
    FFd = -1;
    if (!ok && !FErrorNumber)
        FErrorNumber = 3;
    if (Failed || !ok)
        ::unlink(FFileName.c_str());
    return ok && !Failed;
}

} // namespace burner
