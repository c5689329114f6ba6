// Building and burning image files through the reader thread and its packet queue: completion,
// errors, abort, and the queue's bounds.
#include "burner/Cache.h"
#include "burner/DiscBurner.h"
#include "burner/ImageFile.h"
#include "burner/image/Bytes.h"
#include "support/BurnerImageFixtures.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <utility>

using namespace imagetest;
namespace fs = std::filesystem;

namespace {

// Waits for OnWriteDone; completions are delivered through a dispatcher queue that the test
// thread runs, as the application's GUI thread would.
class TCompletion {
public:
    explicit TCompletion(burner::TDiscBurner& B) {
        B.Dispatcher = [this](std::function<void()> Call) {
            std::lock_guard lock(FMutex);
            FPosted.push_back(std::move(Call));
            FCv.notify_all();
        };
        B.OnWriteDone = [this](burner::TDiscBurner*, std::uint8_t DeviceId, bool Failed) {
            EXPECT_EQ(DeviceId, 0);
            Calls++;
            WriteFailed = Failed;
        };
    }
    // Runs posted calls until the completion arrived.
    void Wait() {
        while (Calls == 0) {
            std::function<void()> call;
            {
                std::unique_lock lock(FMutex);
                FCv.wait(lock, [this] { return !FPosted.empty(); });
                call = std::move(FPosted.front());
                FPosted.erase(FPosted.begin());
            }
            call();
        }
    }
    int Calls = 0;
    bool WriteFailed = false;

private:
    std::mutex FMutex;
    std::condition_variable FCv;
    std::vector<std::function<void()>> FPosted;
};

burner::TFindData Described(const std::u16string& Name, std::uint64_t Size) {
    burner::TFindData fd;
    fd.FileName = Name;
    fd.FileSize = Size;
    return fd;
}

} // namespace

TEST(ImageBuild, ErrorsAreReadOnceAndTellWhatFailed) {
    TTempDir tmp;
    burner::TDiscBurner b;
    EXPECT_EQ(b.ErrorString(), "Unknown/No Error!");
    WriteFile(tmp / "f.txt", "data");
    ASSERT_TRUE(b.InsertFile("\\", tmp / "f.txt"));
    EXPECT_FALSE(b.BuildISOImage(tmp / "x.iso")); // not prepared
    EXPECT_EQ(b.ErrorString(), "Data not prepared ");
    EXPECT_EQ(b.ErrorString(), "Unknown/No Error!");
    b.Prepare();
    const std::string bad = tmp / "no/such/dir/x.iso";
    EXPECT_FALSE(b.BuildISOImage(bad));
    EXPECT_EQ(b.ErrorNumber(), 3u);
    EXPECT_EQ(b.ErrorNumber(), 0u);
    EXPECT_FALSE(b.BuildISOImage(bad));
    EXPECT_EQ(b.ErrorString(), "Error creating file \\" + bad + "\\");
    EXPECT_FALSE(b.BurnISOImage(tmp / "missing.iso"));
    const std::string missing = tmp / "missing.iso";
    EXPECT_EQ(b.ErrorStringW(),
              u"Error opening file \\'" + std::u16string(missing.begin(), missing.end()) + u"\\'");
    EXPECT_EQ(b.ErrorStringW(), u"Unknown/No Error!");
    // A good build leaves no error behind.
    TCompletion done(b);
    ASSERT_TRUE(b.BuildISOImage(tmp / "ok.iso"));
    done.Wait();
    EXPECT_FALSE(done.WriteFailed);
    EXPECT_EQ(b.ErrorString(), "Unknown/No Error!");
    EXPECT_EQ(b.ComponentStatus(), 0);
    EXPECT_EQ(b.BlocksWritten(), b.ImageSize());
    EXPECT_EQ(fs::file_size(tmp / "ok.iso"), b.ImageSize() * 2048ull);
}

