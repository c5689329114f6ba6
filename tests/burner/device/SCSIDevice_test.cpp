// The device list, selection, the command routine with its status/sense bookkeeping, and the
// command trace.
#include "DeviceTestSupport.h"

#include <cctype>
#include <scsi/sg.h>
#include <unistd.h>

using namespace burner;
using devtest::TTempDir;
using devtest::TVirtualDrive;

namespace {

std::string FdPath(int fd) {
    char buffer[4096];
    const ssize_t n =
        ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, size_t(n)) : std::string();
}

// A made-up sysfs tree with optical drives whose nodes are plain files; the ioctl stand-in
// answers INQUIRY with the identity given for each node.
struct TFakeDrives {
    TTempDir Dir;
    std::map<std::string, std::string> Identity; // node path -> 28 chars vendor+product+rev
    std::vector<std::vector<uint8_t>> Cdbs;

    void AddDrive(const std::string& node, const std::string& address, const std::string& identity,
                  bool createNode = true) {
        namespace fs = std::filesystem;
        fs::create_directories(Dir / ("sys/" + node));
        fs::create_directories(Dir / "dev");
        if (!address.empty()) {
            fs::create_directories(Dir / ("devices/" + address));
            std::ofstream(Dir / ("devices/" + address + "/type")) << "5\n";
            fs::create_symlink(Dir / ("devices/" + address), Dir / ("sys/" + node + "/device"));
        }
        if (createNode)
            std::ofstream(Dir / ("dev/" + node)) << "";
        Identity[Dir / ("dev/" + node)] = identity;
    }

    TIoctlFunction Ioctl() {
        return [this](int fd, unsigned long request, void* arg) -> int {
            EXPECT_EQ(request, (unsigned long)SG_IO);
            auto* h = static_cast<sg_io_hdr_t*>(arg);
            Cdbs.emplace_back(h->cmdp, h->cmdp + h->cmd_len);
            h->status = h->host_status = h->driver_status = 0;
            h->sb_len_wr = 0;
            if (h->cmdp[0] == 0x12) {
                auto* d = static_cast<uint8_t*>(h->dxferp);
                std::memset(d, 0, h->dxfer_len);
                d[0] = 5;
                const std::string id = Identity[FdPath(fd)];
                std::memcpy(d + 8, id.data(), std::min<size_t>(id.size(), 28));
            }
            return 0;
        };
    }
};

} // namespace

TEST(DeviceList, WithoutDrivesOnlyTheVirtualRecorderIsListed) {
    TTempDir dir;
    std::filesystem::create_directories(dir / "sys");
    TSCSIDevice dev;
    dev.SetDriveScanFolders(dir / "sys", dir / "dev");
    EXPECT_TRUE(dev.InitializeASPI(false, "", ""));
    ASSERT_EQ(dev.DeviceCount(), 1);
    EXPECT_EQ(dev.GetDeviceName(0), "0:0:0,C: ORDAVINE VIRTUAL RECORDER 1.00 ");
    EXPECT_EQ(dev.GetDeviceName(1), "");
    EXPECT_FALSE(dev.UsingSPTI);

    // Without the recorder nothing is left: no list, and commands go nowhere.
    TSCSIDevice bare;
    bare.SetDriveScanFolders(dir / "sys", dir / "dev");
    bare.SetVirtualRecorderEnabled(false);
    EXPECT_FALSE(bare.InitializeASPI(false, "", ""));
    EXPECT_EQ(bare.DeviceCount(), 0);
    EXPECT_EQ(bare.SendCommand({0, 0, 0, 0, 0, 0}), SS_ERR);
}

