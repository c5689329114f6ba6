#pragma once
// The writer of a burn: takes the packets the reader thread queues and sends each as one
// WRITE (10) to the drive, with the retries a drive's answers call for, then closes the track,
// session or disc the way the medium needs. It runs on the component's writer thread; the
// component's write loop hands it one packet at a time (Write) and ends it with Finish.
#include "burner/PacketSource.h"
#include "burner/WriteProgress.h"
#include "burner/device/SCSILib.h"

#include <atomic>
#include <cstdint>
#include <functional>

namespace burner {

class TCacheThread;

struct TWriteSetup {
    TSCSIDevice* Device = nullptr;
    TMedium Medium = mtUNKNOWN;
    bool ImageFile = false; // burning an existing image file: written from LBA 0
    std::uint32_t FirstWritableSector = 0;
    std::uint32_t TotalImageSize = 0;
    bool TestWrite = false, BurnProof = true, FinalizeDisc = false;
    std::uint16_t ReadSpeed = 0, WriteSpeed = 0; // chosen by SetDeviceSpeed, 0: maximum
    TWaitFunction Wait;
    TWriteProgress* Progress = nullptr;
    const std::atomic<bool>* Aborted = nullptr; // the component's abort flag
};

// True for the media whose first packet also goes to sector 0 and gets the first-write rules.
bool IsOverwritable(TMedium m);

class TWriteThread : public TPacketSink {
public:
    explicit TWriteThread(TWriteSetup Setup);
    // The reader whose queue is watched for starvation (optional).
    void SetSource(const TCacheThread* Source) { FSource = Source; }

    bool Write(const std::uint8_t* Data, std::uint32_t Size) override;
    // Closes the disc as the medium requires (also after a failure or an abort); always true:
    // a close the drive refuses leaves the error of the write itself in force.
    bool Finish(bool Failed) override;
    // The drive's ASC x 256 + ASCQ of a failed write.
    std::uint32_t ErrorNumber() const override { return FErrorNumber; }

    std::uint32_t Lba() const { return FLba; }

private:
    void StartWrite();
    bool WritePacket(const std::uint8_t* Data, std::uint32_t Blocks);
    bool WriteFirstAtZero(const std::uint8_t* Data, std::uint32_t Blocks);
    bool FormatPlusRW();
    void PollBuffer();
    void CloseDisc();
    // Repeats Command while the drive answers "not ready" (ASC 04h), waiting Ms after each.
    void WhileNotReady(const std::function<bool()>& Command, unsigned Ms);
    TAnswerKind LastAnswer(bool Ok) const;
    void Fail();
    void NoteWriteError();
    void Wait(unsigned Ms) const;

    TWriteSetup FSetup;
    TSCSIDevice& FDev;
    const TCacheThread* FSource = nullptr;
    bool FStarted = false;
    bool FFirstDone = false;
    bool FPollBuffer = true;
    std::uint32_t FLba = 0;
    std::uint32_t FPackets = 0;
    unsigned FFirstCounter = 0; // retry counter of the first write
    int FSessions = 0;          // sessions on the disc when the write started
    std::uint32_t FErrorNumber = 0;
};

} // namespace burner