TEST(ImageBuild, ASourceThatChangesAfterInsertionFailsTheBuildAndLeavesNoImage) {
    enum class TChange { Vanishes, BecomesAFolder, Shrinks };
    for (TChange change : {TChange::Vanishes, TChange::BecomesAFolder, TChange::Shrinks}) {
        for (std::uint32_t cacheMB : {2u, 32u}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(change)) + " cache " +
                         std::to_string(cacheMB));
            TTempDir tmp;
            // 6 MB ahead of the changed file: with a 2 MB cache the writer has started by then.
            WriteFile(tmp / "a.bin", 6 << 20, 1);
            WriteFile(tmp / "z.bin", 100000, 2);
            burner::TDiscBurner b;
            b.SetCacheSize(cacheMB);
            b.SetUDFBridge(true);
            ASSERT_TRUE(b.InsertDir("\\", tmp.Path(), "*.bin", false, false));
            b.Prepare();
            if (change == TChange::Vanishes)
                fs::remove(tmp / "z.bin");
            else if (change == TChange::BecomesAFolder)
                fs::remove(tmp / "z.bin"), MakeDirs(tmp / "z.bin");
            else
                WriteFile(tmp / "z.bin", 50000, 2);
            TCompletion done(b);
            // Whether the failure comes before the writer starts (BuildISOImage returns false) or
            // after, the completion reports it.
            b.BuildISOImage(tmp / "out.iso");
            done.Wait();
            EXPECT_TRUE(done.WriteFailed);
            EXPECT_EQ(done.Calls, 1);
            EXPECT_EQ(b.ErrorString(), "Error opening file \\" + (tmp / "z.bin") + "\\");
            b.WaitIdle();
            EXPECT_FALSE(fs::exists(tmp / "out.iso"));
            EXPECT_EQ(b.ComponentStatus(), 0);
        }
    }
}

TEST(ImageBuild, AbortStopsTheBuildReportsFailureAndRemovesTheImage) {
    TTempDir tmp;
    burner::TDiscBurner b;
    b.SetCacheSize(2);
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    std::uint64_t delivered = 0;
    // A memory file that stalls after 8 MB until the test lets it go.
    ASSERT_TRUE(b.InsertMemoryFileW(
        u"\\", Described(u"STREAM.BIN", 64 << 20),
        [&](void*, burner::TFileEntry*, std::uint64_t Pos, std::uint8_t*, std::uint32_t& Size) {
            std::unique_lock lock(m);
            delivered = Pos + Size;
            cv.notify_all();
            if (Pos >= (8u << 20))
                cv.wait(lock, [&] { return release; });
        }));
    b.Prepare();
    TCompletion done(b);
    ASSERT_TRUE(b.BuildISOImage(tmp / "a.iso"));
    {
        std::unique_lock lock(m);
        cv.wait_for(lock, std::chrono::seconds(10), [&] { return delivered > (8u << 20); });
    }
    EXPECT_EQ(b.ComponentStatus(), 1);
    EXPECT_GT(b.BlocksWritten(), 0u);
    EXPECT_LE(b.CachePosition(), 2u << 20);
    b.AbortOperation();
    {
        std::lock_guard lock(m);
        release = true;
        cv.notify_all();
    }
    done.Wait();
    EXPECT_TRUE(done.WriteFailed);
    EXPECT_EQ(b.ErrorString(), "Aborted by user");
    b.WaitIdle();
    EXPECT_FALSE(fs::exists(tmp / "a.iso"));
}

