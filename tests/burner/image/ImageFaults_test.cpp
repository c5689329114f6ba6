// Image builds that meet a full disk or names that are not valid UTF-8.
#include "burner/DiscBurner.h"
#include "support/BurnerImageFixtures.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/mount.h>
#include <unistd.h>
#include <vector>

using namespace imagetest;
namespace fs = std::filesystem;

namespace {

// A tmpfs of the given size mounted on a new folder; unmounted when the object goes.
class TSmallTmpfs {
public:
    TSmallTmpfs(const std::string& Folder, const char* Size, bool ReadOnly = false)
        : FFolder(Folder) {
        MakeDirs(Folder);
        const std::string options = std::string("size=") + Size;
        FMounted = ::mount("tmpfs", Folder.c_str(), "tmpfs", ReadOnly ? MS_RDONLY : 0,
                           options.c_str()) == 0;
    }
    ~TSmallTmpfs() {
        if (FMounted)
            ::umount2(FFolder.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return FMounted; }

private:
    std::string FFolder;
    bool FMounted = false;
};

} // namespace

TEST(ImageFaults, FullDiskFailsTheBuildAndRemovesThePartialImage) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    TTempDir tmp;
    TSmallTmpfs disk(tmp / "disk", "1m");
    if (!disk.Mounted())
        GTEST_SKIP() << "tmpfs cannot be mounted here";
    MakeDirs(tmp / "src");
    WriteFile(tmp / "src/big.bin", 3u << 20, 7);
    burner::TDiscBurner b;
    b.SetVolumeID("FULL");
    ASSERT_NE(b.InsertDir("\\", tmp / "src", "*.*", true, false), nullptr);
    std::string error;
    EXPECT_FALSE(BuildImage(b, tmp / "disk/out.iso", &error));
    EXPECT_EQ(error.rfind("Error creating file", 0), 0u) << error;
    // Nothing half-written is left to be mistaken for an image; the source is untouched.
    EXPECT_FALSE(fs::exists(tmp / "disk/out.iso"));
    EXPECT_EQ(fs::file_size(tmp / "src/big.bin"), 3u << 20);
    // With room again the same layout builds.
    EXPECT_TRUE(BuildImage(b, tmp / "out.iso", &error)) << error;
}

TEST(ImageFaults, ImageFolderOnAReadOnlyFileSystem) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a read-only tmpfs needs root";
    TTempDir tmp;
    TSmallTmpfs disk(tmp / "ro", "1m", true);
    if (!disk.Mounted())
        GTEST_SKIP() << "tmpfs cannot be mounted here";
    WriteFile(tmp / "a.txt", "a\n");
    burner::TDiscBurner b;
    ASSERT_NE(b.InsertFile("\\", tmp / "a.txt"), nullptr);
    std::string error;
    EXPECT_FALSE(BuildImage(b, tmp / "ro/out.iso", &error));
    EXPECT_EQ(error.rfind("Error creating file", 0), 0u) << error;
    EXPECT_FALSE(fs::exists(tmp / "ro/out.iso"));
}

TEST(ImageFaults, NamesThatAreNotUtf8AreReportedAndLeftOut) {
    TTempDir tmp;
    const std::string badDir = "dir \xC3\x28";       // a broken two-byte sequence
    const std::string badFile = "clip \xFF\xFE.mpg"; // bytes that never start a sequence
    MakeDirs(tmp / "src/" + badDir);
    WriteFile(tmp / "src/" + badDir + "/inside.txt", "inside\n");
    WriteFile(tmp / "src/" + badFile, 5000, 3);
    WriteFile(tmp / "src/plain.txt", "plain\n");
    burner::TDiscBurner b;
    b.SetUDFBridge(true);
    b.SetVolumeID("NAMES");
    std::vector<std::string> messages;
    b.OnAddFile = [&](void*, const std::u16string&, const burner::TFindData&, bool& Skip,
                      const std::string& Message) {
        if (!Message.empty()) {
            messages.push_back(Message);
            EXPECT_TRUE(Skip);
        }
    };
    ASSERT_NE(b.InsertDir("\\", tmp / "src", "*.*", true, false), nullptr);
    // Each one is named to the caller; nothing else is lost.
    EXPECT_EQ(messages, (std::vector<std::string>{
                            "Folder name is not valid UTF-8: " + tmp / "src/" + badDir,
                            "File name is not valid UTF-8: " + tmp / "src/" + badFile}));
    EXPECT_EQ(b.FileCount(), 1);
    std::string error;
    ASSERT_TRUE(BuildImage(b, tmp / "out.iso", &error)) << error;
    const TRun x = RunCommand("7z x -y -o" + Quote(tmp / "x") + " " + Quote(tmp / "out.iso"));
    ASSERT_EQ(x.ExitCode, 0) << x.Output;
    EXPECT_EQ(ReadFile(tmp / "x/plain.txt"), "plain\n");
    // The source folder is untouched.
    EXPECT_TRUE(fs::exists(tmp / "src/" + badDir + "/inside.txt"));
    EXPECT_EQ(fs::file_size(tmp / "src/" + badFile), 5000u);
}
