// MMC drive and medium operations of TSCSIDevice: every one is a CDB or a few, sent through
// ExecSCSICommand.
#include "burner/device/SCSILib.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace burner {

const TFormatList FormatDVDRWQuick = {0x00, 0xA2, 0x00, 0x08, 0x00, 0x00,
                                      0x03, 0xE8, 0x54, 0x00, 0x00, 0x10};
const TFormatList FormatDVDRWQuickRetry = {0x00, 0x82, 0x00, 0x08, 0x00, 0x00,
                                           0x00, 0x00, 0x54, 0x00, 0x00, 0x10};
const TFormatList FormatDVDRWRestricted = {0x00, 0x82, 0x00, 0x08, 0x00, 0x00,
                                           0x00, 0x00, 0x4C, 0x00, 0x00, 0x10};
const TFormatList FormatDVDPlusRW = {0x00, 0x82, 0x00, 0x08, 0x00, 0x23,
                                     0x05, 0x40, 0x98, 0x00, 0x00, 0x00};

const char* MediumName(TMedium m) {
    static const char* const names[] = {
        "mtUNKNOWN",    "mtCDROM",    "mtCDR",     "mtCDRW",    "mtDVDROM",    "mtDVDR",
        "mtDVDRAM",     "mtDVDRW",    "mtDVDRWRO", "mtDVDRWSR", "mtDVDPLUSRW", "mtDVDPLUSR",
        "mtDVDPLUSRDL", "mtBDROM",    "mtBDRSR",   "mtBDRRR",   "mtBDRE",      "mtHDDVDROM",
        "mtHDDVDR",     "mtHDDVDRAM", "mtDDCDROM", "mtDDCDR",   "mtDDCDRW"};
    return m <= mtDDCDRW ? names[m] : "?";
}

namespace {

// Offset of a mode page in MODE SENSE (10) data: right after the 8-byte header, or after a
// block descriptor that follows it. Drives may set the "page savable" bit in the code byte.
size_t ModePageOffset(const uint8_t* data, uint8_t pageCode) {
    if ((data[8] & 0x3F) == pageCode)
        return 8;
    if ((data[16] & 0x3F) == pageCode)
        return 16;
    return 0;
}

void ParsePage2A(const uint8_t* p, TModePage2A& page) {
    page.PageCode = p[0];
    page.PageLen = p[1];
    page.ReadInfo = p[2];
    page.WriteInfo = p[3];
    page.OtherInfo = p[4];
    page.CDDASupported = p[5];
    page.Lock = p[6];
    page.SepChanVol = p[7];
    page.MaxReadSpeed = GetBE16(p + 8);
    page.NumVolLevels = GetBE16(p + 10);
    page.BufferSize = GetBE16(p + 12);
    page.CurReadSpeed = GetBE16(p + 14);
    page.Reserved16 = p[16];
    page.BCK = p[17];
    page.MaxWriteSpeed = GetBE16(p + 18);
    page.CurWriteSpeed = GetBE16(p + 20);
    std::memcpy(page.Others, p + 22, sizeof page.Others);
}

double NowMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t NowTicks() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr double MsPerTick = 1e-6; // the counter above counts nanoseconds

} // namespace

bool TSCSIDevice::Inquiry() {
    std::memset(tmpBuffer.data(), 0, 64);
    if (SendCommand({scsiop::Inquiry, 0, 0, 0, 64, 0}, SRB_READ, tmpBuffer.data(), 64) != SS_COMP)
        return false;
    std::memcpy(Vendor, &tmpBuffer[8], 8);
    Vendor[8] = 0;
    std::memcpy(ProductID, &tmpBuffer[16], 16);
    ProductID[16] = 0;
    std::memcpy(ProductRev, &tmpBuffer[32], 4);
    ProductRev[4] = 0;
    return true;
}

