#include "burner/DiscBurner.h"

#include "burner/Cache.h"
#include "burner/ImageFile.h"
#include "burner/image/Bytes.h"
#include "burner/image/Unicode.h"

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace burner {

namespace {

constexpr std::size_t MaxLabelCharacters = 31;

// Shortens a label to 31 characters without splitting a surrogate pair.
std::u16string ShortenLabel(std::u16string Label) {
    std::size_t units = 0, chars = 0;
    while (units < Label.size() && chars < MaxLabelCharacters) {
        const bool pair =
            Label[units] >= 0xD800 && Label[units] <= 0xDBFF && units + 1 < Label.size();
        units += pair ? 2 : 1;
        ++chars;
    }
    Label.resize(units);
    return Label;
}

} // namespace

TDiscBurner::TDiscBurner() = default;

TDiscBurner::~TDiscBurner() {
    AbortOperation();
    WaitIdle();
}

std::string TDiscBurner::Version() {
    return "Ordavine disc engine 1.0";
}

std::string TDiscBurner::VolumeID() const {
    return std::string(CDFiles.VolumeLabel);
}

std::u16string TDiscBurner::VolumeIDW() const {
    return std::u16string(CDFiles.VolumeLabelW);
}

void TDiscBurner::SetVolumeIDW(const std::u16string& Label) {
    const std::u16string label = ShortenLabel(Label);
    std::memset(CDFiles.VolumeLabelW, 0, sizeof CDFiles.VolumeLabelW);
    std::memcpy(CDFiles.VolumeLabelW, label.data(), label.size() * sizeof(char16_t));
    // The 8-bit label holds whole UTF-8 characters only, at most 31 bytes.
    const std::string utf8 = Utf16ToUtf8(label);
    std::size_t n = std::min<std::size_t>(utf8.size(), sizeof CDFiles.VolumeLabel - 1);
    while (n > 0 && n < utf8.size() && (static_cast<unsigned char>(utf8[n]) & 0xC0) == 0x80)
        --n;
    std::memset(CDFiles.VolumeLabel, 0, sizeof CDFiles.VolumeLabel);
    std::memcpy(CDFiles.VolumeLabel, utf8.data(), n);
    CDFiles.Prepared = false;
}

void TDiscBurner::SetVolumeID(const std::string& Label) {
    SetVolumeIDW(Utf8ToUtf16Lossy(Label));
}

void TDiscBurner::SetCacheSize(std::uint32_t MB) {
    // The queue has room for 9999 packets (about 624 MB); below 2 MB the writer would starve.
    FCacheSizeMB = std::clamp<std::uint32_t>(MB, 2, MaxQueueSlots * (PacketSize / 1024) / 1024);
}

void TDiscBurner::ClearAll() {
    if (FBusy)
        return;
    CDFiles.ClearAll();
}

TDirEntry* TDiscBurner::CreateDir(const std::string& DestPath, const std::string& DirName) {
    CDFiles.cbAddFileEvent = OnAddFile;
    return CDFiles.CreateDir(std::string_view(DestPath), std::string_view(DirName));
}
TDirEntry* TDiscBurner::CreateDirW(const std::u16string& DestPath, const std::u16string& DirName) {
    CDFiles.cbAddFileEvent = OnAddFile;
    return CDFiles.CreateDir(std::u16string_view(DestPath), std::u16string_view(DirName));
}
TFileEntry* TDiscBurner::InsertFile(const std::string& DestPath, const std::string& FileName) {
    CDFiles.cbAddFileEvent = OnAddFile;
    return CDFiles.InsertFile(std::string_view(DestPath), std::string_view(FileName));
}
TFileEntry* TDiscBurner::InsertFileW(const std::u16string& DestPath,
                                     const std::u16string& FileName) {
    CDFiles.cbAddFileEvent = OnAddFile;
    return CDFiles.InsertFile(std::u16string_view(DestPath), std::u16string_view(FileName));
}
TFileEntry* TDiscBurner::InsertFileWithName(const std::string& DestPath,
                                            const std::string& FileName,
                                            const std::string& LongNameOnDisc,
                                            const std::string& ShortNameOnDisc) {
    CDFiles.cbAddFileEvent = OnAddFile;
    return CDFiles.InsertFileWithName(std::string_view(DestPath), std::string_view(FileName),
                                      std::string_view(LongNameOnDisc),
                                      std::string_view(ShortNameOnDisc));
}
TFileEntry* TDiscBurner::InsertFileWithNameW(const std::u16string& DestPath,
                                             const std::u16string& FileName,
                                             const std::u16string& LongNameOnDisc,
                                             const std::u16string& ShortNameOnDisc) {
    CDFiles.cbAddFileEvent = OnAddFile;
    return CDFiles.InsertFileWithName(std::u16string_view(DestPath), std::u16string_view(FileName),
                                      std::u16string_view(LongNameOnDisc),
                                      std::u16string_view(ShortNameOnDisc));
}
TFileEntry* TDiscBurner::InsertMemoryFile(const std::string& DestPath,
                                          const TFindData& FindFileData, TGetDataEvent OnGetData) {
    CDFiles.cbAddFileEvent = OnAddFile;
    return CDFiles.InsertMemoryFile(std::string_view(DestPath), FindFileData, std::move(OnGetData));
}
TFileEntry* TDiscBurner::InsertMemoryFileW(const std::u16string& DestPath,
                                           const TFindData& FindFileData, TGetDataEvent OnGetData) {
    CDFiles.cbAddFileEvent = OnAddFile;
    return CDFiles.InsertMemoryFile(std::u16string_view(DestPath), FindFileData,
                                    std::move(OnGetData));
}
TDirEntry* TDiscBurner::InsertDir(const std::string& DestPath, const std::string& DirPath,
                                  const std::string& FileSpecs, bool Recursive, bool SavePath) {
    CDFiles.cbAddFileEvent = OnAddFile;
    return CDFiles.InsertDir(std::string_view(DestPath), std::string_view(DirPath),
                             std::string_view(FileSpecs), Recursive, SavePath);
}
TDirEntry* TDiscBurner::InsertDirW(const std::u16string& DestPath, const std::u16string& DirPath,
                                   const std::u16string& FileSpecs, bool Recursive, bool SavePath) {
    CDFiles.cbAddFileEvent = OnAddFile;
    return CDFiles.InsertDir(std::u16string_view(DestPath), std::u16string_view(DirPath),
                             std::u16string_view(FileSpecs), Recursive, SavePath);
}
std::int64_t TDiscBurner::FindFile(const std::string& Directory,
                                   const std::string& FileToFind) const {
    return CDFiles.FindFile(std::string_view(Directory), std::string_view(FileToFind));
}
std::int64_t TDiscBurner::FindFileW(const std::u16string& Directory,
                                    const std::u16string& FileToFind) const {
    return CDFiles.FindFile(std::u16string_view(Directory), std::u16string_view(FileToFind));
}

std::uint32_t TDiscBurner::Prepare() {
    if (FBusy)
        return 0;
    return CDFiles.Prepare();
}

void TDiscBurner::SetError(std::uint32_t Code, const std::string& File) {
    std::lock_guard lock(FErrorMutex);
    FErrorNumber = Code;
    FErrorFile = File;
}

std::uint32_t TDiscBurner::TakeError(std::string& File) {
    std::lock_guard lock(FErrorMutex);
    std::uint32_t code = FErrorNumber;
    File = FErrorFile;
    FErrorNumber = 0;
    FErrorFile.clear();
    // Without an engine error the drive's last error is reported (and cleared) instead.
    if (code == 0 && !FBusy)
        code = TakeDeviceError();
    return code;
}

std::uint32_t TDiscBurner::ErrorNumber() {
    std::string file;
    return TakeError(file);
}

std::string TDiscBurner::ErrorString() {
    std::string file;
    const std::uint32_t code = TakeError(file);
    switch (code) {
    case 0:
        return "Unknown/No Error!";
    case 1:
        return "Data not prepared ";
    case 2:
        return file.empty() ? "Error opening file" : "Error opening file \\" + file + "\\";
    case 3:
        return file.empty() ? "Error creating file" : "Error creating file \\" + file + "\\";
    case 4:
        return "Aborted by user";
    default:
        return "Hardware Error " + std::to_string(code);
    }
}

std::u16string TDiscBurner::ErrorStringW() {
    std::string file;
    const std::uint32_t code = TakeError(file);
    std::string text;
    switch (code) {
    case 0:
        text = "Unknown/No Error!";
        break;
    case 1:
        text = "Data not prepared";
        break;
    case 2:
        text = file.empty() ? "Error opening file" : "Error opening file \\'" + file + "\\'";
        break;
    case 3:
        text = file.empty() ? "Error creating file" : "Error creating file \\'" + file + "\\'";
        break;
    case 4:
        text = "Aborted by user";
        break;
    default:
        text = "Hardware Error \\'" + std::to_string(code);
        break;
    }
    return Utf8ToUtf16Lossy(text);
}

void TDiscBurner::AbortOperation() {
    if (!FBusy)
        return;
    SetError(4, std::string());
    CDFiles.ComponentStatus = 7;
    CDFiles.Aborted = true;
    std::lock_guard lock(FOpMutex);
    if (FReader)
        FReader->Cancel();
}

void TDiscBurner::WaitIdle() {
    std::thread writer;
    {
        std::lock_guard lock(FOpMutex);
        writer = std::move(FWriter);
    }
    if (writer.joinable()) {
        if (writer.get_id() == std::this_thread::get_id())
            writer.detach(); // called from the completion handler on the writer itself
        else
            writer.join();
    }
}

std::uint64_t TDiscBurner::CachePosition() const {
    std::lock_guard lock(FOpMutex);
    return FReader ? static_cast<std::uint64_t>(FReader->PacketCount()) * PacketSize : 0;
}

int TDiscBurner::ReadingFile() const {
    std::lock_guard lock(FOpMutex);
    return FReader ? FReader->ReadingFile() : -1;
}

int TDiscBurner::WritingFile() const {
    std::lock_guard lock(FOpMutex);
    return FReader ? FReader->WritingFile() : -1;
}

// Nothing else runs and the layout is prepared (error 1 when it is not).
bool TDiscBurner::ReadyToWriteLayout() {
    if (FBusy)
        return false;
    WaitIdle();
    if (!CDFiles.Prepared) {
        SetError(1, std::string());
        return false;
    }
    return true;
}

bool TDiscBurner::BuildISOImage(const std::string& FileName) {
    if (!ReadyToWriteLayout())
        return false;
    auto sink = std::make_unique<TImageFileSink>(FileName);
    if (!sink->Ok()) {
        SetError(3, FileName);
        return false;
    }
    CDFiles.FirstWritableSector = 0;
    CDFiles.UDFBridgeInfo.SessionStarting_LSA = 0;
    if (!CDFiles.BuildHeader()) {
        sink->Finish(true);
        SetError(1, std::string());
        return false;
    }
    return StartWrite(std::make_unique<TCacheThread>(CDFiles, FCacheSizeMB * 1024 * 1024),
                      std::move(sink));
}

bool TDiscBurner::BuildISOImageW(const std::u16string& FileName) {
    return BuildISOImage(Utf16ToUtf8(FileName));
}

bool TDiscBurner::BurnISOImage(const std::string& FileName) {
    if (FBusy)
        return false;
    WaitIdle();
    const int fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) {
        if (fd >= 0)
            ::close(fd);
        SetError(2, FileName);
        return false;
    }
    auto reader = std::make_unique<TCacheThread>(fd, static_cast<std::uint64_t>(st.st_size),
                                                 FileName, FCacheSizeMB * 1024 * 1024);
    // The image file, not the layout, is what gets written now: the layout must be prepared
    // again before it is built.
    CDFiles.TotalImageSize = reader->TotalSectors();
    CDFiles.Prepared = false;
    auto sink = CreateDriveSink(reader->TotalSectors());
    if (!sink)
        return false;
    return StartWrite(std::move(reader), std::move(sink));
}

