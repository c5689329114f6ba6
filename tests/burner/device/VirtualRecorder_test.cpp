// The virtual recorder as the writer will use it: whole burns per medium, the disc state they
// leave, the image file, and every injected fault seen as the sense a real drive gives.
#include "DeviceTestSupport.h"

using namespace burner;
using devtest::TTempDir;
using devtest::TVirtualDrive;

namespace {

// An image of `blocks` sectors whose sector 16 is a primary volume descriptor with this label;
// every other sector is filled with its own number.
std::vector<uint8_t> MakeImage(uint32_t blocks, const std::string& label) {
    std::vector<uint8_t> image(size_t(blocks) * 2048);
    for (uint32_t s = 0; s < blocks; ++s)
        std::memset(&image[size_t(s) * 2048], int(s & 0xFF), 2048);
    if (blocks > 16) {
        uint8_t* pvd = &image[16 * 2048];
        std::memset(pvd, 0, 2048);
        pvd[0] = 1;
        std::memcpy(pvd + 1, "CD001", 5);
        pvd[6] = 1;
        std::memset(pvd + 40, ' ', 32);
        std::memcpy(pvd + 40, label.data(), std::min<size_t>(label.size(), 32));
    }
    return image;
}

// Writes the image in 32-sector packets from lba; false at the first refused packet.
bool WritePackets(TSCSIDevice& dev, uint32_t lba, const std::vector<uint8_t>& image) {
    const uint32_t blocks = uint32_t(image.size() / 2048);
    for (uint32_t done = 0; done < blocks; done += 32) {
        const uint16_t n = uint16_t(std::min<uint32_t>(32, blocks - done));
        if (!dev.Write10(lba + done, n, &image[size_t(done) * 2048]))
            return false;
    }
    return true;
}

TAnswerKind Answer(const TSCSIDevice& dev, bool completed) {
    return ClassifyAnswer(completed ? SS_COMP : SS_ERR, dev.TargetBusy, dev.LastSenseInfo);
}

} // namespace

TEST(RecorderBurn, DvdMinusRReservedTrackClosedAndLeftAppendable) {
    TVirtualDrive drive(mtDVDR, 100000);
    TSCSIDevice& dev = drive.Dev;
    const TMedium m = dev.DiscIs();
    ASSERT_EQ(m, mtDVDR);
    ASSERT_TRUE(dev.SetWriteParameters(false, true, m, false));
    ASSERT_TRUE(dev.ReadDiscInformation(64));
    EXPECT_EQ(dev.DiscInformation.DiscStatus(), 0);
    ASSERT_TRUE(dev.ReadTrackInformation(dev.DiscInformation.LastTrackOfLastSession));
    EXPECT_EQ(dev.TrackInformation.NextWritableAddress, 0u);
    EXPECT_EQ(dev.TrackInformation.FreeBlocks, 100000u);
    EXPECT_EQ(dev.TrackInformation.info2 & 0x40, 0x40); // blank
    const int q = dev.SessionsOnDisc();
    EXPECT_EQ(q, 0);

    std::tm stamp{};
    stamp.tm_year = 125;
    stamp.tm_mon = 0;
    stamp.tm_mday = 31;
    ASSERT_TRUE(dev.SendDVDTimeStamp(stamp));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(drive.Rec->Disc().TimeStamp), 14),
              "20250131000000");
    const auto image = MakeImage(90, "MYDISC");
    ASSERT_TRUE(dev.ReserveTrack(90));
    ASSERT_TRUE(dev.ReadTrackInformation(1));
    EXPECT_EQ(dev.TrackInformation.info2 & 0x80, 0x80); // reserved
    EXPECT_EQ(dev.TrackInformation.TrackSize, 96u);     // whole ECC blocks
    ASSERT_TRUE(dev.ReadTrackInformation(2));
    EXPECT_EQ(dev.TrackInformation.TrackStartAddress, 96u);

    ASSERT_TRUE(WritePackets(dev, 0, image));
    ASSERT_TRUE(dev.SynchronizeCache(false));
    EXPECT_TRUE(dev.CloseTrackSession(false, CloseTrack, uint16_t(q + 1)));
    EXPECT_TRUE(dev.CloseTrackSession(false, CloseTrack, uint16_t(q + 2))); // the empty one
    EXPECT_TRUE(dev.CloseTrackSession(false, CloseSession, uint16_t(q + 3)));

    const TRecorderDisc disc = drive.Rec->Disc();
    EXPECT_EQ(disc.ClosedSessions, 1);
    EXPECT_FALSE(disc.Finalized); // DVD-R is always written for more sessions
    ASSERT_TRUE(dev.ReadDiscInformation(64));
    EXPECT_EQ(dev.DiscInformation.DiscStatus(), 1);
    EXPECT_EQ(dev.SessionsOnDisc(), 1);
    EXPECT_TRUE(dev.Writable());

    // The sectors are in the image file, named after the volume label, and read back.
    EXPECT_EQ(disc.ImagePath, (drive.Dir / "MYDISC.iso"));
    const std::string file = devtest::ReadFile(disc.ImagePath);
    ASSERT_EQ(file.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), file.begin(),
                           [](uint8_t a, char b) { return a == uint8_t(b); }));
    std::vector<uint8_t> back(32 * 2048);
    ASSERT_TRUE(dev.Read10(32, 32, back.data()));
    EXPECT_TRUE(std::equal(back.begin(), back.end(), image.begin() + 32 * 2048));
    EXPECT_FALSE(dev.Read10(96, 1, back.data())); // nothing recorded there
    EXPECT_EQ(dev.DeviceError, 0x2100);
}

