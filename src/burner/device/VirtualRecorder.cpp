#include "burner/device/VirtualRecorder.h"

#include "burner/device/SCSIDefs.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace burner {

namespace {

constexpr uint32_t BufferBytes = 2 * 1024 * 1024; // the drive's write buffer
constexpr uint32_t SessionGap = 1024;             // lead-out and lead-in between sessions
constexpr size_t CommandLogLimit = 8192;          // commands kept for inspection
constexpr size_t LoggedDataLimit = 4096;

// Speeds in kB/s (1x: CD 176.4, DVD 1385, BD 4495).
const std::vector<uint16_t> DVDReadSpeeds = {5540, 11080, 16620, 22160};
const std::vector<uint16_t> DVDRWriteSpeeds = {2770, 5540, 11080, 22160};
const std::vector<uint16_t> DVDPlusRWriteSpeeds = {3324, 5540, 11080, 22160};
const std::vector<uint16_t> DVDPlusRDLWriteSpeeds = {3324, 5540, 11080};
const std::vector<uint16_t> DVDPlusRWWriteSpeeds = {3324, 5540, 11080};
const std::vector<uint16_t> DVDRWWriteSpeeds = {2770, 5540, 8310};
const std::vector<uint16_t> DVDRAMWriteSpeeds = {2770, 4155, 6925, 16620};
const std::vector<uint16_t> BDReadSpeeds = {8990, 17980, 35960};
const std::vector<uint16_t> BDRWriteSpeeds = {8990, 17980, 26970, 35960};
const std::vector<uint16_t> BDREWriteSpeeds = {8990};
const std::vector<uint16_t> CDReadSpeeds = {1764, 3528, 7056, 8467};
const std::vector<uint16_t> CDRWriteSpeeds = {1764, 3528, 5645, 8467};
constexpr uint16_t DeviceMaxRead = 35960;
constexpr uint16_t DeviceMaxWrite = 35960;

uint16_t PickSpeed(const std::vector<uint16_t>& speeds, uint32_t requested) {
    if (requested >= 0xFFFF)
        return speeds.back();
    uint16_t chosen = speeds.front();
    for (uint16_t s : speeds)
        if (s <= requested)
            chosen = s;
    return chosen;
}

void Reply(TSRB_ExecSCSICmd& srb, const std::vector<uint8_t>& data) {
    if (!srb.SRB_BufPointer)
        return;
    std::memcpy(srb.SRB_BufPointer, data.data(), std::min<size_t>(srb.SRB_BufLen, data.size()));
}

std::string SanitizedLabel(const std::string& label) {
    std::string name;
    for (char c : label)
        name += (c == '/' || c == '\\' || (unsigned char)c < 32) ? '_' : c;
    const auto first = name.find_first_not_of(' ');
    if (first == std::string::npos)
        return "disc";
    name = name.substr(first, name.find_last_not_of(' ') - first + 1);
    if (name == "." || name == "..")
        return "disc";
    return name;
}

} // namespace

std::string VirtualImageFileName(const std::string& folder, const std::string& label) {
    namespace fs = std::filesystem;
    const std::string base = SanitizedLabel(label);
    for (unsigned n = 1;; ++n) {
        const std::string name = n == 1 ? base + ".iso" : base + " (" + std::to_string(n) + ").iso";
        const fs::path path = fs::path(folder) / name;
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(path, ec)))
            return path.string();
    }
}

struct TVirtualRecorder::TAnswer {
    uint8_t Status = SS_COMP;
    uint8_t TargetStatus = STATUS_GOOD;
    uint8_t Key = 0, Asc = 0, Ascq = 0;
    void Fail(uint8_t key, uint8_t asc, uint8_t ascq = 0) {
        Status = SS_ERR;
        TargetStatus = STATUS_CHKCOND;
        Key = key;
        Asc = asc;
        Ascq = ascq;
    }
    bool Ok() const { return Status == SS_COMP; }
};

TVirtualRecorder::TVirtualRecorder() {
    LoadBlank(mtUNKNOWN, 0);
}

TVirtualRecorder::~TVirtualRecorder() {
    CloseImage();
}

uint32_t TVirtualRecorder::NominalCapacity(TMedium kind) {
    switch (kind) {
    case mtDVDR:
        return 2298496;
    case mtDVDPLUSR:
    case mtDVDPLUSRW:
        return 2295104;
    case mtDVDPLUSRDL:
        return 4173824;
    case mtDVDRW:
    case mtDVDRWSR:
    case mtDVDRWRO:
        return 2297888;
    case mtDVDRAM:
        return 2236704;
    case mtBDRSR:
        return 12219392;
    case mtBDRE:
        return 11826176;
    case mtCDR:
        return 359849;
    default:
        return 0;
    }
}

void TVirtualRecorder::LoadBlank(TMedium kind, uint32_t capacity) {
    CloseImage();
    FDisc = TRecorderDisc{};
    FDisc.Kind = kind;
    FDisc.Capacity = kind == mtUNKNOWN ? 0 : capacity;
    FDisc.Formatted = RandomWritable();
    if (Sequential())
        FDisc.Tracks.push_back({0, capacity, 0, false, false, 1});
    FBufferFill = 0;
    ResetSpeeds();
    DefaultPage05();
}

void TVirtualRecorder::InsertMedium(TMedium kind, uint32_t capacityBlocks) {
    std::lock_guard lock(FLock);
    if (kind == mtDVDRW)
        kind = mtDVDRWSR;
    if (NominalCapacity(kind) == 0)
        kind = mtUNKNOWN;
    LoadBlank(kind, capacityBlocks ? capacityBlocks : NominalCapacity(kind));
    FTrayOpen = false;
}

void TVirtualRecorder::SetUpForDriveList(const std::string& imageFolder, TMedium medium) {
    InsertMedium(medium);
    std::lock_guard lock(FLock);
    FAutoReload = true;
    FImageFolder = imageFolder;
    FImagePathSetting.clear();
}

void TVirtualRecorder::RemoveMedium() {
    std::lock_guard lock(FLock);
    LoadBlank(mtUNKNOWN, 0);
}

TRecorderDisc TVirtualRecorder::Disc() const {
    std::lock_guard lock(FLock);
    return FDisc;
}

bool TVirtualRecorder::TrayOpen() const {
    std::lock_guard lock(FLock);
    return FTrayOpen;
}

void TVirtualRecorder::SetAutoReload(bool on) {
    std::lock_guard lock(FLock);
    FAutoReload = on;
}
void TVirtualRecorder::SetBlockDescriptor(bool on) {
    std::lock_guard lock(FLock);
    FBlockDescriptor = on;
}
void TVirtualRecorder::SetPage30Supported(bool on) {
    std::lock_guard lock(FLock);
    FPage30 = on;
}
void TVirtualRecorder::SetUnderrunProtection(bool on) {
    std::lock_guard lock(FLock);
    FUnderrun = on;
}
void TVirtualRecorder::SetImagePath(const std::string& path) {
    std::lock_guard lock(FLock);
    FImagePathSetting = path;
}
void TVirtualRecorder::SetImageFolder(const std::string& folder) {
    std::lock_guard lock(FLock);
    FImageFolder = folder;
}
void TVirtualRecorder::SetVolumeLabel(const std::string& label) {
    std::lock_guard lock(FLock);
    FVolumeLabel = label;
}
std::string TVirtualRecorder::ImagePath() const {
    std::lock_guard lock(FLock);
    return FDisc.ImagePath;
}

