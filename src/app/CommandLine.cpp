#include "app/CommandLine.h"

#include "media/FFEncoder.h"
#include "media/FrameInputAdapter.h"
#include "pipeline/BurnStep.h"
#include "pipeline/CreationRun.h"
#include "pipeline/RunView.h"
#include "pipeline/WorkFolder.h"
#include "project/ErrorReport.h"
#include "project/Estimate.h"
#include "project/EventsLog.h"
#include "project/Folders.h"
#include "project/Settings.h"
#include "project/TitleList.h"
#include "project/UserPrompts.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <unistd.h>

namespace {

std::atomic<bool> gInterrupted{false};

void OnSignal(int) {
    gInterrupted = true;
}

QByteArray Local(const QString& s) {
    return s.toLocal8Bit();
}

// Questions on the terminal: reports are printed (never mailed), the capacity question is
// answered by --yes, messages go to the error stream.
class TCliPrompts : public TUserPrompts {
public:
    TCliPrompts(FILE* err, bool yes) : FErr(err), FYes(yes) { SetPrompts(this); }
    ~TCliPrompts() override { SetPrompts(nullptr); }
    int ExecDialog(QDialog&) override { return QDialog::Rejected; }
    QMessageBox::StandardButton MessageBox(QWidget*, const QString&, const QString& text, QMessageBox::Icon,
                                           QMessageBox::StandardButtons buttons) override {
        QString flat = text;
        flat.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        std::fprintf(FErr, "\n%s\n", Local(flat).constData());
        if (buttons & QMessageBox::Yes)
            return FYes ? QMessageBox::Yes : QMessageBox::No;
        return QMessageBox::Ok;
    }
    QStringList GetOpenFileNames(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QString GetExistingDirectory(QWidget*, const QString&, const QString&) override { return {}; }
    bool OpenUrl(const QUrl&) override { return false; }

private:
    FILE* FErr;
    bool FYes;
};

// Progress on the terminal: one line rewritten in place on a terminal, plain lines otherwise.
class TCliView : public TRunView {
public:
    explicit TCliView(FILE* out) : FOut(out), FTty(isatty(fileno(out)) != 0) {}
    void SetCaption(const QString& caption) override {
        if (caption == FCaption)
            return;
        EndLine();
        FCaption = caption;
        std::fprintf(FOut, "%s\n", Local(caption).constData());
        std::fflush(FOut);
        FLastPrinted = -1;
    }
    void SetCurrent(int value) override {
        FCurrent = std::clamp(value, 0, FMax);
        Show();
    }
    int Current() const override { return FCurrent; }
    void SetCurrentMax(int maximum) override { FMax = std::max(1, maximum); }
    void SetTotal(int value) override {
        FTotal = std::clamp(value, 0, 100);
        Show();
    }
    void SetStatus(const QString& text) override { FStatus = text; }
    void Exec() override {
        FClock.start();
        FLoop.exec();
        EndLine();
    }
    void Close() override { FLoop.quit(); }
    void EndLine() {
        if (FTty && FOpenLine) {
            std::fprintf(FOut, "\n");
            std::fflush(FOut);
        }
        FOpenLine = false;
    }

private:
    void Show() {
        const int percent = FTotal;
        if (FTty) {
            const int width = 30;
            const int filled = percent * width / 100;
            QString eta = QStringLiteral("--:--:--");
            if (percent > 0 && percent < 100 && FClock.isValid()) {
                const qint64 elapsed = FClock.elapsed();
                eta = FormatDuration((elapsed * 100 / percent - elapsed) * 1000);
            }
            std::fprintf(FOut, "\r[%s%s] %3d%%  ETA %s ", QByteArray(filled, '#').constData(),
                         QByteArray(width - filled, '.').constData(), percent, Local(eta).constData());
            FOpenLine = true;
        } else if (percent / 10 != FLastPrinted / 10) {
            std::fprintf(FOut, "%d%%\n", percent);
            FLastPrinted = percent;
        }
        std::fflush(FOut);
    }