TEST(RecorderBurn, DvdPlusRFinalizeFollowsTheMultisessionField) {
    for (bool finalize : {false, true}) {
        SCOPED_TRACE(finalize);
        TVirtualDrive drive(mtDVDPLUSR, 50000);
        TSCSIDevice& dev = drive.Dev;
        ASSERT_TRUE(dev.SetWriteParameters(false, true, mtDVDPLUSR, !finalize));
        ASSERT_TRUE(WritePackets(dev, 0, MakeImage(64, "PLUS")));
        EXPECT_TRUE(dev.CloseTrackSession(false, CloseTrack, 1));
        EXPECT_TRUE(dev.CloseTrackSession(false, CloseSession, 255));
        ASSERT_TRUE(dev.ReadDiscInformation(64));
        EXPECT_EQ(dev.DiscInformation.DiscStatus(), finalize ? 2 : 1);
        EXPECT_EQ(dev.Writable(), !finalize);
        if (!finalize) {
            // The next session starts after the lead-out and lead-in.
            ASSERT_TRUE(dev.ReadTrackInformation(255));
            EXPECT_EQ(dev.TrackInformation.NextWritableAddress, 64u + 1024u);
            EXPECT_EQ(dev.TrackInformation.SessionNumber, 2);
            EXPECT_EQ(dev.SessionsOnDisc(), 1);
        } else {
            std::vector<uint8_t> packet(2048);
            EXPECT_FALSE(dev.Write10(64, 1, packet.data()));
            EXPECT_EQ(dev.DeviceError, 0x2102); // invalid address for write
        }
    }
}

TEST(RecorderBurn, DvdPlusRDoubleLayerFinalizesWithFunction6) {
    TVirtualDrive drive(mtDVDPLUSRDL, 50000);
    TSCSIDevice& dev = drive.Dev;
    ASSERT_TRUE(dev.SetWriteParameters(false, true, mtDVDPLUSRDL, true));
    ASSERT_TRUE(WritePackets(dev, 0, MakeImage(32, "DL")));
    EXPECT_TRUE(dev.CloseTrackSession(false, CloseTrack, 1));
    EXPECT_TRUE(dev.CloseTrackSession(false, CloseFinalize, 0));
    EXPECT_TRUE(drive.Rec->Disc().Finalized);
}

