#pragma once
// The one interface between the image side and the drive side of the engine: a source of whole
// 64 KB packets. Whatever produces the image (the layout streamed from the tree, or an image
// file) sits behind it; whatever consumes it (an image file, a drive) sees only this.
#include <cstdint>
#include <memory>
#include <string>

namespace burner {

enum class TTake {
    Packet, // Buffer holds Size bytes to write (65536 except possibly the end of an image file)
    End,    // everything has been delivered
    Failed, // the source stopped: an error (ErrorNumber) or a cancel
};

class TPacketSource {
public:
    virtual ~TPacketSource() = default;
    // Waits for the next packet and hands it over without copying: Buffer (65536 bytes, or
    // null on the first call) is exchanged for the buffer that holds the packet.
    virtual TTake Take(std::unique_ptr<std::uint8_t[]>& Buffer, std::uint32_t& Size) = 0;
    // Makes the source stop; a waiting or later Take returns Failed.
    virtual void Cancel() = 0;
    // Sectors the source delivers in all.
    virtual std::uint32_t TotalSectors() const = 0;
    // Engine error code of a failed source (2: a file could not be read), 0 otherwise.
    virtual std::uint32_t ErrorNumber() const = 0;
    // The file the error concerns (Linux path), empty when none.
    virtual std::string ErrorFileName() const = 0;
};

// Where packets go: an image file, or a drive (the writer side adds that one).
class TPacketSink {
public:
    virtual ~TPacketSink() = default;
    // Writes one packet; false on failure (ErrorNumber tells why).
    virtual bool Write(const std::uint8_t* Data, std::uint32_t Size) = 0;
    // Ends the write: Failed says whether the data is incomplete. False when closing failed.
    virtual bool Finish(bool Failed) = 0;
    virtual std::uint32_t ErrorNumber() const = 0;
};

} // namespace burner
