// The disc file tree: insertion rules, names, aliases, ordering, capacities and refusals.
#include "burner/DiscBurner.h"
#include "burner/image/Tree.h"
#include "support/BurnerImageFixtures.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace imagetest;
using burner::TCDFiles;
using burner::TFindData;

namespace {

TFindData Described(const std::u16string& Name, std::uint64_t Size = 1,
                    const std::u16string& Alias = u"") {
    TFindData fd;
    fd.FileName = Name;
    fd.FileSize = Size;
    fd.AlternateFileName = Alias;
    fd.LastWriteTime = 1700000000;
    return fd;
}

std::vector<std::string> ListShortNames(const burner::TDirEntry* Dir) {
    std::vector<std::string> out;
    for (const burner::TFileEntry* e = Dir->Files; e; e = e->NextFile)
        out.push_back(e->ShortName);
    return out;
}

} // namespace

TEST(Tree, ShortAliasesFollowWindowsRules) {
    TCDFiles t;
    const std::u16string root = u"\\";
    struct TCase {
        std::u16string Long;
        std::string Short;
    } cases[] = {
        {u"README", "README."},        // valid 8.3 without a dot gets "." appended
        {u"readme.txt", "readme.txt"}, // valid 8.3 names keep their case (ISO upper-cases)
        {u"VIDEO_TS.IFO", "VIDEO_TS.IFO"},
        {u"Long File Name.text", "LONGFI~1.TEX"},
        {u"Long File Name 2.text", "LONGFI~2.TEX"},
        {u"a+b=c.txt", "A_B_C~1.TXT"},
        {u".bashrc", "BASHRC~1."},
        {u"two.dots.tar.gz", "TWODOT~1.GZ"},
        {u"Ünïcödé.txt", "_N_C_D~1.TXT"},
    };
    for (const auto& c : cases) {
        burner::TFileEntry* e =
            t.InsertMemoryFile(std::u16string_view(root), Described(c.Long), nullptr);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(std::string(e->ShortName), c.Short);
        EXPECT_EQ(e->FileNameLength, c.Short.size());
        EXPECT_EQ(e->LongName, c.Long);
        EXPECT_EQ(e->FileNameLengthJ, c.Long.size());
    }
    // A valid 8.3 name that an alias already holds gets an alias of its own.
    burner::TFileEntry* clash =
        t.InsertMemoryFile(std::u16string_view(root), Described(u"LONGFI~1.TEX"), nullptr);
    EXPECT_EQ(std::string(clash->ShortName), "LONGFI~3.TEX");
    // Aliases run past ~9 by shortening the stem.
    TCDFiles many;
    std::string last;
    for (int i = 0; i < 12; ++i)
        last =
            many.InsertMemoryFile(
                    std::u16string_view(root),
                    Described(u"Same stem name " + std::u16string(1, u'a' + i) + u".txt"), nullptr)
                ->ShortName;
    EXPECT_EQ(last, "SAMES~12.TXT");
}

TEST(Tree, InsertingTheSameNameKeepsOneEntryUnlessReplaceFileIsOn) {
    TCDFiles t;
    const std::u16string root = u"\\";
    burner::TFileEntry* first =
        t.InsertMemoryFile(std::u16string_view(root), Described(u"Movie.VOB", 10), nullptr);
    burner::TFileEntry* again =
        t.InsertMemoryFile(std::u16string_view(root), Described(u"MOVIE.vob", 20), nullptr);
    EXPECT_EQ(first, again);
    EXPECT_EQ(first->FileSize, 10);
    EXPECT_EQ(t.FileCounter(), 1);
    t.ReplaceFile = true;
    burner::TFileEntry* refreshed =
        t.InsertMemoryFile(std::u16string_view(root), Described(u"movie.vob", 30), nullptr);
    EXPECT_EQ(refreshed, first);
    EXPECT_EQ(first->FileSize, 30);
    EXPECT_EQ(first->LongName, u"movie.vob");
    EXPECT_EQ(first->LongNameWIN32, u"Movie.VOB"); // the name first inserted stays for UDF
    EXPECT_EQ(t.FileCounter(), 1);
    // A file cannot take the name of a folder, nor a folder the name of a file.
    ASSERT_TRUE(t.CreateDir(std::u16string_view(root), std::u16string_view(u"Folder")));
    EXPECT_EQ(t.InsertMemoryFile(std::u16string_view(root), Described(u"folder"), nullptr),
              nullptr);
    EXPECT_EQ(t.CreateDir(std::u16string_view(root), std::u16string_view(u"MOVIE.VOB")), nullptr);
}

