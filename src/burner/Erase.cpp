// Erasing a rewritable disc.
#include "burner/DiscBurner.h"
#include "burner/device/SCSILib.h"

#include <vector>

namespace burner {

namespace {
// A quick erase of an overwritable disc clears the volume structures at its start (the ISO 9660
// descriptors and the UDF anchor at sector 256 lie in the first 2 MB).
constexpr std::uint32_t QuickEraseSectors = 1024;
} // namespace

bool TDiscBurner::EraseDisc(bool Quick) {
    if (FBusy)
        return false;
    const TMedium m = FDevice->DiscIs();
    if (m == mtUNKNOWN) {
        SetError(FDevice->DeviceError != 0 ? FDevice->DeviceError : 0x3A00, std::string());
        FDevice->DeviceError = 0;
        return false;
    }
    FMedium = m;
    return RunOperation(2, [this, m, Quick] {
        bool ok = true;
        auto whileNotReady = [this](const std::function<bool()>& Command) {
            for (int polls = 0; polls < 360; ++polls) {
                const bool done = Command();
                if (done || ClassifyAnswer(SS_ERR, FDevice->TargetBusy, FDevice->LastSenseInfo,
                                           FDevice->LastWinError) != TAnswerKind::NotReady)
                    return done;
                FWait(5000);
            }
            return false;
        };
        auto zeroStart = [this] {
            std::vector<std::uint8_t> zeros(32 * SectorSize, 0);
            for (std::uint32_t lba = 0; lba < QuickEraseSectors && !CDFiles.Aborted; lba += 32)
                if (!FDevice->Write10(lba, 32, zeros.data()))
                    return false;
            FDevice->SynchronizeCache(false);
            return !CDFiles.Aborted;
        };
        if (m == mtDVDPLUSRW) {
            if (!Quick) {
                ok = FDevice->FormatUnit(FormatDVDPlusRW);
                whileNotReady([this] { return FDevice->ReadDiscInformation(42); });
                CDFiles.ComponentStatus = 3;
            }
            ok = ok && zeroStart();
        } else if (m == mtDVDRAM || m == mtBDRE) {
            ok = zeroStart();
        } else {
            ok = FDevice->Blank(Quick);
            whileNotReady([this] { return FDevice->ReadDiscInformation(42); });
        }
        if (!ok && !CDFiles.Aborted) {
            SetError(static_cast<std::uint32_t>(FDevice->LastSenseInfo.AddSenseCode) * 256 +
                         FDevice->LastSenseInfo.AddSenQual,
                     std::string());
        }
        FDevice->DeviceError = 0;
        const bool failed = !ok || CDFiles.Aborted;
        EndOperation();
        if (OnEraseDone) {
            auto handler = OnEraseDone;
            Dispatch(Dispatcher, [this, handler, failed] { handler(this, 0, failed); });
        }
    });
}

} // namespace burner
