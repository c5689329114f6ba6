#include "DriveAnswers.h"

#include <scsi/sg.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

using namespace burner;

namespace fuzzdrive {

size_t TStreamDrive::Take(size_t n) {
    const size_t at = FAt;
    FAt = std::min(FSize, FAt + n);
    return at;
}

uint32_t TStreamDrive::Execute(TSRB_ExecSCSICmd& srb) {
    std::memset(srb.SenseArea, 0, sizeof srb.SenseArea);
    srb.SRB_TargStat = STATUS_GOOD;
    if (FAt >= FSize) {
        srb.SRB_Status = SS_COMP;
        return 0;
    }
    const uint8_t kind = FData[Take(1)] & 3;
    switch (kind) {
    case 0: {
        size_t n = 0;
        if (FSize - FAt >= 2)
            n = GetBE16(FData + Take(2));
        else
            Take(2);
        n = std::min(n, FSize - FAt);
        const size_t at = Take(n);
        if (srb.DataIn() && srb.SRB_BufPointer)
            std::memcpy(srb.SRB_BufPointer, FData + at, std::min<size_t>(n, srb.SRB_BufLen));
        srb.SRB_Status = SS_COMP;
        return 0;
    }
    case 1: {
        const size_t s = FAt < FSize ? FData[Take(1)] : 0;
        const size_t n = std::min(s, FSize - FAt);
        const size_t at = Take(n);
        std::memcpy(srb.SenseArea, FData + at, std::min<size_t>(n, sizeof srb.SenseArea));
        srb.SRB_Status = SS_ERR;
        srb.SRB_TargStat = STATUS_CHKCOND;
        return 0;
    }
    case 2:
        srb.SRB_Status = SS_ERR;
        srb.SRB_TargStat = STATUS_BUSY;
        return 0;
    default:
        srb.SRB_Status = SS_ERR;
        return EIO;
    }
}

uint32_t TRecordingTransport::Execute(TSRB_ExecSCSICmd& srb) {
    const uint32_t error = FInner.Execute(srb);
    if (error != 0) {
        Stream.push_back(3);
    } else if (srb.SRB_Status == SS_COMP) {
        size_t n = srb.DataIn() && srb.SRB_BufPointer ? srb.SRB_BufLen : 0;
        n = std::min<size_t>(n, 0xFFFF);
        while (n > 0 && srb.SRB_BufPointer[n - 1] == 0)
            --n; // the engine clears its buffers; trailing zeros need not be stored
        Stream.push_back(0);
        Stream.push_back(uint8_t(n >> 8));
        Stream.push_back(uint8_t(n));
        Stream.insert(Stream.end(), srb.SRB_BufPointer, srb.SRB_BufPointer + n);
    } else if (srb.SRB_TargStat == STATUS_BUSY) {
        Stream.push_back(2);
    } else {
        Stream.push_back(1);
        Stream.push_back(18);
        Stream.insert(Stream.end(), srb.SenseArea, srb.SenseArea + 18);
    }
    return error;
}

void SetUpDeviceList(TSCSIDevice& dev, const std::string& folder, TScsiTransport& drive) {
    namespace fs = std::filesystem;
    const fs::path root(folder);
    std::error_code ec;
    fs::create_directories(root / "sys/sr0", ec);
    fs::create_directories(root / "devices/1:0:0:0", ec);
    if (!fs::is_symlink(root / "sys/sr0/device"))
        fs::create_symlink(root / "devices/1:0:0:0", root / "sys/sr0/device", ec);
    fs::create_directories(root / "dev", ec);
    if (!fs::exists(root / "dev/sr0"))
        std::ofstream(root / "dev/sr0") << "";
    dev.SetDriveScanFolders((root / "sys").string(), (root / "dev").string());
    dev.SetVirtualRecorderEnabled(false);
    TScsiTransport* transport = &drive;
    dev.SetIoctlFunction([transport](int, unsigned long request, void* arg) -> int {
        if (request != SG_IO) {
            errno = ENOTTY;
            return -1;
        }
        auto* h = static_cast<sg_io_hdr_t*>(arg);
        uint8_t flags = SRB_NODATA;
        if (h->dxfer_direction == SG_DXFER_FROM_DEV)
            flags = SRB_READ;
        else if (h->dxfer_direction == SG_DXFER_TO_DEV)
            flags = SRB_WRITE;
        TSRB_ExecSCSICmd srb =
            MakeCommand(h->cmdp, std::min<uint8_t>(h->cmd_len, 16), flags, h->dxferp, h->dxfer_len);
        if (const uint32_t error = transport->Execute(srb); error != 0) {
            errno = int(error);
            return -1;
        }
        h->host_status = 0;
        h->driver_status = 0;
        h->sb_len_wr = 0;
        if (srb.SRB_Status == SS_COMP) {
            h->status = 0;
        } else {
            h->status = srb.SRB_TargStat ? srb.SRB_TargStat : STATUS_CHKCOND;
            const uint8_t n = std::min<uint8_t>(h->mx_sb_len, sizeof srb.SenseArea);
            std::memcpy(h->sbp, srb.SenseArea, n);
            h->sb_len_wr = n;
        }
        h->masked_status = h->status >> 1;
        return 0;
    });
}

void RunDriveSession(TSCSIDevice& dev) {
    if (!dev.InitializeASPI(false, "", "/dev/null") || dev.DeviceCount() == 0)
        return;
    (void)dev.GetDeviceName(0);
    dev.SelectDevice(0);
    (void)dev.DeviceIsBurner();
    for (int id = 1; id <= 64; ++id)
        if (id != 72 && id != 73 && id != 77)
            (void)dev.DeviceCan(id);
    const TMedium medium = dev.DiscIs();
    (void)dev.SessionsOnDisc();
    (void)dev.Erasable();
    (void)dev.Writable();
    (void)dev.FreeBlocksOnDisc();
    (void)dev.TotalBlocksOnDisc();
    dev.ReadFormatCapacities();
    (void)dev.FormattableCapacity();
    dev.ReadDiscInformation();
    dev.ReadTrackInformation(1);
    dev.ReadTrackInformation(0xFF);
    dev.ReadTOC(0, false, 1, 804);
    dev.ReadTOC(1, true, 0, 12);
    dev.ReadBufferCapacity();
    (void)dev.BufferPosition();
    (void)dev.GetReadSpeed();
    (void)dev.GetWriteSpeed();
    (void)dev.GetMaxWriteSpeed();
    (void)dev.GetDeviceMaxReadSpeed();
    (void)dev.GetDeviceMaxWriteSpeed();
    dev.SetWriteParameters(false, true, medium, false);
    dev.SetDeviceSpeed(0xFFFF, 0xFFFF);
    std::vector<uint8_t> sector(2048);
    dev.Read10(16, 1, sector.data());
    dev.RefreshCapabilities();
    (void)dev.DiscIs();
}

} // namespace fuzzdrive
