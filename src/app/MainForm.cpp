#include "app/MainForm.h"

#include "app/AboutForm.h"
#include "editing/ClipForm.h"
#include "editing/CropForm.h"
#include "editing/Preview.h"
#include "pipeline/BurnStep.h"
#include "pipeline/ConvForm.h"
#include "pipeline/CreationRun.h"
#include "pipeline/MenuForm.h"
#include "pipeline/MenuSettings.h"
#include "project/Endpoints.h"
#include "project/ErrorReport.h"
#include "project/Estimate.h"
#include "project/EventsLog.h"
#include "project/FileInfo.h"
#include "project/Folders.h"
#include "project/Settings.h"
#include "project/TitleList.h"
#include "project/UserPrompts.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QMimeData>
#include <QFileInfo>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionProgressBar>
#include <QTableWidget>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QString Name(const char* s) {
    return QString::fromLatin1(s);
}

QAction* MakeAction(QObject* parent, const char* name, const QString& caption) {
    auto* a = new QAction(caption, parent);
    a->setObjectName(Name(name));
    return a;
}

QLabel* PictureLabel(QWidget* parent, const char* name) {
    auto* l = new QLabel(parent);
    l->setObjectName(Name(name));
    l->setScaledContents(true);
    l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    return l;
}

} // namespace

void TSizeGauge::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QStyleOptionProgressBar opt;
    initStyleOption(&opt);
    opt.textVisible = false;
    // The frame of the platform's gauge, our own bar and text over it.
    style()->drawControl(QStyle::CE_ProgressBarGroove, &opt, &p, this);
    const int range = maximum() - minimum();
    if (range > 0 && value() > minimum()) {
        const double fraction = std::min(1.0, double(value() - minimum()) / range);
        QRect bar = rect().adjusted(1, 1, -1, -1);
        bar.setWidth(static_cast<int>(bar.width() * fraction));
        p.fillRect(bar, BarColor);
    }
    p.setPen(Qt::black);
    p.drawText(rect().adjusted(8, 0, -8, 0), Qt::AlignVCenter | Qt::AlignLeft, Caption);
}

TMainForm::TMainForm() {
    setObjectName(QStringLiteral("MainForm"));
    BuildUi();
    BuildMenus();
    TPreviewWidgets widgets;
    widgets.panPreview = panPreview;
    widgets.panPlayerArea = panPlayerArea;
    widgets.PlayButton = PlayButton;
    widgets.StopButton = StopButton;
    widgets.SnapshotButton = SnapshotButton;
    widgets.VideoTrackBar = VideoTrackBar;
    widgets.VolumeTrackBar = VolumeTrackBar;
    widgets.lblPlayTime = lblPlayTime;
    widgets.JPEG1 = JPEG1;
    widgets.BMP1 = BMP1;
    Preview = new TPreview(VideoFiles, [this] { return SelectedTitle(); }, widgets, this);
    Preview->ExecDialog = [](QDialog& d) { return Prompts().ExecDialog(d); };
    connect(Item12, &QAction::triggered, Preview, &TPreview::SnapshotButtonClick);
    FFLogger = new TFFLogger(this);
    connect(FFLogger, &TFFLogger::OnLog, this, &TMainForm::FFLoggerLog);
}

TMainForm::~TMainForm() {
    MenuPreview.Clear();
}

