#include "pipeline/CreationRun.h"

#include "pipeline/Authoring.h"
#include "pipeline/RunView.h"
#include "pipeline/Subpictures.h"
#include "pipeline/WorkFolder.h"
#include "project/ErrorReport.h"
#include "project/Estimate.h"
#include "project/EventsLog.h"
#include "project/Folders.h"
#include "project/UserPrompts.h"

#include <QCoreApplication>
#include <QDBusInterface>
#include <QDBusReply>
#include <QThread>

bool TShutdown::PowerOff(QString* error) {
    // Ask systemd-logind, as the desktop's own power-off does (polkit decides whether we may).
    QDBusInterface logind(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                          QStringLiteral("org.freedesktop.login1.Manager"), QDBusConnection::systemBus());
    if (!logind.isValid()) {
        if (error)
            *error = logind.lastError().message();
        return false;
    }
    const QDBusMessage reply = logind.call(QStringLiteral("PowerOff"), true);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        if (error)
            *error = reply.errorMessage();
        return false;
    }
    return true;
}

namespace {
QString Clock(qint64 ms) {
    return FormatDuration(ms * 1000);
}
} // namespace

TCreationRun::TCreationRun(TFFEncoder& encoder, TFrameInputAdapter& adapter, TRunView& view, QObject* parent)
    : QObject(parent), FEncoder(encoder), FAdapter(adapter), FView(view) {
    FAuthoringTimer.setObjectName(QStringLiteral("DVDAuthorTimer"));
    connect(&FAuthoringTimer, &QTimer::timeout, this, &TCreationRun::AuthoringTick);
}

TCreationRun::~TCreationRun() {
    FAdapter.OnReadFrameCanvas = nullptr;
}

void TCreationRun::OnGui(const std::function<void()>& change) {
    if (QThread::currentThread() == thread())
        change();
    else
        QMetaObject::invokeMethod(this, change, Qt::BlockingQueuedConnection);
}

bool TCreationRun::ProgressValues(int tasks, int k, int64_t c, int64_t t, int* currentGauge, int* totalGauge) {
    if (tasks <= 0 || t <= 0)
        return false;
    const double fraction = double(c) / double(t);
    *currentGauge = static_cast<int>(RoundHalfEven(100.0 / tasks * fraction + 100.0 / tasks * k));
    *totalGauge = static_cast<int>(RoundHalfEven(60.0 / tasks * fraction + 60.0 / tasks * k));
    return true;
}

qint64 TCreationRun::RemainingMs(double fraction, qint64 elapsedMs) {
    if (fraction <= 0.001 || fraction > 1)
        return -1;
    return static_cast<qint64>(elapsedMs / fraction - elapsedMs);
}

TCreationRun::TResult TCreationRun::Run(const TVideoFiles& files, const TMenuSettings& menu,
                                        const TRunSettings& settings) {
    Result = TResult::None;
    Refusal = TRefusal::None;
    Step = TStep::Idle;
    if (!Prepare(files, menu, settings)) {
        if (Result == TResult::None)
            Result = TResult::Failed;
        return Result;
    }
    FView.OnCancel = [this] { Cancel(); };
    FView.OnPause = [this](bool pause) {
        if (pause)
            FEncoder.Pause();
        else
            FEncoder.Resume();
    };
    FEncoder.OnProgress = [this](TFFEncoder*, const TProgressInfo& info) { FFEncoderProgress(info); };
    FEncoder.OnTerminate = [this](TFFEncoder*, const TTerminateInfo& info) { FFEncoderTerminate(info); };

    FCancelled = false;
    FFailed = false;
    FView.SetCaption(QStringLiteral("Step 1: Converting videos to DVD-compatible format..."));
    FView.SetStatus(QString());
    ConversionStart = QDateTime::currentDateTime();
    FElapsed.start();
    Step = TStep::Converting;
    if (!FEncoder.Start(1)) {
        ReportError(QStringLiteral("Conversion terminated with error: ") + FEncoder.LastErrMsg(),
                    QStringLiteral("CLM_Terminate"));
        Result = TResult::Failed;
        return Result;
    }
    FView.SetCurrent(0);
    FView.SetTotal(0);
    FView.Exec();

    // The view is closed; let the transcoder and its last handler finish before the run ends.
    if (FEncoder.Working())
        FEncoder.Stop();
    while (Step != TStep::Done)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    FEncoder.WaitForEnd();
    FAuthoringTimer.stop();
    FAdapter.OnReadFrameCanvas = nullptr;

    if (Result == TResult::Succeeded) {
        if (settings.DeleteTempFiles)
            CleanFolder(WorkFolder, true, false, true);
        if (FView.ShutdownWhenDone() && Shutdown) {
            QString error;
            if (!Shutdown->PowerOff(&error))
                AppendEventsLog(QStringLiteral("The computer could not be shut down: ") + error);
        }
    }
    return Result;
}

