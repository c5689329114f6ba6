#include "editing/ClipForm.h"
#include "editing/ClipGeometry.h"

#include <QApplication>
#include <QButtonGroup>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

using namespace ClipGeometry;

namespace {

QPixmap HandlePicture() {
    QPixmap pm(HandleWidth, HandleWidth);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(60, 137, 191));
    p.setPen(Qt::NoPen);
    const QPointF tri[3] = {{6, 0}, {12, 12}, {0, 12}};
    p.drawPolygon(tri, 3);
    return pm;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text,
                        const QRect& geometry, const QString& hint = QString()) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(geometry);
    if (!hint.isEmpty())
        b->setToolTip(hint);
    return b;
}

} // namespace

TClipForm::TClipForm(TVideoFiles& files, std::function<int()> selectedIndex, QWidget* parent)
    : QDialog(parent), FFiles(files), FSelectedIndex(std::move(selectedIndex)) {
    setObjectName(QStringLiteral("ClipForm"));
    setWindowTitle(QStringLiteral("Clip"));
    setFixedSize(500, 495);

    FFPlayer2 = new TFFPlayer(this);
    FFPlayer2->setObjectName(QStringLiteral("FFPlayer2"));

    panPreview = new QWidget(this);
    panPreview->setObjectName(QStringLiteral("panPreview"));
    panPreview->setGeometry(18, 48, 461, 271);
    panPreview->setAutoFillBackground(true);
    QPalette pal = panPreview->palette();
    pal.setColor(QPalette::Window, Qt::black);
    panPreview->setPalette(pal);

    videotrackbar2 = new QSlider(Qt::Horizontal, this);
    videotrackbar2->setObjectName(QStringLiteral("videotrackbar2"));
    videotrackbar2->setGeometry(19, 336, 456, 20);
    videotrackbar2->setRange(0, SliderMax);
    videotrackbar2->setPageStep(0); // a click beside the thumb does not move it

    const QPixmap handle = HandlePicture();
    imgTrimLeft = new QLabel(this);
    imgTrimLeft->setObjectName(QStringLiteral("imgTrimLeft"));
    imgTrimLeft->setGeometry(11, 358, HandleWidth, HandleWidth);
    imgTrimLeft->setPixmap(handle);
    imgTrimLeft->setCursor(Qt::SizeHorCursor);
    imgTrimRight = new QLabel(this);
    imgTrimRight->setObjectName(QStringLiteral("imgTrimRight"));
    imgTrimRight->setGeometry(473, 358, HandleWidth, HandleWidth);
    imgTrimRight->setPixmap(handle);
    imgTrimRight->setCursor(Qt::SizeHorCursor);
    imgTrimLeft->installEventFilter(this);
    imgTrimRight->installEventFilter(this);

    TrimmedTimeLine = new QFrame(this);
    TrimmedTimeLine->setObjectName(QStringLiteral("TrimmedTimeLine"));
    TrimmedTimeLine->setGeometry(24, 364, 447, 1);
    TrimmedTimeLine->setAutoFillBackground(true);
    QPalette linePal = TrimmedTimeLine->palette();
    linePal.setColor(QPalette::Window, QColor(60, 137, 191)); // 12552764
    TrimmedTimeLine->setPalette(linePal);

    PlayButton = MakeButton(this, "PlayButton", QStringLiteral("Play"), {18, 384, 60, 26},
                            QStringLiteral("Play full video"));
    PauseButton = MakeButton(this, "PauseButton", QStringLiteral("Pause"), {82, 384, 60, 26},
                             QStringLiteral("Pause"));
    PlayTrimmedButton = MakeButton(this, "PlayTrimmedButton", QStringLiteral("Trimmed"),
                                   {146, 384, 70, 26}, QStringLiteral("Play trimmed video"));
    for (QPushButton* b : {PlayButton, PauseButton, PlayTrimmedButton})
        b->setCheckable(true);
    FPlayGroup = new QButtonGroup(this);
    FPlayGroup->addButton(PlayButton);
    FPlayGroup->addButton(PauseButton);
    FPlayGroup->addButton(PlayTrimmedButton);
    StopButton = MakeButton(this, "StopButton", QStringLiteral("Stop"), {220, 384, 60, 26},
                            QStringLiteral("Stop"));
    SetStartButton =
        MakeButton(this, "SetStartButton", QStringLiteral("Set start"), {290, 384, 90, 26});
    SetEndButton = MakeButton(this, "SetEndButton", QStringLiteral("Set end"), {389, 384, 90, 26});

    auto* caption = new QLabel(QStringLiteral("Play time:"), this);
    caption->setGeometry(18, 12, 70, 24);
    lblPlayTime = new QLabel(QStringLiteral("00:00:00 / 00:00:00"), this);
    lblPlayTime->setObjectName(QStringLiteral("lblPlayTime"));
    lblPlayTime->setAlignment(Qt::AlignCenter);
    lblPlayTime->setGeometry(90, 12, 320, 24);

    auto* startCaption = new QLabel(QStringLiteral("Set start time:"), this);
    startCaption->setGeometry(18, 420, 100, 24);
    TimeStart = new QLineEdit(this);
    TimeStart->setObjectName(QStringLiteral("TimeStart"));
    TimeStart->setGeometry(120, 420, 80, 24);
    TimeStartOkButton =
        MakeButton(this, "TimeStartOkButton", QStringLiteral("OK"), {204, 420, 36, 24});
    auto* endCaption = new QLabel(QStringLiteral("Set end time:"), this);
    endCaption->setGeometry(258, 420, 100, 24);
    TimeEnd = new QLineEdit(this);
    TimeEnd->setObjectName(QStringLiteral("TimeEnd"));
    TimeEnd->setGeometry(356, 420, 80, 24);
    TimeEndOkButton = MakeButton(this, "TimeEndOkButton", QStringLiteral("OK"), {440, 420, 36, 24});
    for (QLineEdit* e : {TimeStart, TimeEnd}) {
        e->setInputMask(QStringLiteral("90:00:00; "));
        e->setMaxLength(8);
        e->setText(QStringLiteral("00:00:00"));
    }

    OkButton = MakeButton(this, "OkButton", QStringLiteral("OK"), {228, 458, 80, 28});
    CancelButton = MakeButton(this, "CancelButton", QStringLiteral("Cancel"), {314, 458, 80, 28});
    ResetButton = MakeButton(this, "ResetButton", QStringLiteral("Reset"), {400, 458, 80, 28});
    OkButton->setDefault(true);

    connect(PlayButton, &QPushButton::clicked, this, [this] { PlayButtonClick(); });
    connect(PauseButton, &QPushButton::clicked, this, [this] { PauseButtonClick(); });
    connect(PlayTrimmedButton, &QPushButton::clicked, this, [this] { PlayTrimmedButtonClick(); });
    connect(StopButton, &QPushButton::clicked, this, [this] { StopButtonClick(); });
    connect(SetStartButton, &QPushButton::clicked, this, [this] { SetStartButtonClick(); });
    connect(SetEndButton, &QPushButton::clicked, this, [this] { SetEndButtonClick(); });
    connect(TimeStartOkButton, &QPushButton::clicked, this, [this] { TimeStartOkButtonClick(); });
    connect(TimeEndOkButton, &QPushButton::clicked, this, [this] { TimeEndOkButtonClick(); });
    connect(OkButton, &QPushButton::clicked, this, [this] { OkButtonClick(); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { CancelButtonClick(); });
    connect(ResetButton, &QPushButton::clicked, this, [this] { ResetButtonClick(); });
    connect(videotrackbar2, &QSlider::sliderPressed, this,
            [this] { videotrackbar2StartDragButton(); });
    connect(videotrackbar2, &QSlider::sliderReleased, this, [this] { videotrackbar2LastChange(); });
    connect(videotrackbar2, &QSlider::actionTriggered, this, [this](int action) {
        // Wheel and keys: the value is set after this signal, so seek once it is.
        if (action != QAbstractSlider::SliderMove && !videotrackbar2->isSliderDown())
            QTimer::singleShot(0, this, [this] { videotrackbar2LastChange(); });
    });

    FFPlayer2->OnFileOpen = [this](TFFPlayer*, int64_t d, int w, int h, int& sw, int& sh) {
        FFPlayer2FileOpen(d, w, h, sw, sh);
    };
    FFPlayer2->OnPosition = [this](TFFPlayer*, int64_t pts) { FFPlayer2Position(pts); };
    FFPlayer2->OnState = [this](TFFPlayer*, TPlayState s) { FFPlayer2State(s); };
    FFPlayer2->OnLog = [this](const QString& line) { Sinks.AppendEventsLog(line); };
    ShowMessage = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); };
}

