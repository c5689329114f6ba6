// Byte-level checks of the layout: packet rounding and the final anchor, directories that fill a
// sector exactly, empty directories and files, files of 4 GiB and more, volume labels.
#include "burner/DiscBurner.h"
#include "burner/ImageStream.h"
#include "burner/image/Bytes.h"
#include "support/BurnerImageFixtures.h"
#include "support/BurnerImageWalker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

using namespace imagetest;
namespace fs = std::filesystem;

namespace {

burner::TFindData Described(const std::u16string& Name, std::uint64_t Size) {
    burner::TFindData fd;
    fd.FileName = Name;
    fd.FileSize = Size;
    fd.LastWriteTime = 1700000000;
    return fd;
}

std::u16string U16(const std::string& S) {
    return std::u16string(S.begin(), S.end());
}

void Fill(void*, burner::TFileEntry*, std::uint64_t Pos, std::uint8_t* Buf, std::uint32_t& Size) {
    for (std::uint32_t i = 0; i < Size; ++i)
        Buf[i] = static_cast<std::uint8_t>((Pos + i) * 7);
}

std::string Join(const std::vector<std::string>& V) {
    std::string s;
    for (const auto& x : V)
        s += x + "\n";
    return s;
}

} // namespace

TEST(ImageLayout, DataEndingOnAPacketBoundaryGivesTheFinalAnchorAPacketOfItsOwn) {
    for (bool udf : {true, false}) {
        SCOPED_TRACE(udf ? "UDF bridge" : "ISO only");
        // First find the size that makes the data end exactly on a 32-sector boundary.
        std::uint64_t size = 2048;
        std::uint32_t dataEnd = 0;
        for (int pass = 0; pass < 2; ++pass) {
            burner::TDiscBurner probe;
            probe.SetUDFBridge(udf);
            probe.InsertMemoryFileW(u"\\", Described(u"DATA.BIN", size), Fill);
            probe.Prepare();
            dataEnd = probe.CDFiles.FirstDataSector + probe.CDFiles.FilesSize;
            size += static_cast<std::uint64_t>((32 - dataEnd % 32) % 32) * 2048;
        }
        ASSERT_EQ(dataEnd % 32, 0u);
        TTempDir tmp;
        burner::TDiscBurner b;
        b.SetUDFBridge(udf);
        b.InsertMemoryFileW(u"\\", Described(u"DATA.BIN", size), Fill);
        const std::uint32_t used = b.Prepare();
        EXPECT_EQ(used, dataEnd + (udf ? 1 : 0));
        EXPECT_EQ(b.ImageSize(), dataEnd + (udf ? 32 : 0));
        EXPECT_EQ(b.CDFiles.UDFBridgeInfo.IsNewPacketRequiredForLastAVDP, udf);
        std::string error;
        ASSERT_TRUE(BuildImage(b, tmp / "a.iso", &error)) << error;
        const std::string image = ReadFile(tmp / "a.iso");
        ASSERT_EQ(image.size(), static_cast<std::size_t>(b.ImageSize()) * 2048);
        if (udf) {
            // The added packet is zero except for the anchor in its last sector.
            const auto* last =
                reinterpret_cast<const std::uint8_t*>(image.data()) + (image.size() - 2048);
            EXPECT_EQ(CheckTag(last, 2048, b.ImageSize() - 1), "");
            EXPECT_EQ(last[0], 2);
            EXPECT_EQ(image.find_first_not_of('\0', static_cast<std::size_t>(dataEnd) * 2048),
                      image.size() - 2048);
        }
        const std::size_t at = static_cast<std::size_t>(b.CDFiles.FirstDataSector) * 2048;
        for (std::size_t i = 0; i < size; i += 4093)
            ASSERT_EQ(static_cast<std::uint8_t>(image[at + i]), static_cast<std::uint8_t>(i * 7));
    }
}

TEST(ImageLayout, SmallLayoutsStartTheirDataAfterTheFixedStructures) {
    burner::TDiscBurner iso;
    iso.InsertMemoryFileW(u"\\", Described(u"A.BIN", 10), Fill);
    iso.Prepare();
    EXPECT_EQ(iso.CDFiles.FirstDataSector, 150u);
    burner::TDiscBurner udf;
    udf.SetUDFBridge(true);
    udf.InsertMemoryFileW(u"\\", Described(u"A.BIN", 10), Fill);
    udf.Prepare();
    // 259 + 4 path table sectors + ISO and Joliet root extents, then root FE, its data, A's FE.
    EXPECT_EQ(udf.CDFiles.UDFBridgeInfo.RootDirectoryICB_LSAWRTSession, 265u);
    EXPECT_EQ(udf.CDFiles.FirstDataSector, 268u);
}