std::string TVirtualRecorder::LastImagePath() const {
    std::lock_guard lock(FLock);
    return FLastImagePath;
}

bool TVirtualRecorder::ReadSector(uint32_t lba, uint8_t* sector) const {
    std::lock_guard lock(FLock);
    std::memset(sector, 0, SectorSize);
    if (FImageFd < 0)
        return true;
    const ssize_t n = ::pread(FImageFd, sector, SectorSize, off_t(lba) * SectorSize);
    return n >= 0;
}

void TVirtualRecorder::InjectBusy(unsigned n) {
    std::lock_guard lock(FLock);
    FBusy = n;
}
void TVirtualRecorder::InjectLongWriteInProgress(unsigned n) {
    std::lock_guard lock(FLock);
    FLongWrite = n;
}
void TVirtualRecorder::InjectWriteError(uint32_t lba) {
    std::lock_guard lock(FLock);
    FWriteErrors.push_back(lba);
}
void TVirtualRecorder::InjectUnformatted() {
    std::lock_guard lock(FLock);
    if (FDisc.Kind == mtDVDPLUSRW)
        FDisc.Formatted = false;
}
void TVirtualRecorder::InjectMediumRemoval(unsigned afterCommands) {
    std::lock_guard lock(FLock);
    if (afterCommands == 0) {
        LoadBlank(mtUNKNOWN, 0);
        FRemovalCountdown = -1;
    } else {
        FRemovalCountdown = int(afterCommands);
    }
}
void TVirtualRecorder::InjectNotReadyAfterFormat(unsigned n) {
    std::lock_guard lock(FLock);
    FNotReadyAfterFormat = n;
}
void TVirtualRecorder::InjectCommandFailure(uint8_t opcode, uint8_t key, uint8_t asc, uint8_t ascq,
                                            unsigned times) {
    std::lock_guard lock(FLock);
    FFailures.push_back({opcode, key, asc, ascq, times});
}
void TVirtualRecorder::ClearFaults() {
    std::lock_guard lock(FLock);
    FBusy = FLongWrite = FNotReadyAfterFormat = FNotReadyLeft = 0;
    FRemovalCountdown = -1;
    FWriteErrors.clear();
    FFailures.clear();
}

std::vector<TRecordedCommand> TVirtualRecorder::Commands() const {
    std::lock_guard lock(FLock);
    return FCommands;
}
void TVirtualRecorder::ClearCommands() {
    std::lock_guard lock(FLock);
    FCommands.clear();
}
std::vector<uint8_t> TVirtualRecorder::Page05() const {
    std::lock_guard lock(FLock);
    return std::vector<uint8_t>(FPage05, FPage05 + sizeof FPage05);
}
uint16_t TVirtualRecorder::CurrentReadSpeed() const {
    std::lock_guard lock(FLock);
    return FCurRead;
}
uint16_t TVirtualRecorder::CurrentWriteSpeed() const {
    std::lock_guard lock(FLock);
    return FCurWrite;
}
std::vector<uint8_t> TVirtualRecorder::StreamingDescriptor() const {
    std::lock_guard lock(FLock);
    return FStreaming;
}
bool TVirtualRecorder::Locked() const {
    std::lock_guard lock(FLock);
    return FLocked;
}

// --- Kinds of disc ------------------------------------------------------------------------------

bool TVirtualRecorder::Sequential() const {
    switch (FDisc.Kind) {
    case mtDVDR:
    case mtDVDRWSR:
    case mtDVDPLUSR:
    case mtDVDPLUSRDL:
    case mtBDRSR:
    case mtCDR:
        return true;
    default:
        return false;
    }
}

bool TVirtualRecorder::RandomWritable() const {
    switch (FDisc.Kind) {
    case mtDVDPLUSRW:
    case mtDVDRAM:
    case mtDVDRWRO:
    case mtBDRE:
        return true;
    default:
        return false;
    }
}

bool TVirtualRecorder::IsCD() const {
    return FDisc.Kind == mtCDR;
}
bool TVirtualRecorder::IsBD() const {
    return FDisc.Kind == mtBDRSR || FDisc.Kind == mtBDRE;
}
bool TVirtualRecorder::IsDVD() const {
    return !IsCD() && !IsBD() && FDisc.Kind != mtUNKNOWN;
}

uint16_t TVirtualRecorder::Profile() const {
    if (FTrayOpen)
        return 0;
    switch (FDisc.Kind) {
    case mtCDR:
        return 0x09;
    case mtDVDR:
        return 0x11;
    case mtDVDRAM:
        return 0x12;
    case mtDVDRWRO:
        return 0x13;
    case mtDVDRWSR:
        return 0x14;
    case mtDVDPLUSRW:
        return 0x1A;
    case mtDVDPLUSR:
        return 0x1B;
    case mtDVDPLUSRDL:
        return 0x2B;
    case mtBDRSR:
        return 0x41;
    case mtBDRE:
        return 0x43;
    default:
        return 0;
    }
}

const std::vector<uint16_t>& TVirtualRecorder::WriteSpeeds() const {
    switch (FDisc.Kind) {
    case mtDVDPLUSR:
        return DVDPlusRWriteSpeeds;
    case mtDVDPLUSRDL:
        return DVDPlusRDLWriteSpeeds;
    case mtDVDPLUSRW:
        return DVDPlusRWWriteSpeeds;
    case mtDVDRWSR:
    case mtDVDRWRO:
        return DVDRWWriteSpeeds;
    case mtDVDRAM:
        return DVDRAMWriteSpeeds;
    case mtBDRSR:
        return BDRWriteSpeeds;
    case mtBDRE:
        return BDREWriteSpeeds;
    case mtCDR:
        return CDRWriteSpeeds;
    default:
        return DVDRWriteSpeeds;
    }
}

const std::vector<uint16_t>& TVirtualRecorder::ReadSpeeds() const {
    if (IsCD())
        return CDReadSpeeds;
    if (IsBD())
        return BDReadSpeeds;
    return DVDReadSpeeds;
}

void TVirtualRecorder::ResetSpeeds() {
    FCurRead = ReadSpeeds().back();
    FCurWrite = WriteSpeeds().back();
}

void TVirtualRecorder::DefaultPage05() {
    std::memset(FPage05, 0, sizeof FPage05);
    FPage05[0] = 0x05;
    FPage05[1] = 0x32;
    const bool dashR = FDisc.Kind == mtDVDR || FDisc.Kind == mtDVDRWSR;
    FPage05[2] = 0x40 | (IsCD() ? 1 : 0);
    FPage05[3] = dashR ? 0x05 : 0x04;
    FPage05[4] = 8;
    PutBE16(FPage05 + 14, 150);
}

// --- Image file -------------------------------------------------------------------------------

void TVirtualRecorder::CloseImage() {
    if (FImageFd >= 0)
        ::close(FImageFd);
    FImageFd = -1;
}