TClipForm::~TClipForm() {
    FFPlayer2->OnState = nullptr;
    FFPlayer2->OnPosition = nullptr;
    FFPlayer2->Stop(true);
}

TVideoFile* TClipForm::SelectedTitle() const {
    const int i = FSelectedIndex ? FSelectedIndex() : -1;
    return i >= 0 && i < FFiles.size() ? &FFiles[i] : nullptr;
}

int TClipForm::TimelineWidth() const {
    return videotrackbar2->width();
}

void TClipForm::MoveHandleX(QWidget* handle, int x) {
    handle->move(x, handle->y());
}

void TClipForm::SetTrimStart(int64_t t) {
    FTrimStart = t;
    TimeStart->setText(FormatDuration(t));
}

void TClipForm::SetTrimEnd(int64_t t) {
    FTrimEnd = t;
    TimeEnd->setText(FormatDuration(t));
}

void TClipForm::UpdateTrimmedLine() {
    const TTrimmedLine line = TrimmedLine(imgTrimLeft->x(), imgTrimRight->x());
    TrimmedTimeLine->setGeometry(line.Left, imgTrimLeft->y(), std::max(0, line.Width), 1);
    TrimmedTimeLine->setVisible(line.Width > 0);
}

void TClipForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TClipForm::done(int result) {
    if (!FClosing) {
        FClosing = true;
        FormClose();
        FClosing = false;
    }
    QDialog::done(result);
}

