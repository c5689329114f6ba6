#include "support/BurnerDriveFixtures.h"

#include <condition_variable>
#include <filesystem>

namespace drivetest {

TBurnRig::TBurnRig(burner::TMedium Medium, std::uint32_t Capacity) {
    imagetest::MakeDirs(Dir / "sys");
    imagetest::MakeDirs(Dir / "src");
    Burner.Device().SetDriveScanFolders(Dir / "sys", Dir / "dev");
    Rec = Burner.VirtualRecorder();
    Rec->SetImagePath(Dir / "disc.iso");
    Rec->InsertMedium(Medium, Capacity);
    Burner.InitializeASPI(false, "", "");
    Burner.SelectDevice(Burner.DeviceCount() - 1);
    Burner.SetWaitFunction([this](unsigned Ms) {
        std::function<void()> hook;
        {
            std::lock_guard lock(FMutex);
            FWaits.push_back(Ms);
            hook.swap(FHook);
        }
        if (hook)
            hook();
    });
    Burner.SetUDFBridge(true);
    Burner.SetVolumeID("RIGDISC");
}

std::vector<std::string> TBurnRig::AddFiles(const std::vector<std::uint64_t>& Sizes) {
    std::vector<std::string> paths;
    Burner.CreateDir("\\", "DATA");
    for (std::size_t i = 0; i < Sizes.size(); ++i) {
        const std::string path = Dir / ("src/file" + std::to_string(i) + ".bin");
        imagetest::WriteFile(path, Sizes[i], static_cast<std::uint32_t>(i + 7));
        Burner.InsertFile("\\DATA", path);
        paths.push_back(path);
    }
    return paths;
}

TBurnResult TBurnRig::BurnAndWait(bool PrepareFirst) {
    std::mutex m;
    std::condition_variable cv;
    TBurnResult r;
    Burner.OnWriteDone = [&](burner::TDiscBurner*, std::uint8_t, bool WriteFailed) {
        std::lock_guard lock(m);
        r.Done = true;
        r.Failed = WriteFailed;
        cv.notify_all();
    };
    if (PrepareFirst)
        Burner.Prepare();
    r.Started = Burner.Burn();
    if (r.Started) {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return r.Done; });
    }
    Burner.WaitIdle();
    Burner.OnWriteDone = nullptr;
    r.Error = Burner.ErrorString();
    return r;
}

std::string TBurnRig::BuildImageBytes(const std::string& Name) {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    Burner.OnWriteDone = [&](burner::TDiscBurner*, std::uint8_t, bool) {
        std::lock_guard lock(m);
        done = true;
        cv.notify_all();
    };
    const std::string path = Dir / Name;
    if (Burner.BuildISOImage(path)) {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return done; });
    }
    Burner.WaitIdle();
    Burner.OnWriteDone = nullptr;
    return imagetest::ReadFile(path);
}

std::vector<std::uint8_t> TBurnRig::Opcodes() const {
    std::vector<std::uint8_t> ops;
    for (const auto& c : Rec->Commands())
        ops.push_back(c.Cdb.empty() ? 0xFF : c.Cdb[0]);
    return ops;
}

std::vector<unsigned> TBurnRig::Waits() const {
    std::lock_guard lock(FMutex);
    return FWaits;
}

void TBurnRig::OnNextWait(std::function<void()> Hook) {
    std::lock_guard lock(FMutex);
    FHook = std::move(Hook);
}

std::string RecorderImage(const burner::TVirtualRecorder& Rec) {
    const std::string path = Rec.ImagePath().empty() ? Rec.LastImagePath() : Rec.ImagePath();
    return path.empty() ? std::string() : imagetest::ReadFile(path);
}

} // namespace drivetest