TEST(DeviceList, RealDrivesComeFirstWithTheirAddressAndInquiryStrings) {
    TFakeDrives fake;
    fake.AddDrive("sr0", "1:0:0:0",
                  std::string("HL-DT-ST") + "DVDRAM GH24NSD1 " +
                      "LG\x01"
                      "0");
    fake.AddDrive("sr1", "2:0:3:0", std::string("ASUS    ") + "BW-16D1HT       " + "3.10");
    fake.AddDrive("sr2", "", std::string("PIONEER ") + "BD-RW   BDR-209D" + "1.10"); // no address
    fake.AddDrive("sr3", "4:0:0:0", "GONE", /*createNode=*/false); // cannot be opened
    std::filesystem::create_directories(fake.Dir / "sys/sda");     // not an optical drive
    const std::string trace = fake.Dir / "trace.elg";

    TSCSIDevice dev;
    dev.SetDriveScanFolders(fake.Dir / "sys", fake.Dir / "dev");
    dev.SetIoctlFunction(fake.Ioctl());
    ASSERT_TRUE(dev.InitializeASPI(false, "", trace));
    ASSERT_EQ(dev.DeviceCount(), 4);
    EXPECT_EQ(dev.GetDeviceName(0), "1:0:0,C: HL-DT-ST DVDRAM GH24NSD1  LG 0 ");
    EXPECT_EQ(dev.GetDeviceName(1), "2:3:0,D: ASUS     BW-16D1HT        3.10 ");
    // The drive without a bus address goes behind the others with the next adapter number.
    EXPECT_EQ(dev.GetDeviceName(2), "3:0:0,E: PIONEER  BD-RW   BDR-209D 1.10");
    EXPECT_EQ(dev.GetDeviceName(3), "4:0:0,F: ORDAVINE VIRTUAL RECORDER 1.00 ");
    EXPECT_TRUE(dev.UsingSPTI);
    EXPECT_EQ(dev.DriveLetter, 'E'); // the last drive the scan opened
    for (const auto& cdb : fake.Cdbs)
        EXPECT_EQ(cdb, (std::vector<uint8_t>{0x12, 0, 0, 0, 0x40, 0}));

    dev.CloseTrace();
    const auto lines = devtest::SplitCrLf(devtest::ReadFile(trace));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], BurnerVersion);
    EXPECT_EQ(lines[1], "C: 5 - ( 1:0:0,C: HL-DT-ST DVDRAM GH24NSD1  LG 0 )");
    EXPECT_EQ(lines[2], "D: 5 - ( 2:3:0,D: ASUS     BW-16D1HT        3.10 )");
    EXPECT_EQ(lines[3], "E: 5 - ( 0:0:0,E: PIONEER  BD-RW   BDR-209D 1.10 )");
    EXPECT_EQ(lines[4], "System Error Code: 2"); // read-write open of the missing node
    EXPECT_EQ(lines[5], "System Error Code: 2"); // and the read-only one

    // Selecting by letter reaches the drive with that letter.
    EXPECT_TRUE(dev.SelectDeviceByLetter('D'));
    EXPECT_EQ(dev.SelectedDevice, 1);
    EXPECT_STREQ(dev.Vendor, "ASUS    ");
    EXPECT_STREQ(dev.ProductID, "BW-16D1HT       ");
    EXPECT_FALSE(dev.DeviceIsBurner()); // the stand-in answers no capabilities page
    EXPECT_TRUE(dev.SelectDeviceByLetter('F'));
    EXPECT_TRUE(dev.VirtualSelected());
    EXPECT_FALSE(dev.SelectDeviceByLetter(0));
    EXPECT_FALSE(dev.SelectDeviceByLetter('Q'));
}

TEST(DeviceList, NoInternalScanGivesOnlyTheRecorder) {
    TFakeDrives fake;
    fake.AddDrive("sr0", "1:0:0:0", "X");
    TSCSIDevice dev;
    dev.SetDriveScanFolders(fake.Dir / "sys", fake.Dir / "dev");
    dev.SetIoctlFunction(fake.Ioctl());
    ASSERT_TRUE(dev.InitializeASPI(true, "", ""));
    ASSERT_EQ(dev.DeviceCount(), 1);
    EXPECT_EQ(dev.GetDeviceName(0), "0:0:0,C: ORDAVINE VIRTUAL RECORDER 1.00 ");
    EXPECT_TRUE(fake.Cdbs.empty());
}