bool TDiscBurner::BurnISOImageW(const std::u16string& FileName) {
    return BurnISOImage(Utf16ToUtf8(FileName));
}

bool TDiscBurner::StartWrite(std::unique_ptr<TCacheThread> Reader,
                             std::unique_ptr<TPacketSink> Sink) {
    SetError(0, std::string());
    CDFiles.Aborted = false;
    FBlocksWritten = 0;
    FBusy = true;
    {
        std::lock_guard lock(FOpMutex);
        FReader = std::move(Reader);
        FSink = std::move(Sink);
    }
    FReader->Start();
    // The writer starts once the cache is full (or the reader is done), so that its first
    // writes are backed by the whole cache.
    FReader->WaitCanStart();
    if (FReader->ErrorNumber() != 0 || CDFiles.Aborted) {
        FReader->Cancel();
        FReader->Join();
        if (FReader->ErrorNumber() != 0)
            SetError(FReader->ErrorNumber(), FReader->ErrorFileName());
        FSink->Finish(true);
        FinishOperation(true);
        return false;
    }
    CDFiles.ComponentStatus = 1;
    std::lock_guard lock(FOpMutex);
    FWriter = std::thread([this] { RunWriter(); });
    return true;
}

void TDiscBurner::RunWriter() {
    CDFiles.ComponentStatus = 1;
    std::unique_ptr<std::uint8_t[]> buffer;
    bool failed = false;
    std::uint32_t written = 0;
    while (true) {
        std::uint32_t size = 0;
        const TTake t = FReader->Take(buffer, size);
        if (t == TTake::End)
            break;
        if (t == TTake::Failed) {
            failed = true;
            if (FReader->ErrorNumber() != 0)
                SetError(FReader->ErrorNumber(), FReader->ErrorFileName());
            break;
        }
        if (!FSink->Write(buffer.get(), size)) {
            failed = true;
            CDFiles.Aborted = true;
            FReader->Cancel();
            CDFiles.ComponentStatus = 9;
            auto* file = dynamic_cast<TImageFileSink*>(FSink.get());
            SetError(FSink->ErrorNumber(), file ? file->FileName() : std::string());
            break;
        }
        written += size / SectorSize;
        FBlocksWritten = written;
    }
    // The bytes written must be the plan, no more and no less.
    if (!failed && written != FReader->TotalSectors()) {
        failed = true;
        SetError(1, std::string());
    }
    if (!failed)
        CDFiles.ComponentStatus = 4;
    if (!FSink->Finish(failed) && !failed) {
        failed = true;
        auto* file = dynamic_cast<TImageFileSink*>(FSink.get());
        SetError(3, file ? file->FileName() : std::string());
    }
    FReader->Cancel();
    FReader->Join();
    {
        std::lock_guard lock(FErrorMutex);
        failed = failed || FErrorNumber != 0;
    }
    FinishOperation(failed);
}

