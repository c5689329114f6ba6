#pragma once
// SCSI/MMC building blocks shared by the drive side of the engine: the command block every
// command travels in, the fixed-format sense data, operation codes, and the one place where a
// drive's answer is turned into "go on", "retry" or "fail".
#include <cstdint>
#include <cstring>

namespace burner {

// Big-endian fields of CDBs and MMC parameter data.
inline uint16_t GetBE16(const uint8_t* p) {
    return uint16_t((p[0] << 8) | p[1]);
}
inline uint32_t GetBE32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline void PutBE16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void PutBE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// Request codes, flags and status values of the command block.
constexpr uint8_t SC_EXEC_SCSI_CMD = 2;
constexpr uint8_t SRB_DIR_IN = 0x08;                          // data from the drive
constexpr uint8_t SRB_DIR_OUT = 0x10;                         // data to the drive
constexpr uint8_t SRB_EVENT_NOTIFY = 0x40;                    // completion by event
constexpr uint8_t SRB_READ = SRB_EVENT_NOTIFY | SRB_DIR_IN;   // 0x48
constexpr uint8_t SRB_WRITE = SRB_EVENT_NOTIFY | SRB_DIR_OUT; // 0x50
constexpr uint8_t SRB_NODATA = SRB_EVENT_NOTIFY;              // 0x40
constexpr uint8_t SS_PENDING = 0;
constexpr uint8_t SS_COMP = 1;
constexpr uint8_t SS_ERR = 4;

// SCSI status byte values (the target status of the block).
constexpr uint8_t STATUS_GOOD = 0x00;
constexpr uint8_t STATUS_CHKCOND = 0x02;
constexpr uint8_t STATUS_BUSY = 0x08;

constexpr uint32_t DefaultCommandTimeOut = 12000; // seconds
constexpr uint8_t SenseLength = 24;               // sense bytes asked from every transport
constexpr uint32_t SectorSize = 2048;

// Fixed-format sense data (32 bytes).
struct TSENSE {
    uint8_t ErrorCode = 0;
    uint8_t SegmentNum = 0;
    uint8_t SenseKey = 0; // low nibble: the sense key
    uint8_t InfoByte0 = 0, InfoByte1 = 0, InfoByte2 = 0, InfoByte3 = 0;
    uint8_t AddSenLen = 0;
    uint8_t ComSpecInf0 = 0, ComSpecInf1 = 0, ComSpecInf2 = 0, ComSpecInf3 = 0;
    uint8_t AddSenseCode = 0; // ASC, byte 12
    uint8_t AddSenQual = 0;   // ASCQ, byte 13
    uint8_t FieldRepUCode = 0;
    uint8_t SenKeySpec15 = 0, SenKeySpec16 = 0, SenKeySpec17 = 0;
    uint8_t AddSenseBytes[14] = {};

    uint8_t Key() const { return SenseKey & 0x0F; }
};
static_assert(sizeof(TSENSE) == 32);

// The command block: one command, its data, its own time-out, and what came back.
struct TSRB_ExecSCSICmd {
    uint8_t SRB_Cmd = SC_EXEC_SCSI_CMD;
    uint8_t SRB_Status = SS_PENDING;
    uint8_t SRB_HaId = 0;
    uint8_t SRB_Flags = 0; // SRB_READ, SRB_WRITE or SRB_NODATA
    uint8_t SRB_Target = 0;
    uint8_t SRB_Lun = 0;
    uint32_t SRB_BufLen = 0;
    uint8_t* SRB_BufPointer = nullptr;
    uint8_t SRB_SenseLen = SenseLength;
    uint8_t SRB_CDBLen = 0;
    uint8_t SRB_HaStat = 0;
    uint8_t SRB_TargStat = 0;
    uint32_t SRB_TimeOut = DefaultCommandTimeOut; // seconds
    uint8_t CDBByte[16] = {};
    uint8_t SenseArea[32] = {};