void TMainForm::BuildUi() {
    setWindowTitle(QStringLiteral("Ordavine"));
    resize(1280, 800);
    auto* central = new QWidget(this);
    auto* root = new QVBoxLayout(central);
    root->setContentsMargins(10, 10, 10, 10);
    root->setSpacing(10);
    setCentralWidget(central);

    auto* top = new QHBoxLayout;
    root->addLayout(top, 1);

    // Left: the title list, with the getting-started page until the first add.
    auto* listBox = new QGroupBox(QStringLiteral("Titles"), central);
    auto* listLayout = new QVBoxLayout(listBox);
    ListPages = new QStackedWidget(listBox);
    GettingStartedPanel = new QWidget(ListPages);
    GettingStartedPanel->setObjectName(Name("GettingStartedPanel"));
    auto* gsLayout = new QVBoxLayout(GettingStartedPanel);
    gsLayout->setContentsMargins(0, 0, 0, 0);
    GettingStartedImage = PictureLabel(GettingStartedPanel, "GettingStartedImage");
    gsLayout->addWidget(GettingStartedImage);
    sgList = new QTableWidget(0, 4, ListPages);
    sgList->setObjectName(Name("sgList"));
    sgList->setHorizontalHeaderLabels({QStringLiteral("Source"), QStringLiteral("Resolution"),
                                       QStringLiteral("Duration"), QStringLiteral("Title in Menu")});
    sgList->verticalHeader()->hide();
    sgList->verticalHeader()->setDefaultSectionSize(17);
    sgList->horizontalHeader()->setFixedHeight(20);
    sgList->horizontalHeader()->setStretchLastSection(true);
    sgList->horizontalHeader()->setTextElideMode(Qt::ElideRight);
    sgList->setTextElideMode(Qt::ElideRight);
    sgList->setWordWrap(false);
    sgList->setSelectionBehavior(QAbstractItemView::SelectRows);
    sgList->setSelectionMode(QAbstractItemView::SingleSelection);
    sgList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    sgList->setContextMenuPolicy(Qt::CustomContextMenu);
    sgList->setStyleSheet(QStringLiteral("QTableWidget { gridline-color: #E6E6E6; background: #FFFFFF; }"));
    sgList->setIconSize(QSize(16, 16));
    ListPages->addWidget(GettingStartedPanel);
    ListPages->addWidget(sgList);
    listLayout->addWidget(ListPages, 1);
    // Files dropped on the list (or on the getting-started page) are added as Add does.
    sgList->setAcceptDrops(true);
    for (QWidget* target : {static_cast<QWidget*>(sgList->viewport()), GettingStartedPanel}) {
        target->setAcceptDrops(true);
        target->installEventFilter(this);
    }
    edDestinationTitle = new QLineEdit(sgList->viewport());
    edDestinationTitle->setObjectName(Name("edDestinationTitle"));
    edDestinationTitle->hide();
    edDestinationTitle->installEventFilter(this);
    connect(edDestinationTitle, &QLineEdit::returnPressed, this, &TMainForm::edDestinationTitleExit);
    connect(sgList, &QTableWidget::cellPressed, this, [this](int row, int column) {
        if (column == 3 && row >= 0 && row < VideoFiles.size()) {
            sgList->setCurrentCell(row, column);
            Rename1Click();
        }
    });

    auto* listButtons = new QHBoxLayout;
    AddButton = new QPushButton(style()->standardIcon(QStyle::SP_FileDialogNewFolder), QStringLiteral("Add video"), listBox);
    AddButton->setObjectName(Name("AddButton"));
    EditButton = new QPushButton(style()->standardIcon(QStyle::SP_FileDialogDetailedView), QStringLiteral("Edit"), listBox);
    EditButton->setObjectName(Name("EditButton"));
    EditButton->setToolTip(QStringLiteral("Crop Video..."));
    ClipButton = new QPushButton(style()->standardIcon(QStyle::SP_MediaSeekForward), QStringLiteral("Trim"), listBox);
    ClipButton->setObjectName(Name("ClipButton"));
    ClipButton->setToolTip(QStringLiteral("Clip Video..."));
    listButtons->addWidget(AddButton);
    listButtons->addWidget(EditButton);
    listButtons->addWidget(ClipButton);
    listButtons->addStretch(1);
    listLayout->addLayout(listButtons);
    top->addWidget(listBox, 3);

    // Right: preview above, menu preview below.
    auto* right = new QVBoxLayout;
    top->addLayout(right, 2);
    auto* previewBox = new QGroupBox(QStringLiteral("Preview"), central);
    auto* previewLayout = new QVBoxLayout(previewBox);
    // The idle picture lies over the video surface and is hidden while a title plays.
    PreviewArea = new QWidget(previewBox);
    PreviewArea->setMinimumSize(360, 220);
    auto* previewStack = new QGridLayout(PreviewArea);
    previewStack->setContentsMargins(0, 0, 0, 0);
    panPlayerArea = new QWidget(PreviewArea);
    panPlayerArea->setObjectName(Name("panPlayerArea"));
    auto* playerAreaLayout = new QVBoxLayout(panPlayerArea);
    playerAreaLayout->setContentsMargins(0, 0, 0, 0);
    imgPlayerArea = PictureLabel(panPlayerArea, "imgPlayerArea");
    playerAreaLayout->addWidget(imgPlayerArea);
    panPreview = new QWidget(PreviewArea);
    panPreview->setObjectName(Name("panPreview"));
    panPreview->setStyleSheet(QStringLiteral("background: black;"));
    panPreview->setLayout(new QVBoxLayout);
    panPreview->layout()->setContentsMargins(0, 0, 0, 0);
    previewStack->addWidget(panPreview, 0, 0);
    previewStack->addWidget(panPlayerArea, 0, 0);
    panPlayerArea->raise();
    previewLayout->addWidget(PreviewArea, 1);
    VideoTrackBar = new QSlider(Qt::Horizontal, previewBox);
    VideoTrackBar->setObjectName(Name("VideoTrackBar"));
    VideoTrackBar->setRange(0, 1000);
    VideoTrackBar->setValue(0);
    VideoTrackBar->setPageStep(0);
    previewLayout->addWidget(VideoTrackBar);
    auto* playerButtons = new QHBoxLayout;
    PlayButton = new QPushButton(style()->standardIcon(QStyle::SP_MediaPlay), QString(), previewBox);
    PlayButton->setObjectName(Name("PlayButton"));
    PlayButton->setToolTip(QStringLiteral("Play"));
    PlayButton->setCheckable(true);
    StopButton = new QPushButton(style()->standardIcon(QStyle::SP_MediaStop), QString(), previewBox);
    StopButton->setObjectName(Name("StopButton"));
    StopButton->setToolTip(QStringLiteral("Stop"));
    SnapshotButton = new QToolButton(previewBox);
    SnapshotButton->setObjectName(Name("SnapshotButton"));
    SnapshotButton->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    SnapshotButton->setToolTip(QStringLiteral("Snapshot"));
    SnapshotButton->setPopupMode(QToolButton::MenuButtonPopup);
    lblPlayTime = new QLabel(QStringLiteral("00:00:00 / 00:00:00"), previewBox);
    lblPlayTime->setObjectName(Name("lblPlayTime"));
    lblPlayTime->hide();
    VolumeTrackBar = new QSlider(Qt::Horizontal, previewBox);
    VolumeTrackBar->setObjectName(Name("VolumeTrackBar"));
    VolumeTrackBar->setRange(0, 128);
    VolumeTrackBar->setValue(50);
    VolumeTrackBar->hide();
    playerButtons->addWidget(PlayButton);
    playerButtons->addWidget(StopButton);
    playerButtons->addStretch(1);
    playerButtons->addWidget(SnapshotButton);
    previewLayout->addLayout(playerButtons);
    right->addWidget(previewBox, 1);

    auto* menuBox = new QGroupBox(QStringLiteral("DVD Menu"), central);
    auto* menuLayout = new QVBoxLayout(menuBox);
    panDVDMenu = new QWidget(menuBox);
    panDVDMenu->setObjectName(Name("panDVDMenu"));
    panDVDMenu->setMinimumSize(320, 180);
    imgMenuPreview = PictureLabel(panDVDMenu, "imgMenuPreview");
    imgMenuPreview->lower();
    panDVDMenu->installEventFilter(this);
    menuLayout->addWidget(panDVDMenu, 1);
    auto* menuButtons = new QHBoxLayout;
    PrevBackgroundButton = new QToolButton(menuBox);
    PrevBackgroundButton->setObjectName(Name("PrevBackgroundButton"));
    PrevBackgroundButton->setArrowType(Qt::LeftArrow);
    PrevBackgroundButton->setToolTip(QStringLiteral("Previous background"));
    NextBackgroundButton = new QToolButton(menuBox);
    NextBackgroundButton->setObjectName(Name("NextBackgroundButton"));
    NextBackgroundButton->setArrowType(Qt::RightArrow);
    NextBackgroundButton->setToolTip(QStringLiteral("Next background"));
    lblTheme = new QLabel(menuBox);
    lblTheme->setObjectName(Name("lblTheme"));
    DesignButton = new QPushButton(style()->standardIcon(QStyle::SP_FileDialogContentsView), QStringLiteral("Design..."), menuBox);
    DesignButton->setObjectName(Name("DesignButton"));
    menuButtons->addWidget(PrevBackgroundButton);
    menuButtons->addWidget(lblTheme, 1, Qt::AlignCenter);
    menuButtons->addWidget(NextBackgroundButton);
    menuButtons->addWidget(DesignButton);
    menuLayout->addLayout(menuButtons);
    right->addWidget(menuBox, 1);

    // Bottom: the gauges, then the disc settings and the burn button.
    auto* gauges = new QHBoxLayout;
    gauges->setSpacing(0);
    SizeLine = new TSizeGauge(central);
    SizeLine->setObjectName(Name("SizeLine"));
    SizeLine->setRange(0, 5000);
    SizeLine->setFixedHeight(22);
    OutSizeLine = new TSizeGauge(central);
    OutSizeLine->setObjectName(Name("OutSizeLine"));
    OutSizeLine->setRange(0, 5000);
    OutSizeLine->setFixedHeight(22);
    OutSizeLine->BarColor = QColor(0xd8, 0x4a, 0x3d);
    gauges->addWidget(SizeLine, 5);
    gauges->addWidget(OutSizeLine, 1);
    root->addLayout(gauges);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(new QLabel(QStringLiteral("Destination:"), central));
    cmbDrives = new QComboBox(central);
    cmbDrives->setObjectName(Name("cmbDrives"));
    cmbDrives->setMinimumWidth(280);
    bottom->addWidget(cmbDrives, 2);
    cmbDVDType = new QComboBox(central);
    cmbDVDType->setObjectName(Name("cmbDVDType"));
    cmbDVDType->addItems({QString::fromLatin1(DiscTypeItems[0]), QString::fromLatin1(DiscTypeItems[1])});
    cmbDVDType->setCurrentIndex(0);
    bottom->addWidget(cmbDVDType);
    bottom->addSpacing(12);
    bottom->addWidget(new QLabel(QStringLiteral("Volume label:"), central));
    edDiskTitle = new QLineEdit(QStringLiteral("Video DVD"), central);
    edDiskTitle->setObjectName(Name("edDiskTitle"));
    bottom->addWidget(edDiskTitle, 1);
    bottom->addSpacing(12);
    StartButton = new QPushButton(style()->standardIcon(QStyle::SP_DriveDVDIcon), QStringLiteral("Burn DVD"), central);
    StartButton->setObjectName(Name("StartButton"));
    StartButton->setMinimumSize(150, 40);
    QFont big = StartButton->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.2);
    StartButton->setFont(big);
    StartButton->setStyleSheet(QStringLiteral(
        "QPushButton#StartButton { background: #2f7d32; color: white; border-radius: 5px; padding: 6px 18px; }"
        "QPushButton#StartButton:hover { background: #388e3c; }"
        "QPushButton#StartButton:disabled { background: #a5b8a6; color: #eef2ee; }"));
    bottom->addWidget(StartButton);
    root->addLayout(bottom);

    connect(AddButton, &QPushButton::clicked, this, &TMainForm::AddButtonClick);
    connect(EditButton, &QPushButton::clicked, this, &TMainForm::EditButtonClick);
    connect(ClipButton, &QPushButton::clicked, this, &TMainForm::ClipButtonClick);
    connect(StartButton, &QPushButton::clicked, this, &TMainForm::StartButtonClick);
    connect(DesignButton, &QPushButton::clicked, this, &TMainForm::DVDMenu1Click);
    connect(PrevBackgroundButton, &QToolButton::clicked, this, &TMainForm::PrevBackgroundButtonClick);
    connect(NextBackgroundButton, &QToolButton::clicked, this, &TMainForm::NextBackgroundButtonClick);
    connect(cmbDVDType, &QComboBox::currentIndexChanged, this, &TMainForm::cmbDVDTypeChange);
    connect(sgList, &QTableWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { ListMenu->popup(sgList->viewport()->mapToGlobal(pos)); });

    // Initial enabled states.
    StartButton->setEnabled(false);
    EditButton->setEnabled(false);
    ClipButton->setEnabled(false);
}

