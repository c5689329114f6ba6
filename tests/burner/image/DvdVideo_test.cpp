// DVD-Video images: files where the IFOs say, read by libdvdread, lsdvd and mpv.
#include "burner/DiscBurner.h"
#include "support/BurnerImageFixtures.h"

#include <gtest/gtest.h>

#include <dvdread/dvd_reader.h>
#include <dvdread/dvd_udf.h>
#include <dvdread/ifo_read.h>

#include <filesystem>
#include <map>

using namespace imagetest;
namespace fs = std::filesystem;

namespace {

// The DVD-Video burn sequence of the program.
bool BuildDvdImage(burner::TDiscBurner& B, const std::string& VideoTS, const std::string& Image) {
    B.ClearAll();
    B.SetUDFBridge(true);
    if (!B.CreateDir("\\", "AUDIO_TS") || !B.CreateDir("\\", "VIDEO_TS"))
        return false;
    if (!B.InsertDir("\\VIDEO_TS", VideoTS, "*.*", true, false))
        return false;
    B.SetVolumeID("ORDAVINE_DVD");
    std::string error;
    const bool ok = BuildImage(B, Image, &error);
    EXPECT_TRUE(ok) << error;
    return ok;
}

// Sector of every VIDEO_TS file as libdvdread finds it through UDF, and where the IFOs read
// through libdvdread say it must be.
struct TPlacement {
    std::map<std::string, std::uint32_t> Found, Declared;
};

TPlacement ReadPlacement(const std::string& Image) {
    TPlacement p;
    dvd_reader_t* dvd = DVDOpen(Image.c_str());
    EXPECT_NE(dvd, nullptr);
    if (!dvd)
        return p;
    for (const auto& name : {"VIDEO_TS.IFO", "VIDEO_TS.VOB", "VIDEO_TS.BUP", "VTS_01_0.IFO",
                             "VTS_01_0.VOB", "VTS_01_1.VOB", "VTS_01_0.BUP"}) {
        uint32_t size = 0;
        const uint32_t lb = UDFFindFile(dvd, (std::string("/VIDEO_TS/") + name).c_str(), &size);
        if (lb)
            p.Found[name] = lb;
    }
    ifo_handle_t* vmg = ifoOpen(dvd, 0);
    EXPECT_NE(vmg, nullptr);
    if (vmg) {
        const std::uint32_t base = p.Found["VIDEO_TS.IFO"];
        p.Declared["VIDEO_TS.IFO"] = base;
        if (vmg->vmgi_mat->vmgm_vobs)
            p.Declared["VIDEO_TS.VOB"] = base + vmg->vmgi_mat->vmgm_vobs;
        p.Declared["VIDEO_TS.BUP"] =
            base + vmg->vmgi_mat->vmg_last_sector + 1 -
            static_cast<std::uint32_t>(vmg->vmgi_mat->vmgi_last_sector + 1);
        const std::uint32_t vts = base + vmg->tt_srpt->title[0].title_set_sector;
        p.Declared["VTS_01_0.IFO"] = vts;
        ifo_handle_t* ts = ifoOpen(dvd, 1);
        EXPECT_NE(ts, nullptr);
        if (ts) {
            if (ts->vtsi_mat->vtsm_vobs)
                p.Declared["VTS_01_0.VOB"] = vts + ts->vtsi_mat->vtsm_vobs;
            p.Declared["VTS_01_1.VOB"] = vts + ts->vtsi_mat->vtstt_vobs;
            p.Declared["VTS_01_0.BUP"] =
                vts + ts->vtsi_mat->vts_last_sector + 1 -
                static_cast<std::uint32_t>(ts->vtsi_mat->vtsi_last_sector + 1);
            ifoClose(ts);
        }
        ifoClose(vmg);
    }
    DVDClose(dvd);
    return p;
}

} // namespace

class DvdVideo : public ::testing::TestWithParam<bool> {};

