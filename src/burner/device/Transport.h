#pragma once
// The one way a command reaches a drive. A transport takes a command block (CDB, direction,
// buffer and length, time-out) and fills in the outcome: SRB_Status complete or error, the
// SCSI status byte as target status, and the sense bytes on error. Two transports exist: SG_IO
// on a Linux optical drive and the virtual recorder.
#include "burner/device/SCSIDefs.h"

namespace burner {

class TScsiTransport {
public:
    virtual ~TScsiTransport() = default;
    // Sends one command and returns the system error code of the attempt (0 when none).
    virtual uint32_t Execute(TSRB_ExecSCSICmd& srb) = 0;
    // Releases the device handle; the next command opens it again.
    virtual void Close() {}
    // A pass-through transport reports a system error code, which the command trace shows.
    virtual bool IsPassThrough() const { return false; }
};

} // namespace burner
