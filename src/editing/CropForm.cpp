#include "editing/CropForm.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <limits>

using namespace CropGeometry;

namespace {

constexpr THandle AllHandles[] = {THandle::LeftTop,     THandle::TopMiddle,   THandle::RightTop,
                                  THandle::RightMiddle, THandle::RightBottom, THandle::BottomMiddle,
                                  THandle::LeftBottom,  THandle::LeftMiddle};

QString AspectText(float a) {
    return QString::number(double(a), 'g', 15);
}

bool ReadInt(const QSpinBox* field, int& value) {
    bool ok = false;
    value = field->cleanText().trimmed().toInt(&ok);
    return ok;
}

} // namespace

TCropForm::TCropForm(TVideoFiles& files, std::function<int()> selectedIndex, QWidget* parent)
    : QDialog(parent), FFiles(files), FSelectedIndex(std::move(selectedIndex)) {
    setObjectName(QStringLiteral("CropForm"));
    setWindowTitle(QStringLiteral("Crop"));
    setFixedSize(500, 489);

    FFPlayer1 = new TFFPlayer(this);
    FFPlayer1->setObjectName(QStringLiteral("FFPlayer1"));

    panPreview1 = new QWidget(this);
    panPreview1->setObjectName(QStringLiteral("panPreview1"));
    panPreview1->setGeometry(20, 48, 461, 271);
    panPreview1->setAutoFillBackground(true);
    QPalette pal = panPreview1->palette();
    pal.setColor(QPalette::Window, Qt::black);
    panPreview1->setPalette(pal);
    panPreview1->installEventFilter(this);
    FShared.PanelWidth = panPreview1->width();
    FShared.PanelHeight = panPreview1->height();

    const struct {
        QFrame** Field;
        const char* Name;
        Qt::CursorShape Cursor;
    } handles[] = {{&szLeftTop, "szLeftTop", Qt::SizeFDiagCursor},
                   {&szTopMiddle, "szTopMiddle", Qt::SizeVerCursor},
                   {&szRightTop, "szRightTop", Qt::SizeBDiagCursor},
                   {&szRightMiddle, "szRightMiddle", Qt::SizeHorCursor},
                   {&szRightBottom, "szRightBottom", Qt::SizeFDiagCursor},
                   {&szBottomMiddle, "szBottomMiddle", Qt::SizeVerCursor},
                   {&szLeftBottom, "szLeftBottom", Qt::SizeBDiagCursor},
                   {&szLeftMiddle, "szLeftMiddle", Qt::SizeHorCursor}};
    for (const auto& h : handles) {
        auto* f = new QFrame(panPreview1);
        f->setObjectName(QString::fromLatin1(h.Name));
        f->resize(8, 9);
        f->setFrameStyle(QFrame::Panel | QFrame::Raised);
        f->setAutoFillBackground(true);
        QPalette hp = f->palette();
        hp.setColor(QPalette::Window, Qt::white);
        f->setPalette(hp);
        f->setCursor(h.Cursor);
        f->installEventFilter(this);
        *h.Field = f;
    }
    SetHandles(HandlesFromCorners(QPoint(-4, -4), QPoint(457, 267)));

    auto button = [this](const char* name, const QString& text, const QRect& g) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(g);
        return b;
    };
    PlayButton = button("PlayButton", QStringLiteral("Play"), {20, 330, 60, 26});
    PlayButton->setToolTip(QStringLiteral("Play full video"));
    PauseButton = button("PauseButton", QStringLiteral("Pause"), {84, 330, 60, 26});
    PauseButton->setToolTip(QStringLiteral("Pause"));
    PlayButton->setCheckable(true);
    PauseButton->setCheckable(true);
    FPlayGroup = new QButtonGroup(this);
    FPlayGroup->addButton(PlayButton);
    FPlayGroup->addButton(PauseButton);
    StopButton = button("StopButton", QStringLiteral("Stop"), {148, 330, 60, 26});
    StopButton->setToolTip(QStringLiteral("Stop"));
    videotrackbar = new QSlider(Qt::Horizontal, this);
    videotrackbar->setObjectName(QStringLiteral("videotrackbar"));
    videotrackbar->setGeometry(20 + 461 - 348, 334, 348, 20);
    videotrackbar->setRange(0, 1000);
    videotrackbar->setPageStep(0);

    auto field = [this](const char* name, const QString& caption, int x, int y) {
        auto* l = new QLabel(caption, this);
        l->setGeometry(x, y, 130, 22);
        auto* e = new QSpinBox(this);
        e->setObjectName(QString::fromLatin1(name));
        e->setRange(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
        e->setSingleStep(1);
        e->setGeometry(x + 132, y, 80, 22);
        return e;
    };
    edLeft = field("edLeft", QStringLiteral("Left:"), 20, 372);
    edTop = field("edTop", QStringLiteral("Top:"), 20, 400);
    edWidth = field("edWidth", QStringLiteral("Cropped area width:"), 250, 372);
    edHeight = field("edHeight", QStringLiteral("Cropped area height:"), 250, 400);
    for (QSpinBox* e : {edLeft, edTop, edWidth, edHeight}) {
        // Values set by the program come through the spin box; the editor's own signal adds the
        // texts that are not numbers (an emptied field), which the spin box keeps quiet about.
        connect(e, &QSpinBox::textChanged, this, [this] { PlaceHandlesFromFields(); });
        connect(e->findChild<QLineEdit*>(), &QLineEdit::textChanged, this,
                [this, e](const QString&) {
                    bool ok = false;
                    e->cleanText().trimmed().toInt(&ok);
                    if (!ok)
                        PlaceHandlesFromFields();
                });
    }

    auto* aspectCaption = new QLabel(QStringLiteral("Aspect Ratio:"), this);
    aspectCaption->setGeometry(20, 428, 130, 22);
    cmbAspectRatio = new QComboBox(this);
    cmbAspectRatio->setObjectName(QStringLiteral("cmbAspectRatio"));
    cmbAspectRatio->setGeometry(152, 428, 120, 22);
    for (int i = 0; i < AspectItemCount; ++i)
        cmbAspectRatio->addItem(AspectItemText(i));
    cmbAspectRatio->setCurrentIndex(0);
    connect(cmbAspectRatio, &QComboBox::currentIndexChanged, this,
            [this] { cmbAspectRatioChange(); });

    ApplyButton = button("ApplyButton", QStringLiteral("Apply"), {144, 456, 80, 26});
    OkButton = button("OkButton", QStringLiteral("OK"), {228, 456, 80, 26});
    CancelButton = button("CancelButton", QStringLiteral("Cancel"), {312, 456, 80, 26});
    ResetButton = button("ResetButton", QStringLiteral("Reset"), {396, 456, 80, 26});

    connect(PlayButton, &QPushButton::clicked, this, [this] { PlayButtonClick(); });
    connect(PauseButton, &QPushButton::clicked, this, [this] { PauseButtonClick(); });
    connect(StopButton, &QPushButton::clicked, this, [this] { StopButtonClick(); });
    connect(ApplyButton, &QPushButton::clicked, this, [this] { ApplyButtonClick(); });
    connect(OkButton, &QPushButton::clicked, this, [this] { OkButtonClick(); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { CancelButtonClick(); });
    connect(ResetButton, &QPushButton::clicked, this, [this] { ResetButtonClick(); });
    connect(videotrackbar, &QSlider::sliderPressed, this,
            [this] { videotrackbarStartDragButton(); });
    connect(videotrackbar, &QSlider::sliderReleased, this, [this] { videotrackbarLastChange(); });
    connect(videotrackbar, &QSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderMove && !videotrackbar->isSliderDown())
            QTimer::singleShot(0, this, [this] { videotrackbarLastChange(); });
    });

    FFPlayer1->OnFileOpen = [this](TFFPlayer*, int64_t d, int w, int h, int& sw, int& sh) {
        FFPlayer1FileOpen(d, w, h, sw, sh);
    };
    FFPlayer1->OnPosition = [this](TFFPlayer*, int64_t pts) { FFPlayer1Position(pts); };
    FFPlayer1->OnState = [this](TFFPlayer*, TPlayState s) { FFPlayer1State(s); };
    FFPlayer1->OnVideoHook = [this](TFFPlayer*, QImage& bitmap, int64_t pts, bool& update) {
        FFPlayer1VideoHook(bitmap, pts, update);
    };
    FFPlayer1->OnLog = [this](const QString& line) { Sinks.AppendEventsLog(line); };
}

