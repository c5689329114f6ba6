#pragma once
// The main window: a router from its controls and commands to the logic that carries them out.
#include "burner/DiscBurner.h"
#include "media/FFEncoder.h"
#include "media/FFLogger.h"
#include "media/FrameInputAdapter.h"
#include "pipeline/MenuPreview.h"
#include "pipeline/CreationRun.h"
#include "pipeline/MenuSettings.h"
#include "project/VideoFile.h"

#include <QMainWindow>
#include <QProgressBar>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSlider;
class QStackedWidget;
class QTableWidget;
class QToolButton;
class TAboutForm;
class TFileInfoForm;
class TSettingsForm;
class TConvForm;
class TClipForm;
class TCropForm;
class TPreview;
class TMenuForm;
class TShutdown;

// A size gauge that writes its own text over the bar.
class TSizeGauge : public QProgressBar {
    Q_OBJECT
public:
    using QProgressBar::QProgressBar;
    QString Caption;
    QColor BarColor = QColor(0x3d, 0x8e, 0xd8);

protected:
    void paintEvent(QPaintEvent* event) override;
};

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    TMainForm();
    ~TMainForm() override;

    // The dialogs created after the main window (start-up order) are handed over here.
    void SetDialogs(TSettingsForm* settings, TFileInfoForm* fileInfo, TAboutForm* about, TConvForm* conv);

    // Initialisation run during creation; public so that the start-up order stays visible in main.
    void FormCreate();

    // Commands.
    void AddButtonClick();
    void AddFiles(const QStringList& files); // the part of Add after the dialog
    // Files from the command line or dropped on the list: Add without the dialog.
    void AddFilesFromOutside(const QStringList& files);
    void Remove1Click();
    void ClearAll1Click();
    void Rename1Click();
    void edDestinationTitleExit();
    void MoveUp1Click();
    void MoveDown1Click();
    void FileInformation1Click();
    void EventsLog1Click();
    void Preferences1Click();
    void About1Click();
    void Exit1Click();
    void Help2Click();
    void Support1Click();
    void ProductPage1Click();
    void Item22Click();
    void Item32Click();
    void StartButtonClick();
    void EditButtonClick();
    void ClipButtonClick();
    void DVDMenu1Click();
    void PrevBackgroundButtonClick();
    void NextBackgroundButtonClick();

    void UpdateEstimatedOutputSize();
    void RefreshList(); // repaints the title list from VideoFiles
    void cmbDVDTypeChange();
    void cmbDrivesChange();
    // The burning speed chosen in the preferences, in KB/s (0: the drive's maximum).
    int ChosenWriteSpeed() const;
    void UpdateMenuPreview();
    void FFLoggerLog(quint64 threadId, const QString& message, int level);

    int SelectedTitle() const; // -1 when none
    void SelectTitle(int index);

    // State.
    TVideoFiles VideoFiles;
    TMenuSettings MenuSettings;
    QColor MenuColors[3];
    TMenuPreview MenuPreview;
    int EstimatedOutputSize = 20;
    int64_t FDuration = 0;
    QString SnapshotFolder() const;
    TCreationRun::TResult LastRunResult = TCreationRun::TResult::None;
    QString LastWorkFolder;

    // Components.
    TFFEncoder FFEncoder;
    TFFLogger* FFLogger = nullptr;
    TFrameInputAdapter FIA;
    burner::TDiscBurner Burner;
    TShutdown* Shutdown = nullptr; // powers off after a run when asked; replaced in tests

    // Controls (object names as the design gives them).
    QStackedWidget* ListPages = nullptr;
    QWidget* GettingStartedPanel = nullptr;
    QLabel* GettingStartedImage = nullptr;
    QTableWidget* sgList = nullptr;
    QLineEdit* edDestinationTitle = nullptr;
    QPushButton* AddButton = nullptr;
    QPushButton* EditButton = nullptr;
    QPushButton* ClipButton = nullptr;
    QPushButton* StartButton = nullptr;
    TSizeGauge* SizeLine = nullptr;
    TSizeGauge* OutSizeLine = nullptr;
    QComboBox* cmbDrives = nullptr;
    QComboBox* cmbDVDType = nullptr;
    QLineEdit* edDiskTitle = nullptr;
    QWidget* PreviewArea = nullptr;
    QWidget* panPlayerArea = nullptr;
    QLabel* imgPlayerArea = nullptr;
    QWidget* panPreview = nullptr;
    QPushButton* PlayButton = nullptr;
    QPushButton* StopButton = nullptr;
    QToolButton* SnapshotButton = nullptr;
    QMenu* SnapshotMenu = nullptr;
    QSlider* VideoTrackBar = nullptr;
    QSlider* VolumeTrackBar = nullptr;
    QLabel* lblPlayTime = nullptr;
    QWidget* panDVDMenu = nullptr;
    QLabel* imgMenuPreview = nullptr;
    QLabel* lblTheme = nullptr;
    QToolButton* PrevBackgroundButton = nullptr;
    QToolButton* NextBackgroundButton = nullptr;
    QPushButton* DesignButton = nullptr;
    QMenu* ListMenu = nullptr;

    // Commands whose enabled state follows the title list.
    QAction* AddVideoFiles1 = nullptr;
    QAction* AddVideoFiles2 = nullptr;
    QAction* StartConversion1 = nullptr;
    QAction* Exit1 = nullptr;
    QAction* Remove1 = nullptr;
    QAction* ClearAll1 = nullptr;
    QAction* Rename1 = nullptr;
    QAction* MoveUp1 = nullptr;
    QAction* MoveDown1 = nullptr;
    QAction* EditVideo1 = nullptr;
    QAction* EditVideo2 = nullptr;
    QAction* ClipVideo1 = nullptr;
    QAction* ClipVideo2 = nullptr;
    QAction* FileInformation1 = nullptr;
    QAction* EventsLog1 = nullptr;
    QAction* DVDMenu1 = nullptr;
    QAction* Preferences1 = nullptr;
    QAction* Help2 = nullptr;
    QAction* Support1 = nullptr;
    QAction* ProductPage1 = nullptr;
    QAction* About1 = nullptr;
    QAction* Item12 = nullptr;
    QAction* Item22 = nullptr;
    QAction* Item32 = nullptr;
    QAction* JPEG1 = nullptr;
    QAction* BMP1 = nullptr;

    TSettingsForm* SettingsForm = nullptr;
    TFileInfoForm* FileInfoForm = nullptr;
    TAboutForm* AboutForm = nullptr;
    TConvForm* ConvForm = nullptr;
    TClipForm* ClipForm = nullptr;
    TCropForm* CropForm = nullptr;
    TPreview* Preview = nullptr;
    TMenuForm* MenuForm = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildUi();
    void BuildMenus();
    void SetTitleCommandsEnabled(bool enabled);
    void FormClose();
    void OpenPage(const QString& address);
    bool LoadMediaLibraries(); // the check before adding files
    void StopButtonClick();
    int FRenameRow = -1;
};
