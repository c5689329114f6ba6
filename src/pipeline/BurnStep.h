#pragma once
// Step 3 of a creation run: the authored VIDEO_TS goes into the burner's layout, with an empty
// AUDIO_TS and the volume label, and is written to the chosen drive or to an image file.
#include "burner/DiscBurner.h"
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class TCreationRun;
class TRunView;

// Hands the engine's completions to the GUI thread.
burner::TDispatcher GuiDispatcher(QObject* context);

class TBurnStep : public QObject {
    Q_OBJECT
public:
    TBurnStep(burner::TDiscBurner& burner, QObject* parent = nullptr);

    // Empty: burn to the burner's selected drive; otherwise write this image file.
    QString ImageFile;
    // Whether the selected drive is a real one that must be flushed and ejected at the end.
    std::function<void()> AfterWrite;
    // Starts writing before Burn on a drive (speed); may be empty.
    std::function<void()> BeforeBurn;
    // Starts a drive burn; installed by the drive side of the program.
    std::function<bool()> BurnToDrive;

    // The start of Step 3, on the run's terminate thread; false when writing did not start
    // (reported). The end arrives through BurnerWriteDone on the GUI thread.
    bool Start(TCreationRun& run, const QString& volumeLabel);
    void tmrWriteTimer();
    void BurnerWriteDone(bool writeFailed);
    // "x/y MB (p%)" of the current operation, or sizes alone before any progress.
    static QString StatusText(uint64_t doneBlocks, uint64_t totalBlocks, double speedKBs, bool withSpeed);

    QTimer tmrWrite;

private:
    burner::TDiscBurner& FBurner;
    TCreationRun* FRun = nullptr;
};
