#pragma once
// The virtual recorder: an MMC drive simulated in the process. It answers the commands the
// engine sends as a real DVD/BD/CD writer does for the disc it holds (profiles, capability and
// write parameter pages, disc and track information, formattable capacities, speeds, sense
// data), keeps the state of that disc (tracks, sessions, format), and puts the written sectors
// into an image file. Faults can be injected so that every recovery path above it runs.
#include "burner/device/DeviceTypes.h"
#include "burner/device/Transport.h"

#include <mutex>
#include <string>
#include <vector>

namespace burner {

// Image file for a burn in the program's drive list: "<label>.iso" in folder, or
// "<label> (2).iso", "<label> (3).iso" ... when that name is taken. An existing file is never
// chosen. Characters a file name cannot hold become "_"; an empty label gives "disc".
std::string VirtualImageFileName(const std::string& folder, const std::string& label);

// One command as the recorder received and answered it.
struct TRecordedCommand {
    std::vector<uint8_t> Cdb;     // CDB bytes (CDB length of them)
    uint8_t Flags = 0;            // SRB_READ, SRB_WRITE or SRB_NODATA
    uint32_t Length = 0;          // data length
    std::vector<uint8_t> DataOut; // data sent to the drive (at most the first 4096 bytes)
    uint8_t Status = 0;           // SS_COMP or SS_ERR
    uint8_t TargetStatus = 0;
    uint8_t Key = 0, Asc = 0, Ascq = 0;
};

// A track of the disc in the recorder.
struct TRecorderTrack {
    uint32_t Start = 0;
    uint32_t Size = 0;    // reserved or closed size; for the open (invisible) track what is left
    uint32_t Written = 0; // sectors recorded from Start
    bool Reserved = false;
    bool Closed = false;
    uint16_t Session = 1;
};

// State of the disc in the recorder.
struct TRecorderDisc {
    TMedium Kind = mtUNKNOWN; // mtUNKNOWN: no disc
    uint32_t Capacity = 0;
    bool Formatted = false; // rewritable media
    bool Finalized = false; // write-once media closed for good
    uint16_t ClosedSessions = 0;
    std::vector<TRecorderTrack> Tracks; // write-once media
    uint32_t HighestWritten = 0;        // one past the last sector written (rewritable media)
    std::string ImagePath;              // image file of this disc, empty before its first write
    uint8_t TimeStamp[14] = {};         // last SEND DVD STRUCTURE time stamp (ASCII digits)
};

class TVirtualRecorder : public TScsiTransport {
public:
    static constexpr const char* VendorId = "ORDAVINE";
    static constexpr const char* ProductId = "VIRTUAL RECORDER";
    static constexpr const char* Revision = "1.00";

    TVirtualRecorder();
    ~TVirtualRecorder() override;
    TVirtualRecorder(const TVirtualRecorder&) = delete;
    TVirtualRecorder& operator=(const TVirtualRecorder&) = delete;

    // --- The disc ---------------------------------------------------------------------------
    // Puts a blank disc of this kind in the drive (tray closed). capacityBlocks 0 gives the
    // real size of the kind. mtDVDRW counts as DVD-RW sequential; mtUNKNOWN removes the disc.
    // A DVD+RW, DVD-RAM and BD-RE come formatted, a DVD-RW restricted overwrite formatted.
    void InsertMedium(TMedium kind, uint32_t capacityBlocks = 0);
    void RemoveMedium();
    static uint32_t NominalCapacity(TMedium kind);
    TRecorderDisc Disc() const;
    bool TrayOpen() const;
    // After an eject a fresh blank disc of the same kind sits in the drive at once, as when a
    // user swaps discs (the program's drive list uses this; off by default).
    void SetAutoReload(bool on);

    // The recorder as the program's drive list offers it: a blank disc of this kind (a double
    // layer DVD+R holds either disc size), a fresh blank one after every eject, and each burn's
    // image in imageFolder, named after the volume label.
    void SetUpForDriveList(const std::string& imageFolder, TMedium medium = mtDVDPLUSRDL);

    // --- Drive behaviour ----------------------------------------------------------------------
    // MODE SENSE answers with an 8-byte block descriptor before the page (off by default).
    void SetBlockDescriptor(bool on);
    // Whether the drive answers MODE SENSE of page 30h (on by default).
    void SetPage30Supported(bool on);
    // Buffer underrun protection in the capabilities page (on by default).
    void SetUnderrunProtection(bool on);

    // --- Image file -----------------------------------------------------------------------------
    // Written sectors go to this file (created or truncated at a disc's first write).
    void SetImagePath(const std::string& path);
    // Without an explicit path: the image of each disc is named by VirtualImageFileName in this
    // folder, after the volume label (SetVolumeLabel, else the label in the written primary
    // volume descriptor).
    void SetImageFolder(const std::string& folder);
    void SetVolumeLabel(const std::string& label);
    // Image file of the disc in the drive (empty until its first write).
    std::string ImagePath() const;
    // The image file created last, kept when the disc is ejected (for the events log).
    std::string LastImagePath() const;
    // Reads a sector of the disc's image (zeros where nothing was written).
    bool ReadSector(uint32_t lba, uint8_t* sector2048) const;

