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
#include "burner/WriteProgress.h"
#include "burner/device/DeviceTypes.h"
#include "burner/image/Tree.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace burner {

class TCacheThread;
class TSCSIDevice;
class TVirtualRecorder;
class TWriteThread;

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


    // ======== drive side: the drive list, burning to a drive, and the operations off the
    // DVD road (erase, verify, smart references, session import). Defined in
    // DiscBurnerDrive.cpp and the files of each operation. ========
    using TEraseDoneEvent =
        std::function<void(TDiscBurner* Sender, std::uint8_t DeviceId, bool EraseFailed)>;
    using TVerifyDoneEvent = std::function<void(TDiscBurner* Sender, std::uint8_t DeviceId,
                                                std::int32_t FileId, bool Failed)>;
    using TSmartRefGenDoneEvent =
        std::function<void(TDiscBurner* Sender, bool Failed, std::int32_t CanSaveBytes)>;

    // The device record (drive list, selected drive); not to be used while an operation runs.
    TSCSIDevice& Device() const { return *FDevice; }
    TEraseDoneEvent OnEraseDone;
    TVerifyDoneEvent OnVerifyDone;
    TSmartRefGenDoneEvent OnGenerateSmartReferencesDone;

    bool BurnProof() const { return FBurnProof; }
    void SetBurnProof(bool V) { FBurnProof = V; }
    bool TestWrite() const { return FTestWrite; }
    void SetTestWrite(bool V) { FTestWrite = V; }
    bool FinalizeDisc() const { return FFinalizeDisc; }
    void SetFinalizeDisc(bool V) { FFinalizeDisc = V; }
    // How the engine waits (drive polls, retry pauses); tests make it instant.
    void SetWaitFunction(TWaitFunction Wait);

    // ---- device list and selection ----
    bool InitializeASPI(bool NoInternalASPI, const std::string& ASPIDLLPath,
                        const std::string& Reserved1);
    std::uint16_t DeviceCount() const;
    std::string GetDeviceName(int DeviceIndex) const; // empty beyond the list
    bool SelectDevice(int DeviceIndex);
    bool SelectDeviceByLetter(char DriveLetter);
    bool DeviceCan(int DeviceCapabilityID);
    // The virtual recorder (the last entry of the list after InitializeASPI).
    std::shared_ptr<TVirtualRecorder> VirtualRecorder() const;
    // Prepares the recorder for the program's drive list: each burn's image lands in
    // TempFolder, named after the volume label; LastImagePath tells which file.
    void SetUpForDriveList(const std::string& TempFolder);
    std::string LastImagePath() const;

    // ---- single drive commands and queries (false / 0 while an operation runs) ----
    bool LockMedium();
    bool UnlockMedium();
    bool UnlockDrive();
    bool FlushCache();
    bool TestUnitReady();
    bool LoadMedium(bool Immediate);
    bool EjectMedium(bool Immediate);
    bool Erasable();
    bool Writable();
    bool DeviceIsBurner();
    std::int32_t SessionsOnDisc();
    TMedium DiscIs();
    // Speeds in KB/s; 0 asks for the maximum. Applied again at the start of every burn.
    void SetDeviceSpeed(std::uint16_t ReadSpeed, std::uint16_t WriteSpeed);
    std::uint16_t DeviceMaxReadSpeed();
    std::uint16_t DeviceMaxWriteSpeed();
    std::uint16_t ReadSpeed();
    std::uint16_t WriteSpeed();
    std::uint16_t MaxWriteSpeed();
    std::uint32_t FreeBlocksOnDisc();
    std::uint32_t TotalBlocksOnDisc();

    // ---- progress of a burn: safe to poll from any thread ----
    std::uint32_t DeviceBufferSize() const { return FProgress.DeviceBufferSize.load(); }
    std::uint32_t DeviceBufferPosition() const { return FProgress.DeviceBufferPosition.load(); }
    std::uint16_t BMWriteSpeed() const { return FProgress.WriteSpeed.load(); }
    std::uint16_t BMAvgWriteSpeed() const { return FProgress.WriteSpeed.load(); }
    std::uint16_t BMReadSpeed() const { return FReadSpeedKB.load(); }
    std::uint16_t BMAvgReadSpeed() const { return FReadSpeedKB.load(); }
    // Times the writer found the cache empty after it started (the drive waited for data).
    std::uint32_t StarvedCount() const { return FProgress.Starved.load(); }
    // Failed write attempts that were retried, and formats of an unformatted DVD+RW.
    std::uint32_t WriteRetries() const { return FProgress.Retries.load(); }
    std::uint32_t FormatsDone() const { return FProgress.Formats.load(); }

    // Burns the prepared layout to the selected drive. True when the writer has started (the
    // end comes through OnWriteDone); false when nothing was started (ErrorString tells why:
    // not prepared, no writable disc, a source file missing, or aborted before the start).
    bool Burn();

    // ---- operations off the DVD road, each on a thread of its own ----
    bool EraseDisc(bool Quick);
    bool VerifyDisc(bool StopOnMismatch, bool FireVerifyEventOnAllFiles);
    std::uint32_t VerifyProgress() const { return FVerifyProgress.load(); }
    std::uint32_t VerifySize() const { return FVerifySize.load(); }
    bool GenerateSmartReferences();
    std::uint32_t SmartReferencesProgress() const { return FSmartProgress.load(); }
    std::uint32_t SmartReferencesSize() const { return FSmartSize.load(); }
    std::int32_t ImportSession(int SessionNo, const std::string& DestPath);
    std::int32_t ImportSessionW(int SessionNo, const std::u16string& DestPath);
    bool MountISOImage(const std::string& ISOFileName);
    std::u16string ReadVolumeLabelOfDisc(int SessionNo);

private:
    struct TDeviceDeleter {
        void operator()(TSCSIDevice* Device) const;
    };
    static TSCSIDevice* NewDevice();
    std::unique_ptr<TWriteThread> MakeDriveWriter(bool ImageFile, std::uint32_t TotalSectors);
    bool DriveIdle() const { return !FBusy.load(); }
    bool RunOperation(std::uint16_t Status, std::function<void()> Body);
    void EndOperation();

    bool FBurnProof = true, FTestWrite = false, FFinalizeDisc = false;
    TMedium FMedium = mtUNKNOWN;
    TWaitFunction FWait = RealWait;
    TWriteProgress FProgress;
    std::atomic<std::uint16_t> FReadSpeedKB{0};
    std::atomic<std::uint32_t> FVerifyProgress{0}, FVerifySize{0};
    std::atomic<std::uint32_t> FSmartProgress{0}, FSmartSize{0};
    std::unique_ptr<TSCSIDevice, TDeviceDeleter> FDevice{NewDevice()};
    // ======== end of the drive side ========

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
    bool ReadyToWriteLayout();
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
