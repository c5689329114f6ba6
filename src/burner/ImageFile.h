#pragma once
// Packets to an image file. A write that does not finish removes the file, so that a failed or
// aborted build never leaves an image that looks complete.
#include "burner/PacketSource.h"

#include <string>

namespace burner {

class TImageFileSink : public TPacketSink {
public:
    // Creates (or truncates) the file; Ok() tells whether that worked (else error 3).
    explicit TImageFileSink(std::string FileName);
    ~TImageFileSink() override;
    bool Ok() const { return FFd >= 0; }
    bool Write(const std::uint8_t* Data, std::uint32_t Size) override;
    bool Finish(bool Failed) override;
    std::uint32_t ErrorNumber() const override { return FErrorNumber; }
    const std::string& FileName() const { return FFileName; }

private:
    std::string FFileName;
    int FFd = -1;
    std::uint32_t FErrorNumber = 0;
};

} // namespace burner
