#pragma once
// Entries of the disc file tree: what will be written, under which names, and where.
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

namespace burner {

constexpr std::uint32_t FILE_ATTRIBUTE_HIDDEN = 2;
constexpr std::uint32_t FILE_ATTRIBUTE_DIRECTORY = 16;

// Capacities of the tree; an insertion beyond them fails with a null result.
constexpr int MaxFileEntries = 200000;
constexpr int MaxDirEntries = 65000;
// Longest long name the tree accepts, in UTF-16 code units.
constexpr std::size_t MaxLongNameLength = 217;

// Broken-down local time of an entry, as the directory records carry it.
struct TSystemTime {
    std::uint16_t wYear = 0, wMonth = 0, wDayOfWeek = 0, wDay = 0;
    std::uint16_t wHour = 0, wMinute = 0, wSecond = 0, wMilliseconds = 0;
};

// Description of one file or folder handed to insertion.
struct TFindData {
    std::uint32_t Attributes = 0; // FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_HIDDEN
    std::time_t LastWriteTime = 0;
    std::uint64_t FileSize = 0;
    std::u16string FileName;          // long name
    std::u16string AlternateFileName; // 8.3 alias; empty when the long name is a valid short name
};

struct TFileEntry;
struct TDirEntry;

// Asked for every insertion; setting Skip leaves the file out. Message is empty for ordinary
// insertions and explains why a file is refused when the tree cannot take it (Skip is preset).
using TAddFileEvent =
    std::function<void(void* Sender, const std::u16string& Path, const TFindData& fd, bool& Skip,
                       const std::string& Message)>;
// Supplies the data of a memory file: fill Size bytes at Buffer with the file's bytes from
// Position on; a smaller Size on return ends the file early (the rest reads as zeros).
using TGetDataEvent =
    std::function<void(void* Sender, TFileEntry* FileEntry, std::uint64_t Position,
                       std::uint8_t* Buffer, std::uint32_t& Size)>;

struct UDFFileInformation {
    std::uint32_t FileICB_LSOffsetWRTSession = 0;
};

struct UDFDirectoryInformation {
    std::uint16_t FileLinkCount = 0;
    std::int64_t InformationLength = 0;
    TFileEntry* CurrentFileEntry = nullptr;
    std::uint32_t DirICB_LSOffsetWRTSession = 0;
    std::uint32_t DirData_LSOffsetWRTSession = 0;
};

struct TFileEntry {
    char ShortName[16] = {};      // ISO 9660 name, zero-terminated
    std::u16string LongName;      // Joliet name, lookups
    std::u16string LongNameWIN32; // name as first inserted (UDF identifiers)
    std::string Path;             // source path (Linux bytes); empty for directories/memory files
    TSystemTime Time;             // last-write time, local
    std::int32_t FileId = 0;
    std::int64_t FileSize = 0;
    std::int64_t SpaceRequired = 0;
    std::uint32_t Address = 0; // first data sector relative to FirstDataSector
    bool Imported = false;
    std::int32_t attributes = 0;
    char ResetArchiveBit = 0, Extended = 0;
    void* Buffer = nullptr;
    std::uint8_t FileNameLength = 0;
    std::uint8_t FileNameLengthJ = 0;
    bool Unicode = false;
    TGetDataEvent mfcbFunction;
    TFileEntry* NextFile = nullptr;
    TDirEntry* DirRecord = nullptr;
    std::string Hash;
    TFileEntry* ReferenceEntry = nullptr;
    UDFFileInformation UDFFileInfo;
};

struct TDirEntry {
    TDirEntry* Parent = nullptr;
    std::u16string LongName;
    char ShortName[16] = {};
    std::int32_t DirSize = 0, DirSizeJ = 0;
    std::uint32_t Address = 0, AddressJ = 0;
    std::uint16_t depth = 0, order = 0, number = 0;
    std::uint8_t DirNameLength = 0, DirNameLengthJ = 0;
    char extended = 0;
    TFileEntry* Files = nullptr;
    UDFDirectoryInformation UDFDirInfo;
};

// Returned by insertions that left a file out on purpose (handler's Skip, a name the disc
// cannot carry). Not null, and refers to no entry of the tree.
TFileEntry* SkippedFileMarker();
TDirEntry* SkippedDirMarker();

} // namespace burner
