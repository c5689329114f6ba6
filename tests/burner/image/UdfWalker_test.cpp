// The UDF bridge followed from both anchors by an independent walker, against the ISO 9660 and
// Joliet hierarchies that share its data.
#include "burner/DiscBurner.h"
#include "burner/image/Bytes.h"
#include "support/BurnerImageFixtures.h"
#include "support/BurnerImageWalker.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace imagetest;
namespace fs = std::filesystem;

namespace {

std::string Join(const std::vector<std::string>& V) {
    std::string s;
    for (const auto& x : V)
        s += x + "\n";
    return s;
}

// Walks from both anchors and checks they agree; returns the walk from sector 256.
TUdfWalk WalkBothAnchors(const std::string& Image) {
    const auto read = FileSectors(Image);
    const std::uint32_t last = static_cast<std::uint32_t>(fs::file_size(Image) / 2048) - 1;
    TUdfWalk first = WalkUdf(read, 256);
    TUdfWalk second = WalkUdf(read, last);
    EXPECT_TRUE(first.Errors.empty()) << Join(first.Errors);
    EXPECT_TRUE(second.Errors.empty()) << Join(second.Errors);
    EXPECT_EQ(first.Files.size(), second.Files.size());
    EXPECT_GT(first.DescriptorsChecked, 20u);
    // The partition runs from 257 up to the final anchor.
    EXPECT_EQ(first.PartitionStart, 257u);
    EXPECT_EQ(first.PartitionLength, last - 257);
    std::uint32_t files = 0, dirs = 0;
    for (const auto& [path, f] : first.Files)
        (f.Directory ? dirs : files)++;
    EXPECT_EQ(first.LvidFiles, files);
    EXPECT_EQ(first.LvidDirs, dirs);
    return first;
}

burner::TFindData MemoryFile(const std::u16string& Name, std::uint64_t Size) {
    burner::TFindData fd;
    fd.FileName = Name;
    fd.FileSize = Size;
    fd.LastWriteTime = 1700000000;
    return fd;
}

} // namespace

TEST(UdfWalker, DvdVideoImageAgreesAcrossUdfIsoAndJolietInPlayerOrder) {
    const std::string videoTS = SharedVideoTS(true);
    ASSERT_FALSE(videoTS.empty());
    TTempDir tmp;
    const std::string image = tmp / "dvd.iso";
    burner::TDiscBurner b;
    b.SetUDFBridge(true);
    ASSERT_TRUE(b.CreateDir("\\", "AUDIO_TS"));
    ASSERT_TRUE(b.CreateDir("\\", "VIDEO_TS"));
    ASSERT_TRUE(b.InsertDir("\\VIDEO_TS", videoTS, "*.*", true, false));
    std::string error;
    ASSERT_TRUE(BuildImage(b, image, &error)) << error;

    const TUdfWalk udf = WalkBothAnchors(image);
    EXPECT_EQ(udf.Revision, 0x0102);
    const TIsoWalk iso = WalkIso(FileSectors(image), false);
    const TIsoWalk joliet = WalkIso(FileSectors(image), true);
    EXPECT_TRUE(iso.Errors.empty()) << Join(iso.Errors);
    EXPECT_TRUE(joliet.Errors.empty()) << Join(joliet.Errors);
    EXPECT_EQ(iso.VolumeSpace, fs::file_size(image) / 2048);

    std::vector<std::string> expectedOrder;
    for (const char* n : {"VIDEO_TS.IFO", "VIDEO_TS.BUP", "VTS_01_0.IFO", "VTS_01_0.VOB",
                          "VTS_01_1.VOB", "VTS_01_0.BUP"})
        expectedOrder.push_back(std::string("/VIDEO_TS/") + n);
    std::uint32_t previous = 0;
    for (const auto& path : expectedOrder) {
        ASSERT_TRUE(udf.Files.count(path)) << path;
        const TWalkedFile& u = udf.Files.at(path);
        EXPECT_EQ(u.Compression, 8) << path; // OSTA's DVD-Video rule: 8 bits per character
        EXPECT_EQ(u.Size, fs::file_size(videoTS + path.substr(9)));
        ASSERT_TRUE(iso.Files.count(path)) << path;
        EXPECT_EQ(iso.Files.at(path).Extents, u.Extents) << path;
        EXPECT_EQ(joliet.Files.at(path).Extents, u.Extents) << path;
        EXPECT_GT(u.Extents.at(0).Sector, previous) << path;
        previous = u.Extents.at(0).Sector;
    }
    EXPECT_TRUE(udf.Files.at("/AUDIO_TS").Directory);
    EXPECT_EQ(udf.Files.at("/AUDIO_TS").Size, 40u); // only the parent entry
    // Every UDF file has its ISO twin at the same sectors.
    for (const auto& [path, f] : udf.Files) {
        if (!f.Directory) {
            EXPECT_EQ(iso.Files.at(path).Extents, f.Extents) << path;
        }
    }
}

