#include "burner/Cache.h"

#include "burner/ImageStream.h"
#include "burner/image/Bytes.h"
#include "burner/image/Tree.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace burner {

namespace {

std::uint32_t QueueLimit(std::uint32_t CacheBytes) {
    std::uint32_t n = (CacheBytes + PacketSize / 2) / PacketSize;
    if (n < 2)
        n = 2;
    return n > MaxQueueSlots ? MaxQueueSlots : n;
}

} // namespace

TCacheThread::TCacheThread(TCDFiles& Files, std::uint32_t CacheBytes)
    : FStream(std::make_unique<TImageStream>(Files)) {
    FStream->Sender = this;
    FTotalSectors = Files.TotalImageSize;
    FMaxPackets = QueueLimit(CacheBytes);
    FRemainingBlocks = FTotalSectors;
}

TCacheThread::TCacheThread(int ImageFd, std::uint64_t ImageBytes, std::string ImageName,
                           std::uint32_t CacheBytes)
    : FImageFd(ImageFd), FImageBytes(ImageBytes), FImageName(std::move(ImageName)) {
    FTotalSectors = SectorsFor(static_cast<std::int64_t>(ImageBytes));
    FMaxPackets = QueueLimit(CacheBytes);
    FRemainingBlocks = FTotalSectors;
}

TCacheThread::~TCacheThread() {
    Cancel();
    Join();
    if (FImageFd >= 0)
        ::close(FImageFd);
}

void TCacheThread::Start() {
    FThread = std::thread([this] { Run(); });
}

void TCacheThread::Join() {
    if (FThread.joinable())
        FThread.join();
}

std::string TCacheThread::ErrorFileName() const {
    std::lock_guard lock(FMutex);
    return FErrorFileName;
}

TTake TCacheThread::Produce(std::uint8_t* Buffer, std::uint32_t& Size, int& FileId) {
    if (FStream) {
        const TTake t = FStream->Next(Buffer, Size);
        FileId = FStream->ReadingFile();
        FReadingFile = FileId;
        if (t == TTake::Failed) {
            std::lock_guard lock(FMutex);
            FErrorFileName = FStream->ErrorFileName();
            FErrorNumber = FStream->ErrorNumber();
        }
        return t;
    }
    // An image file: whole packets, the last one as many sectors as the file has.
    FileId = -1;
    if (FImageOffset >= FImageBytes)
        return TTake::End;
    const std::uint64_t left = FImageBytes - FImageOffset;
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, PacketSize));
    std::size_t got = 0;
    while (got < want) {
        const ssize_t n =
            ::pread(FImageFd, Buffer + got, want - got, static_cast<off_t>(FImageOffset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            std::lock_guard lock(FMutex);
            FErrorFileName = FImageName;
            FErrorNumber = 2;
            return TTake::Failed;
        }
        got += static_cast<std::size_t>(n);
    }
    Size = SectorsFor(static_cast<std::int64_t>(want)) * SectorSize;
    std::memset(Buffer + want, 0, Size - want);
    FImageOffset += want;
    return TTake::Packet;
}

void TCacheThread::Run() {
    while (true) {
        std::unique_ptr<std::uint8_t[]> buffer;
        {
            std::unique_lock lock(FMutex);
            // Queue full: the writer may start, and the reader waits for room.
            FChanged.wait(lock, [this] {
                if (FQueue.size() >= FMaxPackets)
                    FCanStart = true;
                if (FQueue.size() >= FMaxPackets)
                    FChanged.notify_all();
                return FQueue.size() < FMaxPackets || FCancelled.load();
            });
            if (FCancelled) {
                FDone = true;
                FStatus = TTake::Failed;
                FCanStart = true;
                break;
            }
            if (!FFree.empty()) {
                buffer = std::move(FFree.back());
                FFree.pop_back();
            }
        }
        if (!buffer)
            buffer = std::make_unique<std::uint8_t[]>(PacketSize);
        std::uint32_t size = 0;
        int fileId = -1;
        const TTake t = FCancelled ? TTake::Failed : Produce(buffer.get(), size, fileId);
        std::lock_guard lock(FMutex);
        if (t == TTake::Packet && !FCancelled) {
            FQueue.push_back({std::move(buffer), size, fileId});
            FPacketCount = static_cast<int>(FQueue.size());
            FChanged.notify_all();
            continue;
        }
        FDone = true;
        FStatus = FCancelled ? TTake::Failed : t;
        FCanStart = true;
        break;
    }
    FFinished = true;
    FReadingFile = -1;
    FChanged.notify_all();
}

void TCacheThread::WaitCanStart() {
    std::unique_lock lock(FMutex);
    FChanged.wait(lock, [this] { return FCanStart || FDone || FCancelled.load(); });
}

TCacheThread::TPacket TCacheThread::PopLocked() {
    TPacket p = std::move(FQueue.front());
    FQueue.pop_front();
    FWritingFile = p.FileId;
    FPacketCount = static_cast<int>(FQueue.size());
    FRemainingBlocks -= SectorsFor(p.Size);
    FChanged.notify_all();
    return p;
}

TTake TCacheThread::Take(std::unique_ptr<std::uint8_t[]>& Buffer, std::uint32_t& Size) {
    std::unique_lock lock(FMutex);
    FChanged.wait(lock, [this] { return !FQueue.empty() || FDone || FCancelled.load(); });
    Size = 0;
    if (FCancelled)
        return TTake::Failed;
    if (FQueue.empty())
        return FStatus;
    TPacket p = PopLocked();
    Size = p.Size;
    if (Buffer)
        FFree.push_back(std::move(Buffer));
    Buffer = std::move(p.Buffer);
    return TTake::Packet;
}

int TCacheThread::GetFirst(std::uint8_t* Buffer) {
    std::unique_lock lock(FMutex);
    if (FCancelled)
        return 0;
    if (FQueue.empty())
        return FDone ? 0 : -1;
    TPacket p = PopLocked();
    std::memcpy(Buffer, p.Buffer.get(), p.Size);
    FFree.push_back(std::move(p.Buffer));
    return static_cast<int>(p.Size);
}

void TCacheThread::Cancel() {
    std::lock_guard lock(FMutex);
    FCancelled = true;
    FChanged.notify_all();
}

} // namespace burner