void TMainForm::BuildMenus() {
    AddVideoFiles1 = MakeAction(this, "AddVideoFiles1", QStringLiteral("Add video files"));
    AddVideoFiles2 = MakeAction(this, "AddVideoFiles2", QStringLiteral("Add Video Files..."));
    StartConversion1 = MakeAction(this, "StartConversion1", QStringLiteral("Start Conversion"));
    Exit1 = MakeAction(this, "Exit1", QStringLiteral("Exit"));
    Remove1 = MakeAction(this, "Remove1", QStringLiteral("Remove"));
    ClearAll1 = MakeAction(this, "ClearAll1", QStringLiteral("Clear All"));
    Rename1 = MakeAction(this, "Rename1", QStringLiteral("Rename"));
    MoveUp1 = MakeAction(this, "MoveUp1", QStringLiteral("Move Up"));
    MoveDown1 = MakeAction(this, "MoveDown1", QStringLiteral("Move Down"));
    EditVideo1 = MakeAction(this, "EditVideo1", QStringLiteral("Crop Video..."));
    EditVideo2 = MakeAction(this, "EditVideo2", QStringLiteral("Crop Video..."));
    ClipVideo1 = MakeAction(this, "ClipVideo1", QStringLiteral("Clip Video..."));
    ClipVideo2 = MakeAction(this, "ClipVideo2", QStringLiteral("Clip Video..."));
    FileInformation1 = MakeAction(this, "FileInformation1", QStringLiteral("File Information"));
    EventsLog1 = MakeAction(this, "EventsLog1", QStringLiteral("Events Log"));
    DVDMenu1 = MakeAction(this, "DVDMenu1", QStringLiteral("DVD Menu"));
    Preferences1 = MakeAction(this, "Preferences1", QStringLiteral("Preferences"));
    Help2 = MakeAction(this, "Help2", QStringLiteral("Online Guide"));
    Support1 = MakeAction(this, "Support1", QStringLiteral("Support"));
    ProductPage1 = MakeAction(this, "ProductPage1", QStringLiteral("Product Page"));
    About1 = MakeAction(this, "About1", QStringLiteral("About"));
    Item12 = MakeAction(this, "Item12", QStringLiteral("Snapshot"));
    Item22 = MakeAction(this, "Item22", QStringLiteral("Open Snapshot Folder"));
    Item32 = MakeAction(this, "Item32", QStringLiteral("Change Snapshot Folder"));
    JPEG1 = MakeAction(this, "JPEG1", QStringLiteral("JPEG"));
    BMP1 = MakeAction(this, "BMP1", QStringLiteral("BMP"));

    AddVideoFiles1->setIcon(style()->standardIcon(QStyle::SP_FileDialogNewFolder));
    StartConversion1->setIcon(style()->standardIcon(QStyle::SP_DriveDVDIcon));
    Exit1->setShortcut(QKeySequence::Quit);
    AddVideoFiles1->setShortcut(QKeySequence::Open);
    Remove1->setShortcut(QKeySequence::Delete);
    Rename1->setShortcut(Qt::Key_F2);

    auto* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(AddVideoFiles1);
    file->addAction(StartConversion1);
    file->addAction(FileInformation1);
    file->addSeparator();
    file->addAction(Exit1);
    auto* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    edit->addActions({Remove1, ClearAll1, Rename1});
    edit->addSeparator();
    edit->addActions({MoveUp1, MoveDown1});
    edit->addSeparator();
    edit->addActions({EditVideo1, ClipVideo1});
    auto* tools = menuBar()->addMenu(QStringLiteral("&Tools"));
    tools->addActions({EventsLog1, DVDMenu1, Preferences1});
    auto* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addActions({Help2, Support1, ProductPage1});
    help->addSeparator();
    help->addAction(About1);

    ListMenu = new QMenu(this);
    ListMenu->setObjectName(Name("ListMenu"));
    ListMenu->addAction(AddVideoFiles2);
    ListMenu->addSeparator();
    ListMenu->addActions({Remove1, ClearAll1, Rename1});
    ListMenu->addSeparator();
    ListMenu->addActions({MoveUp1, MoveDown1});
    ListMenu->addSeparator();
    ListMenu->addActions({EditVideo2, ClipVideo2, FileInformation1});

    SnapshotMenu = new QMenu(this);
    SnapshotMenu->setObjectName(Name("SnapshotMenu"));
    SnapshotMenu->addAction(Item12);
    SnapshotMenu->addAction(Item22);
    SnapshotMenu->addAction(Item32);
    auto* format = SnapshotMenu->addMenu(QStringLiteral("Change Snapshot Format"));
    format->setObjectName(Name("ChangeSnapshotFormat1"));
    auto* formats = new QActionGroup(this);
    for (QAction* a : {JPEG1, BMP1}) {
        a->setCheckable(true);
        formats->addAction(a);
        format->addAction(a);
    }
    JPEG1->setChecked(true);
    SnapshotButton->setMenu(SnapshotMenu);

    connect(AddVideoFiles1, &QAction::triggered, this, &TMainForm::AddButtonClick);
    connect(AddVideoFiles2, &QAction::triggered, this, &TMainForm::AddButtonClick);
    connect(StartConversion1, &QAction::triggered, this, &TMainForm::StartButtonClick);
    connect(Exit1, &QAction::triggered, this, &TMainForm::Exit1Click);
    connect(Remove1, &QAction::triggered, this, &TMainForm::Remove1Click);
    connect(ClearAll1, &QAction::triggered, this, &TMainForm::ClearAll1Click);
    connect(Rename1, &QAction::triggered, this, &TMainForm::Rename1Click);
    connect(MoveUp1, &QAction::triggered, this, &TMainForm::MoveUp1Click);
    connect(MoveDown1, &QAction::triggered, this, &TMainForm::MoveDown1Click);
    connect(EditVideo1, &QAction::triggered, this, &TMainForm::EditButtonClick);
    connect(EditVideo2, &QAction::triggered, this, &TMainForm::EditButtonClick);
    connect(ClipVideo1, &QAction::triggered, this, &TMainForm::ClipButtonClick);
    connect(ClipVideo2, &QAction::triggered, this, &TMainForm::ClipButtonClick);
    connect(FileInformation1, &QAction::triggered, this, &TMainForm::FileInformation1Click);
    connect(EventsLog1, &QAction::triggered, this, &TMainForm::EventsLog1Click);
    connect(DVDMenu1, &QAction::triggered, this, &TMainForm::DVDMenu1Click);
    connect(Preferences1, &QAction::triggered, this, &TMainForm::Preferences1Click);
    connect(Help2, &QAction::triggered, this, &TMainForm::Help2Click);
    connect(Support1, &QAction::triggered, this, &TMainForm::Support1Click);
    connect(ProductPage1, &QAction::triggered, this, &TMainForm::ProductPage1Click);
    connect(About1, &QAction::triggered, this, &TMainForm::About1Click);
    connect(Item22, &QAction::triggered, this, &TMainForm::Item22Click);
    connect(Item32, &QAction::triggered, this, &TMainForm::Item32Click);

    // Initial enabled states: the title commands wait for the first add.
    Item12->setEnabled(false);
    SetTitleCommandsEnabled(false);
}

