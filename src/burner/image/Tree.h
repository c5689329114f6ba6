#pragma once
// The disc file tree and the image layout computed from it. One record owns every entry; the
// image builder and the reader thread only read it while an image streams.
#include "burner/image/TreeTypes.h"
#include "burner/image/UDFTypes.h"

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace burner {

// Where the files of a DVD-Video VIDEO_TS folder must lie, read from its IFO files.
struct TVideoTSPlacement {
    bool Valid = false;
    TDirEntry* Dir = nullptr;
    std::vector<std::pair<TFileEntry*, std::uint32_t>> Offsets; // sector relative to VIDEO_TS.IFO
    std::uint32_t Sectors = 0;                                  // sectors the folder spans
};

class TCDFiles {
public:
    TCDFiles();
    ~TCDFiles();
    TCDFiles(const TCDFiles&) = delete;
    TCDFiles& operator=(const TCDFiles&) = delete;

    // ---- tree ----
    std::atomic<bool> Aborted{false};
    std::vector<TFileEntry*> Files; // creation order, directory entries included
    std::vector<TDirEntry*> Dirs;   // creation order, root first
    std::vector<TDirEntry*> PathTableEntries;
    TDirEntry* RootDir = nullptr;
    char16_t VolumeLabelW[32] = {};
    char VolumeLabel[32] = {};
    bool ReplaceFile = false;
    std::int32_t TimeZoneDifference = 0;
    std::string BootImage;
    std::int32_t BootImageSize = 0;
    bool Prepared = false;
    TAddFileEvent cbAddFileEvent;

    int FileCounter() const { return static_cast<int>(Files.size()); }
    int DirCounter() const { return static_cast<int>(Dirs.size()); }

    void ClearAll();
    TDirEntry* CreateDir(std::u16string_view DestPath, std::u16string_view DirName);
    TDirEntry* CreateDir(std::string_view DestPath, std::string_view DirName);
    TFileEntry* InsertFile(std::u16string_view DestPath, std::u16string_view FileName);
    TFileEntry* InsertFile(std::string_view DestPath, std::string_view FileName);
    TFileEntry* InsertFileWithName(std::u16string_view DestPath, std::u16string_view FileName,
                                   std::u16string_view LongNameOnDisc,
                                   std::u16string_view ShortNameOnDisc);
    TFileEntry* InsertFileWithName(std::string_view DestPath, std::string_view FileName,
                                   std::string_view LongNameOnDisc,
                                   std::string_view ShortNameOnDisc);
    TFileEntry* InsertMemoryFile(std::u16string_view DestPath, const TFindData& FindFileData,
                                 TGetDataEvent OnGetData);
    TFileEntry* InsertMemoryFile(std::string_view DestPath, const TFindData& FindFileData,
                                 TGetDataEvent OnGetData);
    TDirEntry* InsertDir(std::u16string_view DestPath, std::u16string_view DirPath,
                         std::u16string_view FileSpecs, bool Recursive, bool SavePath);
    TDirEntry* InsertDir(std::string_view DestPath, std::string_view DirPath,
                         std::string_view FileSpecs, bool Recursive, bool SavePath);
    int FindFile(std::u16string_view Directory, std::u16string_view FileToFind) const;
    int FindFile(std::string_view Directory, std::string_view FileToFind) const;
    TDirEntry* FindDirByPath(std::u16string_view Path) const;
    // Adds a file whose data already lies on the disc at DiscAddress (an imported session);
    // nothing of it is written again.
    TFileEntry* InsertImportedFile(TDirEntry* Dir, const TFindData& fd, std::uint32_t DiscAddress);
    void SortTree();
    // Sets the El Torito boot image; a file of an unsupported size, or one that cannot be read,
    // clears it. Returns whether an image is set.
    bool SetBootImage(const std::string& Path);

    // ---- layout ----
    std::uint32_t FirstWritableSector = 0;
    std::uint32_t VDImageSize = 0;
    std::uint32_t PathTableWidth = 0, PathTableWidthJ = 0;
    std::uint32_t FileDirDescriptorWidth = 0, FileDirDescriptorExtent = 0;
    std::uint32_t file_and_dir_descriptor_extent_j = 0, file_and_dir_descriptor_width_j = 0;
    std::uint32_t PathTableExtentL = 0, path_table_extent_m = 0;
    std::uint32_t path_table_extent_j_l = 0, path_table_extent_j_m = 0;
    std::uint32_t FirstDataSector = 0;
    std::uint32_t Cursor = 0;
    std::uint32_t FilesSize = 0;
    std::uint32_t TotalImageSize = 0;
    std::int32_t Blank = 0;
    bool JolietFS = true, UDFBridge = false, ISO9660FS = true, ISO9660v1999FS = false,
         UDF12 = false;
    std::vector<std::uint8_t> isom;
    std::int64_t IsoHeaderSize = 0;
    std::uint32_t BootCatalogLocation = 0, BootImageLocation = 0;
    std::atomic<std::uint16_t> ComponentStatus{0};
    UDFBridgeInformation UDFBridgeInfo;
    TVideoTSPlacement VideoTSPlacement;

    // Computes the layout; returns the sectors the image really uses before rounding to 32.
    std::uint32_t Prepare();
    // Builds the structures up to the first data sector into isom. False when not prepared.
    bool BuildHeader();
    void ReleaseHeader();

    // ---- UDF bridge ----
    void UDFLayoutStart(std::uint32_t RecognitionSector);
    void UDFLayoutDirectories(std::uint32_t FirstFreeSector);
    void UDFLayoutEnd();
    void UDFAppendVolumeStructures(); // sectors from after the ISO terminator up to 258
    // Emits the next Blocks blocks of the directory structure area; false once all is emitted.
    bool UDFGenerate(std::uint8_t* Buffer, std::uint32_t Blocks);
    void UDFResetGenerator();
    // Builds the anchor volume descriptor pointer for a session-relative sector.
    void UDFAnchor(std::uint8_t* Sector, std::uint32_t SessionSector) const;

    // Number of ISO 9660 directory records a file takes (files of 4 GiB or more take several).
    static std::uint32_t ExtentCount(std::int64_t Size);
    // Number of UDF allocation descriptors a file takes.
    static std::uint32_t UDFExtentCount(std::int64_t Size);

private:
    std::vector<std::unique_ptr<TFileEntry>> FFileStore;
    std::vector<std::unique_ptr<TDirEntry>> FDirStore;

    TFileEntry* AddFileEntry(TDirEntry* Dir, const TFindData& fd, const std::string* SourcePath,
                             std::uint32_t ImportedAddress, bool Unicode);
    TDirEntry* AddDirEntry(TDirEntry* Parent, const TFindData& fd);
    TDirEntry* InsertDirTree(TDirEntry* Dest, const std::string& DirPath,
                             const std::string& FileSpecs, bool Recursive, bool SavePath,
                             bool Unicode);
    TFileEntry* InsertDiskFile(std::u16string_view DestPath, const std::string& FileName,
                               const std::u16string* LongName, const std::u16string* ShortName,
                               bool Unicode);
    bool Refuse(const std::string& SourcePath, const TFindData& fd, const std::string& Message);
    void ComputeVideoTSPlacement();
    void AppendIsoDescriptors();
    void AppendPathTable(bool Joliet, bool BigEndian);
    void AppendDirectoryExtent(TDirEntry* Dir, bool Joliet);
    void AppendBootCatalog();
    std::uint32_t DirExtentSectors(TDirEntry* Dir, bool Joliet) const;
    void UDFWriteFileEntry(std::uint8_t* Block, TDirEntry* Dir, TFileEntry* File);
    void UDFWriteDirDataBlock(std::uint8_t* Block, TDirEntry* Dir);
    std::uint32_t FIDLength(TFileEntry* Entry) const;
    std::uint32_t BuildFID(std::uint8_t* Out, TDirEntry* Dir, TFileEntry* Entry,
                           std::uint32_t TagLocation) const;
    // Lookup aids per directory, so that insertion stays fast in folders of many thousand
    // files: entries by case-folded long name, short names in use, the list's last entry and
    // the next alias number to try per alias stem.
    struct TDirIndex {
        std::unordered_map<std::u16string, TFileEntry*> ByName;
        std::unordered_set<std::u16string> ShortNames;
        std::unordered_map<std::u16string, unsigned> NextAlias;
        TFileEntry* Tail = nullptr;
    };
    std::unordered_map<const TDirEntry*, TDirIndex> FIndex;
    bool ShortNameTaken(const TDirEntry* Dir, std::u16string_view Candidate);
    std::u16string GenerateShortName(const TDirEntry* Dir, std::u16string_view LongName);
    // Generator state inside the directory being written.
    TFileEntry* FGenEntry = nullptr;
    bool FGenParentDone = false;
    std::vector<std::uint8_t> FGenCarry;
};

} // namespace burner