TEST(RecorderBurn, SequentialDiscsTakeWritesOnlyAtTheNextWritableAddress) {
    TVirtualDrive drive(mtBDRSR, 10000);
    std::vector<uint8_t> packet(32 * 2048, 7);
    EXPECT_FALSE(drive.Dev.Write10(32, 32, packet.data()));
    EXPECT_EQ(drive.Dev.LastSenseInfo.Key(), sense::IllegalRequest);
    EXPECT_EQ(drive.Dev.DeviceError, 0x2102);
    EXPECT_TRUE(drive.Dev.Write10(0, 32, packet.data()));
    EXPECT_TRUE(drive.Dev.Write10(32, 32, packet.data()));
    ASSERT_TRUE(drive.Dev.ReadTrackInformation(1));
    EXPECT_EQ(drive.Dev.TrackInformation.NextWritableAddress, 64u);
    EXPECT_EQ(drive.Dev.TrackInformation.LastRecordedAddress, 63u);
}

TEST(RecorderBurn, TestWriteRecordsNothing) {
    TVirtualDrive drive(mtDVDR, 10000);
    ASSERT_TRUE(drive.Dev.SetWriteParameters(true, true, mtDVDR, false));
    ASSERT_TRUE(WritePackets(drive.Dev, 0, MakeImage(64, "SIM")));
    EXPECT_EQ(drive.Rec->Disc().Tracks[0].Written, 0u);
    EXPECT_EQ(drive.Rec->ImagePath(), "");
}

TEST(RecorderFaults, UnformattedDvdPlusRwAsksForAFormat) {
    TVirtualDrive drive(mtDVDPLUSRW, 20000);
    TSCSIDevice& dev = drive.Dev;
    drive.Rec->InjectUnformatted();
    drive.Rec->InjectNotReadyAfterFormat(2);
    const auto image = MakeImage(32, "RW");
    const bool written = dev.Write10(0, 32, image.data());
    ASSERT_FALSE(written);
    EXPECT_EQ(dev.DeviceError, 12293);
    EXPECT_EQ(FirstWriteVerdict(Answer(dev, written), 0, true).Action, TSenseAction::Format);
    ASSERT_TRUE(dev.FormatUnit(FormatDVDPlusRW));
    // The immediate format runs on: the drive is not ready for a while.
    int notReady = 0;
    while (!dev.ReadDiscInformation(42)) {
        ASSERT_EQ(dev.LastSenseInfo.AddSenseCode, 0x04);
        ASSERT_EQ(dev.LastSenseInfo.AddSenQual, 0x04);
        ASSERT_LT(++notReady, 10);
    }
    EXPECT_EQ(notReady, 2);
    EXPECT_TRUE(dev.Write10(0, 32, image.data()));
}

TEST(RecorderFaults, DvdMinusRwFormatRetryAndRestrictedOverwrite) {
    TVirtualDrive drive(mtDVDRWSR, 20000);
    TSCSIDevice& dev = drive.Dev;
    drive.Rec->InjectCommandFailure(0x04, sense::IllegalRequest, 0x26, 0x00);
    EXPECT_FALSE(dev.FormatUnit(FormatDVDRWQuick));
    EXPECT_TRUE(dev.FormatUnit(FormatDVDRWQuickRetry));
    EXPECT_EQ(dev.DiscIs(), mtDVDRWSR);
    // The restricted-overwrite list does not apply to a sequential disc.
    EXPECT_FALSE(dev.FormatUnit(FormatDVDRWRestricted));

    TVirtualDrive ro(mtDVDRWRO, 20000);
    ASSERT_TRUE(WritePackets(ro.Dev, 64, MakeImage(32, "RO")));
    EXPECT_TRUE(ro.Dev.FormatUnit(FormatDVDRWRestricted));
    EXPECT_EQ(ro.Dev.DiscIs(), mtDVDRWRO);
    EXPECT_TRUE(WritePackets(ro.Dev, 0, MakeImage(32, "RO")));
    // Blanking turns it into an empty sequential disc.
    EXPECT_TRUE(ro.Dev.Blank(true));
    EXPECT_EQ(ro.Dev.DiscIs(), mtDVDRWSR);
}