TEST(Selection, IndexBeyondTheListLeavesNoDriveAndCommandsAreNotSent) {
    TVirtualDrive drive;
    EXPECT_STREQ(drive.Dev.Vendor, "ORDAVINE");
    EXPECT_STREQ(drive.Dev.ProductID, "VIRTUAL RECORDER");
    EXPECT_FALSE(drive.Dev.SelectDevice(uint8_t(drive.Dev.DeviceCount())));
    EXPECT_EQ(drive.Dev.HaID, 255);
    EXPECT_EQ(drive.Dev.Target, 255);
    EXPECT_EQ(drive.Dev.DriveLetter, '?');
    EXPECT_EQ(drive.Dev.SendCommand({0, 0, 0, 0, 0, 0}), SS_ERR);
    EXPECT_TRUE(drive.Rec->Commands().empty());
    // Selecting again works.
    EXPECT_TRUE(drive.Dev.SelectDevice(0));
    EXPECT_TRUE(drive.Dev.TestUnitReady());
}

TEST(Selection, CommandsBeforeTheListEndWithErrorAndAfterItGoToTheScannedDrive) {
    TSCSIDevice dev;
    EXPECT_EQ(dev.SendCommand({0, 0, 0, 0, 0, 0}), SS_ERR);
    TTempDir dir;
    std::filesystem::create_directories(dir / "sys");
    dev.SetDriveScanFolders(dir / "sys", dir / "dev");
    dev.VirtualRecorder()->InsertMedium(mtDVDR);
    ASSERT_TRUE(dev.InitializeASPI(false, "", ""));
    // No selection yet: the address is 0:0:0, which is the recorder here.
    EXPECT_EQ(dev.SendCommand({0, 0, 0, 0, 0, 0}), SS_COMP);
}

TEST(CommandRoutine, BusyAndSenseBookkeeping) {
    TVirtualDrive drive(mtDVDPLUSRW);
    TSCSIDevice& dev = drive.Dev;
    EXPECT_EQ(dev.DeviceError, 0);

    drive.Rec->InjectBusy(1);
    EXPECT_FALSE(dev.TestUnitReady());
    EXPECT_TRUE(dev.TargetBusy);
    EXPECT_EQ(dev.DeviceError, 0); // busy carries no sense
    EXPECT_EQ(ClassifyAnswer(SS_ERR, dev.TargetBusy, dev.LastSenseInfo), TAnswerKind::Busy);
    EXPECT_TRUE(dev.TestUnitReady());
    EXPECT_FALSE(dev.TargetBusy);

    drive.Rec->InjectUnformatted();
    std::vector<uint8_t> packet(32 * 2048, 0);
    EXPECT_FALSE(dev.Write10(0, 32, packet.data()));
    EXPECT_FALSE(dev.TargetBusy);
    EXPECT_EQ(dev.LastSenseInfo.Key(), sense::IllegalRequest);
    EXPECT_EQ(dev.LastSenseInfo.AddSenseCode, 0x30);
    EXPECT_EQ(dev.LastSenseInfo.AddSenQual, 0x05);
    EXPECT_EQ(dev.DeviceError, 12293);

    // A completed command clears the sense but leaves the drive error for the caller to read.
    EXPECT_TRUE(dev.TestUnitReady());
    EXPECT_EQ(dev.LastSenseInfo.AddSenseCode, 0);
    EXPECT_EQ(dev.LastSenseInfo.Key(), 0);
    EXPECT_EQ(dev.DeviceError, 12293);
}

TEST(CommandRoutine, WriteAddressModeZeroesTheHighAddressBytes) {
    TVirtualDrive drive(mtDVDPLUSRW);
    std::vector<uint8_t> packet(2048, 0);
    drive.Dev.Write10(0x00010020, 1, packet.data());
    EXPECT_EQ(drive.Last().Cdb[3], 0x01);
    EXPECT_TRUE(drive.Dev.DeviceCan(77));
    EXPECT_TRUE(drive.Dev.Write10(0x00010020, 1, packet.data()));
    EXPECT_EQ(drive.Last().Cdb, (std::vector<uint8_t>{0x2A, 0, 0, 0, 0x00, 0x20, 0, 0, 1, 0}));
}

