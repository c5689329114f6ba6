#pragma once
// The drive side of the burning engine: the device list, the selected drive, the one command
// routine every drive command goes through (with the command trace), and the MMC drive and
// medium operations built on it.
//
// Typical use (the virtual recorder stands in for a drive):
//   TSCSIDevice dev;
//   dev.InitializeASPI(false, "", "");           // real drives, then the virtual recorder
//   dev.SelectDevice(dev.DeviceCount() - 1);      // the recorder is last
//   dev.VirtualRecorder()->InsertMedium(mtDVDR);
//   TMedium m = dev.DiscIs();
//   dev.SetWriteParameters(false, true, m, false);
//   dev.Write10(lba, blocks, buffer);             // blocks x 2048 bytes
#include "burner/device/DeviceTypes.h"
#include "burner/device/SCSIDefs.h"
#include "burner/device/SgIoTransport.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace burner {

class TVirtualRecorder;

// The engine's version text: the first line of the command trace.
extern const char* const BurnerVersion;

constexpr int MaxDevices = 26;

// Trace name of an operation code, blank-padded to 22 characters; empty for unnamed codes.
std::string CommandName(uint8_t opcode);

// One line of the command trace (without the CR LF).
std::string FormatTraceLine(const TSRB_ExecSCSICmd& srb, int minute, int second, int millisecond,
                            bool passThrough, uint32_t lastWinError);

// burner.elg in the user's cache folder ($XDG_CACHE_HOME, else ~/.cache).
std::string DefaultTracePath();

// FORMAT UNIT parameter lists (header and one format descriptor).
using TFormatList = std::array<uint8_t, 12>;
extern const TFormatList FormatDVDRWQuick;      // DVD-RW sequential, first try
extern const TFormatList FormatDVDRWQuickRetry; // DVD-RW sequential, second try
extern const TFormatList FormatDVDRWRestricted; // DVD-RW restricted overwrite
extern const TFormatList FormatDVDPlusRW;       // DVD+RW answering "incompatible format"

// CLOSE TRACK/SESSION close functions.
constexpr uint8_t CloseTrack = 1;
constexpr uint8_t CloseSession = 2;
constexpr uint8_t CloseStopFormat = 3; // DVD+RW
constexpr uint8_t CloseFinalize = 6;   // DVD+R (DL)

// The device record: everything InitializeASPI clears.
struct TSCSIDeviceRecord {
    std::array<uint8_t, 65536> tmpBuffer{};  // answers of the layer's own commands
    std::array<uint8_t, 65537> tmpBuffer2{}; // second buffer
    std::array<TDeviceEntry, MaxDevices> Devices{};
    uint8_t NoOfDevices = 0;
    char DriveLetter = 0;
    uint8_t DeviceType = 0;
    uint32_t LastWinError = 0;
    bool CloseFH = false;
    bool DoNotUseSPTI = false;
    bool ASPIInitialized = false;
    bool UsingSPTI = false;
    uint8_t SelectedDevice = 0;
    uint8_t HaID = 0, Target = 0, Lun = 0;
    char Vendor[9] = {};
    char ProductID[17] = {};
    char ProductRev[5] = {};
    TMedium Medium = mtUNKNOWN;
    TSENSE LastSenseInfo{};
    bool TargetBusy = false;
    bool BurnProof = false;
    uint16_t DeviceError = 0;

    uint32_t DeviceBufferSize = 0;
    uint32_t DeviceBufferPosition = 0; // free bytes in the drive buffer
    TTrackInformation TrackInformation{};
    TDiscInformation DiscInformation{};
    TDiscInformation BGFDI{};
    TConfigHeader ConfigHeader{};
    double bmWStart = 0, bmWStop = 0, bmWTotal = 0, bmWSize = 0;
    uint8_t bmWCounter = 0;
    uint16_t bmWriteSpeed = 0, bmAvgWriteSpeed = 0;
    double bmRStart = 0, bmRStop = 0, bmRTotal = 0, bmRSize = 0;
    uint8_t bmRCounter = 0;
    uint16_t bmAvgReadSpeed = 0, bmReadSpeed = 0;
    TModePage2A ModePage2A{};
    bool TV = false; // write-address mode
    TDC dc{};
    TModePage05 ModePage05{};
    char SonyPowerBurn = 0;
    uint16_t WriteSpeed = 0, ReadSpeed = 0;
    uint16_t MaxReadSpeed = 0, CurReadSpeed = 0, MaxWriteSpeed = 0, CurWriteSpeed = 0;
    bool TestWrite = false, PerformOPC = false, FinalizeDisc = false, FinalizeTrack = false;
    std::array<int64_t, 64> qTime{};
    std::array<int64_t, 64> qBytes{};
    int32_t qIndex = 0;
    double QPFreq = 0; // milliseconds per counter tick
};

class TSCSIDevice : public TSCSIDeviceRecord {
public:
    TSCSIDevice();
    ~TSCSIDevice();
    TSCSIDevice(const TSCSIDevice&) = delete;
    TSCSIDevice& operator=(const TSCSIDevice&) = delete;