void TMainForm::SetTitleCommandsEnabled(bool enabled) {
    EditButton->setEnabled(enabled);
    ClipButton->setEnabled(enabled);
    for (QAction* a : {Remove1, ClearAll1, Rename1, MoveUp1, MoveDown1, EditVideo1, EditVideo2, ClipVideo1, ClipVideo2,
                       FileInformation1})
        a->setEnabled(enabled);
}

void TMainForm::SetDialogs(TSettingsForm* settings, TFileInfoForm* fileInfo, TAboutForm* about, TConvForm* conv) {
    ConvForm = conv;
    SettingsForm = settings;
    if (settings)
        settings->BuildSpeedList = [this](QComboBox& list) {
            const auto medium = static_cast<int>(Burner.DiscIs());
            list.addItems(SpeedListEntries(medium, Burner.MaxWriteSpeed(), [this](int request) {
                Burner.SetDeviceSpeed(0, static_cast<std::uint16_t>(request));
                return static_cast<int>(Burner.WriteSpeed());
            }));
        };
    if (settings)
        Preview->SnapshotFolder = settings->ScreenShotsPath;
    FileInfoForm = fileInfo;
    AboutForm = about;
}

QString TMainForm::SnapshotFolder() const {
    return Preview->SnapshotFolder;
}

