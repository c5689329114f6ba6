#pragma once
// The main window's preview: plays the selected title's whole source file in panPreview, moves
// the seek slider and the time label with the playing position, stops, and saves the shown
// frame as a snapshot (JPEG or BMP) into the snapshot folder. The main window owns one
// TPreview, hands it its widgets and routes its handlers here.
#include "editing/EditingCommon.h"
#include "media/FFPlayer.h"
#include "project/VideoFile.h"
#include <QObject>
#include <QPointer>
#include <functional>

class QAbstractButton;
class QAbstractSlider;
class QAction;
class QDialog;
class QLabel;
class QWidget;

enum class TSnapshotFormat { Jpeg, Bmp };

// The main window's widgets the preview works with; any of them may be left out (nullptr).
struct TPreviewWidgets {
    QWidget* panPreview = nullptr;    // render target
    QWidget* panPlayerArea = nullptr; // placeholder shown while nothing plays
    QAbstractButton* PlayButton = nullptr;
    QAbstractButton* StopButton = nullptr;
    QAbstractButton* SnapshotButton = nullptr;
    QAbstractSlider* VideoTrackBar = nullptr;  // 0..1000
    QAbstractSlider* VolumeTrackBar = nullptr; // 0..128
    QLabel* lblPlayTime = nullptr;
    QAction* JPEG1 = nullptr; // radio items of the snapshot format submenu
    QAction* BMP1 = nullptr;
};

class TPreview : public QObject {
    Q_OBJECT
public:
    // files and selectedIndex stand for the title list and its selected title (grid row minus
    // one). The widgets' signals are connected here.
    TPreview(TVideoFiles& files, std::function<int()> selectedIndex, const TPreviewWidgets& widgets,
             QObject* parent = nullptr);
    ~TPreview() override;

    TEditingSinks Sinks;
    // The primary mouse button test; tests put their own in.
    std::function<bool()> PrimaryButtonDown = PrimaryMouseButtonDown;
    // Shows a dialog modally (the main window passes its prompts' ExecDialog).
    std::function<int(QDialog& dialog)> ExecDialog;

    TFFPlayer* FFPlayer = nullptr;

    void OpenVideo(const QString& fileName);
    void PlayButtonClick();
    void StopButtonClick();
    void VideoTrackBarStartDragButton();
    void VideoTrackBarLastChange();
    void VolumeTrackBarChange();
    void FFPlayerFileOpen(int64_t duration, int frameWidth, int frameHeight, int& screenWidth,
                          int& screenHeight);
    void FFPlayerPosition(int64_t pts);
    void FFPlayerState(TPlayState state);
    void SnapshotButtonClick();
    void JPEG1Click();
    void BMP1Click();
    // Stop the preview if it plays or pauses, then show the crop or trim dialog modally.
    void EditButtonClick(QDialog& cropForm);
    void ClipButtonClick(QDialog& clipForm);

    // The snapshot folder ("ScreenShotsPath"), read and written by the settings store.
    QString SnapshotFolder;
    TSnapshotFormat SnapshotFormat() const { return FSnapshotFormat; }
    int JpegSnapshotCounter() const { return FJpegCounter; }
    int BmpSnapshotCounter() const { return FBmpCounter; }
    int64_t Duration() const { return FDuration; }
    TPlayState LastState() const { return FLastState; }
    bool TrackDrag() const { return FTrackDrag; }

private:
    TVideoFile* SelectedTitle() const;
    void ShowDialogStopped(QDialog& dialog);

    TVideoFiles& FFiles;
    std::function<int()> FSelectedIndex;
    TPreviewWidgets FW;
    int64_t FDuration = 0;
    QPointer<QWidget> FScreenControl;
    TPlayState FLastState = psPlay;
    bool FTrackDrag = false;
    TSnapshotFormat FSnapshotFormat = TSnapshotFormat::Jpeg;
    int FJpegCounter = 1;
    int FBmpCounter = 1;
};

// The snapshot file for a title name, or an empty string when the name cannot be a file name
// inside the folder (it holds a path separator or a NUL, or it is empty with nothing else).
QString SnapshotFileName(const QString& folder, const QString& title, int counter,
                         TSnapshotFormat format);