bool TVirtualRecorder::EnsureImage(const uint8_t* data, uint32_t lba, uint32_t blocks) {
    if (FImageFd >= 0)
        return true;
    if (!FImagePathSetting.empty()) {
        FImageFd = ::open(FImagePathSetting.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (FImageFd < 0)
            return false;
        FDisc.ImagePath = FLastImagePath = FImagePathSetting;
        return true;
    }
    std::string label = FVolumeLabel;
    if (label.empty() && lba <= 16 && lba + blocks > 16) {
        // The primary volume descriptor of the image being written carries its label.
        const uint8_t* pvd = data + size_t(16 - lba) * SectorSize;
        if (pvd[0] == 1 && std::memcmp(pvd + 1, "CD001", 5) == 0)
            label.assign(reinterpret_cast<const char*>(pvd + 40), 32);
    }
    const std::string folder =
        FImageFolder.empty() ? std::filesystem::temp_directory_path().string() : FImageFolder;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    for (int attempt = 0; attempt < 1000 && FImageFd < 0; ++attempt) {
        const std::string path = VirtualImageFileName(folder, label);
        FImageFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (FImageFd >= 0)
            FDisc.ImagePath = FLastImagePath = path;
        else if (errno != EEXIST)
            return false;
    }
    return FImageFd >= 0;
}

// --- Commands ---------------------------------------------------------------------------------

uint32_t TVirtualRecorder::Execute(TSRB_ExecSCSICmd& srb) {
    std::lock_guard lock(FLock);
    const uint8_t op = srb.CDBByte[0];
    TAnswer answer;
    bool handled = false;
    if (FBusy > 0) {
        --FBusy;
        answer.Status = SS_ERR;
        answer.TargetStatus = STATUS_BUSY;
        handled = true;
    }
    if (!handled) {
        for (TCommandFailure& failure : FFailures)
            if (failure.Opcode == op && failure.Times > 0) {
                --failure.Times;
                answer.Fail(failure.Key, failure.Asc, failure.Ascq);
                handled = true;
                break;
            }
    }
    if (!handled && FNotReadyLeft > 0 && op != scsiop::Inquiry && op != scsiop::RequestSense &&
        op != scsiop::GetConfiguration) {
        --FNotReadyLeft;
        answer.Fail(sense::NotReady, sense::AscNotReady, 0x04);
        handled = true;
    }
    if (!handled)
        Dispatch(srb, answer);

    srb.SRB_Status = answer.Status;
    srb.SRB_TargStat = answer.TargetStatus;
    std::memset(srb.SenseArea, 0, sizeof srb.SenseArea);
    if (answer.TargetStatus == STATUS_CHKCOND) {
        srb.SenseArea[0] = 0x70;
        srb.SenseArea[2] = answer.Key;
        srb.SenseArea[7] = 10;
        srb.SenseArea[12] = answer.Asc;
        srb.SenseArea[13] = answer.Ascq;
    }
    if (op != scsiop::RequestSense) {
        std::memset(FLastSense, 0, sizeof FLastSense);
        FLastSense[0] = 0x70;
        FLastSense[7] = 10;
        if (answer.TargetStatus == STATUS_CHKCOND)
            std::memcpy(FLastSense, srb.SenseArea, sizeof FLastSense);
    }

    TRecordedCommand record;
    record.Cdb.assign(srb.CDBByte, srb.CDBByte + std::min<uint8_t>(srb.SRB_CDBLen, 16));
    record.Flags = srb.SRB_Flags;
    record.Length = srb.SRB_BufLen;
    if (srb.DataOut() && srb.SRB_BufPointer)
        record.DataOut.assign(srb.SRB_BufPointer,
                              srb.SRB_BufPointer +
                                  std::min<size_t>(srb.SRB_BufLen, LoggedDataLimit));
    record.Status = answer.Status;
    record.TargetStatus = answer.TargetStatus;
    record.Key = answer.Key;
    record.Asc = answer.Asc;
    record.Ascq = answer.Ascq;
    if (FCommands.size() >= CommandLogLimit)
        FCommands.erase(FCommands.begin(), FCommands.begin() + CommandLogLimit / 2);
    FCommands.push_back(std::move(record));

    if (FRemovalCountdown > 0 && --FRemovalCountdown == 0) {
        LoadBlank(mtUNKNOWN, 0);
        FRemovalCountdown = -1;
    }
    return 0;
}

bool TVirtualRecorder::MediumReady(TAnswer& answer) const {
    if (FTrayOpen) {
        answer.Fail(sense::NotReady, sense::AscMediumNotPresent, 0x02);
        return false;
    }
    if (FDisc.Kind == mtUNKNOWN) {
        answer.Fail(sense::NotReady, sense::AscMediumNotPresent, 0x01);
        return false;
    }
    return true;
}

void TVirtualRecorder::Dispatch(TSRB_ExecSCSICmd& srb, TAnswer& answer) {
    switch (srb.CDBByte[0]) {
    case scsiop::TestUnitReady:
        MediumReady(answer);
        break;
    case scsiop::Rezero:
        break;
    case scsiop::RequestSense:
        RequestSense(srb, answer);
        break;
    case scsiop::FormatUnit:
        FormatUnit(srb, answer);
        break;
    case scsiop::Inquiry:
        Inquiry(srb, answer);
        break;
    case scsiop::StartStopUnit:
        StartStop(srb, answer);
        break;
    case scsiop::PreventAllow:
        FLocked = (srb.CDBByte[4] & 1) != 0;
        break;
    case scsiop::ReadFormatCapacities:
        ReadFormatCapacities(srb, answer);
        break;
    case scsiop::ReadCapacity:
        ReadCapacity(srb, answer);
        break;
    case scsiop::Read10:
        Read(srb, answer);
        break;
    case scsiop::Write10:
        Write(srb, answer);
        break;
    case scsiop::SynchronizeCache:
        if (MediumReady(answer))
            FBufferFill = 0;
        break;
    case scsiop::ReadTOC:
        ReadToc(srb, answer);
        break;
    case scsiop::GetConfiguration:
        GetConfiguration(srb, answer);
        break;
    case scsiop::ReadDiscInformation:
        ReadDiscInformation(srb, answer);
        break;
    case scsiop::ReadTrackInformation:
        ReadTrackInformation(srb, answer);
        break;
    case scsiop::ReserveTrack:
        ReserveTrack(srb, answer);
        break;
    case scsiop::ModeSelect10:
        ModeSelect(srb, answer);
        break;
    case scsiop::ModeSense10:
        ModeSense(srb, answer);
        break;
    case scsiop::CloseTrackSession:
        CloseTrackSession(srb, answer);
        break;
    case scsiop::ReadBufferCapacity:
        ReadBufferCapacity(srb, answer);
        break;
    case scsiop::Blank:
        Blank(srb, answer);
        break;
    case scsiop::SetStreaming:
        SetStreaming(srb, answer);
        break;
    case scsiop::SetCDSpeed:
        SetCDSpeed(srb, answer);
        break;
    case scsiop::SendDVDStructure:
        SendDVDStructure(srb, answer);
        break;
    default:
        answer.Fail(sense::IllegalRequest, sense::AscInvalidOpcode);
        break;
    }
}

void TVirtualRecorder::Inquiry(TSRB_ExecSCSICmd& srb, TAnswer& answer) {
    if (srb.CDBByte[1] & 1) { // no vital product data pages
        answer.Fail(sense::IllegalRequest, sense::AscInvalidFieldInCdb);
        return;
    }
    std::vector<uint8_t> data(36, 0);
    data[0] = 0x05; // CD/DVD device
    data[1] = 0x80; // removable
    data[2] = 0x05;
    data[3] = 0x32;
    data[4] = 31;
    std::memcpy(&data[8], VendorId, 8);
    std::memcpy(&data[16], ProductId, 16);
    std::memcpy(&data[32], Revision, 4);
    data.resize(std::min<size_t>(data.size(), GetBE16(srb.CDBByte + 3)));
    Reply(srb, data);
}

void TVirtualRecorder::RequestSense(TSRB_ExecSCSICmd& srb, TAnswer&) {
    std::vector<uint8_t> data(FLastSense, FLastSense + sizeof FLastSense);
    data.resize(std::min<size_t>(data.size(), srb.CDBByte[4]));
    Reply(srb, data);
    std::memset(FLastSense, 0, sizeof FLastSense);
    FLastSense[0] = 0x70;
    FLastSense[7] = 10;
}

void TVirtualRecorder::GetConfiguration(TSRB_ExecSCSICmd& srb, TAnswer& answer) {
    const uint8_t rt = srb.CDBByte[1] & 3;
    const uint16_t start = GetBE16(srb.CDBByte + 2);
    if (rt == 3) {
        answer.Fail(sense::IllegalRequest, sense::AscInvalidFieldInCdb);
        return;
    }
    const uint16_t profile = Profile();
    const TMedium k = FTrayOpen ? mtUNKNOWN : FDisc.Kind;
    struct TFeature {
        uint16_t Code;
        bool Current;
        uint8_t Version;
        std::vector<uint8_t> Data;
    };
    std::vector<TFeature> features;
    {
        // Profile list, newest first, as drives list them.
        static const uint16_t profiles[] = {0x43, 0x41, 0x40, 0x2B, 0x1B, 0x1A, 0x15, 0x14,
                                            0x13, 0x12, 0x11, 0x10, 0x0A, 0x09, 0x08};
        std::vector<uint8_t> list;
        for (uint16_t p : profiles) {
            list.push_back(uint8_t(p >> 8));
            list.push_back(uint8_t(p));
            list.push_back(p == profile ? 1 : 0);
            list.push_back(0);
        }
        features.push_back({0x0000, true, 0, list});
    }
    const bool present = k != mtUNKNOWN;
    const bool dvd = present && IsDVD(), cd = k == mtCDR, bd = k == mtBDRSR || k == mtBDRE;
    const bool randomWritable = present && RandomWritable() && FDisc.Formatted;
    const bool incremental = k == mtDVDR || k == mtDVDRWSR || k == mtCDR;
    const bool formattable =
        k == mtDVDPLUSRW || k == mtDVDRWSR || k == mtDVDRWRO || k == mtDVDRAM || k == mtBDRE;
    features.push_back({0x0001, true, 2, {0, 0, 0, 0x02, 0x01, 0, 0, 0}}); // core, ATAPI
    features.push_back({0x0002, true, 1, {0x02, 0, 0, 0}});                // morphing
    features.push_back({0x0003, true, 0, {uint8_t(0x29 | (FLocked ? 0x04 : 0)), 0, 0, 0}});
    features.push_back({0x0010, present, 0, {0, 0, 0x08, 0, 0, 0x10, 0, 0}});
    features.push_back({0x001E, cd, 2, {0, 0, 0, 0}});
    features.push_back({0x001F, dvd, 1, {0, 0, 0, 0}});
    features.push_back({0x0020, randomWritable, 0, {0, 0, 0, 0, 0, 0, 0x08, 0, 0, 0x10, 0, 0}});
    features.push_back({0x0021, incremental, 1, {0, 0x01, 0, 0x01, 0x10, 0, 0, 0}});
    features.push_back({0x0023, formattable, 0, {0, 0, 0, 0}});
    features.push_back({0x0024, k == mtDVDRAM || k == mtBDRE, 0, {0x80, 0, 0, 0}});
    features.push_back({0x0026, k == mtDVDRWRO, 0, {}});
    features.push_back({0x002A, k == mtDVDPLUSRW, 0, {0x01, 0, 0, 0}});
    features.push_back({0x002B, k == mtDVDPLUSR, 0, {0x01, 0, 0, 0}});
    features.push_back({0x002D, cd, 2, {0x46, 0, 0, 0}});
    features.push_back({0x002E, cd, 0, {0x46, 0x10, 0, 0}});
    features.push_back({0x002F,
                        k == mtDVDR || k == mtDVDRWSR || k == mtDVDRWRO,
                        1,
                        {0x46, 0, 0, 0}}); // BUF, test write, DVD-RW
    features.push_back({0x003B, k == mtDVDPLUSRDL, 0, {0x01, 0, 0, 0}});
    features.push_back({0x0040, bd, 0, std::vector<uint8_t>(28, 0)});
    features.push_back({0x0041, bd, 0, std::vector<uint8_t>(28, 0)});
    features.push_back({0x0107, present, 3, {0x1F, 0, 0, 0}}); // real time streaming

    std::vector<uint8_t> data(8, 0);
    PutBE16(&data[6], profile);
    for (const TFeature& f : features) {
        const bool wanted = rt == 2 ? f.Code == start : f.Code >= start && (rt == 0 || f.Current);
        if (!wanted)
            continue;
        data.push_back(uint8_t(f.Code >> 8));
        data.push_back(uint8_t(f.Code));
        data.push_back(uint8_t((f.Version << 2) | (f.Code <= 3 ? 0x02 : 0) | (f.Current ? 1 : 0)));
        data.push_back(uint8_t(f.Data.size()));
        data.insert(data.end(), f.Data.begin(), f.Data.end());
    }
    PutBE32(&data[0], uint32_t(data.size() - 4));
    Reply(srb, data);
}

void TVirtualRecorder::ModeSense(TSRB_ExecSCSICmd& srb, TAnswer& answer) {
    const uint8_t pc = srb.CDBByte[2] >> 6;
    const uint8_t page = srb.CDBByte[2] & 0x3F;
    const bool dbd = (srb.CDBByte[1] & 0x08) != 0;
    if (pc == 3) {
        answer.Fail(sense::IllegalRequest, sense::AscSavingNotSupported);
        return;
    }
    auto page2A = [&] {
        const std::vector<uint16_t>& ws = WriteSpeeds();
        const size_t n = std::min<size_t>(ws.size(), 8);
        std::vector<uint8_t> p(32 + 4 * n, 0);
        p[0] = 0x2A;
        p[1] = uint8_t(p.size() - 2);
        if (pc == 1) // changeable: nothing here is
            return p;
        p[2] = 0x3F; // reads CD-R, CD-RW, method 2, DVD-ROM, DVD-R, DVD-RAM
        p[3] = 0x37; // writes CD-R, CD-RW, test write, DVD-R, DVD-RAM
        p[4] = uint8_t((FUnderrun ? 0x80 : 0) | 0x71);
        p[5] = 0x03;
        p[6] = uint8_t(0x29 | (FLocked ? 0x02 : 0));
        p[7] = 0x03;
        const bool defaults = pc == 2;
        PutBE16(&p[8], defaults ? DeviceMaxRead : ReadSpeeds().back());
        PutBE16(&p[10], 0x0100);
        PutBE16(&p[12], uint16_t(BufferBytes / 1024));
        PutBE16(&p[14], defaults ? DeviceMaxRead : FCurRead);
        PutBE16(&p[18], defaults ? DeviceMaxWrite : ws.back());
        PutBE16(&p[20], defaults ? DeviceMaxWrite : FCurWrite);
        PutBE16(&p[22], 0x0001);
        p[27] = 0x01;
        PutBE16(&p[28], defaults ? DeviceMaxWrite : FCurWrite);
        PutBE16(&p[30], uint16_t(n));
        for (size_t i = 0; i < n; ++i) {
            p[32 + 4 * i + 1] = 0x01;
            PutBE16(&p[32 + 4 * i + 2], ws[ws.size() - 1 - i]);
        }
        return p;
    };
    auto page05 = [&] {
        std::vector<uint8_t> p(FPage05, FPage05 + sizeof FPage05);
        if (pc == 1)
            std::fill(p.begin() + 2, p.end(), uint8_t(0xFF));
        return p;
    };
    std::vector<uint8_t> pages;
    if (page == 0x05 || page == 0x3F) {
        const auto p = page05();
        pages.insert(pages.end(), p.begin(), p.end());
    }
    if (page == 0x2A || page == 0x3F) {
        const auto p = page2A();
        pages.insert(pages.end(), p.begin(), p.end());
    }
    if (page == 0x30 && FPage30)
        pages = {0x30, 0x06, 0, 0, 0, 0, 0, 0};
    if (pages.empty()) {
        answer.Fail(sense::IllegalRequest, sense::AscInvalidFieldInCdb);
        return;
    }
    const bool descriptor = FBlockDescriptor && !dbd;
    const size_t header = descriptor ? 16 : 8;
    std::vector<uint8_t> data(header + pages.size(), 0);
    if (descriptor) {
        data[7] = 8;
        data[14] = 0x08; // block length 2048
    }
    std::copy(pages.begin(), pages.end(), data.begin() + long(header));
    PutBE16(&data[0], uint16_t(data.size() - 2));
    Reply(srb, data);
}

void TVirtualRecorder::ModeSelect(TSRB_ExecSCSICmd& srb, TAnswer& answer) {
    const uint16_t length = GetBE16(srb.CDBByte + 7);
    if (!(srb.CDBByte[1] & 0x10)) {
        answer.Fail(sense::IllegalRequest, sense::AscInvalidFieldInCdb);
        return;
    }
    if (length < 8 || length > srb.SRB_BufLen || !srb.SRB_BufPointer) {
        answer.Fail(sense::IllegalRequest, 0x1A); // parameter list length error
        return;
    }
    const uint8_t* d = srb.SRB_BufPointer;
    const size_t offset = 8 + GetBE16(d + 6);
    if (offset + 2 > length || offset + 2 + d[offset + 1] > length) {
        answer.Fail(sense::IllegalRequest, 0x1A);
        return;
    }
    const uint8_t* p = d + offset;
    const uint8_t code = p[0] & 0x3F;
    if (code == 0x30)
        return;
    if (code != 0x05 || p[1] != 0x32) {
        answer.Fail(sense::IllegalRequest, sense::AscInvalidFieldInParam);
        return;
    }
    const uint8_t writeType = p[2] & 0x0F;
    const bool testWrite = (p[2] & 0x10) != 0;
    const bool fixedPacket = (p[3] & 0x20) != 0;
    const TMedium k = FDisc.Kind;
    bool valid = writeType <= 4;
    if (k == mtDVDR || k == mtDVDRWSR) {
        // DVD-R recording is incremental or disc at once; a fixed packet is 16 sectors.
        valid = valid && (writeType == 0 || writeType == 2);
        valid = valid && (!fixedPacket || GetBE32(p + 10) == 16);
    }
    if (testWrite && (k == mtDVDPLUSR || k == mtDVDPLUSRW || k == mtDVDPLUSRDL || k == mtDVDRAM ||
                      k == mtBDRSR || k == mtBDRE))
        valid = false; // these media have no simulation mode
    if (!valid) {
        answer.Fail(sense::IllegalRequest, sense::AscInvalidFieldInParam);
        return;
    }
    std::memcpy(FPage05, p, sizeof FPage05);
    FPage05[0] &= 0x3F;
}

void TVirtualRecorder::ReadDiscInformation(TSRB_ExecSCSICmd& srb, TAnswer& answer) {
    if (!MediumReady(answer))
        return;
    std::vector<uint8_t> d(34, 0);
    PutBE16(&d[0], 32);
    const TMedium k = FDisc.Kind;
    const bool erasable = RandomWritable() || k == mtDVDRWSR;
    uint8_t status, state, sessions, firstInLast, lastInLast;
    if (!Sequential()) {
        status = FDisc.Formatted ? 2 : 0;
        state = FDisc.Formatted ? 3 : 0;
        sessions = firstInLast = lastInLast = 1;
    } else {
        const auto& tracks = FDisc.Tracks;
        const bool anything = FDisc.ClosedSessions > 0 ||
                              std::any_of(tracks.begin(), tracks.end(), [](const auto& t) {
                                  return t.Written > 0 || t.Reserved;
                              });
        const uint16_t lastSession =
            FDisc.Finalized ? FDisc.ClosedSessions : uint16_t(FDisc.ClosedSessions + 1);
        bool openHasContent = false;
        firstInLast = 0;
        lastInLast = uint8_t(tracks.size());
        for (size_t i = 0; i < tracks.size(); ++i)
            if (tracks[i].Session == lastSession) {
                if (firstInLast == 0)
                    firstInLast = uint8_t(i + 1);
                openHasContent = openHasContent || tracks[i].Written > 0 || tracks[i].Reserved;
            }
        if (firstInLast == 0)
            firstInLast = lastInLast;
        status = FDisc.Finalized ? 2 : (anything ? 1 : 0);
        state = FDisc.Finalized ? 3 : (openHasContent ? 1 : 0);
        sessions = uint8_t(lastSession);
    }
    d[2] = uint8_t((erasable ? 0x10 : 0) | (state << 2) | status);
    d[3] = 1;
    d[4] = sessions;
    d[5] = firstInLast;
    d[6] = lastInLast;
    d[7] = uint8_t(0x20 | (k == mtDVDPLUSRW && FDisc.Formatted ? 0x03 : 0));
    if (!IsCD()) {
        std::memset(&d[16], 0xFF, 4); // lead-in fields are CD only
        std::memset(&d[20], 0xFF, 4);
    }
    Reply(srb, d);
}

void TVirtualRecorder::ReadTrackInformation(TSRB_ExecSCSICmd& srb, TAnswer& answer) {
    if (!MediumReady(answer))
        return;
    const uint8_t type = srb.CDBByte[1] & 3;
    const uint32_t number = GetBE32(srb.CDBByte + 2);
    std::vector<uint8_t> d(48, 0);
    PutBE16(&d[0], 46);
    const uint32_t blocking = IsBD() ? 32 : (IsCD() ? 0 : 16);
    if (!Sequential()) {
        const bool ok = (type == 1 && (number == 1 || number == 255)) ||
                        (type == 0 && number < FDisc.Capacity) || (type == 2 && number == 1);
        if (!ok) {
            answer.Fail(sense::IllegalRequest, sense::AscInvalidFieldInCdb);
            return;
        }
        d[2] = 1;
        d[3] = 1;
        d[5] = 0x04;
        d[6] = uint8_t(0x01 | (FDisc.Kind == mtDVDRWRO ? 0x30 : 0));
        d[7] = uint8_t(0x01 | (FDisc.HighestWritten ? 0x02 : 0));
        PutBE32(&d[8], 0);
        PutBE32(&d[12], 0);
        PutBE32(&d[16], FDisc.Capacity);
        PutBE32(&d[20], blocking);
        PutBE32(&d[24], FDisc.Capacity);
        PutBE32(&d[28], FDisc.HighestWritten ? FDisc.HighestWritten - 1 : 0);
        Reply(srb, d);
        return;
    }
    const auto& tracks = FDisc.Tracks;
    int index = -1;
    if (type == 1) {
        if (number == 255) {
            if (!tracks.empty() && !tracks.back().Closed && !tracks.back().Reserved)
                index = int(tracks.size()) - 1;
        } else if (number >= 1 && number <= tracks.size()) {
            index = int(number) - 1;
        }
    } else if (type == 0) {
        for (size_t i = 0; i < tracks.size(); ++i)
            if (number >= tracks[i].Start && number < tracks[i].Start + tracks[i].Size)
                index = int(i);
    } else if (type == 2) {
        for (size_t i = 0; i < tracks.size() && index < 0; ++i)
            if (tracks[i].Session == number)
                index = int(i);
    }
    if (index < 0) {
        answer.Fail(sense::IllegalRequest, sense::AscInvalidFieldInCdb);
        return;
    }
    const TRecorderTrack& t = tracks[size_t(index)];
    const bool open = !t.Closed && t.Written < t.Size && !FDisc.Finalized;
    const bool dashR = FDisc.Kind == mtDVDR || FDisc.Kind == mtDVDRWSR;
    d[2] = uint8_t(index + 1);
    d[3] = uint8_t(t.Session);
    d[5] = dashR ? 0x05 : 0x04;
    d[6] = uint8_t((t.Reserved ? 0x80 : 0) | (t.Written == 0 && !t.Closed ? 0x40 : 0) |
                   (dashR ? 0x20 : 0) | 0x01);
    d[7] = uint8_t((open ? 0x01 : 0) | (t.Written ? 0x02 : 0));
    PutBE32(&d[8], t.Start);
    PutBE32(&d[12], open ? t.Start + t.Written : 0);
    PutBE32(&d[16], open ? t.Size - t.Written : 0);
    PutBE32(&d[20], blocking);
    PutBE32(&d[24], t.Size);
    PutBE32(&d[28], t.Written ? t.Start + t.Written - 1 : 0);
    d[32] = uint8_t((index + 1) >> 8);
    d[33] = uint8_t(t.Session >> 8);
    Reply(srb, d);
}

void TVirtualRecorder::ReadFormatCapacities(TSRB_ExecSCSICmd& srb, TAnswer& answer) {
    if (!MediumReady(answer))
        return;
    const uint32_t cap = FDisc.Capacity;
    std::vector<uint8_t> d(4, 0);
    auto add = [&](uint32_t blocks, uint8_t typeByte, uint32_t parameter) {
        uint8_t e[8];
        PutBE32(e, blocks);
        e[4] = typeByte;
        e[5] = uint8_t(parameter >> 16);
        e[6] = uint8_t(parameter >> 8);
        e[7] = uint8_t(parameter);
        d.insert(d.end(), e, e + 8);
    };
    const TMedium k = FDisc.Kind;
    // Current/maximum capacity: type 2 formatted, 1 unformatted.
    const bool formatted = RandomWritable() ? FDisc.Formatted : true;
    add(cap, formatted ? 0x02 : 0x01, SectorSize);
    switch (k) {
    case mtDVDPLUSRW:
        add(cap, 0x26 << 2, 0);
        break;
    case mtDVDRAM:
        add(cap, 0x00, SectorSize);
        add(cap, 0x01 << 2, SectorSize);
        break;
    case mtDVDRWSR:
    case mtDVDRWRO:
        add(cap, 0x00, SectorSize);
        add(cap, 0x10 << 2, 16);
        add(cap, 0x15 << 2, 16);
        if (k == mtDVDRWRO)
            add(cap, 0x13 << 2, 16);
        break;
    case mtBDRE:
        add(cap, 0x00, SectorSize);
        add(cap, 0x30 << 2, 0x060000);
        add(cap + 393216, 0x31 << 2, 0);
        break;
    default:
        break;
    }
    d[3] = uint8_t(d.size() - 4);
    Reply(srb, d);
}

uint32_t TVirtualRecorder::ReadableEnd() const {
    if (!Sequential())
        return FDisc.Capacity;
    uint32_t end = 0;
    for (const auto& t : FDisc.Tracks)
        if (t.Written)
            end = std::max(end, t.Start + t.Written);
    return end;
}

void TVirtualRecorder::ReadCapacity(TSRB_ExecSCSICmd& srb, TAnswer& answer) {
    if (!MediumReady(answer))
        return;
    std::vector<uint8_t> d(8, 0);
    const uint32_t end = ReadableEnd();
    PutBE32(&d[0], end ? end - 1 : 0);
    PutBE32(&d[4], SectorSize);
    Reply(srb, d);
}

void TVirtualRecorder::ReadToc(TSRB_ExecSCSICmd& srb, TAnswer& answer) {
    if (!MediumReady(answer))
        return;
    const uint8_t format = srb.CDBByte[2] & 0x0F;
    const bool msf = (srb.CDBByte[1] & 0x02) != 0;
    auto address = [&](uint8_t* p, uint32_t lba) {
        if (msf) {
            const uint32_t frames = lba + 150;
            p[1] = uint8_t(frames / (75 * 60));
            p[2] = uint8_t(frames / 75 % 60);
            p[3] = uint8_t(frames % 75);
        } else {
            PutBE32(p, lba);
        }
    };
    if (format == 4) { // ATIP: recordable CDs only
        if (!IsCD()) {
            answer.Fail(sense::IllegalRequest, sense::AscInvalidFieldInCdb);
            return;
        }
        std::vector<uint8_t> d(28, 0);
        PutBE16(&d[0], 26);
        d[4] = 0x50;
        d[6] = 0x80; // recordable; bit 6 clear: CD-R
        d[8] = 97;
        d[9] = 26;
        d[10] = 66;
        d[12] = 79;
        d[13] = 59;
        d[14] = 74;
        Reply(srb, d);
        return;
    }
    if (format == 0) {
        std::vector<std::pair<uint8_t, uint32_t>> entries;
        if (Sequential()) {
            for (size_t i = 0; i < FDisc.Tracks.size(); ++i)
                if (FDisc.Tracks[i].Closed)
                    entries.push_back({uint8_t(i + 1), FDisc.Tracks[i].Start});
        } else if (FDisc.Formatted) {
            entries.push_back({1, 0});
        }
        if (entries.empty()) {
            answer.Fail(sense::IllegalRequest, sense::AscInvalidFieldInCdb);
            return;
        }
        std::vector<uint8_t> d(4, 0);
        d[2] = entries.front().first;
        d[3] = entries.back().first;
        const uint32_t leadOut = ReadableEnd();
        entries.push_back({0xAA, leadOut});
        for (const auto& [number, start] : entries) {
            uint8_t e[8] = {0, 0x14, number, 0, 0, 0, 0, 0};
            address(e + 4, start);
            d.insert(d.end(), e, e + 8);
        }
        PutBE16(&d[0], uint16_t(d.size() - 2));
        Reply(srb, d);
        return;
    }
    answer.Fail(sense::IllegalRequest, sense::AscInvalidFieldInCdb);
}

void TVirtualRecorder::ReadBufferCapacity(TSRB_ExecSCSICmd& srb, TAnswer&) {
    std::vector<uint8_t> d(12, 0);
    PutBE16(&d[0], 10);
    PutBE32(&d[4], BufferBytes);
    PutBE32(&d[8], BufferBytes - std::min(FBufferFill, BufferBytes));
    Reply(srb, d);
}

int TVirtualRecorder::OpenTrackAt(uint32_t lba) const {
    for (size_t i = 0; i < FDisc.Tracks.size(); ++i) {
        const auto& t = FDisc.Tracks[i];
        if (!t.Closed && t.Written < t.Size && t.Start + t.Written == lba)
            return int(i);
    }
    return -1;
}

void TVirtualRecorder::Write(TSRB_ExecSCSICmd& srb, TAnswer& answer) {
    if (!MediumReady(answer))
        return;
    const uint32_t lba = GetBE32(srb.CDBByte + 2);
    const uint32_t blocks = GetBE16(srb.CDBByte + 7);
    if (srb.SRB_BufLen != blocks * SectorSize || !srb.DataOut() ||
        (blocks && !srb.SRB_BufPointer)) {
        answer.Fail(sense::IllegalRequest, sense::AscInvalidFieldInCdb);
        return;
    }
    if (FLongWrite > 0) {
        --FLongWrite;
        answer.Fail(sense::NotReady, sense::AscNotReady, 0x08);
        return;
    }
    if (blocks == 0)
        return;
    for (uint32_t bad : FWriteErrors)
        if (bad >= lba && bad < lba + blocks) {
            answer.Fail(sense::MediumError, sense::AscWriteError, 0x00);
            return;
        }
    const bool simulate = (FPage05[2] & 0x10) != 0;
    TRecorderTrack* track = nullptr;
    if (RandomWritable()) {
        if (!FDisc.Formatted) {
            answer.Fail(sense::IllegalRequest, sense::AscIncompatibleMedium, 0x05);
            return;
        }
        if (uint64_t(lba) + blocks > FDisc.Capacity) {
            answer.Fail(sense::IllegalRequest, sense::AscLbaOutOfRange, 0x00);
            return;
        }
    } else if (simulate) {
        // A simulated write records nothing, so the next writable address never moves.
        if (FDisc.Finalized || uint64_t(lba) + blocks > FDisc.Capacity) {
            answer.Fail(sense::IllegalRequest, sense::AscLbaOutOfRange, 0x02);
            return;
        }
    } else {
        const int index = FDisc.Finalized ? -1 : OpenTrackAt(lba);
        if (index < 0) {
            answer.Fail(sense::IllegalRequest, sense::AscLbaOutOfRange, 0x02);
            return;
        }
        track = &FDisc.Tracks[size_t(index)];
        if (track->Written + blocks > track->Size) {
            answer.Fail(sense::IllegalRequest, sense::AscLbaOutOfRange, 0x00);
            return;
        }
    }
    if (simulate)
        return;
    if (!EnsureImage(srb.SRB_BufPointer, lba, blocks)) {
        answer.Fail(sense::HardwareError, 0x44, 0x00); // internal target failure
        return;
    }
    const size_t bytes = size_t(blocks) * SectorSize;
    size_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::pwrite(FImageFd, srb.SRB_BufPointer + done, bytes - done,
                                   off_t(lba) * SectorSize + off_t(done));
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            answer.Fail(sense::HardwareError, 0x44, 0x00);
            return;
        }
        done += size_t(n);
    }
    if (track)
        track->Written += blocks;
    else
        FDisc.HighestWritten = std::max(FDisc.HighestWritten, lba + blocks);
    FBufferFill = std::min<uint32_t>(BufferBytes, uint32_t(bytes));
}