bool TSCSIDevice::ModeSense10(uint8_t pageCode, bool defaultValues, uint16_t length) {
    length = std::min<uint16_t>(length, uint16_t(tmpBuffer.size() - 1));
    std::memset(tmpBuffer.data(), 0, length);
    const uint8_t page = uint8_t(pageCode | (defaultValues ? 0x80 : 0));
    return SendCommand(
               {scsiop::ModeSense10, 0, page, 0, 0, 0, 0, uint8_t(length >> 8), uint8_t(length), 0},
               SRB_READ, tmpBuffer.data(), length) == SS_COMP;
}

bool TSCSIDevice::ModeSelect10(const uint8_t* data, uint16_t length) {
    return SendCommand({scsiop::ModeSelect10, 0x10, 0, 0, 0, 0, 0, uint8_t(length >> 8),
                        uint8_t(length), 0},
                       SRB_WRITE, const_cast<uint8_t*>(data), length) == SS_COMP;
}

bool TSCSIDevice::GetConfiguration(uint16_t feature, uint16_t length) {
    length = std::min<uint16_t>(length, uint16_t(tmpBuffer.size() - 1));
    std::memset(tmpBuffer.data(), 0, std::max<uint16_t>(length, 114));
    const bool ok =
        SendCommand({scsiop::GetConfiguration, 2, uint8_t(feature >> 8), uint8_t(feature), 0, 0, 0,
                     uint8_t(length >> 8), uint8_t(length), 0},
                    SRB_READ, tmpBuffer.data(), length) == SS_COMP;
    const uint8_t* b = tmpBuffer.data();
    ConfigHeader.DataLength = GetBE32(b);
    ConfigHeader.Reseverd1 = GetBE16(b + 4);
    ConfigHeader.CurrentProfile = GetBE16(b + 6);
    // A feature the drive does not have comes back as a bare header.
    const bool hasFeature = ConfigHeader.DataLength >= 8;
    ConfigHeader.FeatureCode = hasFeature ? GetBE16(b + 8) : 0;
    ConfigHeader.Version = hasFeature ? b[10] : 0;
    ConfigHeader.AdditionalLength = hasFeature ? b[11] : 0;
    ConfigHeader.info = hasFeature && b[11] > 0 ? b[12] : 0;
    std::memcpy(ConfigHeader.OtherData, b + 13, sizeof ConfigHeader.OtherData);
    return ok;
}

bool TSCSIDevice::RefreshCapabilities() {
    ModePage2A = TModePage2A{};
    dc = TDC{};
    if (!ModeSense10(0x2A, true, 128))
        return false;
    if (const size_t at = ModePageOffset(tmpBuffer.data(), 0x2A); at) {
        ParsePage2A(&tmpBuffer[at], ModePage2A);
        ModePage2A.DeviceMaxReadSpeed = GetBE16(&tmpBuffer[at + 8]);
        ModePage2A.DeviceMaxWriteSpeed = GetBE16(&tmpBuffer[at + 18]);
    }
    if (ModeSense10(0x2A, false, 128))
        if (const size_t at = ModePageOffset(tmpBuffer.data(), 0x2A); at)
            ParsePage2A(&tmpBuffer[at], ModePage2A);
    MaxReadSpeed = ModePage2A.MaxReadSpeed;
    CurReadSpeed = ModePage2A.CurReadSpeed;
    MaxWriteSpeed = ModePage2A.MaxWriteSpeed;
    CurWriteSpeed = ModePage2A.CurWriteSpeed;

    const uint8_t r = ModePage2A.ReadInfo, w = ModePage2A.WriteInfo;
    dc.Read_CDR = r & 0x01;
    dc.Read_CDRW = r & 0x02;
    dc.Read_Method2 = r & 0x04;
    dc.Read_DVDROM = r & 0x08;
    dc.Read_DVDR = r & 0x10;
    dc.Read_DVDRAM = r & 0x20;
    dc.Write_CDR = w & 0x01;
    dc.Write_CDRW = w & 0x02;
    dc.TestWrite = w & 0x04;
    dc.Write_DVDR = w & 0x10;
    dc.Write_DVDRAM = w & 0x20;
    dc.UnderRunProtection = (ModePage2A.OtherInfo & 0x80) != 0;
    if (ModeSense10(0x30, true, 128))
        dc.UnderRunProtection = true;

    auto has = [&](uint16_t feature, bool profileZeroCounts) {
        if (!GetConfiguration(feature, 112))
            return false;
        return (profileZeroCounts && ConfigHeader.CurrentProfile == 0) ||
               ConfigHeader.FeatureCode == feature;
    };
    if (has(0x2A, true)) {
        dc.Read_DVDPLUSR = dc.Read_DVDPLUSRW = true;
        if (ConfigHeader.info & 1)
            dc.Write_DVDPLUSR = dc.Write_DVDPLUSRW = true;
    }
    if (has(0x3B, false)) {
        dc.Read_DVDPLUSRDL = true;
        if (ConfigHeader.info & 1)
            dc.Write_DVDPLUSRDL = true;
    }
    if (has(0x2F, true) && (ConfigHeader.info & 0x02))
        dc.Read_DVDRW = dc.Write_DVDRW = true;
    if (has(0x40, true))
        dc.Read_BDROM = dc.Read_BDR = dc.Read_BDRE = true;
    if (has(0x41, true))
        dc.Write_BDR = dc.Write_BDRE = true;
    if (has(0x50, true))
        dc.Read_HDDVDROM = dc.Read_HDDVDR = dc.Read_HDDVDRAM = true;
    if (has(0x51, true))
        dc.Write_HDDVDR = dc.Write_HDDVDRAM = true;
    return true;
}