    FILE* FOut;
    bool FTty;
    bool FOpenLine = false;
    QString FCaption, FStatus;
    int FCurrent = 0, FMax = 100, FTotal = 0, FLastPrinted = -1;
    QElapsedTimer FClock;
    QEventLoop FLoop;
};

int ExitForMark(const QString& mark) {
    if (mark == QStringLiteral("CLM_TempDirCreate"))
        return ceWorkFolder;
    if (mark == QStringLiteral("CLM_spumux"))
        return ceSubpictures;
    if (mark == QStringLiteral("CLM_dvdauthor"))
        return ceAuthoring;
    if (mark == QStringLiteral("CLM_BurnerInsertDir") || mark == QStringLiteral("CLM_WriteFailed"))
        return ceBurn;
    return ceConversion;
}

bool CopyTree(const QString& from, const QString& to) {
    if (!QDir().mkpath(to))
        return false;
    const QFileInfoList entries = QDir(from).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QFileInfo& e : entries) {
        const QString target = to + QLatin1Char('/') + e.fileName();
        if (e.isDir() ? !CopyTree(e.absoluteFilePath(), target)
                      : (QFile::exists(target) && !QFile::remove(target)) || !QFile::copy(e.absoluteFilePath(), target))
            return false;
    }
    return true;
}

} // namespace

int64_t ParseClock(const QString& text) {
    const QStringList parts = text.trimmed().split(QLatin1Char(':'));
    if (parts.isEmpty() || parts.size() > 3)
        return -1;
    double seconds = 0;
    for (int i = 0; i < parts.size(); ++i) {
        bool ok = false;
        const double v = parts[i].toDouble(&ok);
        const bool last = i == parts.size() - 1;
        if (!ok || v < 0 || (!last && parts[i].contains(QLatin1Char('.'))) || (i > 0 && v >= 60))
            return -1;
        seconds = seconds * 60 + v;
    }
    return static_cast<int64_t>(seconds * 1e6 + 0.5);
}

QString CliUsage() {
    return QStringLiteral(
        "Usage: ordavine-cli [options] [title options] FILE [[title options] FILE ...]\n"
        "\n"
        "Makes a DVD-Video disc, image or folder from video files.\n"
        "\n"
        "Title options (apply to the next FILE):\n"
        "  --title NAME            the title's name in the menu (default: the file name)\n"
        "  --trim START-END        convert only this part, times as hh:mm:ss[.fff]\n"
        "  --crop L,T,R,B          pixels cut from the left, top, right and bottom edges\n"
        "  --aspect A              keep | fit | 4:3 | 16:9 | 1.85:1 | 2.35:1 (default keep)\n"
        "\n"
        "Disc:\n"
        "  --pal | --ntsc          DVD standard (default NTSC)\n"
        "  --disc d5|d9            4.7 GB or 8.5 GB disc (default d5)\n"
        "  --label TEXT            volume label (default \"Video DVD\")\n"
        "  --yes                   go on when the titles may not fit on the disc\n"
        "\n"
        "Menu:\n"
        "  --background FILE       menu background picture (default: the first ready-made one)\n"
        "  --colors N,A,S          button colours: normal, active, selected (default black,blue,red)\n"
        "  --font NAME             button font (default Arial)\n"
        "  --font-size N           button font size in points for a 720 pixel frame (default 28)\n"
        "  --skip-menu             no menu: the disc plays the titles one after another\n"
        "\n"
        "Destination (one of):\n"
        "  --device N|PATH         burn to a drive of --list-drives (number or device path)\n"
        "  --iso FILE              write a disc image file\n"
        "  --folder DIR            write the authored VIDEO_TS and AUDIO_TS folders into DIR\n"
        "  --speed N               burning speed (times 1x; default maximum)\n"
        "\n"
        "Work files:\n"
        "  --temp DIR              temporary folder (default ~/Documents/Parvenor/Ordavine/Output)\n"
        "  --keep-temp | --delete-temp   keep (default) or remove the work folder after success\n"
        "\n"
        "Other:\n"
        "  --strict                stop when a file cannot be added (default: skip it)\n"
        "  --list-drives           list the drives and exit\n"
        "  --help, --version\n"
        "\n"
        "Exit status: 0 done, 1 usage, 2 a file could not be added, 3 titles over capacity,\n"
        "4 not enough free space or unreadable background, 5 work folder, 6 conversion, 7 menu\n"
        "(spumux), 8 authoring (dvdauthor), 9 burning or image, 10 interrupted, 11 destination folder.\n");
}

