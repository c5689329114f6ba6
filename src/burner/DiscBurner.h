#pragma once
// The burner component: the one object the program uses to lay out a disc and write it. It
// owns the disc layout by value, offers the tree operations in 8-bit (UTF-8) and wide (UTF-16)
// forms, and reports the end of its long operations through OnWriteDone, delivered by the
// installed dispatcher.
//
// The image side and the drive side meet at TPacketSource: BuildISOImage streams the layout into
// a file; BurnISOImage streams an image file to whatever CreateDriveSink opens.
#include "burner/Dispatcher.h"
#include "burner/PacketSource.h"
#include "burner/image/Tree.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace burner {

class TCacheThread;

class TDiscBurner {
public:
    using TWriteDoneEvent =
        std::function<void(TDiscBurner* Sender, std::uint8_t DeviceId, bool WriteFailed)>;

    TDiscBurner();
    virtual ~TDiscBurner();
    TDiscBurner(const TDiscBurner&) = delete;
    TDiscBurner& operator=(const TDiscBurner&) = delete;

    // The layout record; the tree operations below work on it.
    TCDFiles CDFiles;

    // How completions reach the caller (the application posts them to its GUI thread).
    TDispatcher Dispatcher;
    TAddFileEvent OnAddFile;
    TWriteDoneEvent OnWriteDone;

    // ---- properties ----
    bool ReplaceFile() const { return CDFiles.ReplaceFile; }
    void SetReplaceFile(bool V) { CDFiles.ReplaceFile = V; }
    // Volume label: at most 31 characters; a longer one is shortened. The descriptors then take
    // what fits in each (32 bytes primary, 16 characters Joliet, 30 or 15 characters UDF).
    std::string VolumeID() const;
    void SetVolumeID(const std::string& Label);
    std::u16string VolumeIDW() const;
    void SetVolumeIDW(const std::u16string& Label);
    std::uint32_t CacheSize() const { return FCacheSizeMB; } // MB
    void SetCacheSize(std::uint32_t MB);
    bool JolietFileSystem() const { return CDFiles.JolietFS; }
    void SetJolietFileSystem(bool V) { CDFiles.JolietFS = V; }
    bool ISO9660v1999FS() const { return CDFiles.ISO9660v1999FS; }
    void SetISO9660v1999FS(bool V) { CDFiles.ISO9660v1999FS = V; }
    bool UDFBridge() const { return CDFiles.UDFBridge; }
    void SetUDFBridge(bool V) { CDFiles.UDFBridge = V; }
    std::string BootImage() const { return CDFiles.BootImage; }
    void SetBootImage(const std::string& Path) { CDFiles.SetBootImage(Path); }
    static std::string Version();

    // ---- tree ----
    void ClearAll();
    TDirEntry* CreateDir(const std::string& DestPath, const std::string& DirName);
    TDirEntry* CreateDirW(const std::u16string& DestPath, const std::u16string& DirName);
    TFileEntry* InsertFile(const std::string& DestPath, const std::string& FileName);
    TFileEntry* InsertFileW(const std::u16string& DestPath, const std::u16string& FileName);
    TFileEntry* InsertFileWithName(const std::string& DestPath, const std::string& FileName,
                                   const std::string& LongNameOnDisc,
                                   const std::string& ShortNameOnDisc);
    TFileEntry* InsertFileWithNameW(const std::u16string& DestPath, const std::u16string& FileName,
                                    const std::u16string& LongNameOnDisc,
                                    const std::u16string& ShortNameOnDisc);
    TFileEntry* InsertMemoryFile(const std::string& DestPath, const TFindData& FindFileData,
                                 TGetDataEvent OnGetData);
    TFileEntry* InsertMemoryFileW(const std::u16string& DestPath, const TFindData& FindFileData,
                                  TGetDataEvent OnGetData);
    TDirEntry* InsertDir(const std::string& DestPath, const std::string& DirPath,
                         const std::string& FileSpecs, bool Recursive, bool SavePath);
    TDirEntry* InsertDirW(const std::u16string& DestPath, const std::u16string& DirPath,
                          const std::u16string& FileSpecs, bool Recursive, bool SavePath);
    std::int64_t FindFile(const std::string& Directory, const std::string& FileToFind) const;
    std::int64_t FindFileW(const std::u16string& Directory, const std::u16string& FileToFind) const;