TEST(Tree, LongNamesUpTo217UnitsAreTakenLongerOnesSkipped) {
    TCDFiles t;
    const std::u16string root = u"\\";
    burner::TFileEntry* ok = t.InsertMemoryFile(std::u16string_view(root),
                                                Described(std::u16string(217, u'x')), nullptr);
    ASSERT_NE(ok, nullptr);
    EXPECT_NE(ok, burner::SkippedFileMarker());
    EXPECT_EQ(t.InsertMemoryFile(std::u16string_view(root), Described(std::u16string(218, u'y')),
                                 nullptr),
              burner::SkippedFileMarker());
    EXPECT_EQ(t.FileCounter(), 1);
}

TEST(Tree, OnAddFileCanSkipAndSeesEveryInsertion) {
    burner::TDiscBurner b;
    std::vector<std::u16string> seen;
    b.OnAddFile = [&](void* Sender, const std::u16string&, const TFindData& fd, bool& Skip,
                      const std::string&) {
        EXPECT_EQ(Sender, nullptr);
        seen.push_back(fd.FileName);
        Skip = fd.FileName == u"skip.me";
    };
    EXPECT_NE(b.InsertMemoryFileW(u"\\", Described(u"keep.me"), nullptr),
              burner::SkippedFileMarker());
    EXPECT_EQ(b.InsertMemoryFileW(u"\\", Described(u"skip.me"), nullptr),
              burner::SkippedFileMarker());
    EXPECT_EQ(seen, (std::vector<std::u16string>{u"keep.me", u"skip.me"}));
    EXPECT_EQ(b.FileCount(), 1);
}

TEST(Tree, InsertDirFillsTheExistingFolderSubfoldersFirstInPlayerOrder) {
    TTempDir tmp;
    const std::string src = tmp / "VIDEO_TS";
    MakeDirs(src + "/sub");
    for (const char* n : {"VTS_01_1.VOB", "VIDEO_TS.BUP", "b.txt", "VTS_01_0.IFO", "VIDEO_TS.IFO",
                          "A.txt", "VTS_02_0.IFO", "VTS_01_0.BUP", "sub/inner.txt"})
        WriteFile(src + "/" + n, "x");
    burner::TDiscBurner b;
    ASSERT_TRUE(b.CreateDir("\\", "AUDIO_TS"));
    burner::TDirEntry* videoTS = b.CreateDir("\\", "VIDEO_TS");
    ASSERT_EQ(b.InsertDir("\\VIDEO_TS", src, "*.*", true, false), videoTS);
    EXPECT_EQ(b.DirCount(), 4); // root, AUDIO_TS, VIDEO_TS, sub: no second VIDEO_TS
    std::vector<std::string> order;
    for (int i = 0; i < b.FileCount(); ++i)
        order.push_back(b.ShortFileName(i));
    EXPECT_EQ(order,
              (std::vector<std::string>{"AUDIO_TS", "VIDEO_TS", "SUB", "inner.txt", "VIDEO_TS.IFO",
                                        "VIDEO_TS.BUP", "VTS_01_0.IFO", "VTS_01_1.VOB",
                                        "VTS_01_0.BUP", "VTS_02_0.IFO", "A.txt", "b.txt"}));
    // With more than one directory, Prepare sorts each list by short name; data order stays.
    b.Prepare();
    EXPECT_EQ(
        ListShortNames(videoTS),
        (std::vector<std::string>{"A.txt", "b.txt", "SUB", "VIDEO_TS.BUP", "VIDEO_TS.IFO",
                                  "VTS_01_0.BUP", "VTS_01_0.IFO", "VTS_01_1.VOB", "VTS_02_0.IFO"}));
    EXPECT_LT(b.FileAddress(b.FindFile("\\VIDEO_TS", "VIDEO_TS.IFO")),
              b.FileAddress(b.FindFile("\\VIDEO_TS", "VIDEO_TS.BUP")));
    // A mask limits the files, not the folders.
    burner::TDiscBurner masked;
    ASSERT_TRUE(masked.InsertDir("\\", src, "*.ifo", true, false));
    EXPECT_EQ(masked.FindFile("\\", "b.txt"), -1);
    EXPECT_GE(masked.FindFile("\\", "VTS_02_0.IFO"), 0);
    EXPECT_NE(masked.CDFiles.FindDirByPath(u"\\sub"), nullptr);
    EXPECT_EQ(masked.FindFile("\\sub", "inner.txt"), -1);
}