bool TSCSIDevice::DeviceIsBurner() {
    return ModePage2A.WriteInfo != 0;
}

bool TSCSIDevice::ReadTOC(uint8_t format, bool msf, uint8_t track, uint16_t length) {
    length = std::min<uint16_t>(length, uint16_t(tmpBuffer.size() - 1));
    std::memset(tmpBuffer.data(), 0, length);
    return SendCommand({scsiop::ReadTOC, uint8_t(msf ? 2 : 0), format, 0, 0, 0, track,
                        uint8_t(length >> 8), uint8_t(length), 0},
                       SRB_READ, tmpBuffer.data(), length) == SS_COMP;
}

TMedium TSCSIDevice::DiscIs() {
    if (GetConfiguration(0, 114)) {
        switch (ConfigHeader.CurrentProfile) {
        case 0x08:
            return mtCDROM;
        case 0x09:
            return mtCDR;
        case 0x0A:
            return mtCDRW;
        case 0x10:
            return mtDVDROM;
        case 0x11:
            return mtDVDR;
        case 0x12:
            return mtDVDRAM;
        case 0x13:
            return mtDVDRWRO;
        case 0x14:
            return mtDVDRWSR;
        case 0x1A:
            return mtDVDPLUSRW;
        case 0x1B:
            return mtDVDPLUSR;
        case 0x20:
            return mtDDCDROM;
        case 0x21:
            return mtDDCDR;
        case 0x22:
            return mtDDCDRW;
        case 0x2B:
            return mtDVDPLUSRDL;
        case 0x40:
            return mtBDROM;
        case 0x41:
            return mtBDRSR;
        case 0x42:
            return mtBDRRR;
        case 0x43:
            return mtBDRE;
        case 0x50:
            return mtHDDVDROM;
        case 0x51:
            return mtHDDVDR;
        case 0x52:
            return mtHDDVDRAM;
        default:
            return mtUNKNOWN;
        }
    }
    if (ReadTOC(4, true, 0, 30)) {
        if (tmpBuffer[6] & 0x80)
            return (tmpBuffer[6] & 0x40) ? mtCDRW : mtCDR;
        return mtCDROM;
    }
    if (ReadDiscInformation(64))
        return DiscInformation.IsErasable() ? mtCDRW : mtCDR;
    return TestUnitReady() ? mtCDROM : mtUNKNOWN;
}