void TMainForm::FormCreate() {
    QApplication::setApplicationDisplayName(QString());
    QApplication::setApplicationName(QStringLiteral("Ordavine"));
    setWindowTitle(QStringLiteral("Ordavine"));
    if (ErrorReporter())
        ErrorReporter()->LoggerHistory = QStringList{QStringLiteral("FFLOGGER HISTORY:")};
    cmbDVDTypeChange();
    sgList->setColumnWidth(0, 132);
    sgList->setColumnWidth(1, 92);
    sgList->setColumnWidth(2, 87);
    sgList->setColumnWidth(3, std::max(40, sgList->viewport()->width() - 132 - 92 - 87));

    const QString program = ProgramFolder();
    if (!FFEncoder.AVLibLoaded() && !FFEncoder.LoadAVLib(program + QStringLiteral("LibAV"))) {
        ReportError(FFEncoder.LastErrMsg(), QStringLiteral("CLM_FFAVLibLoad"));
        AppendEventsLog(FFEncoder.LastErrMsg());
        return;
    }

    // The drives, the virtual recorder last; its images go to the default work folder until a
    // run points it at the preferences' temporary folder.
    Burner.SetCacheSize(32);
    Burner.SetUDFBridge(false);
    Burner.InitializeASPI(false, std::string(), std::string());
    Burner.SetUpForDriveList(QFile::encodeName(DocumentsFolder() + QStringLiteral("/Parvenor/Ordavine/Output")).toStdString());
    for (int i = 0; i < std::min<int>(Burner.DeviceCount(), 256); ++i)
        cmbDrives->addItem(QString::fromStdString(Burner.GetDeviceName(i)));
    if (cmbDrives->count() > 0) {
        cmbDrives->setCurrentIndex(0);
        cmbDrivesChange();
    }
    connect(cmbDrives, &QComboBox::activated, this, &TMainForm::cmbDrivesChange);

    GettingStartedImage->setPixmap(QPixmap(program + QStringLiteral("/common-data/gs.bmp")));
    const QString preview = program + QStringLiteral("/common-data/preview.bmp");
    if (QFileInfo::exists(preview))
        imgPlayerArea->setPixmap(QPixmap(preview));
    else
        panPlayerArea->hide();

    MenuSettings = TMenuSettings();
    MenuSettings.BackgroundImage = FirstMenuBackground(program + QStringLiteral("menu-backgrounds/"));
    UpdateMenuPreview();
}