TEST_P(DvdVideo, FilesLieWhereTheIfosSayAndPlayersReadTheDisc) {
    const std::string videoTS = SharedVideoTS(GetParam());
    ASSERT_FALSE(videoTS.empty());
    TTempDir tmp;
    const std::string image = tmp / "dvd.iso";
    burner::TDiscBurner b;
    ASSERT_TRUE(BuildDvdImage(b, videoTS, image));

    const TPlacement p = ReadPlacement(image);
    EXPECT_EQ(p.Found.size(), p.Declared.size());
    for (const auto& [name, sector] : p.Declared) {
        ASSERT_TRUE(p.Found.count(name)) << name;
        EXPECT_EQ(p.Found.at(name), sector) << name;
    }
    // dvdauthor leaves a gap before the title set: the image keeps it instead of closing it.
    EXPECT_GT(
        p.Found.at("VTS_01_0.IFO") - p.Found.at("VIDEO_TS.IFO"),
        (fs::file_size(videoTS + "/VIDEO_TS.IFO") + fs::file_size(videoTS + "/VIDEO_TS.BUP")) /
            2048);

    const TRun lsdvd = RunCommand("lsdvd " + Quote(image));
    EXPECT_EQ(lsdvd.ExitCode, 0) << lsdvd.Output;
    EXPECT_NE(lsdvd.Output.find("Title: 01, Length: 00:00:02"), std::string::npos) << lsdvd.Output;
    EXPECT_NE(lsdvd.Output.find("Disc Title: ORDAVINE_DVD"), std::string::npos) << lsdvd.Output;

    // mpv counts titles from 0: dvd://0 is the disc's first title.
    const TRun mpv =
        RunCommand("timeout 60 mpv --no-config --vo=null --ao=null --dvd-device=" + Quote(image) +
                   " dvd://0 --frames=25");
    EXPECT_EQ(mpv.ExitCode, 0) << mpv.Output;
    EXPECT_NE(mpv.Output.find("mpeg2video 720x576"), std::string::npos) << mpv.Output;
    EXPECT_EQ(mpv.Output.find("Errors when loading"), std::string::npos) << mpv.Output;

    // 7z extracts the folder byte for byte; pycdlib opens the image.
    const TRun x = RunCommand("7z x -y -o" + Quote(tmp / "x") + " " + Quote(image));
    ASSERT_EQ(x.ExitCode, 0) << x.Output;
    EXPECT_TRUE(fs::is_directory(tmp / "x/AUDIO_TS"));
    for (const auto& e : fs::directory_iterator(videoTS))
        EXPECT_TRUE(ReadFile(tmp / "x/VIDEO_TS/" + e.path().filename().string()) ==
                    ReadFile(e.path().string()))
            << e.path();
    const TRun py = RunCommand(std::string(Python()) +
                               " -c 'import sys,pycdlib;i=pycdlib.PyCdlib();i.open(sys.argv[1])' " +
                               Quote(image));
    EXPECT_EQ(py.ExitCode, 0) << py.Output;

    // The UDF of a DVD-Video disc records revision 1.02.
    const TRun udf = RunCommand("udfinfo " + Quote(image));
    EXPECT_EQ(udf.ExitCode, 0) << udf.Output;
    EXPECT_NE(udf.Output.find("udfrev=1.02"), std::string::npos) << udf.Output;
}

INSTANTIATE_TEST_SUITE_P(MenuOrNot, DvdVideo, ::testing::Bool());

TEST(DvdVideoOrder, FilesInsertedInAnyOrderStillGoWhereTheIfosSay) {
    const std::string videoTS = SharedVideoTS(true);
    ASSERT_FALSE(videoTS.empty());
    TTempDir tmp;
    burner::TDiscBurner b;
    b.SetUDFBridge(true);
    ASSERT_TRUE(b.CreateDir("\\", "VIDEO_TS"));
    // Something before the folder, so its base is not the first data sector.
    WriteFile(tmp / "before.bin", 10000, 7);
    ASSERT_TRUE(b.InsertFile("\\", tmp / "before.bin"));
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(videoTS))
        names.push_back(e.path().filename().string());
    std::sort(names.rbegin(), names.rend());
    for (const auto& n : names)
        ASSERT_TRUE(b.InsertFile("\\VIDEO_TS", videoTS + "/" + n)) << n;
    std::string error;
    ASSERT_TRUE(BuildImage(b, tmp / "dvd.iso", &error)) << error;
    const TPlacement p = ReadPlacement(tmp / "dvd.iso");
    for (const auto& [name, sector] : p.Declared)
        EXPECT_EQ(p.Found.at(name), sector) << name;
}

TEST(DvdVideoOrder, UnreadableIfoKeepsTheFolderContiguousInPlayerOrder) {
    TTempDir tmp;
    const std::string dir = tmp / "VIDEO_TS";
    MakeDirs(dir);
    // Not a DVD-Video IFO: the folder is laid out contiguously, in the order players need.
    for (const auto& n : {"VTS_01_1.VOB", "VIDEO_TS.BUP", "VTS_01_0.BUP", "VIDEO_TS.IFO",
                          "VTS_01_0.IFO", "VIDEO_TS.VOB", "VTS_01_2.VOB", "notes.txt"})
        WriteFile(dir + "/" + n, 4096, 1);
    burner::TDiscBurner b;
    b.SetUDFBridge(true);
    ASSERT_TRUE(b.CreateDir("\\", "VIDEO_TS"));
    ASSERT_TRUE(b.InsertDir("\\VIDEO_TS", dir, "*.*", true, false));
    b.Prepare();
    std::vector<std::string> order;
    std::vector<std::uint32_t> address;
    for (int i = 0; i < b.FileCount(); ++i)
        if (!b.IsDirectory(i)) {
            order.push_back(b.ShortFileName(i));
            address.push_back(static_cast<std::uint32_t>(b.FileAddress(i) / 2048));
        }
    EXPECT_EQ(order, (std::vector<std::string>{"VIDEO_TS.IFO", "VIDEO_TS.VOB", "VIDEO_TS.BUP",
                                               "VTS_01_0.IFO", "VTS_01_1.VOB", "VTS_01_2.VOB",
                                               "VTS_01_0.BUP", "notes.txt"}));
    for (std::size_t i = 0; i < address.size(); ++i)
        EXPECT_EQ(address[i], 2 * i) << order[i];
}
