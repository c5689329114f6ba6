#pragma once
// The crop dialog ("Crop"): plays the selected title with eight sizing handles over the picture,
// draws the kept rectangle into every frame, shows it in source pixels in four fields, and
// chooses the display aspect. Apply and OK write CropLeft, CropTop, CropRight, CropBottom and
// AspectRatio into the title.
//
// The frame hook runs on the player's video thread. What it shares with the GUI thread (the two
// defining handles, the source frame size, the panel size, the refresh and load flags and the
// title's stored values) lives in FShared under FSharedMutex; whatever the hook wants done to
// widgets is posted to the GUI thread.
#include "editing/CropGeometry.h"
#include "editing/EditingCommon.h"
#include "media/FFPlayer.h"
#include "project/VideoFile.h"
#include <QDialog>
#include <functional>
#include <mutex>

class QComboBox;
class QFrame;
class QPushButton;
class QSlider;
class QSpinBox;
class QButtonGroup;

class TCropForm : public QDialog {
    Q_OBJECT
public:
    // files and selectedIndex stand for the main window's title list and its selected title
    // (grid row minus one); both outlive the dialog.
    TCropForm(TVideoFiles& files, std::function<int()> selectedIndex, QWidget* parent = nullptr);
    ~TCropForm() override;

    TEditingSinks Sinks;

    void FormShow();
    void FormClose();
    void OpenVideo(const QString& fileName);
    void PlayButtonClick();
    void PauseButtonClick();
    void StopButtonClick();
    void videotrackbarStartDragButton();
    void videotrackbarLastChange();
    void FFPlayer1FileOpen(int64_t duration, int frameWidth, int frameHeight, int& screenWidth,
                           int& screenHeight);
    void FFPlayer1Position(int64_t pts);
    void FFPlayer1State(TPlayState state);
    // The frame hook; called on the player's video thread.
    void FFPlayer1VideoHook(QImage& bitmap, int64_t pts, bool& update);
    void cmbAspectRatioChange();
    void ApplyButtonClick();
    void OkButtonClick();
    void CancelButtonClick();
    void ResetButtonClick();

    // Handle dragging (pointer positions inside the handle).
    void HandleMouseDown(CropGeometry::THandle handle, QPoint pointer);
    void HandleMouseMove(CropGeometry::THandle handle, QPoint pointer);
    void HandleMouseUp(CropGeometry::THandle handle);

    // Places the handles from the four fields (also run by every field change).
    void PlaceHandlesFromFields();
    CropGeometry::THandles Handles() const;
    QWidget* HandleWidget(CropGeometry::THandle handle) const;
    // Size of the last frame the hook received (0 before the first frame of this showing).
    QSize SourceFrameSize() const;
    // The fields hold the rectangle of the title now shown (false until its first frame).
    bool FieldsLoaded() const { return FFieldsLoaded; }

    TFFPlayer* FFPlayer1 = nullptr;
    QWidget* panPreview1 = nullptr;
    QFrame* szLeftTop = nullptr;
    QFrame* szTopMiddle = nullptr;
    QFrame* szRightTop = nullptr;
    QFrame* szRightMiddle = nullptr;
    QFrame* szRightBottom = nullptr;
    QFrame* szBottomMiddle = nullptr;
    QFrame* szLeftBottom = nullptr;
    QFrame* szLeftMiddle = nullptr;
    QPushButton* PlayButton = nullptr;
    QPushButton* PauseButton = nullptr;
    QPushButton* StopButton = nullptr;
    QSlider* videotrackbar = nullptr;
    QSpinBox* edLeft = nullptr;
    QSpinBox* edTop = nullptr;
    QSpinBox* edWidth = nullptr;
    QSpinBox* edHeight = nullptr;
    QComboBox* cmbAspectRatio = nullptr;
    QPushButton* ApplyButton = nullptr;
    QPushButton* OkButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QPushButton* ResetButton = nullptr;

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct TTitleValues {
        int CropLeft = 0, CropTop = 0, CropRight = 0, CropBottom = 0, AspectRatio = 0;
    };
    TVideoFile* SelectedTitle() const;
    void SetHandles(const CropGeometry::THandles& handles); // GUI thread
    void SetFields(int left, int top, int width, int height);
    void SelectAspectItem(int index);
    void LoadTitleValues(); // snapshot for the next frame's load-from-title
    void ReleasePlayButtons();

    TVideoFiles& FFiles;
    std::function<int()> FSelectedIndex;
    int64_t FDuration = 0;
    QWidget* FScreenControl1 = nullptr;
    TPlayState FLastState = psPlay;
    bool FHandleDrag = false;
    QPoint FGrab;
    bool FTrackDrag = false;
    bool FClosing = false;
    bool FFieldsLoaded = false; // the first frame of this showing has filled the fields
    QButtonGroup* FPlayGroup = nullptr;

    mutable std::mutex FSharedMutex; // guards FShared
    struct {
        QPoint LeftTop, RightBottom; // the two defining handles
        int FrameWidth = 0, FrameHeight = 0;
        int PanelWidth = 0, PanelHeight = 0;
        bool RefreshFields = false;
        bool LoadFromTitle = false;
        TTitleValues Title;
    } FShared;
};
