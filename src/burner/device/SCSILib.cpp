#include "burner/device/SCSILib.h"

#include "burner/device/VirtualRecorder.h"

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <filesystem>

namespace burner {

const char* const BurnerVersion = "Ordavine burning engine 1.0";

namespace {

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return std::string(buffer, size_t(std::clamp(n, 0, int(sizeof buffer) - 1)));
}

const char* RawCommandName(uint8_t op) {
    switch (op) {
    case 0x00:
        return "TEST UNIT READY";
    case 0x01:
        return "REWIND UNIT";
    case 0x03:
        return "REQUEST SENSE";
    case 0x04:
        return "FORMAT UNIT";
    case 0x12:
        return "INQUIRY";
    case 0x1B:
        return "START STOP UNIT";
    case 0x1E:
        return "PREVENT/ALLOW REMOVAL";
    case 0x23:
        return "READ FORMAT CAPACITIES";
    case 0x25:
        return "READ CAPACITY";
    case 0x28:
        return "READ (10)";
    case 0x2A:
        return "WRITE (10)";
    case 0x2B:
        return "SEEK (10)";
    case 0x2E:
        return "WRITE AND VERIFY (10)";
    case 0x2F:
        return "VERIFY (10)";
    case 0x35:
        return "SYNCHRONIZE CACHE";
    case 0x42:
        return "READ SUB-CHANNEL";
    case 0x43:
        return "READ TOC/PMA/ATIP";
    case 0x45:
        return "PLAY AUDIO (10)";
    case 0x46:
        return "GET CONFIGURATION";
    case 0x47:
        return "PLAY AUDIO MSF";
    case 0x4A:
        return "GET EVENT/STATUS NOTIF";
    case 0x4B:
        return "PAUSE/RESUME";
    case 0x4E:
        return "STOP PLAY/SCAN";
    case 0x51:
        return "READ DISC INFORMATION";
    case 0x52:
        return "READ TRACK INFORMATION";
    case 0x53:
        return "RESERVE TRACK";
    case 0x54:
        return "SEND OPC INFORMATION";
    case 0x55:
        return "MODE SELECT (10)";
    case 0x58:
        return "REPAIR TRACK";
    case 0x5A:
        return "MODE SENSE (10)";
    case 0x5B:
        return "CLOSE TRACK/SESSION";
    case 0x5C:
        return "READ BUFFER CAPACITY";
    case 0x5D:
        return "SEND CUE SHEET";
    case 0xA1:
        return "BLANK";
    case 0xA2:
        return "SEND EVENT";
    case 0xA3:
        return "SEND KEY";
    case 0xA4:
        return "REPORT KEY";
    case 0xA5:
        return "PLAY AUDIO (12)";
    case 0xA6:
        return "LOAD/UNLOAD CD/DVD";
    case 0xA7:
        return "SET READ AHEAD";
    case 0xA8:
        return "READ (12)";
    case 0xAA:
        return "WRITE (12)";
    case 0xAC:
        return "GET PERFORMANCE";
    case 0xAD:
        return "READ DVD STRUCTURE";
    case 0xB6:
        return "SET STREAMING";
    case 0xB9:
        return "READ CD MSF";
    case 0xBA:
        return "SCAN";
    case 0xBB:
        return "SET CD SPEED";
    case 0xBD:
        return "MECHANISM STATUS";
    case 0xBE:
        return "READ CD";
    case 0xBF:
        return "SEND DVD STRUCTURE";
    default:
        return "";
    }
}

// Asks a drive for its INQUIRY strings, with control characters turned into blanks; they stay
// empty when it does not answer as a CD/DVD device.
void InquireDrive(TScsiTransport& transport, std::string& vendor, std::string& product,
                  std::string& revision) {
    uint8_t answer[64] = {};
    const uint8_t cdb[6] = {scsiop::Inquiry, 0, 0, 0, 64, 0};
    TSRB_ExecSCSICmd srb = MakeCommand(cdb, 6, SRB_READ, answer, 64);
    transport.Execute(srb);
    if (srb.SRB_Status != SS_COMP || answer[0] != 5)
        return;
    char text[40];
    for (int i = 0; i < 40; ++i)
        text[i] = answer[8 + i] < 32 ? ' ' : char(answer[8 + i]);
    vendor.assign(text, 8);
    product.assign(text + 8, 16);
    revision.assign(text + 24, 4);
}

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

std::string EntryName(unsigned ha, unsigned target, unsigned lun, char letter,
                      const std::string& vendor, const std::string& product,
                      const std::string& revision) {
    std::string name = Printf("%d:%d:%d,%c: %s %s %s ", int(ha), int(target), int(lun), letter,
                              vendor.c_str(), product.c_str(), revision.c_str());
    if (name.size() > 127)
        name.resize(127);
    return name;
}

} // namespace

