#include "burner/image/Tree.h"

#include "burner/image/Unicode.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

namespace burner {

TFileEntry* SkippedFileMarker() {
    static TFileEntry marker;
    return &marker;
}

TDirEntry* SkippedDirMarker() {
    static TDirEntry marker;
    return &marker;
}

namespace {

bool IsSeparator(char16_t C) {
    return C == u'\\' || C == u'/';
}

TSystemTime ToLocalSystemTime(std::time_t T) {
    std::tm tm{};
    localtime_r(&T, &tm);
    TSystemTime st;
    st.wYear = static_cast<std::uint16_t>(tm.tm_year + 1900);
    st.wMonth = static_cast<std::uint16_t>(tm.tm_mon + 1);
    st.wDayOfWeek = static_cast<std::uint16_t>(tm.tm_wday);
    st.wDay = static_cast<std::uint16_t>(tm.tm_mday);
    st.wHour = static_cast<std::uint16_t>(tm.tm_hour);
    st.wMinute = static_cast<std::uint16_t>(tm.tm_min);
    st.wSecond = static_cast<std::uint16_t>(std::min(tm.tm_sec, 59));
    return st;
}

bool IsShortNameChar(char16_t C) {
    if ((C >= u'A' && C <= u'Z') || (C >= u'a' && C <= u'z') || (C >= u'0' && C <= u'9'))
        return true;
    return C < 0x80 && std::strchr("!#$%&'()-@^_`{}~", static_cast<char>(C)) != nullptr && C != 0;
}

// A name Windows keeps as its own 8.3 name: 1-8 characters, optionally a dot and 1-3 more.
bool IsValidShortName(std::u16string_view Name) {
    const size_t dot = Name.find(u'.');
    const std::u16string_view base = Name.substr(0, dot);
    std::u16string_view ext;
    if (dot != std::u16string_view::npos) {
        ext = Name.substr(dot + 1);
        if (ext.empty() || ext.size() > 3 || ext.find(u'.') != std::u16string_view::npos)
            return false;
    }
    if (base.empty() || base.size() > 8)
        return false;
    for (char16_t c : base)
        if (!IsShortNameChar(c))
            return false;
    for (char16_t c : ext)
        if (!IsShortNameChar(c))
            return false;
    return true;
}

char16_t ShortNameCharFor(char16_t C) {
    if (C >= u'a' && C <= u'z')
        return C - 32;
    if (IsShortNameChar(C))
        return C;
    return u'_';
}

std::u16string UpperAscii(std::u16string_view S) {
    std::u16string out(S);
    for (auto& c : out)
        if (c >= u'a' && c <= u'z')
            c -= 32;
    return out;
}

std::u16string Folded(std::u16string_view S) {
    std::u16string out(S);
    for (auto& c : out)
        c = FoldCase(c);
    return out;
}

// The short name an entry answers to, without the "." appended to files with no extension.
std::u16string ShortNameKey(const TFileEntry* E) {
    std::u16string s;
    for (const char* p = E->ShortName; *p; ++p)
        s.push_back(static_cast<unsigned char>(*p));
    if (!E->DirRecord && !s.empty() && s.back() == u'.')
        s.pop_back();
    return UpperAscii(s);
}

int DvdRank(std::u16string_view Name) {
    const std::u16string n = UpperAscii(Name);
    if (n == u"VIDEO_TS.IFO")
        return 0;
    if (n == u"VIDEO_TS.VOB")
        return 1;
    if (n == u"VIDEO_TS.BUP")
        return 2;
    // VTS_nn_k.EXT
    if (n.size() == 12 && n.compare(0, 4, u"VTS_") == 0 && n[6] == u'_' && n[8] == u'.' &&
        n[4] >= u'0' && n[4] <= u'9' && n[5] >= u'0' && n[5] <= u'9' && n[7] >= u'0' &&
        n[7] <= u'9') {
        const int nn = (n[4] - u'0') * 10 + (n[5] - u'0');
        const int k = n[7] - u'0';
        const std::u16string ext = n.substr(9);
        if (nn == 0)
            return -1;
        if (ext == u"IFO" && k == 0)
            return nn * 16;
        if (ext == u"VOB")
            return nn * 16 + 1 + k;
        if (ext == u"BUP" && k == 0)
            return nn * 16 + 11;
    }
    return -1;
}

std::string LeafOf(const std::string& Path) {
    size_t end = Path.size();
    while (end > 1 && Path[end - 1] == '/')
        --end;
    const size_t slash = Path.find_last_of('/', end - 1);
    return slash == std::string::npos ? Path.substr(0, end)
                                      : Path.substr(slash + 1, end - slash - 1);
}

bool ToUtf8Path(std::u16string_view In, std::string& Out) {
    // A wide path must be well-formed UTF-16: a lone surrogate names no Linux file.
    for (size_t i = 0; i < In.size(); ++i) {
        if (In[i] >= 0xD800 && In[i] <= 0xDBFF) {
            if (i + 1 >= In.size() || In[i + 1] < 0xDC00 || In[i + 1] > 0xDFFF)
                return false;
            ++i;
        } else if (In[i] >= 0xDC00 && In[i] <= 0xDFFF) {
            return false;
        }
    }
    Out = Utf16ToUtf8(In);
    return true;
}

bool FillFindData(const std::string& Path, const struct stat& St, TFindData& fd) {
    fd = TFindData{};
    fd.Attributes = S_ISDIR(St.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : 0;
    fd.LastWriteTime = St.st_mtime;
    fd.FileSize = S_ISDIR(St.st_mode) ? 0 : static_cast<std::uint64_t>(St.st_size);
    return Utf8ToUtf16(LeafOf(Path), fd.FileName);
}

std::string MaskOf(const std::string& Pattern) {
    // "*.*" means every name, with or without a dot, as on the system the program comes from.
    if (Pattern.empty() || Pattern == "*.*")
        return "*";
    return Pattern;
}

} // namespace

bool TCDFiles::ShortNameTaken(const TDirEntry* Dir, std::u16string_view Candidate) {
    const auto& names = FIndex[Dir].ShortNames;
    return names.count(UpperAscii(Candidate)) != 0;
}

// Generates a NAME~N.EXT alias unique within the directory, the way Windows does.
std::u16string TCDFiles::GenerateShortName(const TDirEntry* Dir, std::u16string_view LongName) {
    std::u16string name;
    for (char16_t c : LongName)
        if (c != u' ')
            name.push_back(c);
    while (!name.empty() && name.front() == u'.')
        name.erase(name.begin());
    std::u16string base, ext;
    const size_t dot = name.rfind(u'.');
    const std::u16string_view baseSrc = dot == std::u16string::npos
                                            ? std::u16string_view(name)
                                            : std::u16string_view(name).substr(0, dot);
    for (char16_t c : baseSrc)
        if (c != u'.')
            base.push_back(ShortNameCharFor(c));
    if (dot != std::u16string::npos)
        for (char16_t c : std::u16string_view(name).substr(dot + 1))
            if (ext.size() < 3)
                ext.push_back(ShortNameCharFor(c));
    if (base.empty())
        base.assign(1, u'_');
    const std::u16string stem = base.substr(0, 6) + u"." + ext;
    unsigned& next = FIndex[Dir].NextAlias[stem];
    for (unsigned n = std::max(next, 1u); n < 10000000; ++n) {
        std::u16string tail = u"~";
        for (char c : std::to_string(n))
            tail.push_back(static_cast<char16_t>(c));
        std::u16string candidate = base.substr(0, std::min<size_t>(base.size(), 8 - tail.size()));
        candidate += tail;
        if (!ext.empty()) {
            candidate.push_back(u'.');
            candidate.append(ext);
        }
        if (!ShortNameTaken(Dir, candidate)) {
            next = n + 1;
            return candidate;
        }
    }
    return u"_";
}

TCDFiles::TCDFiles() {
    ClearAll();
}

TCDFiles::~TCDFiles() = default;

void TCDFiles::ClearAll() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    const long minutesEast = tm.tm_gmtoff / 60;
    TimeZoneDifference = static_cast<std::int32_t>(minutesEast >= 0 ? minutesEast / 15
                                                                    : -((-minutesEast + 14) / 15));
    Files.clear();
    Dirs.clear();
    PathTableEntries.clear();
    FIndex.clear();
    FFileStore.clear();
    FDirStore.clear();
    ReleaseHeader();
    auto root = std::make_unique<TDirEntry>();
    root->Parent = root.get();
    std::strcpy(root->ShortName, "ROOT_DIR");
    root->DirNameLength = 8;
    RootDir = root.get();
    Dirs.push_back(RootDir);
    PathTableEntries.push_back(RootDir);
    FDirStore.push_back(std::move(root));
    BootImage.clear();
    BootImageSize = 0;
    Prepared = false;
    VideoTSPlacement = TVideoTSPlacement{};
    UDFBridgeInfo.Area.clear();
}

TDirEntry* TCDFiles::FindDirByPath(std::u16string_view Path) const {
    TDirEntry* dir = RootDir;
    size_t i = 0;
    while (true) {
        while (i < Path.size() && IsSeparator(Path[i]))
            ++i;
        if (i >= Path.size())
            return dir;
        size_t j = i;
        while (j < Path.size() && !IsSeparator(Path[j]))
            ++j;
        const std::u16string_view component = Path.substr(i, j - i);
        TFileEntry* match = nullptr;
        for (TFileEntry* e = dir->Files; e; e = e->NextFile)
            if (EqualNoCase(e->LongName, component)) {
                match = e;
                break;
            }
        if (!match || !match->DirRecord)
            return nullptr;
        dir = match->DirRecord;
        i = j;
    }
}

bool TCDFiles::Refuse(const std::string& SourcePath, const TFindData& fd,
                      const std::string& Message) {
    if (cbAddFileEvent) {
        bool skip = true;
        cbAddFileEvent(nullptr, Utf8ToUtf16Lossy(SourcePath), fd, skip, Message);
    }
    return true;
}

TFileEntry* TCDFiles::AddFileEntry(TDirEntry* Dir, const TFindData& fd,
                                   const std::string* SourcePath, std::uint32_t ImportedAddress,
                                   bool Unicode) {
    if (cbAddFileEvent) {
        bool skip = false;
        cbAddFileEvent(nullptr, SourcePath ? Utf8ToUtf16Lossy(*SourcePath) : std::u16string(), fd,
                       skip, std::string());
        if (skip)
            return SkippedFileMarker();
    }
    if (fd.FileName.size() > MaxLongNameLength || fd.FileName.empty())
        return SkippedFileMarker();
    const bool isDir = (fd.Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    TDirIndex& index = FIndex[Dir];
    const std::u16string key = Folded(fd.FileName);
    auto found = index.ByName.find(key);
    TFileEntry* entry = found == index.ByName.end() ? nullptr : found->second;
    if (entry) {
        // A file and a folder of the same name cannot share a directory: keep what is there.
        if ((entry->DirRecord != nullptr) != isDir)
            return nullptr;
        if (!ReplaceFile || isDir)
            return entry;
    } else {
        if (FileCounter() >= MaxFileEntries)
            return nullptr;
        auto owned = std::make_unique<TFileEntry>();
        entry = owned.get();
        FFileStore.push_back(std::move(owned));
        Files.push_back(entry);
        entry->FileId = FileCounter() - 1;
        TFileEntry* last = index.Tail ? index.Tail : Dir->Files;
        while (last && last->NextFile)
            last = last->NextFile;
        if (last)
            last->NextFile = entry;
        else
            Dir->Files = entry;
        index.Tail = entry;
        index.ByName[key] = entry;
        Prepared = false;
    }
    if (entry->ShortName[0])
        index.ShortNames.erase(ShortNameKey(entry));
    entry->FileNameLengthJ = static_cast<std::uint8_t>(fd.FileName.size());
    std::u16string alias = fd.AlternateFileName.substr(0, 12);
    if (alias.empty()) {
        if (IsValidShortName(fd.FileName) && !ShortNameTaken(Dir, fd.FileName))
            alias = fd.FileName;
        else
            alias = GenerateShortName(Dir, fd.FileName);
    }
    std::memset(entry->ShortName, 0, sizeof entry->ShortName);
    size_t n = 0;
    for (char16_t c : alias)
        entry->ShortName[n++] = c < 0x80 ? static_cast<char>(c) : '_';
    if (!isDir && alias.find(u'.') == std::u16string::npos)
        entry->ShortName[n++] = '.';
    entry->FileNameLength = static_cast<std::uint8_t>(n);
    index.ShortNames.insert(ShortNameKey(entry));
    entry->Time = ToLocalSystemTime(fd.LastWriteTime);
    entry->LongName = fd.FileName;
    if (entry->LongNameWIN32.empty())
        entry->LongNameWIN32 = fd.FileName;
    entry->FileSize = static_cast<std::int64_t>(fd.FileSize);
    if (SourcePath && !SourcePath->empty())
        entry->Path = *SourcePath;
    else
        entry->Path.clear();
    entry->Unicode = Unicode;
    entry->Address = ImportedAddress;
    entry->Imported = ImportedAddress != 0;
    entry->attributes = static_cast<std::int32_t>(fd.Attributes);
    Prepared = false;
    return entry;
}

TFileEntry* TCDFiles::InsertImportedFile(TDirEntry* Dir, const TFindData& fd,
                                         std::uint32_t DiscAddress) {
    if (!Dir || (fd.Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return nullptr;
    TFileEntry* e = AddFileEntry(Dir, fd, nullptr, DiscAddress, true);
    return e == SkippedFileMarker() ? nullptr : e;
}

TDirEntry* TCDFiles::AddDirEntry(TDirEntry* Parent, const TFindData& fdIn) {
    {
        const auto& byName = FIndex[Parent].ByName;
        auto it = byName.find(Folded(fdIn.FileName));
        if (it != byName.end())
            return it->second->DirRecord; // the existing folder, or null when a file has the name
    }
    if (DirCounter() >= MaxDirEntries || FileCounter() >= MaxFileEntries)
        return nullptr;
    TFindData fd = fdIn;
    fd.Attributes |= FILE_ATTRIBUTE_DIRECTORY;
    fd.FileSize = 0;
    if (fd.AlternateFileName.empty() && fd.FileName.size() <= MaxLongNameLength &&
        !fd.FileName.empty())
        fd.AlternateFileName =
            (IsValidShortName(fd.FileName) && !ShortNameTaken(Parent, fd.FileName))
                ? fd.FileName
                : GenerateShortName(Parent, fd.FileName);
    fd.AlternateFileName = UpperAscii(fd.AlternateFileName.substr(0, 12));
    // The folder's own entry in its parent comes first: a refused name takes no table slot.
    TFileEntry* entry = AddFileEntry(Parent, fd, nullptr, 0, true);
    if (!entry)
        return nullptr;
    if (entry == SkippedFileMarker())
        return SkippedDirMarker();
    auto owned = std::make_unique<TDirEntry>();
    TDirEntry* dir = owned.get();
    FDirStore.push_back(std::move(owned));
    Dirs.push_back(dir);
    PathTableEntries.push_back(dir);
    entry->DirRecord = dir;
    dir->Parent = Parent;
    dir->LongName = fd.FileName;
    dir->DirNameLengthJ = static_cast<std::uint8_t>(fd.FileName.size());
    std::memcpy(dir->ShortName, entry->ShortName, sizeof dir->ShortName);
    for (char* p = dir->ShortName; *p; ++p)
        if (*p >= 'a' && *p <= 'z')
            *p = static_cast<char>(*p - 32);
    dir->DirNameLength = static_cast<std::uint8_t>(std::strlen(dir->ShortName));
    Prepared = false;
    return dir;
}

TDirEntry* TCDFiles::CreateDir(std::u16string_view DestPath, std::u16string_view DirName) {
    TDirEntry* parent = FindDirByPath(DestPath);
    if (!parent || DirName.empty())
        return nullptr;
    for (char16_t c : DirName)
        if (IsSeparator(c))
            return nullptr;
    TFindData fd;
    fd.Attributes = FILE_ATTRIBUTE_DIRECTORY;
    fd.LastWriteTime = std::time(nullptr);
    fd.FileName = std::u16string(DirName);
    TDirEntry* dir = AddDirEntry(parent, fd);
    return dir == SkippedDirMarker() ? nullptr : dir;
}

TDirEntry* TCDFiles::CreateDir(std::string_view DestPath, std::string_view DirName) {
    std::u16string dest, name;
    if (!Utf8ToUtf16(DestPath, dest) || !Utf8ToUtf16(DirName, name))
        return nullptr;
    return CreateDir(dest, name);
}

TFileEntry* TCDFiles::InsertDiskFile(std::u16string_view DestPath, const std::string& FileName,
                                     const std::u16string* LongName,
                                     const std::u16string* ShortName, bool Unicode) {
    struct stat st {};
    if (FileName.empty() || ::stat(FileName.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return nullptr;
    TDirEntry* dir = FindDirByPath(DestPath);
    if (!dir)
        return nullptr;
    TFindData fd;
    const bool validName = FillFindData(FileName, st, fd);
    if (LongName) {
        fd.FileName = LongName->substr(0, 259);
        for (char16_t c : fd.FileName)
            if (IsSeparator(c))
                return nullptr;
    } else if (!validName) {
        fd.FileName = Utf8ToUtf16Lossy(LeafOf(FileName));
        Refuse(FileName, fd, "File name is not valid UTF-8: " + FileName);
        return SkippedFileMarker();
    }
    if (!S_ISREG(st.st_mode)) {
        Refuse(FileName, fd, "Not a regular file: " + FileName);
        return SkippedFileMarker();
    }
    if (ShortName)
        fd.AlternateFileName = ShortName->substr(0, 12);
    return AddFileEntry(dir, fd, &FileName, 0, Unicode);
}

TFileEntry* TCDFiles::InsertFile(std::u16string_view DestPath, std::u16string_view FileName) {
    std::string path;
    if (!ToUtf8Path(FileName, path))
        return nullptr;
    return InsertDiskFile(DestPath, path, nullptr, nullptr, true);
}

TFileEntry* TCDFiles::InsertFile(std::string_view DestPath, std::string_view FileName) {
    std::u16string dest;
    if (!Utf8ToUtf16(DestPath, dest))
        return nullptr;
    return InsertDiskFile(dest, std::string(FileName), nullptr, nullptr, false);
}

TFileEntry* TCDFiles::InsertFileWithName(std::u16string_view DestPath, std::u16string_view FileName,
                                         std::u16string_view LongNameOnDisc,
                                         std::u16string_view ShortNameOnDisc) {
    std::string path;
    if (!ToUtf8Path(FileName, path) || LongNameOnDisc.empty())
        return nullptr;
    const std::u16string longName(LongNameOnDisc), shortName(ShortNameOnDisc);
    return InsertDiskFile(DestPath, path, &longName, &shortName, true);
}

TFileEntry* TCDFiles::InsertFileWithName(std::string_view DestPath, std::string_view FileName,
                                         std::string_view LongNameOnDisc,
                                         std::string_view ShortNameOnDisc) {
    std::u16string dest, longName, shortName;
    if (!Utf8ToUtf16(DestPath, dest) || !Utf8ToUtf16(LongNameOnDisc, longName) ||
        !Utf8ToUtf16(ShortNameOnDisc, shortName) || longName.empty())
        return nullptr;
    return InsertDiskFile(dest, std::string(FileName), &longName, &shortName, false);
}

TFileEntry* TCDFiles::InsertMemoryFile(std::u16string_view DestPath, const TFindData& FindFileData,
                                       TGetDataEvent OnGetData) {
    TDirEntry* dir = FindDirByPath(DestPath);
    if (!dir || (FindFileData.Attributes & FILE_ATTRIBUTE_DIRECTORY))
        return nullptr;
    for (char16_t c : FindFileData.FileName)
        if (IsSeparator(c))
            return nullptr;
    TFileEntry* entry = AddFileEntry(dir, FindFileData, nullptr, 0, true);
    if (entry && entry != SkippedFileMarker())
        entry->mfcbFunction = std::move(OnGetData);
    return entry;
}

TFileEntry* TCDFiles::InsertMemoryFile(std::string_view DestPath, const TFindData& FindFileData,
                                       TGetDataEvent OnGetData) {
    std::u16string dest;
    if (!Utf8ToUtf16(DestPath, dest))
        return nullptr;
    return InsertMemoryFile(dest, FindFileData, std::move(OnGetData));
}

TDirEntry* TCDFiles::InsertDir(std::u16string_view DestPath, std::u16string_view DirPath,
                               std::u16string_view FileSpecs, bool Recursive, bool SavePath) {
    std::string dirPath, specs;
    if (!ToUtf8Path(DirPath, dirPath) || !ToUtf8Path(FileSpecs, specs))
        return nullptr;
    TDirEntry* dest = FindDirByPath(DestPath);
    if (!dest)
        return nullptr;
    return InsertDirTree(dest, dirPath, specs, Recursive, SavePath, true);
}

TDirEntry* TCDFiles::InsertDir(std::string_view DestPath, std::string_view DirPath,
                               std::string_view FileSpecs, bool Recursive, bool SavePath) {
    std::u16string dest;
    if (!Utf8ToUtf16(DestPath, dest))
        return nullptr;
    TDirEntry* d = FindDirByPath(dest);
    if (!d)
        return nullptr;
    return InsertDirTree(d, std::string(DirPath), std::string(FileSpecs), Recursive, SavePath,
                         false);
}

TDirEntry* TCDFiles::InsertDirTree(TDirEntry* Dest, const std::string& DirPathIn,
                                   const std::string& FileSpecs, bool Recursive, bool SavePath,
                                   bool Unicode) {
    std::string dirPath = DirPathIn;
    if (dirPath.size() > 1 && dirPath.back() == '/')
        dirPath.pop_back();
    struct stat dst {};
    if (dirPath.empty() || ::stat(dirPath.c_str(), &dst) != 0 || !S_ISDIR(dst.st_mode))
        return nullptr;
    if (SavePath && dirPath.size() > 1) {
        // A Linux absolute path keeps its folders on the disc: /a/b goes to \a\b.
        size_t i = 0;
        while (i < dirPath.size()) {
            while (i < dirPath.size() && dirPath[i] == '/')
                ++i;
            if (i >= dirPath.size())
                break;
            size_t j = dirPath.find('/', i);
            if (j == std::string::npos)
                j = dirPath.size();
            const std::string component = dirPath.substr(i, j - i);
            i = j;
            if (component == ".")
                continue;
            TFindData fd;
            fd.Attributes = FILE_ATTRIBUTE_DIRECTORY;
            fd.LastWriteTime = std::time(nullptr);
            if (component == ".." || !Utf8ToUtf16(component, fd.FileName))
                return nullptr;
            TDirEntry* next = AddDirEntry(Dest, fd);
            if (!next || next == SkippedDirMarker())
                return nullptr;
            Dest = next;
        }
    }

    DIR* d = ::opendir(dirPath.c_str());
    if (!d)
        return nullptr;
    struct TItem {
        std::string Name;
        std::string Path;
        struct stat St;
        bool Ok;
    };
    std::vector<TItem> subdirs, files;
    const std::string mask = MaskOf(FileSpecs);
    while (dirent* de = ::readdir(d)) {
        const std::string name = de->d_name;
        if (name == "." || name == "..")
            continue;
        TItem item{name, dirPath + (dirPath == "/" ? "" : "/") + name, {}, false};
        item.Ok = ::stat(item.Path.c_str(), &item.St) == 0;
        if (item.Ok && S_ISDIR(item.St.st_mode)) {
            if (Recursive)
                subdirs.push_back(std::move(item));
        } else if (::fnmatch(mask.c_str(), name.c_str(), FNM_CASEFOLD) == 0) {
            files.push_back(std::move(item));
        }
    }
    ::closedir(d);
    // DVD-Video files in the order players need them on the disc, everything else by bytes.
    auto order = [](const TItem& a, const TItem& b) {
        std::u16string wa, wb;
        const int ra = Utf8ToUtf16(a.Name, wa) ? DvdRank(wa) : -1;
        const int rb = Utf8ToUtf16(b.Name, wb) ? DvdRank(wb) : -1;
        if ((ra >= 0) != (rb >= 0))
            return ra >= 0;
        if (ra >= 0 && ra != rb)
            return ra < rb;
        return a.Name < b.Name;
    };
    std::sort(subdirs.begin(), subdirs.end(), order);
    std::sort(files.begin(), files.end(), order);

    for (const TItem& item : subdirs) {
        TFindData fd;
        if (!FillFindData(item.Path, item.St, fd)) {
            fd.FileName = Utf8ToUtf16Lossy(item.Name);
            Refuse(item.Path, fd, "Folder name is not valid UTF-8: " + item.Path);
            continue;
        }
        TDirEntry* sub = AddDirEntry(Dest, fd);
        if (!sub)
            return nullptr;
        if (sub == SkippedDirMarker())
            continue;
        if (!InsertDirTree(sub, item.Path, FileSpecs, true, false, Unicode))
            return nullptr;
    }
    for (const TItem& item : files) {
        TFindData fd;
        const bool validName =
            item.Ok ? FillFindData(item.Path, item.St, fd) : Utf8ToUtf16(item.Name, fd.FileName);
        if (!validName) {
            fd.FileName = Utf8ToUtf16Lossy(item.Name);
            Refuse(item.Path, fd, "File name is not valid UTF-8: " + item.Path);
            continue;
        }
        if (!item.Ok || !S_ISREG(item.St.st_mode)) {
            Refuse(item.Path, fd,
                   (item.Ok ? "Not a regular file: " : "Cannot read file: ") + item.Path);
            continue;
        }
        if (!AddFileEntry(Dest, fd, &item.Path, 0, Unicode))
            return nullptr;
    }
    return Dest;
}

int TCDFiles::FindFile(std::u16string_view Directory, std::u16string_view FileToFind) const {
    TDirEntry* dir = FindDirByPath(Directory);
    if (!dir)
        return -1;
    for (TFileEntry* e = dir->Files; e; e = e->NextFile)
        if (EqualNoCase(e->LongName, FileToFind))
            return e->FileId;
    return -1;
}

int TCDFiles::FindFile(std::string_view Directory, std::string_view FileToFind) const {
    std::u16string dir, file;
    if (!Utf8ToUtf16(Directory, dir) || !Utf8ToUtf16(FileToFind, file))
        return -1;
    return FindFile(dir, file);
}

void TCDFiles::SortTree() {
    // Depths and path-table order: breadth first, siblings by long name.
    PathTableEntries.clear();
    std::deque<TDirEntry*> queue{RootDir};
    RootDir->depth = 0;
    while (!queue.empty()) {
        TDirEntry* dir = queue.front();
        queue.pop_front();
        PathTableEntries.push_back(dir);
        dir->number = static_cast<std::uint16_t>(PathTableEntries.size());
        std::vector<TDirEntry*> children;
        for (TFileEntry* e = dir->Files; e; e = e->NextFile)
            if (e->DirRecord)
                children.push_back(e->DirRecord);
        std::stable_sort(children.begin(), children.end(), [](TDirEntry* a, TDirEntry* b) {
            const int c = CompareNoCase(a->LongName, b->LongName);
            return c != 0 ? c < 0 : a->LongName < b->LongName;
        });
        for (TDirEntry* c : children) {
            c->depth = static_cast<std::uint16_t>(dir->depth + 1);
            queue.push_back(c);
        }
    }
    if (DirCounter() <= 1)
        return;
    for (TDirEntry* dir : Dirs) {
        std::vector<TFileEntry*> list;
        for (TFileEntry* e = dir->Files; e; e = e->NextFile)
            list.push_back(e);
        std::stable_sort(list.begin(), list.end(), [](TFileEntry* a, TFileEntry* b) {
            return strcasecmp(a->ShortName, b->ShortName) < 0;
        });
        dir->Files = list.empty() ? nullptr : list.front();
        for (size_t i = 0; i < list.size(); ++i)
            list[i]->NextFile = i + 1 < list.size() ? list[i + 1] : nullptr;
    }
}

bool TCDFiles::SetBootImage(const std::string& Path) {
    BootImage.clear();
    BootImageSize = 0;
    Prepared = false;
    if (Path.empty())
        return false;
    struct stat st {};
    if (::stat(Path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    const auto size = st.st_size;
    if (size != 2048 && size != 1228800 && size != 1474560 && size != 2949120)
        return false;
    FILE* f = std::fopen(Path.c_str(), "rb");
    if (!f)
        return false;
    std::fclose(f);
    BootImage = Path;
    BootImageSize = static_cast<std::int32_t>(size);
    return true;
}

std::uint32_t TCDFiles::ExtentCount(std::int64_t Size) {
    constexpr std::int64_t part = 0xFFFFF800LL;
    return Size <= part ? 1u : static_cast<std::uint32_t>((Size + part - 1) / part);
}

std::uint32_t TCDFiles::UDFExtentCount(std::int64_t Size) {
    constexpr std::int64_t part = 0x3FFFF800LL;
    return Size <= part ? 1u : static_cast<std::uint32_t>((Size + part - 1) / part);
}

} // namespace burner
