// Images built by the engine, read back by the readers users have.
#include "burner/DiscBurner.h"
#include "support/BurnerImageFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

using namespace imagetest;
namespace fs = std::filesystem;

namespace {

// Every file below Root as a relative path, with its bytes.
std::map<std::string, std::string> FilesBelow(const std::string& Root) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(Root))
        if (e.is_regular_file())
            out[fs::relative(e.path(), Root).string()] = ReadFile(e.path().string());
    return out;
}

std::set<std::string> DirsBelow(const std::string& Root) {
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(Root))
        if (e.is_directory())
            out.insert(fs::relative(e.path(), Root).string());
    return out;
}

// Files and folders an isoinfo -l listing shows (without "." and "..").
std::pair<std::size_t, std::size_t> CountListed(const std::string& Listing) {
    std::size_t files = 0, dirs = 0;
    std::istringstream in(Listing);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("----------", 0) == 0)
            ++files;
        else if (line.rfind("d---------", 0) == 0 && line.find("]  . ") == std::string::npos &&
                 line.find("]  .. ") == std::string::npos)
            ++dirs;
    }
    return {files, dirs};
}

std::set<std::string> Lines(const std::string& Text) {
    std::set<std::string> out;
    std::istringstream in(Text);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty())
            out.insert(line);
    return out;
}

// Lists the tree through pycdlib's three views (which also checks tags, CRCs and that the two
// path-table copies agree). Lines: "iso:/PATH", "joliet:/path", "udf:/path" and "udfdata:/path
// <md5>" for files.
std::string PycdlibListing(const std::string& Image) {
    const std::string script = R"PY(
import sys, hashlib, io, pycdlib
iso = pycdlib.PyCdlib()
iso.open(sys.argv[1])
for kind, key in (('iso', 'iso_path'), ('joliet', 'joliet_path'), ('udf', 'udf_path')):
    for root, dirs, files in iso.walk(**{key: '/'}):
        for d in dirs:
            print('%s:%s/%s/' % (kind, root.rstrip('/'), d))
        for f in files:
            path = '%s/%s' % (root.rstrip('/'), f)
            print('%s:%s' % (kind, path))
            if kind == 'udf':
                out = io.BytesIO()
                iso.get_file_from_iso_fp(out, udf_path=path)
                print('udfdata:%s %s' % (path, hashlib.md5(out.getvalue()).hexdigest()))
iso.close()
)PY";
    const TRun r = RunCommand(std::string(Python()) + " -c " + Quote(script) + " " + Quote(Image));
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    return r.Output;
}

} // namespace

class ImageReaders : public ::testing::Test {
protected:
    TTempDir Tmp;
    std::string Src = Tmp / "src";
    std::string Image = Tmp / "out.iso";

    void MakeMixedTree() {
        MakeDirs(Src + "/Nested/Deeper/Deepest");
        MakeDirs(Src + "/Empty Folder");
        MakeDirs(Src + "/Ünïcödé Ordner");
        WriteFile(Src + "/readme", "no extension\n");
        WriteFile(Src + "/empty.dat", "");
        WriteFile(Src + "/.hidden", "hidden file\n");
        WriteFile(Src + "/A rather long file name that is not an 8.3 name at all.text", 5000, 1);
        WriteFile(Src + "/Nested/Deeper/Deepest/payload.bin", 200000, 2);
        WriteFile(Src + "/Nested/Sector.bin", 2048, 3);
        WriteFile(Src + "/Nested/Case.txt", "first\n");
        WriteFile(Src + "/Ünïcödé Ordner/Привет мир.txt", "cyrillic\n");
        WriteFile(Src + "/Ünïcödé Ordner/日本語のファイル.txt", "japanese\n");
        WriteFile(Src + "/Ünïcödé Ordner/emoji 😀.txt", "astral\n");
        WriteFile(Src + "/long names 1.txt", "one\n");
        WriteFile(Src + "/long names 2.txt", "two\n");
    }
};

