// Verifying a burned disc: every written file's source is compared, by MD5 digest, with the
// data read back from the disc where the layout put it.
#include "burner/DiscBurner.h"
#include "burner/Hash.h"
#include "burner/device/SCSILib.h"

#include <vector>

namespace burner {

bool TDiscBurner::VerifyDisc(bool StopOnMismatch, bool FireVerifyEventOnAllFiles) {
    if (FBusy)
        return false;
    if (!CDFiles.Prepared) {
        SetError(1, std::string());
        return false;
    }
    struct TItem {
        int FileId;
        std::string Path;
        std::uint32_t Lba;
        std::uint64_t Size;
    };
    std::vector<TItem> items;
    std::uint64_t sectors = 0;
    for (const TFileEntry* e : CDFiles.Files) {
        if (e->DirRecord || e->FileSize <= 0 || e->Path.empty() || e->Imported)
            continue;
        const TFileEntry* data = e->ReferenceEntry ? e->ReferenceEntry : e;
        const std::uint32_t lba =
            CDFiles.FirstWritableSector + CDFiles.FirstDataSector + data->Address;
        items.push_back({e->FileId, e->Path, lba, static_cast<std::uint64_t>(e->FileSize)});
        sectors += (static_cast<std::uint64_t>(e->FileSize) + SectorSize - 1) / SectorSize;
    }
    FVerifySize = static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors, 0xFFFFFFFFu));
    FVerifyProgress = 0;
    return RunOperation(10, [this, items = std::move(items), StopOnMismatch,
                             FireVerifyEventOnAllFiles] {
        bool anyFailed = false;
        std::vector<std::uint8_t> buf(32 * SectorSize);
        std::uint32_t done = 0;
        for (const TItem& item : items) {
            if (CDFiles.Aborted)
                break;
            const std::string source = FileMD5(item.Path);
            TMD5 disc;
            bool readOk = true;
            std::uint64_t left = item.Size;
            std::uint32_t lba = item.Lba;
            while (left > 0 && !CDFiles.Aborted) {
                const std::uint32_t blocks = static_cast<std::uint32_t>(
                    std::min<std::uint64_t>(32, (left + SectorSize - 1) / SectorSize));
                if (!FDevice->Read10(lba, static_cast<std::uint16_t>(blocks), buf.data())) {
                    readOk = false;
                    break;
                }
                const std::uint64_t n = std::min<std::uint64_t>(left, blocks * SectorSize);
                disc.Add(buf.data(), static_cast<std::size_t>(n));
                left -= n;
                lba += blocks;
                done += blocks;
                FVerifyProgress = done;
                FReadSpeedKB = FDevice->BMReadSpeed();
            }
            const bool failed =
                source.empty() || !readOk || CDFiles.Aborted || source != disc.Hex();
            anyFailed = anyFailed || failed;
            if ((failed || FireVerifyEventOnAllFiles) && OnVerifyDone) {
                auto handler = OnVerifyDone;
                const int id = item.FileId;
                Dispatch(Dispatcher, [this, handler, id, failed] { handler(this, 0, id, failed); });
            }
            if (failed && StopOnMismatch)
                break;
        }
        anyFailed = anyFailed || CDFiles.Aborted;
        EndOperation();
        if (OnVerifyDone) {
            auto handler = OnVerifyDone;
            Dispatch(Dispatcher, [this, handler, anyFailed] { handler(this, 0, -1, anyFailed); });
        }
    });
}

} // namespace burner
