#pragma once
// One creation run, from "Burn DVD" to the authored VIDEO_TS folder and the burn: the checks,
// the work folder, the conversion tasks, the menu, the subpictures and the authoring. The main
// window and the command line drive the same class.
#include "media/FFEncoder.h"
#include "media/FrameInputAdapter.h"
#include "pipeline/MenuSettings.h"
#include "pipeline/TitleTasks.h"
#include "project/VideoFile.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <functional>

class TRunView;

struct TRunSettings {
    bool PAL = false;
    QString TempFolder;
    bool SkipMenu = false;
    bool DeleteTempFiles = false;
    int DiscType = 0;        // 0 "D5    4.7G", 1 "D9    8.5G"
    int EstimatedSize = 20;  // MB of the size estimate
    bool AskCapacity = true; // false: go on without asking (the command line's --yes)
};

// Powers the machine off after a successful run (systemd-logind); tests install their own.
class TShutdown {
public:
    virtual ~TShutdown() = default;
    virtual bool PowerOff(QString* error);
};

class TCreationRun : public QObject {
    Q_OBJECT
public:
    enum class TStep { Idle, Converting, Subpictures, Authoring, Burning, Done };
    enum class TResult { None, Refused, Failed, Cancelled, Succeeded };
    // Why a run did not start.
    enum class TRefusal { None, NoTitles, Capacity, FreeSpace, Background };

    TCreationRun(TFFEncoder& encoder, TFrameInputAdapter& adapter, TRunView& view, QObject* parent = nullptr);
    ~TCreationRun() override;

    // The whole run; returns when the view has closed.
    TResult Run(const TVideoFiles& files, const TMenuSettings& menu, const TRunSettings& settings);

    // Step 3, installed by the burn step: starts the burn of W/dvd_out on the terminate thread and
    // returns false when it could not start (already reported). The burn's end calls Finish.
    std::function<bool(TCreationRun& run)> StartBurn;
    // Stops a burn in progress (the view's Cancel).
    std::function<void()> AbortBurn;
    // Ends the run from the burn's completion (GUI thread).
    void Finish(bool ok);

    // Values of the run.
    QString WorkFolder;
    int FrameHeight = 576;
    QDateTime ConversionStart;
    std::atomic<TStep> Step{TStep::Idle};
    TResult Result = TResult::None;
    TRefusal Refusal = TRefusal::None;
    TShutdown* Shutdown = nullptr;

    // Runs a change of the view on the GUI thread (waiting for it when called from elsewhere).
    void OnGui(const std::function<void()>& change);
    TRunView& View() { return FView; }

    // Gauge values of a progress event: whole-step percentage and 60 × step fraction.
    static bool ProgressValues(int tasks, int taskIndex, int64_t current, int64_t total, int* currentGauge,
                               int* totalGauge);
    // The time left from the fraction done and the time elapsed; negative when unknown.
    static qint64 RemainingMs(double fraction, qint64 elapsedMs);

private:
    bool Prepare(const TVideoFiles& files, const TMenuSettings& menu, const TRunSettings& settings);
    void FFEncoderProgress(const TProgressInfo& info);
    void FFEncoderTerminate(const TTerminateInfo& info);
    void AllTasksEnded();
    void Fail(const QString& message, const QString& mark, const QStringList& logLines = {});
    void Cancel();
    void AuthoringTick();

    TFFEncoder& FEncoder;
    TFrameInputAdapter& FAdapter;
    TRunView& FView;
    TVideoFiles FFiles;
    TMenuSettings FMenu;
    TRunSettings FSettings;
    TTitleTasks FTasks;
    TMenuTask FMenuTask;
    QTimer FAuthoringTimer; // DVDAuthorTimer
    QElapsedTimer FElapsed;
    std::atomic<bool> FCancelled{false};
    std::atomic<bool> FFailed{false};
};
