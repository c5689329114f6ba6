#include "burner/WriteThread.h"

#include "burner/Cache.h"

#include <cerrno>
#include <chrono>
#include <ctime>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace burner {

namespace {

// Polls for "not ready" end after this many answers (at 5 s each, half an hour): a drive that
// never becomes ready must not hang the burn for good.
constexpr unsigned MaxNotReadyPolls = 360;
constexpr unsigned NotReadyWaitMs = 5000;

// A thread can lower its own priority without privileges; raising it may be refused.
void LowerThreadPriority() {
    const auto tid = static_cast<id_t>(::gettid());
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, tid);
    if (errno == 0)
        ::setpriority(PRIO_PROCESS, tid, current + 1);
}

bool TakesStreaming(TMedium m) {
    switch (m) {
    case mtDVDR:
    case mtDVDRW:
    case mtDVDRWRO:
    case mtDVDRWSR:
    case mtDVDPLUSRW:
    case mtDVDPLUSR:
    case mtDVDPLUSRDL:
    case mtBDRSR:
    case mtBDRRR:
    case mtBDRE:
    case mtHDDVDR:
    case mtHDDVDRAM:
        return true;
    default:
        return false;
    }
}

bool IsDVDMinusRW(TMedium m) {
    return m == mtDVDRW || m == mtDVDRWRO || m == mtDVDRWSR;
}

} // namespace

void RealWait(unsigned Milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
}

bool IsOverwritable(TMedium m) {
    return m == mtDVDRAM || IsDVDMinusRW(m) || m == mtDVDPLUSRW;
}

TWriteThread::TWriteThread(TWriteSetup Setup) : FSetup(std::move(Setup)), FDev(*FSetup.Device) {
    if (!FSetup.Wait)
        FSetup.Wait = RealWait;
}

void TWriteThread::Wait(unsigned Ms) const {
    FSetup.Wait(Ms);
}

TAnswerKind TWriteThread::LastAnswer(bool Ok) const {
    return ClassifyAnswer(Ok ? SS_COMP : SS_ERR, FDev.TargetBusy, FDev.LastSenseInfo,
                          FDev.LastWinError);
}

void TWriteThread::WhileNotReady(const std::function<bool()>& Command, unsigned Ms) {
    for (unsigned polls = 0; polls < MaxNotReadyPolls; ++polls) {
        const bool ok = Command();
        if (ok || LastAnswer(ok) != TAnswerKind::NotReady)
            return;
        Wait(Ms);
    }
}

// Steps before the first packet: the drive is told what comes and how fast.
void TWriteThread::StartWrite() {
    FStarted = true;
    LowerThreadPriority();
    if (FSetup.Progress) {
        FSetup.Progress->DeviceBufferSize = 0;
        FSetup.Progress->DeviceBufferPosition = 0;
    }
    const TMedium m = FSetup.Medium;
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);

    FDev.SynchronizeCache(false);
    FDev.Rezero();
    FDev.SetWriteParameters(FSetup.TestWrite, FSetup.BurnProof, m, false);
    FDev.ReadDiscInformation(64);
    // A drive that cannot report its buffer is not asked again during this write.
    FPollBuffer = FDev.ReadBufferCapacity();
    FLba = FSetup.ImageFile ? 0 : FSetup.FirstWritableSector;
    // Without FinalizeDisc a DVD+R (single or double layer) stays open for a next session.
    FDev.SetWriteParameters(FSetup.TestWrite, FSetup.BurnProof, m,
                            (m == mtDVDPLUSR || m == mtDVDPLUSRDL) ? !FSetup.FinalizeDisc : false);
    FDev.SetDeviceSpeed(FSetup.ReadSpeed, FSetup.WriteSpeed);

    if (TakesStreaming(m)) {
        FDev.RefreshCapabilities();
        const std::uint32_t writeSpeed = FDev.CurWriteSpeed;
        const std::uint32_t readSpeed = FDev.CurReadSpeed;
        std::uint32_t trackSize = FSetup.TotalImageSize + FLba;
        if (FDev.ReadTrackInformation(FDev.DiscInformation.LastTrackOfLastSession))
            trackSize = FDev.TrackInformation.TrackSize;
        FDev.SetStreaming(trackSize, readSpeed, writeSpeed);
    }

    FSessions = FDev.SessionsOnDisc();
    if (m == mtDVDR) {
        FDev.SendDVDTimeStamp(utc);
        FDev.ReserveTrack(FSetup.TotalImageSize);
    }
    FDev.CloseFH = false; // the handle stays open during the write
}

void TWriteThread::Fail() {
    Wait(100);
    if (FSetup.Aborted && *FSetup.Aborted && FErrorNumber == 0)
        FErrorNumber = 4;
}