bool TCreationRun::Prepare(const TVideoFiles& files, const TMenuSettings& menu, const TRunSettings& settings) {
    FFiles = files;
    FMenu = menu;
    FSettings = settings;
    if (files.isEmpty()) {
        Prompts().MessageBox(nullptr, QStringLiteral("Ordavine"),
                             QStringLiteral("There are no titles to put on the disc. Add video files first."),
                             QMessageBox::Information, QMessageBox::Ok);
        Result = TResult::Refused;
        Refusal = TRefusal::NoTitles;
        return false;
    }
    const int capacity = DiscCapacity[settings.DiscType == 1 ? 1 : 0];
    const int e = settings.EstimatedSize;
    if (capacity < e && settings.AskCapacity &&
        Prompts().MessageBox(nullptr, QStringLiteral("Ordavine"),
                             QStringLiteral("The ouput size may be over the selected disk.\r\nWould you like to continue?"),
                             QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
        Result = TResult::Refused;
        Refusal = TRefusal::Capacity;
        return false;
    }
    const TFreeSpace space = FreeSpaceOf(settings.TempFolder);
    if (space.MB < 2.0 * e + 20) {
        QString drive = space.MountPoint;
        if (!drive.endsWith(QLatin1Char('/')))
            drive += QLatin1Char('/');
        if (space.MountPoint.isEmpty())
            drive.clear();
        Prompts().MessageBox(nullptr, QStringLiteral("Ordavine"),
                             QStringLiteral("Not enough free space on drive ") + drive + QStringLiteral("\r\n") +
                                 QString::number(2 * e + 20) +
                                 QStringLiteral(" MB required for temporary files to continue."),
                             QMessageBox::Warning, QMessageBox::Ok);
        Result = TResult::Refused;
        Refusal = TRefusal::FreeSpace;
        return false;
    }
    FView.SetCurrentMax(100);
    if (!settings.SkipMenu) {
        FMenuTask.Background = QImage(menu.BackgroundImage);
        if (FMenuTask.Background.isNull()) {
            Prompts().MessageBox(nullptr, QStringLiteral("Ordavine"),
                                 QStringLiteral("Cannot load the menu background picture \"%1\".").arg(menu.BackgroundImage),
                                 QMessageBox::Critical, QMessageBox::Ok);
            Result = TResult::Refused;
            Refusal = TRefusal::Background;
            return false;
        }
    }
    if (!PrepareWorkFolder(settings.TempFolder, &WorkFolder)) {
        ReportError(QStringLiteral("Cannot create temporary directory ") + settings.TempFolder,
                    QStringLiteral("CLM_TempDirCreate"));
        return false;
    }
    if (!BuildTitleTasks(FEncoder, files, settings.PAL, WorkFolder, FTasks))
        return false;
    FrameHeight = FTasks.FrameHeight;
    if (!settings.SkipMenu) {
        FAdapter.OnReadFrameCanvas = [this](TFrameInputAdapter*, QPainter& canvas, const TInputFrameInfo& info) {
            return FMenuTask.FIAReadFrameCanvas(canvas, info.FrameNumber);
        };
        if (!FMenuTask.Add(FEncoder, FAdapter, settings.PAL, FrameHeight, WorkFolder))
            return false;
    }
    // What only the whole run knows: the length to fit on the disc and the disc's frame shape.
    int64_t total = 0;
    for (const TVideoFile& f : files)
        total += std::max<int64_t>(0, f.TimeEnd - f.TimeStart);
    FEncoder.SetTotalTitleLength(total);
    FEncoder.SetDiscType(settings.DiscType == 1 ? TDiscType::DVD9 : TDiscType::DVD5);
    FEncoder.SetDiscAspect(FEncoder.DecideDiscAspect());
    return true;
}

void TCreationRun::FFEncoderProgress(const TProgressInfo& info) {
    if (Step != TStep::Converting)
        return;
    int current = 0, totalGauge = 0;
    if (!ProgressValues(FEncoder.TasksCount(), info.TaskIndex, info.CurrentDuration, info.TotalDuration, &current,
                        &totalGauge))
        return; // unknown length: the gauges stay as they are
    FView.SetCurrent(current);
    FView.SetTotal(totalGauge);
    const qint64 elapsed = FElapsed.elapsed();
    const double fraction = (info.TaskIndex + double(info.CurrentDuration) / info.TotalDuration) /
                            std::max(1, FEncoder.TasksCount());
    const qint64 left = RemainingMs(fraction, elapsed);
    FView.SetStatus(QStringLiteral("Elapsed %1, remaining %2")
                        .arg(Clock(elapsed), left < 0 ? QStringLiteral("--:--:--") : Clock(left)));
}

void TCreationRun::FFEncoderTerminate(const TTerminateInfo& info) {
    if (info.TaskIndex >= 0) {
        if (info.Exception && !FCancelled) {
            // A title that cannot be converted ends the run: no disc without that title.
            FFailed = true;
            FEncoder.Stop();
            Fail(QStringLiteral("Conversion terminated with error: ") + info.ExceptionMsg, QStringLiteral("CLM_Terminate"));
        }
        return;
    }
    if (!FCancelled && !FFailed)
        AllTasksEnded();
    FCancelled = false;
    if (Step != TStep::Burning)
        OnGui([this] { Step = TStep::Done; });
}

void TCreationRun::Fail(const QString& message, const QString& mark, const QStringList& logLines) {
    FFailed = true;
    for (const QString& line : logLines)
        AppendEventsLog(line);
    ReportError(message, mark);
    OnGui([this] {
        Result = TResult::Failed;
        FView.Close();
    });
}

void TCreationRun::AllTasksEnded() {
    FTasks.Inputs.clear();
    FTasks.Outputs.clear();
    OnGui([this] { FView.SetCurrent(100); });
    if (!FSettings.SkipMenu) {
        OnGui([this] { Step = TStep::Subpictures; });
        QStringList labels;
        for (const TVideoFile& f : FFiles)
            labels << f.DestinationTitle;
        const TStepResult r = MakeMenuSubpictures(ProgramFolder(), WorkFolder, FSettings.PAL, FMenu, labels, &FCancelled);
        if (FCancelled)
            return;
        if (!r.Ok) {
            Fail(QStringLiteral("Error creating DVD Menu"), QStringLiteral("CLM_spumux"), QStringList{r.Message} + r.LogLines);
            return;
        }
    }
    OnGui([this] {
        Step = TStep::Authoring;
        FView.SetCurrent(100);
        FView.SetTotal(60);
        FView.SetCaption(QStringLiteral("Step 2: Building DVD structure..."));
        FView.SetCurrent(0);
        const int interval = AuthoringTimerInterval(ConversionStart.msecsTo(QDateTime::currentDateTime()));
        if (interval > 0)
            FAuthoringTimer.start(interval);
    });
    const TStepResult r = AuthorDvd(WorkFolder, static_cast<int>(FFiles.size()), FSettings.PAL, !FSettings.SkipMenu,
                                    &FCancelled);
    OnGui([this] { FAuthoringTimer.stop(); });
    if (FCancelled)
        return;
    if (!r.Ok) {
        Fail(QStringLiteral("Building DVD structure"), QStringLiteral("CLM_dvdauthor"), QStringList{r.Message} + r.LogLines);
        return;
    }
    OnGui([this] {
        FView.SetCurrent(100);
        FView.SetCurrent(0);
        FView.SetTotal(80);
        FView.SetCaption(QStringLiteral("Step 3: Burning DVD..."));
    });
    if (!StartBurn) {
        // No burner wired in (the authored folder is the result).
        OnGui([this] { Finish(true); });
        return;
    }
    OnGui([this] { Step = TStep::Burning; });
    if (!StartBurn(*this))
        OnGui([this] {
            Result = TResult::Failed;
            Step = TStep::Done;
            FView.Close();
        });
}

void TCreationRun::Finish(bool ok) {
    if (ok) {
        FView.SetCurrentMax(100);
        FView.SetCurrent(100);
        FView.SetTotal(100);
    }
    if (Result == TResult::None)
        Result = ok ? TResult::Succeeded : TResult::Failed;
    Step = TStep::Done;
    FView.Close();
}

void TCreationRun::Cancel() {
    FCancelled = true;
    FEncoder.Stop();
    if (AbortBurn)
        AbortBurn();
    Prompts().MessageBox(nullptr, QStringLiteral("Ordavine"), QStringLiteral("Conversion cancelled."),
                         QMessageBox::Warning, QMessageBox::Ok);
    Result = TResult::Cancelled;
    FView.Close();
}

void TCreationRun::AuthoringTick() {
    if (FView.Current() <= 97)
        FView.SetCurrent(FView.Current() + 1);
}