TCropForm::~TCropForm() {
    FFPlayer1->OnState = nullptr;
    FFPlayer1->OnPosition = nullptr;
    FFPlayer1->Stop(true); // no frame hook runs past this point
}

TVideoFile* TCropForm::SelectedTitle() const {
    const int i = FSelectedIndex ? FSelectedIndex() : -1;
    return i >= 0 && i < FFiles.size() ? &FFiles[i] : nullptr;
}

QWidget* TCropForm::HandleWidget(THandle handle) const {
    switch (handle) {
    case THandle::LeftTop:
        return szLeftTop;
    case THandle::TopMiddle:
        return szTopMiddle;
    case THandle::RightTop:
        return szRightTop;
    case THandle::RightMiddle:
        return szRightMiddle;
    case THandle::RightBottom:
        return szRightBottom;
    case THandle::BottomMiddle:
        return szBottomMiddle;
    case THandle::LeftBottom:
        return szLeftBottom;
    case THandle::LeftMiddle:
        break;
    }
    return szLeftMiddle;
}

THandles TCropForm::Handles() const {
    THandles h;
    for (THandle k : AllHandles)
        h.At(k) = HandleWidget(k)->pos();
    return h;
}

QSize TCropForm::SourceFrameSize() const {
    std::lock_guard g(FSharedMutex);
    return QSize(FShared.FrameWidth, FShared.FrameHeight);
}