std::string CommandName(uint8_t opcode) {
    std::string name = RawCommandName(opcode);
    if (!name.empty() && name.size() < 22)
        name.resize(22, ' ');
    return name;
}

std::string FormatTraceLine(const TSRB_ExecSCSICmd& srb, int minute, int second, int millisecond,
                            bool passThrough, uint32_t lastWinError) {
    std::string line;
    if (reinterpret_cast<uintptr_t>(srb.SRB_BufPointer) % 4 != 0) {
        // The buffer read as text, never past its own length.
        const uint8_t* p = srb.SRB_BufPointer;
        const uint8_t* end = p + srb.SRB_BufLen;
        line += "- NAL -> ";
        line.append(reinterpret_cast<const char*>(p), size_t(std::find(p, end, uint8_t(0)) - p));
        line += ' ';
    }
    line += Printf("%02d:%02d:%03d %s (%02X) {%02X:%02X} - %X:%X:%X <%02X> [%05X] ", minute, second,
                   millisecond, CommandName(srb.CDBByte[0]).c_str(), srb.CDBByte[0], srb.SRB_Flags,
                   srb.SRB_CDBLen, srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun, srb.SRB_Status,
                   srb.SRB_BufLen);
    for (int i = 1; i < 16; ++i)
        line += Printf("%02X ", srb.CDBByte[i]);
    line += "| ";
    if (srb.SRB_BufPointer) {
        const uint32_t n = std::min<uint32_t>(100, srb.SRB_BufLen);
        for (uint32_t i = 0; i < n; ++i)
            line += Printf("%02X ", srb.SRB_BufPointer[i]);
    }
    line += Printf("%02X:%02X", srb.SenseArea[12], srb.SenseArea[13]);
    if (passThrough)
        line += Printf(", %u", lastWinError);
    return line;
}

std::string DefaultTracePath() {
    namespace fs = std::filesystem;
    fs::path folder;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache)
        folder = cache;
    else if (const char* home = std::getenv("HOME"); home && *home)
        folder = fs::path(home) / ".cache";
    else
        folder = fs::temp_directory_path();
    return (folder / "burner.elg").string();
}

TSCSIDevice::TSCSIDevice() : FRecorder(std::make_shared<TVirtualRecorder>()) {}

TSCSIDevice::~TSCSIDevice() {
    CloseHandle();
    CloseTrace();
}

void TSCSIDevice::SetDriveScanFolders(std::string sysClassBlock, std::string devDir) {
    FSysClassBlock = std::move(sysClassBlock);
    FDevDir = std::move(devDir);
}

void TSCSIDevice::SetIoctlFunction(TIoctlFunction ioctlFunction) {
    FIoctl = std::move(ioctlFunction);
}

void TSCSIDevice::ClearRecord() {
    const bool burnProof = BurnProof, finalizeDisc = FinalizeDisc;
    static_cast<TSCSIDeviceRecord&>(*this) = TSCSIDeviceRecord{};
    BurnProof = burnProof;
    FinalizeDisc = finalizeDisc;
}

bool TSCSIDevice::OpenTrace(const std::string& path) {
    CloseTrace();
    if (const auto parent = std::filesystem::path(path).parent_path(); !parent.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(parent, ec);
    }
    FTrace = std::fopen(path.c_str(), "wb");
    if (!FTrace)
        return false;
    WriteTrace(std::string(BurnerVersion) + "\r\n");
    return true;
}

bool TSCSIDevice::CloseTrace() {
    if (!FTrace)
        return false;
    std::fclose(FTrace);
    FTrace = nullptr;
    return true;
}

void TSCSIDevice::WriteTrace(const std::string& text) {
    if (!FTrace)
        return;
    std::fwrite(text.data(), 1, text.size(), FTrace);
    std::fflush(FTrace);
}

void TSCSIDevice::CloseHandle() {
    if (FOpenTransport)
        FOpenTransport->Close();
    FOpenTransport = nullptr;
}