void TMainForm::closeEvent(QCloseEvent* event) {
    FormClose();
    QMainWindow::closeEvent(event);
}

void TMainForm::FormClose() {
    StopButtonClick();
    if (SettingsForm) {
        SettingsForm->ScreenShotsPath = Preview->SnapshotFolder;
        SettingsForm->SaveSettings();
    }
    MenuPreview.Clear();
}

void TMainForm::StopButtonClick() {
    if (Preview)
        Preview->StopButtonClick();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edDestinationTitle && event->type() == QEvent::FocusOut && !edDestinationTitle->isHidden())
        edDestinationTitleExit();
    if ((watched == sgList->viewport() || watched == GettingStartedPanel) &&
        (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove || event->type() == QEvent::Drop)) {
        auto* drop = static_cast<QDropEvent*>(event);
        QStringList files;
        for (const QUrl& url : drop->mimeData()->urls())
            if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile())
                files << url.toLocalFile();
        if (files.isEmpty())
            return false;
        drop->acceptProposedAction();
        if (event->type() == QEvent::Drop)
            AddFilesFromOutside(files);
        return true;
    }
    if (watched == panDVDMenu && event->type() == QEvent::Resize)
        UpdateMenuPreview(); // labels and font follow the panel's size
    return QMainWindow::eventFilter(watched, event);
}

int TMainForm::SelectedTitle() const {
    const int row = sgList->currentRow();
    return row >= 0 && row < VideoFiles.size() ? row : -1;
}

void TMainForm::SelectTitle(int index) {
    if (index >= 0 && index < VideoFiles.size())
        sgList->setCurrentCell(index, std::max(0, sgList->currentColumn()));
}

void TMainForm::RefreshList() {
    static const QIcon fileIcon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    const int current = sgList->currentRow();
    sgList->setRowCount(static_cast<int>(VideoFiles.size()));
    for (int i = 0; i < VideoFiles.size(); ++i) {
        const TVideoFile& f = VideoFiles[i];
        auto set = [this, i](int column, const QString& text, Qt::Alignment align) {
            QTableWidgetItem* item = sgList->item(i, column);
            if (!item) {
                item = new QTableWidgetItem;
                sgList->setItem(i, column, item);
            }
            item->setText(text);
            item->setTextAlignment(align);
            return item;
        };
        set(0, f.SourceTitleExt, Qt::AlignLeft | Qt::AlignVCenter)->setIcon(fileIcon);
        set(0, f.SourceTitleExt, Qt::AlignLeft | Qt::AlignVCenter)->setToolTip(f.Source);
        set(1, QStringLiteral("%1x%2").arg(f.SourceWidth).arg(f.SourceHeight), Qt::AlignCenter);
        set(2, FormatDuration(f.TrimmedLength), Qt::AlignCenter);
        set(3, f.DestinationTitle, Qt::AlignLeft | Qt::AlignVCenter);
    }
    if (current >= VideoFiles.size())
        sgList->setCurrentCell(static_cast<int>(VideoFiles.size()) - 1, 0);
    sgList->viewport()->update();
}

bool TMainForm::LoadMediaLibraries() {
    if (FFEncoder.LoadAVLib(ProgramFolder() + QStringLiteral("LibAV")))
        return true;
    ReportError(FFEncoder.LastErrMsg(), QStringLiteral("CLM_FFLoadAVLib2"));
    AppendEventsLog(FFEncoder.LastErrMsg());
    return false;
}

void TMainForm::AddButtonClick() {
    if (!LoadMediaLibraries())
        return;
    const QString folder = SettingsForm ? SettingsForm->OpenVideoDialogPath : QString();
    QStringList filters = OpenDialogNameFilters();
    filters << QStringLiteral("All files (*)");
    const QStringList files =
        Prompts().GetOpenFileNames(this, QStringLiteral("Open file"), folder, filters.join(QStringLiteral(";;")));
    if (!files.isEmpty()) {
        if (SettingsForm) {
            SettingsForm->LastAddedFile = files.first();
            SettingsForm->OpenVideoDialogPath = QFileInfo(files.first()).absolutePath();
        }
        AddFiles(files);
    }
    UpdateEstimatedOutputSize();
    UpdateMenuPreview();
}

void TMainForm::AddFiles(const QStringList& files) {
    // Command states of a confirmed add, whether or not any file loads.
    ListPages->setCurrentWidget(sgList);
    StartButton->setEnabled(true);
    Item12->setEnabled(true);
    SetTitleCommandsEnabled(true);
    for (const QString& path : files) {
        TVideoFile title;
        if (!ProbeTitle(FFEncoder.Decoder, path, title)) {
            ReportFileLoadError(FFEncoder.Decoder.LastErrMsg());
            continue;
        }
        VideoFiles.push_back(title);
        RefreshList();
    }
    if (SelectedTitle() < 0 && !VideoFiles.isEmpty())
        SelectTitle(0);
    RefreshList();
}