    bool DataIn() const { return (SRB_Flags & SRB_DIR_IN) != 0; }
    bool DataOut() const { return (SRB_Flags & SRB_DIR_OUT) != 0; }
};

// Builds a zero-filled command block for a CDB of 6, 10 or 12 bytes.
inline TSRB_ExecSCSICmd MakeCommand(const uint8_t* cdb, uint8_t cdbLength, uint8_t flags,
                                    void* buffer, uint32_t length) {
    TSRB_ExecSCSICmd srb;
    std::memcpy(srb.CDBByte, cdb, cdbLength);
    srb.SRB_CDBLen = cdbLength;
    srb.SRB_Flags = flags;
    srb.SRB_BufPointer = static_cast<uint8_t*>(buffer);
    srb.SRB_BufLen = length;
    return srb;
}

// Operation codes the engine sends.
namespace scsiop {
constexpr uint8_t TestUnitReady = 0x00;
constexpr uint8_t Rezero = 0x01;
constexpr uint8_t RequestSense = 0x03;
constexpr uint8_t FormatUnit = 0x04;
constexpr uint8_t Inquiry = 0x12;
constexpr uint8_t StartStopUnit = 0x1B;
constexpr uint8_t PreventAllow = 0x1E;
constexpr uint8_t ReadFormatCapacities = 0x23;
constexpr uint8_t ReadCapacity = 0x25;
constexpr uint8_t Read10 = 0x28;
constexpr uint8_t Write10 = 0x2A;
constexpr uint8_t SynchronizeCache = 0x35;
constexpr uint8_t ReadTOC = 0x43;
constexpr uint8_t GetConfiguration = 0x46;
constexpr uint8_t ReadDiscInformation = 0x51;
constexpr uint8_t ReadTrackInformation = 0x52;
constexpr uint8_t ReserveTrack = 0x53;
constexpr uint8_t ModeSelect10 = 0x55;
constexpr uint8_t ModeSense10 = 0x5A;
constexpr uint8_t CloseTrackSession = 0x5B;
constexpr uint8_t ReadBufferCapacity = 0x5C;
constexpr uint8_t Blank = 0xA1;
constexpr uint8_t SetStreaming = 0xB6;
constexpr uint8_t SetCDSpeed = 0xBB;
constexpr uint8_t SendDVDStructure = 0xBF;
} // namespace scsiop

// Sense keys and the additional sense codes the engine and the virtual recorder use.
namespace sense {
constexpr uint8_t NoSense = 0x0;
constexpr uint8_t NotReady = 0x2;
constexpr uint8_t MediumError = 0x3;
constexpr uint8_t HardwareError = 0x4;
constexpr uint8_t IllegalRequest = 0x5;
constexpr uint8_t UnitAttention = 0x6;

constexpr uint8_t AscNotReady = 0x04;        // 04/01 becoming ready, 04/04 format, 04/08 long write
constexpr uint8_t AscWriteError = 0x0C;      // 0C/00
constexpr uint8_t AscUnrecoveredRead = 0x11; // 11/00
constexpr uint8_t AscInvalidOpcode = 0x20;   // 20/00
constexpr uint8_t AscLbaOutOfRange = 0x21;   // 21/00, 21/02 invalid address for write
constexpr uint8_t AscInvalidFieldInCdb = 0x24;    // 24/00
constexpr uint8_t AscInvalidFieldInParam = 0x26;  // 26/00
constexpr uint8_t AscPowerOnReset = 0x29;         // 29/00
constexpr uint8_t AscSavingNotSupported = 0x39;   // 39/00
constexpr uint8_t AscMediumChanged = 0x28;        // 28/00
constexpr uint8_t AscCommandSequenceError = 0x2C; // 2C/00
constexpr uint8_t AscIncompatibleMedium = 0x30;   // 30/05 cannot write, incompatible format
constexpr uint8_t AscMediumNotPresent = 0x3A;     // 3A/00, 3A/01 tray closed, 3A/02 tray open
constexpr uint8_t AscRemovalPrevented = 0x53;     // 53/02
constexpr uint8_t AscNoSpace = 0x63;              // 63/00 end of user area encountered
} // namespace sense

// How a drive's answer to a command reads. Decoded in one place so that every caller (the
// writer's retries, the not-ready polls, the queries) applies the same reading.
enum class TAnswerKind {
    Completed,          // status complete
    Busy,               // target status BUSY
    NotReady,           // ASC 04h: becoming ready, format or long write in progress
    NoSense,            // error status without an additional sense code
    PowerOnReset,       // ASC 29h
    IncompatibleFormat, // ASC 30h ASCQ 05h (an unformatted DVD+RW, for one)
    TransportFailed,    // the command never reached the drive (system error)
    Failed,             // any other sense
};

TAnswerKind ClassifyAnswer(uint8_t status, bool targetBusy, const TSENSE& sense,
                           uint32_t systemError = 0);

enum class TSenseAction { GoOn, Retry, Format, Fail };
struct TRetryVerdict {
    TSenseAction Action = TSenseAction::Fail;
    unsigned DelayMs = 0;
    bool operator==(const TRetryVerdict&) const = default;
};

// The writer's packet loop: a busy target, ASC 04h or no sense is retried after 100 ms, up to
// 5000 attempts for one packet; anything else fails. attempts = failed attempts so far,
// including this one.
TRetryVerdict PacketWriteVerdict(TAnswerKind answer, unsigned attempts);

// The first write of a rewritable disc: ASC 30h/05h on a DVD+RW asks for a format (once the
// counter is 0); a busy target or ASC 04h is retried after 200 ms while the counter stays below
// 5000; ASC 00h or 29h after 200 ms (1200 ms for 29h) while it stays below 100. counter = the
// retry counter before this answer; the caller adds 1 when it retries or formats.
TRetryVerdict FirstWriteVerdict(TAnswerKind answer, unsigned counter, bool isDVDPlusRW);

} // namespace burner
