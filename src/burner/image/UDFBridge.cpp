// UDF bridge structures (ECMA-167 / OSTA UDF): volume area, file set and the directory
// structure area, which a generator emits block by block while the image streams.
#include "burner/image/Bytes.h"
#include "burner/image/Tree.h"
#include "burner/image/UDFUtils.h"

#include <cstring>
#include <ctime>

namespace burner {

std::uint16_t UdfCrc16(const std::uint8_t* Data, std::size_t Length) {
    static const auto table = [] {
        std::array<std::uint16_t, 256> t{};
        for (unsigned i = 0; i < 256; ++i) {
            std::uint16_t crc = static_cast<std::uint16_t>(i << 8);
            for (int b = 0; b < 8; ++b)
                crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
            t[i] = crc;
        }
        return t;
    }();
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < Length; ++i)
        crc = static_cast<std::uint16_t>((crc << 8) ^ table[((crc >> 8) ^ Data[i]) & 0xFF]);
    return crc;
}

void UdfFinishTag(std::uint8_t* D, std::uint16_t Ident, std::uint16_t CrcLength,
                  std::uint32_t Location) {
    PutLE16(D, Ident);
    PutLE16(D + 2, 2);
    D[4] = 0;
    D[5] = 0;
    PutLE16(D + 6, 1);
    PutLE16(D + 8, UdfCrc16(D + 16, CrcLength));
    PutLE16(D + 10, CrcLength);
    PutLE32(D + 12, Location);
    std::uint8_t sum = 0;
    for (int i = 0; i < 16; ++i)
        if (i != 4)
            sum = static_cast<std::uint8_t>(sum + D[i]);
    D[4] = sum;
}

std::size_t UdfCompressedName(const std::u16string& Name, std::uint8_t* Out, std::size_t Room) {
    bool narrow = true;
    for (char16_t c : Name)
        if (c > 0xFF)
            narrow = false;
    std::size_t n = 0;
    if (narrow) {
        Out[n++] = 8;
        for (char16_t c : Name) {
            if (n + 1 > Room)
                break;
            Out[n++] = static_cast<std::uint8_t>(c);
        }
    } else {
        Out[n++] = 16;
        for (std::size_t i = 0; i < Name.size(); ++i) {
            if (n + 2 > Room)
                break;
            // Never leave half a surrogate pair at the end.
            if (Name[i] >= 0xD800 && Name[i] <= 0xDBFF && n + 4 > Room)
                break;
            PutBE16(Out + n, Name[i]);
            n += 2;
        }
    }
    return n;
}

