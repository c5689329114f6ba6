// The SG_IO transport: the request built for each direction, the refusal of transfers whose
// length disagrees with the CDB, and the decoding of status and sense, all through the
// replaceable ioctl entry point.
#include "DeviceTestSupport.h"

#include <cerrno>
#include <scsi/sg.h>

using namespace burner;
using devtest::TTempDir;

namespace {

TSRB_ExecSCSICmd Command(std::initializer_list<uint8_t> cdb, uint8_t flags, void* buffer,
                         uint32_t length) {
    return MakeCommand(cdb.begin(), uint8_t(cdb.size()), flags, buffer, length);
}

// What the ioctl stand-in saw, and what it answers.
struct TFakeIoctl {
    std::vector<sg_io_hdr_t> Requests;
    std::vector<std::vector<uint8_t>> Cdbs;
    int Result = 0;
    int Errno = 0;
    uint8_t Status = 0, HostStatus = 0, DriverStatus = 0;
    std::vector<uint8_t> Sense;

    TIoctlFunction Function() {
        return [this](int, unsigned long request, void* arg) -> int {
            EXPECT_EQ(request, (unsigned long)SG_IO);
            auto* h = static_cast<sg_io_hdr_t*>(arg);
            Requests.push_back(*h);
            Cdbs.emplace_back(h->cmdp, h->cmdp + h->cmd_len);
            if (Result < 0) {
                errno = Errno;
                return Result;
            }
            h->status = Status;
            h->masked_status = Status >> 1;
            h->host_status = HostStatus;
            h->driver_status = DriverStatus;
            const size_t n = std::min<size_t>(Sense.size(), h->mx_sb_len);
            if (n)
                std::memcpy(h->sbp, Sense.data(), n);
            h->sb_len_wr = uint8_t(n);
            return 0;
        };
    }
};

} // namespace