bool ParseCommandLine(const QStringList& args, TCliJob& job, QString* error) {
    TCliTitle next;
    auto value = [&](int& i, QString* out) {
        if (i + 1 >= args.size()) {
            *error = QStringLiteral("%1 needs a value").arg(args[i]);
            return false;
        }
        *out = args[++i];
        return true;
    };
    static const QStringList aspects{QStringLiteral("keep"), QStringLiteral("fit"), QStringLiteral("4:3"),
                                     QStringLiteral("16:9"), QStringLiteral("1.85:1"), QStringLiteral("2.35:1")};
    for (int i = 0; i < args.size(); ++i) {
        const QString a = args[i];
        QString v;
        if (a == QStringLiteral("--title")) {
            if (!value(i, &next.Name))
                return false;
        } else if (a == QStringLiteral("--trim")) {
            if (!value(i, &v))
                return false;
            const QStringList se = v.split(QLatin1Char('-'));
            next.TrimStart = se.size() == 2 ? ParseClock(se[0]) : -1;
            next.TrimEnd = se.size() == 2 ? ParseClock(se[1]) : -1;
            if (next.TrimStart < 0 || next.TrimEnd <= next.TrimStart) {
                *error = QStringLiteral("--trim wants START-END as hh:mm:ss[.fff] with END after START: %1").arg(v);
                return false;
            }
        } else if (a == QStringLiteral("--crop")) {
            if (!value(i, &v))
                return false;
            const QStringList c = v.split(QLatin1Char(','));
            bool ok = c.size() == 4;
            for (int k = 0; ok && k < 4; ++k) {
                next.Crop[k] = c[k].trimmed().toInt(&ok);
                ok = ok && next.Crop[k] >= 0;
            }
            if (!ok) {
                *error = QStringLiteral("--crop wants four pixel counts L,T,R,B: %1").arg(v);
                return false;
            }
        } else if (a == QStringLiteral("--aspect")) {
            if (!value(i, &v))
                return false;
            next.Aspect = static_cast<int>(aspects.indexOf(v));
            if (next.Aspect < 0) {
                *error = QStringLiteral("--aspect wants one of %1: %2").arg(aspects.join(QStringLiteral(", ")), v);
                return false;
            }
        } else if (a == QStringLiteral("--pal") || a == QStringLiteral("--ntsc")) {
            job.PAL = a == QStringLiteral("--pal");
        } else if (a == QStringLiteral("--disc")) {
            if (!value(i, &v))
                return false;
            if (v.toLower() != QStringLiteral("d5") && v.toLower() != QStringLiteral("d9")) {
                *error = QStringLiteral("--disc wants d5 or d9: %1").arg(v);
                return false;
            }
            job.DiscType = v.toLower() == QStringLiteral("d9") ? 1 : 0;
        } else if (a == QStringLiteral("--label")) {
            if (!value(i, &job.Label))
                return false;
        } else if (a == QStringLiteral("--background")) {
            if (!value(i, &job.Menu.BackgroundImage))
                return false;
            job.Menu.BackgroundImage = QFileInfo(job.Menu.BackgroundImage).absoluteFilePath();
            job.MenuGiven[0] = true;
        } else if (a == QStringLiteral("--colors")) {
            if (!value(i, &v))
                return false;
            const QStringList c = v.split(QLatin1Char(','));
            bool ok = c.size() == 3;
            for (int k = 0; ok && k < 3; ++k) {
                ColorOfName(c[k], &ok);
                if (ok)
                    job.Menu.ColorName[k] = c[k].trimmed().toLower();
            }
            if (!ok) {
                *error = QStringLiteral("--colors wants three colour names of %1: %2")
                             .arg(StandardColorNames().join(QStringLiteral(", ")), v);
                return false;
            }
        } else if (a == QStringLiteral("--font")) {
            if (!value(i, &job.Menu.FontName))
                return false;
        } else if (a == QStringLiteral("--font-size")) {
            if (!value(i, &v))
                return false;
            bool ok = false;
            job.Menu.FontSize = v.toInt(&ok);
            if (!ok || job.Menu.FontSize <= 0 || job.Menu.FontSize > 200) {
                *error = QStringLiteral("--font-size wants a size in points: %1").arg(v);
                return false;
            }
        } else if (a == QStringLiteral("--skip-menu")) {
            job.SkipMenu = true;
        } else if (a == QStringLiteral("--keep-temp") || a == QStringLiteral("--delete-temp")) {
            job.DeleteTemp = a == QStringLiteral("--delete-temp");
        } else if (a == QStringLiteral("--temp")) {
            if (!value(i, &job.TempFolder))
                return false;
            job.TempFolder = QFileInfo(job.TempFolder).absoluteFilePath();
        } else if (a == QStringLiteral("--device")) {
            if (!value(i, &job.Device))
                return false;
        } else if (a == QStringLiteral("--iso")) {
            if (!value(i, &job.IsoFile))
                return false;
            job.IsoFile = QFileInfo(job.IsoFile).absoluteFilePath();
        } else if (a == QStringLiteral("--folder")) {
            if (!value(i, &job.Folder))
                return false;
            job.Folder = QFileInfo(job.Folder).absoluteFilePath();
        } else if (a == QStringLiteral("--speed")) {
            if (!value(i, &v))
                return false;
            bool ok = false;
            job.Speed = v.toInt(&ok);
            if (!ok || job.Speed <= 0) {
                *error = QStringLiteral("--speed wants a whole speed such as 8: %1").arg(v);
                return false;
            }
        } else if (a == QStringLiteral("--yes")) {
            job.Yes = true;
        } else if (a == QStringLiteral("--strict")) {
            job.Strict = true;
        } else if (a == QStringLiteral("--list-drives")) {
            job.ListDrives = true;
        } else if (a == QStringLiteral("--help") || a == QStringLiteral("-h")) {
            job.Help = true;
        } else if (a == QStringLiteral("--version")) {
            job.Version = true;
        } else if (a.startsWith(QStringLiteral("--"))) {
            *error = QStringLiteral("unknown option %1").arg(a);
            return false;
        } else {
            next.File = QFileInfo(a).absoluteFilePath();
            job.Titles << next;
            next = TCliTitle();
        }
    }
    const int destinations = int(!job.Device.isEmpty()) + int(!job.IsoFile.isEmpty()) + int(!job.Folder.isEmpty());
    if (destinations > 1) {
        *error = QStringLiteral("choose one destination: --device, --iso or --folder");
        return false;
    }
    if (!next.File.isEmpty() || !next.Name.isEmpty() || next.TrimStart >= 0) {
        if (next.File.isEmpty() && (job.Titles.isEmpty() || !next.Name.isEmpty())) {
            *error = QStringLiteral("title options must come before their file");
            return false;
        }
    }
    return true;
}