void TVirtualRecorder::Read(TSRB_ExecSCSICmd& srb, TAnswer& answer) {
    if (!MediumReady(answer))
        return;
    const uint32_t lba = GetBE32(srb.CDBByte + 2);
    const uint32_t blocks = GetBE16(srb.CDBByte + 7);
    if (srb.SRB_BufLen != blocks * SectorSize || (blocks && !srb.SRB_BufPointer)) {
        answer.Fail(sense::IllegalRequest, sense::AscInvalidFieldInCdb);
        return;
    }
    if (uint64_t(lba) + blocks > ReadableEnd() || (RandomWritable() && !FDisc.Formatted)) {
        answer.Fail(sense::IllegalRequest, sense::AscLbaOutOfRange, 0x00);
        return;
    }
    const size_t bytes = size_t(blocks) * SectorSize;
    std::memset(srb.SRB_BufPointer, 0, bytes);
    if (FImageFd >= 0 && ::pread(FImageFd, srb.SRB_BufPointer, bytes, off_t(lba) * SectorSize) < 0)
        answer.Fail(sense::MediumError, sense::AscUnrecoveredRead, 0x00);
}

void TVirtualRecorder::ReserveTrack(TSRB_ExecSCSICmd& srb, TAnswer& answer) {
    if (!MediumReady(answer))
        return;
    if (!Sequential() || FDisc.Finalized) {
        answer.Fail(sense::IllegalRequest, sense::AscCommandSequenceError);
        return;
    }
    uint32_t size = GetBE32(srb.CDBByte + 5);
    TRecorderTrack& t = FDisc.Tracks.back();
    if (t.Closed || t.Reserved || t.Written > 0) {
        answer.Fail(sense::IllegalRequest, sense::AscCommandSequenceError);
        return;
    }
    if (IsDVD())
        size = (size + 15) / 16 * 16; // whole ECC blocks
    if (size == 0 || size > t.Size) {
        answer.Fail(sense::IllegalRequest, sense::AscInvalidFieldInCdb);
        return;
    }
    const uint32_t rest = t.Size - size;
    t.Size = size;
    t.Reserved = true;
    const TRecorderTrack next{t.Start + size, rest, 0, false, false, t.Session};
    if (rest > 0)
        FDisc.Tracks.push_back(next);
}