bool TSCSIDevice::InitializeASPI(bool NoInternalASPI, const std::string& ASPIDLLPath,
                                 const std::string& Reserved1) {
    (void)ASPIDLLPath; // the virtual recorder is built in; no library to load
    CloseHandle();
    // The record is cleared, the trace with it; a new one is opened when asked for.
    CloseTrace();
    ClearRecord();
    for (auto& route : FRoutes)
        route = TRoute{};
    if (!Reserved1.empty())
        OpenTrace(Reserved1);

    NoOfDevices = 0;
    DoNotUseSPTI = NoInternalASPI;
    char nextLetter = 'C';
    bool anyOpened = false;

    struct TPending { // drives without a SCSI address, listed after the others
        TDeviceEntry Entry;
        std::unique_ptr<TScsiTransport> Transport;
    };
    std::vector<TPending> unaddressed;

    if (!DoNotUseSPTI) {
        // Keep one slot for the virtual recorder.
        const int realLimit = MaxDevices - (FVirtualEnabled ? 1 : 0);
        for (const TFoundDrive& drive : FindOpticalDrives(FSysClassBlock, FDevDir)) {
            if (NoOfDevices + int(unaddressed.size()) >= realLimit || nextLetter > 'Z')
                break;
            const char letter = nextLetter;
            auto transport = std::make_unique<TSgIoTransport>(drive.DevicePath, FIoctl);
            const uint32_t error = transport->Open();
            if (transport->ReadWriteError() != 0)
                WriteTrace(Printf("System Error Code: %u\r\n", transport->ReadWriteError()));
            if (error != 0) {
                WriteTrace(Printf("System Error Code: %u\r\n", error));
                continue;
            }
            ++nextLetter;
            anyOpened = true;
            DriveLetter = letter;

            TDeviceEntry entry;
            entry.DriveLetter = letter;
            entry.DeviceType = 5;
            if (drive.HasAddress) {
                entry.HaId = drive.Host;
                entry.Target = drive.Target;
                entry.Lun = drive.Lun;
            }
            std::string vendor, product, revision;
            InquireDrive(*transport, vendor, product, revision);
            entry.Name =
                EntryName(entry.HaId, entry.Target, entry.Lun, letter, vendor, product, revision);
            WriteTrace(Printf("%c: %d - ( %s)\r\n", letter, 5, entry.Name.c_str()));
            transport->Close();
            if (drive.HasAddress) {
                FRoutes[NoOfDevices].Transport = transport.get();
                FRoutes[NoOfDevices].Owned = std::move(transport);
                Devices[NoOfDevices++] = std::move(entry);
            } else {
                unaddressed.push_back({std::move(entry), std::move(transport)});
            }
        }
    }

    int highestHa = -1;
    for (int i = 0; i < NoOfDevices; ++i)
        highestHa = std::max<int>(highestHa, Devices[i].HaId);
    for (TPending& pending : unaddressed) {
        TDeviceEntry& entry = pending.Entry;
        entry.HaId = uint8_t(++highestHa);
        const std::string rest = entry.Name.size() > 9 ? entry.Name.substr(9) : std::string();
        entry.Name = Trim(
            Printf("%d:%d:%d,%c: ", entry.HaId, entry.Target, entry.Lun, entry.DriveLetter) + rest);
        FRoutes[NoOfDevices].Transport = pending.Transport.get();
        FRoutes[NoOfDevices].Owned = std::move(pending.Transport);
        Devices[NoOfDevices++] = std::move(entry);
    }
    if (anyOpened) {
        ASPIInitialized = true;
        UsingSPTI = true;
    }

    // The virtual recorder comes after the real drives.
    if (FVirtualEnabled && NoOfDevices < MaxDevices && nextLetter <= 'Z') {
        TDeviceEntry entry;
        entry.DriveLetter = nextLetter;
        entry.DeviceType = 5;
        entry.HaId = uint8_t(highestHa + 1);
        std::string vendor, product, revision;
        InquireDrive(*FRecorder, vendor, product, revision);
        entry.Name = EntryName(entry.HaId, 0, 0, entry.DriveLetter, vendor, product, revision);
        FRoutes[NoOfDevices].Transport = FRecorder.get();
        Devices[NoOfDevices++] = std::move(entry);
        ASPIInitialized = true;
    }
    return ASPIInitialized;
}

std::string TSCSIDevice::GetDeviceName(uint8_t DeviceIndex) const {
    if (DeviceIndex >= NoOfDevices)
        return {};
    return Devices[DeviceIndex].Name;
}

