// Layout of the image and the ISO 9660 / Joliet structures up to the first data sector.
#include "burner/image/Bytes.h"
#include "burner/image/Tree.h"
#include "burner/image/Unicode.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <unistd.h>

namespace burner {

namespace {

// Joliet names longer than 103 UTF-16 units are cut there, as mastering tools' long-Joliet
// mode does: a record's length byte could not hold much more, and readers accept 103.
constexpr std::size_t MaxJolietUnits = 103;
// ISO 9660:1999 identifiers hold at most 207 bytes.
constexpr std::size_t Max1999Bytes = 207;
// Bytes of one part of a file of 4 GiB or more (a whole number of sectors).
constexpr std::uint64_t IsoPartBytes = 0xFFFFF800ULL;

std::u16string JolietName(const std::u16string& Name) {
    if (Name.size() <= MaxJolietUnits)
        return Name;
    size_t n = MaxJolietUnits;
    if (Name[n - 1] >= 0xD800 && Name[n - 1] <= 0xDBFF)
        --n;
    return Name.substr(0, n);
}

std::string Name1999(const std::u16string& Name) {
    std::string s = Utf16ToUtf8(Name);
    if (s.size() <= Max1999Bytes)
        return s;
    size_t n = Max1999Bytes;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    return s.substr(0, n);
}

std::string UpperShort(const char* Short) {
    std::string s = Short;
    for (auto& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    return s;
}

std::string BigEndianUcs2(const std::u16string& S) {
    std::string out;
    for (char16_t c : S) {
        out.push_back(static_cast<char>(c >> 8));
        out.push_back(static_cast<char>(c & 0xFF));
    }
    return out;
}

void AppendZeros(std::vector<std::uint8_t>& V, std::size_t N) {
    V.insert(V.end(), N, 0);
}

void PadToSector(std::vector<std::uint8_t>& V) {
    const std::size_t rest = V.size() % SectorSize;
    if (rest)
        AppendZeros(V, SectorSize - rest);
}

std::uint32_t ReadIfoWord(int Fd, std::uint64_t Offset) {
    std::uint8_t b[4];
    if (::pread(Fd, b, 4, static_cast<off_t>(Offset)) != 4)
        return 0xFFFFFFFF;
    return GetBE32(b);
}

bool IfoMagic(int Fd, const char* Magic) {
    char b[12];
    return ::pread(Fd, b, 12, 0) == 12 && std::memcmp(b, Magic, 12) == 0;
}

bool IsVideoTSTree(const TCDFiles& T) {
    for (TFileEntry* e = T.RootDir->Files; e; e = e->NextFile)
        if (e->DirRecord && EqualNoCase(e->LongName, u"VIDEO_TS"))
            return true;
    return false;
}

} // namespace

std::uint32_t TCDFiles::DirExtentSectors(TDirEntry* Dir, bool Joliet) const {
    std::uint32_t sectors = 1;
    std::uint32_t left = SectorSize - 68;
    for (TFileEntry* e = Dir->Files; e; e = e->NextFile) {
        std::uint32_t len;
        if (Joliet) {
            len = 34 + 2 * static_cast<std::uint32_t>(JolietName(e->LongName).size());
        } else {
            const std::size_t n =
                ISO9660v1999FS ? Name1999(e->LongName).size() : std::strlen(e->ShortName);
            len = static_cast<std::uint32_t>(33 + n + (n % 2 == 0 ? 1 : 0));
        }
        const std::uint32_t records = e->DirRecord ? 1 : ExtentCount(e->FileSize);
        for (std::uint32_t r = 0; r < records; ++r) {
            if (len > left) {
                ++sectors;
                left = SectorSize;
            }
            left -= len;
        }
    }
    return sectors;
}

void TCDFiles::ComputeVideoTSPlacement() {
    VideoTSPlacement = TVideoTSPlacement{};
    TDirEntry* vts = nullptr;
    for (TFileEntry* e = RootDir->Files; e; e = e->NextFile)
        if (e->DirRecord && EqualNoCase(e->LongName, u"VIDEO_TS"))
            vts = e->DirRecord;
    if (!vts)
        return;
    std::map<std::u16string, TFileEntry*> byName;
    for (TFileEntry* e = vts->Files; e; e = e->NextFile)
        if (!e->DirRecord) {
            std::u16string upper = e->LongName;
            for (auto& c : upper)
                c = FoldCase(c);
            byName[upper] = e;
        }
    auto find = [&](const std::u16string& n) -> TFileEntry* {
        auto it = byName.find(n);
        return it == byName.end() ? nullptr : it->second;
    };
    auto readable = [](TFileEntry* e) {
        return e && !e->Path.empty() && !e->Imported && !e->ReferenceEntry;
    };
    TFileEntry* vmgIfo = find(u"VIDEO_TS.IFO");
    if (!readable(vmgIfo))
        return;
    const int fd = ::open(vmgIfo->Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    TVideoTSPlacement plan;
    plan.Dir = vts;
    bool ok = IfoMagic(fd, "DVDVIDEO-VMG");
    const std::uint32_t vmgLast = ReadIfoWord(fd, 0x0C);
    const std::uint32_t vmgmVobs = ReadIfoWord(fd, 0xC0);
    const std::uint32_t ttSrpt = ReadIfoWord(fd, 0xC4);
    std::map<int, std::uint32_t> vtsStart;
    if (ok && ttSrpt != 0xFFFFFFFF && ttSrpt != 0) {
        std::uint8_t head[8];
        const std::uint64_t base = static_cast<std::uint64_t>(ttSrpt) * SectorSize;
        if (::pread(fd, head, 8, static_cast<off_t>(base)) == 8) {
            const unsigned titles = GetBE16(head);
            for (unsigned t = 0; t < titles && t < 99; ++t) {
                std::uint8_t rec[12];
                if (::pread(fd, rec, 12, static_cast<off_t>(base + 8 + 12 * t)) != 12) {
                    ok = false;
                    break;
                }
                const int set = rec[6];
                if (!vtsStart.count(set))
                    vtsStart[set] = GetBE32(rec + 8);
            }
        } else {
            ok = false;
        }
    }
    ::close(fd);
    if (!ok || vmgLast == 0xFFFFFFFF)
        return;
    plan.Offsets.push_back({vmgIfo, 0});
    if (TFileEntry* vob = find(u"VIDEO_TS.VOB")) {
        if (vmgmVobs == 0)
            return;
        plan.Offsets.push_back({vob, vmgmVobs});
    }
    if (TFileEntry* bup = find(u"VIDEO_TS.BUP")) {
        const std::uint32_t s = SectorsFor(bup->FileSize);
        if (vmgLast + 1 < s)
            return;
        plan.Offsets.push_back({bup, vmgLast + 1 - s});
    }
    for (int nn = 1; nn <= 99; ++nn) {
        auto name = [nn](const char* fmt) {
            char b[16];
            std::snprintf(b, sizeof b, fmt, nn);
            std::u16string s;
            for (char* p = b; *p; ++p)
                s.push_back(static_cast<unsigned char>(*p));
            return s;
        };
        TFileEntry* ifo = find(name("VTS_%02d_0.IFO"));
        bool any = ifo != nullptr;
        for (int k = 0; k <= 9 && !any; ++k)
            any = find(name(("VTS_%02d_" + std::to_string(k) + ".VOB").c_str())) != nullptr;
        if (!any && !find(name("VTS_%02d_0.BUP")))
            continue;
        if (!readable(ifo) || !vtsStart.count(nn))
            return;
        const std::uint32_t start = vtsStart[nn];
        const int vfd = ::open(ifo->Path.c_str(), O_RDONLY | O_CLOEXEC);
        if (vfd < 0)
            return;
        const bool vok = IfoMagic(vfd, "DVDVIDEO-VTS");
        const std::uint32_t vtsLast = ReadIfoWord(vfd, 0x0C);
        const std::uint32_t vtsmVobs = ReadIfoWord(vfd, 0xC0);
        const std::uint32_t vtsttVobs = ReadIfoWord(vfd, 0xC4);
        ::close(vfd);
        if (!vok || vtsLast == 0xFFFFFFFF || vtsmVobs == 0xFFFFFFFF || vtsttVobs == 0xFFFFFFFF)
            return;
        plan.Offsets.push_back({ifo, start});
        if (TFileEntry* menu = find(name("VTS_%02d_0.VOB"))) {
            if (vtsmVobs == 0)
                return;
            plan.Offsets.push_back({menu, start + vtsmVobs});
        }
        std::uint32_t next = start + vtsttVobs;
        for (int k = 1; k <= 9; ++k) {
            TFileEntry* vob = find(name(("VTS_%02d_" + std::to_string(k) + ".VOB").c_str()));
            if (!vob)
                continue;
            if (vtsttVobs == 0)
                return;
            plan.Offsets.push_back({vob, next});
            next += SectorsFor(vob->FileSize);
        }
        if (TFileEntry* bup = find(name("VTS_%02d_0.BUP"))) {
            const std::uint32_t s = SectorsFor(bup->FileSize);
            if (vtsLast + 1 < s)
                return;
            plan.Offsets.push_back({bup, start + vtsLast + 1 - s});
        }
    }
    // Every file must lie where declared without overlapping another; otherwise the folder
    // keeps the contiguous order it was inserted in.
    auto sorted = plan.Offsets;
    std::sort(sorted.begin(), sorted.end(),
              [](const auto& a, const auto& b) { return a.second < b.second; });
    std::uint64_t end = 0;
    for (const auto& [entry, offset] : sorted) {
        if (!readable(entry) && entry->FileSize > 0)
            return;
        if (offset < end)
            return;
        end = static_cast<std::uint64_t>(offset) + SectorsFor(entry->FileSize);
    }
    if (end > 0xFFFFFFFFULL)
        return;
    plan.Sectors = static_cast<std::uint32_t>(end);
    plan.Valid = true;
    VideoTSPlacement = std::move(plan);
}

std::uint32_t TCDFiles::Prepare() {
    ComponentStatus = 6;
    ISO9660FS = true;
    UDF12 = false;
    SortTree();
    FileDirDescriptorWidth = 0;

    Cursor = 16 + 1;
    if (ISO9660v1999FS)
        ++Cursor;
    if (!BootImage.empty())
        ++Cursor;
    if (JolietFS)
        ++Cursor;
    ++Cursor; // terminator
    if (UDFBridge) {
        UDFLayoutStart(Cursor);
        UDFBridgeInfo.Revision = IsVideoTSTree(*this) ? 0x0102 : 0x0150;
        Cursor = 259;
    }

    PathTableWidth = 10;
    PathTableWidthJ = 10;
    for (size_t i = 1; i < PathTableEntries.size(); ++i) {
        TDirEntry* d = PathTableEntries[i];
        const std::size_t n =
            ISO9660v1999FS ? Name1999(d->LongName).size() : std::strlen(d->ShortName);
        PathTableWidth += static_cast<std::uint32_t>(8 + n + (n % 2));
        PathTableWidthJ += static_cast<std::uint32_t>(8 + 2 * JolietName(d->LongName).size());
    }
    PathTableExtentL = Cursor;
    Cursor += SectorsFor(PathTableWidth);
    path_table_extent_m = Cursor;
    Cursor += SectorsFor(PathTableWidth);
    if (JolietFS) {
        path_table_extent_j_l = Cursor;
        Cursor += SectorsFor(PathTableWidthJ);
        path_table_extent_j_m = Cursor;
        Cursor += SectorsFor(PathTableWidthJ);
    }

    FileDirDescriptorExtent = Cursor;
    for (TDirEntry* d : Dirs) {
        const std::uint32_t s = DirExtentSectors(d, false);
        d->Address = FileDirDescriptorWidth;
        d->DirSize = static_cast<std::int32_t>(s * SectorSize);
        FileDirDescriptorWidth += s;
    }
    Cursor += FileDirDescriptorWidth;
    file_and_dir_descriptor_width_j = 0;
    if (JolietFS) {
        file_and_dir_descriptor_extent_j = Cursor;
        for (TDirEntry* d : Dirs) {
            const std::uint32_t s = DirExtentSectors(d, true);
            d->AddressJ = file_and_dir_descriptor_width_j;
            d->DirSizeJ = static_cast<std::int32_t>(s * SectorSize);
            file_and_dir_descriptor_width_j += s;
        }
        Cursor += file_and_dir_descriptor_width_j;
    }
    if (!BootImage.empty())
        BootCatalogLocation = Cursor++;
    Blank = 150 - static_cast<std::int32_t>(Cursor);
    if (Cursor < 150)
        Cursor = 150;

    // File data: contiguous in Files order, except a DVD-Video folder, whose files go where its
    // IFO files say (relative to VIDEO_TS.IFO), the gaps between them left as zero sectors.
    ComputeVideoTSPlacement();
    std::uint64_t count = 0;
    bool videoPlaced = false;
    auto inPlan = [this](TFileEntry* e) {
        if (!VideoTSPlacement.Valid)
            return false;
        for (const auto& p : VideoTSPlacement.Offsets)
            if (p.first == e)
                return true;
        return false;
    };
    for (TFileEntry* e : Files) {
        if (e->DirRecord || e->ReferenceEntry)
            continue;
        if (inPlan(e)) {
            if (!videoPlaced) {
                for (const auto& [entry, offset] : VideoTSPlacement.Offsets)
                    entry->Address =
                        entry->FileSize == 0 ? 0 : static_cast<std::uint32_t>(count + offset);
                count += VideoTSPlacement.Sectors;
                videoPlaced = true;
            }
            continue;
        }
        if (e->FileSize == 0) {
            e->Address = 0;
            continue;
        }
        if (e->Imported)
            continue;
        e->Address = static_cast<std::uint32_t>(count);
        count += SectorsFor(e->FileSize);
    }
    for (TFileEntry* e : Files)
        if (e->ReferenceEntry)
            e->Address = e->ReferenceEntry->Address;
    FilesSize = static_cast<std::uint32_t>(count);

    if (!BootImage.empty()) {
        BootImageLocation = Cursor;
        Cursor += SectorsFor(BootImageSize);
    }
    if (UDFBridge) {
        UDFLayoutDirectories(Cursor);
        Cursor += UDFBridgeInfo.NumberOfBlocksRequiredForFileDirStructures;
    }
    FirstDataSector = Cursor;
    TotalImageSize = Cursor + FilesSize;
    const std::uint32_t used = TotalImageSize + (UDFBridge ? 1 : 0);
    if (UDFBridge) {
        UDFBridgeInfo.IsNewPacketRequiredForLastAVDP = TotalImageSize % SectorsPerPacket == 0;
        TotalImageSize += 1;
    }
    TotalImageSize = (TotalImageSize + SectorsPerPacket - 1) / SectorsPerPacket * SectorsPerPacket;
    if (UDFBridge)
        UDFLayoutEnd();
    Prepared = true;
    ComponentStatus = 0;
    return used;
}

void TCDFiles::ReleaseHeader() {
    std::vector<std::uint8_t>().swap(isom);
    IsoHeaderSize = 0;
}

namespace {

void FillDescriptorHead(std::uint8_t* D, std::uint8_t Type, std::uint8_t Version) {
    D[0] = Type;
    std::memcpy(D + 1, "CD001", 5);
    D[6] = Version;
}

void FillRootRecord(std::uint8_t* R, std::uint32_t Extent, std::uint32_t Size) {
    R[0] = 34;
    PutBoth32(R + 2, Extent);
    PutBoth32(R + 10, Size);
    R[25] = 2;
    PutBoth16(R + 28, 1);
    R[32] = 1;
    R[33] = 0;
}

} // namespace

void TCDFiles::AppendIsoDescriptors() {
    auto common = [this](std::uint8_t* d, std::uint32_t ptSize, std::uint32_t ptL,
                         std::uint32_t ptM, std::uint32_t rootExtent, std::uint32_t rootSize) {
        PutBoth32(d + 80, TotalImageSize + VDImageSize);
        PutBoth16(d + 120, 1);
        PutBoth16(d + 124, 1);
        PutBoth16(d + 128, SectorSize);
        PutBoth32(d + 132, ptSize);
        PutLE32(d + 140, FirstWritableSector + ptL);
        PutBE32(d + 148, FirstWritableSector + ptM);
        FillRootRecord(d + 156, FirstWritableSector + rootExtent, rootSize);
        d[881] = 1;
    };
    std::uint8_t d[SectorSize];

    // Primary descriptor. Its escape-sequence field stays zero: readers that find the Joliet
    // escape there decode the primary names as UCS-2.
    std::memset(d, 0, sizeof d);
    FillDescriptorHead(d, 1, 1);
    for (int i = 0; i < 32 && VolumeLabel[i]; ++i) {
        char c = VolumeLabel[i];
        d[40 + i] = static_cast<std::uint8_t>(c >= 'a' && c <= 'z' ? c - 32 : c);
    }
    common(d, PathTableWidth, PathTableExtentL, path_table_extent_m, FileDirDescriptorExtent,
           static_cast<std::uint32_t>(RootDir->DirSize));
    isom.insert(isom.end(), d, d + SectorSize);

    if (!BootImage.empty()) {
        std::memset(d, 0, sizeof d);
        FillDescriptorHead(d, 0, 1);
        // The boot record's system identifier, as El Torito fixes it (written in two pieces).
        std::memcpy(d + 7, "EL TORITO SPECI" "FICATION", 23);
        PutLE32(d + 71, BootCatalogLocation);
        isom.insert(isom.end(), d, d + SectorSize);
    }
    if (ISO9660v1999FS) {
        std::memset(d, 0, sizeof d);
        FillDescriptorHead(d, 2, 2);
        std::memcpy(d + 40, isom.data() + 16 * SectorSize + 40, 32);
        common(d, PathTableWidth, PathTableExtentL, path_table_extent_m, FileDirDescriptorExtent,
               static_cast<std::uint32_t>(RootDir->DirSize));
        d[881] = 2;
        isom.insert(isom.end(), d, d + SectorSize);
    }
    if (JolietFS) {
        std::memset(d, 0, sizeof d);
        FillDescriptorHead(d, 2, 1);
        for (int i = 0, k = 0; i < 16 && VolumeLabelW[i]; ++i) {
            // Never split a surrogate pair at the end of the field.
            if (i == 15 && VolumeLabelW[i] >= 0xD800 && VolumeLabelW[i] <= 0xDBFF)
                break;
            PutBE16(d + 40 + 2 * k++, VolumeLabelW[i]);
        }
        d[88] = 0x25;
        d[89] = 0x2F;
        d[90] = 0x40;
        common(d, PathTableWidthJ, path_table_extent_j_l, path_table_extent_j_m,
               file_and_dir_descriptor_extent_j, static_cast<std::uint32_t>(RootDir->DirSizeJ));
        isom.insert(isom.end(), d, d + SectorSize);
    }
    std::memset(d, 0, sizeof d);
    FillDescriptorHead(d, 255, 1);
    isom.insert(isom.end(), d, d + SectorSize);
}

void TCDFiles::AppendPathTable(bool Joliet, bool BigEndian) {
    const std::size_t start = isom.size();
    const std::uint32_t area = Joliet ? file_and_dir_descriptor_extent_j : FileDirDescriptorExtent;
    for (size_t i = 0; i < PathTableEntries.size(); ++i) {
        TDirEntry* dir = PathTableEntries[i];
        std::string id;
        if (i == 0)
            id = std::string(1, '\0');
        else if (Joliet)
            id = BigEndianUcs2(JolietName(dir->LongName));
        else if (ISO9660v1999FS)
            id = Name1999(dir->LongName);
        else
            id = UpperShort(dir->ShortName);
        std::uint8_t rec[8] = {};
        rec[0] = static_cast<std::uint8_t>(id.size());
        const std::uint32_t extent =
            FirstWritableSector + area + (Joliet ? dir->AddressJ : dir->Address);
        const std::uint16_t parent = i == 0 ? 1 : dir->Parent->number;
        if (BigEndian) {
            PutBE32(rec + 2, extent);
            PutBE16(rec + 6, parent);
        } else {
            PutLE32(rec + 2, extent);
            PutLE16(rec + 6, parent);
        }
        isom.insert(isom.end(), rec, rec + 8);
        isom.insert(isom.end(), id.begin(), id.end());
        if (id.size() % 2)
            isom.push_back(0);
    }
    (void)start;
    PadToSector(isom);
}

void TCDFiles::AppendDirectoryExtent(TDirEntry* Dir, bool Joliet) {
    const std::size_t start = isom.size();
    const std::uint32_t area = Joliet ? file_and_dir_descriptor_extent_j : FileDirDescriptorExtent;
    auto dirExtent = [&](TDirEntry* d) {
        return FirstWritableSector + area + (Joliet ? d->AddressJ : d->Address);
    };
    auto dirSize = [&](TDirEntry* d) {
        return static_cast<std::uint32_t>(Joliet ? d->DirSizeJ : d->DirSize);
    };
    std::uint8_t rec[256];
    for (int k = 0; k < 2; ++k) {
        std::memset(rec, 0, 34);
        TDirEntry* target = k == 0 ? Dir : Dir->Parent;
        FillRootRecord(rec, dirExtent(target), dirSize(target));
        rec[33] = static_cast<std::uint8_t>(k);
        isom.insert(isom.end(), rec, rec + 34);
    }
    std::size_t used = 68;
    for (TFileEntry* e = Dir->Files; e; e = e->NextFile) {
        std::string id;
        if (Joliet)
            id = BigEndianUcs2(JolietName(e->LongName));
        else if (ISO9660v1999FS)
            id = Name1999(e->LongName);
        else
            id = UpperShort(e->ShortName);
        const std::size_t len = 33 + id.size() + (id.size() % 2 == 0 ? 1 : 0);
        const std::uint32_t records = e->DirRecord ? 1 : ExtentCount(e->FileSize);
        std::uint64_t remaining = static_cast<std::uint64_t>(e->FileSize);
        for (std::uint32_t r = 0; r < records; ++r) {
            if (used + len > SectorSize) {
                AppendZeros(isom, SectorSize - used);
                used = 0;
            }
            std::memset(rec, 0, sizeof rec);
            rec[0] = static_cast<std::uint8_t>(len);
            std::uint32_t extent = 0;
            std::uint32_t size = 0;
            std::uint8_t flags = 0;
            if (e->DirRecord) {
                extent = dirExtent(e->DirRecord);
                size = dirSize(e->DirRecord);
                flags = 2;
            } else if (e->FileSize > 0) {
                const std::uint64_t part = std::min<std::uint64_t>(remaining, IsoPartBytes);
                const std::uint32_t base =
                    e->Imported ? e->Address : FirstWritableSector + FirstDataSector + e->Address;
                extent = base + r * static_cast<std::uint32_t>(IsoPartBytes / SectorSize);
                size = static_cast<std::uint32_t>(part);
                remaining -= part;
                if (r + 1 < records)
                    flags |= 0x80; // more parts of this file follow
            }
            if (e->attributes & FILE_ATTRIBUTE_HIDDEN)
                flags |= 1;
            PutBoth32(rec + 2, extent);
            PutBoth32(rec + 10, size);
            rec[18] = static_cast<std::uint8_t>(e->Time.wYear >= 1900 ? e->Time.wYear - 1900 : 0);
            rec[19] = static_cast<std::uint8_t>(e->Time.wMonth);
            rec[20] = static_cast<std::uint8_t>(e->Time.wDay);
            rec[21] = static_cast<std::uint8_t>(e->Time.wHour);
            rec[22] = static_cast<std::uint8_t>(e->Time.wMinute);
            rec[23] = static_cast<std::uint8_t>(e->Time.wSecond);
            rec[24] = static_cast<std::uint8_t>(static_cast<std::int8_t>(TimeZoneDifference));
            rec[25] = flags;
            PutBoth16(rec + 28, 1);
            rec[32] = static_cast<std::uint8_t>(id.size());
            std::memcpy(rec + 33, id.data(), id.size());
            isom.insert(isom.end(), rec, rec + len);
            used += len;
        }
    }
    PadToSector(isom);
    (void)start;
}

void TCDFiles::AppendBootCatalog() {
    std::uint8_t c[SectorSize] = {};
    c[0] = 1;
    c[1] = 0;
    std::memcpy(c + 4, "Ordavine", 8);
    c[30] = 0x55;
    c[31] = 0xAA;
    std::uint16_t sum = 0;
    for (int i = 0; i < 32; i += 2)
        sum = static_cast<std::uint16_t>(sum + GetLE16(c + i));
    PutLE16(c + 28, static_cast<std::uint16_t>(-sum));
    c[32] = 0x88;
    std::uint8_t media = 0;
    std::uint16_t count = 4;
    switch (BootImageSize) {
    case 1228800:
        media = 1, count = 1;
        break;
    case 1474560:
        media = 2, count = 1;
        break;
    case 2949120:
        media = 3, count = 1;
        break;
    default:
        break;
    }
    c[33] = media;
    PutLE16(c + 38, count);
    PutLE32(c + 40, FirstWritableSector + BootImageLocation);
    isom.insert(isom.end(), c, c + SectorSize);
}

bool TCDFiles::BuildHeader() {
    if (!Prepared)
        return false;
    ReleaseHeader();
    isom.reserve(static_cast<std::size_t>(std::max<std::uint32_t>(FirstDataSector, 150)) *
                 SectorSize);
    AppendZeros(isom, 16 * SectorSize);
    AppendIsoDescriptors();
    if (UDFBridge)
        UDFAppendVolumeStructures();
    AppendPathTable(false, false);
    AppendPathTable(false, true);
    if (JolietFS) {
        AppendPathTable(true, false);
        AppendPathTable(true, true);
    }
    for (TDirEntry* d : Dirs)
        AppendDirectoryExtent(d, false);
    if (JolietFS)
        for (TDirEntry* d : Dirs)
            AppendDirectoryExtent(d, true);
    if (!BootImage.empty())
        AppendBootCatalog();
    if (Blank > 0)
        AppendZeros(isom, static_cast<std::size_t>(Blank) * SectorSize);
    IsoHeaderSize = static_cast<std::int64_t>(isom.size());
    return true;
}

} // namespace burner