    // --- Faults ---------------------------------------------------------------------------------
    // The next n commands end with target status BUSY.
    void InjectBusy(unsigned n);
    // The next n WRITE (10) commands answer NOT READY, 04h/08h (long write in progress).
    void InjectLongWriteInProgress(unsigned n);
    // Every WRITE (10) covering this sector answers MEDIUM ERROR, 0Ch/00h (write error).
    void InjectWriteError(uint32_t lba);
    // The DVD+RW in the drive is unformatted: writes answer 30h/05h until FORMAT UNIT.
    void InjectUnformatted();
    // The disc disappears after n more commands (0: at once).
    void InjectMediumRemoval(unsigned afterCommands);
    // After an immediate FORMAT UNIT or BLANK, the next n commands answer NOT READY, 04h/04h.
    void InjectNotReadyAfterFormat(unsigned n);
    // The next `times` commands with this operation code fail with this sense.
    void InjectCommandFailure(uint8_t opcode, uint8_t key, uint8_t asc, uint8_t ascq,
                              unsigned times = 1);
    void ClearFaults();

    // --- What the drive saw ---------------------------------------------------------------------
    std::vector<TRecordedCommand> Commands() const;
    void ClearCommands();
    // The write parameters page as the drive holds it (52 bytes).
    std::vector<uint8_t> Page05() const;
    uint16_t CurrentReadSpeed() const;
    uint16_t CurrentWriteSpeed() const;
    // The last SET STREAMING performance descriptor (28 bytes, empty before one).
    std::vector<uint8_t> StreamingDescriptor() const;
    bool Locked() const;

    uint32_t Execute(TSRB_ExecSCSICmd& srb) override;

private:
    struct TAnswer;
    struct TCommandFailure {
        uint8_t Opcode, Key, Asc, Ascq;
        unsigned Times;
    };

    void LoadBlank(TMedium kind, uint32_t capacity);
    void Dispatch(TSRB_ExecSCSICmd& srb, TAnswer& answer);
    bool MediumReady(TAnswer& answer) const;
    bool Sequential() const;
    bool RandomWritable() const;
    bool IsDVD() const;
    bool IsBD() const;
    bool IsCD() const;
    uint16_t Profile() const;
    const std::vector<uint16_t>& WriteSpeeds() const;
    const std::vector<uint16_t>& ReadSpeeds() const;
    void ResetSpeeds();
    void DefaultPage05();
    int OpenTrackAt(uint32_t lba) const;
    void CloseTrackAt(size_t index);
    void CloseOpenSession(bool finalize);
    uint32_t ReadableEnd() const;
    bool EnsureImage(const uint8_t* firstData, uint32_t lba, uint32_t blocks);
    void CloseImage();

    void Inquiry(TSRB_ExecSCSICmd& srb, TAnswer& answer);
    void RequestSense(TSRB_ExecSCSICmd& srb, TAnswer& answer);
    void GetConfiguration(TSRB_ExecSCSICmd& srb, TAnswer& answer);
    void ModeSense(TSRB_ExecSCSICmd& srb, TAnswer& answer);
    void ModeSelect(TSRB_ExecSCSICmd& srb, TAnswer& answer);
    void ReadDiscInformation(TSRB_ExecSCSICmd& srb, TAnswer& answer);
    void ReadTrackInformation(TSRB_ExecSCSICmd& srb, TAnswer& answer);
    void ReadFormatCapacities(TSRB_ExecSCSICmd& srb, TAnswer& answer);
    void ReadCapacity(TSRB_ExecSCSICmd& srb, TAnswer& answer);
    void ReadToc(TSRB_ExecSCSICmd& srb, TAnswer& answer);
    void ReadBufferCapacity(TSRB_ExecSCSICmd& srb, TAnswer& answer);
    void Write(TSRB_ExecSCSICmd& srb, TAnswer& answer);
    void Read(TSRB_ExecSCSICmd& srb, TAnswer& answer);
    void ReserveTrack(TSRB_ExecSCSICmd& srb, TAnswer& answer);
    void CloseTrackSession(TSRB_ExecSCSICmd& srb, TAnswer& answer);
    void FormatUnit(TSRB_ExecSCSICmd& srb, TAnswer& answer);
    void Blank(TSRB_ExecSCSICmd& srb, TAnswer& answer);
    void StartStop(TSRB_ExecSCSICmd& srb, TAnswer& answer);
    void SetCDSpeed(TSRB_ExecSCSICmd& srb, TAnswer& answer);
    void SetStreaming(TSRB_ExecSCSICmd& srb, TAnswer& answer);
    void SendDVDStructure(TSRB_ExecSCSICmd& srb, TAnswer& answer);

    mutable std::mutex FLock; // guards everything below
    TRecorderDisc FDisc;
    bool FTrayOpen = false;
    bool FLocked = false;
    bool FAutoReload = false;
    bool FBlockDescriptor = false;
    bool FPage30 = true;
    bool FUnderrun = true;
    uint8_t FPage05[52] = {};
    uint16_t FCurRead = 0, FCurWrite = 0;
    std::vector<uint8_t> FStreaming;
    uint32_t FBufferFill = 0;
    uint8_t FLastSense[18] = {};

    std::string FImagePathSetting, FImageFolder, FVolumeLabel, FLastImagePath;
    int FImageFd = -1;

    unsigned FBusy = 0, FLongWrite = 0, FNotReadyAfterFormat = 0, FNotReadyLeft = 0;
    int FRemovalCountdown = -1;
    std::vector<uint32_t> FWriteErrors;
    std::vector<TCommandFailure> FFailures;
    std::vector<TRecordedCommand> FCommands;
};

} // namespace burner