void TVirtualRecorder::CloseTrackAt(size_t index) {
    TRecorderTrack& t = FDisc.Tracks[index];
    if (t.Closed)
        return;
    if (t.Reserved) {
        t.Closed = true; // the unwritten rest of a reserved track is padded
        t.Written = t.Size;
        return;
    }
    if (t.Written == 0)
        return; // an empty invisible track has nothing to close
    const uint32_t unit = IsBD() ? 32 : (IsDVD() ? 16 : 1);
    const uint32_t available = t.Size;
    const uint32_t size = std::min(available, (t.Written + unit - 1) / unit * unit);
    t.Size = size;
    t.Closed = true;
    if (available > size)
        FDisc.Tracks.push_back({t.Start + size, available - size, 0, false, false, t.Session});
}

void TVirtualRecorder::CloseOpenSession(bool finalize) {
    const uint16_t session = uint16_t(FDisc.ClosedSessions + 1);
    bool content = false;
    for (size_t i = 0; i < FDisc.Tracks.size(); ++i)
        if (FDisc.Tracks[i].Session == session) {
            content = content || FDisc.Tracks[i].Written > 0 || FDisc.Tracks[i].Reserved;
            CloseTrackAt(i);
        }
    if (!content) {
        if (finalize && FDisc.ClosedSessions > 0) {
            FDisc.Tracks.pop_back();
            FDisc.Finalized = true;
        }
        return;
    }
    ++FDisc.ClosedSessions;
    TRecorderTrack& last = FDisc.Tracks.back();
    const bool emptyInvisible = !last.Closed && !last.Reserved && last.Written == 0;
    if (finalize || !emptyInvisible || last.Size <= SessionGap) {
        if (emptyInvisible)
            FDisc.Tracks.pop_back();
        FDisc.Finalized = true;
        return;
    }
    last.Session = uint16_t(session + 1);
    last.Start += SessionGap;
    last.Size -= SessionGap;
}