void TCropForm::SetHandles(const THandles& handles) {
    for (THandle k : AllHandles)
        HandleWidget(k)->move(handles.At(k));
    std::lock_guard g(FSharedMutex);
    FShared.LeftTop = handles.LeftTop;
    FShared.RightBottom = handles.RightBottom;
}

void TCropForm::SetFields(int left, int top, int width, int height) {
    edLeft->setValue(left);
    edTop->setValue(top);
    edWidth->setValue(width);
    edHeight->setValue(height);
}

void TCropForm::SelectAspectItem(int index) {
    if (index < 0 || index >= AspectItemCount)
        index = 0;
    cmbAspectRatio->setCurrentIndex(index); // raises the change only when it differs
}

void TCropForm::PlaceHandlesFromFields() {
    int w, h, pw, ph;
    {
        std::lock_guard g(FSharedMutex);
        w = FShared.FrameWidth;
        h = FShared.FrameHeight;
        pw = FShared.PanelWidth;
        ph = FShared.PanelHeight;
    }
    // Before the first frame of the title there is no picture to place the handles on.
    if (w <= 0 || h <= 0 || !FFieldsLoaded)
        return;
    const float a = FFPlayer1->AspectRatio();
    auto fail = [&] {
        Sinks.ReportError(
            QStringLiteral("Error painting Selection Area with edited values. BitmapWidth=%1; "
                           "BitmapHeight=%2; AspectRatio=%3")
                .arg(w)
                .arg(h)
                .arg(AspectText(a)),
            QStringLiteral("CLM_ValuesToCropArea"));
    };
    int x, y, wd, ht;
    if (!ReadInt(edLeft, x) || !ReadInt(edTop, y))
        return fail();
    const TDisplayFit fit = ComputeDisplayFit(w, h, a, pw, ph);
    const auto lt = HandleForSourcePoint(fit, x, y);
    if (!lt)
        return fail();
    // The top-left handle keeps its new place when the rest fails; the frame hook sees the new
    // pair of defining handles only once both are known (or the failure is certain).
    szLeftTop->move(*lt);
    const auto publishLeftTop = [&] {
        std::lock_guard g(FSharedMutex);
        FShared.LeftTop = *lt;
    };
    if (!ReadInt(edWidth, wd) || !ReadInt(edHeight, ht)) {
        publishLeftTop();
        return fail();
    }
    const auto rb = HandleForSourcePoint(fit, double(x) + wd, double(y) + ht);
    if (!rb) {
        publishLeftTop();
        return fail();
    }
    SetHandles(HandlesFromCorners(*lt, *rb));
}

void TCropForm::HandleMouseDown(THandle, QPoint pointer) {
    FGrab = pointer;
    FHandleDrag = true;
}

void TCropForm::HandleMouseMove(THandle handle, QPoint pointer) {
    if (!FHandleDrag)
        return;
    THandles h = Handles();
    const QPoint at = h.At(handle);
    QPoint candidate = at + pointer - FGrab;
    if (handle == THandle::LeftMiddle || handle == THandle::RightMiddle)
        candidate.setY(at.y());
    if (handle == THandle::TopMiddle || handle == THandle::BottomMiddle)
        candidate.setX(at.x());
    if (!DragHandle(h, handle, candidate))
        return;
    SetHandles(h);
    std::lock_guard g(FSharedMutex);
    FShared.RefreshFields = true;
}

void TCropForm::HandleMouseUp(THandle) {
    FHandleDrag = false;
}