int RunCommandLine(const TCliJob& job, FILE* out, FILE* err) {
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    TCliPrompts prompts(err, job.Yes);
    TLogForm log;
    SetEventsLog(&log);
    TErrorForm form;
    TErrorReporter reporter(log, form, TEndpoints());
    SetErrorReporter(&reporter);
    QString lastMark;
    QObject::connect(&reporter, &TErrorReporter::OnReport, [&](const QString& message, const QString& mark) {
        lastMark = mark;
        std::fprintf(err, "\nerror: %s [%s]\n", Local(message).constData(), Local(mark).constData());
    });
    QObject::connect(&log, &TLogForm::LineAppended, [&](const QString& line) {
        if (!line.isEmpty())
            std::fprintf(err, "log: %s\n", Local(line).constData());
    });
    struct TCleanup {
        ~TCleanup() {
            SetErrorReporter(nullptr);
            SetEventsLog(nullptr);
        }
    } cleanup;

    burner::TDiscBurner burner;
    burner.SetCacheSize(32);
    burner.InitializeASPI(false, std::string(), std::string());
    if (job.ListDrives) {
        for (int i = 0; i < burner.DeviceCount(); ++i)
            std::fprintf(out, "%d: %s%s\n", i, burner.GetDeviceName(i).c_str(),
                         burner.VirtualRecorder() && i == burner.DeviceCount() - 1 ? " (writes an image file)" : "");
        return ceOk;
    }
    int device = -1;
    if (!job.Device.isEmpty()) {
        bool numeric = false;
        device = job.Device.toInt(&numeric);
        if (!numeric) {
            device = -1;
            for (int i = 0; i < burner.DeviceCount(); ++i)
                if (QString::fromStdString(burner.GetDeviceName(i)).contains(job.Device))
                    device = i;
        }
        if (device < 0 || device >= burner.DeviceCount() || !burner.SelectDevice(device) || !burner.DeviceIsBurner()) {
            std::fprintf(err, "No writer %s in the drive list (see --list-drives).\n", Local(job.Device).constData());
            return ceUsage;
        }
    }

    TFFEncoder encoder;
    if (!encoder.LoadAVLib(ProgramFolder() + QStringLiteral("LibAV"))) {
        ReportError(encoder.LastErrMsg(), QStringLiteral("CLM_FFAVLibLoad"));
        return ceConversion;
    }

    // Add the titles as the program's Add does.
    TVideoFiles files;
    for (const TCliTitle& t : job.Titles) {
        TVideoFile title;
        if (!ProbeTitle(encoder.Decoder, t.File, title)) {
            ReportFileLoadError(encoder.Decoder.LastErrMsg());
            if (job.Strict)
                return ceAddFailed;
            continue;
        }
        if (!t.Name.isEmpty())
            title.DestinationTitle = t.Name;
        if (t.TrimStart >= 0) {
            title.TimeStart = std::min(t.TrimStart, title.TimeEnd);
            title.TimeEnd = std::min(t.TrimEnd, title.TimeEnd);
            title.TrimmedLength = title.TimeEnd - title.TimeStart;
        }
        title.CropLeft = t.Crop[0];
        title.CropTop = t.Crop[1];
        title.CropRight = t.Crop[2];
        title.CropBottom = t.Crop[3];
        title.AspectRatio = t.Aspect;
        files << title;
        std::fprintf(out, "Added %s (%dx%d, %s)\n", Local(title.Source).constData(), title.SourceWidth,
                     title.SourceHeight, Local(FormatDuration(title.TrimmedLength)).constData());
    }
    if (files.isEmpty()) {
        std::fprintf(err, "No title could be added.\n");
        return job.Titles.isEmpty() ? ceUsage : ceAddFailed;
    }

    TMenuSettings menu = job.Menu;
    if (!job.MenuGiven[0])
        menu.BackgroundImage = FirstMenuBackground(ProgramFolder() + QStringLiteral("menu-backgrounds/"));
    TRunSettings settings;
    settings.PAL = job.PAL;
    settings.TempFolder = job.TempFolder.isEmpty() ? CreateUserDataFolders(DocumentsFolder()).Output : job.TempFolder;
    settings.SkipMenu = job.SkipMenu;
    settings.DeleteTempFiles = job.DeleteTemp && job.Folder.isEmpty();
    settings.DiscType = job.DiscType;
    settings.EstimatedSize = EstimateOutputSize(files, job.DiscType).Size;
    std::fprintf(out, "Estimated size: %d MB of %d MB\n", settings.EstimatedSize, DiscCapacity[job.DiscType]);

    TFrameInputAdapter adapter;
    TCliView view(out);
    TCreationRun run(encoder, adapter, view);
    TBurnStep burn(burner);
    const bool recorder = device >= 0 && burner.VirtualRecorder() && device == burner.DeviceCount() - 1;
    if (!job.IsoFile.isEmpty() || device >= 0) {
        burn.ImageFile = job.IsoFile;
        if (device >= 0) {
            burner.SetUpForDriveList(QFile::encodeName(settings.TempFolder).toStdString());
            burner.SelectDevice(device);
            burn.BeforeBurn = [&burner, &job] {
                // --speed N: N times 1x of a DVD.
                burner.SetDeviceSpeed(0, static_cast<std::uint16_t>(std::min(65535.0, job.Speed * SpeedUnit(static_cast<int>(burner.DiscIs())))));
            };
            burn.BurnToDrive = [&burner] { return burner.Burn(); };
            burn.AfterWrite = [&burner, recorder] {
                burner.FlushCache();
                burner.EjectMedium(false);
                if (recorder && !burner.LastImagePath().empty())
                    AppendEventsLog(QStringLiteral("Disc image written to ") + QString::fromStdString(burner.LastImagePath()));
            };
        }
        run.StartBurn = [&burn, &job](TCreationRun& r) { return burn.Start(r, job.Label); };
        run.AbortBurn = [&burner] { burner.AbortOperation(); };
    }
    QTimer interrupt;
    QObject::connect(&interrupt, &QTimer::timeout, [&view] {
        if (gInterrupted.exchange(false) && view.OnCancel)
            view.OnCancel();
    });
    interrupt.start(100);

    const TCreationRun::TResult result = run.Run(files, menu, settings);
    switch (result) {
    case TCreationRun::TResult::Succeeded:
        break;
    case TCreationRun::TResult::Cancelled:
        return ceCancelled;
    case TCreationRun::TResult::Refused:
        if (run.Refusal == TCreationRun::TRefusal::Capacity)
            return ceCapacity;
        return run.Refusal == TCreationRun::TRefusal::NoTitles ? ceUsage : ceChecks;
    default:
        return ExitForMark(lastMark);
    }

    if (!job.Folder.isEmpty()) {
        const QString dvd = run.WorkFolder + QStringLiteral("/dvd_out");
        if (!CopyTree(dvd + QStringLiteral("/VIDEO_TS"), job.Folder + QStringLiteral("/VIDEO_TS")) ||
            !QDir().mkpath(job.Folder + QStringLiteral("/AUDIO_TS"))) {
            std::fprintf(err, "Cannot write the DVD folder into %s\n", Local(job.Folder).constData());
            return ceDestination;
        }
        if (job.DeleteTemp)
            CleanFolder(run.WorkFolder, true, false, true);
        std::fprintf(out, "DVD folder written to %s\n", Local(job.Folder).constData());
    } else if (device >= 0) {
        std::fprintf(out, "Disc written%s\n", recorder ? (" (image " + burner.LastImagePath() + ")").c_str() : "");
    } else if (!job.IsoFile.isEmpty()) {
        std::fprintf(out, "Disc image written to %s\n", Local(job.IsoFile).constData());
    } else {
        std::fprintf(out, "DVD structure authored in %s/dvd_out\n", Local(run.WorkFolder).constData());
    }
    return ceOk;
}