    // --- Settings kept across InitializeASPI -------------------------------------------------
    // Where the scan looks for drives (tests point these at a made-up sysfs tree).
    void SetDriveScanFolders(std::string sysClassBlock, std::string devDir);
    // The ioctl entry point of the SG_IO transports created from now on.
    void SetIoctlFunction(TIoctlFunction ioctlFunction);
    // Whether the virtual recorder joins the list after the real drives (on by default).
    void SetVirtualRecorderEnabled(bool enabled) { FVirtualEnabled = enabled; }
    // The virtual recorder of this device list; it keeps its medium and image settings across
    // InitializeASPI.
    const std::shared_ptr<TVirtualRecorder>& VirtualRecorder() const { return FRecorder; }

    // --- Device list and command routine ------------------------------------------------------
    bool InitializeASPI(bool NoInternalASPI, const std::string& ASPIDLLPath,
                        const std::string& Reserved1);
    uint16_t DeviceCount() const { return NoOfDevices; }
    std::string GetDeviceName(uint8_t DeviceIndex) const;
    bool SelectDevice(uint8_t DeviceIndex);
    bool SelectDeviceByLetter(char DriveLetter);
    // Sends one command to the selected drive; returns SS_COMP or SS_ERR.
    uint8_t ExecSCSICommand(TSRB_ExecSCSICmd& srb);
    // Builds the command block for a CDB and sends it.
    uint8_t SendCommand(std::initializer_list<uint8_t> cdb, uint8_t flags = SRB_NODATA,
                        void* buffer = nullptr, uint32_t length = 0);
    // True when the selected drive is the virtual recorder.
    bool VirtualSelected() const;
    // Closes the open device handle, if any.
    void CloseHandle();

    // Trace switches and capability queries (72 open the trace, 73 close it, 77 write-address
    // mode; the others read the flags of the last capabilities refresh).
    bool DeviceCan(int id);
    bool OpenTrace(const std::string& path);
    bool CloseTrace();
    bool TraceOpen() const { return FTrace != nullptr; }

    // --- Drive and medium operations ----------------------------------------------------------
    bool Inquiry();
    bool RefreshCapabilities();
    bool DeviceIsBurner();
    TMedium DiscIs();
    bool SetWriteParameters(bool testWrite, bool burnProof, TMedium medium, bool multisession);
    bool SetDeviceSpeed(uint16_t readSpeed, uint16_t writeSpeed);
    uint16_t GetReadSpeed();
    uint16_t GetWriteSpeed();
    uint16_t GetMaxWriteSpeed();
    uint16_t GetDeviceMaxReadSpeed();
    uint16_t GetDeviceMaxWriteSpeed();
    bool SetStreaming(uint32_t endLba, uint32_t readSpeed, uint32_t writeSpeed);

    bool GetConfiguration(uint16_t feature, uint16_t length);
    bool ModeSense10(uint8_t pageCode, bool defaultValues, uint16_t length);
    bool ModeSelect10(const uint8_t* data, uint16_t length);
    bool ReadTOC(uint8_t format, bool msf, uint8_t track, uint16_t length);
    bool ReadDiscInformation(uint16_t length = 64);
    bool ReadDiscInformation(TDiscInformation& info, uint16_t length);
    bool ReadTrackInformation(uint32_t trackNumber);
    bool ReadFormatCapacities();
    uint32_t FormattableCapacity();

    int SessionsOnDisc();
    bool Erasable();
    bool Writable();
    uint32_t FreeBlocksOnDisc();
    uint32_t TotalBlocksOnDisc();

    bool TestUnitReady();
    bool Rezero();
    bool LoadMedium(bool immediate);
    bool EjectMedium(bool immediate);
    bool LockMedium();
    bool UnlockMedium();
    bool UnlockDrive();
    bool FlushCache();
    bool SynchronizeCache(bool immediate);
    bool ReadBufferCapacity();
    uint32_t BufferPosition() const; // bytes held in the drive buffer

    bool FormatUnit(const TFormatList& list);
    bool Blank(bool quick);
    bool ReserveTrack(uint32_t blocks);
    bool SendDVDTimeStamp(const std::tm& utc);
    bool CloseTrackSession(bool immediate, uint8_t function, uint16_t number);

    bool Read10(uint32_t lba, uint16_t blocks, void* buffer);
    bool Write10(uint32_t lba, uint16_t blocks, const void* buffer);
    void ResetThroughputSamples();
    uint16_t BMWriteSpeed();
    uint16_t BMReadSpeed();
    uint16_t BMAvgWriteSpeed() const { return bmAvgWriteSpeed; }
    uint16_t BMAvgReadSpeed() const { return bmAvgReadSpeed; }

private:
    struct TRoute {
        std::unique_ptr<TScsiTransport> Owned; // SG_IO transports
        TScsiTransport* Transport = nullptr;
    };
    TScsiTransport* CurrentTransport();
    void WriteTrace(const std::string& text);
    void ClearRecord();
    bool Transfer(bool write, uint32_t lba, uint16_t blocks, void* buffer);
    uint32_t SampledThroughput() const;

    std::string FSysClassBlock = "/sys/class/block";
    std::string FDevDir = "/dev";
    TIoctlFunction FIoctl;
    bool FVirtualEnabled = true;
    std::shared_ptr<TVirtualRecorder> FRecorder;
    std::array<TRoute, MaxDevices> FRoutes{};
    TScsiTransport* FOpenTransport = nullptr; // transport whose handle is open
    std::FILE* FTrace = nullptr;
};

} // namespace burner