void TVirtualRecorder::CloseTrackSession(TSRB_ExecSCSICmd& srb, TAnswer& answer) {
    if (!MediumReady(answer))
        return;
    const uint8_t function = srb.CDBByte[2] & 7;
    const uint16_t number = GetBE16(srb.CDBByte + 4);
    if (!Sequential()) {
        if (function < 1 || function > 3)
            answer.Fail(sense::IllegalRequest, sense::AscInvalidFieldInCdb);
        return;
    }
    if (FDisc.Finalized) {
        answer.Fail(sense::IllegalRequest, sense::AscCommandSequenceError);
        return;
    }
    const bool plusR = FDisc.Kind == mtDVDPLUSR || FDisc.Kind == mtDVDPLUSRDL;
    switch (function) {
    case 1:
        if (number < 1 || number > FDisc.Tracks.size()) {
            answer.Fail(sense::IllegalRequest, sense::AscInvalidFieldInCdb);
            return;
        }
        CloseTrackAt(number - 1);
        return;
    case 2:
        // The multi-session field of the write parameters decides whether the disc stays open.
        CloseOpenSession((FPage05[3] >> 6) != 3);
        return;
    case 5:
    case 6:
        if (plusR) {
            CloseOpenSession(true);
            return;
        }
        break;
    default:
        break;
    }
    answer.Fail(sense::IllegalRequest, sense::AscInvalidFieldInCdb);
}