bool TSCSIDevice::SetWriteParameters(bool testWrite, bool burnProof, TMedium m, bool multisession) {
    ModePage05 = TModePage05{};
    if (!ModeSense10(0x05, false, 512))
        return false;
    const size_t offset = (tmpBuffer[8] & 0x3F) == 0x05 ? 8 : 16;
    uint8_t* drivePage = &tmpBuffer[offset];
    const uint8_t pageLength = drivePage[1];

    uint8_t pg[sizeof(TModePage05)] = {};
    static const uint8_t pageTemplate[16] = {0x05, 0x32, 0x42, 0xC4, 0x08, 0x00, 0x00, 0x00,
                                             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x96};
    std::memcpy(pg, pageTemplate, sizeof pageTemplate);
    pg[0] = 0x05;
    pg[1] = pageLength;
    auto writeType = [&](uint8_t v) { pg[2] = uint8_t((pg[2] & 0xF0) | v); };
    auto trackMode = [&](uint8_t v) { pg[3] = uint8_t((pg[3] & 0xF0) | v); };
    auto multiSession = [&](bool on) { pg[3] = uint8_t((pg[3] & 0x3F) | (on ? 0xC0 : 0)); };
    auto fixedPacket = [&](bool on) { pg[3] = uint8_t(on ? pg[3] | 0x20 : pg[3] & ~0x20); };
    auto linkSizeValid = [&] { pg[2] |= 0x20; };
    auto packetSize = [&](uint32_t n) { PutBE32(pg + 10, n); };

    writeType(1); // track at once
    pg[4] = 8;    // 2048-byte mode 1 blocks
    pg[8] = 0;
    if (SonyPowerBurn)
        linkSizeValid();
    trackMode(4);
    if (m == mtDDCDR || m == mtDDCDRW) {
        writeType(2);
        trackMode(5);
    } else if (m == mtDVDR || m == mtDVDRW || m == mtDVDRWRO || m == mtDVDRWSR) {
        writeType(0); // incremental
        trackMode(5);
    }
    if (!testWrite)
        multiSession(multisession);
    if (m == mtDVDR) {
        multiSession(true);
        fixedPacket(true);
        packetSize(16);
        pg[5] = 16;
        linkSizeValid();
    } else if (m == mtDVDRWRO || m == mtDVDRWSR) {
        multiSession(true);
        fixedPacket(false);
        packetSize(16);
        pg[5] = 16;
        linkSizeValid();
    }
    pg[4] = 8;
    if (m == mtDVDPLUSR || m == mtDVDPLUSRW) {
        writeType(2);
        trackMode(4);
        pg[7] = 0;
        linkSizeValid();
        pg[5] = 16;
        if (m == mtDVDPLUSRW) {
            fixedPacket(false);
            packetSize(0);
        } else {
            fixedPacket(true);
            packetSize(16);
            if (!multisession) {
                fixedPacket(false);
                packetSize(0);
                pg[5] = 0;
            }
        }
    }
    if (m == mtDVDPLUSRDL) {
        writeType(2);
        trackMode(4);
        pg[7] = 0;
        linkSizeValid();
        pg[5] = 0;
        fixedPacket(false);
        packetSize(0);
        multiSession(multisession);
    } else if (burnProof && (ModePage2A.OtherInfo & 0x80)) {
        pg[2] |= 0x40; // BUFE
    }
    PutBE16(pg + 14, 150);
    if (testWrite)
        pg[2] |= 0x10;
    std::memcpy(&ModePage05, pg, sizeof pg);

    const size_t copy = std::min<size_t>({pageLength, sizeof pg, 512 - offset});
    std::memcpy(drivePage, pg, copy);
    const size_t length = std::min<size_t>(pageLength + offset + 2, 512);
    return ModeSelect10(tmpBuffer.data(), uint16_t(length));
}

bool TSCSIDevice::SetDeviceSpeed(uint16_t readSpeed, uint16_t writeSpeed) {
    ReadSpeed = readSpeed;
    WriteSpeed = writeSpeed;
    const uint16_t r = readSpeed ? readSpeed : 0xFFFF;
    const uint16_t w = writeSpeed ? writeSpeed : 0xFFFF;
    return SendCommand({scsiop::SetCDSpeed, 1, uint8_t(r >> 8), uint8_t(r), uint8_t(w >> 8),
                        uint8_t(w), 0, 0, 0, 0, 0, 0}) == SS_COMP;
}