void TMainForm::AddFilesFromOutside(const QStringList& files) {
    if (!LoadMediaLibraries())
        return;
    QStringList paths;
    for (const QString& f : files)
        paths << QFileInfo(f).absoluteFilePath();
    if (SettingsForm && !paths.isEmpty())
        SettingsForm->LastAddedFile = paths.first();
    AddFiles(paths);
    UpdateEstimatedOutputSize();
    UpdateMenuPreview();
}

void TMainForm::Remove1Click() {
    const int selected = SelectedTitle();
    if (!VideoFiles.isEmpty() && selected >= 0) {
        if (VideoFiles.size() == 1) {
            ClearAll1Click();
            return;
        }
        VideoFiles.removeAt(selected);
        RefreshList();
        SelectTitle(std::min<int>(selected, static_cast<int>(VideoFiles.size()) - 1));
    }
    UpdateEstimatedOutputSize();
    UpdateMenuPreview();
}

void TMainForm::ClearAll1Click() {
    VideoFiles.clear();
    RefreshList();
    SetTitleCommandsEnabled(false);
    Item12->setEnabled(true);
    UpdateEstimatedOutputSize();
    UpdateMenuPreview();
}

void TMainForm::Rename1Click() {
    const int row = SelectedTitle();
    if (row < 0)
        return;
    FRenameRow = row;
    const QRect cell = sgList->visualRect(sgList->model()->index(row, 3));
    edDestinationTitle->setGeometry(cell.left(), cell.top() - 1, sgList->columnWidth(3), cell.height() + 2);
    edDestinationTitle->setText(VideoFiles[row].DestinationTitle);
    edDestinationTitle->show();
    edDestinationTitle->setFocus();
    edDestinationTitle->selectAll();
}

void TMainForm::edDestinationTitleExit() {
    if (!!edDestinationTitle->isHidden())
        return;
    const int row = FRenameRow >= 0 && FRenameRow < VideoFiles.size() ? FRenameRow : SelectedTitle();
    FRenameRow = -1;
    edDestinationTitle->hide();
    if (row >= 0) {
        VideoFiles[row].DestinationTitle = edDestinationTitle->text();
        RefreshList();
    }
    UpdateMenuPreview();
}

void TMainForm::MoveUp1Click() {
    const int s = SelectedTitle();
    if (VideoFiles.size() >= 2 && s > 0) {
        SwapTitles(VideoFiles, s, s - 1);
        RefreshList();
        SelectTitle(s - 1);
    }
    UpdateMenuPreview();
}

void TMainForm::MoveDown1Click() {
    const int s = SelectedTitle();
    if (VideoFiles.size() >= 2 && s >= 0 && s < VideoFiles.size() - 1) {
        SwapTitles(VideoFiles, s, s + 1);
        RefreshList();
        SelectTitle(s + 1);
    }
    UpdateMenuPreview();
}

void TMainForm::UpdateEstimatedOutputSize() {
    const TEstimate e = EstimateOutputSize(VideoFiles, cmbDVDType->currentIndex());
    if (e.Failed)
        ReportError(QStringLiteral("Error updating Size Line"), QStringLiteral("CLM_UpdateSizeLine"));
    EstimatedOutputSize = e.Size;
    SizeLine->setValue(std::min(EstimatedOutputSize, SizeLine->maximum()));
    SizeLine->Caption = QString::number(EstimatedOutputSize) + QStringLiteral(" MB");
    OutSizeLine->setValue(std::min(e.Overflow, OutSizeLine->maximum()));
    OutSizeLine->Caption = cmbDVDType->currentText();
    SizeLine->update();
    OutSizeLine->update();
}

void TMainForm::cmbDVDTypeChange() {
    const int capacity = DiscCapacity[cmbDVDType->currentIndex() == 1 ? 1 : 0];
    SizeLine->setMaximum(capacity);
    const double ratio = OutSizeLine->width() > 0 ? double(SizeLine->width()) / OutSizeLine->width() : 5.0;
    OutSizeLine->setMaximum(static_cast<int>(std::max<long long>(1, RoundHalfEven(capacity / ratio))));
    UpdateEstimatedOutputSize();
}

void TMainForm::cmbDrivesChange() {
    Burner.SelectDevice(cmbDrives->currentIndex());
    StartButton->setEnabled(Burner.DeviceIsBurner());
}

int TMainForm::ChosenWriteSpeed() const {
    if (!SettingsForm)
        return 0;
    // "8x (11,080 KB/s)": the KB/s between the parentheses; "Max" asks for the maximum.
    const QString entry = SettingsForm->cmbSpeed->currentText();
    const qsizetype open = entry.indexOf(QLatin1Char('('));
    if (open < 0)
        return 0;
    QString digits;
    for (QChar c : entry.mid(open))
        if (c.isDigit())
            digits += c;
    return std::min(digits.toInt(), 65535);
}

