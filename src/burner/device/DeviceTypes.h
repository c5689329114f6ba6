#pragma once
// Records the drive side keeps: the disc kinds, capability flags, mode pages, disc and track
// information and the device list entries. Numbers read from the drive are held in host order.
#include <cstdint>
#include <string>

namespace burner {

// The kind of disc in the drive.
enum TMedium : uint8_t {
    mtUNKNOWN,
    mtCDROM,
    mtCDR,
    mtCDRW,
    mtDVDROM,
    mtDVDR,
    mtDVDRAM,
    mtDVDRW,
    mtDVDRWRO,
    mtDVDRWSR,
    mtDVDPLUSRW,
    mtDVDPLUSR,
    mtDVDPLUSRDL,
    mtBDROM,
    mtBDRSR,
    mtBDRRR,
    mtBDRE,
    mtHDDVDROM,
    mtHDDVDR,
    mtHDDVDRAM,
    mtDDCDROM,
    mtDDCDR,
    mtDDCDRW,
};

const char* MediumName(TMedium m);

// Capability flags from the capabilities page and the single-feature configuration queries.
struct TDC {
    bool Read_CDR = false, Read_CDRW = false, Read_Method2 = false, Read_DVDR = false,
         Read_DVDRW = false, Read_DVDRAM = false, Read_DVDPLUSR = false, Read_DVDPLUSRDL = false,
         Read_DVDPLUSRW = false, Read_DVDROM = false, Read_BDROM = false, Read_BDR = false,
         Read_BDRE = false, Read_HDDVDROM = false, Read_HDDVDR = false, Read_HDDVDRAM = false;
    bool Write_CDR = false, Write_CDRW = false, Write_DVDR = false, Write_DVDRW = false,
         Write_DVDRAM = false, Write_DVDPLUSR = false, Write_DVDPLUSRDL = false,
         Write_DVDPLUSRW = false, Write_BDR = false, Write_BDRE = false, Write_HDDVDR = false,
         Write_HDDVDRAM = false;
    bool TestWrite = false, UnderRunProtection = false;
};

// MMC capabilities page 2Ah (the first 64 bytes), speed fields and BufferSize in host order,
// followed by the maxima of the default-values page.
struct TModePage2A {
    uint8_t PageCode = 0, PageLen = 0;
    uint8_t ReadInfo = 0;  // byte 2
    uint8_t WriteInfo = 0; // byte 3
    uint8_t OtherInfo = 0; // byte 4, bit 7 = buffer underrun protection
    uint8_t CDDASupported = 0, Lock = 0, SepChanVol = 0;
    uint16_t MaxReadSpeed = 0; // bytes 8-9
    uint16_t NumVolLevels = 0; // bytes 10-11
    uint16_t BufferSize = 0;   // bytes 12-13, KB
    uint16_t CurReadSpeed = 0; // bytes 14-15
    uint8_t Reserved16 = 0, BCK = 0;
    uint16_t MaxWriteSpeed = 0; // bytes 18-19
    uint16_t CurWriteSpeed = 0; // bytes 20-21
    uint8_t Others[42] = {};    // bytes 22-63 as received
    uint16_t DeviceMaxReadSpeed = 0, DeviceMaxWriteSpeed = 0;
};

// MMC write parameters page 05h, byte for byte as it goes to the drive.
struct TModePage05 {
    uint8_t PageCode = 0, PageLen = 0;
    uint8_t WriteType = 0; // bit 6 BUFE, bit 5 LS_V, bit 4 test write, bits 3-0 write type
    uint8_t TrackMode = 0; // bits 7-6 multi-session, bit 5 fixed packet, bit 4 copy, 3-0 mode
    uint8_t DBType = 0;
    uint8_t LinkSize = 0;
    uint8_t Res6 = 0;
    uint8_t Init_App_Code = 0;
    uint8_t SessionFormat = 0;
    uint8_t Res9 = 0;
    uint8_t PacketSize[4] = {};  // big-endian
    uint8_t PauseLength[2] = {}; // big-endian
    uint8_t MediaCatNo[16] = {};
    uint8_t ISRC[16] = {};
    uint8_t SubHeader[4] = {};
    uint8_t Vendors[20] = {};
};
static_assert(sizeof(TModePage05) == 72);

// READ DISC INFORMATION answer.
struct TDiscInformation {
    uint16_t DataLen = 0;
    uint8_t info = 0; // bit 4 erasable, bits 3-2 state of last session, bits 1-0 disc status
    uint8_t FirstTrack = 0;
    uint8_t Sessions = 0;
    uint8_t FirstTrackOfLastSession = 0;
    uint8_t LastTrackOfLastSession = 0;
    uint8_t info2 = 0;
    uint8_t DiscType = 0;
    uint8_t Resvd1 = 0, Resvd2 = 0, Resvd3 = 0;
    uint32_t DiscIdentification = 0;
    uint8_t Resvd4[48] = {};

    bool IsErasable() const { return (info & 0x10) != 0; }
    uint8_t LastSessionState() const { return (info >> 2) & 3; }
    uint8_t DiscStatus() const { return info & 3; }
};

// READ TRACK INFORMATION answer.
struct TTrackInformation {
    uint16_t DataLength = 0;
    uint8_t TrackNumber = 0, SessionNumber = 0, Reserved1 = 0;
    uint8_t info1 = 0;     // byte 5: damage, copy, track mode
    uint8_t info2 = 0;     // byte 6: RT, blank, packet/incremental, fixed packet, data mode
    uint8_t Reserved2 = 0; // byte 7: LRA_V, NWA_V
    uint32_t TrackStartAddress = 0, NextWritableAddress = 0, FreeBlocks = 0, FixedPacketSize = 0,
             TrackSize = 0, LastRecordedAddress = 0;
    uint8_t TrackNumber2 = 0, SessionNumber2 = 0, Res3 = 0, Res4 = 0, Res5 = 0, Res6 = 0;
};

// GET CONFIGURATION answer (header and the first feature descriptor).
struct TConfigHeader {
    uint32_t DataLength = 0;
    uint16_t Reseverd1 = 0;
    uint16_t CurrentProfile = 0;
    uint16_t FeatureCode = 0;
    uint8_t Version = 0;
    uint8_t AdditionalLength = 0;
    uint8_t info = 0; // first byte of the feature data
    uint8_t OtherData[101] = {};
};

// One entry of the device list.
struct TDeviceEntry {
    char DriveLetter = 0;
    uint8_t DeviceType = 0;
    uint8_t HaId = 0;
    uint8_t Target = 0;
    uint8_t Lun = 0;
    std::string Name; // display name, at most 127 characters
};

} // namespace burner
