#pragma once
// The trim dialog ("Clip"): plays the selected title in its own preview and lets the user choose
// the part of it that goes on the disc with two handles under the seek slider, two buttons that
// take the playing position, and two typed times. OK writes TimeStart, TimeEnd and
// TrimmedLength into the title.
#include "editing/EditingCommon.h"
#include "media/FFPlayer.h"
#include "project/VideoFile.h"
#include <QDialog>
#include <functional>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QButtonGroup;

class TClipForm : public QDialog {
    Q_OBJECT
public:
    // files and selectedIndex stand for the main window's title list and its selected title
    // (grid row minus one); both outlive the dialog.
    TClipForm(TVideoFiles& files, std::function<int()> selectedIndex, QWidget* parent = nullptr);
    ~TClipForm() override;

    // Raised by OK after the title changed: the main window recomputes the size estimate and
    // repaints the title list.
    std::function<void()> OnTitleChanged;
    // Shows a message to the user (a typed time that is not a time of day).
    std::function<void(const QString& text)> ShowMessage;
    TEditingSinks Sinks;

    // Handlers, public so that the main window and tests can drive them.
    void FormShow();
    void FormClose();
    void OpenFile(const QString& fileName);
    void PlayButtonClick();
    void PauseButtonClick();
    void StopButtonClick();
    void SetStartButtonClick();
    void SetEndButtonClick();
    void PlayTrimmedButtonClick();
    void TimeStartOkButtonClick();
    void TimeEndOkButtonClick();
    void imgTrimLeftMouseDown(int x);
    void imgTrimLeftMouseMove(int x);
    void imgTrimLeftMouseUp();
    void imgTrimRightMouseDown(int x);
    void imgTrimRightMouseMove(int x);
    void imgTrimRightMouseUp();
    void videotrackbar2StartDragButton();
    void videotrackbar2LastChange();
    void FFPlayer2FileOpen(int64_t duration, int frameWidth, int frameHeight, int& screenWidth,
                           int& screenHeight);
    void FFPlayer2Position(int64_t pts);
    void FFPlayer2State(TPlayState state);
    void OkButtonClick();
    void CancelButtonClick();
    void ResetButtonClick();

    void SetTrimStart(int64_t t);
    void SetTrimEnd(int64_t t);
    void UpdateTrimmedLine();

    int64_t TrimStart() const { return FTrimStart; }
    int64_t TrimEnd() const { return FTrimEnd; }
    int64_t CurrentPosition() const { return FCurrentPosition; }
    bool PlayTrimmed() const { return FPlayTrimmed; }
    int64_t Duration() const { return FDuration; }
    TPlayState LastState() const { return FLastState; }

    TFFPlayer* FFPlayer2 = nullptr;
    QWidget* panPreview = nullptr;
    QSlider* videotrackbar2 = nullptr;
    QLabel* imgTrimLeft = nullptr;
    QLabel* imgTrimRight = nullptr;
    QFrame* TrimmedTimeLine = nullptr;
    QPushButton* PlayButton = nullptr;
    QPushButton* PauseButton = nullptr;
    QPushButton* PlayTrimmedButton = nullptr;
    QPushButton* StopButton = nullptr;
    QPushButton* SetStartButton = nullptr;
    QPushButton* SetEndButton = nullptr;
    QLabel* lblPlayTime = nullptr;
    QLineEdit* TimeStart = nullptr;
    QLineEdit* TimeEnd = nullptr;
    QPushButton* TimeStartOkButton = nullptr;
    QPushButton* TimeEndOkButton = nullptr;
    QPushButton* OkButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QPushButton* ResetButton = nullptr;

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TVideoFile* SelectedTitle() const;
    int TimelineWidth() const;
    void MoveHandleX(QWidget* handle, int x);
    void ReleasePlayButtons();

    TVideoFiles& FFiles;
    std::function<int()> FSelectedIndex;
    int64_t FDuration = 0;
    QWidget* FScreenControl = nullptr;
    QButtonGroup* FPlayGroup = nullptr;

    int64_t FTrimStart = 0;
    int64_t FTrimEnd = 0;
    int64_t FCurrentPosition = 0;
    TPlayState FLastState = psPlay;
    bool FPlayTrimmed = false;
    bool FTrackDrag = false;
    bool FLeftDragging = false, FRightDragging = false;
    int FLeftGrabX = 0, FRightGrabX = 0;
    bool FLeftFollow = false, FRightFollow = false;
    bool FLeftRelease = false, FRightRelease = false;
    bool FPositionBusy = false;
    bool FClosing = false;
};