TEST(CommandRoutine, TransferWhoseLengthDisagreesWithTheCdbIsNeverSent) {
    TVirtualDrive drive(mtDVDPLUSRW);
    std::vector<uint8_t> buffer(4096, 0);
    // Two blocks in the CDB, one block of buffer.
    EXPECT_EQ(
        drive.Dev.SendCommand({0x2A, 0, 0, 0, 0, 0, 0, 0, 2, 0}, SRB_WRITE, buffer.data(), 2048),
        SS_ERR);
    EXPECT_EQ(
        drive.Dev.SendCommand({0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, SRB_READ, buffer.data(), 4096),
        SS_ERR);
    EXPECT_TRUE(drive.Rec->Commands().empty());
    EXPECT_EQ(drive.Dev.DeviceError, 0x2400);
    EXPECT_EQ(ClassifyAnswer(SS_ERR, drive.Dev.TargetBusy, drive.Dev.LastSenseInfo),
              TAnswerKind::Failed);
}

TEST(CommandTrace, LineForLine) {
    TTempDir cache;
    ::setenv("XDG_CACHE_HOME", (cache / "c").c_str(), 1);
    EXPECT_EQ(DefaultTracePath(), cache / "c/burner.elg");
    TVirtualDrive drive(mtUNKNOWN);
    TSCSIDevice& dev = drive.Dev;
    EXPECT_FALSE(dev.DeviceCan(73)); // nothing open yet
    ASSERT_TRUE(dev.DeviceCan(72));

    dev.TestUnitReady(); // no disc: 02/3A/01
    alignas(4) uint8_t inquiry[64] = {};
    dev.SendCommand({0x12, 0, 0, 0, 64, 0}, SRB_READ, inquiry, 64);
    alignas(4) uint8_t text[8] = {0, 'A', 'B', 0, 'C', 0, 0, 0};
    dev.SendCommand({0x00, 0, 0, 0, 0, 0}, SRB_READ, text + 1, 3); // unaligned buffer
    EXPECT_TRUE(dev.DeviceCan(73));
    EXPECT_FALSE(dev.DeviceCan(73));

    const auto lines = devtest::SplitCrLf(devtest::ReadFile(cache / "c/burner.elg"));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], BurnerVersion);
    const std::string zeros15 = "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ";
    // Each line: [prefix] "mm:ss:zzz " then the rest; the time is the only varying part.
    auto matches = [](const std::string& line, const std::string& prefix, const std::string& rest) {
        if (line.size() != prefix.size() + 10 + rest.size() ||
            line.compare(0, prefix.size(), prefix))
            return false;
        const std::string time = line.substr(prefix.size(), 10);
        for (size_t i : {0, 1, 3, 4, 6, 7, 8})
            if (!std::isdigit(static_cast<unsigned char>(time[i])))
                return false;
        return time[2] == ':' && time[5] == ':' && time[9] == ' ' &&
               line.compare(prefix.size() + 10, rest.size(), rest) == 0;
    };
    EXPECT_TRUE(
        matches(lines[1], "",
                "TEST UNIT READY        (00) {40:06} - 0:0:0 <04> [00000] " + zeros15 + "| 3A:01"))
        << lines[1];
    std::string answer = "05 80 05 32 1F 00 00 00 4F 52 44 41 56 49 4E 45 56 49 52 54 55 41 4C 20 "
                         "52 45 43 4F 52 44 45 52 31 2E 30 30 ";
    for (int i = 36; i < 64; ++i)
        answer += "00 ";
    EXPECT_TRUE(matches(lines[2], "",
                        "INQUIRY                (12) {48:06} - 0:0:0 <01> [00040] 00 00 00 40 " +
                            zeros15.substr(12) + "| " + answer + "00:00"))
        << lines[2];
    EXPECT_TRUE(matches(lines[3], "- NAL -> AB ",
                        "TEST UNIT READY        (00) {48:06} - 0:0:0 <04> [00003] " + zeros15 +
                            "| 41 42 00 3A:01"))
        << lines[3];
    ::unsetenv("XDG_CACHE_HOME");
}

