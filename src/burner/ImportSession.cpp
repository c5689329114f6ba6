// Reading the ISO 9660 tree of an earlier session (or of an image file) into the layout as
// imported entries: their data stays where it is on the disc and is not written again.
#include "burner/DiscBurner.h"
#include "burner/ISOReader.h"
#include "burner/device/SCSILib.h"
#include "burner/image/Unicode.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace burner {

namespace {

bool WrittenFromZero(TMedium m) {
    return m == mtDVDRAM || m == mtDVDPLUSRW || m == mtBDRE || m == mtDVDRWRO;
}

} // namespace

// First sector of session SessionNo (0: the last one); false when the disc has no such session.
static bool SessionStart(TSCSIDevice& Dev, int& SessionNo, std::uint32_t& Start) {
    const TMedium m = Dev.DiscIs();
    if (m == mtUNKNOWN)
        return false;
    if (WrittenFromZero(m)) {
        if (SessionNo > 1)
            return false;
        SessionNo = 1;
        Start = 0;
        return true;
    }
    const int sessions = Dev.SessionsOnDisc();
    if (sessions <= 0 || SessionNo < 0 || SessionNo > sessions)
        return false;
    if (SessionNo == 0)
        SessionNo = sessions;
    if (!Dev.ReadDiscInformation(64))
        return false;
    const unsigned lastTrack = Dev.DiscInformation.LastTrackOfLastSession;
    for (unsigned t = 1; t <= lastTrack && t <= 255; ++t) {
        if (!Dev.ReadTrackInformation(t))
            return false;
        if (Dev.TrackInformation.SessionNumber == SessionNo) {
            Start = Dev.TrackInformation.TrackStartAddress;
            return true;
        }
    }
    return false;
}

static int ImportVolume(TCDFiles& Files, const TISOVolume& Volume, const std::u16string& DestPath) {
    TDirEntry* dest = Files.FindDirByPath(DestPath);
    if (!dest)
        return -1;
    std::vector<std::u16string> paths(Volume.Entries.size());
    std::vector<TDirEntry*> dirs(Volume.Entries.size(), nullptr);
    for (std::size_t i = 0; i < Volume.Entries.size(); ++i) {
        const TISOEntry& e = Volume.Entries[i];
        TDirEntry* parent = dest;
        std::u16string parentPath = DestPath;
        if (e.Parent >= 0) {
            if (static_cast<std::size_t>(e.Parent) >= i ||
                !dirs[static_cast<std::size_t>(e.Parent)])
                continue;
            parent = dirs[static_cast<std::size_t>(e.Parent)];
            parentPath = paths[static_cast<std::size_t>(e.Parent)];
        }
        paths[i] = parentPath + u"\\" + e.Name;
        if (e.Directory) {
            dirs[i] = Files.CreateDir(std::u16string_view(parentPath), std::u16string_view(e.Name));
            continue;
        }
        TFindData fd;
        fd.FileName = e.Name;
        fd.FileSize = e.Size;
        fd.LastWriteTime = e.Time;
        // A file with data needs a real place; one pointing at sector 0 is damaged.
        if (e.Size > 0 && e.Extent == 0)
            continue;
        Files.InsertImportedFile(parent, fd, e.Extent);
    }
    return 0;
}

std::int32_t TDiscBurner::ImportSession(int SessionNo, const std::string& DestPath) {
    std::u16string dest;
    if (!Utf8ToUtf16(DestPath, dest))
        return -1;
    return ImportSessionW(SessionNo, dest);
}

std::int32_t TDiscBurner::ImportSessionW(int SessionNo, const std::u16string& DestPath) {
    if (FBusy)
        return -1;
    CDFiles.ComponentStatus = 8;
    std::uint32_t start = 0;
    int session = SessionNo;
    std::int32_t result = -1;
    if (SessionStart(*FDevice, session, start)) {
        const TISOVolume v =
            ReadISOVolume([this](std::uint32_t Lba,
                                 std::uint8_t* Sector) { return FDevice->Read10(Lba, 1, Sector); },
                          start, true);
        if (v.Valid && ImportVolume(CDFiles, v, DestPath) == 0)
            result = session;
    }
    CDFiles.ComponentStatus = 0;
    return result;
}

bool TDiscBurner::MountISOImage(const std::string& ISOFileName) {
    if (FBusy)
        return false;
    const int fd = ::open(ISOFileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        SetError(2, ISOFileName);
        return false;
    }
    struct stat st {};
    const std::uint64_t bytes = ::fstat(fd, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    const TISOVolume v = ReadISOVolume(
        [fd, bytes](std::uint32_t Lba, std::uint8_t* Sector) {
            const std::uint64_t offset = std::uint64_t(Lba) * 2048;
            if (offset + 2048 > bytes)
                return false;
            std::size_t got = 0;
            while (got < 2048) {
                const ssize_t n =
                    ::pread(fd, Sector + got, 2048 - got, static_cast<off_t>(offset + got));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    return false;
                got += static_cast<std::size_t>(n);
            }
            return true;
        },
        0, true);
    ::close(fd);
    if (!v.Valid) {
        SetError(2, ISOFileName);
        return false;
    }
    return ImportVolume(CDFiles, v, u"\\") == 0;
}

std::u16string TDiscBurner::ReadVolumeLabelOfDisc(int SessionNo) {
    if (FBusy)
        return std::u16string();
    std::uint32_t start = 0;
    int session = SessionNo;
    if (!SessionStart(*FDevice, session, start))
        return std::u16string();
    return ReadISOVolume([this](std::uint32_t Lba,
                                std::uint8_t* Sector) { return FDevice->Read10(Lba, 1, Sector); },
                         start, false)
        .Label;
}

} // namespace burner
