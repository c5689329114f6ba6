#include "editing/Preview.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAction>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <QWidget>

QString SnapshotFileName(const QString& folder, const QString& title, int counter,
                         TSnapshotFormat format) {
    // The title is the user's menu text: it must not reach outside the folder.
    if (title.contains(QLatin1Char('/')) || title.contains(QChar(0)))
        return QString();
    const QString name =
        title + QLatin1Char('_') + QString::number(counter) +
        (format == TSnapshotFormat::Jpeg ? QStringLiteral(".jpg") : QStringLiteral(".bmp"));
    return QDir(folder).filePath(name);
}

TPreview::TPreview(TVideoFiles& files, std::function<int()> selectedIndex,
                   const TPreviewWidgets& widgets, QObject* parent)
    : QObject(parent), FFiles(files), FSelectedIndex(std::move(selectedIndex)), FW(widgets) {
    FFPlayer = new TFFPlayer(this);
    FFPlayer->setObjectName(QStringLiteral("FFPlayer"));
    FFPlayer->OnFileOpen = [this](TFFPlayer*, int64_t d, int w, int h, int& sw, int& sh) {
        FFPlayerFileOpen(d, w, h, sw, sh);
    };
    FFPlayer->OnPosition = [this](TFFPlayer*, int64_t pts) { FFPlayerPosition(pts); };
    FFPlayer->OnState = [this](TFFPlayer*, TPlayState s) { FFPlayerState(s); };
    FFPlayer->OnLog = [this](const QString& line) { Sinks.AppendEventsLog(line); };
    ExecDialog = [](QDialog& dialog) { return dialog.exec(); };

    if (FW.PlayButton)
        connect(FW.PlayButton, &QAbstractButton::clicked, this, [this] { PlayButtonClick(); });
    if (FW.StopButton)
        connect(FW.StopButton, &QAbstractButton::clicked, this, [this] { StopButtonClick(); });
    if (FW.SnapshotButton)
        connect(FW.SnapshotButton, &QAbstractButton::clicked, this,
                [this] { SnapshotButtonClick(); });
    if (FW.VideoTrackBar) {
        QAbstractSlider* s = FW.VideoTrackBar;
        s->setRange(0, 1000);
        s->setValue(0);
        s->setPageStep(0); // a click beside the thumb does not move it
        connect(s, &QAbstractSlider::sliderPressed, this,
                [this] { VideoTrackBarStartDragButton(); });
        connect(s, &QAbstractSlider::sliderReleased, this, [this] { VideoTrackBarLastChange(); });
        connect(s, &QAbstractSlider::actionTriggered, this, [this, s](int action) {
            if (action != QAbstractSlider::SliderMove && !s->isSliderDown())
                QTimer::singleShot(0, this, [this] { VideoTrackBarLastChange(); });
        });
    }
    if (FW.VolumeTrackBar) {
        FW.VolumeTrackBar->setRange(0, 128);
        FW.VolumeTrackBar->setValue(50);
        connect(FW.VolumeTrackBar, &QAbstractSlider::valueChanged, this,
                [this] { VolumeTrackBarChange(); });
    }
    if (FW.lblPlayTime)
        FW.lblPlayTime->setText(QStringLiteral("00:00:00 / 00:00:00"));
    if (FW.JPEG1 && FW.BMP1) {
        for (QAction* a : {FW.JPEG1, FW.BMP1})
            a->setCheckable(true);
        FW.JPEG1->setChecked(true);
        connect(FW.JPEG1, &QAction::triggered, this, [this] { JPEG1Click(); });
        connect(FW.BMP1, &QAction::triggered, this, [this] { BMP1Click(); });
    }
}

TPreview::~TPreview() {
    FFPlayer->OnState = nullptr;
    FFPlayer->OnPosition = nullptr;
    FFPlayer->Stop(true);
}

TVideoFile* TPreview::SelectedTitle() const {
    const int i = FSelectedIndex ? FSelectedIndex() : -1;
    return i >= 0 && i < FFiles.size() ? &FFiles[i] : nullptr;
}

void TPreview::OpenVideo(const QString& fileName) {
    if (!FFPlayer->AVLibLoaded() &&
        !FFPlayer->LoadAVLib(QCoreApplication::applicationDirPath() + QStringLiteral("/LibAV"))) {
        Sinks.AppendEventsLog(FFPlayer->LastErrMsg());
        Sinks.ReportError(FFPlayer->LastErrMsg(), QStringLiteral("CLM_LoadAVLib"));
        return;
    }
    FScreenControl = FW.panPreview;
    if (!FFPlayer->Open(fileName, FW.panPreview, false)) {
        Sinks.AppendEventsLog(FFPlayer->LastErrMsg());
        Sinks.ReportError(FFPlayer->LastErrMsg(), QStringLiteral("CLM_FFPlayerOpen"));
    }
}