TEST(Tree, SavePathRecreatesTheSourceFoldersOfAnAbsolutePath) {
    TTempDir tmp;
    MakeDirs(tmp / "a/b");
    WriteFile(tmp / "a/b/f.txt", "x");
    burner::TDiscBurner b;
    burner::TDirEntry* d = b.InsertDir("\\", tmp / "a/b", "*.*", false, true);
    ASSERT_NE(d, nullptr);
    std::u16string expected;
    const std::string full = tmp / "a/b";
    for (char c : full)
        expected.push_back(c == '/' ? u'\\' : static_cast<char16_t>(c));
    EXPECT_EQ(b.CDFiles.FindDirByPath(expected), d);
    EXPECT_GE(b.FindFile(std::string(expected.begin(), expected.end()), "f.txt"), 0);
}

TEST(Tree, PathTableOrderIsBreadthFirstBySiblingName) {
    TCDFiles t;
    for (const char16_t* p :
         {u"\\zeta", u"\\alpha", u"\\alpha\\two", u"\\alpha\\one", u"\\zeta\\deep"}) {
        std::u16string path(p);
        const auto slash = path.rfind(u'\\');
        ASSERT_TRUE(t.CreateDir(std::u16string_view(path).substr(0, slash == 0 ? 1 : slash),
                                std::u16string_view(path).substr(slash + 1)));
    }
    t.Prepare();
    std::vector<std::u16string> order;
    std::vector<int> parents;
    for (const burner::TDirEntry* d : t.PathTableEntries) {
        order.push_back(d->LongName);
        parents.push_back(d->Parent->number);
    }
    EXPECT_EQ(order,
              (std::vector<std::u16string>{u"", u"alpha", u"zeta", u"one", u"two", u"deep"}));
    EXPECT_EQ(parents, (std::vector<int>{1, 1, 1, 2, 2, 3}));
    EXPECT_EQ(t.FindDirByPath(u"\\ALPHA\\ONE")->depth, 2);
}

TEST(Tree, NamesThatAreNotUtf8AreRefusedWithAMessage) {
    TTempDir tmp;
    const std::string bad = "bad\xff\xfe.txt";
    WriteFile(tmp / bad, "x");
    WriteFile(tmp / "good.txt", "y");
    MakeDirs(tmp / "dir\xc3");
    WriteFile(tmp / "dir\xc3/inside.txt", "z");
    burner::TDiscBurner b;
    std::vector<std::string> messages;
    b.OnAddFile = [&](void*, const std::u16string&, const TFindData&, bool& Skip,
                      const std::string& Message) {
        if (!Message.empty()) {
            EXPECT_TRUE(Skip);
            messages.push_back(Message);
        }
    };
    ASSERT_TRUE(b.InsertDir("\\", tmp.Path(), "*.*", true, false));
    EXPECT_EQ(b.FileCount(), 1);
    EXPECT_GE(b.FindFile("\\", "good.txt"), 0);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_NE(messages[0].find("not valid UTF-8"), std::string::npos);
    EXPECT_EQ(b.InsertFile("\\", tmp / bad), burner::SkippedFileMarker());
    // A destination or label text that is not UTF-8 is refused as well.
    EXPECT_EQ(b.CreateDir("\\", "x\xff"), nullptr);
    EXPECT_EQ(b.InsertFile("\\no\xff", tmp / "good.txt"), nullptr);
}