void TVirtualRecorder::FormatUnit(TSRB_ExecSCSICmd& srb, TAnswer& answer) {
    if (!MediumReady(answer))
        return;
    if ((srb.CDBByte[1] & 0x1F) != 0x11) {
        answer.Fail(sense::IllegalRequest, sense::AscInvalidFieldInCdb);
        return;
    }
    if (srb.SRB_BufLen < 12 || !srb.SRB_BufPointer || !srb.DataOut()) {
        answer.Fail(sense::IllegalRequest, 0x1A);
        return;
    }
    const uint8_t* d = srb.SRB_BufPointer;
    if (GetBE16(d + 2) != 8) {
        answer.Fail(sense::IllegalRequest, sense::AscInvalidFieldInParam);
        return;
    }
    const bool immediate = (d[1] & 0x02) != 0;
    const uint8_t type = d[8] >> 2;
    const uint32_t cap = FDisc.Capacity;
    const TMedium k = FDisc.Kind;
    bool ok = true;
    switch (k) {
    case mtDVDRWSR:
    case mtDVDRWRO:
        if (type == 0x15 || type == 0x10)
            LoadBlank(mtDVDRWSR, cap);
        else if (type == 0x00)
            LoadBlank(mtDVDRWRO, cap);
        else if (type == 0x13 && k == mtDVDRWRO)
            FDisc.Formatted = true; // grows the last session; the data stays
        else
            ok = false;
        break;
    case mtDVDPLUSRW:
        if (type == 0x26)
            LoadBlank(mtDVDPLUSRW, cap);
        else
            ok = false;
        break;
    case mtDVDRAM:
        if (type == 0x00 || type == 0x01)
            LoadBlank(mtDVDRAM, cap);
        else
            ok = false;
        break;
    case mtBDRE:
        if (type == 0x00 || type == 0x30 || type == 0x31)
            LoadBlank(mtBDRE, cap);
        else
            ok = false;
        break;
    default:
        ok = false;
        break;
    }
    if (!ok) {
        answer.Fail(sense::IllegalRequest, sense::AscInvalidFieldInParam);
        return;
    }
    if (immediate && FNotReadyAfterFormat > 0) {
        FNotReadyLeft = FNotReadyAfterFormat;
        FNotReadyAfterFormat = 0;
    }
}