TEST(ImageBuild, TheQueueStaysWithinTheCacheAndHandsOverEveryPacketInOrder) {
    burner::TCDFiles t;
    t.InsertMemoryFile(
        std::u16string_view(u"\\"), Described(u"DATA.BIN", 12 << 20),
        [](void*, burner::TFileEntry*, std::uint64_t Pos, std::uint8_t* Buf, std::uint32_t& Size) {
            for (std::uint32_t i = 0; i < Size; i += 2048)
                std::memcpy(Buf + i, &Pos, 8), Pos += 2048;
        });
    t.Prepare();
    ASSERT_TRUE(t.BuildHeader());
    burner::TCacheThread reader(t, 2 << 20);
    EXPECT_EQ(reader.MaxPackets(), 32u);
    reader.Start();
    reader.WaitCanStart();
    std::unique_ptr<std::uint8_t[]> packet;
    std::uint32_t size = 0, packets = 0;
    std::uint32_t checked = 0;
    const std::uint32_t dataEnd = t.FirstDataSector + (12u << 20) / 2048;
    while (reader.Take(packet, size) == burner::TTake::Packet) {
        EXPECT_LE(reader.PacketCount(), 32);
        ASSERT_EQ(size, burner::PacketSize);
        for (std::uint32_t i = 0; i < 32; ++i) {
            const std::uint32_t sector = packets * 32 + i;
            if (sector < t.FirstDataSector || sector >= dataEnd)
                continue;
            std::uint64_t v;
            std::memcpy(&v, packet.get() + i * 2048, 8);
            ASSERT_EQ(v, (sector - t.FirstDataSector) * 2048ull);
            ++checked;
        }
        ++packets;
        if (packets % 50 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(checked, (12u << 20) / 2048);
    EXPECT_EQ(packets * 32, t.TotalImageSize);
    EXPECT_EQ(reader.GetFirst(packet.get()), 0);
    EXPECT_EQ(reader.RemainingBlocks(), 0);
}

namespace {

// A drive stand-in for the image side's tests: writes what it is sent into a file.
class TFileDriveBurner : public burner::TDiscBurner {
public:
    std::string Target;
    std::uint32_t Sectors = 0;

protected:
    std::unique_ptr<burner::TPacketSink> CreateDriveSink(std::uint32_t TotalSectors) override {
        Sectors = TotalSectors;
        return std::make_unique<burner::TImageFileSink>(Target);
    }
};

} // namespace

TEST(ImageBuild, BurnISOImageStreamsAnImageFileUnchanged) {
    TTempDir tmp;
    // An image whose size is not a whole number of packets or even sectors.
    WriteFile(tmp / "in.iso", 3 * 65536 + 5000, 9);
    TFileDriveBurner b;
    b.Target = tmp / "drive.bin";
    TCompletion done(b);
    ASSERT_TRUE(b.BurnISOImage(tmp / "in.iso"));
    done.Wait();
    EXPECT_FALSE(done.WriteFailed);
    EXPECT_EQ(b.Sectors, (3 * 65536 + 5000 + 2047) / 2048);
    std::string in = ReadFile(tmp / "in.iso");
    in.resize(b.Sectors * 2048ull, '\0');
    EXPECT_TRUE(ReadFile(tmp / "drive.bin") == in);
    // Without a drive there is nothing to burn to.
    burner::TDiscBurner none;
    EXPECT_FALSE(none.BurnISOImage(tmp / "in.iso"));
}

namespace {

// Stands in for the drive side's error: an additional sense code and qualifier.
class TDeviceErrorBurner : public burner::TDiscBurner {
public:
    std::uint32_t Pending = 0;

protected:
    std::uint32_t TakeDeviceError() override { return std::exchange(Pending, 0u); }
};

} // namespace

TEST(ImageBuild, DriveErrorsReadAsHardwareErrorsWhenTheEngineHasNone) {
    TDeviceErrorBurner b;
    b.Pending = 0x2104;
    EXPECT_EQ(b.ErrorString(), "Hardware Error 8452");
    EXPECT_EQ(b.ErrorString(), "Unknown/No Error!");
    b.Pending = 0x2104;
    EXPECT_EQ(b.ErrorStringW(), u"Hardware Error \\'8452");
    // The engine's own error comes first; the drive's is read by the next call.
    b.Pending = 0x0401;
    EXPECT_FALSE(b.BuildISOImage("/nonexistent-folder/x.iso"));
    EXPECT_EQ(b.ErrorNumber(), 1u);
    EXPECT_EQ(b.ErrorNumber(), 0x0401u);
}
