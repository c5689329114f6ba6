#pragma once
// A drive whose answers come from a byte stream, for fuzzing the drive layer, and the recorder
// that writes such a stream from a real transport (the virtual recorder) for seed inputs.
//
// The stream holds one answer per command, in the order the commands are sent:
//   kind (1 byte, low two bits):
//     0  complete: a 2-byte big-endian length n, then n bytes of data for a data-in command
//        (fewer when the stream ends, at most the command's buffer length)
//     1  CHECK CONDITION: a 1-byte sense length s, then s sense bytes (at most 32 used)
//     2  target status BUSY
//     3  the command never reaches the drive (the ioctl fails with EIO)
// When the stream is used up, every further command completes without data.
#include "burner/device/SCSILib.h"
#include "burner/device/Transport.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzdrive {

class TStreamDrive : public burner::TScsiTransport {
public:
    TStreamDrive(const uint8_t* data, size_t size) : FData(data), FSize(size) {}
    uint32_t Execute(burner::TSRB_ExecSCSICmd& srb) override;

private:
    size_t Take(size_t n);
    const uint8_t* FData;
    size_t FSize;
    size_t FAt = 0;
};

// Forwards every command to another transport and appends its answer to Stream.
class TRecordingTransport : public burner::TScsiTransport {
public:
    explicit TRecordingTransport(burner::TScsiTransport& inner) : FInner(inner) {}
    uint32_t Execute(burner::TSRB_ExecSCSICmd& srb) override;
    std::vector<uint8_t> Stream;

private:
    burner::TScsiTransport& FInner;
};

// A device list with one SG_IO drive (a made-up /sys/class/block tree in folder) whose ioctl
// hands each request to the transport, and no virtual recorder.
void SetUpDeviceList(burner::TSCSIDevice& dev, const std::string& folder,
                     burner::TScsiTransport& drive);

// The queries the program makes of a drive and its disc: device list, selection and
// capabilities, medium, disc and track information, capacities, TOC, speeds, buffer, write
// parameters and a sector read.
void RunDriveSession(burner::TSCSIDevice& dev);

} // namespace fuzzdrive