TEST(ImageLayout, DirectoriesThatFillASectorExactlyEndThere) {
    TTempDir tmp;
    burner::TDiscBurner b;
    b.SetUDFBridge(true);
    // ISO 9660: 45 records of 44 bytes (11-character names) fill 2048 - 68 bytes exactly.
    ASSERT_TRUE(b.CreateDirW(u"\\", u"ISOFULL"));
    ASSERT_TRUE(b.CreateDirW(u"\\", u"ISOOVER"));
    for (int i = 0; i < 46; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "F%06d.TXT", i);
        if (i < 45) {
            ASSERT_TRUE(b.InsertMemoryFileW(u"\\ISOFULL", Described(U16(name), 100), Fill));
        }
        ASSERT_TRUE(b.InsertMemoryFileW(u"\\ISOOVER", Described(U16(name), 100), Fill));
    }
    // UDF: the parent entry (40) + 40 identifiers of 48 bytes + 2 of 44 fill one block.
    ASSERT_TRUE(b.CreateDirW(u"\\", u"UDFFULL"));
    for (int i = 0; i < 42; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, i < 40 ? "U%07d" : "V%03d", i);
        ASSERT_TRUE(b.InsertMemoryFileW(u"\\UDFFULL", Described(U16(name), 0), nullptr));
    }
    // An empty directory and an empty file.
    ASSERT_TRUE(b.CreateDirW(u"\\", u"EMPTYDIR"));
    ASSERT_TRUE(b.InsertMemoryFileW(u"\\", Described(u"ZERO.DAT", 0), nullptr));
    b.Prepare();
    const burner::TDirEntry* full = b.CDFiles.FindDirByPath(u"\\ISOFULL");
    const burner::TDirEntry* over = b.CDFiles.FindDirByPath(u"\\ISOOVER");
    const burner::TDirEntry* udfFull = b.CDFiles.FindDirByPath(u"\\UDFFULL");
    EXPECT_EQ(full->DirSize, 2048);
    EXPECT_EQ(over->DirSize, 4096);
    EXPECT_EQ(udfFull->UDFDirInfo.InformationLength, 2048);
    // No empty block: the first file's File Entry follows the one block of identifiers.
    EXPECT_EQ(udfFull->Files->UDFFileInfo.FileICB_LSOffsetWRTSession,
              udfFull->UDFDirInfo.DirData_LSOffsetWRTSession + 1);
    const burner::TDirEntry* empty = b.CDFiles.FindDirByPath(u"\\EMPTYDIR");
    EXPECT_EQ(empty->DirSize, 2048);
    EXPECT_EQ(empty->UDFDirInfo.InformationLength, 40);

    std::string error;
    ASSERT_TRUE(BuildImage(b, tmp / "d.iso", &error)) << error;
    const auto read = FileSectors(tmp / "d.iso");
    const TIsoWalk iso = WalkIso(read, false);
    EXPECT_TRUE(iso.Errors.empty()) << Join(iso.Errors);
    EXPECT_EQ(iso.DirSize.at("/ISOFULL"), 2048u);
    int inFull = 0;
    for (const auto& [path, f] : iso.Files)
        inFull += path.rfind("/ISOFULL/", 0) == 0;
    EXPECT_EQ(inFull, 45);
    // The 46th record of ISOOVER starts the second sector.
    const auto sectors = read(iso.Files.at("/ISOOVER").Extents[0].Sector, 2);
    EXPECT_EQ(sectors[2048], 44);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&sectors[2048 + 33]), 11), "F000045.TXT");
    const TIsoWalk joliet = WalkIso(read, true);
    EXPECT_TRUE(joliet.Errors.empty()) << Join(joliet.Errors);

    const TUdfWalk udf = WalkUdf(read, 256);
    EXPECT_TRUE(udf.Errors.empty()) << Join(udf.Errors);
    EXPECT_EQ(udf.Files.at("/UDFFULL").Size, 2048u);
    EXPECT_EQ(udf.Files.at("/EMPTYDIR").Size, 40u);
    // A size-0 file: extent 0, length 0 in ISO 9660; one descriptor of length 0 at 0 in UDF.
    EXPECT_EQ(iso.Files.at("/ZERO.DAT").Extents, (std::vector<TExtent>{{0, 0}}));
    EXPECT_EQ(udf.Files.at("/ZERO.DAT").Extents, (std::vector<TExtent>{{0, 0}}));
    EXPECT_EQ(b.CDFiles.Files[static_cast<std::size_t>(b.FindFile("\\", "ZERO.DAT"))]->Address, 0u);
}