void TClipForm::FormShow() {
    TVideoFile* title = SelectedTitle();
    if (!title)
        return;
    SetTrimStart(title->TimeStart);
    SetTrimEnd(title->TimeEnd);
    FPlayTrimmed = false;
    OpenFile(title->Source);

    const int w = TimelineWidth();
    const int startX = TimeToHandleX(FTrimStart, FDuration, w);
    MoveHandleX(imgTrimLeft, startX);
    if (!(FTrimStart < FTrimEnd)) {
        MoveHandleX(imgTrimRight, startX);
        MoveHandleX(imgTrimLeft, startX - 11);
    }
    const int endX = TimeToHandleX(FTrimEnd, FDuration, w);
    MoveHandleX(imgTrimRight, endX);
    if (!(FTrimEnd > FTrimStart)) {
        MoveHandleX(imgTrimLeft, endX);
        MoveHandleX(imgTrimRight, endX + 11);
    }
    UpdateTrimmedLine();
    OkButton->setFocus();
}

void TClipForm::FormClose() {
    FPlayTrimmed = false;
    StopButtonClick();
}

void TClipForm::OpenFile(const QString& fileName) {
    if (!FFPlayer2->AVLibLoaded() &&
        !FFPlayer2->LoadAVLib(QCoreApplication::applicationDirPath() + QStringLiteral("/LibAV"))) {
        Sinks.ReportError(QStringLiteral("Error Loading AV Lib: ") + FFPlayer2->LastErrMsg(),
                          QStringLiteral("CLM_FFPlayer2LoadAVLib"));
        Sinks.AppendEventsLog(FFPlayer2->LastErrMsg());
        return;
    }
    FScreenControl = panPreview;
    if (!FFPlayer2->Open(fileName, panPreview, false)) {
        Sinks.ReportError(QStringLiteral("Error open file: ") + FFPlayer2->LastErrMsg(),
                          QStringLiteral("CLM_FFPlayer2Open"));
        Sinks.AppendEventsLog(FFPlayer2->LastErrMsg());
    }
}

void TClipForm::FFPlayer2FileOpen(int64_t duration, int, int, int& screenWidth, int& screenHeight) {
    if (FScreenControl) {
        screenWidth = FScreenControl->width();
        screenHeight = FScreenControl->height();
    }
    FDuration = duration;
}

void TClipForm::FFPlayer2Position(int64_t pts) {
    if (FPositionBusy)
        return;
    FPositionBusy = true;
    const int value = SliderValueForPts(pts, FDuration);
    if (value >= 0 && !FTrackDrag)
        videotrackbar2->setValue(value);
    if (pts > 0) {
        lblPlayTime->setText(FormatDuration(pts) + QStringLiteral(" / ") +
                             FormatDuration(FDuration));
        FCurrentPosition = pts;
        if (FLeftFollow || FLeftRelease) {
            SetTrimStart(FCurrentPosition);
            if (FLeftRelease)
                FLeftFollow = FLeftRelease = false;
            UpdateTrimmedLine();
        }
        if (FRightFollow || FRightRelease) {
            SetTrimEnd(FCurrentPosition);
            if (FRightRelease)
                FRightFollow = FRightRelease = false;
            UpdateTrimmedLine();
        }
    }
    if (FPlayTrimmed && pts >= FTrimEnd)
        FFPlayer2->Seek(FTrimStart, {}, true);
    FPositionBusy = false;
}