TEST(RecorderFaults, LongWriteInProgressIsRetriedUntilTheDriveTakesThePacket) {
    TVirtualDrive drive(mtDVDPLUSRW, 20000);
    TSCSIDevice& dev = drive.Dev;
    drive.Rec->InjectLongWriteInProgress(3);
    const auto image = MakeImage(32, "LW");
    unsigned attempts = 0;
    for (;;) {
        const bool ok = dev.Write10(0, 32, image.data());
        if (ok)
            break;
        ++attempts;
        EXPECT_EQ(dev.LastSenseInfo.Key(), sense::NotReady);
        EXPECT_EQ(dev.DeviceError, 0x0408);
        ASSERT_EQ(PacketWriteVerdict(Answer(dev, ok), attempts),
                  (TRetryVerdict{TSenseAction::Retry, 100}));
    }
    EXPECT_EQ(attempts, 3u);
}

TEST(RecorderFaults, WriteErrorAtAnAddressFailsThePacketCoveringIt) {
    TVirtualDrive drive(mtDVDR, 20000);
    TSCSIDevice& dev = drive.Dev;
    drive.Rec->InjectWriteError(40);
    const auto image = MakeImage(64, "WE");
    EXPECT_TRUE(dev.Write10(0, 32, image.data()));
    const bool ok = dev.Write10(32, 32, image.data() + 32 * 2048);
    EXPECT_FALSE(ok);
    EXPECT_EQ(dev.LastSenseInfo.Key(), sense::MediumError);
    EXPECT_EQ(dev.DeviceError, 0x0C00);
    EXPECT_EQ(PacketWriteVerdict(Answer(dev, ok), 1).Action, TSenseAction::Fail);
    ASSERT_TRUE(dev.ReadTrackInformation(1));
    EXPECT_EQ(dev.TrackInformation.NextWritableAddress, 32u);
}

TEST(RecorderFaults, BusyTargetAndMediumRemoval) {
    TVirtualDrive drive(mtDVDR);
    TSCSIDevice& dev = drive.Dev;
    drive.Rec->InjectBusy(2);
    EXPECT_FALSE(dev.ReadDiscInformation(64));
    EXPECT_TRUE(dev.TargetBusy);
    EXPECT_EQ(PacketWriteVerdict(Answer(dev, false), 1).Action, TSenseAction::Retry);
    EXPECT_FALSE(dev.TestUnitReady());
    EXPECT_TRUE(dev.TestUnitReady());

    drive.Rec->InjectMediumRemoval(2);
    EXPECT_TRUE(dev.TestUnitReady());
    EXPECT_TRUE(dev.TestUnitReady());
    EXPECT_FALSE(dev.TestUnitReady());
    EXPECT_EQ(dev.LastSenseInfo.Key(), sense::NotReady);
    EXPECT_EQ(dev.DeviceError, 0x3A01);
    EXPECT_EQ(dev.DiscIs(), mtUNKNOWN);
    EXPECT_FALSE(dev.Writable());
}

TEST(RecorderFaults, LockedTrayRefusesToEjectAndAnOpenTrayHasNoDisc) {
    TVirtualDrive drive(mtDVDR);
    TSCSIDevice& dev = drive.Dev;
    ASSERT_TRUE(dev.LockMedium());
    EXPECT_FALSE(dev.EjectMedium(false));
    EXPECT_EQ(dev.DeviceError, 0x5302);
    ASSERT_TRUE(dev.UnlockMedium());
    ASSERT_TRUE(dev.EjectMedium(false));
    EXPECT_TRUE(drive.Rec->TrayOpen());
    EXPECT_FALSE(dev.TestUnitReady());
    EXPECT_EQ(dev.DeviceError, 0x3A02);
    EXPECT_EQ(dev.DiscIs(), mtUNKNOWN);
    ASSERT_TRUE(dev.LoadMedium(false));
    EXPECT_EQ(dev.DiscIs(), mtDVDR);
}

