// Burns one layout through the virtual recorder and builds the same layout with BuildISOImage,
// side by side, and compares their throughput. Run by hand:
//   ./build/bench/burn [size in MB, default 2048] [folder, default the temp folder]
// Last line: throughput_ratio=<recorder / image build> starved=<times the writer found the
// cache empty after it started>
#include "burner/DiscBurner.h"
#include "burner/device/SCSILib.h"
#include "burner/device/VirtualRecorder.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

using namespace burner;
namespace fs = std::filesystem;

namespace {

double Seconds(std::chrono::steady_clock::time_point Since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - Since).count();
}

// Starts an operation and waits for its completion; returns the seconds it took, or -1.
template <typename TStart> double Timed(TDiscBurner& Burner, TStart Start) {
    std::mutex m;
    std::condition_variable cv;
    bool done = false, failed = false;
    Burner.OnWriteDone = [&](TDiscBurner*, std::uint8_t, bool WriteFailed) {
        std::lock_guard lock(m);
        done = true;
        failed = WriteFailed;
        cv.notify_all();
    };
    const auto t0 = std::chrono::steady_clock::now();
    if (!Start())
        return -1;
    {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return done; });
    }
    const double s = Seconds(t0);
    Burner.WaitIdle();
    return failed ? -1 : s;
}

} // namespace

int main(int argc, char** argv) {
    const std::uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 2048;
    const fs::path base = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path();
    const fs::path dir = base / ("ordavine-bench-burn-" + std::to_string(::getpid()));
    fs::create_directories(dir / "src");
    fs::create_directories(dir / "sys");

    // Source files of 256 MB (the last one shorter), random bytes.
    const std::uint64_t total = megabytes << 20;
    std::vector<char> block(1 << 20);
    std::mt19937 rng(7);
    int files = 0;
    for (std::uint64_t left = total; left > 0; ++files) {
        const std::uint64_t size = std::min<std::uint64_t>(left, 256ull << 20);
        std::ofstream f(dir / "src" / ("VTS_01_" + std::to_string(files + 1) + ".VOB"),
                        std::ios::binary);
        for (std::uint64_t w = 0; w < size; w += block.size()) {
            for (auto& c : block)
                c = static_cast<char>(rng());
            f.write(block.data(),
                    static_cast<std::streamsize>(std::min<std::uint64_t>(block.size(), size - w)));
        }
        left -= size;
    }

    TDiscBurner burner;
    burner.Device().SetDriveScanFolders((dir / "sys").string(), (dir / "dev").string());
    auto rec = burner.VirtualRecorder();
    rec->SetImagePath((dir / "recorder.iso").string());
    rec->InsertMedium(mtDVDPLUSRDL);
    burner.InitializeASPI(false, "", "");
    burner.SelectDevice(burner.DeviceCount() - 1);
    burner.SetUDFBridge(true);
    burner.SetVolumeID("BENCH");
    burner.CreateDir("\\", "AUDIO_TS");
    burner.CreateDir("\\", "VIDEO_TS");
    burner.InsertDir("\\VIDEO_TS", (dir / "src").string(), "*.*", true, false);
    burner.Prepare();
    const double imageBytes = double(burner.ImageSize()) * 2048;

    // Both runs read the sources once before timing, so that neither gets a colder cache.
    const double build =
        Timed(burner, [&] { return burner.BuildISOImage((dir / "built.iso").string()); });
    fs::remove(dir / "built.iso");
    const double burn = Timed(burner, [&] { return burner.Burn(); });
    const std::uint32_t starved = burner.StarvedCount();
    const double build2 =
        Timed(burner, [&] { return burner.BuildISOImage((dir / "built.iso").string()); });
    const double buildBest =
        (build > 0 && build2 > 0) ? std::min(build, build2) : std::max(build, build2);

    std::printf("image: %.0f MB in %d files\n", imageBytes / 1048576.0, files);
    std::printf("BuildISOImage: %.2f s (%.1f MB/s), again %.2f s\n", build,
                imageBytes / 1048576.0 / build, build2);
    std::printf("recorder burn: %.2f s (%.1f MB/s)\n", burn, imageBytes / 1048576.0 / burn);
    std::error_code ec;
    fs::remove_all(dir, ec);
    if (burn <= 0 || buildBest <= 0) {
        std::printf("throughput_ratio=0 starved=%u\n", starved);
        return 1;
    }
    std::printf("throughput_ratio=%.3f starved=%u\n", buildBest / burn, starved);
    return 0;
}