void TCropForm::FFPlayer1VideoHook(QImage& bitmap, int64_t, bool&) {
    const int w = bitmap.width(), h = bitmap.height();
    const float a = FFPlayer1->AspectRatio();
    QPoint lt, rb;
    bool refresh, load;
    TTitleValues title;
    int pw, ph;
    {
        std::lock_guard g(FSharedMutex);
        FShared.FrameWidth = w;
        FShared.FrameHeight = h;
        lt = FShared.LeftTop;
        rb = FShared.RightBottom;
        pw = FShared.PanelWidth;
        ph = FShared.PanelHeight;
        refresh = std::exchange(FShared.RefreshFields, false);
        load = std::exchange(FShared.LoadFromTitle, false);
        title = FShared.Title;
    }
    const auto rect = SourceRectFromHandles(ComputeDisplayFit(w, h, a, pw, ph), lt, rb);
    if (!rect) {
        const QString message =
            QStringLiteral("Error painting Selection Area. BitmapWidth=%1; BitmapHeight=%2; "
                           "AspectRatio=%3")
                .arg(w)
                .arg(h)
                .arg(AspectText(a));
        QMetaObject::invokeMethod(
            this,
            [this, message] { Sinks.ReportError(message, QStringLiteral("CLM_PaintCropArea")); },
            Qt::QueuedConnection);
        return;
    }
    {
        QPainter painter(&bitmap);
        QPen pen(QColor(255, 255, 255), 2, Qt::DotLine);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect->Left, rect->Top, rect->Right - rect->Left, rect->Bottom - rect->Top);
    }
    // Widgets belong to the GUI thread: the field and aspect changes are carried out there.
    if (refresh) {
        const TSourceRect r = *rect;
        QMetaObject::invokeMethod(
            this, [this, r] { SetFields(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top); },
            Qt::QueuedConnection);
    }
    if (load) {
        QMetaObject::invokeMethod(
            this,
            [this, title, w, h] {
                // The fields may be empty before this: handles are placed once all four hold
                // values.
                FFieldsLoaded = false;
                if (title.CropLeft == 0 && title.CropTop == 0 && title.CropRight == 0 &&
                    title.CropBottom == 0) {
                    SetFields(0, 0, w, h);
                    FFieldsLoaded = true;
                    PlaceHandlesFromFields();
                    SelectAspectItem(0);
                } else {
                    SetFields(title.CropLeft, title.CropTop, w - title.CropRight - title.CropLeft,
                              h - title.CropBottom - title.CropTop);
                    FFieldsLoaded = true;
                    SelectAspectItem(title.AspectRatio);
                    PlaceHandlesFromFields();
                }
            },
            Qt::QueuedConnection);
    }
}

void TCropForm::cmbAspectRatioChange() {
    FFPlayer1->SetAspectRatio(AspectValue(cmbAspectRatio->currentIndex()));
    PlaceHandlesFromFields();
}

void TCropForm::LoadTitleValues() {
    TTitleValues values;
    if (const TVideoFile* t = SelectedTitle())
        values = {t->CropLeft, t->CropTop, t->CropRight, t->CropBottom, t->AspectRatio};
    std::lock_guard g(FSharedMutex);
    FShared.Title = values;
    FShared.LoadFromTitle = true;
}

void TCropForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TCropForm::done(int result) {
    if (!FClosing) {
        FClosing = true;
        FormClose();
        FClosing = false;
    }
    QDialog::done(result);
}

void TCropForm::FormShow() {
    // Until the first frame of this title arrives nothing is known of its picture: the fields
    // stay empty and Apply stores nothing.
    {
        std::lock_guard g(FSharedMutex);
        FShared.FrameWidth = FShared.FrameHeight = 0;
        FShared.RefreshFields = false;
    }
    FFieldsLoaded = false;
    for (QSpinBox* e : {edLeft, edTop, edWidth, edHeight}) {
        const QSignalBlocker blocker(e);
        e->clear();
    }
    FFPlayer1->SetVideoHook(true);
    LoadTitleValues();
    PlayButtonClick();
}

void TCropForm::FormClose() {
    StopButtonClick();
}

void TCropForm::OpenVideo(const QString& fileName) {
    if (!FFPlayer1->AVLibLoaded() &&
        !FFPlayer1->LoadAVLib(QCoreApplication::applicationDirPath() + QStringLiteral("/LibAV"))) {
        Sinks.ReportError(FFPlayer1->LastErrMsg(), QStringLiteral("CLM_FFPlayer1LoadAVLib"));
        Sinks.AppendEventsLog(FFPlayer1->LastErrMsg());
        return;
    }
    FScreenControl1 = panPreview1;
    if (!FFPlayer1->Open(fileName, panPreview1, false)) {
        Sinks.ReportError(FFPlayer1->LastErrMsg(), QStringLiteral("CLM_FFPlayer1Open"));
        Sinks.AppendEventsLog(FFPlayer1->LastErrMsg());
    }
}