uint16_t TSCSIDevice::GetReadSpeed() {
    RefreshCapabilities();
    return CurReadSpeed;
}
uint16_t TSCSIDevice::GetWriteSpeed() {
    RefreshCapabilities();
    return CurWriteSpeed;
}
uint16_t TSCSIDevice::GetMaxWriteSpeed() {
    RefreshCapabilities();
    return MaxWriteSpeed;
}
uint16_t TSCSIDevice::GetDeviceMaxReadSpeed() {
    RefreshCapabilities();
    return ModePage2A.DeviceMaxReadSpeed;
}
uint16_t TSCSIDevice::GetDeviceMaxWriteSpeed() {
    RefreshCapabilities();
    return ModePage2A.DeviceMaxWriteSpeed;
}

bool TSCSIDevice::SetStreaming(uint32_t endLba, uint32_t readSpeed, uint32_t writeSpeed) {
    uint8_t* d = tmpBuffer2.data();
    std::memset(d, 0, 28);
    PutBE32(d + 4, 0);
    PutBE32(d + 8, endLba);
    PutBE32(d + 12, readSpeed);
    PutBE32(d + 16, 1000);
    PutBE32(d + 20, writeSpeed);
    PutBE32(d + 24, 1000);
    return SendCommand({scsiop::SetStreaming, 0, 0, 0, 0, 0, 0, 0, 0, 0, 28, 0}, SRB_WRITE, d,
                       28) == SS_COMP;
}

bool TSCSIDevice::ReadDiscInformation(TDiscInformation& info, uint16_t length) {
    length = std::min<uint16_t>(length, 64);
    std::memset(tmpBuffer.data(), 0, 64);
    const bool ok = SendCommand({scsiop::ReadDiscInformation, 0, 0, 0, 0, 0, 0,
                                 uint8_t(length >> 8), uint8_t(length), 0},
                                SRB_READ, tmpBuffer.data(), length) == SS_COMP;
    const uint8_t* b = tmpBuffer.data();
    info.DataLen = GetBE16(b);
    info.info = b[2];
    info.FirstTrack = b[3];
    info.Sessions = b[4];
    info.FirstTrackOfLastSession = b[5];
    info.LastTrackOfLastSession = b[6];
    info.info2 = b[7];
    info.DiscType = b[8];
    info.Resvd1 = b[9];
    info.Resvd2 = b[10];
    info.Resvd3 = b[11];
    info.DiscIdentification = GetBE32(b + 12);
    std::memcpy(info.Resvd4, b + 16, sizeof info.Resvd4);
    return ok;
}

bool TSCSIDevice::ReadDiscInformation(uint16_t length) {
    return ReadDiscInformation(DiscInformation, length);
}

bool TSCSIDevice::ReadTrackInformation(uint32_t trackNumber) {
    std::memset(tmpBuffer.data(), 0, 38);
    const bool ok = SendCommand({scsiop::ReadTrackInformation, 1, uint8_t(trackNumber >> 24),
                                 uint8_t(trackNumber >> 16), uint8_t(trackNumber >> 8),
                                 uint8_t(trackNumber), 0, 0, 38, 0},
                                SRB_READ, tmpBuffer.data(), 38) == SS_COMP;
    const uint8_t* b = tmpBuffer.data();
    TTrackInformation& t = TrackInformation;
    t.DataLength = GetBE16(b);
    t.TrackNumber = b[2];
    t.SessionNumber = b[3];
    t.Reserved1 = b[4];
    t.info1 = b[5];
    t.info2 = b[6];
    t.Reserved2 = b[7];
    t.TrackStartAddress = GetBE32(b + 8);
    t.NextWritableAddress = GetBE32(b + 12);
    t.FreeBlocks = GetBE32(b + 16);
    t.FixedPacketSize = GetBE32(b + 20);
    t.TrackSize = GetBE32(b + 24);
    t.LastRecordedAddress = GetBE32(b + 28);
    t.TrackNumber2 = b[32];
    t.SessionNumber2 = b[33];
    t.Res3 = b[34];
    t.Res4 = b[35];
    t.Res5 = b[36];
    t.Res6 = b[37];
    return ok;
}

