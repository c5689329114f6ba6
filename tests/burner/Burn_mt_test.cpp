// Burning a layout to the virtual recorder: what reaches the disc, the commands that get it
// there for each kind of medium, and how the writer copes with a drive's answers.
#include "support/BurnerDriveFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

using namespace burner;
using drivetest::TBurnRig;

namespace {

std::size_t Count(const std::vector<std::uint8_t>& Ops, std::uint8_t Op) {
    return static_cast<std::size_t>(std::count(Ops.begin(), Ops.end(), Op));
}

// Close functions and numbers of the CLOSE TRACK/SESSION commands sent, as "f/n".
std::vector<std::string> Closes(const TVirtualRecorder& Rec) {
    std::vector<std::string> out;
    for (const auto& c : Rec.Commands())
        if (!c.Cdb.empty() && c.Cdb[0] == scsiop::CloseTrackSession)
            out.push_back(std::to_string(c.Cdb[2] & 7) + "/" +
                          std::to_string(GetBE16(c.Cdb.data() + 4)) + ((c.Cdb[1] & 1) ? "i" : ""));
    return out;
}

} // namespace

TEST(Burn, ImageOnDiscEqualsTheBuiltImage) {
    for (TMedium m : {mtDVDR, mtDVDPLUSR, mtDVDPLUSRDL, mtDVDPLUSRW, mtDVDRAM, mtDVDRW}) {
        SCOPED_TRACE(MediumName(m));
        TBurnRig rig(m);
        // The last file ends mid-packet: that packet is still written whole.
        rig.AddFiles({3 * 65536 + 1000, 700000, 5});
        const auto r = rig.BurnAndWait();
        ASSERT_TRUE(r.Started);
        EXPECT_TRUE(r.Done);
        EXPECT_FALSE(r.Failed) << r.Error;
        EXPECT_EQ(r.Error, "Unknown/No Error!");
        EXPECT_EQ(rig.Burner.BlocksWritten(), rig.Burner.ImageSize());
        EXPECT_EQ(rig.Burner.ImageSize() % 32, 0u);
        const std::string onDisc = drivetest::RecorderImage(*rig.Rec);
        const std::string built = rig.BuildImageBytes();
        ASSERT_EQ(built.size(), std::size_t(rig.Burner.ImageSize()) * 2048);
        ASSERT_GE(onDisc.size(), built.size());
        EXPECT_TRUE(onDisc.compare(0, built.size(), built) == 0);
    }
}

namespace {

// True when Want appears in Ops in this order (other commands may come between).
bool InOrder(const std::vector<std::uint8_t>& Ops, const std::vector<std::uint8_t>& Want) {
    std::size_t i = 0;
    for (std::uint8_t op : Ops)
        if (i < Want.size() && op == Want[i])
            ++i;
    return i == Want.size();
}

std::vector<std::uint32_t> WriteLbas(const TVirtualRecorder& Rec) {
    std::vector<std::uint32_t> lbas;
    for (const auto& c : Rec.Commands())
        if (!c.Cdb.empty() && c.Cdb[0] == scsiop::Write10 && c.Status == SS_COMP)
            lbas.push_back(GetBE32(c.Cdb.data() + 2));
    return lbas;
}

// A memory file of Size bytes whose data callback runs Hook once, when Position passes At.
void AddMemoryFile(TDiscBurner& Burner, std::uint64_t Size, std::uint64_t At,
                   std::function<void()> Hook) {
    TFindData fd;
    fd.FileSize = Size;
    fd.FileName = u"MEMORY.BIN";
    auto fired = std::make_shared<bool>(false);
    Burner.InsertMemoryFile(
        "\\", fd,
        [=](void*, TFileEntry*, std::uint64_t Position, std::uint8_t* Buffer, std::uint32_t& Got) {
            std::memset(Buffer, 0x5A, Got);
            if (Position >= At && !*fired) {
                *fired = true;
                Hook();
            }
        });
}

} // namespace