    // ---- layout and image modes ----
    std::uint32_t Prepare();
    // Streams the prepared layout into an image file. True when the writer has started; the end
    // comes through OnWriteDone. False: not prepared (1), the file cannot be created (3), the
    // reader failed before the writer started (2), or another operation is running.
    bool BuildISOImage(const std::string& FileName);
    bool BuildISOImageW(const std::u16string& FileName);
    // Burns an existing image file (error 2 when it cannot be opened) to the drive.
    bool BurnISOImage(const std::string& FileName);
    bool BurnISOImageW(const std::u16string& FileName);
    void AbortOperation();
    // Waits until no operation runs (for callers that need the component idle, and teardown).
    void WaitIdle();

    // ---- errors: reading clears the value returned ----
    std::uint32_t ErrorNumber();
    std::string ErrorString();
    std::u16string ErrorStringW();

    // ---- state and progress ----
    std::uint16_t ComponentStatus() const { return CDFiles.ComponentStatus.load(); }
    std::uint32_t ImageSize() const { return CDFiles.TotalImageSize; }
    std::uint32_t BlocksWritten() const { return FBlocksWritten.load(); }
    std::uint64_t CachePosition() const;
    int FileCount() const { return CDFiles.FileCounter(); }
    int DirCount() const { return CDFiles.DirCounter(); }
    std::uint32_t FilesCount() const { return static_cast<std::uint32_t>(CDFiles.FileCounter()); }
    std::uint32_t DirsCount() const { return static_cast<std::uint32_t>(CDFiles.DirCounter()); }
    int ReadingFile() const;
    int WritingFile() const;

    // ---- entries by index ----
    std::string SourcePath(int FileId) const;
    std::string DestinationPath(int FileId) const;
    std::u16string FileName(int FileId) const;
    std::string ShortFileName(int FileId) const;
    std::int64_t FileSize(int FileId) const;
    bool IsDirectory(int FileId) const;
    std::int64_t FileAddress(int FileId) const;
    std::u16string DirName(int DirId) const;

protected:
    // Opens the drive for writing TotalSectors sectors from sector 0. The drive side provides
    // this; without a selected drive there is nothing to burn to and the result is null.
    virtual std::unique_ptr<TPacketSink> CreateDriveSink(std::uint32_t TotalSectors);
    // The drive's error (additional sense code x 256 + qualifier), read and cleared; 0 without
    // one. ErrorNumber/ErrorString report it when the engine has no error of its own.
    virtual std::uint32_t TakeDeviceError();
    // Engine error code kept for ErrorNumber/ErrorString.
    void SetError(std::uint32_t Code, const std::string& File);

private:
    bool StartWrite(std::unique_ptr<TCacheThread> Reader, std::unique_ptr<TPacketSink> Sink);
    void RunWriter();
    void FinishOperation(bool Failed);
    std::uint32_t TakeError(std::string& File);
    const TFileEntry* EntryAt(int FileId) const;

    std::uint32_t FCacheSizeMB = 32;
    std::atomic<std::uint32_t> FBlocksWritten{0};

    // FErrorMutex guards FErrorNumber and FErrorFile (set by worker threads, read by callers).
    mutable std::mutex FErrorMutex;
    std::uint32_t FErrorNumber = 0;
    std::string FErrorFile;

    // The running operation. FOpMutex guards the pointers against progress readers.
    mutable std::mutex FOpMutex;
    std::unique_ptr<TCacheThread> FReader;
    std::unique_ptr<TPacketSink> FSink;
    std::thread FWriter;
    std::atomic<bool> FBusy{false};
};

} // namespace burner