TEST(ImageLayout, FilesOf4GiBAndMoreGetSeveralExtentsInBothFileSystems) {
    TTempDir tmp;
    burner::TCDFiles t;
    t.UDFBridge = true;
    const std::uint64_t big = (4ULL << 30) + 123456789;
    // The data reads as zeros with a marker every 256 MiB, so the image stays a sparse file.
    auto marker = [](void*, burner::TFileEntry*, std::uint64_t Pos, std::uint8_t* Buf,
                     std::uint32_t& Size) {
        constexpr std::uint64_t step = 256ULL << 20;
        for (std::uint64_t m = (Pos + step - 1) / step * step; m < Pos + Size; m += step)
            std::memcpy(Buf + (m - Pos), &m, std::min<std::uint64_t>(8, Pos + Size - m));
    };
    ASSERT_TRUE(t.InsertMemoryFile(std::u16string_view(u"\\"), Described(u"BIG.BIN", big), marker));
    ASSERT_TRUE(t.InsertMemoryFile(std::u16string_view(u"\\"), Described(u"SMALL.TXT", 5), Fill));
    t.Prepare();
    ASSERT_TRUE(t.BuildHeader());
    const std::string image = tmp / "big.iso";
    const int fd = ::open(image.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    burner::TImageStream stream(t);
    std::vector<std::uint8_t> packet(burner::PacketSize);
    std::uint32_t size = 0;
    std::uint64_t offset = 0;
    while (stream.Next(packet.data(), size) == burner::TTake::Packet) {
        if (std::any_of(packet.begin(), packet.end(), [](std::uint8_t c) { return c != 0; })) {
            ASSERT_EQ(::pwrite(fd, packet.data(), size, static_cast<off_t>(offset)),
                      static_cast<ssize_t>(size));
        }
        offset += size;
    }
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(offset)), 0);
    ::close(fd);
    ASSERT_EQ(offset, static_cast<std::uint64_t>(t.TotalImageSize) * 2048);

    const auto read = FileSectors(image);
    const TIsoWalk iso = WalkIso(read, false);
    EXPECT_TRUE(iso.Errors.empty()) << Join(iso.Errors);
    const TWalkedFile& isoBig = iso.Files.at("/BIG.BIN");
    ASSERT_EQ(isoBig.Extents.size(), 2u);
    EXPECT_EQ(isoBig.Size, big);
    EXPECT_EQ(isoBig.Extents[1].Sector, isoBig.Extents[0].Sector + isoBig.Extents[0].Length / 2048);
    const TUdfWalk udf = WalkUdf(read, 256);
    EXPECT_TRUE(udf.Errors.empty()) << Join(udf.Errors);
    const TWalkedFile& udfBig = udf.Files.at("/BIG.BIN");
    EXPECT_EQ(udfBig.Size, big);
    EXPECT_EQ(udfBig.Extents.size(), 5u); // extents stay below 1 GiB
    EXPECT_EQ(udfBig.Extents[0].Sector, isoBig.Extents[0].Sector);
    for (std::size_t i = 1; i < udfBig.Extents.size(); ++i)
        EXPECT_EQ(udfBig.Extents[i].Sector,
                  udfBig.Extents[i - 1].Sector + udfBig.Extents[i - 1].Length / 2048);
    // The marker at 3 GiB into the file is where both file systems say.
    const std::uint64_t at = (3ULL << 30);
    const auto sector = read(static_cast<std::uint32_t>(isoBig.Extents[0].Sector + at / 2048), 1);
    std::uint64_t value = 0;
    std::memcpy(&value, sector.data(), 8);
    EXPECT_EQ(value, at);
    // pycdlib opens it: the first ISO 9660 part holds 4 GiB - 2048 bytes, UDF the whole size.
    const TRun py = RunCommand(std::string(Python()) +
                               " -c 'import sys,pycdlib;i=pycdlib.PyCdlib();i.open(sys.argv[1]);"
                               "print(i.get_record(iso_path=\"/BIG.BIN\").get_data_length(),"
                               "i.get_record(udf_path=\"/BIG.BIN\").get_data_length())' " +
                               Quote(image));
    EXPECT_EQ(py.ExitCode, 0) << py.Output;
    EXPECT_NE(py.Output.find("4294965248 " + std::to_string(big)), std::string::npos) << py.Output;
}