TEST(Burn, CommandSequenceOfAWholeDVDRBurn) {
    TBurnRig rig(mtDVDR);
    rig.AddFiles({200000});
    rig.Rec->ClearCommands();
    ASSERT_FALSE(rig.BurnAndWait().Failed);
    const auto ops = rig.Opcodes();
    using namespace scsiop;
    EXPECT_TRUE(InOrder(ops, {GetConfiguration,
                              ModeSelect10,
                              ReadDiscInformation,
                              ReadTrackInformation, // burn start
                              SynchronizeCache,
                              Rezero,
                              ModeSelect10,
                              ReadDiscInformation,
                              ReadBufferCapacity,
                              ModeSelect10,
                              SetCDSpeed,
                              SetStreaming,
                              SendDVDStructure,
                              ReserveTrack,
                              Write10, // write start
                              SynchronizeCache,
                              CloseTrackSession,
                              CloseTrackSession,
                              CloseTrackSession,
                              ReadDiscInformation,
                              PreventAllow,
                              StartStopUnit,
                              Rezero,
                              TestUnitReady}));
    EXPECT_EQ(ops.back(), TestUnitReady);
    // Every WRITE carries a whole packet, one after another from the start of the disc.
    const auto lbas = WriteLbas(*rig.Rec);
    ASSERT_EQ(lbas.size(), rig.Burner.ImageSize() / 32);
    for (std::size_t i = 0; i < lbas.size(); ++i)
        EXPECT_EQ(lbas[i], i * 32);
    for (const auto& c : rig.Rec->Commands()) {
        if (c.Cdb[0] == Write10) {
            EXPECT_EQ(GetBE16(c.Cdb.data() + 7), 32);
        }
    }
    EXPECT_EQ(rig.Rec->Disc().ClosedSessions, 1);
}

