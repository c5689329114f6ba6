// The MMC drive and medium operations against the virtual recorder: the CDB bytes of each, the
// capability flags, medium detection, write parameters per medium, speeds and disc queries.
#include "DeviceTestSupport.h"

#include <functional>

using namespace burner;
using devtest::TVirtualDrive;

namespace {

std::vector<uint8_t> Hex(const std::string& text) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < text.size() + 1; i += 3)
        bytes.push_back(uint8_t(std::stoul(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string ToHex(const std::vector<uint8_t>& bytes, size_t from = 0, size_t count = SIZE_MAX) {
    std::string text;
    char b[4];
    for (size_t i = from; i < bytes.size() && i - from < count; ++i) {
        std::snprintf(b, sizeof b, i == from ? "%02X" : " %02X", bytes[i]);
        text += b;
    }
    return text;
}

} // namespace

TEST(DriveOperations, EachOperationSendsItsCdb) {
    struct TCase {
        const char* Name;
        TMedium Medium;
        std::function<bool(TSCSIDevice&)> Run;
        const char* Cdb;
        uint8_t Flags;
        uint32_t Length;
        const char* Data; // leading bytes of the data sent, or ""
    };
    static std::vector<uint8_t> buffer(64 * 2048, 0);
    static const std::vector<uint8_t> source(64 * 2048, 0xA5);
    std::tm stamp{};
    stamp.tm_year = 124;
    stamp.tm_mon = 2;
    stamp.tm_mday = 5;
    stamp.tm_hour = 6;
    stamp.tm_min = 7;
    stamp.tm_sec = 8;
    const TCase cases[] = {
        {"TEST UNIT READY", mtDVDR, [](auto& d) { return d.TestUnitReady(); }, "00 00 00 00 00 00",
         SRB_NODATA, 0, ""},
        {"UnlockDrive", mtDVDR, [](auto& d) { return d.UnlockDrive(); }, "00 00 00 00 00 00",
         SRB_NODATA, 0, ""},
        {"REZERO", mtDVDR, [](auto& d) { return d.Rezero(); }, "01 00 00 00 00 00", SRB_NODATA, 0,
         ""},
        {"FORMAT DVD-RW quick", mtDVDRWSR, [](auto& d) { return d.FormatUnit(FormatDVDRWQuick); },
         "04 11 00 00 00 00", SRB_WRITE, 12, "00 A2 00 08 00 00 03 E8 54 00 00 10"},
        {"FORMAT DVD-RW quick retry", mtDVDRWSR,
         [](auto& d) { return d.FormatUnit(FormatDVDRWQuickRetry); }, "04 11 00 00 00 00",
         SRB_WRITE, 12, "00 82 00 08 00 00 00 00 54 00 00 10"},
        {"FORMAT DVD-RW restricted", mtDVDRWRO,
         [](auto& d) { return d.FormatUnit(FormatDVDRWRestricted); }, "04 11 00 00 00 00",
         SRB_WRITE, 12, "00 82 00 08 00 00 00 00 4C 00 00 10"},
        {"FORMAT DVD+RW", mtDVDPLUSRW, [](auto& d) { return d.FormatUnit(FormatDVDPlusRW); },
         "04 11 00 00 00 00", SRB_WRITE, 12, "00 82 00 08 00 23 05 40 98 00 00 00"},
        {"INQUIRY", mtDVDR, [](auto& d) { return d.Inquiry(); }, "12 00 00 00 40 00", SRB_READ, 64,
         ""},
        {"load", mtDVDR, [](auto& d) { return d.LoadMedium(false); }, "1B 00 00 00 03 00",
         SRB_NODATA, 0, ""},
        {"load immediate", mtDVDR, [](auto& d) { return d.LoadMedium(true); }, "1B 01 00 00 03 00",
         SRB_NODATA, 0, ""},
        {"eject", mtDVDR, [](auto& d) { return d.EjectMedium(false); }, "1B 00 00 00 02 00",
         SRB_NODATA, 0, ""},
        {"eject immediate", mtDVDR, [](auto& d) { return d.EjectMedium(true); },
         "1B 01 00 00 02 00", SRB_NODATA, 0, ""},
        {"lock", mtDVDR, [](auto& d) { return d.LockMedium(); }, "1E 00 00 00 01 00", SRB_NODATA, 0,
         ""},
        {"unlock", mtDVDR, [](auto& d) { return d.UnlockMedium(); }, "1E 00 00 00 00 00",
         SRB_NODATA, 0, ""},
        {"READ FORMAT CAPACITIES", mtDVDPLUSRW, [](auto& d) { return d.FormattableCapacity() > 0; },
         "23 00 00 00 00 00 00 00 7C 00", SRB_READ, 124, ""},
        {"READ (10)", mtDVDPLUSRW, [](auto& d) { return d.Read10(0x10, 2, buffer.data()); },
         "28 00 00 00 00 10 00 00 02 00", SRB_READ, 4096, ""},
        {"WRITE (10)", mtDVDPLUSRW, [](auto& d) { return d.Write10(0x12345, 32, source.data()); },
         "2A 00 00 01 23 45 00 00 20 00", SRB_WRITE, 65536, "A5 A5"},
        {"SYNCHRONIZE CACHE", mtDVDR, [](auto& d) { return d.SynchronizeCache(false); },
         "35 00 00 00 00 00 00 00 00 00", SRB_NODATA, 0, ""},
        {"FlushCache", mtDVDR, [](auto& d) { return d.FlushCache(); },
         "35 02 00 00 00 00 00 00 00 00", SRB_NODATA, 0, ""},
        {"READ TOC ATIP", mtCDR, [](auto& d) { return d.ReadTOC(4, true, 0, 30); },
         "43 02 04 00 00 00 00 00 1E 00", SRB_READ, 30, ""},
        {"GET CONFIGURATION", mtDVDR, [](auto& d) { return d.GetConfiguration(0x2A, 112); },
         "46 02 00 2A 00 00 00 00 70 00", SRB_READ, 112, ""},
        {"GET CONFIGURATION profile", mtDVDR, [](auto& d) { return d.DiscIs() == mtDVDR; },
         "46 02 00 00 00 00 00 00 72 00", SRB_READ, 114, ""},
        {"READ DISC INFORMATION 64", mtDVDR, [](auto& d) { return d.ReadDiscInformation(64); },
         "51 00 00 00 00 00 00 00 40 00", SRB_READ, 64, ""},
        {"READ DISC INFORMATION 42", mtDVDR, [](auto& d) { return d.ReadDiscInformation(42); },
         "51 00 00 00 00 00 00 00 2A 00", SRB_READ, 42, ""},
        {"READ TRACK INFORMATION", mtDVDR, [](auto& d) { return d.ReadTrackInformation(1); },
         "52 01 00 00 00 01 00 00 26 00", SRB_READ, 38, ""},
        {"READ TRACK INFORMATION 255", mtDVDR, [](auto& d) { return d.ReadTrackInformation(255); },
         "52 01 00 00 00 FF 00 00 26 00", SRB_READ, 38, ""},
        {"RESERVE TRACK", mtDVDR, [](auto& d) { return d.ReserveTrack(0x00123450); },
         "53 00 00 00 00 00 12 34 50 00", SRB_NODATA, 0, ""},
        {"MODE SENSE defaults", mtDVDR, [](auto& d) { return d.ModeSense10(0x2A, true, 128); },
         "5A 00 AA 00 00 00 00 00 80 00", SRB_READ, 128, ""},
        {"MODE SENSE current", mtDVDR, [](auto& d) { return d.ModeSense10(0x05, false, 512); },
         "5A 00 05 00 00 00 00 02 00 00", SRB_READ, 512, ""},
        {"MODE SELECT", mtDVDR,
         [](auto& d) { return d.SetWriteParameters(false, true, mtDVDR, false); },
         "55 10 00 00 00 00 00 00 3C 00", SRB_WRITE, 60, "00 3A 00 00 00 00 00 00 05 32"},
        {"CLOSE TRACK", mtDVDR, [](auto& d) { return d.CloseTrackSession(false, 1, 1); },
         "5B 00 01 00 00 01 00 00 00 00", SRB_NODATA, 0, ""},
        {"CLOSE SESSION immediate", mtDVDR,
         [](auto& d) { return d.CloseTrackSession(true, 2, 0x0103); },
         "5B 01 02 00 01 03 00 00 00 00", SRB_NODATA, 0, ""},
        {"CLOSE DVD+RW", mtDVDPLUSRW, [](auto& d) { return d.CloseTrackSession(false, 3, 255); },
         "5B 00 03 00 00 FF 00 00 00 00", SRB_NODATA, 0, ""},
        {"READ BUFFER CAPACITY", mtDVDR, [](auto& d) { return d.ReadBufferCapacity(); },
         "5C 00 00 00 00 00 00 00 20 00", SRB_READ, 32, ""},
        {"BLANK quick", mtDVDRWSR, [](auto& d) { return d.Blank(true); },
         "A1 11 00 00 00 00 00 00 00 00 00 00", SRB_NODATA, 0, ""},
        {"BLANK full", mtDVDRWRO, [](auto& d) { return d.Blank(false); },
         "A1 10 00 00 00 00 00 00 00 00 00 00", SRB_NODATA, 0, ""},
        {"SET STREAMING", mtDVDR, [](auto& d) { return d.SetStreaming(0x0022F000, 11080, 5540); },
         "B6 00 00 00 00 00 00 00 00 00 1C 00", SRB_WRITE, 28,
         "00 00 00 00 00 00 00 00 00 22 F0 00 00 00 2B 48 00 00 03 E8 00 00 15 A4 00 00 03 E8"},
        {"SET CD SPEED", mtDVDR, [](auto& d) { return d.SetDeviceSpeed(11080, 2770); },
         "BB 01 2B 48 0A D2 00 00 00 00 00 00", SRB_NODATA, 0, ""},
        {"SET CD SPEED maximum", mtDVDR, [](auto& d) { return d.SetDeviceSpeed(0, 0); },
         "BB 01 FF FF FF FF 00 00 00 00 00 00", SRB_NODATA, 0, ""},
        {"SEND DVD STRUCTURE", mtDVDR, [&](auto& d) { return d.SendDVDTimeStamp(stamp); },
         "BF 00 00 00 00 00 00 0F 00 16 00 00", SRB_WRITE, 22,
         "00 14 00 00 00 00 00 00 32 30 32 34 30 33 30 35 30 36 30 37 30 38"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TVirtualDrive drive(c.Medium);
        EXPECT_TRUE(c.Run(drive.Dev)) << "the recorder refused it";
        const TRecordedCommand last = drive.Last();
        EXPECT_EQ(ToHex(last.Cdb), c.Cdb);
        EXPECT_EQ(last.Flags, c.Flags);
        EXPECT_EQ(last.Length, c.Length);
        if (*c.Data) {
            EXPECT_EQ(ToHex(last.DataOut, 0, Hex(c.Data).size()), c.Data);
        }
    }
}

namespace {

std::vector<int> FlagsSet(TSCSIDevice& dev) {
    std::vector<int> set;
    for (int id = 1; id <= 42; ++id)
        if (dev.DeviceCan(id))
            set.push_back(id);
    return set;
}

} // namespace

TEST(Capabilities, SameFlagsWithAndWithoutABlockDescriptor) {
    const std::vector<int> withDisc = {1,  2,  3,  4,  5,  6,  7,  8,  12, 13, 14, 21,
                                       22, 23, 24, 25, 26, 27, 28, 31, 32, 41, 42};
    for (bool descriptor : {false, true}) {
        SCOPED_TRACE(descriptor);
        TVirtualDrive drive(mtDVDR, 0, descriptor);
        EXPECT_EQ(FlagsSet(drive.Dev), withDisc);
        EXPECT_TRUE(drive.Dev.DeviceIsBurner());
        EXPECT_EQ(drive.Dev.ModePage2A.PageCode, 0x2A);
        EXPECT_EQ(drive.Dev.ModePage2A.BufferSize, 2048);
        EXPECT_EQ(drive.Dev.MaxWriteSpeed, 22160);
        EXPECT_EQ(drive.Dev.ModePage2A.DeviceMaxWriteSpeed, 35960);
    }
}

TEST(Capabilities, WithoutADiscEveryAnsweredFeatureCounts) {
    TVirtualDrive drive(mtUNKNOWN);
    // The HD DVD features are not the drive's, but with profile 0 their bare answers count.
    const std::vector<int> expected = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14,
                                       21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 41, 42};
    EXPECT_EQ(FlagsSet(drive.Dev), expected);
    EXPECT_EQ(drive.Dev.DiscIs(), mtUNKNOWN);
}

TEST(Capabilities, UnderrunProtectionFromThePageOrThePage30Probe) {
    TVirtualDrive drive(mtDVDR);
    drive.Rec->SetUnderrunProtection(false);
    EXPECT_TRUE(drive.Dev.RefreshCapabilities());
    EXPECT_TRUE(drive.Dev.DeviceCan(42)); // page 30h answers
    drive.Rec->SetPage30Supported(false);
    EXPECT_TRUE(drive.Dev.RefreshCapabilities());
    EXPECT_FALSE(drive.Dev.DeviceCan(42));
    drive.Rec->SetUnderrunProtection(true);
    EXPECT_TRUE(drive.Dev.RefreshCapabilities());
    EXPECT_TRUE(drive.Dev.DeviceCan(42));
}

TEST(Capabilities, FailedModeSenseLeavesEveryFlagCleared) {
    TVirtualDrive drive(mtDVDR);
    drive.Rec->InjectCommandFailure(0x5A, sense::IllegalRequest, 0x24, 0);
    EXPECT_FALSE(drive.Dev.RefreshCapabilities());
    EXPECT_TRUE(FlagsSet(drive.Dev).empty());
    EXPECT_FALSE(drive.Dev.DeviceIsBurner());
    EXPECT_EQ(drive.Dev.DeviceError, 0x2400);
}

TEST(MediumDetection, EveryKindAndNone) {
    const std::pair<TMedium, TMedium> cases[] = {
        {mtUNKNOWN, mtUNKNOWN},       {mtDVDR, mtDVDR},           {mtDVDPLUSR, mtDVDPLUSR},
        {mtDVDPLUSRDL, mtDVDPLUSRDL}, {mtDVDPLUSRW, mtDVDPLUSRW}, {mtDVDRW, mtDVDRWSR},
        {mtDVDRWSR, mtDVDRWSR},       {mtDVDRWRO, mtDVDRWRO},     {mtDVDRAM, mtDVDRAM},
        {mtBDRSR, mtBDRSR},           {mtBDRE, mtBDRE},           {mtCDR, mtCDR},
    };
    for (const auto& [inserted, expected] : cases) {
        TVirtualDrive drive(inserted);
        EXPECT_EQ(drive.Dev.DiscIs(), expected) << MediumName(inserted);
    }
}

TEST(MediumDetection, FallsBackToAtipDiscInformationAndTestUnitReady) {
    {
        TVirtualDrive drive(mtCDR);
        drive.Rec->InjectCommandFailure(0x46, sense::IllegalRequest, 0x20, 0);
        EXPECT_EQ(drive.Dev.DiscIs(), mtCDR); // from the ATIP
    }
    {
        TVirtualDrive drive(mtDVDRWSR);
        drive.Rec->InjectCommandFailure(0x46, sense::IllegalRequest, 0x20, 0);
        EXPECT_EQ(drive.Dev.DiscIs(), mtCDRW); // no ATIP on a DVD; erasable disc information
    }
    {
        TVirtualDrive drive(mtDVDR);
        drive.Rec->InjectCommandFailure(0x46, sense::IllegalRequest, 0x20, 0);
        drive.Rec->InjectCommandFailure(0x51, sense::IllegalRequest, 0x20, 0);
        EXPECT_EQ(drive.Dev.DiscIs(), mtCDROM); // only TEST UNIT READY answered
    }
    {
        TVirtualDrive drive(mtUNKNOWN);
        drive.Rec->InjectCommandFailure(0x46, sense::IllegalRequest, 0x20, 0);
        EXPECT_EQ(drive.Dev.DiscIs(), mtUNKNOWN);
    }
}

TEST(WriteParameters, PagePerMedium) {
    struct TCase {
        TMedium Medium;
        bool TestWrite, Multisession;
        const char* Page; // first 16 bytes as the drive receives them
    };
    const TCase cases[] = {
        {mtDVDR, false, false, "05 32 60 E5 08 10 00 00 00 00 00 00 00 10 00 96"},
        {mtDVDR, true, false, "05 32 70 E5 08 10 00 00 00 00 00 00 00 10 00 96"},
        {mtDVDRWSR, false, false, "05 32 60 C5 08 10 00 00 00 00 00 00 00 10 00 96"},
        {mtDVDRWRO, false, true, "05 32 60 C5 08 10 00 00 00 00 00 00 00 10 00 96"},
        {mtDVDPLUSR, false, false, "05 32 62 04 08 00 00 00 00 00 00 00 00 00 00 96"},
        {mtDVDPLUSR, false, true, "05 32 62 E4 08 10 00 00 00 00 00 00 00 10 00 96"},
        {mtDVDPLUSRW, false, false, "05 32 62 04 08 10 00 00 00 00 00 00 00 00 00 96"},
        {mtDVDPLUSRDL, false, false, "05 32 62 04 08 00 00 00 00 00 00 00 00 00 00 96"},
        {mtDVDPLUSRDL, false, true, "05 32 62 C4 08 00 00 00 00 00 00 00 00 00 00 96"},
        {mtDVDRAM, false, false, "05 32 41 04 08 00 00 00 00 00 00 00 00 00 00 96"},
        {mtBDRSR, false, true, "05 32 41 C4 08 00 00 00 00 00 00 00 00 00 00 96"},
        {mtBDRE, false, false, "05 32 41 04 08 00 00 00 00 00 00 00 00 00 00 96"},
        {mtCDR, false, true, "05 32 41 C4 08 00 00 00 00 00 00 00 00 00 00 96"},
        {mtCDR, true, false, "05 32 51 C4 08 00 00 00 00 00 00 00 00 00 00 96"},
        {mtUNKNOWN, false, false, "05 32 41 04 08 00 00 00 00 00 00 00 00 00 00 96"},
    };
    for (bool descriptor : {false, true})
        for (const TCase& c : cases) {
            SCOPED_TRACE(std::string(MediumName(c.Medium)) + (c.TestWrite ? " test" : "") +
                         (c.Multisession ? " multi" : "") + (descriptor ? " bd" : ""));
            TVirtualDrive drive(c.Medium, 0, descriptor);
            ASSERT_TRUE(drive.Dev.SetWriteParameters(c.TestWrite, true, c.Medium, c.Multisession));
            const TRecordedCommand select = drive.Last();
            const size_t header = descriptor ? 16 : 8;
            EXPECT_EQ(select.Length, 0x32 + header + 2);
            EXPECT_EQ(ToHex(select.DataOut, header, 16), c.Page);
            // The drive holds what was sent.
            EXPECT_EQ(ToHex(drive.Rec->Page05(), 0, 16), c.Page);
            EXPECT_EQ(
                ToHex(std::vector<uint8_t>(reinterpret_cast<uint8_t*>(&drive.Dev.ModePage05),
                                           reinterpret_cast<uint8_t*>(&drive.Dev.ModePage05) + 16)),
                c.Page);
        }
}

TEST(WriteParameters, SonyPowerBurnSetsLinkSizeValid) {
    TVirtualDrive drive(mtCDR);
    drive.Dev.SonyPowerBurn = 1;
    ASSERT_TRUE(drive.Dev.SetWriteParameters(false, true, mtCDR, false));
    EXPECT_EQ(drive.Rec->Page05()[2], 0x61);
}

TEST(WriteParameters, DrivesRefuseWhatTheMediumCannotDo) {
    TVirtualDrive drive(mtDVDR);
    // Track at once (the generic page) is not a DVD-R recording mode.
    EXPECT_FALSE(drive.Dev.SetWriteParameters(false, true, mtCDR, false));
    EXPECT_EQ(drive.Dev.DeviceError, 0x2600);
    TVirtualDrive plus(mtDVDPLUSR);
    EXPECT_FALSE(plus.Dev.SetWriteParameters(true, true, mtDVDPLUSR, false)); // no simulation
    drive.Rec->InjectCommandFailure(0x5A, sense::IllegalRequest, 0x24, 0);
    EXPECT_FALSE(drive.Dev.SetWriteParameters(false, true, mtDVDR, false));
}

TEST(Speeds, RequestsAndReadBacks) {
    TVirtualDrive drive(mtDVDR);
    TSCSIDevice& dev = drive.Dev;
    EXPECT_EQ(dev.GetMaxWriteSpeed(), 22160);
    EXPECT_EQ(dev.GetDeviceMaxReadSpeed(), 35960);
    EXPECT_EQ(dev.GetDeviceMaxWriteSpeed(), 35960);
    struct TCase {
        uint16_t Read, Write, ReadBack, WriteBack;
    };
    const TCase cases[] = {
        {0, 5540, 22160, 5540}, // exact
        {0, 6000, 22160, 5540}, // the drive takes the next lower speed it has
        {0, 1, 22160, 2770},    // below its lowest: the lowest
        {0, 0, 22160, 22160},   // 0: maximum
        {11080, 0, 11080, 22160},
    };
    for (const TCase& c : cases) {
        EXPECT_TRUE(dev.SetDeviceSpeed(c.Read, c.Write));
        EXPECT_EQ(dev.ReadSpeed, c.Read);
        EXPECT_EQ(dev.WriteSpeed, c.Write);
        EXPECT_EQ(dev.GetReadSpeed(), c.ReadBack);
        EXPECT_EQ(dev.GetWriteSpeed(), c.WriteBack);
    }
    EXPECT_TRUE(dev.SetStreaming(1000, 16620, 11080));
    EXPECT_EQ(dev.GetWriteSpeed(), 11080);
    EXPECT_EQ(dev.GetReadSpeed(), 16620);

    TVirtualDrive cd(mtCDR);
    EXPECT_EQ(cd.Dev.GetMaxWriteSpeed(), 8467);
    TVirtualDrive dl(mtDVDPLUSRDL);
    EXPECT_EQ(dl.Dev.GetMaxWriteSpeed(), 11080);
}

TEST(DiscQueries, BlankDiscOfEveryKind) {
    struct TCase {
        TMedium Medium;
        int Sessions;
        bool Erasable, Writable;
        bool FreeIsCapacity; // else 0
    };
    const TCase cases[] = {
        {mtDVDR, 0, false, true, true},       {mtDVDPLUSR, 0, false, true, true},
        {mtDVDPLUSRDL, 0, false, true, true}, {mtDVDPLUSRW, 1, true, true, true},
        {mtDVDRWSR, 0, true, true, true},     {mtDVDRWRO, 1, true, true, false},
        {mtDVDRAM, 1, true, true, true},      {mtBDRSR, 0, false, true, true},
        {mtBDRE, 1, true, true, true},        {mtCDR, 0, false, true, true},
        {mtUNKNOWN, 0, false, false, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(MediumName(c.Medium));
        TVirtualDrive drive(c.Medium);
        TSCSIDevice& dev = drive.Dev;
        const uint32_t capacity = TVirtualRecorder::NominalCapacity(c.Medium);
        EXPECT_EQ(dev.SessionsOnDisc(), c.Sessions);
        EXPECT_EQ(dev.Erasable(), c.Erasable);
        EXPECT_EQ(dev.Writable(), c.Writable);
        // Restricted overwrite: formattable capacity minus the (whole-disc) track.
        EXPECT_EQ(dev.FreeBlocksOnDisc(), c.FreeIsCapacity ? capacity : 0u);
        EXPECT_EQ(dev.TotalBlocksOnDisc(), capacity);
        EXPECT_EQ(dev.FormattableCapacity(), capacity);
    }
}

TEST(DiscQueries, FormattableCapacityPrefersTheFullFormatDescriptor) {
    TVirtualDrive ram(mtDVDRAM, 1000);
    EXPECT_EQ(ram.Dev.FormattableCapacity(), 1000u);
    EXPECT_TRUE(ram.Dev.ReadFormatCapacities());
    EXPECT_EQ(ram.Dev.tmpBuffer[3], 24); // three descriptors
    TVirtualDrive plus(mtDVDPLUSRW, 2000);
    EXPECT_EQ(plus.Dev.FormattableCapacity(), 2000u); // the 26h descriptor
}

TEST(BufferState, SizeAndFill) {
    TVirtualDrive drive(mtDVDPLUSRW);
    ASSERT_TRUE(drive.Dev.ReadBufferCapacity());
    EXPECT_EQ(drive.Dev.DeviceBufferSize, 2u * 1024 * 1024);
    EXPECT_EQ(drive.Dev.BufferPosition(), 0u);
    std::vector<uint8_t> packet(32 * 2048, 1);
    ASSERT_TRUE(drive.Dev.Write10(0, 32, packet.data()));
    ASSERT_TRUE(drive.Dev.ReadBufferCapacity());
    EXPECT_EQ(drive.Dev.BufferPosition(), 65536u);
    ASSERT_TRUE(drive.Dev.SynchronizeCache(false));
    ASSERT_TRUE(drive.Dev.ReadBufferCapacity());
    EXPECT_EQ(drive.Dev.BufferPosition(), 0u);
}

TEST(Throughput, SampledSpeedLagsOneCallAndAveragesAccumulate) {
    TVirtualDrive drive(mtDVDPLUSRW);
    TSCSIDevice& dev = drive.Dev;
    dev.ResetThroughputSamples();
    std::vector<uint8_t> packet(32 * 2048, 1);
    EXPECT_EQ(dev.BMAvgWriteSpeed(), 0);
    for (uint32_t i = 0; i < 8; ++i)
        ASSERT_TRUE(dev.Write10(i * 32, 32, packet.data()));
    EXPECT_EQ(dev.bmWCounter, 8);
    EXPECT_EQ(dev.bmWSize, 8.0 * 65536);
    EXPECT_GT(dev.BMAvgWriteSpeed(), 0);
    EXPECT_EQ(dev.BMWriteSpeed(), 0); // the first call after a reset
    EXPECT_GT(dev.BMWriteSpeed(), 0);
    for (uint32_t i = 0; i < 2; ++i)
        ASSERT_TRUE(dev.Read10(i * 32, 32, packet.data()));
    EXPECT_EQ(dev.bmRCounter, 2);
    EXPECT_GT(dev.BMAvgReadSpeed(), 0);
    // Selecting a drive clears the totals.
    ASSERT_TRUE(dev.SelectDevice(0));
    EXPECT_EQ(dev.bmWSize, 0.0);
    EXPECT_EQ(dev.bmWCounter, 0);
}
