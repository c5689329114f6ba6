#pragma once
// Commands to a Linux optical drive through the SG_IO ioctl of its /dev/sr* node, and the scan
// that finds those drives through /sys/class/block.
#include "burner/device/Transport.h"

#include <scsi/sg.h>

#include <functional>
#include <string>
#include <vector>

namespace burner {

// The ioctl entry point. Replaceable so that the requests can be checked without a drive.
using TIoctlFunction = std::function<int(int fd, unsigned long request, void* arg)>;

// Fills an SG_IO request for the command block. False (and nothing filled that could be sent)
// when the block is not safe to send: an unknown direction, or a READ/WRITE whose buffer length
// differs from the CDB's block count times 2048 (on a real drive that ruins the disc).
bool BuildSgIoRequest(TSRB_ExecSCSICmd& srb, sg_io_hdr_t& hdr, uint8_t* senseBuffer);

// Puts the outcome of an SG_IO request into the command block: complete only when the ioctl
// succeeded and the SCSI, host and driver statuses are all good; otherwise error, with the
// SCSI status as target status and the sense bytes the drive returned (at most 24).
void DecodeSgIoAnswer(const sg_io_hdr_t& hdr, bool ioctlSucceeded, const uint8_t* senseBuffer,
                      TSRB_ExecSCSICmd& srb);

// Transfer length a READ/WRITE CDB asks for (block count x 2048), or -1 for other commands.
int64_t CdbTransferLength(const uint8_t* cdb);

class TSgIoTransport : public TScsiTransport {
public:
    explicit TSgIoTransport(std::string devicePath, TIoctlFunction ioctlFunction = {});
    ~TSgIoTransport() override;
    TSgIoTransport(const TSgIoTransport&) = delete;
    TSgIoTransport& operator=(const TSgIoTransport&) = delete;

    // Opens the node for reading and writing, else for reading only. Returns the system error
    // code of the last attempt (0 when open).
    uint32_t Open();
    bool IsOpen() const { return FFd >= 0; }
    bool IsReadOnly() const { return FReadOnly; }
    // System error of the read-write attempt when the node had to be opened read-only.
    uint32_t ReadWriteError() const { return FReadWriteError; }
    const std::string& DevicePath() const { return FDevicePath; }

    uint32_t Execute(TSRB_ExecSCSICmd& srb) override;
    void Close() override;
    bool IsPassThrough() const override { return true; }

private:
    std::string FDevicePath;
    TIoctlFunction FIoctl;
    int FFd = -1;
    bool FReadOnly = false;
    uint32_t FReadWriteError = 0;
};

// An optical drive found in sysfs.
struct TFoundDrive {
    std::string Node;       // "sr0"
    std::string DevicePath; // "/dev/sr0"
    uint8_t DeviceType = 5; // SCSI peripheral type from sysfs (5 = CD/DVD)
    bool HasAddress = false;
    uint8_t Host = 0, Channel = 0, Target = 0, Lun = 0;
};

// The sr* block devices under sysClassBlock, in node-number order.
std::vector<TFoundDrive> FindOpticalDrives(const std::string& sysClassBlock = "/sys/class/block",
                                           const std::string& devDir = "/dev");

} // namespace burner