bool TSCSIDevice::ReadFormatCapacities() {
    std::memset(tmpBuffer.data(), 0, 124);
    return SendCommand({scsiop::ReadFormatCapacities, 0, 0, 0, 0, 0, 0, 0, 124, 0}, SRB_READ,
                       tmpBuffer.data(), 124) == SS_COMP;
}

uint32_t TSCSIDevice::FormattableCapacity() {
    if (!ReadFormatCapacities())
        return 0;
    const uint8_t* b = tmpBuffer.data();
    const int count = std::min(b[3] / 8, 15); // descriptors the drive returned
    for (int i = 1; i <= std::min(4, count - 1); ++i) {
        const uint8_t* e = b + 4 + 8 * i;
        if (e[4] == 0 && e[5] == 0 && e[6] == 0x08 && e[7] == 0)
            return GetBE32(e);
    }
    if (count >= 2)
        return GetBE32(b + 12);
    // Only the current/maximum capacity descriptor: that is the capacity.
    return count == 1 ? GetBE32(b + 4) : 0;
}

int TSCSIDevice::SessionsOnDisc() {
    const TMedium m = DiscIs();
    if (!ReadDiscInformation(64))
        return m == mtDVDRAM ? 1 : 0;
    const int sessions = DiscInformation.Sessions;
    return DiscInformation.LastSessionState() == 0 ? sessions - 1 : sessions;
}

bool TSCSIDevice::Erasable() {
    switch (DiscIs()) {
    case mtDVDRAM:
    case mtDVDRW:
    case mtDVDRWRO:
    case mtDVDRWSR:
    case mtDVDPLUSRW:
        return true;
    default:
        return ReadDiscInformation(64) && DiscInformation.IsErasable();
    }
}

bool TSCSIDevice::Writable() {
    const TMedium m = DiscIs();
    if (m == mtDVDRAM || m == mtDVDRWRO || m == mtDVDPLUSRW || m == mtBDRE)
        return true;
    if (ReadDiscInformation(64)) {
        const uint8_t status = DiscInformation.DiscStatus();
        if (status <= 1)
            return true;
        if (status == 2)
            return false;
    }
    SetWriteParameters(false, false, m, false);
    bool ok = ReadTrackInformation(255);
    if (!ok)
        ok = ReadTrackInformation(uint32_t(DiscInformation.LastTrackOfLastSession) + 1);
    return ok && TrackInformation.FreeBlocks > 0;
}

uint32_t TSCSIDevice::FreeBlocksOnDisc() {
    if (!Writable())
        return 0;
    const TMedium m = DiscIs();
    SetWriteParameters(false, false, m, false);
    const bool ok =
        ReadDiscInformation(64) && ReadTrackInformation(DiscInformation.LastTrackOfLastSession);
    if (ok && TrackInformation.TrackSize != 0xFFFFFFFFu) {
        switch (m) {
        case mtDVDRAM:
        case mtDVDPLUSRW:
        case mtBDRE:
            return TrackInformation.TrackSize;
        case mtDVDRWRO: {
            const uint32_t capacity = FormattableCapacity();
            return capacity > TrackInformation.TrackSize ? capacity - TrackInformation.TrackSize
                                                         : 0;
        }
        default:
            return std::max(TrackInformation.FreeBlocks, TrackInformation.TrackSize);
        }
    }
    if (!ok && (m == mtDVDRAM || m == mtDVDPLUSRW))
        return FormattableCapacity();
    return 0;
}