void TCropForm::PlayButtonClick() {
    if (FLastState == psPause) {
        FFPlayer1->Resume();
        return;
    }
    if (TVideoFile* title = SelectedTitle())
        OpenVideo(title->Source);
}

void TCropForm::PauseButtonClick() {
    FFPlayer1->TogglePause();
}

void TCropForm::ReleasePlayButtons() {
    FPlayGroup->setExclusive(false);
    PlayButton->setChecked(false);
    PauseButton->setChecked(false);
    FPlayGroup->setExclusive(true);
}

void TCropForm::StopButtonClick() {
    ReleasePlayButtons();
    FFPlayer1->Stop(true);
    videotrackbar->setValue(videotrackbar->maximum());
    panPreview1->repaint();
}

void TCropForm::FFPlayer1State(TPlayState state) {
    FLastState = state;
    if (state == psEnd)
        StopButtonClick();
}

void TCropForm::FFPlayer1FileOpen(int64_t duration, int, int, int& screenWidth, int& screenHeight) {
    if (FScreenControl1) {
        screenWidth = FScreenControl1->width();
        screenHeight = FScreenControl1->height();
    }
    FDuration = duration;
}

void TCropForm::FFPlayer1Position(int64_t pts) {
    if (pts >= 0 && FDuration > 0 && !PrimaryMouseButtonDown() && !FTrackDrag)
        videotrackbar->setValue(static_cast<int>(pts * 1000 / FDuration));
}

void TCropForm::videotrackbarStartDragButton() {
    FTrackDrag = true;
}

void TCropForm::videotrackbarLastChange() {
    if (PrimaryMouseButtonDown())
        return;
    FFPlayer1->Seek(FDuration * videotrackbar->value() / 1000, {}, false);
    FTrackDrag = false;
}

void TCropForm::ApplyButtonClick() {
    TVideoFile* title = SelectedTitle();
    if (!title)
        return;
    const QSize frame = SourceFrameSize();
    if (frame.isEmpty() || !FFieldsLoaded)
        return; // no frame of this title yet: nothing to store
    int left, top, width, height;
    if (!ReadInt(edLeft, left) || !ReadInt(edTop, top) || !ReadInt(edWidth, width) ||
        !ReadInt(edHeight, height)) {
        Sinks.ReportError(QStringLiteral("Error setting cropped area"),
                          QStringLiteral("CLM_CropSet"));
        return;
    }
    auto fits = [](int64_t v) {
        return v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max();
    };
    title->CropLeft = left;
    title->CropTop = top;
    const int64_t right = int64_t(frame.width()) - width - left;
    if (!fits(right)) {
        Sinks.ReportError(QStringLiteral("Error setting cropped area"),
                          QStringLiteral("CLM_CropSet"));
        return;
    }
    title->CropRight = static_cast<int>(right);
    const int64_t bottom = int64_t(frame.height()) - height - top;
    if (!fits(bottom)) {
        Sinks.ReportError(QStringLiteral("Error setting cropped area"),
                          QStringLiteral("CLM_CropSet"));
        return;
    }
    title->CropBottom = static_cast<int>(bottom);
    title->AspectRatio = cmbAspectRatio->currentIndex();
}

void TCropForm::OkButtonClick() {
    ApplyButtonClick();
    accept();
}

void TCropForm::CancelButtonClick() {
    reject();
}

void TCropForm::ResetButtonClick() {
    LoadTitleValues();
}

bool TCropForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == panPreview1) {
        if (event->type() == QEvent::Resize) {
            std::lock_guard g(FSharedMutex);
            FShared.PanelWidth = panPreview1->width();
            FShared.PanelHeight = panPreview1->height();
        }
        return QDialog::eventFilter(watched, event);
    }
    for (THandle k : AllHandles) {
        if (watched != HandleWidget(k))
            continue;
        const QEvent::Type type = event->type();
        if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
            return QDialog::eventFilter(watched, event);
        auto* me = static_cast<QMouseEvent*>(event);
        switch (type) {
        case QEvent::MouseButtonPress:
            if (me->button() == Qt::LeftButton)
                HandleMouseDown(k, me->position().toPoint());
            return true;
        case QEvent::MouseMove:
            HandleMouseMove(k, me->position().toPoint());
            return true;
        case QEvent::MouseButtonRelease:
            if (me->button() == Qt::LeftButton)
                HandleMouseUp(k);
            return true;
        default:
            return QDialog::eventFilter(watched, event);
        }
    }
    return QDialog::eventFilter(watched, event);
}