TEST(ImageLayout, LongVolumeLabelsAreShortenedToWhatEachDescriptorHolds) {
    struct TCase {
        std::u16string Label;
        std::string Primary, Joliet, Udf;
    } cases[] = {
        {u"Holiday pictures from the summer of 2024", "HOLIDAY PICTURES FROM THE SUMME",
         "Holiday pictures", "Holiday pictures from the summ"},
        {u"Фотографии с отпуска летом", "Фотографии с отп", "Фотографии с отп", "Фотографии с от"},
    };
    for (const auto& c : cases) {
        TTempDir tmp;
        burner::TDiscBurner b;
        b.SetUDFBridge(true);
        b.SetVolumeIDW(c.Label);
        EXPECT_LE(b.VolumeIDW().size(), 31u);
        std::string error;
        ASSERT_TRUE(BuildImage(b, tmp / "l.iso", &error)) << error;
        const TRun udf = RunCommand("udfinfo " + Quote(tmp / "l.iso"));
        EXPECT_NE(udf.Output.find("label=" + c.Udf + "\n"), std::string::npos) << udf.Output;
        const TRun py = RunCommand(
            std::string(Python()) +
            " -c 'import sys,pycdlib;i=pycdlib.PyCdlib();i.open(sys.argv[1]);"
            "print(i.pvd.volume_identifier.rstrip(b\"\\0\").decode());"
            "print(i.joliet_vd.volume_identifier.decode(\"utf-16-be\").rstrip(\"\\0\"))' " +
            Quote(tmp / "l.iso"));
        EXPECT_EQ(py.ExitCode, 0) << py.Output;
        EXPECT_EQ(py.Output, c.Primary + "\n" + c.Joliet + "\n");
    }
}

TEST(ImageLayout, RebuildingOneLayoutGivesTheSameBytesAndLongNamesFitEveryHierarchy) {
    TTempDir tmp;
    burner::TDiscBurner b;
    b.SetUDFBridge(true);
    const std::u16string longName = std::u16string(150, u'n') + u".txt";
    ASSERT_TRUE(b.CreateDirW(u"\\", u"Folder"));
    ASSERT_TRUE(b.InsertMemoryFileW(u"\\Folder", Described(longName, 5000), Fill));
    ASSERT_TRUE(b.InsertMemoryFileW(u"\\Folder", Described(u"Ω" + longName, 100), Fill));
    std::string error;
    ASSERT_TRUE(BuildImage(b, tmp / "1.iso", &error)) << error;
    b.WaitIdle();
    ASSERT_TRUE(b.BuildISOImage(tmp / "2.iso"));
    b.WaitIdle();
    EXPECT_TRUE(ReadFile(tmp / "1.iso") == ReadFile(tmp / "2.iso"));
    const auto read = FileSectors(tmp / "1.iso");
    const TIsoWalk joliet = WalkIso(read, true);
    EXPECT_TRUE(joliet.Errors.empty()) << Join(joliet.Errors);
    EXPECT_TRUE(joliet.Files.count("/Folder/" + std::string(103, 'n')));
    const TUdfWalk udf = WalkUdf(read, 256);
    EXPECT_TRUE(udf.Errors.empty()) << Join(udf.Errors);
    // 8-bit UDF names keep all 154 characters; 16-bit ones stop at 127 units.
    EXPECT_TRUE(udf.Files.count("/Folder/" + std::string(150, 'n') + ".txt"));
    EXPECT_TRUE(udf.Files.count("/Folder/Ω" + std::string(126, 'n')));
    const TRun py = RunCommand(std::string(Python()) +
                               " -c 'import sys,pycdlib;i=pycdlib.PyCdlib();i.open(sys.argv[1])' " +
                               Quote(tmp / "1.iso"));
    EXPECT_EQ(py.ExitCode, 0) << py.Output;
}