void TPreview::PlayButtonClick() {
    if (FLastState == psPause) {
        FFPlayer->Resume();
        return;
    }
    TVideoFile* title = SelectedTitle();
    if (!title || !QFileInfo::exists(title->Source))
        return;
    if (FW.panPlayerArea)
        FW.panPlayerArea->hide();
    OpenVideo(title->Source);
}

void TPreview::FFPlayerFileOpen(int64_t duration, int, int, int& screenWidth, int& screenHeight) {
    if (FScreenControl) {
        screenWidth = FScreenControl->width();
        screenHeight = FScreenControl->height();
    } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
        screenWidth = screen->size().width();
        screenHeight = screen->size().height();
    }
    FDuration = duration;
}

void TPreview::FFPlayerPosition(int64_t pts) {
    if (FW.VideoTrackBar && pts >= 0 && FDuration > 0 && !PrimaryButtonDown() && !FTrackDrag)
        FW.VideoTrackBar->setValue(static_cast<int>(pts * FW.VideoTrackBar->maximum() / FDuration));
    if (pts > 0 && FW.lblPlayTime)
        FW.lblPlayTime->setText(FormatDuration(pts) + QStringLiteral(" / ") +
                                FormatDuration(FDuration));
}

void TPreview::VideoTrackBarStartDragButton() {
    FTrackDrag = true;
}

void TPreview::VideoTrackBarLastChange() {
    if (PrimaryButtonDown())
        return;
    const int max =
        FW.VideoTrackBar && FW.VideoTrackBar->maximum() > 0 ? FW.VideoTrackBar->maximum() : 1000;
    const int value = FW.VideoTrackBar ? FW.VideoTrackBar->value() : 0;
    FFPlayer->Seek(FDuration * value / max, {}, false);
    FTrackDrag = false;
}

void TPreview::VolumeTrackBarChange() {
    if (FW.VolumeTrackBar)
        FFPlayer->SetAudioVolume(FW.VolumeTrackBar->value());
}

void TPreview::StopButtonClick() {
    if (FW.PlayButton && FW.PlayButton->isChecked()) {
        const bool exclusive = FW.PlayButton->autoExclusive();
        FW.PlayButton->setAutoExclusive(false);
        FW.PlayButton->setChecked(false);
        FW.PlayButton->setAutoExclusive(exclusive);
    }
    FFPlayer->Stop(true);
    if (FW.VideoTrackBar)
        FW.VideoTrackBar->setValue(0);
    if (FW.panPlayerArea)
        FW.panPlayerArea->show();
    if (FW.panPreview)
        FW.panPreview->repaint();
    if (FW.lblPlayTime) {
        const QString d = FormatDuration(FDuration);
        FW.lblPlayTime->setText(d + QStringLiteral(" / ") + d);
    }
}

void TPreview::FFPlayerState(TPlayState state) {
    FLastState = state;
    if (state == psEnd)
        StopButtonClick();
}

void TPreview::SnapshotButtonClick() {
    const QImage picture = FFPlayer->CurrentFrame().copy();
    if (picture.width() == 0)
        return;
    const TVideoFile* title = SelectedTitle();
    const bool jpeg = FSnapshotFormat == TSnapshotFormat::Jpeg;
    int& counter = jpeg ? FJpegCounter : FBmpCounter;
    const QString path =
        title ? SnapshotFileName(SnapshotFolder, title->DestinationTitle, counter, FSnapshotFormat)
              : QString();
    bool saved = false;
    if (!path.isEmpty()) {
        QImageWriter writer(path, jpeg ? "jpg" : "bmp");
        saved = writer.write(picture);
    }
    if (!saved) {
        Sinks.ReportError(QStringLiteral("Error making snapshot"), QStringLiteral("CLM_Snapshot"));
        return;
    }
    ++counter;
}

void TPreview::JPEG1Click() {
    FSnapshotFormat = TSnapshotFormat::Jpeg;
    if (FW.JPEG1)
        FW.JPEG1->setChecked(true);
    if (FW.BMP1)
        FW.BMP1->setChecked(false);
}

void TPreview::BMP1Click() {
    FSnapshotFormat = TSnapshotFormat::Bmp;
    if (FW.BMP1)
        FW.BMP1->setChecked(true);
    if (FW.JPEG1)
        FW.JPEG1->setChecked(false);
}

void TPreview::ShowDialogStopped(QDialog& dialog) {
    // Whatever still plays (also after a resume) is stopped before the dialog's own player starts.
    const TPlayState state = FFPlayer->PlayState();
    if (state != psStop && state != psEnd)
        StopButtonClick();
    ExecDialog(dialog);
}

void TPreview::EditButtonClick(QDialog& cropForm) {
    ShowDialogStopped(cropForm);
}

void TPreview::ClipButtonClick(QDialog& clipForm) {
    ShowDialogStopped(clipForm);
}