bool TSCSIDevice::SelectDevice(uint8_t DeviceIndex) {
    HaID = Target = Lun = DeviceType = 255;
    DriveLetter = '?';
    bmWTotal = bmWSize = bmRTotal = bmRSize = 0;
    bmWCounter = bmRCounter = 0;
    if (DeviceIndex >= NoOfDevices)
        return false;
    SelectedDevice = DeviceIndex;
    const TDeviceEntry& entry = Devices[DeviceIndex];
    HaID = entry.HaId;
    Target = entry.Target;
    Lun = entry.Lun;
    DriveLetter = entry.DriveLetter;
    DeviceType = entry.DeviceType;
    CloseHandle();
    if (!Inquiry()) {
        RefreshCapabilities();
        return false;
    }
    RefreshCapabilities();
    return true;
}

bool TSCSIDevice::SelectDeviceByLetter(char letter) {
    if (letter == 0)
        return false;
    bool result = false;
    for (int i = 0; i < NoOfDevices; ++i)
        if (Devices[i].DriveLetter == letter)
            result = SelectDevice(uint8_t(i));
    return result;
}

TScsiTransport* TSCSIDevice::CurrentTransport() {
    // The drive with the selected letter; before any selection the address picks the entry.
    for (int i = 0; i < NoOfDevices; ++i)
        if (DriveLetter != 0 && Devices[i].DriveLetter == DriveLetter)
            return FRoutes[i].Transport;
    for (int i = 0; i < NoOfDevices; ++i)
        if (Devices[i].HaId == HaID && Devices[i].Target == Target && Devices[i].Lun == Lun)
            return FRoutes[i].Transport;
    return nullptr;
}

bool TSCSIDevice::VirtualSelected() const {
    return const_cast<TSCSIDevice*>(this)->CurrentTransport() == FRecorder.get() && ASPIInitialized;
}

uint8_t TSCSIDevice::ExecSCSICommand(TSRB_ExecSCSICmd& srb) {
    if (!ASPIInitialized || HaID == 255 || Target == 255) {
        srb.SRB_Status = SS_ERR;
        return SS_ERR;
    }
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = HaID;
    srb.SRB_Target = Target;
    srb.SRB_Lun = Lun;
    srb.SRB_SenseLen = SenseLength;
    srb.SRB_Status = SS_PENDING;
    srb.SRB_TargStat = 0;
    std::memset(srb.SenseArea, 0, sizeof srb.SenseArea);
    if (TV && srb.CDBByte[0] == scsiop::Write10)
        srb.CDBByte[2] = srb.CDBByte[3] = 0;

    TScsiTransport* transport = CurrentTransport();
    const int64_t expected = CdbTransferLength(srb.CDBByte);
    if (expected >= 0 && int64_t(srb.SRB_BufLen) != expected) {
        // A transfer whose buffer length disagrees with the CDB never goes out: the drive would
        // write or read a different number of sectors than the buffer holds.
        srb.SRB_Status = SS_ERR;
        srb.SRB_TargStat = STATUS_CHKCOND;
        srb.SenseArea[0] = 0x70;
        srb.SenseArea[2] = sense::IllegalRequest;
        srb.SenseArea[7] = 10;
        srb.SenseArea[12] = sense::AscInvalidFieldInCdb;
        LastWinError = 0;
    } else if (!transport) {
        srb.SRB_Status = SS_ERR;
        LastWinError = 0;
    } else {
        const uint32_t error = transport->Execute(srb);
        if (transport->IsPassThrough())
            LastWinError = error;
        FOpenTransport = transport;
    }

    if (FTrace) {
        const auto now = std::chrono::system_clock::now();
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
        const int millisecond = int(ms % 1000);
        const int second = int((ms / 1000) % 60);
        const int minute = int((ms / 60000) % 60);
        WriteTrace(FormatTraceLine(srb, minute, second, millisecond,
                                   transport && transport->IsPassThrough(), LastWinError) +
                   "\r\n");
    }

    TargetBusy = srb.SRB_Status != SS_PENDING && srb.SRB_Status != SS_COMP &&
                 srb.SRB_TargStat == STATUS_BUSY;
    std::memcpy(&LastSenseInfo, srb.SenseArea, sizeof LastSenseInfo);
    if (LastSenseInfo.AddSenseCode != 0)
        DeviceError = uint16_t(LastSenseInfo.AddSenseCode * 256 + LastSenseInfo.AddSenQual);
    if (CloseFH)
        CloseHandle();
    return srb.SRB_Status;
}

