#include "pipeline/BurnStep.h"

#include "pipeline/CreationRun.h"
#include "pipeline/RunView.h"
#include "project/ErrorReport.h"
#include "project/EventsLog.h"
#include "project/UserPrompts.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QPointer>

burner::TDispatcher GuiDispatcher(QObject* context) {
    QPointer<QObject> target(context);
    return [target](std::function<void()> call) {
        if (target)
            QMetaObject::invokeMethod(target, std::move(call), Qt::QueuedConnection);
    };
}

TBurnStep::TBurnStep(burner::TDiscBurner& burner, QObject* parent) : QObject(parent), FBurner(burner) {
    tmrWrite.setObjectName(QStringLiteral("tmrWrite"));
    tmrWrite.setInterval(50);
    connect(&tmrWrite, &QTimer::timeout, this, &TBurnStep::tmrWriteTimer);
}

QString TBurnStep::StatusText(uint64_t done, uint64_t total, double speedKBs, bool withSpeed) {
    const QLocale c = QLocale::c();
    auto mb = [&c](uint64_t blocks) { return c.toString(double(blocks) * 2048 / 1024 / 1024, 'f', 2); };
    QString text = mb(done) + QLatin1Char('/') + mb(total) + QStringLiteral(" MB");
    if (done == 0 || total == 0)
        return text;
    text += QStringLiteral(" (") + c.toString(double(done) / double(total) * 100, 'f', 2) + QStringLiteral("%)");
    if (withSpeed)
        text += QStringLiteral(" @ ") + c.toString(speedKBs, 'f', 2) + QStringLiteral(" KB/s");
    return text;
}

bool TBurnStep::Start(TCreationRun& run, const QString& volumeLabel) {
    FRun = &run;
    FBurner.Dispatcher = GuiDispatcher(this);
    FBurner.OnWriteDone = [this](burner::TDiscBurner*, std::uint8_t, bool failed) { BurnerWriteDone(failed); };
    FBurner.ClearAll();
    AppendEventsLog(QStringLiteral("INSERTING STRUCTURE ON DVD"));
    FBurner.SetUDFBridge(true);
    FBurner.CreateDir("\\", "AUDIO_TS");
    FBurner.CreateDir("\\", "VIDEO_TS");
    const QByteArray source = QFile::encodeName(run.WorkFolder + QStringLiteral("/dvd_out/VIDEO_TS"));
    if (!FBurner.InsertDir("\\VIDEO_TS", source.toStdString(), "*.*", true, false)) {
        ReportError(QStringLiteral("Failed to insert video directory to burner layout"), QStringLiteral("CLM_BurnerInsertDir"));
        return false;
    }
    FBurner.SetVolumeID(volumeLabel.toStdString());
    FBurner.Prepare();
    if (BeforeBurn)
        BeforeBurn();
    const bool started = ImageFile.isEmpty() ? (BurnToDrive && BurnToDrive())
                                             : FBurner.BuildISOImage(QFile::encodeName(ImageFile).toStdString());
    if (!started) {
        ReportError(QStringLiteral(">>> WRITE FAILED. Error: ") + QString::fromStdString(FBurner.ErrorString()),
                    QStringLiteral("CLM_WriteFailed"));
        return false;
    }
    run.OnGui([this] {
        tmrWrite.start();
        AppendEventsLog(QLocale::system().toString(QTime::currentTime(), QLocale::LongFormat) +
                        QStringLiteral(" >>> WRITING DISC ... "));
    });
    return true;
}

void TBurnStep::tmrWriteTimer() {
    if (!FRun)
        return;
    TRunView& view = FRun->View();
    const auto status = FBurner.ComponentStatus();
    if (status == 1 || status == 4) {
        view.SetCurrentMax(static_cast<int>(std::max<uint32_t>(1, FBurner.ImageSize())));
        view.SetCurrent(static_cast<int>(FBurner.BlocksWritten()));
        view.SetStatus(StatusText(FBurner.BlocksWritten(), FBurner.ImageSize(), 0, false));
    }
}

void TBurnStep::BurnerWriteDone(bool writeFailed) {
    tmrWrite.stop();
    if (!FRun)
        return;
    TCreationRun& run = *FRun;
    run.View().SetCurrentMax(100);
    run.View().SetCurrent(100);
    run.View().SetTotal(100);
    const QTime now = QDateTime::currentDateTimeUtc().time();
    const QString time = QString::asprintf("%.2d:%.2d:%.3d", now.minute(), now.second(), now.msec());
    if (writeFailed) {
        const QString line = time + QStringLiteral(" >>> WRITE DONE WITH ERROR (") +
                             QString::fromStdString(FBurner.ErrorString()) + QStringLiteral(").");
        Prompts().MessageBox(nullptr, QStringLiteral("Ordavine"), QStringLiteral("Burning failed"), QMessageBox::Warning,
                             QMessageBox::Ok);
        AppendEventsLog(line);
    } else {
        AppendEventsLog(time + QStringLiteral(" >>> WRITE DONE."));
    }
    if (AfterWrite)
        AfterWrite();
    FRun = nullptr;
    run.Finish(!writeFailed);
}
