#pragma once
// The reader thread: turns an image (a prepared layout, or an existing image file) into a queue
// of 64 KB packets held in memory, ahead of whoever writes them.
#include "burner/PacketSource.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace burner {

class TCDFiles;
class TImageStream;

// The queue never holds more packets than this, whatever the cache size asks for.
constexpr std::uint32_t MaxQueueSlots = 9999;

class TCacheThread : public TPacketSource {
public:
    // Streams a prepared layout whose header has been built.
    TCacheThread(TCDFiles& Files, std::uint32_t CacheBytes);
    // Reads an existing image file; Fd is taken over. A last partial sector reads as zeros.
    TCacheThread(int ImageFd, std::uint64_t ImageBytes, std::string ImageName,
                 std::uint32_t CacheBytes);
    ~TCacheThread() override;

    void Start();
    // Waits until the writer may start: the queue is full, the reader finished, or it failed.
    void WaitCanStart();
    // Waits for the thread to end (after End, Failed or Cancel).
    void Join();

    TTake Take(std::unique_ptr<std::uint8_t[]>& Buffer, std::uint32_t& Size) override;
    // Takes a packet if one is ready: its size, 0 when everything was taken or the reader has
    // stopped, -1 when none is ready yet.
    int GetFirst(std::uint8_t* Buffer);
    void Cancel() override;
    std::uint32_t TotalSectors() const override { return FTotalSectors; }
    std::uint32_t ErrorNumber() const override { return FErrorNumber; }
    std::string ErrorFileName() const override;

    std::uint32_t MaxPackets() const { return FMaxPackets; }
    int PacketCount() const { return FPacketCount.load(); }
    int ReadingFile() const { return FReadingFile.load(); }
    int WritingFile() const { return FWritingFile.load(); }
    std::int64_t RemainingBlocks() const { return FRemainingBlocks.load(); }
    bool Finished() const { return FFinished.load(); }

private:
    struct TPacket {
        std::unique_ptr<std::uint8_t[]> Buffer;
        std::uint32_t Size;
        int FileId;
    };
    void Run();
    TTake Produce(std::uint8_t* Buffer, std::uint32_t& Size, int& FileId);
    // Removes the front packet; the caller holds FMutex.
    TPacket PopLocked();

    std::unique_ptr<TImageStream> FStream;
    int FImageFd = -1;
    std::uint64_t FImageBytes = 0;
    std::uint64_t FImageOffset = 0;
    std::string FImageName;

    std::uint32_t FTotalSectors = 0;
    std::uint32_t FMaxPackets = 0;
    std::thread FThread;

    // FMutex guards FQueue, FFree, FDone, FStatus, FErrorFileName.
    mutable std::mutex FMutex;
    std::condition_variable FChanged;
    std::deque<TPacket> FQueue;
    std::vector<std::unique_ptr<std::uint8_t[]>> FFree;
    bool FDone = false;         // the reader produced its last packet or stopped
    TTake FStatus = TTake::End; // how it ended
    bool FCanStart = false;
    std::string FErrorFileName;

    std::atomic<bool> FCancelled{false};
    std::atomic<std::uint32_t> FErrorNumber{0};
    std::atomic<int> FPacketCount{0};
    std::atomic<int> FReadingFile{-1};
    std::atomic<int> FWritingFile{-1};
    std::atomic<std::int64_t> FRemainingBlocks{0};
    std::atomic<bool> FFinished{false};
};

} // namespace burner