// A write that is given up: the drive's sense code is the error (4 when the user aborted, the
// transport's error or 1 when the drive gave no sense).
void TWriteThread::NoteWriteError() {
    FErrorNumber = static_cast<std::uint32_t>(FDev.LastSenseInfo.AddSenseCode) * 256 +
                   FDev.LastSenseInfo.AddSenQual;
    if (FSetup.Aborted && *FSetup.Aborted)
        FErrorNumber = 4;
    else if (FErrorNumber == 0)
        FErrorNumber = FDev.LastWinError != 0 ? FDev.LastWinError : 1;
}

bool TWriteThread::WritePacket(const std::uint8_t* Data, std::uint32_t Blocks) {
    for (unsigned attempts = 1;; ++attempts) {
        const bool ok = FDev.Write10(FLba, static_cast<std::uint16_t>(Blocks), Data);
        const TAnswerKind answer = LastAnswer(ok);
        const TRetryVerdict verdict = PacketWriteVerdict(answer, attempts);
        if (verdict.Action == TSenseAction::GoOn)
            return true;
        if (verdict.Action != TSenseAction::Retry || (FSetup.Aborted && *FSetup.Aborted)) {
            NoteWriteError();
            return false;
        }
        if (FSetup.Progress)
            ++FSetup.Progress->Retries;
        Wait(verdict.DelayMs);
    }
}

bool TWriteThread::FormatPlusRW() {
    if (FSetup.Progress)
        ++FSetup.Progress->Formats;
    const bool ok = FDev.FormatUnit(FormatDVDPlusRW);
    if (ok) {
        WhileNotReady(
            [this] {
                Wait(NotReadyWaitMs);
                return FDev.ReadDiscInformation(42);
            },
            0);
    }
    return ok;
}

// The first packet of a rewritable disc also goes to sector 0 (its volume descriptors replace
// those of an earlier image there). The answers of this write get their own retry rules: an
// unformatted DVD+RW is formatted once, a drive still becoming ready is given time.
bool TWriteThread::WriteFirstAtZero(const std::uint8_t* Data, std::uint32_t Blocks) {
    const bool plusRW = FSetup.Medium == mtDVDPLUSRW;
    while (true) {
        bool ok = FDev.Write10(0, static_cast<std::uint16_t>(Blocks), Data);
        TAnswerKind answer = LastAnswer(ok);
        if (answer == TAnswerKind::Completed)
            return true;
        if (answer == TAnswerKind::IncompatibleFormat && plusRW) {
            const bool formatted = FormatPlusRW();
            ++FFirstCounter;
            if (FFirstCounter == 1)
                continue;
            // Formatting did not help: the answer to the last command decides.
            answer = LastAnswer(formatted);
            if (answer == TAnswerKind::Completed || answer == TAnswerKind::IncompatibleFormat)
                answer = TAnswerKind::Failed;
        }
        const TRetryVerdict verdict = FirstWriteVerdict(answer, FFirstCounter, false);
        if (verdict.Action != TSenseAction::Retry || (FSetup.Aborted && *FSetup.Aborted)) {
            NoteWriteError();
            return false;
        }
        if (FSetup.Progress)
            ++FSetup.Progress->Retries;
        ++FFirstCounter;
        Wait(verdict.DelayMs);
    }
}

void TWriteThread::PollBuffer() {
    if (!FPollBuffer || !FSetup.Progress)
        return;
    if (FPackets == 3 || (FPackets > 3 && (FPackets - 3) % 6 == 0)) {
        if (FDev.ReadBufferCapacity()) {
            FSetup.Progress->DeviceBufferSize = FDev.DeviceBufferSize;
            FSetup.Progress->DeviceBufferPosition = FDev.BufferPosition();
        }
    }
}

bool TWriteThread::Write(const std::uint8_t* Data, std::uint32_t Size) {
    if (!FStarted)
        StartWrite();
    const std::uint32_t blocks = (Size + SectorSize - 1) / SectorSize;
    bool writtenHere = false;
    if (!FFirstDone) {
        FFirstDone = true;
        if (!FSetup.ImageFile && IsOverwritable(FSetup.Medium)) {
            FDev.SynchronizeCache(false);
            if (!WriteFirstAtZero(Data, blocks)) {
                Fail();
                return false;
            }
            // At sector 0 the first write was the packet's own write.
            writtenHere = FLba == 0;
            FDev.SynchronizeCache(false);
        }
    }
    if (!writtenHere && !WritePacket(Data, blocks)) {
        Fail();
        return false;
    }
    FLba += blocks;
    ++FPackets;
    if (FSetup.Progress)
        FSetup.Progress->WriteSpeed = FDev.BMWriteSpeed();
    PollBuffer();
    // The reader should always be ahead; an empty queue here, with sectors still to come, means
    // the drive waits for data. (After the last packet the reader may not have noted its end yet.)
    if (FSource && FSource->PacketCount() == 0 && FSource->RemainingBlocks() > 0 &&
        !FSource->Finished() && FSetup.Progress)
        ++FSetup.Progress->Starved;
    return true;
}