void TClipForm::FFPlayer2State(TPlayState state) {
    FLastState = state;
    if (state == psEnd)
        StopButtonClick();
}

void TClipForm::ReleasePlayButtons() {
    FPlayGroup->setExclusive(false);
    for (QPushButton* b : {PlayButton, PauseButton, PlayTrimmedButton})
        b->setChecked(false);
    FPlayGroup->setExclusive(true);
}

void TClipForm::PlayButtonClick() {
    FPlayTrimmed = false;
    if (FLastState == psPause) {
        FFPlayer2->Resume();
        return;
    }
    if (TVideoFile* title = SelectedTitle())
        OpenFile(title->Source);
}

void TClipForm::PauseButtonClick() {
    FPlayTrimmed = false;
    FFPlayer2->TogglePause();
}

void TClipForm::StopButtonClick() {
    FPlayTrimmed = false;
    ReleasePlayButtons();
    FFPlayer2->Stop(true);
    videotrackbar2->setValue(SliderMax);
    panPreview->repaint();
    const QString d = FormatDuration(FDuration);
    lblPlayTime->setText(d + QStringLiteral(" / ") + d);
}

void TClipForm::PlayTrimmedButtonClick() {
    FPlayTrimmed = true;
    switch (FFPlayer2->PlayState()) {
    case psPause:
        FFPlayer2->Resume();
        break;
    case psPlay:
        FFPlayer2->Seek(FTrimStart, {}, false);
        break;
    case psStop:
    case psEnd:
        if (TVideoFile* title = SelectedTitle())
            OpenFile(title->Source);
        FFPlayer2->Seek(FTrimStart, {}, false);
        break;
    case psResume:
    case psStep:
        break;
    }
}

void TClipForm::SetStartButtonClick() {
    const int x = SliderToHandleX(videotrackbar2->value(), TimelineWidth());
    SetTrimStart(FCurrentPosition);
    MoveHandleX(imgTrimLeft, x);
    UpdateTrimmedLine();
    if (!(FTrimStart < FTrimEnd)) {
        SetTrimEnd(FCurrentPosition);
        MoveHandleX(imgTrimRight, x);
        MoveHandleX(imgTrimLeft, x - 11);
        TrimmedTimeLine->resize(0, TrimmedTimeLine->height());
        TrimmedTimeLine->hide();
    }
}

void TClipForm::SetEndButtonClick() {
    const int x = SliderToHandleX(videotrackbar2->value(), TimelineWidth());
    SetTrimEnd(FCurrentPosition);
    MoveHandleX(imgTrimRight, x);
    UpdateTrimmedLine();
    if (!(FTrimEnd > FTrimStart)) {
        SetTrimStart(FCurrentPosition);
        MoveHandleX(imgTrimLeft, x);
        MoveHandleX(imgTrimRight, x + 11);
        TrimmedTimeLine->resize(0, TrimmedTimeLine->height());
        TrimmedTimeLine->hide();
    }
}

void TClipForm::TimeStartOkButtonClick() {
    QString error;
    const auto value = TimeToMicroseconds(TimeStart->text(), &error);
    if (!value) {
        if (ShowMessage)
            ShowMessage(error);
        return;
    }
    FTrimStart = *value;
    MoveHandleX(imgTrimLeft, TimeToHandleX(FTrimStart, FDuration, TimelineWidth()));
    if (!(FTrimStart < FTrimEnd)) {
        SetTrimEnd(FTrimStart);
        MoveHandleX(imgTrimRight, imgTrimLeft->x());
        MoveHandleX(imgTrimLeft, imgTrimLeft->x() - 11);
    }
    UpdateTrimmedLine();
}

