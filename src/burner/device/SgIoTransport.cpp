#include "burner/device/SgIoTransport.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/ioctl.h>
#include <unistd.h>

namespace burner {

int64_t CdbTransferLength(const uint8_t* cdb) {
    switch (cdb[0]) {
    case scsiop::Read10:
    case scsiop::Write10:
    case 0x2E: // WRITE AND VERIFY (10)
        return int64_t(GetBE16(cdb + 7)) * SectorSize;
    case 0xA8: // READ (12)
    case 0xAA: // WRITE (12)
        return int64_t(GetBE32(cdb + 6)) * SectorSize;
    default:
        return -1;
    }
}

bool BuildSgIoRequest(TSRB_ExecSCSICmd& srb, sg_io_hdr_t& hdr, uint8_t* senseBuffer) {
    std::memset(&hdr, 0, sizeof hdr);
    const bool in = srb.DataIn(), out = srb.DataOut();
    if (in && out)
        return false;
    if (srb.SRB_CDBLen == 0 || srb.SRB_CDBLen > 16)
        return false;
    const int64_t expected = CdbTransferLength(srb.CDBByte);
    if (expected >= 0) {
        const bool isRead = srb.CDBByte[0] == scsiop::Read10 || srb.CDBByte[0] == 0xA8;
        if (int64_t(srb.SRB_BufLen) != expected || (expected > 0 && !(isRead ? in : out)))
            return false;
    }
    if ((in || out) && srb.SRB_BufLen > 0 && srb.SRB_BufPointer == nullptr)
        return false;
    hdr.interface_id = 'S';
    if (in && srb.SRB_BufLen > 0)
        hdr.dxfer_direction = SG_DXFER_FROM_DEV;
    else if (out && srb.SRB_BufLen > 0)
        hdr.dxfer_direction = SG_DXFER_TO_DEV;
    else
        hdr.dxfer_direction = SG_DXFER_NONE;
    hdr.cmd_len = srb.SRB_CDBLen;
    hdr.mx_sb_len = std::min<uint8_t>(srb.SRB_SenseLen ? srb.SRB_SenseLen : SenseLength, 32);
    hdr.dxfer_len = hdr.dxfer_direction == SG_DXFER_NONE ? 0 : srb.SRB_BufLen;
    hdr.dxferp = hdr.dxfer_direction == SG_DXFER_NONE ? nullptr : srb.SRB_BufPointer;
    hdr.cmdp = srb.CDBByte;
    hdr.sbp = senseBuffer;
    hdr.timeout = srb.SRB_TimeOut * 1000u; // milliseconds
    return true;
}

void DecodeSgIoAnswer(const sg_io_hdr_t& hdr, bool ioctlSucceeded, const uint8_t* senseBuffer,
                      TSRB_ExecSCSICmd& srb) {
    std::memset(srb.SenseArea, 0, sizeof srb.SenseArea);
    if (!ioctlSucceeded) {
        srb.SRB_Status = SS_ERR;
        srb.SRB_TargStat = 0;
        srb.SRB_HaStat = 0;
        return;
    }
    srb.SRB_HaStat = uint8_t(hdr.host_status);
    if (hdr.status == 0 && hdr.host_status == 0 && hdr.driver_status == 0) {
        srb.SRB_Status = SS_COMP;
        srb.SRB_TargStat = STATUS_GOOD;
        return;
    }
    srb.SRB_Status = SS_ERR;
    srb.SRB_TargStat = hdr.status;
    const size_t n = std::min<size_t>({hdr.sb_len_wr, SenseLength, hdr.mx_sb_len});
    if (senseBuffer && n > 0)
        std::memcpy(srb.SenseArea, senseBuffer, n);
}

TSgIoTransport::TSgIoTransport(std::string devicePath, TIoctlFunction ioctlFunction)
    : FDevicePath(std::move(devicePath)), FIoctl(std::move(ioctlFunction)) {
    if (!FIoctl)
        FIoctl = [](int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); };
}

TSgIoTransport::~TSgIoTransport() {
    Close();
}

uint32_t TSgIoTransport::Open() {
    if (FFd >= 0)
        return 0;
    FReadWriteError = 0;
    FFd = ::open(FDevicePath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (FFd >= 0) {
        FReadOnly = false;
        return 0;
    }
    FReadWriteError = uint32_t(errno);
    FFd = ::open(FDevicePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (FFd >= 0) {
        FReadOnly = true;
        return 0;
    }
    return uint32_t(errno);
}

void TSgIoTransport::Close() {
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
}

uint32_t TSgIoTransport::Execute(TSRB_ExecSCSICmd& srb) {
    std::memset(srb.SenseArea, 0, sizeof srb.SenseArea);
    srb.SRB_TargStat = 0;
    if (const uint32_t error = Open(); error != 0) {
        srb.SRB_Status = SS_ERR;
        return error;
    }
    sg_io_hdr_t hdr;
    uint8_t senseBuffer[32] = {};
    if (!BuildSgIoRequest(srb, hdr, senseBuffer)) {
        srb.SRB_Status = SS_ERR;
        return EINVAL;
    }
    int result;
    do
        result = FIoctl(FFd, SG_IO, &hdr);
    while (result < 0 && errno == EINTR);
    const uint32_t error = result < 0 ? uint32_t(errno) : 0;
    DecodeSgIoAnswer(hdr, result >= 0, senseBuffer, srb);
    return error;
}

namespace {

bool ReadSmallNumber(const std::filesystem::path& file, int& value) {
    std::ifstream in(file);
    return bool(in >> value);
}

} // namespace

std::vector<TFoundDrive> FindOpticalDrives(const std::string& sysClassBlock,
                                           const std::string& devDir) {
    namespace fs = std::filesystem;
    std::vector<std::pair<unsigned long, TFoundDrive>> found;
    std::error_code ec;
    for (fs::directory_iterator it(sysClassBlock, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string node = it->path().filename().string();
        if (node.size() < 3 || node.size() > 11 || node.compare(0, 2, "sr") != 0 ||
            !std::all_of(node.begin() + 2, node.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        TFoundDrive drive;
        drive.Node = node;
        drive.DevicePath = (fs::path(devDir) / node).string();
        const fs::path device = it->path() / "device";
        int type = 5;
        if (ReadSmallNumber(device / "type", type))
            drive.DeviceType = uint8_t(type);
        // The device link ends in the SCSI address "host:channel:target:lun".
        std::error_code linkError;
        const fs::path target = fs::read_symlink(device, linkError);
        unsigned h, c, t, l;
        char tail;
        if (!linkError &&
            std::sscanf(target.filename().string().c_str(), "%u:%u:%u:%u%c", &h, &c, &t, &l,
                        &tail) == 4 &&
            h < 255 && t < 255 && l < 256) {
            drive.HasAddress = true;
            drive.Host = uint8_t(h);
            drive.Channel = uint8_t(c);
            drive.Target = uint8_t(t);
            drive.Lun = uint8_t(l);
        }
        found.emplace_back(std::stoul(node.substr(2)), std::move(drive));
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<TFoundDrive> drives;
    for (auto& [number, drive] : found)
        drives.push_back(std::move(drive));
    return drives;
}

} // namespace burner
