// Burning a layout to the virtual recorder: what reaches the disc, the commands that get it
// there for each kind of medium, and how the writer copes with a drive's answers.
#include "support/BurnerDriveFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
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
                          std::to_string(GetBE16(c.Cdb.data() + 4)) +
                          ((c.Cdb[1] & 1) ? "i" : ""));
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