uint32_t TSCSIDevice::TotalBlocksOnDisc() {
    SetWriteParameters(false, false, DiscIs(), false);
    if (ReadDiscInformation(64) && ReadTrackInformation(DiscInformation.LastTrackOfLastSession)) {
        if (!(TrackInformation.info2 & 0x10))
            return TrackInformation.TrackSize + TrackInformation.TrackStartAddress;
        return TrackInformation.TrackSize == 0xFFFFFFFFu ? 0 : FormattableCapacity();
    }
    return FormattableCapacity();
}

bool TSCSIDevice::TestUnitReady() {
    return SendCommand({scsiop::TestUnitReady, 0, 0, 0, 0, 0}) == SS_COMP;
}
bool TSCSIDevice::Rezero() {
    return SendCommand({scsiop::Rezero, 0, 0, 0, 0, 0}) == SS_COMP;
}
bool TSCSIDevice::LoadMedium(bool immediate) {
    return SendCommand({scsiop::StartStopUnit, uint8_t(immediate ? 1 : 0), 0, 0, 3, 0}) == SS_COMP;
}
bool TSCSIDevice::EjectMedium(bool immediate) {
    return SendCommand({scsiop::StartStopUnit, uint8_t(immediate ? 1 : 0), 0, 0, 2, 0}) == SS_COMP;
}
bool TSCSIDevice::LockMedium() {
    return SendCommand({scsiop::PreventAllow, 0, 0, 0, 1, 0}) == SS_COMP;
}
bool TSCSIDevice::UnlockMedium() {
    return SendCommand({scsiop::PreventAllow, 0, 0, 0, 0, 0}) == SS_COMP;
}
bool TSCSIDevice::UnlockDrive() {
    TestUnitReady();
    return true;
}
bool TSCSIDevice::FlushCache() {
    return SynchronizeCache(true);
}
bool TSCSIDevice::SynchronizeCache(bool immediate) {
    return SendCommand({scsiop::SynchronizeCache, uint8_t(immediate ? 2 : 0), 0, 0, 0, 0, 0, 0, 0,
                        0}) == SS_COMP;
}

bool TSCSIDevice::ReadBufferCapacity() {
    std::memset(tmpBuffer.data(), 0, 32);
    if (SendCommand({scsiop::ReadBufferCapacity, 0, 0, 0, 0, 0, 0, 0, 32, 0}, SRB_READ,
                    tmpBuffer.data(), 32) != SS_COMP)
        return false;
    DeviceBufferSize = GetBE32(&tmpBuffer[4]);
    DeviceBufferPosition = GetBE32(&tmpBuffer[8]);
    return true;
}

uint32_t TSCSIDevice::BufferPosition() const {
    return DeviceBufferSize > DeviceBufferPosition ? DeviceBufferSize - DeviceBufferPosition : 0;
}

bool TSCSIDevice::FormatUnit(const TFormatList& list) {
    std::memcpy(tmpBuffer2.data(), list.data(), list.size());
    return SendCommand({scsiop::FormatUnit, 0x11, 0, 0, 0, 0}, SRB_WRITE, tmpBuffer2.data(),
                       uint32_t(list.size())) == SS_COMP;
}

bool TSCSIDevice::Blank(bool quick) {
    return SendCommand({scsiop::Blank, uint8_t(0x10 + (quick ? 1 : 0)), 0, 0, 0, 0, 0, 0, 0, 0, 0,
                        0}) == SS_COMP;
}

bool TSCSIDevice::ReserveTrack(uint32_t blocks) {
    return SendCommand({scsiop::ReserveTrack, 0, 0, 0, 0, uint8_t(blocks >> 24),
                        uint8_t(blocks >> 16), uint8_t(blocks >> 8), uint8_t(blocks), 0}) ==
           SS_COMP;
}

bool TSCSIDevice::SendDVDTimeStamp(const std::tm& utc) {
    uint8_t* d = tmpBuffer2.data();
    std::memset(d, 0, 22);
    PutBE16(d, 20);
    char digits[15];
    std::snprintf(digits, sizeof digits, "%04d%02d%02d%02d%02d%02d",
                  std::clamp(utc.tm_year + 1900, 0, 9999), std::clamp(utc.tm_mon + 1, 1, 12),
                  std::clamp(utc.tm_mday, 1, 31), std::clamp(utc.tm_hour, 0, 23),
                  std::clamp(utc.tm_min, 0, 59), std::clamp(utc.tm_sec, 0, 59));
    std::memcpy(d + 8, digits, 14);
    return SendCommand({scsiop::SendDVDStructure, 0, 0, 0, 0, 0, 0, 0x0F, 0, 22, 0, 0}, SRB_WRITE,
                       d, 22) == SS_COMP;
}

