#pragma once
// Fixtures for the burner's drive-side tests: a component whose only drive is the virtual
// recorder (the drive scan looks at an empty folder, never at the machine), instant waits that
// are recorded, small generated source files, and burning with the wait for the completion.
#include "burner/DiscBurner.h"
#include "burner/device/SCSILib.h"
#include "burner/device/VirtualRecorder.h"
#include "support/BurnerImageFixtures.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace drivetest {

struct TBurnResult {
    bool Started = false;
    bool Done = false;   // OnWriteDone arrived
    bool Failed = false; // its WriteFailed
    std::string Error;   // ErrorString read after the end
};

class TBurnRig {
public:
    explicit TBurnRig(burner::TMedium Medium = burner::mtDVDR, std::uint32_t Capacity = 0);
    imagetest::TTempDir Dir;
    burner::TDiscBurner Burner;
    std::shared_ptr<burner::TVirtualRecorder> Rec;

    // Files of the given sizes (random bytes) under Dir/src, inserted into "\DATA" of the
    // layout; returns their paths.
    std::vector<std::string> AddFiles(const std::vector<std::uint64_t>& Sizes);
    // Prepares (unless told not to), burns and waits for the completion; Hook runs on the
    // writer thread's first wait or retry pause, once (to abort or remove files mid-burn).
    TBurnResult BurnAndWait(bool PrepareFirst = true);
    // Builds the image file of the same layout (already prepared) and returns its bytes.
    std::string BuildImageBytes(const std::string& Name = "built.iso");
    // Operation codes the recorder received, in order.
    std::vector<std::uint8_t> Opcodes() const;
    std::vector<unsigned> Waits() const;
    // Runs once, from within the engine's next wait (on the thread that waits).
    void OnNextWait(std::function<void()> Hook);

private:
    mutable std::mutex FMutex;
    std::vector<unsigned> FWaits;
    std::function<void()> FHook;
};

// Reads the recorder image as bytes (empty when there is none).
std::string RecorderImage(const burner::TVirtualRecorder& Rec);

} // namespace drivetest