void TVirtualRecorder::Blank(TSRB_ExecSCSICmd& srb, TAnswer& answer) {
    if (!MediumReady(answer))
        return;
    if (FDisc.Kind != mtDVDRWSR && FDisc.Kind != mtDVDRWRO) {
        answer.Fail(sense::IllegalRequest, sense::AscInvalidFieldInCdb);
        return;
    }
    LoadBlank(mtDVDRWSR, FDisc.Capacity);
    if ((srb.CDBByte[1] & 0x10) && FNotReadyAfterFormat > 0) {
        FNotReadyLeft = FNotReadyAfterFormat;
        FNotReadyAfterFormat = 0;
    }
}

void TVirtualRecorder::StartStop(TSRB_ExecSCSICmd& srb, TAnswer& answer) {
    const bool loadEject = (srb.CDBByte[4] & 0x02) != 0;
    const bool start = (srb.CDBByte[4] & 0x01) != 0;
    if (!loadEject)
        return;
    if (start) {
        FTrayOpen = false;
        return;
    }
    if (FLocked) {
        answer.Fail(sense::IllegalRequest, sense::AscRemovalPrevented, 0x02);
        return;
    }
    if (FAutoReload && FDisc.Kind != mtUNKNOWN) {
        LoadBlank(FDisc.Kind == mtDVDRWRO ? mtDVDRWRO : FDisc.Kind, FDisc.Capacity);
        return;
    }
    FTrayOpen = true;
}

void TVirtualRecorder::SetCDSpeed(TSRB_ExecSCSICmd& srb, TAnswer&) {
    FCurRead = PickSpeed(ReadSpeeds(), GetBE16(srb.CDBByte + 2));
    FCurWrite = PickSpeed(WriteSpeeds(), GetBE16(srb.CDBByte + 4));
}

void TVirtualRecorder::SetStreaming(TSRB_ExecSCSICmd& srb, TAnswer& answer) {
    const uint16_t length = GetBE16(srb.CDBByte + 9);
    if (srb.CDBByte[8] != 0 || length != 28 || srb.SRB_BufLen < 28 || !srb.SRB_BufPointer) {
        answer.Fail(sense::IllegalRequest, sense::AscInvalidFieldInCdb);
        return;
    }
    const uint8_t* d = srb.SRB_BufPointer;
    const uint32_t readSize = GetBE32(d + 12), readTime = GetBE32(d + 16);
    const uint32_t writeSize = GetBE32(d + 20), writeTime = GetBE32(d + 24);
    if (readTime == 0 || writeTime == 0 || GetBE32(d + 8) < GetBE32(d + 4)) {
        answer.Fail(sense::IllegalRequest, sense::AscInvalidFieldInParam);
        return;
    }
    FCurRead = PickSpeed(ReadSpeeds(), uint32_t(uint64_t(readSize) * 1000 / readTime));
    FCurWrite = PickSpeed(WriteSpeeds(), uint32_t(uint64_t(writeSize) * 1000 / writeTime));
    FStreaming.assign(d, d + 28);
}

void TVirtualRecorder::SendDVDStructure(TSRB_ExecSCSICmd& srb, TAnswer& answer) {
    if (!MediumReady(answer))
        return;
    const uint8_t format = srb.CDBByte[7];
    const uint16_t length = GetBE16(srb.CDBByte + 8);
    const TMedium k = FDisc.Kind;
    if (format != 0x0F || (k != mtDVDR && k != mtDVDRWSR && k != mtDVDRWRO)) {
        answer.Fail(sense::IllegalRequest, sense::AscInvalidFieldInCdb);
        return;
    }
    if (length < 22 || srb.SRB_BufLen < length || !srb.SRB_BufPointer) {
        answer.Fail(sense::IllegalRequest, 0x1A);
        return;
    }
    const uint8_t* d = srb.SRB_BufPointer;
    const bool digits = std::all_of(d + 8, d + 22, [](uint8_t c) { return c >= '0' && c <= '9'; });
    if (GetBE16(d) != 20 || !digits) {
        answer.Fail(sense::IllegalRequest, sense::AscInvalidFieldInParam);
        return;
    }
    std::memcpy(FDisc.TimeStamp, d + 8, 14);
}

} // namespace burner
