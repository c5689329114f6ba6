// Finding duplicate files: files of equal size and equal MD5 digest share the first one's data
// on the disc.
#include "burner/DiscBurner.h"
#include "burner/Hash.h"

#include <map>
#include <vector>

namespace burner {

bool TDiscBurner::GenerateSmartReferences() {
    if (FBusy)
        return false;
    // Only files read from disk can be compared; equal sizes are the candidates.
    std::map<std::int64_t, std::vector<TFileEntry*>> bySize;
    for (TFileEntry* e : CDFiles.Files)
        if (!e->DirRecord && e->FileSize > 0 && !e->Path.empty() && !e->Imported)
            bySize[e->FileSize].push_back(e);
    std::vector<TFileEntry*> candidates;
    std::uint64_t sectors = 0;
    for (auto& [size, list] : bySize)
        if (list.size() > 1)
            for (TFileEntry* e : list) {
                candidates.push_back(e);
                sectors += (static_cast<std::uint64_t>(size) + 2047) / 2048;
            }
    FSmartSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors, 0xFFFFFFFFu));
    FSmartProgress = 0;
    return RunOperation(11, [this, candidates = std::move(candidates)] {
        bool failed = false;
        std::uint64_t doneBytes = 0;
        for (TFileEntry* e : candidates) {
            const std::uint64_t base = doneBytes;
            e->Hash = FileMD5(e->Path, [&](std::uint64_t Bytes) {
                FSmartProgress = static_cast<std::uint32_t>((base + Bytes) / 2048);
                return !CDFiles.Aborted.load();
            });
            doneBytes += (static_cast<std::uint64_t>(e->FileSize) + 2047) / 2048 * 2048;
            FSmartProgress = static_cast<std::uint32_t>(doneBytes / 2048);
            if (e->Hash.empty())
                failed = true; // unreadable, or aborted: this file keeps its own data
        }
        std::int64_t saved = 0;
        if (!CDFiles.Aborted) {
            std::map<std::pair<std::int64_t, std::string>, TFileEntry*> first;
            for (TFileEntry* e : candidates) {
                e->ReferenceEntry = nullptr;
                if (e->Hash.empty())
                    continue;
                auto [it, inserted] = first.try_emplace({e->FileSize, e->Hash}, e);
                if (!inserted) {
                    e->ReferenceEntry = it->second;
                    saved += (e->FileSize + 2047) / 2048 * 2048;
                }
            }
            CDFiles.Prepared = false; // the layout shrinks: Prepare again before burning
        } else {
            failed = true;
        }
        const auto canSave = static_cast<std::int32_t>(std::min<std::int64_t>(saved, INT32_MAX));
        EndOperation();
        if (OnGenerateSmartReferencesDone) {
            auto handler = OnGenerateSmartReferencesDone;
            Dispatch(Dispatcher,
                     [this, handler, failed, canSave] { handler(this, failed, canSave); });
        }
    });
}

} // namespace burner