TEST(UdfWalker, NamesUseEightBitsWhereTheyFitAndSixteenOtherwise) {
    TTempDir tmp;
    const std::string image = tmp / "names.iso";
    burner::TDiscBurner b;
    b.SetUDFBridge(true);
    b.SetVolumeIDW(u"Данные");
    const std::u16string names[] = {u"plain.txt", u"Ünïcödé.txt", u"日本語.txt", u"emoji 😀.bin"};
    for (const auto& n : names)
        ASSERT_TRUE(b.InsertMemoryFileW(u"\\", MemoryFile(n, 3000),
                                        [](void*, burner::TFileEntry*, std::uint64_t Pos,
                                           std::uint8_t* Buf, std::uint32_t& Size) {
                                            for (std::uint32_t i = 0; i < Size; ++i)
                                                Buf[i] = static_cast<std::uint8_t>(Pos + i);
                                        }));
    ASSERT_TRUE(b.CreateDirW(u"\\", u"Папка"));
    ASSERT_TRUE(b.CreateDirW(u"\\Папка", u"Empty"));
    std::string error;
    ASSERT_TRUE(BuildImage(b, image, &error)) << error;
    const TUdfWalk udf = WalkBothAnchors(image);
    EXPECT_EQ(udf.Revision, 0x0150);
    EXPECT_EQ(udf.Files.at("/plain.txt").Compression, 8);
    EXPECT_EQ(udf.Files.at("/Ünïcödé.txt").Compression, 8);
    EXPECT_EQ(udf.Files.at("/日本語.txt").Compression, 16);
    EXPECT_EQ(udf.Files.at("/emoji 😀.bin").Compression, 16);
    EXPECT_EQ(udf.Files.at("/Папка").Compression, 16);
    EXPECT_EQ(udf.Files.at("/Папка/Empty").Size, 40u);
    const TIsoWalk joliet = WalkIso(FileSectors(image), true);
    for (const auto& [path, f] : udf.Files) {
        if (!f.Directory) {
            EXPECT_EQ(joliet.Files.at(path).Extents, f.Extents) << path;
        }
    }
    const std::string data = ReadFile(image).substr(
        static_cast<std::size_t>(udf.Files.at("/日本語.txt").Extents[0].Sector) * 2048, 3000);
    for (std::size_t i = 0; i < data.size(); ++i)
        ASSERT_EQ(static_cast<std::uint8_t>(data[i]), static_cast<std::uint8_t>(i));
    const TRun info = RunCommand("udfinfo " + Quote(image));
    EXPECT_NE(info.Output.find("label=Данные"), std::string::npos) << info.Output;
}

TEST(UdfWalker, IdentifiersSplitAcrossBlocksAndGeneratorCallsComeOutTheSame) {
    // A directory whose identifiers take many blocks: descriptors straddle block ends, and
    // some of those ends are the ends of generator calls.
    burner::TDiscBurner b;
    b.SetUDFBridge(true);
    ASSERT_TRUE(b.CreateDir("\\", "Many"));
    for (int i = 0; i < 900; ++i) {
        std::u16string name = u"A long file name to fill identifier blocks quickly number ";
        for (char c : std::to_string(i))
            name.push_back(static_cast<char16_t>(c));
        ASSERT_TRUE(b.InsertMemoryFileW(u"\\Many", MemoryFile(name, 0), nullptr));
    }
    b.Prepare();
    burner::TCDFiles& t = b.CDFiles;
    const std::uint32_t blocks = t.UDFBridgeInfo.NumberOfBlocksRequiredForFileDirStructures;
    ASSERT_GT(blocks, 900u + 2u + 33u);
    auto generate = [&](std::uint32_t perCall, int* splits) {
        std::vector<std::uint8_t> out(static_cast<std::size_t>(blocks) * burner::SectorSize);
        t.UDFResetGenerator();
        for (std::uint32_t at = 0; at < blocks; at += perCall) {
            const std::uint32_t n = std::min(perCall, blocks - at);
            EXPECT_TRUE(
                t.UDFGenerate(out.data() + static_cast<std::size_t>(at) * burner::SectorSize, n));
            if (splits && t.UDFBridgeInfo.IsPartialFID) {
                ++*splits;
            }
        }
        std::uint8_t extra[burner::SectorSize];
        EXPECT_FALSE(t.UDFGenerate(extra, 1)); // everything has been emitted
        return out;
    };
    int splits = 0;
    const auto whole = generate(32, nullptr);
    EXPECT_EQ(generate(1, nullptr), whole);
    EXPECT_EQ(generate(7, &splits), whole);
    EXPECT_GT(splits, 0);

    TTempDir tmp;
    std::string error;
    ASSERT_TRUE(BuildImage(b, tmp / "many.iso", &error)) << error;
    const TUdfWalk udf = WalkBothAnchors(tmp / "many.iso");
    EXPECT_EQ(udf.Files.size(), 902u);
    const TRun py = RunCommand(std::string(Python()) +
                               " -c 'import sys,pycdlib;i=pycdlib.PyCdlib();i.open(sys.argv[1]);"
                               "print(len(list(i.list_children(udf_path=\"/Many\"))))' " +
                               Quote(tmp / "many.iso"));
    EXPECT_EQ(py.ExitCode, 0) << py.Output;
    EXPECT_NE(py.Output.find("901"), std::string::npos) << py.Output; // 900 and the parent
}