TEST(Tree, MissingSourcesAndDestinationsGiveNull) {
    TTempDir tmp;
    burner::TDiscBurner b;
    EXPECT_EQ(b.InsertFile("\\", tmp / "missing"), nullptr);
    EXPECT_EQ(b.InsertFile("\\", tmp.Path()), nullptr); // a folder is not a file
    WriteFile(tmp / "f", "x");
    EXPECT_EQ(b.InsertFile("\\nowhere", tmp / "f"), nullptr);
    EXPECT_EQ(b.InsertDir("\\", tmp / "missing", "*.*", true, false), nullptr);
    EXPECT_EQ(b.InsertDir("\\nowhere", tmp.Path(), "*.*", true, false), nullptr);
    EXPECT_EQ(b.FindFile("\\nowhere", "f"), -1);
    // A path through a file leads nowhere.
    ASSERT_TRUE(b.InsertFile("\\", tmp / "f"));
    EXPECT_EQ(b.CDFiles.FindDirByPath(u"\\f"), nullptr);
    // Names on the disc given to InsertFileWithName.
    const std::string source = tmp / "f";
    burner::TFileEntry* named = b.InsertFileWithNameW(
        u"\\", std::u16string(source.begin(), source.end()), u"On Disc.txt", u"ONDISC.TXT");
    ASSERT_NE(named, nullptr);
    EXPECT_EQ(std::string(named->ShortName), "ONDISC.TXT");
    EXPECT_EQ(named->LongName, u"On Disc.txt");
}

TEST(Tree, CapacitiesAreHeldWithANullResult) {
    TCDFiles t;
    const std::u16string root = u"\\";
    int made = 0;
    for (int i = 0; i < burner::MaxDirEntries + 5; ++i) {
        std::u16string name = u"d";
        for (char c : std::to_string(i))
            name.push_back(static_cast<char16_t>(c));
        if (t.CreateDir(std::u16string_view(root), std::u16string_view(name)))
            ++made;
    }
    EXPECT_EQ(t.DirCounter(), burner::MaxDirEntries);
    EXPECT_EQ(made, burner::MaxDirEntries - 1);
    for (int i = t.FileCounter(); i < burner::MaxFileEntries; ++i) {
        std::u16string name = u"f";
        for (char c : std::to_string(i))
            name.push_back(static_cast<char16_t>(c));
        ASSERT_NE(t.InsertMemoryFile(std::u16string_view(u"\\d1"), Described(name), nullptr),
                  nullptr);
    }
    EXPECT_EQ(t.InsertMemoryFile(std::u16string_view(u"\\d2"), Described(u"one.more"), nullptr),
              nullptr);
    EXPECT_EQ(t.FileCounter(), burner::MaxFileEntries);
    t.ClearAll();
    EXPECT_EQ(t.FileCounter(), 0);
    EXPECT_EQ(t.DirCounter(), 1);
}

TEST(Tree, BootImageAcceptsOnlyTheElToritoSizes) {
    TTempDir tmp;
    burner::TDiscBurner b;
    WriteFile(tmp / "floppy.img", 1474560, 1);
    WriteFile(tmp / "odd.img", 1000, 1);
    b.SetBootImage(tmp / "floppy.img");
    EXPECT_EQ(b.BootImage(), tmp / "floppy.img");
    b.SetBootImage(tmp / "odd.img");
    EXPECT_EQ(b.BootImage(), "");
    WriteFile(tmp / "noemul.img", 2048, 3);
    b.SetBootImage(tmp / "noemul.img");
    ASSERT_EQ(b.BootImage(), tmp / "noemul.img");
    WriteFile(tmp / "f.txt", "data");
    ASSERT_TRUE(b.InsertFile("\\", tmp / "f.txt"));
    std::string error;
    ASSERT_TRUE(BuildImage(b, tmp / "boot.iso", &error)) << error;
    const TRun r = RunCommand("isoinfo -d -i " + Quote(tmp / "boot.iso"));
    EXPECT_NE(r.Output.find("El Torito"), std::string::npos) << r.Output;
    const TRun x = RunCommand("7z x -y -o" + Quote(tmp / "x") + " " + Quote(tmp / "boot.iso"));
    EXPECT_EQ(ReadFile(tmp / "x/f.txt"), "data");
}