TEST(CommandTrace, PassThroughLinesEndWithTheSystemErrorAndNamesArePadded) {
    TSRB_ExecSCSICmd srb;
    srb.CDBByte[0] = 0x5C;
    srb.SRB_CDBLen = 10;
    srb.SRB_Flags = SRB_READ;
    srb.SRB_Status = SS_ERR;
    srb.SRB_HaId = 2;
    srb.SRB_Target = 0x0B;
    srb.SenseArea[12] = 0x14;
    EXPECT_EQ(FormatTraceLine(srb, 5, 7, 9, true, 121),
              "05:07:009 READ BUFFER CAPACITY   (5C) {48:0A} - 2:B:0 <04> [00000] " +
                  std::string("00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ") + "| 14:00, 121");
    EXPECT_EQ(CommandName(0x4A), "GET EVENT/STATUS NOTIF");
    EXPECT_EQ(CommandName(0x00), "TEST UNIT READY       ");
    EXPECT_EQ(CommandName(0x02), "");
}

TEST(SenseDecoding, AnswersBecomeGoOnRetryOrFail) {
    auto senseOf = [](uint8_t asc, uint8_t ascq) {
        TSENSE s;
        s.AddSenseCode = asc;
        s.AddSenQual = ascq;
        return s;
    };
    EXPECT_EQ(ClassifyAnswer(SS_COMP, false, senseOf(0, 0)), TAnswerKind::Completed);
    EXPECT_EQ(ClassifyAnswer(SS_ERR, true, senseOf(0, 0)), TAnswerKind::Busy);
    EXPECT_EQ(ClassifyAnswer(SS_ERR, false, senseOf(4, 8)), TAnswerKind::NotReady);
    EXPECT_EQ(ClassifyAnswer(SS_ERR, false, senseOf(0, 0)), TAnswerKind::NoSense);
    EXPECT_EQ(ClassifyAnswer(SS_ERR, false, senseOf(0, 0), 5), TAnswerKind::TransportFailed);
    EXPECT_EQ(ClassifyAnswer(SS_ERR, false, senseOf(0x29, 0)), TAnswerKind::PowerOnReset);
    EXPECT_EQ(ClassifyAnswer(SS_ERR, false, senseOf(0x30, 5)), TAnswerKind::IncompatibleFormat);
    EXPECT_EQ(ClassifyAnswer(SS_ERR, false, senseOf(0x30, 2)), TAnswerKind::Failed);
    EXPECT_EQ(ClassifyAnswer(SS_ERR, false, senseOf(0x0C, 0)), TAnswerKind::Failed);

    using A = TAnswerKind;
    using S = TSenseAction;
    struct TCase {
        A Answer;
        unsigned Count;
        TRetryVerdict Packet, First;
    };
    const TCase cases[] = {
        {A::Completed, 0, {S::GoOn, 0}, {S::GoOn, 0}},
        {A::Busy, 0, {S::Retry, 100}, {S::Retry, 200}},
        {A::NotReady, 4998, {S::Retry, 100}, {S::Retry, 200}},
        {A::NotReady, 4999, {S::Retry, 100}, {S::Fail, 0}},
        {A::NotReady, 5000, {S::Fail, 0}, {S::Fail, 0}},
        {A::NoSense, 98, {S::Retry, 100}, {S::Retry, 200}},
        {A::NoSense, 99, {S::Retry, 100}, {S::Fail, 0}},
        {A::PowerOnReset, 0, {S::Fail, 0}, {S::Retry, 1200}},
        {A::IncompatibleFormat, 0, {S::Fail, 0}, {S::Format, 0}},
        {A::TransportFailed, 0, {S::Fail, 0}, {S::Fail, 0}},
        {A::Failed, 0, {S::Fail, 0}, {S::Fail, 0}},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(PacketWriteVerdict(c.Answer, c.Count), c.Packet)
            << int(c.Answer) << " " << c.Count;
        EXPECT_EQ(FirstWriteVerdict(c.Answer, c.Count, true), c.First)
            << int(c.Answer) << " " << c.Count;
    }
    EXPECT_EQ(FirstWriteVerdict(A::IncompatibleFormat, 0, false).Action, S::Fail);
}
