#include "burner/ImageStream.h"

#include "burner/image/Bytes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace burner {

TImageStream::TImageStream(TCDFiles& Files) : FFiles(Files) {
    FHeaderSectors = static_cast<std::uint32_t>(FFiles.IsoHeaderSize / SectorSize);
    FBootSectors = FFiles.BootImage.empty() ? 0 : SectorsFor(FFiles.BootImageSize);
    for (TFileEntry* e : FFiles.Files)
        if (!e->DirRecord && e->FileSize > 0 && !e->Imported && !e->ReferenceEntry &&
            (!e->Path.empty() || e->mfcbFunction))
            FReadList.push_back(e);
    std::stable_sort(FReadList.begin(), FReadList.end(),
                     [](TFileEntry* a, TFileEntry* b) { return a->Address < b->Address; });
    if (FFiles.UDFBridge)
        FFiles.UDFResetGenerator();
}

TImageStream::~TImageStream() {
    CloseCurrent();
    if (FBootFd >= 0)
        ::close(FBootFd);
}

bool TImageStream::Fail(const std::string& FileName) {
    FErrorNumber = 2;
    FErrorFileName = FileName;
    CloseCurrent();
    return false;
}

void TImageStream::CloseCurrent() {
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
}

bool TImageStream::OpenCurrent() {
    TFileEntry* e = FReadList[FReadIndex];
    FDelivered = 0;
    FReadingFile = e->FileId;
    if (e->Path.empty())
        return true; // a memory file
    FFd = ::open(e->Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (FFd < 0)
        return Fail(e->Path);
    ::posix_fadvise(FFd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
}

namespace {

bool ReadFully(int Fd, std::uint8_t* Out, std::size_t Bytes) {
    while (Bytes > 0) {
        const ssize_t n = ::read(Fd, Out, Bytes);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        Out += n;
        Bytes -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

bool TImageStream::FillData(std::uint8_t* Out, std::uint64_t DataSector, std::uint32_t Count) {
    while (Count > 0) {
        if (FReadIndex >= FReadList.size()) {
            std::memset(Out, 0, static_cast<std::size_t>(Count) * SectorSize);
            return true;
        }
        TFileEntry* e = FReadList[FReadIndex];
        if (DataSector < e->Address) {
            // A gap the layout leaves before the next file: zero sectors.
            const std::uint32_t n =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(Count, e->Address - DataSector));
            std::memset(Out, 0, static_cast<std::size_t>(n) * SectorSize);
            Out += static_cast<std::size_t>(n) * SectorSize;
            DataSector += n;
            Count -= n;
            continue;
        }
        if (FDelivered == 0 && FFd < 0 && !OpenCurrent())
            return false;
        const std::uint64_t remaining = static_cast<std::uint64_t>(e->FileSize) - FDelivered;
        const std::uint64_t room = static_cast<std::uint64_t>(Count) * SectorSize;
        const std::size_t bytes = static_cast<std::size_t>(std::min(remaining, room));
        const std::uint32_t sectors = SectorsFor(static_cast<std::int64_t>(bytes));
        if (e->Path.empty()) {
            std::uint32_t size = static_cast<std::uint32_t>(bytes);
            std::memset(Out, 0, static_cast<std::size_t>(sectors) * SectorSize);
            e->mfcbFunction(Sender, e, FDelivered, Out, size);
        } else {
            if (!ReadFully(FFd, Out, bytes))
                return Fail(e->Path);
            // The tail of a file's last sector is zero.
            std::memset(Out + bytes, 0, static_cast<std::size_t>(sectors) * SectorSize - bytes);
        }
        FDelivered += bytes;
        Out += static_cast<std::size_t>(sectors) * SectorSize;
        DataSector += sectors;
        Count -= sectors;
        if (FDelivered >= static_cast<std::uint64_t>(e->FileSize)) {
            CloseCurrent();
            ++FReadIndex;
            FDelivered = 0;
        }
    }
    return true;
}

bool TImageStream::FillSectors(std::uint8_t* Out, std::uint32_t First, std::uint32_t Count) {
    const std::uint32_t bootStart = FHeaderSectors;
    const std::uint32_t udfStart = bootStart + FBootSectors;
    const std::uint32_t dataStart = FFiles.FirstDataSector;
    const std::uint32_t dataEnd = dataStart + FFiles.FilesSize;
    while (Count > 0) {
        std::uint32_t n;
        if (First < FHeaderSectors) {
            n = std::min(Count, FHeaderSectors - First);
            std::memcpy(Out, FFiles.isom.data() + static_cast<std::size_t>(First) * SectorSize,
                        static_cast<std::size_t>(n) * SectorSize);
        } else if (First < udfStart) {
            n = std::min(Count, udfStart - First);
            if (FBootFd < 0) {
                FBootFd = ::open(FFiles.BootImage.c_str(), O_RDONLY | O_CLOEXEC);
                if (FBootFd < 0)
                    return Fail(FFiles.BootImage);
            }
            std::memset(Out, 0, static_cast<std::size_t>(n) * SectorSize);
            const std::uint64_t offset = static_cast<std::uint64_t>(First - bootStart) * SectorSize;
            const std::uint64_t left = static_cast<std::uint64_t>(FFiles.BootImageSize) - offset;
            const std::size_t want = static_cast<std::size_t>(
                std::min<std::uint64_t>(left, static_cast<std::uint64_t>(n) * SectorSize));
            if (::pread(FBootFd, Out, want, static_cast<off_t>(offset)) !=
                static_cast<ssize_t>(want))
                return Fail(FFiles.BootImage);
        } else if (First < dataStart) {
            n = std::min(Count, dataStart - First);
            if (!FFiles.UDFBridge || !FFiles.UDFGenerate(Out, n))
                std::memset(Out, 0, static_cast<std::size_t>(n) * SectorSize);
        } else if (First < dataEnd) {
            n = std::min(Count, dataEnd - First);
            if (!FillData(Out, First - dataStart, n))
                return false;
        } else {
            n = Count;
            std::memset(Out, 0, static_cast<std::size_t>(n) * SectorSize);
        }
        Out += static_cast<std::size_t>(n) * SectorSize;
        First += n;
        Count -= n;
    }
    return true;
}

TTake TImageStream::Next(std::uint8_t* Packet, std::uint32_t& Size) {
    Size = 0;
    if (FErrorNumber)
        return TTake::Failed;
    if (FSector >= FFiles.TotalImageSize)
        return TTake::End;
    if (!FillSectors(Packet, FSector, SectorsPerPacket))
        return TTake::Failed;
    FSector += SectorsPerPacket;
    if (FFiles.UDFBridge && FSector == FFiles.TotalImageSize) {
        // The last packet carries the final anchor in its last sector.
        FFiles.UDFAnchor(Packet + (SectorsPerPacket - 1) * SectorSize,
                         FFiles.UDFBridgeInfo.LastAnchorVolumeDescriptorPointer_LSAWRTSession);
    }
    if (FSector >= FFiles.TotalImageSize)
        FReadingFile = -1;
    Size = PacketSize;
    return TTake::Packet;
}

} // namespace burner
