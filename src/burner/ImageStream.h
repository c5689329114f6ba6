#pragma once
// Produces the image of a prepared layout as consecutive 64 KB packets, on the caller's thread:
// the header, the boot image, the UDF directory structures, the file data (with zero sectors
// where the layout leaves gaps), and the final UDF anchor in the last sector.
#include "burner/PacketSource.h"
#include "burner/image/Tree.h"

#include <string>
#include <vector>

namespace burner {

class TImageStream {
public:
    // Header must already be built (TCDFiles::BuildHeader); the generator is reset here.
    explicit TImageStream(TCDFiles& Files);
    ~TImageStream();
    TImageStream(const TImageStream&) = delete;
    TImageStream& operator=(const TImageStream&) = delete;

    // Fills the next packet (always 65536 bytes). Failed: a source file is missing, unreadable
    // or shorter than when it was inserted (ErrorNumber 2, ErrorFileName).
    TTake Next(std::uint8_t* Packet, std::uint32_t& Size);
    std::uint32_t TotalSectors() const { return FFiles.TotalImageSize; }
    std::uint32_t SectorsProduced() const { return FSector; }
    std::uint32_t ErrorNumber() const { return FErrorNumber; }
    const std::string& ErrorFileName() const { return FErrorFileName; }
    // FileId of the file being read, -1 outside file data.
    int ReadingFile() const { return FReadingFile; }
    // Sender handed to memory files' data callbacks.
    void* Sender = nullptr;

private:
    bool FillSectors(std::uint8_t* Out, std::uint32_t First, std::uint32_t Count);
    bool FillData(std::uint8_t* Out, std::uint64_t DataSector, std::uint32_t Count);
    bool OpenCurrent();
    void CloseCurrent();
    bool Fail(const std::string& FileName);

    TCDFiles& FFiles;
    std::uint32_t FSector = 0;
    std::uint32_t FHeaderSectors = 0;
    std::uint32_t FBootSectors = 0;
    std::vector<TFileEntry*> FReadList; // in address order
    std::size_t FReadIndex = 0;
    int FFd = -1;
    std::uint64_t FDelivered = 0; // bytes of the current file already delivered
    int FBootFd = -1;
    std::uint32_t FErrorNumber = 0;
    std::string FErrorFileName;
    int FReadingFile = -1;
};

} // namespace burner
