// The recorder is driven by the writer thread while the thread that set it up injects faults
// and looks at the disc: its state is guarded, and every packet lands once.
#include "DeviceTestSupport.h"

#include <atomic>
#include <thread>

using namespace burner;

TEST(RecorderThreads, WriterThreadAndInspectingThreadShareTheRecorder) {
    devtest::TVirtualDrive drive(mtDVDPLUSR, 100000);
    drive.Rec->SetUpForDriveList(drive.Dir.Path().string(), mtDVDPLUSR);
    ASSERT_TRUE(drive.Dev.SetWriteParameters(false, true, mtDVDPLUSR, false));
    constexpr uint32_t packets = 200;
    std::atomic<bool> done{false};
    std::atomic<unsigned> retries{0};
    std::thread writer([&] {
        std::vector<uint8_t> packet(32 * 2048);
        for (uint32_t i = 0; i < packets; ++i) {
            std::memset(packet.data(), int(i & 0xFF), packet.size());
            for (unsigned attempt = 1;; ++attempt) {
                const bool ok = drive.Dev.Write10(i * 32, 32, packet.data());
                const auto verdict =
                    PacketWriteVerdict(ClassifyAnswer(ok ? SS_COMP : SS_ERR, drive.Dev.TargetBusy,
                                                      drive.Dev.LastSenseInfo),
                                       attempt);
                if (verdict.Action == TSenseAction::GoOn)
                    break;
                if (verdict.Action != TSenseAction::Retry) {
                    ADD_FAILURE() << "packet " << i << " failed";
                    done = true;
                    return;
                }
                ++retries;
            }
        }
        done = true;
    });
    unsigned injected = 0;
    while (!done) {
        drive.Rec->InjectBusy(1);
        drive.Rec->InjectLongWriteInProgress(1);
        injected += 2;
        (void)drive.Rec->Disc();
        std::this_thread::yield();
    }
    writer.join();
    EXPECT_GT(retries.load(), 0u);
    const TRecorderDisc disc = drive.Rec->Disc();
    ASSERT_EQ(disc.Tracks.size(), 1u);
    EXPECT_EQ(disc.Tracks[0].Written, packets * 32);
    uint8_t sector[2048];
    ASSERT_TRUE(drive.Rec->ReadSector(199 * 32 + 5, sector));
    EXPECT_EQ(sector[0], 199);
    EXPECT_EQ(drive.Rec->ImagePath(), drive.Dir / "disc.iso");
}
