// The burner component's drive side: the drive list, the burn start, and the single drive
// commands offered to the program.
#include "burner/Cache.h"
#include "burner/DiscBurner.h"
#include "burner/WriteThread.h"
#include "burner/device/SCSILib.h"
#include "burner/device/VirtualRecorder.h"

namespace burner {

namespace {

constexpr std::uint32_t ErrorNoMedium = 0x3A00;       // medium not present
constexpr std::uint32_t ErrorWriteProtected = 0x2700; // nothing can be written to this disc

bool IsWriteOnce(TMedium m) {
    switch (m) {
    case mtCDR:
    case mtDVDR:
    case mtDVDPLUSR:
    case mtDVDPLUSRDL:
    case mtBDRSR:
    case mtBDRRR:
    case mtHDDVDR:
    case mtDDCDR:
        return true;
    default:
        return false;
    }
}

bool IsReadOnly(TMedium m) {
    return m == mtCDROM || m == mtDVDROM || m == mtBDROM || m == mtHDDVDROM || m == mtDDCDROM;
}

// Media written from sector 0 whatever the track information says.
bool StartsAtZero(TMedium m) {
    return m == mtDVDRAM || m == mtDVDPLUSRW || m == mtBDRE;
}

} // namespace

void TDiscBurner::TDeviceDeleter::operator()(TSCSIDevice* Device) const {
    delete Device;
}
TSCSIDevice* TDiscBurner::NewDevice() {
    return new TSCSIDevice();
}

std::uint32_t TDiscBurner::TakeDeviceError() {
    const std::uint32_t code = FDevice->DeviceError;
    FDevice->DeviceError = 0;
    return code;
}

std::shared_ptr<TVirtualRecorder> TDiscBurner::VirtualRecorder() const {
    return FDevice->VirtualRecorder();
}

void TDiscBurner::SetWaitFunction(TWaitFunction Wait) {
    FWait = Wait ? std::move(Wait) : RealWait;
}

// ---- device list ----

bool TDiscBurner::InitializeASPI(bool NoInternalASPI, const std::string& ASPIDLLPath,
                                 const std::string& Reserved1) {
    if (!DriveIdle())
        return false;
    return FDevice->InitializeASPI(NoInternalASPI, ASPIDLLPath, Reserved1);
}

std::uint16_t TDiscBurner::DeviceCount() const {
    return FDevice->DeviceCount();
}

std::string TDiscBurner::GetDeviceName(int DeviceIndex) const {
    if (DeviceIndex < 0 || DeviceIndex >= FDevice->DeviceCount())
        return std::string();
    return FDevice->GetDeviceName(static_cast<std::uint8_t>(DeviceIndex));
}

bool TDiscBurner::SelectDevice(int DeviceIndex) {
    if (!DriveIdle() || DeviceIndex < 0 || DeviceIndex >= FDevice->DeviceCount())
        return false;
    return FDevice->SelectDevice(static_cast<std::uint8_t>(DeviceIndex));
}

bool TDiscBurner::SelectDeviceByLetter(char DriveLetter) {
    return DriveIdle() && FDevice->SelectDeviceByLetter(DriveLetter);
}

bool TDiscBurner::DeviceCan(int DeviceCapabilityID) {
    return DriveIdle() && FDevice->DeviceCan(DeviceCapabilityID);
}

void TDiscBurner::SetUpForDriveList(const std::string& TempFolder) {
    if (auto rec = FDevice->VirtualRecorder())
        rec->SetUpForDriveList(TempFolder);
}

std::string TDiscBurner::LastImagePath() const {
    auto rec = FDevice->VirtualRecorder();
    return rec ? rec->LastImagePath() : std::string();
}

// ---- single commands ----

bool TDiscBurner::LockMedium() {
    return DriveIdle() && FDevice->LockMedium();
}
bool TDiscBurner::UnlockMedium() {
    return DriveIdle() && FDevice->UnlockMedium();
}
bool TDiscBurner::UnlockDrive() {
    return DriveIdle() && FDevice->UnlockDrive();
}
bool TDiscBurner::FlushCache() {
    return DriveIdle() && FDevice->FlushCache();
}
bool TDiscBurner::TestUnitReady() {
    return DriveIdle() && FDevice->TestUnitReady();
}
bool TDiscBurner::LoadMedium(bool Immediate) {
    return DriveIdle() && FDevice->LoadMedium(Immediate);
}
bool TDiscBurner::EjectMedium(bool Immediate) {
    return DriveIdle() && FDevice->EjectMedium(Immediate);
}
bool TDiscBurner::Erasable() {
    return DriveIdle() && FDevice->Erasable();
}
bool TDiscBurner::Writable() {
    return DriveIdle() && FDevice->Writable();
}
bool TDiscBurner::DeviceIsBurner() {
    if (!DriveIdle())
        return false;
    FDevice->RefreshCapabilities();
    return FDevice->DeviceIsBurner();
}
std::int32_t TDiscBurner::SessionsOnDisc() {
    return DriveIdle() ? FDevice->SessionsOnDisc() : 0;
}
TMedium TDiscBurner::DiscIs() {
    return DriveIdle() ? FDevice->DiscIs() : FMedium;
}

void TDiscBurner::SetDeviceSpeed(std::uint16_t ReadSpeed, std::uint16_t WriteSpeed) {
    if (DriveIdle())
        FDevice->SetDeviceSpeed(ReadSpeed, WriteSpeed);
}
std::uint16_t TDiscBurner::DeviceMaxReadSpeed() {
    return DriveIdle() ? FDevice->GetDeviceMaxReadSpeed() : 0;
}
std::uint16_t TDiscBurner::DeviceMaxWriteSpeed() {
    return DriveIdle() ? FDevice->GetDeviceMaxWriteSpeed() : 0;
}
std::uint16_t TDiscBurner::ReadSpeed() {
    return DriveIdle() ? FDevice->GetReadSpeed() : 0;
}
std::uint16_t TDiscBurner::WriteSpeed() {
    return DriveIdle() ? FDevice->GetWriteSpeed() : 0;
}
std::uint16_t TDiscBurner::MaxWriteSpeed() {
    return DriveIdle() ? FDevice->GetMaxWriteSpeed() : 0;
}
std::uint32_t TDiscBurner::FreeBlocksOnDisc() {
    return DriveIdle() ? FDevice->FreeBlocksOnDisc() : 0;
}
std::uint32_t TDiscBurner::TotalBlocksOnDisc() {
    return DriveIdle() ? FDevice->TotalBlocksOnDisc() : 0;
}

// ---- burning ----

// The drive half of the burn start: finds the disc, readies it and decides where the image
// goes. Null (with the error set) when nothing can be written.
std::unique_ptr<TWriteThread> TDiscBurner::MakeDriveWriter(bool ImageFile,
                                                           std::uint32_t TotalSectors) {
    FProgress.DeviceBufferSize = 0;
    FProgress.DeviceBufferPosition = 0;
    FProgress.WriteSpeed = 0;
    FProgress.Starved = 0;
    FProgress.Retries = 0;
    FProgress.Formats = 0;
    FDevice->DeviceError = 0;

    FMedium = FDevice->DiscIs();
    if (FMedium == mtUNKNOWN || IsReadOnly(FMedium)) {
        std::uint32_t code = FDevice->DeviceError != 0 ? FDevice->DeviceError : ErrorNoMedium;
        if (IsReadOnly(FMedium))
            code = ErrorWriteProtected;
        FDevice->DeviceError = 0;
        SetError(code, std::string());
        return nullptr;
    }
    FDevice->ResetThroughputSamples();
    FDevice->SetWriteParameters(FTestWrite, FBurnProof, FMedium, false);
    FDevice->ReadDiscInformation(64);
    // A closed write-once disc takes nothing more.
    if (IsWriteOnce(FMedium) && FDevice->DiscInformation.DiscStatus() == 2) {
        FDevice->DeviceError = 0;
        SetError(ErrorWriteProtected, std::string());
        return nullptr;
    }

    auto whileNotReady = [this](const std::function<bool()>& command) {
        for (int polls = 0; polls < 360 && !CDFiles.Aborted; ++polls) {
            const bool ok = command();
            if (ok || ClassifyAnswer(SS_ERR, FDevice->TargetBusy, FDevice->LastSenseInfo,
                                     FDevice->LastWinError) != TAnswerKind::NotReady)
                return;
            FWait(5000);
        }
    };
    if (FMedium == mtDVDRW || FMedium == mtDVDRWSR || FMedium == mtDVDRWRO) {
        if (FMedium == mtDVDRWRO)
            FDevice->FormatUnit(FormatDVDRWRestricted);
        else if (!FDevice->FormatUnit(FormatDVDRWQuick))
            FDevice->FormatUnit(FormatDVDRWQuickRetry);
        whileNotReady([this] { return FDevice->ReadDiscInformation(42); });
    }

    std::uint32_t first = 0;
    std::uint32_t sessionStart = 0;
    if (!StartsAtZero(FMedium)) {
        if (FDevice->ReadTrackInformation(FDevice->DiscInformation.LastTrackOfLastSession)) {
            first = FDevice->TrackInformation.NextWritableAddress;
            if (first == 1000)
                first = 0;
            sessionStart = FDevice->TrackInformation.TrackStartAddress;
        } else if (FDevice->ReadTrackInformation(1)) {
            first = FDevice->TrackInformation.TrackStartAddress;
            sessionStart = first;
        }
    }
    if (!ImageFile) {
        CDFiles.VDImageSize = 0;
        CDFiles.FirstWritableSector = first;
        // Media written from sector 0 hold one session starting there.
        if (CDFiles.UDFBridge)
            CDFiles.UDFBridgeInfo.SessionStarting_LSA = sessionStart;
    }

    if (FDevice->VirtualSelected())
        if (auto rec = FDevice->VirtualRecorder())
            rec->SetVolumeLabel(VolumeID());

    TWriteSetup setup;
    setup.Device = FDevice.get();
    setup.Medium = FMedium;
    setup.ImageFile = ImageFile;
    setup.FirstWritableSector = ImageFile ? 0 : first;
    setup.TotalImageSize = TotalSectors;
    setup.TestWrite = FTestWrite;
    setup.BurnProof = FBurnProof;
    setup.FinalizeDisc = FFinalizeDisc;
    setup.ReadSpeed = FDevice->ReadSpeed;
    setup.WriteSpeed = FDevice->WriteSpeed;
    setup.Wait = FWait;
    setup.Progress = &FProgress;
    setup.Aborted = &CDFiles.Aborted;
    return std::make_unique<TWriteThread>(std::move(setup));
}

std::unique_ptr<TPacketSink> TDiscBurner::CreateDriveSink(std::uint32_t TotalSectors) {
    return MakeDriveWriter(true, TotalSectors);
}

bool TDiscBurner::Burn() {
    if (!ReadyToWriteLayout())
        return false;
    CDFiles.Aborted = false;
    auto writer = MakeDriveWriter(false, CDFiles.TotalImageSize);
    if (!writer)
        return false;
    if (!CDFiles.BuildHeader()) {
        SetError(1, std::string());
        return false;
    }
    auto reader = std::make_unique<TCacheThread>(CDFiles, FCacheSizeMB * 1024 * 1024);
    writer->SetSource(reader.get());
    return StartWrite(std::move(reader), std::move(writer));
}

// ---- threaded operations ----

bool TDiscBurner::RunOperation(std::uint16_t Status, std::function<void()> Body) {
    if (FBusy)
        return false;
    WaitIdle();
    SetError(0, std::string());
    CDFiles.Aborted = false;
    FBusy = true;
    CDFiles.ComponentStatus = Status;
    std::lock_guard lock(FOpMutex);
    FWriter = std::thread(std::move(Body));
    return true;
}

void TDiscBurner::EndOperation() {
    CDFiles.ComponentStatus = 0;
    FBusy = false;
}

} // namespace burner