TEST_F(ImageReaders, MixedTreeIsReadByEveryReader) {
    MakeMixedTree();
    burner::TDiscBurner b;
    b.SetUDFBridge(true);
    b.SetVolumeID("Mixed Tree");
    ASSERT_NE(b.InsertDir("\\", Src, "*.*", true, false), nullptr);
    // A name that differs only in case is the same name on the disc: the first one stays.
    WriteFile(Tmp / "CASE.TXT", "second\n");
    const burner::TFileEntry* same = b.InsertFile("\\Nested", Tmp / "CASE.TXT");
    ASSERT_NE(same, nullptr);
    EXPECT_EQ(same->Path, Src + "/Nested/Case.txt");
    std::string error;
    ASSERT_TRUE(BuildImage(b, Image, &error)) << error;

    const TRun d = RunCommand("isoinfo -d -i " + Quote(Image));
    ASSERT_EQ(d.ExitCode, 0) << d.Output;
    EXPECT_NE(d.Output.find("Volume id: MIXED TREE"), std::string::npos) << d.Output;
    EXPECT_NE(d.Output.find("Joliet with UCS level 1"), std::string::npos) << d.Output;
    EXPECT_EQ(fs::file_size(Image) % 65536, 0u);

    const TRun jl = RunCommand("isoinfo -J -l -i " + Quote(Image));
    ASSERT_EQ(jl.ExitCode, 0) << jl.Output;
    for (const auto& [rel, data] : FilesBelow(Src)) {
        // isoinfo prints Joliet names in an 8-bit character set: it shows the ASCII ones.
        const std::string leaf = fs::path(rel).filename().string();
        if (std::any_of(leaf.begin(), leaf.end(), [](char c) { return c & 0x80; }))
            continue;
        EXPECT_NE(jl.Output.find(" " + leaf), std::string::npos) << leaf << "\n" << jl.Output;
    }
    const std::pair<std::size_t, std::size_t> expected{FilesBelow(Src).size(), DirsBelow(Src).size()};
    EXPECT_EQ(CountListed(jl.Output), expected) << jl.Output;
    const TRun l = RunCommand("isoinfo -l -i " + Quote(Image));
    ASSERT_EQ(l.ExitCode, 0) << l.Output;
    EXPECT_EQ(CountListed(l.Output), expected) << l.Output;
    EXPECT_NE(l.Output.find("Directory listing of /NESTED/DEEPER/DEEPEST/"), std::string::npos)
        << l.Output;
    EXPECT_NE(l.Output.find(" README."), std::string::npos) << l.Output;
    EXPECT_NE(l.Output.find(" EMPTY.DAT"), std::string::npos) << l.Output;

    const TRun u = RunCommand("udfinfo " + Quote(Image));
    EXPECT_EQ(u.ExitCode, 0) << u.Output;
    EXPECT_NE(u.Output.find("label=Mixed Tree"), std::string::npos) << u.Output;

    // pycdlib sees the same tree in all three hierarchies.
    const std::set<std::string> listing = Lines(PycdlibListing(Image));
    for (const auto& [rel, data] : FilesBelow(Src)) {
        EXPECT_TRUE(listing.count("joliet:/" + rel)) << rel;
        EXPECT_TRUE(listing.count("udf:/" + rel)) << rel;
    }
    for (const std::string& dir : DirsBelow(Src))
        EXPECT_TRUE(listing.count("udf:/" + dir + "/")) << dir;
    EXPECT_TRUE(listing.count("iso:/README.")) << PycdlibListing(Image);

    // 7z extracts every file byte for byte.
    const std::string out = Tmp / "x";
    const TRun x = RunCommand("7z x -y -o" + Quote(out) + " " + Quote(Image));
    ASSERT_EQ(x.ExitCode, 0) << x.Output;
    const auto extracted = FilesBelow(out);
    const auto source = FilesBelow(Src);
    EXPECT_EQ(extracted.size(), source.size());
    for (const auto& [rel, data] : source) {
        auto it = extracted.find(rel);
        ASSERT_NE(it, extracted.end()) << rel;
        EXPECT_TRUE(it->second == data) << rel;
    }
    EXPECT_EQ(DirsBelow(out), DirsBelow(Src));
}

TEST_F(ImageReaders, Iso9660v1999CarriesLongNamesInThePrimaryHierarchy) {
    MakeDirs(Src + "/A folder with a long name");
    WriteFile(Src + "/A folder with a long name/Some long file name.data", 3000, 4);
    WriteFile(Src + "/short.txt", "x");
    burner::TDiscBurner b;
    b.SetISO9660v1999FS(true);
    b.SetJolietFileSystem(false);
    ASSERT_NE(b.InsertDir("\\", Src, "*.*", true, false), nullptr);
    std::string error;
    ASSERT_TRUE(BuildImage(b, Image, &error)) << error;
    const TRun l = RunCommand("isoinfo -l -i " + Quote(Image));
    ASSERT_EQ(l.ExitCode, 0) << l.Output;
    EXPECT_NE(l.Output.find("Directory listing of /A folder with a long name/"), std::string::npos)
        << l.Output;
    EXPECT_NE(l.Output.find(" Some long file name.data"), std::string::npos) << l.Output;
    const TRun py = RunCommand(
        std::string(Python()) +
        " -c 'import sys,pycdlib;i=pycdlib.PyCdlib();i.open(sys.argv[1]);"
        "print(sorted(c.file_identifier().decode() for c in i.list_children(iso_path=\"/\")))' " +
        Quote(Image));
    EXPECT_EQ(py.ExitCode, 0) << py.Output;
    EXPECT_NE(py.Output.find("'A folder with a long name'"), std::string::npos) << py.Output;
    const std::string out = Tmp / "x";
    const TRun x = RunCommand("7z x -y -o" + Quote(out) + " " + Quote(Image));
    ASSERT_EQ(x.ExitCode, 0) << x.Output;
    EXPECT_TRUE(FilesBelow(out) == FilesBelow(Src));
}
