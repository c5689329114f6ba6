// The operations off the DVD road, against the virtual recorder: verifying a burned disc,
// importing its session, reading its label, mounting an image, erasing, and sharing the data of
// duplicate files.
#include "burner/ISOReader.h"
#include "support/BurnerDriveFixtures.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <fstream>
#include <random>

using namespace burner;
using drivetest::TBurnRig;

namespace {

// Waits for a completion raised from a worker thread.
struct TWaiter {
    std::mutex M;
    std::condition_variable Cv;
    bool Done = false;
    void Signal() {
        std::lock_guard lock(M);
        Done = true;
        Cv.notify_all();
    }
    void Wait() {
        std::unique_lock lock(M);
        Cv.wait(lock, [&] { return Done; });
    }
};

struct TVerifyResult {
    bool Started = false;
    bool Failed = false;
    std::vector<std::pair<int, bool>> Files;
};

TVerifyResult Verify(TDiscBurner& Burner) {
    TWaiter w;
    TVerifyResult r;
    Burner.OnVerifyDone = [&](TDiscBurner*, std::uint8_t, std::int32_t FileId, bool Failed) {
        if (FileId >= 0) {
            r.Files.emplace_back(FileId, Failed);
            return;
        }
        r.Failed = Failed;
        w.Signal();
    };
    r.Started = Burner.VerifyDisc(false, true);
    if (r.Started)
        w.Wait();
    Burner.WaitIdle();
    return r;
}

void CorruptImage(const std::string& Path, std::uint64_t Offset) {
    std::fstream f(Path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(static_cast<std::streamoff>(Offset));
    char c = 0;
    f.read(&c, 1);
    c = static_cast<char>(c ^ 0x55);
    f.seekp(static_cast<std::streamoff>(Offset));
    f.write(&c, 1);
}

TISOVolume ReadFromBytes(const std::string& Image, bool WithTree = true) {
    return ReadISOVolume(
        [&](std::uint32_t Lba, std::uint8_t* Sector) {
            const std::uint64_t off = std::uint64_t(Lba) * 2048;
            if (off + 2048 > Image.size())
                return false;
            std::memcpy(Sector, Image.data() + off, 2048);
            return true;
        },
        0, WithTree);
}

} // namespace

TEST(DiscOperations, VerifyPassesOnTheBurnedDiscAndFailsOnACorruptedOne) {
    TBurnRig rig(mtDVDPLUSR);
    const auto files = rig.AddFiles({300000, 70000, 9});
    ASSERT_FALSE(rig.BurnAndWait().Failed);
    auto r = Verify(rig.Burner);
    ASSERT_TRUE(r.Started);
    EXPECT_FALSE(r.Failed);
    ASSERT_EQ(r.Files.size(), 3u);
    for (const auto& [id, failed] : r.Files)
        EXPECT_FALSE(failed) << id;
    EXPECT_EQ(rig.Burner.VerifyProgress(), rig.Burner.VerifySize());

    // One byte of the second file changed on the disc: that file, and the whole, fail.
    const int id = static_cast<int>(rig.Burner.FindFile("\\DATA", "file1.bin"));
    ASSERT_GE(id, 0);
    const std::uint64_t offset = std::uint64_t(rig.Burner.CDFiles.FirstDataSector) * 2048 +
                                 rig.Burner.FileAddress(id) + 1234;
    CorruptImage(rig.Rec->ImagePath(), offset);
    r = Verify(rig.Burner);
    EXPECT_TRUE(r.Failed);
    for (const auto& [fileId, failed] : r.Files)
        EXPECT_EQ(failed, fileId == id) << fileId;
}

TEST(DiscOperations, ImportSessionReadsBackTheTreeItWrote) {
    TBurnRig rig(mtDVDR);
    rig.Burner.SetVolumeID("Session One");
    rig.AddFiles({300000, 5000});
    rig.Burner.CreateDir("\\DATA", "Empty Folder");
    ASSERT_FALSE(rig.BurnAndWait().Failed);
    const std::int64_t size0 =
        rig.Burner.FileSize(static_cast<int>(rig.Burner.FindFile("\\DATA", "file0.bin")));
    EXPECT_EQ(rig.Burner.ReadVolumeLabelOfDisc(0), u"Session One");

    rig.Burner.ClearAll();
    EXPECT_EQ(rig.Burner.ImportSession(0, "\\"), 1);
    const auto f0 = rig.Burner.FindFile("\\DATA", "file0.bin");
    const auto f1 = rig.Burner.FindFile("\\DATA", "file1.bin");
    ASSERT_GE(f0, 0);
    ASSERT_GE(f1, 0);
    EXPECT_EQ(rig.Burner.FileSize(static_cast<int>(f0)), size0);
    EXPECT_EQ(rig.Burner.FileSize(static_cast<int>(f1)), 5000);
    EXPECT_GE(rig.Burner.FindFile("\\DATA", "Empty Folder"), 0);
    EXPECT_TRUE(rig.Burner.CDFiles.Files[static_cast<std::size_t>(f0)]->Imported);
    // The imported entry points at the data the disc holds.
    std::vector<std::uint8_t> sector(2048);
    const std::uint32_t lba = rig.Burner.CDFiles.Files[static_cast<std::size_t>(f0)]->Address;
    ASSERT_TRUE(rig.Rec->ReadSector(lba, sector.data()));
    const std::string source = imagetest::ReadFile(rig.Dir / "src/file0.bin");
    EXPECT_EQ(std::string(sector.begin(), sector.end()), source.substr(0, 2048));
    EXPECT_EQ(rig.Burner.ImportSession(2, "\\"), -1); // there is no second session
}

TEST(DiscOperations, MountISOImageImportsTheImagesTree) {
    TBurnRig rig(mtDVDR);
    rig.AddFiles({10000, 20000});
    rig.Burner.Prepare();
    const std::string image = rig.BuildImageBytes("mount.iso");
    ASSERT_FALSE(image.empty());
    rig.Burner.ClearAll();
    ASSERT_TRUE(rig.Burner.MountISOImage(rig.Dir / "mount.iso"));
    EXPECT_GE(rig.Burner.FindFile("\\DATA", "file1.bin"), 0);
    EXPECT_FALSE(rig.Burner.MountISOImage(rig.Dir / "missing.iso"));
    EXPECT_EQ(rig.Burner.ErrorString(), "Error opening file \\" + (rig.Dir / "missing.iso") + "\\");
}

TEST(DiscOperations, ReadingSurvivesTruncatedAndGarbageImages) {
    TBurnRig rig(mtDVDR);
    rig.AddFiles({10000, 20000, 3});
    rig.Burner.CreateDir("\\DATA", "SUB");
    rig.Burner.Prepare();
    const std::string image = rig.BuildImageBytes("fuzz.iso");
    const TISOVolume good = ReadFromBytes(image);
    ASSERT_TRUE(good.Valid);
    EXPECT_TRUE(good.Joliet);
    ASSERT_GE(good.Entries.size(), 5u);

    // Truncated anywhere: no crash, and nothing read beyond the end.
    for (std::size_t cut : {std::size_t(0), std::size_t(100), std::size_t(16 * 2048 + 10),
                            std::size_t(17 * 2048), std::size_t(19 * 2048), image.size() / 2})
        ReadFromBytes(image.substr(0, cut));
    EXPECT_FALSE(ReadFromBytes(std::string(64 * 2048, '\xFF')).Valid);

    // Random damage to the descriptors and directory records.
    std::mt19937 rng(1234);
    const std::size_t area = std::min<std::size_t>(image.size(), 64 * 2048);
    for (int round = 0; round < 2000; ++round) {
        std::string damaged = image;
        const int changes = 1 + static_cast<int>(rng() % 16);
        for (int i = 0; i < changes; ++i)
            damaged[16 * 2048 + rng() % (area - 16 * 2048)] = static_cast<char>(rng());
        const TISOVolume v = ReadFromBytes(damaged);
        EXPECT_LE(v.Entries.size(), MaxISOEntries);
    }

    // A folder whose record points back at the root: the walk does not loop.
    std::string looped = image;
    const std::uint32_t rootExtent = static_cast<std::uint8_t>(looped[16 * 2048 + 156 + 2]) |
                                     (static_cast<std::uint8_t>(looped[16 * 2048 + 156 + 3]) << 8);
    for (const auto& e : good.Entries)
        if (e.Directory)
            for (std::size_t p = 0; p + 4 < looped.size(); p += 1)
                if (static_cast<std::uint8_t>(looped[p]) == (e.Extent & 0xFF) &&
                    static_cast<std::uint8_t>(looped[p + 1]) == ((e.Extent >> 8) & 0xFF) &&
                    looped[p + 2] == 0 && looped[p + 3] == 0 && p > 18 * 2048 && p < 40 * 2048) {
                    looped[p] = static_cast<char>(rootExtent & 0xFF);
                    looped[p + 1] = static_cast<char>(rootExtent >> 8);
                }
    const TISOVolume v = ReadFromBytes(looped);
    EXPECT_LE(v.Entries.size(), good.Entries.size() * 2);
}

// Starts a quick erase and waits for its end, which sets Failed; false when it did not start.
bool EraseAndWait(TBurnRig& Rig, bool& Failed) {
    TWaiter w;
    Rig.Burner.OnEraseDone = [&](TDiscBurner*, std::uint8_t, bool EraseFailed) {
        Failed = EraseFailed;
        w.Signal();
    };
    if (!Rig.Burner.EraseDisc(true))
        return false;
    w.Wait();
    Rig.Burner.WaitIdle();
    return true;
}

TEST(DiscOperations, EraseRewritableDiscs) {
    {
        TBurnRig rig(mtDVDRW);
        rig.AddFiles({100000});
        ASSERT_FALSE(rig.BurnAndWait().Failed);
        ASSERT_GT(rig.Burner.SessionsOnDisc(), 0);
        bool failed = true;
        ASSERT_TRUE(EraseAndWait(rig, failed));
        EXPECT_FALSE(failed);
        EXPECT_EQ(rig.Burner.SessionsOnDisc(), 0);
    }
    {
        TBurnRig rig(mtDVDPLUSRW);
        rig.AddFiles({100000});
        ASSERT_FALSE(rig.BurnAndWait().Failed);
        EXPECT_EQ(rig.Burner.ReadVolumeLabelOfDisc(0), u"RIGDISC");
        bool failed = true;
        ASSERT_TRUE(EraseAndWait(rig, failed));
        EXPECT_FALSE(failed);
        EXPECT_EQ(rig.Burner.ReadVolumeLabelOfDisc(0), u"");
    }
    {
        TBurnRig rig(mtDVDR); // write-once: BLANK is refused
        bool failed = false;
        ASSERT_TRUE(EraseAndWait(rig, failed));
        EXPECT_TRUE(failed);
    }
}

TEST(DiscOperations, SmartReferencesShareTheDataOfEqualFiles) {
    TBurnRig rig(mtDVDR);
    rig.Burner.CreateDir("\\", "DATA");
    const std::string a = rig.Dir / "src/a.bin", b = rig.Dir / "src/b.bin",
                      c = rig.Dir / "src/c.bin";
    imagetest::WriteFile(a, 100000, 1);
    imagetest::WriteFile(b, 100000, 1); // same bytes as a
    imagetest::WriteFile(c, 100000, 2); // same size, other bytes
    for (const auto& p : {a, b, c})
        rig.Burner.InsertFile("\\DATA", p);
    rig.Burner.Prepare();
    const std::uint32_t before = rig.Burner.ImageSize();
    TWaiter w;
    bool failed = true;
    std::int32_t canSave = 0;
    rig.Burner.OnGenerateSmartReferencesDone = [&](TDiscBurner*, bool Failed, std::int32_t Bytes) {
        failed = Failed;
        canSave = Bytes;
        w.Signal();
    };
    ASSERT_TRUE(rig.Burner.GenerateSmartReferences());
    w.Wait();
    rig.Burner.WaitIdle();
    EXPECT_FALSE(failed);
    EXPECT_EQ(canSave, 49 * 2048);
    EXPECT_EQ(rig.Burner.SmartReferencesProgress(), rig.Burner.SmartReferencesSize());
    rig.Burner.Prepare();
    EXPECT_LE(rig.Burner.ImageSize(), before);
    const int ia = static_cast<int>(rig.Burner.FindFile("\\DATA", "a.bin"));
    const int ib = static_cast<int>(rig.Burner.FindFile("\\DATA", "b.bin"));
    const int ic = static_cast<int>(rig.Burner.FindFile("\\DATA", "c.bin"));
    EXPECT_EQ(rig.Burner.FileAddress(ia), rig.Burner.FileAddress(ib));
    EXPECT_NE(rig.Burner.FileAddress(ia), rig.Burner.FileAddress(ic));
    // The shared copy burns and verifies.
    ASSERT_FALSE(rig.BurnAndWait(false).Failed);
    EXPECT_FALSE(Verify(rig.Burner).Failed);
}