namespace {

void PutRegid(std::uint8_t* P, const char* Id, std::initializer_list<std::uint8_t> Suffix,
              std::uint8_t Flags = 0) {
    P[0] = Flags;
    std::memcpy(P + 1, Id, std::strlen(Id));
    int i = 0;
    for (std::uint8_t s : Suffix)
        P[24 + i++] = s;
}

void PutImplementation(std::uint8_t* P) {
    PutRegid(P, "*Karvenholts Pellador", {6});
}

void PutCharspec(std::uint8_t* P) {
    P[0] = 0;
    std::memcpy(P + 1, "OSTA Compressed Unicode", 23);
}

void PutTimestamp(std::uint8_t* P, const timestamp& T) {
    PutLE16(P, T.typeAndTimezone);
    PutLE16(P + 2, static_cast<std::uint16_t>(T.year));
    P[4] = T.month;
    P[5] = T.day;
    P[6] = T.hour;
    P[7] = T.minute;
    P[8] = T.second;
    P[9] = T.centiseconds;
    P[10] = T.hundredsOfMicroseconds;
    P[11] = T.microseconds;
}

// Civil date from days since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(std::int64_t Z, int& Y, unsigned& M, unsigned& D) {
    Z += 719468;
    const std::int64_t era = (Z >= 0 ? Z : Z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(Z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    D = doy - (153 * mp + 2) / 5 + 1;
    M = mp < 10 ? mp + 3 : mp - 9;
    Y = static_cast<int>(y + (M <= 2));
}

} // namespace

timestamp UdfTimestampFromUnix(std::int64_t Seconds) {
    timestamp t;
    t.typeAndTimezone = 0x1000;
    std::int64_t days = Seconds / 86400;
    std::int64_t rest = Seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int y;
    unsigned m, d;
    CivilFromDays(days, y, m, d);
    t.year = static_cast<std::int16_t>(y);
    t.month = static_cast<std::uint8_t>(m);
    t.day = static_cast<std::uint8_t>(d);
    t.hour = static_cast<std::uint8_t>(rest / 3600);
    t.minute = static_cast<std::uint8_t>(rest / 60 % 60);
    t.second = static_cast<std::uint8_t>(rest % 60);
    return t;
}

void TCDFiles::UDFLayoutStart(std::uint32_t RecognitionSector) {
    UDFBridgeInformation& u = UDFBridgeInfo;
    u.UDFTimeStamp = UdfTimestampFromUnix(static_cast<std::int64_t>(std::time(nullptr)));
    u.AnchorVolumeDescriptorPointer_LSAWRTSession = 256;
    u.MainVolumeDescriptorSequenceExtent_LSAWRTSession = 32;
    u.ReserveVolumeDescriptorSequenceExtent_LSAWRTSession = 48;
    u.LogicalVolumeIntegrityDescriptor_LSAWRTSession = 64;
    u.PartitionStarting_LSA = 257;
    u.FileSetDescriptor_LSAWRTSession = 257;
    u.NumberOfDirectories = 1;
    u.NumberOfFiles = 0;
    u.ICB_UniqueID = 16;
    u.NumberOfBlocksRequiredForFileDirStructures = 0;
    u.VolumeRecognitionSequence_LSAWRTSession = RecognitionSector;
    // The label: 8 bits per character when every character fits (30 of them), else UTF-16
    // (15 of them).
    std::u16string label;
    for (int i = 0; i < 32 && VolumeLabelW[i]; ++i)
        label.push_back(VolumeLabelW[i]);
    std::memset(u.VolumeIdentifier, 0, sizeof u.VolumeIdentifier);
    u.UDFVolumeIdentifierLength =
        label.empty() ? 0
                      : static_cast<std::int8_t>(UdfCompressedName(label, u.VolumeIdentifier,
                                                                   sizeof u.VolumeIdentifier));
}

std::uint32_t TCDFiles::FIDLength(TFileEntry* Entry) const {
    std::uint8_t name[256];
    const std::size_t l =
        UdfCompressedName(Entry->DirRecord ? Entry->LongName : Entry->LongNameWIN32, name, 255);
    return static_cast<std::uint32_t>((38 + l + 3) & ~std::size_t{3});
}

void TCDFiles::UDFLayoutDirectories(std::uint32_t FirstFreeSector) {
    UDFBridgeInformation& u = UDFBridgeInfo;
    u.RootDirectoryICB_LSAWRTSession = FirstFreeSector;
    u.Area.clear();
    std::uint32_t cursor = FirstFreeSector;
    // Pre-order walk with an explicit stack: a directory's File Entry and identifier blocks,
    // then its list in order, subdirectories visited where they stand.
    std::vector<TFileEntry*> stack;
    auto visit = [&](TDirEntry* d) {
        std::uint16_t subdirs = 0;
        std::int64_t info = 40;
        for (TFileEntry* e = d->Files; e; e = e->NextFile) {
            if (e->DirRecord) {
                ++subdirs;
                ++u.NumberOfDirectories;
            } else {
                ++u.NumberOfFiles;
            }
            info += FIDLength(e);
        }
        d->UDFDirInfo.FileLinkCount = static_cast<std::uint16_t>(1 + subdirs);
        d->UDFDirInfo.InformationLength = info;
        d->UDFDirInfo.DirICB_LSOffsetWRTSession = cursor++;
        u.Area.push_back({FileDirWritingStatus::WritingDirICB, d, nullptr});
        d->UDFDirInfo.DirData_LSOffsetWRTSession = cursor;
        cursor += SectorsFor(info);
        u.Area.push_back({FileDirWritingStatus::WritingDirData, d, nullptr});
        stack.push_back(d->Files);
    };
    visit(RootDir);
    while (!stack.empty()) {
        TFileEntry* e = stack.back();
        if (!e) {
            stack.pop_back();
            continue;
        }
        stack.back() = e->NextFile;
        if (e->DirRecord) {
            visit(e->DirRecord);
        } else {
            e->UDFFileInfo.FileICB_LSOffsetWRTSession = cursor++;
            u.Area.push_back({FileDirWritingStatus::WritingFileICB, nullptr, e});
        }
    }
    u.NumberOfBlocksRequiredForFileDirStructures = cursor - FirstFreeSector;
    u.NextAvailableLSOffsetWRTSession = cursor;
    UDFResetGenerator();
}

void TCDFiles::UDFResetGenerator() {
    UDFBridgeInformation& u = UDFBridgeInfo;
    u.AreaIndex = 0;
    u.CurrentDirEntry = RootDir;
    u.Status = FileDirWritingStatus::WritingDirICB;
    u.BackTrack = false;
    u.IsPartialFID = false;
    u.IsDiscLayoutExhausted = u.Area.empty();
    u.BlockOffsetWritingDirData = 0;
    u.PartialFIDLengthRecovered = 0;
    u.PartialFIDLengthToRecover = 0;
    u.ICB_UniqueID = 16;
    FGenEntry = nullptr;
    FGenParentDone = false;
    FGenCarry.clear();
}

void TCDFiles::UDFLayoutEnd() {
    UDFBridgeInformation& u = UDFBridgeInfo;
    u.ISODataPortionStarting_LSAWRTSession = FirstDataSector;
    u.LastAnchorVolumeDescriptorPointer_LSAWRTSession = TotalImageSize - 1;
    u.LengthOfPartitionPortionInSession_LBS =
        u.LastAnchorVolumeDescriptorPointer_LSAWRTSession - 256 - 1;
}

void TCDFiles::UDFAnchor(std::uint8_t* Sector, std::uint32_t SessionSector) const {
    const std::uint32_t s = UDFBridgeInfo.SessionStarting_LSA;
    std::memset(Sector, 0, SectorSize);
    PutLE32(Sector + 16, 32768);
    PutLE32(Sector + 20, s + UDFBridgeInfo.MainVolumeDescriptorSequenceExtent_LSAWRTSession);
    PutLE32(Sector + 24, 32768);
    PutLE32(Sector + 28, s + UDFBridgeInfo.ReserveVolumeDescriptorSequenceExtent_LSAWRTSession);
    UdfFinishTag(Sector, 2, 496, s + SessionSector);
}

void TCDFiles::UDFAppendVolumeStructures() {
    const UDFBridgeInformation& u = UDFBridgeInfo;
    const std::uint32_t s = u.SessionStarting_LSA;
    const std::uint8_t revLo = static_cast<std::uint8_t>(u.Revision & 0xFF);
    const std::uint8_t revHi = static_cast<std::uint8_t>(u.Revision >> 8);
    auto sectorAt = [this](std::uint32_t sector) {
        const std::size_t need = static_cast<std::size_t>(sector + 1) * SectorSize;
        if (isom.size() < need)
            isom.resize(need, 0);
        return isom.data() + static_cast<std::size_t>(sector) * SectorSize;
    };
    // Volume recognition sequence.
    const char* ids[3] = {"BEA01", "NSR02", "TEA01"};
    for (int i = 0; i < 3; ++i) {
        std::uint8_t* d = sectorAt(u.VolumeRecognitionSequence_LSAWRTSession + i);
        d[0] = 0;
        std::memcpy(d + 1, ids[i], 5);
        d[6] = 1;
    }
    auto putVolumeId = [&u](std::uint8_t* field, std::size_t fieldSize) {
        std::memcpy(field, u.VolumeIdentifier, sizeof u.VolumeIdentifier);
        field[fieldSize - 1] = static_cast<std::uint8_t>(u.UDFVolumeIdentifierLength);
    };
    // Main and reserve volume descriptor sequences.
    for (std::uint32_t base : {u.MainVolumeDescriptorSequenceExtent_LSAWRTSession,
                               u.ReserveVolumeDescriptorSequenceExtent_LSAWRTSession}) {
        std::uint8_t* d = sectorAt(base);
        PutLE32(d + 16, 1);
        PutLE32(d + 20, 0);
        putVolumeId(d + 24, 32);
        PutLE16(d + 56, 1);
        PutLE16(d + 58, 1);
        PutLE16(d + 60, 2);
        PutLE16(d + 62, 3);
        PutLE32(d + 64, 1);
        PutLE32(d + 68, 1);
        d[72] = 8;
        std::memcpy(d + 73, "0CFE90CB", 8);
        d[72 + 127] = 9;
        PutCharspec(d + 200);
        PutCharspec(d + 264);
        PutTimestamp(d + 376, u.UDFTimeStamp);
        PutImplementation(d + 388);
        UdfFinishTag(d, 1, 496, s + base);

        d = sectorAt(base + 1);
        PutLE32(d + 16, 2);
        PutCharspec(d + 20);
        putVolumeId(d + 84, 128);
        PutLE32(d + 212, SectorSize);
        PutRegid(d + 216, "*OSTA UDF Compliant", {revLo, revHi, 3});
        PutLE32(d + 248, 4096);
        PutLE32(d + 252, s + u.FileSetDescriptor_LSAWRTSession - u.PartitionStarting_LSA);
        PutLE16(d + 256, 0);
        PutLE32(d + 264, 6);
        PutLE32(d + 268, 1);
        PutImplementation(d + 272);
        PutLE32(d + 432, 8192);
        PutLE32(d + 436, s + u.LogicalVolumeIntegrityDescriptor_LSAWRTSession);
        d[440] = 1;
        d[441] = 6;
        PutLE16(d + 442, 1);
        PutLE16(d + 444, 0);
        UdfFinishTag(d, 6, 430, s + base + 1);

        d = sectorAt(base + 2);
        PutLE32(d + 16, 3);
        PutLE16(d + 20, 1);
        PutLE16(d + 22, 0);
        PutRegid(d + 24, "+NSR02", {revLo, revHi, 6});
        PutLE32(d + 184, 1);
        PutLE32(d + 188, u.PartitionStarting_LSA);
        PutLE32(d + 192, s + u.LengthOfPartitionPortionInSession_LBS);
        PutImplementation(d + 196);
        UdfFinishTag(d, 5, 496, s + base + 2);

        d = sectorAt(base + 3);
        PutLE32(d + 16, 4);
        PutLE32(d + 20, 0);
        UdfFinishTag(d, 7, 8, s + base + 3);

        d = sectorAt(base + 4);
        PutLE32(d + 16, 5);
        PutRegid(d + 20, "*UDF LV Info", {revLo, revHi, 6});
        PutCharspec(d + 52);
        putVolumeId(d + 116, 128);
        PutImplementation(d + 352);
        UdfFinishTag(d, 4, 496, s + base + 4);

        d = sectorAt(base + 5);
        UdfFinishTag(d, 8, 496, s + base + 5);
    }
    // Logical volume integrity sequence.
    {
        std::uint8_t* d = sectorAt(u.LogicalVolumeIntegrityDescriptor_LSAWRTSession);
        PutTimestamp(d + 16, u.UDFTimeStamp);
        PutLE32(d + 28, 1);
        PutLE64(d + 40, static_cast<std::uint64_t>(u.NumberOfDirectories) + u.NumberOfFiles + 16);
        PutLE32(d + 72, 1);
        PutLE32(d + 76, 48);
        PutLE32(d + 80, 0);
        PutLE32(d + 84, s + u.LengthOfPartitionPortionInSession_LBS);
        PutImplementation(d + 88);
        PutLE32(d + 120, u.NumberOfFiles);
        PutLE32(d + 124, u.NumberOfDirectories);
        PutLE16(d + 128, u.Revision);
        PutLE16(d + 130, u.Revision);
        PutLE16(d + 132, u.Revision);
        UdfFinishTag(d, 9, 120, s + u.LogicalVolumeIntegrityDescriptor_LSAWRTSession);
        d = sectorAt(u.LogicalVolumeIntegrityDescriptor_LSAWRTSession + 1);
        UdfFinishTag(d, 8, 496, s + u.LogicalVolumeIntegrityDescriptor_LSAWRTSession + 1);
        sectorAt(u.LogicalVolumeIntegrityDescriptor_LSAWRTSession + 3);
    }
    UDFAnchor(sectorAt(u.AnchorVolumeDescriptorPointer_LSAWRTSession),
              u.AnchorVolumeDescriptorPointer_LSAWRTSession);
    // File set descriptor and its terminator, inside the partition.
    {
        const std::uint32_t fsdBlock =
            s + u.FileSetDescriptor_LSAWRTSession - u.PartitionStarting_LSA;
        std::uint8_t* d = sectorAt(u.FileSetDescriptor_LSAWRTSession);
        PutTimestamp(d + 16, u.UDFTimeStamp);
        PutLE16(d + 28, 3);
        PutLE16(d + 30, 3);
        PutLE32(d + 32, 1);
        PutLE32(d + 36, 1);
        PutCharspec(d + 48);
        putVolumeId(d + 112, 128);
        PutCharspec(d + 240);
        putVolumeId(d + 304, 32);
        PutLE32(d + 400, SectorSize);
        PutLE32(d + 404, s + u.RootDirectoryICB_LSAWRTSession - u.PartitionStarting_LSA);
        PutLE16(d + 408, 0);
        PutRegid(d + 416, "*OSTA UDF Compliant", {revLo, revHi, 0});
        UdfFinishTag(d, 256, 496, fsdBlock);
        d = sectorAt(u.FileSetDescriptor_LSAWRTSession + 1);
        UdfFinishTag(d, 8, 496, fsdBlock + 1);
    }
}

void TCDFiles::UDFWriteFileEntry(std::uint8_t* B, TDirEntry* Dir, TFileEntry* File) {
    UDFBridgeInformation& u = UDFBridgeInfo;
    const std::uint32_t s = u.SessionStarting_LSA;
    const std::uint32_t p = u.PartitionStarting_LSA;
    std::memset(B, 0, SectorSize);
    const std::uint32_t own = Dir ? Dir->UDFDirInfo.DirICB_LSOffsetWRTSession
                                  : File->UDFFileInfo.FileICB_LSOffsetWRTSession;
    PutLE16(B + 20, 4);
    PutLE16(B + 24, 1);
    B[27] = Dir ? 4 : 5;
    PutLE32(B + 36, 0xFFFFFFFF);
    PutLE32(B + 40, 0xFFFFFFFF);
    PutLE32(B + 44, 0x14A5);
    PutLE16(B + 48, Dir ? Dir->UDFDirInfo.FileLinkCount : 1);
    const std::int64_t info = Dir ? Dir->UDFDirInfo.InformationLength : File->FileSize;
    PutLE64(B + 56, static_cast<std::uint64_t>(info));
    PutLE64(B + 64, SectorsFor(info));
    PutTimestamp(B + 72, u.UDFTimeStamp);
    PutTimestamp(B + 84, u.UDFTimeStamp);
    PutTimestamp(B + 96, u.UDFTimeStamp);
    PutLE32(B + 108, 1);
    PutImplementation(B + 128);
    if (Dir == RootDir) {
        PutLE64(B + 160, 0);
    } else {
        PutLE64(B + 160, static_cast<std::uint64_t>(u.ICB_UniqueID));
        ++u.ICB_UniqueID;
    }
    PutLE32(B + 168, 0);
    std::uint32_t ads = 1;
    if (Dir) {
        PutLE32(B + 176, static_cast<std::uint32_t>(info));
        PutLE32(B + 180, s + Dir->UDFDirInfo.DirData_LSOffsetWRTSession - p);
    } else if (File->FileSize == 0) {
        PutLE32(B + 176, 0);
        PutLE32(B + 180, 0);
    } else {
        // Files of 1 GiB or more take several descriptors (each extent below 2^30 bytes).
        constexpr std::uint64_t part = 0x3FFFF800ULL;
        ads = UDFExtentCount(File->FileSize);
        std::uint64_t remaining = static_cast<std::uint64_t>(File->FileSize);
        const std::uint32_t first =
            File->Imported ? File->Address - p
                           : File->Address + u.ISODataPortionStarting_LSAWRTSession + s - p;
        for (std::uint32_t i = 0; i < ads; ++i) {
            const std::uint64_t len = std::min(remaining, part);
            PutLE32(B + 176 + 8 * i, static_cast<std::uint32_t>(len));
            PutLE32(B + 180 + 8 * i, first + i * static_cast<std::uint32_t>(part / SectorSize));
            remaining -= len;
        }
    }
    PutLE32(B + 172, 8 * ads);
    UdfFinishTag(B, 261, static_cast<std::uint16_t>(176 + 8 * ads - 16), s + own - p);
}

std::uint32_t TCDFiles::BuildFID(std::uint8_t* Out, TDirEntry* Dir, TFileEntry* Entry,
                                 std::uint32_t TagLocation) const {
    const UDFBridgeInformation& u = UDFBridgeInfo;
    const std::uint32_t s = u.SessionStarting_LSA;
    const std::uint32_t p = u.PartitionStarting_LSA;
    std::memset(Out, 0, 296);
    std::size_t l = 0;
    std::uint32_t target;
    std::uint8_t characteristics;
    if (!Entry) {
        characteristics = 0x0A;
        target = Dir->Parent->UDFDirInfo.DirICB_LSOffsetWRTSession;
    } else {
        characteristics = Entry->DirRecord ? 2 : 0;
        target = Entry->DirRecord ? Entry->DirRecord->UDFDirInfo.DirICB_LSOffsetWRTSession
                                  : Entry->UDFFileInfo.FileICB_LSOffsetWRTSession;
        l = UdfCompressedName(Entry->DirRecord ? Entry->LongName : Entry->LongNameWIN32, Out + 38,
                              255);
    }
    const std::uint32_t length = static_cast<std::uint32_t>((38 + l + 3) & ~std::size_t{3});
    PutLE16(Out + 16, 1);
    Out[18] = characteristics;
    Out[19] = static_cast<std::uint8_t>(l);
    PutLE32(Out + 20, SectorSize);
    PutLE32(Out + 24, s + target - p);
    PutLE16(Out + 28, 0);
    PutLE16(Out + 36, 0);
    UdfFinishTag(Out, 257, static_cast<std::uint16_t>(length - 16), TagLocation);
    return length;
}

void TCDFiles::UDFWriteDirDataBlock(std::uint8_t* B, TDirEntry* Dir) {
    UDFBridgeInformation& u = UDFBridgeInfo;
    std::memset(B, 0, SectorSize);
    const std::uint32_t tagLocation = u.SessionStarting_LSA +
                                      Dir->UDFDirInfo.DirData_LSOffsetWRTSession +
                                      u.BlockOffsetWritingDirData - u.PartitionStarting_LSA;
    std::size_t pos = 0;
    if (!FGenCarry.empty()) {
        // The rest of a descriptor that began at the end of the previous block.
        std::memcpy(B, FGenCarry.data(), FGenCarry.size());
        pos = FGenCarry.size();
        u.PartialFIDLengthRecovered = static_cast<std::uint16_t>(u.PartialFIDLengthRecovered + pos);
        u.PartialFIDLengthToRecover = 0;
        u.IsPartialFID = false;
        FGenCarry.clear();
    }
    if (!FGenParentDone) {
        pos += BuildFID(B + pos, Dir, nullptr, tagLocation);
        FGenParentDone = true;
        FGenEntry = Dir->Files;
    }
    std::uint8_t* fid = u.FIDContainer;
    while (FGenEntry && pos < SectorSize) {
        const std::uint32_t len = BuildFID(fid, Dir, FGenEntry, tagLocation);
        FGenEntry = FGenEntry->NextFile;
        if (pos + len <= SectorSize) {
            std::memcpy(B + pos, fid, len);
            pos += len;
        } else {
            const std::size_t head = SectorSize - pos;
            std::memcpy(B + pos, fid, head);
            FGenCarry.assign(fid + head, fid + len);
            u.IsPartialFID = true;
            u.PartialFIDLengthRecovered = static_cast<std::uint16_t>(head);
            u.PartialFIDLengthToRecover = static_cast<std::uint16_t>(len - head);
            pos = SectorSize;
        }
    }
    ++u.BlockOffsetWritingDirData;
}

bool TCDFiles::UDFGenerate(std::uint8_t* Buffer, std::uint32_t Blocks) {
    UDFBridgeInformation& u = UDFBridgeInfo;
    if (u.IsDiscLayoutExhausted || u.AreaIndex >= u.Area.size()) {
        u.IsDiscLayoutExhausted = true;
        return false;
    }
    for (std::uint32_t b = 0; b < Blocks; ++b) {
        std::uint8_t* block = Buffer + static_cast<std::size_t>(b) * SectorSize;
        if (u.AreaIndex >= u.Area.size()) {
            std::memset(block, 0, SectorSize);
            u.IsDiscLayoutExhausted = true;
            continue;
        }
        const TUDFAreaItem& item = u.Area[u.AreaIndex];
        u.Status = item.Kind;
        switch (item.Kind) {
        case FileDirWritingStatus::WritingDirICB:
            u.CurrentDirEntry = item.Dir;
            UDFWriteFileEntry(block, item.Dir, nullptr);
            ++u.AreaIndex;
            u.BlockOffsetWritingDirData = 0;
            FGenParentDone = false;
            FGenCarry.clear();
            break;
        case FileDirWritingStatus::WritingDirData:
            UDFWriteDirDataBlock(block, item.Dir);
            if (u.BlockOffsetWritingDirData >= SectorsFor(item.Dir->UDFDirInfo.InformationLength))
                ++u.AreaIndex;
            break;
        case FileDirWritingStatus::WritingFileICB:
            UDFWriteFileEntry(block, nullptr, item.File);
            ++u.AreaIndex;
            break;
        }
    }
    if (u.AreaIndex >= u.Area.size())
        u.IsDiscLayoutExhausted = true;
    return true;
}

} // namespace burner