uint8_t TSCSIDevice::SendCommand(std::initializer_list<uint8_t> cdb, uint8_t flags, void* buffer,
                                 uint32_t length) {
    TSRB_ExecSCSICmd srb =
        MakeCommand(cdb.begin(), uint8_t(std::min<size_t>(cdb.size(), 16)), flags, buffer, length);
    return ExecSCSICommand(srb);
}

bool TSCSIDevice::DeviceCan(int id) {
    switch (id) {
    case 72:
        return OpenTrace(DefaultTracePath());
    case 73:
        return CloseTrace();
    case 77:
        TV = true;
        return true;
    case 1:
        return dc.Read_CDR;
    case 2:
        return dc.Read_CDRW;
    case 3:
        return dc.Read_DVDRAM;
    case 4:
        return dc.Read_DVDR;
    case 5:
        return dc.Read_DVDRW;
    case 6:
        return dc.Read_DVDPLUSR;
    case 7:
        return dc.Read_DVDPLUSRW;
    case 8:
        return dc.Read_DVDPLUSRDL;
    case 9:
        return dc.Read_HDDVDROM;
    case 10:
        return dc.Read_HDDVDR;
    case 11:
        return dc.Read_HDDVDRAM;
    case 12:
        return dc.Read_BDROM;
    case 13:
        return dc.Read_BDR;
    case 14:
        return dc.Read_BDRE;
    case 21:
        return dc.Write_CDR;
    case 22:
        return dc.Write_CDRW;
    case 23:
        return dc.Write_DVDRAM;
    case 24:
        return dc.Write_DVDR;
    case 25:
        return dc.Write_DVDRW;
    case 26:
        return dc.Write_DVDPLUSR;
    case 27:
        return dc.Write_DVDPLUSRW;
    case 28:
        return dc.Write_DVDPLUSRDL;
    case 29:
        return dc.Write_HDDVDR;
    case 30:
        return dc.Write_HDDVDRAM;
    case 31:
        return dc.Write_BDR;
    case 32:
        return dc.Write_BDRE;
    case 41:
        return dc.TestWrite;
    case 42:
        return dc.UnderRunProtection;
    default:
        return false;
    }
}

// --- Sense decoding ---------------------------------------------------------------------------

TAnswerKind ClassifyAnswer(uint8_t status, bool targetBusy, const TSENSE& sense,
                           uint32_t systemError) {
    if (status == SS_COMP)
        return TAnswerKind::Completed;
    if (targetBusy)
        return TAnswerKind::Busy;
    if (systemError != 0)
        return TAnswerKind::TransportFailed;
    switch (sense.AddSenseCode) {
    case 0x00:
        return TAnswerKind::NoSense;
    case sense::AscNotReady:
        return TAnswerKind::NotReady;
    case sense::AscPowerOnReset:
        return TAnswerKind::PowerOnReset;
    case sense::AscIncompatibleMedium:
        return sense.AddSenQual == 0x05 ? TAnswerKind::IncompatibleFormat : TAnswerKind::Failed;
    default:
        return TAnswerKind::Failed;
    }
}

TRetryVerdict PacketWriteVerdict(TAnswerKind answer, unsigned attempts) {
    switch (answer) {
    case TAnswerKind::Completed:
        return {TSenseAction::GoOn, 0};
    case TAnswerKind::Busy:
    case TAnswerKind::NotReady:
    case TAnswerKind::NoSense:
        if (attempts < 5000)
            return {TSenseAction::Retry, 100};
        return {TSenseAction::Fail, 0};
    default:
        return {TSenseAction::Fail, 0};
    }
}

TRetryVerdict FirstWriteVerdict(TAnswerKind answer, unsigned counter, bool isDVDPlusRW) {
    switch (answer) {
    case TAnswerKind::Completed:
        return {TSenseAction::GoOn, 0};
    case TAnswerKind::IncompatibleFormat:
        if (isDVDPlusRW)
            return {TSenseAction::Format, 0};
        return {TSenseAction::Fail, 0};
    case TAnswerKind::Busy:
    case TAnswerKind::NotReady:
        if (counter + 1 < 5000)
            return {TSenseAction::Retry, 200};
        return {TSenseAction::Fail, 0};
    case TAnswerKind::NoSense:
        if (counter + 1 < 100)
            return {TSenseAction::Retry, 200};
        return {TSenseAction::Fail, 0};
    case TAnswerKind::PowerOnReset:
        if (counter + 1 < 100)
            return {TSenseAction::Retry, 1200};
        return {TSenseAction::Fail, 0};
    default:
        return {TSenseAction::Fail, 0};
    }
}

} // namespace burner