void TMainForm::UpdateMenuPreview() {
    for (int i = 0; i < 3; ++i)
        MenuColors[i] = ColorOfName(MenuSettings.ColorName[i]);
    imgMenuPreview->setGeometry(panDVDMenu->rect());
    MenuPreview.BuildLabels(panDVDMenu, VideoFiles, MenuSettings.FontName, MenuSettings.FontSize, MenuColors);
    if (QFileInfo::exists(MenuSettings.BackgroundImage)) {
        imgMenuPreview->setPixmap(QPixmap(MenuSettings.BackgroundImage));
        lblTheme->setText(ThemeCaption(MenuSettings.BackgroundImage));
    }
}

void TMainForm::FFLoggerLog(quint64 threadId, const QString& message, int level) {
    if (ErrorReporter())
        ErrorReporter()->FFLoggerLog(threadId, message, level);
}

void TMainForm::FileInformation1Click() {
    const int s = SelectedTitle();
    if (s < 0 || !FileInfoForm)
        return;
    FileInfoForm->ShowFor(FFEncoder.Decoder, VideoFiles[s]);
}

void TMainForm::EventsLog1Click() {
    if (EventsLog())
        Prompts().ExecDialog(*EventsLog());
}

void TMainForm::Preferences1Click() {
    if (SettingsForm)
        Prompts().ExecDialog(*SettingsForm);
}

void TMainForm::About1Click() {
    if (AboutForm)
        Prompts().ExecDialog(*AboutForm);
}

void TMainForm::Exit1Click() {
    close();
}

void TMainForm::OpenPage(const QString& address) {
    if (!address.isEmpty())
        Prompts().OpenUrl(QUrl(address));
}

void TMainForm::Help2Click() {
    OpenPage(ErrorReporter() ? ErrorReporter()->Endpoints.OnlineGuide : QString());
}

void TMainForm::Support1Click() {
    OpenPage(ErrorReporter() ? ErrorReporter()->Endpoints.SupportPage : QString());
}

void TMainForm::ProductPage1Click() {
    OpenPage(ErrorReporter() ? ErrorReporter()->Endpoints.HomePage : QString());
}

void TMainForm::Item22Click() {
    Prompts().OpenUrl(QUrl::fromLocalFile(SnapshotFolder()));
}

void TMainForm::Item32Click() {
    const QString dir = Prompts().GetExistingDirectory(this, QStringLiteral("Select folder"), SnapshotFolder());
    if (!dir.isEmpty())
        Preview->SnapshotFolder = dir;
}

void TMainForm::StartButtonClick() {
    if (!ConvForm || !SettingsForm)
        return;
    StopButtonClick();
    edDestinationTitleExit();
    TRunSettings settings;
    settings.PAL = SettingsForm->IsPAL();
    settings.TempFolder = SettingsForm->TempFolder();
    settings.SkipMenu = SettingsForm->cbSkipMenu->isChecked();
    settings.DeleteTempFiles = SettingsForm->cbDeleteTempFiles->isChecked();
    settings.DiscType = cmbDVDType->currentIndex();
    settings.EstimatedSize = EstimatedOutputSize;
    TCreationRun run(FFEncoder, FIA, *ConvForm);
    run.Shutdown = Shutdown;
    // Step 3: the selected drive (the virtual recorder writes an image into the temporary folder).
    TBurnStep burn(Burner);
    const bool recorder = Burner.VirtualRecorder() && cmbDrives->currentIndex() == Burner.DeviceCount() - 1;
    Burner.SetUpForDriveList(QFile::encodeName(settings.TempFolder).toStdString());
    burn.BeforeBurn = [this] { Burner.SetDeviceSpeed(0, static_cast<std::uint16_t>(ChosenWriteSpeed())); };
    burn.BurnToDrive = [this] { return Burner.Burn(); };
    burn.AfterWrite = [this, recorder] {
        Burner.FlushCache();
        Burner.EjectMedium(false);
        if (recorder && !Burner.LastImagePath().empty())
            AppendEventsLog(QStringLiteral("Disc image written to ") + QString::fromStdString(Burner.LastImagePath()));
    };
    const QString label = edDiskTitle->text();
    run.StartBurn = [&burn, label](TCreationRun& r) { return burn.Start(r, label); };
    run.AbortBurn = [this] { Burner.AbortOperation(); };
    LastRunResult = run.Run(VideoFiles, MenuSettings, settings);
    LastWorkFolder = run.WorkFolder;
}

void TMainForm::EditButtonClick() {
    if (CropForm && SelectedTitle() >= 0)
        Preview->EditButtonClick(*CropForm);
}

void TMainForm::ClipButtonClick() {
    if (ClipForm && SelectedTitle() >= 0)
        Preview->ClipButtonClick(*ClipForm);
}

void TMainForm::DVDMenu1Click() {
    if (!MenuForm)
        return;
    MenuForm->Prepare(VideoFiles);
    Prompts().ExecDialog(*MenuForm); // OK takes the design over, Cancel leaves it
    UpdateMenuPreview();
}

void TMainForm::PrevBackgroundButtonClick() {
    MenuSettings.BackgroundImage =
        AdjacentBackground(ProgramFolder() + QStringLiteral("menu-backgrounds/"), MenuSettings.BackgroundImage, -1);
    UpdateMenuPreview();
}

void TMainForm::NextBackgroundButtonClick() {
    MenuSettings.BackgroundImage =
        AdjacentBackground(ProgramFolder() + QStringLiteral("menu-backgrounds/"), MenuSettings.BackgroundImage, +1);
    UpdateMenuPreview();
}