void TClipForm::TimeEndOkButtonClick() {
    QString error;
    const auto value = TimeToMicroseconds(TimeEnd->text(), &error);
    if (!value) {
        if (ShowMessage)
            ShowMessage(error);
        return;
    }
    FTrimEnd = *value;
    MoveHandleX(imgTrimRight, TimeToHandleX(FTrimEnd, FDuration, TimelineWidth()));
    if (!(FTrimEnd > FTrimStart)) {
        SetTrimStart(FTrimEnd);
        MoveHandleX(imgTrimLeft, imgTrimRight->x());
        MoveHandleX(imgTrimRight, imgTrimRight->x() + 11);
    }
    UpdateTrimmedLine();
}

void TClipForm::imgTrimLeftMouseDown(int x) {
    FPlayTrimmed = false;
    FLeftFollow = true;
    FLeftDragging = true;
    FLeftGrabX = x;
    FFPlayer2->Pause();
}

void TClipForm::imgTrimLeftMouseMove(int x) {
    if (!FLeftDragging)
        return;
    const int w = TimelineWidth();
    const int newX = imgTrimLeft->x() + x - FLeftGrabX;
    if (!LeftHandleMoveAllowed(newX, imgTrimRight->x(), w))
        return;
    MoveHandleX(imgTrimLeft, newX);
    UpdateTrimmedLine();
    FFPlayer2->Seek(HandleXToSeekTime(newX, FDuration, w), {}, false);
}

void TClipForm::imgTrimLeftMouseUp() {
    if (!FLeftDragging)
        return;
    FLeftDragging = false;
    WaitForSeekEnd(*FFPlayer2);
    FLeftRelease = true;
    if (FFPlayer2->Paused())
        FFPlayer2->Resume();
}

void TClipForm::imgTrimRightMouseDown(int x) {
    FPlayTrimmed = false;
    FRightFollow = true;
    FRightDragging = true;
    FRightGrabX = x;
    FFPlayer2->Pause();
}

void TClipForm::imgTrimRightMouseMove(int x) {
    if (!FRightDragging)
        return;
    const int w = TimelineWidth();
    const int newX = imgTrimRight->x() + x - FRightGrabX;
    if (!RightHandleMoveAllowed(newX, imgTrimLeft->x(), w))
        return;
    MoveHandleX(imgTrimRight, newX);
    UpdateTrimmedLine();
    FFPlayer2->Seek(HandleXToSeekTime(newX, FDuration, w), {}, false);
}

void TClipForm::imgTrimRightMouseUp() {
    if (!FRightDragging)
        return;
    FRightDragging = false;
    WaitForSeekEnd(*FFPlayer2);
    FRightRelease = true;
    if (FFPlayer2->Paused())
        FFPlayer2->Resume();
}

void TClipForm::videotrackbar2StartDragButton() {
    FPlayTrimmed = false;
    FTrackDrag = true;
}

void TClipForm::videotrackbar2LastChange() {
    if (PrimaryMouseButtonDown())
        return;
    FFPlayer2->Seek(SliderToSeekTime(videotrackbar2->value(), FDuration), {}, false);
    FTrackDrag = false;
}

void TClipForm::OkButtonClick() {
    if (TVideoFile* title = SelectedTitle()) {
        title->TimeStart = FTrimStart;
        title->TimeEnd = FTrimEnd;
        title->TrimmedLength = FTrimEnd - FTrimStart;
        if (OnTitleChanged)
            OnTitleChanged();
    }
    accept();
}

void TClipForm::CancelButtonClick() {
    reject();
}

void TClipForm::ResetButtonClick() {
    const int w = TimelineWidth();
    const int y = videotrackbar2->y() + videotrackbar2->height();
    imgTrimLeft->move(Origin, y);
    imgTrimRight->move(w + Origin, y);
    UpdateTrimmedLine();
    videotrackbar2->setValue(0);
    SetTrimStart(0);
    SetTrimEnd(FDuration);
}

bool TClipForm::eventFilter(QObject* watched, QEvent* event) {
    const bool left = watched == imgTrimLeft;
    if (!left && watched != imgTrimRight)
        return QDialog::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() != Qt::LeftButton)
            break;
        left ? imgTrimLeftMouseDown(me->position().toPoint().x())
             : imgTrimRightMouseDown(me->position().toPoint().x());
        return true;
    }
    case QEvent::MouseMove: {
        const int x = static_cast<QMouseEvent*>(event)->position().toPoint().x();
        left ? imgTrimLeftMouseMove(x) : imgTrimRightMouseMove(x);
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton)
            break;
        left ? imgTrimLeftMouseUp() : imgTrimRightMouseUp();
        return true;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}