void TDiscBurner::FinishOperation(bool Failed) {
    CDFiles.ReleaseHeader();
    CDFiles.ComponentStatus = 0;
    FBusy = false;
    if (OnWriteDone) {
        TWriteDoneEvent handler = OnWriteDone;
        Dispatch(Dispatcher, [this, handler, Failed] { handler(this, 0, Failed); });
    }
}

const TFileEntry* TDiscBurner::EntryAt(int FileId) const {
    if (FileId < 0 || FileId >= CDFiles.FileCounter())
        return nullptr;
    return CDFiles.Files[static_cast<std::size_t>(FileId)];
}

std::string TDiscBurner::SourcePath(int FileId) const {
    const TFileEntry* e = EntryAt(FileId);
    return e ? e->Path : std::string();
}
std::string TDiscBurner::DestinationPath(int FileId) const {
    return SourcePath(FileId);
}
std::u16string TDiscBurner::FileName(int FileId) const {
    const TFileEntry* e = EntryAt(FileId);
    return e ? e->LongName : std::u16string();
}
std::string TDiscBurner::ShortFileName(int FileId) const {
    const TFileEntry* e = EntryAt(FileId);
    return e ? std::string(e->ShortName) : std::string();
}
std::int64_t TDiscBurner::FileSize(int FileId) const {
    const TFileEntry* e = EntryAt(FileId);
    return e ? e->FileSize : -1;
}
bool TDiscBurner::IsDirectory(int FileId) const {
    const TFileEntry* e = EntryAt(FileId);
    return e && e->DirRecord;
}
std::int64_t TDiscBurner::FileAddress(int FileId) const {
    const TFileEntry* e = EntryAt(FileId);
    return e ? static_cast<std::int64_t>(e->Address) * SectorSize : -1;
}
std::u16string TDiscBurner::DirName(int DirId) const {
    if (DirId < 0 || DirId >= CDFiles.DirCounter())
        return std::u16string();
    return CDFiles.Dirs[static_cast<std::size_t>(DirId)]->LongName;
}

} // namespace burner