void TWriteThread::CloseDisc() {
    const TMedium m = FSetup.Medium;
    const auto q = static_cast<std::uint16_t>(FSessions < 0 ? 0 : FSessions);
    auto clearBuffer = [this] {
        FDev.DeviceBufferSize = 0;
        FDev.DeviceBufferPosition = 0;
        if (FSetup.Progress) {
            FSetup.Progress->DeviceBufferSize = 0;
            FSetup.Progress->DeviceBufferPosition = 0;
        }
    };
    auto discInfoWhileNotReady = [this] {
        WhileNotReady(
            [this] {
                Wait(NotReadyWaitMs);
                return FDev.ReadDiscInformation(42);
            },
            0);
    };

    switch (m) {
    case mtDVDR:
        FDev.SynchronizeCache(false);
        clearBuffer();
        FDev.CloseTrackSession(false, CloseTrack, q + 1);
        FDev.CloseTrackSession(false, CloseTrack, q + 2);
        FDev.CloseTrackSession(false, CloseSession, q + 3);
        break;
    case mtDVDPLUSR:
        FDev.SynchronizeCache(false);
        clearBuffer();
        FDev.CloseTrackSession(false, CloseTrack, q + 1);
        FDev.CloseTrackSession(false, CloseSession, 255);
        break;
    case mtDVDPLUSRDL:
        FDev.SynchronizeCache(false);
        clearBuffer();
        FDev.CloseTrackSession(false, CloseTrack, q + 1);
        FDev.CloseTrackSession(false, FSetup.FinalizeDisc ? CloseFinalize : CloseSession, 255);
        break;
    case mtDVDPLUSRW:
        FDev.SynchronizeCache(false);
        clearBuffer();
        FDev.CloseTrackSession(false, CloseStopFormat, 255);
        break;
    case mtDVDRW:
    case mtDVDRWRO:
    case mtDVDRWSR:
        FDev.SynchronizeCache(false);
        clearBuffer();
        FDev.CloseTrackSession(false, CloseTrack, 1);
        FDev.CloseTrackSession(true, CloseSession, 1);
        discInfoWhileNotReady();
        break;
    default: {
        FDev.SynchronizeCache(true);
        clearBuffer();
        if (m != mtDVDRAM) {
            // At least ten seconds pass here: the drive settles the cache before the close.
            WhileNotReady(
                [this] {
                    const bool ok = FDev.ReadDiscInformation(42);
                    Wait(NotReadyWaitMs);
                    return ok;
                },
                0);
            WhileNotReady(
                [this] {
                    const bool ok = FDev.TestUnitReady();
                    Wait(NotReadyWaitMs);
                    return ok;
                },
                0);
        }
        if (m == mtCDR || m == mtCDRW) {
            FDev.SetWriteParameters(FSetup.TestWrite, FSetup.BurnProof, m, !FSetup.FinalizeDisc);
            if (!FDev.CloseTrackSession(true, CloseSession, q + 1))
                FDev.CloseTrackSession(true, CloseTrack, q + 1);
        } else {
            if (!FDev.CloseTrackSession(false, CloseTrack, q + 1))
                FDev.CloseTrackSession(true, CloseTrack, q + 1);
            FDev.SetWriteParameters(FSetup.TestWrite, FSetup.BurnProof, m, !FSetup.FinalizeDisc);
            if (!FDev.CloseTrackSession(true, CloseSession, q + 1))
                FDev.CloseTrackSession(false, CloseSession, q + 1);
        }
        break;
    }
    }
    if (m != mtDVDRAM)
        WhileNotReady([this] { return FDev.ReadDiscInformation(42); }, NotReadyWaitMs);
    FDev.UnlockMedium();
    FDev.LoadMedium(false);
    FDev.Rezero();
    FDev.TestUnitReady();
}

bool TWriteThread::Finish(bool Failed) {
    (void)Failed;
    // Stopped before the first packet: nothing reached the disc, which stays as it was.
    if (!FStarted)
        return true;
    FDev.CloseFH = true;
    CloseDisc();
    FDev.CloseHandle();
    // Refusals during the close are not the burn's result; the write's own error stands.
    FDev.DeviceError = 0;
    return true;
}

} // namespace burner