TEST(Burn, ClosingSequenceOfEveryMedium) {
    struct TCase {
        TMedium Medium;
        bool Finalize;
        std::vector<std::string> Closes; // function/number, i = immediate
    };
    const std::vector<TCase> cases = {
        {mtDVDR, false, {"1/1", "1/2", "2/3"}},
        {mtDVDPLUSR, false, {"1/1", "2/255"}},
        {mtDVDPLUSRDL, false, {"1/1", "2/255"}},
        {mtDVDPLUSRDL, true, {"1/1", "6/255"}},
        {mtDVDPLUSRW, false, {"3/255"}},
        {mtDVDRW, false, {"1/1", "2/1i"}},
        // Formatted media count their one session: the track closed is the second.
        {mtDVDRAM, false, {"1/2", "2/2i"}},
        {mtBDRSR, false, {"1/1", "2/1i"}},
        {mtBDRE, false, {"1/2", "2/2i"}},
        {mtCDR, false, {"2/1i"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(MediumName(c.Medium)) + (c.Finalize ? " finalized" : ""));
        TBurnRig rig(c.Medium);
        rig.Burner.SetFinalizeDisc(c.Finalize);
        rig.AddFiles({100000});
        const auto r = rig.BurnAndWait();
        EXPECT_FALSE(r.Failed) << r.Error;
        EXPECT_EQ(Closes(*rig.Rec), c.Closes);
        const auto ops = rig.Opcodes();
        // After the close: the tray unlocked, the disc reloaded and the drive asked to settle.
        const std::vector<std::uint8_t> tail(ops.end() - 4, ops.end());
        EXPECT_EQ(tail, (std::vector<std::uint8_t>{scsiop::PreventAllow, scsiop::StartStopUnit,
                                                   scsiop::Rezero, scsiop::TestUnitReady}));
        if (c.Medium == mtDVDPLUSRDL) {
            EXPECT_EQ(rig.Rec->Disc().Finalized, c.Finalize);
        }
        // DVD-RW and the media closed like a CD wait for the drive to settle (5 s steps).
        const auto waits = rig.Waits();
        const bool settles = c.Medium == mtCDR || c.Medium == mtBDRSR || c.Medium == mtBDRE;
        EXPECT_EQ(std::count(waits.begin(), waits.end(), 5000u) >= 2, settles);
    }
}

TEST(Burn, PacketWriteRetriesAndTheirLimit) {
    struct TCase {
        const char* Name;
        std::uint8_t Key, Asc, Ascq;
        unsigned Times;
        bool Fails;
        std::string Error;
        unsigned Retries;
    };
    const std::vector<TCase> cases = {
        {"long write in progress", sense::NotReady, 0x04, 0x08, 3, false, "Unknown/No Error!", 3},
        {"no sense", sense::HardwareError, 0x00, 0x00, 2, false, "Unknown/No Error!", 2},
        {"not ready 4999 times", sense::NotReady, 0x04, 0x08, 4999, false, "Unknown/No Error!",
         4999},
        {"not ready 5000 times", sense::NotReady, 0x04, 0x08, 5000, true, "Hardware Error 1032",
         4999},
        // Outside the first write of a rewritable disc a reset is not waited out.
        {"power on reset", sense::UnitAttention, 0x29, 0x00, 1, true, "Hardware Error 10496", 0},
        {"write error", sense::MediumError, 0x0C, 0x00, 1, true, "Hardware Error 3072", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TBurnRig rig(mtDVDR);
        rig.AddFiles({300000});
        rig.Rec->InjectCommandFailure(scsiop::Write10, c.Key, c.Asc, c.Ascq, c.Times);
        const auto r = rig.BurnAndWait();
        ASSERT_TRUE(r.Started);
        EXPECT_EQ(r.Failed, c.Fails);
        EXPECT_EQ(r.Error, c.Error);
        const auto waits = rig.Waits();
        const auto pauses = static_cast<unsigned>(std::count(waits.begin(), waits.end(), 100u));
        EXPECT_EQ(rig.Burner.WriteRetries(), c.Retries);
        EXPECT_GE(pauses, rig.Burner.WriteRetries());
        // A failed write still closes what was written.
        EXPECT_EQ(Closes(*rig.Rec).size(), 3u);
        if (!c.Fails) {
            EXPECT_EQ(rig.Burner.BlocksWritten(), rig.Burner.ImageSize());
        }
    }
}

TEST(Burn, BusyTargetIsRetried) {
    TBurnRig rig(mtDVDR);
    rig.AddFiles({300000});
    // The busy answers begin with the first write: injected from the writer's first pause.
    rig.Rec->InjectLongWriteInProgress(1);
    rig.OnNextWait([&] { rig.Rec->InjectBusy(4); });
    const auto r = rig.BurnAndWait();
    EXPECT_FALSE(r.Failed) << r.Error;
    EXPECT_EQ(rig.Burner.WriteRetries(), 5u);
}

TEST(Burn, FirstWriteOfARewritableDiscHasItsOwnRules) {
    struct TCase {
        const char* Name;
        std::uint8_t Key, Asc;
        unsigned Times;
        unsigned Pause;
        bool Fails;
    };
    const std::vector<TCase> cases = {
        {"becoming ready", sense::NotReady, 0x04, 7, 200, false},
        {"no sense", sense::HardwareError, 0x00, 3, 200, false},
        {"power on reset", sense::UnitAttention, 0x29, 2, 1200, false},
        {"power on reset 99 times", sense::UnitAttention, 0x29, 99, 1200, false},
        {"power on reset 100 times", sense::UnitAttention, 0x29, 100, 1200, true},
        {"write error", sense::MediumError, 0x0C, 1, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TBurnRig rig(mtDVDRAM);
        rig.AddFiles({300000});
        rig.Rec->InjectCommandFailure(scsiop::Write10, c.Key, c.Asc, 0, c.Times);
        const auto r = rig.BurnAndWait();
        EXPECT_EQ(r.Failed, c.Fails) << r.Error;
        const auto waits = rig.Waits();
        if (c.Pause != 0) {
            EXPECT_EQ(std::count(waits.begin(), waits.end(), c.Pause), std::min<long>(c.Times, 99));
        }
        if (!c.Fails) {
            EXPECT_EQ(drivetest::RecorderImage(*rig.Rec).substr(0, 2048 * 64),
                      rig.BuildImageBytes().substr(0, 2048 * 64));
        }
    }
}

TEST(Burn, UnformattedDVDPlusRWIsFormattedFirst) {
    TBurnRig rig(mtDVDPLUSRW);
    rig.AddFiles({300000, 4000});
    rig.Rec->InjectUnformatted();
    rig.Rec->InjectNotReadyAfterFormat(2);
    const auto r = rig.BurnAndWait();
    EXPECT_FALSE(r.Failed) << r.Error;
    EXPECT_EQ(rig.Burner.FormatsDone(), 1u);
    bool formatListSent = false;
    for (const auto& c : rig.Rec->Commands())
        if (c.Cdb[0] == scsiop::FormatUnit)
            formatListSent =
                formatListSent ||
                (c.DataOut.size() >= 12 &&
                 std::equal(FormatDVDPlusRW.begin(), FormatDVDPlusRW.end(), c.DataOut.begin()));
    EXPECT_TRUE(formatListSent);
    const std::string built = rig.BuildImageBytes();
    EXPECT_EQ(drivetest::RecorderImage(*rig.Rec).substr(0, built.size()), built);
}

TEST(Burn, AbortMidWriteStillClosesTheDisc) {
    TBurnRig rig(mtDVDR);
    rig.Burner.SetCacheSize(2);
    rig.Burner.CreateDir("\\", "DATA");
    // The cache holds 2 MB: by 6 MB the writer has long started.
    AddMemoryFile(rig.Burner, 10 << 20, 6 << 20, [&] { rig.Burner.AbortOperation(); });
    const auto r = rig.BurnAndWait();
    ASSERT_TRUE(r.Started);
    EXPECT_TRUE(r.Failed);
    EXPECT_EQ(r.Error, "Aborted by user");
    EXPECT_GT(rig.Burner.BlocksWritten(), 0u);
    EXPECT_LT(rig.Burner.BlocksWritten(), rig.Burner.ImageSize());
    EXPECT_EQ(Closes(*rig.Rec), (std::vector<std::string>{"1/1", "1/2", "2/3"}));
    EXPECT_EQ(rig.Burner.ComponentStatus(), 0);
}

TEST(Burn, SourceFileVanishingMidBurn) {
    TBurnRig rig(mtDVDPLUSR);
    rig.Burner.SetCacheSize(2);
    std::string vanishing = rig.Dir / "src/file0.bin";
    AddMemoryFile(rig.Burner, 8 << 20, 5 << 20, [&] { std::filesystem::remove(vanishing); });
    const auto files = rig.AddFiles({100000});
    ASSERT_EQ(files[0], vanishing);
    // The memory file comes first on the disc only if inserted first: check the order used.
    rig.Burner.Prepare();
    const bool memoryFirst = rig.Burner.FileAddress(rig.Burner.FindFile("\\", "MEMORY.BIN")) <
                             rig.Burner.FileAddress(rig.Burner.FindFile("\\DATA", "file0.bin"));
    ASSERT_TRUE(memoryFirst);
    const auto r = rig.BurnAndWait(false);
    ASSERT_TRUE(r.Started);
    EXPECT_TRUE(r.Failed);
    EXPECT_EQ(r.Error, "Error opening file \\" + files[0] + "\\");
    EXPECT_EQ(Closes(*rig.Rec).size(), 2u);
}

TEST(Burn, NothingIsWrittenToADiscThatTakesNoData) {
    {
        TBurnRig rig(mtUNKNOWN); // no disc
        rig.AddFiles({1000});
        const auto r = rig.BurnAndWait();
        EXPECT_FALSE(r.Started);
        EXPECT_EQ(r.Error, "Hardware Error 14848"); // 3Ah: medium not present
    }
    {
        TBurnRig rig(mtDVDPLUSR);
        rig.Burner.SetFinalizeDisc(true);
        rig.AddFiles({1000});
        ASSERT_FALSE(rig.BurnAndWait().Failed);
        ASSERT_TRUE(rig.Rec->Disc().Finalized);
        rig.Rec->ClearCommands();
        const auto r = rig.BurnAndWait();
        EXPECT_FALSE(r.Started);
        EXPECT_EQ(r.Error, "Hardware Error 9984"); // 27h: write protected
        EXPECT_EQ(Count(rig.Opcodes(), scsiop::Write10), 0u);
        // The text is read once.
        EXPECT_EQ(rig.Burner.ErrorString(), "Unknown/No Error!");
    }
}