bool TSCSIDevice::CloseTrackSession(bool immediate, uint8_t function, uint16_t number) {
    return SendCommand({scsiop::CloseTrackSession, uint8_t(immediate ? 1 : 0), function, 0,
                        uint8_t(number >> 8), uint8_t(number), 0, 0, 0, 0}) == SS_COMP;
}

bool TSCSIDevice::Transfer(bool write, uint32_t lba, uint16_t blocks, void* buffer) {
    if (QPFreq == 0)
        QPFreq = MsPerTick;
    uint16_t& average = write ? bmAvgWriteSpeed : bmAvgReadSpeed;
    if (average == 0)
        average = write ? ModePage2A.CurWriteSpeed : ModePage2A.CurReadSpeed;
    double& start = write ? bmWStart : bmRStart;
    double& stop = write ? bmWStop : bmRStop;
    double& total = write ? bmWTotal : bmRTotal;
    double& size = write ? bmWSize : bmRSize;
    uint8_t& counter = write ? bmWCounter : bmRCounter;
    start = NowMs();
    const int64_t ticks = NowTicks();
    const uint32_t bytes = uint32_t(blocks) * SectorSize;
    const uint8_t status = SendCommand({write ? scsiop::Write10 : scsiop::Read10, 0,
                                        uint8_t(lba >> 24), uint8_t(lba >> 16), uint8_t(lba >> 8),
                                        uint8_t(lba), 0, uint8_t(blocks >> 8), uint8_t(blocks), 0},
                                       write ? SRB_WRITE : SRB_READ, buffer, bytes);
    size += bytes;
    stop = NowMs();
    total += stop - start;
    if (total > 0)
        average = uint16_t(std::min(65535.0, std::round(size / 1024.0 / (total / 1000.0))));
    ++counter;
    qBytes[size_t(qIndex)] = bytes;
    qTime[size_t(qIndex)] = NowTicks() - ticks;
    qIndex = (qIndex + 1) % 64;
    return status == SS_COMP;
}

bool TSCSIDevice::Read10(uint32_t lba, uint16_t blocks, void* buffer) {
    return Transfer(false, lba, blocks, buffer);
}

bool TSCSIDevice::Write10(uint32_t lba, uint16_t blocks, const void* buffer) {
    return Transfer(true, lba, blocks, const_cast<void*>(buffer));
}

void TSCSIDevice::ResetThroughputSamples() {
    qTime.fill(0);
    qBytes.fill(0);
    qIndex = 0;
    QPFreq = MsPerTick;
    bmWriteSpeed = bmReadSpeed = 0;
}

uint32_t TSCSIDevice::SampledThroughput() const {
    double ms = 0, bytes = 0;
    for (size_t i = 0; i < 64; ++i) {
        ms += double(qTime[i]) * QPFreq;
        bytes += double(qBytes[i]);
    }
    if (ms <= 0 || bytes <= 0)
        return 0;
    return uint32_t(std::min(4294967295.0, std::ceil(bytes / ms * 1000.0)));
}

uint16_t TSCSIDevice::BMWriteSpeed() {
    const uint16_t previous = bmWriteSpeed;
    bmWriteSpeed = uint16_t(std::min<uint32_t>(65535, (SampledThroughput() + 1023) / 1024));
    return previous;
}

uint16_t TSCSIDevice::BMReadSpeed() {
    const uint16_t previous = bmReadSpeed;
    bmReadSpeed = uint16_t(std::min<uint32_t>(65535, (SampledThroughput() + 1023) / 1024));
    return previous;
}

} // namespace burner