TEST(SgIoRequest, BuiltForEachDirection) {
    std::vector<uint8_t> buffer(32 * 2048);
    uint8_t sense[32];
    sg_io_hdr_t h;

    auto read = Command({0x28, 0, 0, 0, 0x10, 0, 0, 0, 2, 0}, SRB_READ, buffer.data(), 4096);
    ASSERT_TRUE(BuildSgIoRequest(read, h, sense));
    EXPECT_EQ(h.interface_id, 'S');
    EXPECT_EQ(h.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(h.dxfer_len, 4096u); // 2 blocks x 2048
    EXPECT_EQ(h.dxferp, buffer.data());
    EXPECT_EQ(h.cmd_len, 10);
    EXPECT_EQ(h.cmdp, read.CDBByte);
    EXPECT_EQ(h.mx_sb_len, 24);
    EXPECT_EQ(h.sbp, sense);
    EXPECT_EQ(h.timeout, 12000u * 1000u);

    auto write = Command({0x2A, 0, 0, 0, 0, 0, 0, 0, 32, 0}, SRB_WRITE, buffer.data(), 65536);
    ASSERT_TRUE(BuildSgIoRequest(write, h, sense));
    EXPECT_EQ(h.dxfer_direction, SG_DXFER_TO_DEV);
    EXPECT_EQ(h.dxfer_len, 65536u);

    auto none = Command({0x00, 0, 0, 0, 0, 0}, SRB_NODATA, buffer.data(), 100);
    ASSERT_TRUE(BuildSgIoRequest(none, h, sense));
    EXPECT_EQ(h.dxfer_direction, SG_DXFER_NONE);
    EXPECT_EQ(h.dxfer_len, 0u);
    EXPECT_EQ(h.dxferp, nullptr);
    EXPECT_EQ(h.cmd_len, 6);

    auto select = Command({0x55, 0x10, 0, 0, 0, 0, 0, 0, 60, 0}, SRB_WRITE, buffer.data(), 60);
    select.SRB_TimeOut = 30;
    ASSERT_TRUE(BuildSgIoRequest(select, h, sense));
    EXPECT_EQ(h.dxfer_direction, SG_DXFER_TO_DEV);
    EXPECT_EQ(h.dxfer_len, 60u);
    EXPECT_EQ(h.timeout, 30000u);

    auto blank = Command({0xA1, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, SRB_NODATA, nullptr, 0);
    ASSERT_TRUE(BuildSgIoRequest(blank, h, sense));
    EXPECT_EQ(h.cmd_len, 12);
}

TEST(SgIoRequest, TransfersThatDisagreeWithTheirCdbAreRefused) {
    std::vector<uint8_t> buffer(65536);
    uint8_t sense[32];
    sg_io_hdr_t h;
    struct TCase {
        const char* Name;
        TSRB_ExecSCSICmd Srb;
    } cases[] = {
        {"READ short buffer",
         Command({0x28, 0, 0, 0, 0, 0, 0, 0, 2, 0}, SRB_READ, buffer.data(), 2048)},
        {"WRITE long buffer",
         Command({0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, SRB_WRITE, buffer.data(), 4096)},
        {"WRITE sent as data in",
         Command({0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, SRB_READ, buffer.data(), 2048)},
        {"READ sent as data out",
         Command({0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, SRB_WRITE, buffer.data(), 2048)},
        {"READ (12) short",
         Command({0xA8, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0}, SRB_READ, buffer.data(), 4096)},
        {"both directions",
         Command({0x12, 0, 0, 0, 64, 0}, SRB_READ | SRB_WRITE, buffer.data(), 64)},
        {"no buffer", Command({0x12, 0, 0, 0, 64, 0}, SRB_READ, nullptr, 64)},
    };
    for (auto& c : cases)
        EXPECT_FALSE(BuildSgIoRequest(c.Srb, h, sense)) << c.Name;

    // Through the transport: the ioctl is never reached.
    TTempDir dir;
    std::ofstream(dir / "sr0") << "";
    TFakeIoctl fake;
    TSgIoTransport transport(dir / "sr0", fake.Function());
    auto srb = Command({0x2A, 0, 0, 0, 0, 0, 0, 0, 2, 0}, SRB_WRITE, buffer.data(), 2048);
    EXPECT_EQ(transport.Execute(srb), uint32_t(EINVAL));
    EXPECT_EQ(srb.SRB_Status, SS_ERR);
    EXPECT_TRUE(fake.Requests.empty());
}

TEST(SgIoAnswer, StatusAndSenseDecoding) {
    TTempDir dir;
    std::ofstream(dir / "sr0") << "";
    TFakeIoctl fake;
    TSgIoTransport transport(dir / "sr0", fake.Function());
    uint8_t data[64];

    auto good = Command({0x12, 0, 0, 0, 64, 0}, SRB_READ, data, 64);
    EXPECT_EQ(transport.Execute(good), 0u);
    EXPECT_EQ(good.SRB_Status, SS_COMP);
    EXPECT_EQ(good.SRB_TargStat, 0);
    EXPECT_TRUE(transport.IsOpen());
    EXPECT_FALSE(transport.IsReadOnly());

    // CHECK CONDITION: the first 24 sense bytes come back, no more.
    fake.Status = STATUS_CHKCOND;
    fake.DriverStatus = 0x08; // driver sense
    fake.Sense.assign(32, 0xEE);
    fake.Sense[0] = 0x70;
    fake.Sense[2] = 0x03;
    fake.Sense[12] = 0x0C;
    fake.Sense[13] = 0x00;
    auto check = Command({0x00, 0, 0, 0, 0, 0}, SRB_NODATA, nullptr, 0);
    EXPECT_EQ(transport.Execute(check), 0u);
    EXPECT_EQ(check.SRB_Status, SS_ERR);
    EXPECT_EQ(check.SRB_TargStat, STATUS_CHKCOND);
    EXPECT_EQ(check.SenseArea[2], 0x03);
    EXPECT_EQ(check.SenseArea[12], 0x0C);
    EXPECT_EQ(check.SenseArea[23], 0xEE);
    EXPECT_EQ(check.SenseArea[24], 0x00);

    // BUSY: error with the status as target status and no sense.
    fake.Status = STATUS_BUSY;
    fake.DriverStatus = 0;
    fake.Sense.clear();
    auto busy = Command({0x00, 0, 0, 0, 0, 0}, SRB_NODATA, nullptr, 0);
    transport.Execute(busy);
    EXPECT_EQ(busy.SRB_Status, SS_ERR);
    EXPECT_EQ(busy.SRB_TargStat, STATUS_BUSY);
    EXPECT_EQ(busy.SenseArea[12], 0);

    // A host adapter failure (time-out) with a good SCSI status is still an error.
    fake.Status = 0;
    fake.HostStatus = 0x03;
    auto timeout = Command({0x00, 0, 0, 0, 0, 0}, SRB_NODATA, nullptr, 0);
    transport.Execute(timeout);
    EXPECT_EQ(timeout.SRB_Status, SS_ERR);
    EXPECT_EQ(timeout.SRB_HaStat, 0x03);

    // The ioctl itself failing gives the system error.
    fake.Result = -1;
    fake.Errno = EIO;
    auto failed = Command({0x00, 0, 0, 0, 0, 0}, SRB_NODATA, nullptr, 0);
    EXPECT_EQ(transport.Execute(failed), uint32_t(EIO));
    EXPECT_EQ(failed.SRB_Status, SS_ERR);

    transport.Close();
    EXPECT_FALSE(transport.IsOpen());
    TSgIoTransport missing(dir / "sr9", fake.Function());
    auto none = Command({0x00, 0, 0, 0, 0, 0}, SRB_NODATA, nullptr, 0);
    EXPECT_EQ(missing.Execute(none), uint32_t(ENOENT));
    EXPECT_EQ(none.SRB_Status, SS_ERR);
}

TEST(SgIoAnswer, ThroughTheDeviceList) {
    TTempDir dir;
    namespace fs = std::filesystem;
    fs::create_directories(dir / "sys/sr0");
    fs::create_directories(dir / "devices/0:0:0:0");
    fs::create_symlink(dir / "devices/0:0:0:0", dir / "sys/sr0/device");
    fs::create_directories(dir / "dev");
    std::ofstream(dir / "dev/sr0") << "";
    TFakeIoctl fake;
    TSCSIDevice dev;
    dev.SetDriveScanFolders(dir / "sys", dir / "dev");
    dev.SetIoctlFunction(fake.Function());
    ASSERT_TRUE(dev.InitializeASPI(false, "", ""));
    ASSERT_EQ(dev.DeviceCount(), 2);
    ASSERT_TRUE(dev.SelectDevice(0));
    ASSERT_TRUE(dev.OpenTrace(dir / "t.elg"));

    std::vector<uint8_t> packet(32 * 2048);
    fake.Requests.clear();
    EXPECT_TRUE(dev.Write10(100, 32, packet.data()));
    EXPECT_TRUE(dev.Read10(100, 3, packet.data()));
    ASSERT_EQ(fake.Requests.size(), 2u);
    EXPECT_EQ(fake.Requests[0].dxfer_direction, SG_DXFER_TO_DEV);
    EXPECT_EQ(fake.Requests[0].dxfer_len, 32u * 2048);
    EXPECT_EQ(fake.Requests[1].dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(fake.Requests[1].dxfer_len, 3u * 2048);

    fake.Status = STATUS_BUSY;
    EXPECT_FALSE(dev.TestUnitReady());
    EXPECT_TRUE(dev.TargetBusy);
    fake.Status = 0;
    fake.Result = -1;
    fake.Errno = ENODEV;
    EXPECT_FALSE(dev.TestUnitReady());
    EXPECT_EQ(dev.LastWinError, uint32_t(ENODEV));
    EXPECT_FALSE(dev.TargetBusy);
    EXPECT_EQ(ClassifyAnswer(SS_ERR, dev.TargetBusy, dev.LastSenseInfo, dev.LastWinError),
              TAnswerKind::TransportFailed);
    dev.CloseTrace();
    const auto lines = devtest::SplitCrLf(devtest::ReadFile(dir / "t.elg"));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_NE(lines[1].find("WRITE (10)"), std::string::npos);
    EXPECT_TRUE(lines[1].ends_with("00:00, 0")) << lines[1];
    EXPECT_TRUE(lines[4].ends_with("00:00, " + std::to_string(ENODEV))) << lines[4];

    // With CloseFH the node is closed after each command.
    dev.CloseFH = true;
    fake.Result = 0;
    EXPECT_TRUE(dev.TestUnitReady());
}