TEST(RecorderImage, EveryBurnGetsItsOwnFileAfterTheLabel) {
    TVirtualDrive drive(mtDVDPLUSR, 10000);
    drive.Rec->SetAutoReload(true);
    TSCSIDevice& dev = drive.Dev;
    const auto first = MakeImage(64, "VACATION");
    ASSERT_TRUE(WritePackets(dev, 0, first));
    const std::string firstPath = drive.Rec->ImagePath();
    EXPECT_EQ(firstPath, drive.Dir / "VACATION.iso");
    ASSERT_TRUE(dev.EjectMedium(false)); // a fresh blank disc sits in the drive again
    EXPECT_EQ(drive.Rec->ImagePath(), "");
    EXPECT_EQ(drive.Rec->LastImagePath(), firstPath);
    EXPECT_EQ(dev.DiscIs(), mtDVDPLUSR);
    const auto second = MakeImage(32, "VACATION");
    ASSERT_TRUE(WritePackets(dev, 0, second));
    EXPECT_EQ(drive.Rec->ImagePath(), drive.Dir / "VACATION (2).iso");
    EXPECT_EQ(devtest::ReadFile(firstPath).size(), first.size()); // untouched

    drive.Rec->SetVolumeLabel("Given label");
    ASSERT_TRUE(dev.EjectMedium(false));
    ASSERT_TRUE(WritePackets(dev, 0, second));
    EXPECT_EQ(drive.Rec->ImagePath(), drive.Dir / "Given label.iso");

    drive.Rec->SetVolumeLabel("");
    drive.Rec->SetImageFolder(drive.Dir / "not/yet");
    ASSERT_TRUE(dev.EjectMedium(false));
    ASSERT_TRUE(WritePackets(dev, 0, second));
    EXPECT_EQ(drive.Rec->ImagePath(), drive.Dir / "not/yet/VACATION.iso");

    drive.Rec->SetImagePath(drive.Dir / "fixed.img");
    ASSERT_TRUE(dev.EjectMedium(false));
    ASSERT_TRUE(WritePackets(dev, 0, second));
    EXPECT_EQ(drive.Rec->ImagePath(), drive.Dir / "fixed.img");
}

TEST(RecorderImage, FileNamesNeverOverwrite) {
    TTempDir dir;
    EXPECT_EQ(VirtualImageFileName(dir.Path(), "DVD_VIDEO"), dir / "DVD_VIDEO.iso");
    std::ofstream(dir / "DVD_VIDEO.iso") << "x";
    std::ofstream(dir / "DVD_VIDEO (2).iso") << "x";
    EXPECT_EQ(VirtualImageFileName(dir.Path(), "DVD_VIDEO"), dir / "DVD_VIDEO (3).iso");
    EXPECT_EQ(VirtualImageFileName(dir.Path(), "a/b\\c\td"), dir / "a_b_c_d.iso");
    EXPECT_EQ(VirtualImageFileName(dir.Path(), "  "), dir / "disc.iso");
    EXPECT_EQ(VirtualImageFileName(dir.Path(), ".."), dir / "disc.iso");
    EXPECT_EQ(VirtualImageFileName(dir.Path(), " MY DISC  "), dir / "MY DISC.iso");
    // A dangling link counts as taken too.
    std::filesystem::create_symlink(dir / "nowhere", dir / "LINK.iso");
    EXPECT_EQ(VirtualImageFileName(dir.Path(), "LINK"), dir / "LINK (2).iso");
}

TEST(RecorderAnswers, UnknownCommandsAndRequestSense) {
    TVirtualDrive drive(mtUNKNOWN);
    EXPECT_EQ(drive.Dev.SendCommand({0xE7, 0, 0, 0, 0, 0}), SS_ERR);
    EXPECT_EQ(drive.Dev.DeviceError, 0x2000);
    EXPECT_FALSE(drive.Dev.TestUnitReady());
    alignas(4) uint8_t sense[18] = {};
    ASSERT_EQ(drive.Dev.SendCommand({0x03, 0, 0, 0, 18, 0}, SRB_READ, sense, 18), SS_COMP);
    EXPECT_EQ(sense[2], sense::NotReady);
    EXPECT_EQ(sense[12], 0x3A);
}
