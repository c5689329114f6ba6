#pragma once
// The preview player of the media pack: FFmpeg decoding, the picture shown in a Qt widget and
// the sound played through SDL2.
//
// Threads: one demuxer thread fills two bounded packet queues; a video thread decodes, paces
// the frames against the master clock and hands each shown picture to the GUI thread; an audio
// thread decodes and resamples into a bounded sample queue that SDL's callback drains. The
// sound is the master clock when a sound device plays it, a steady clock otherwise. Seeks are
// carried out by the demuxer thread, which flushes both queues and bumps the queue serial; the
// decoders drop everything of an older serial.
//
// Events: OnFileOpen is raised inside Open; OnPosition and OnState are delivered on the GUI
// thread (events of a playback that has been stopped since are dropped); OnVideoHook is raised
// on the video thread for every decoded frame while VideoHook is set.
#include "media/AVLib.h"
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class QWidget;
class TPlayerView;

enum TPlayState { psPlay = 0, psPause = 1, psResume = 2, psStep = 3, psStop = 4, psEnd = 5 };

// Seek options; the program always passes the empty set.
struct TSeekFlags {};

class TFFPlayer : public QObject {
    Q_OBJECT
public:
    explicit TFFPlayer(QObject* parent = nullptr);
    ~TFFPlayer() override;

    bool AVLibLoaded() const { return AVLib::Loaded(); }
    bool LoadAVLib(const QString& folder) { return AVLib::Load(folder, &FLastErrMsg); }
    QString LastErrMsg() const { return FLastErrMsg; }

    // Stops what plays, opens the file, raises OnFileOpen and starts playing from the start
    // into screen (nullptr: decode and pace without showing anything). With paused set the
    // first frame is shown and playback waits for Resume.
    bool Open(const QString& fileName, QWidget* screen, bool paused = false);
    // Stops playback; returns when every playback thread has ended.
    void Stop(bool waitForStop = true);
    void Pause();
    void Resume();
    void TogglePause();
    bool Paused() const;
    TPlayState PlayState() const;

    bool Seeking() const;
    // Moves playback to pts (microseconds from the file start; past the end means the end).
    // Ignored while an earlier seek is pending. With waitForSeekEnd the call returns once the
    // frame at the new position has been shown.
    void Seek(int64_t pts, TSeekFlags flags = {}, bool waitForSeekEnd = false);

    // The frame now shown, 24 bits per pixel at the video's own size; null when nothing is
    // open or no frame has been shown yet.
    QImage CurrentFrame();

    // 0: the video's own ratio, -1: stretched to the render area, above 1: that ratio.
    void SetAspectRatio(float value) { FAspectRatio.store(value); }
    float AspectRatio() const { return FAspectRatio.load(); }

    void SetAudioVolume(int volume);
    int AudioVolume() const { return FAudioVolume.load(); }

    void SetVideoHook(bool on) { FVideoHook.store(on); }
    bool VideoHook() const { return FVideoHook.load(); }

    // Duration and frame size of the file now open (0 when none or unknown).
    int64_t Duration() const { return FDuration; }
    // True when the open file's sound reaches a sound device.
    bool AudioPlaying() const;

    std::function<void(TFFPlayer* sender, int64_t duration, int frameWidth, int frameHeight,
                       int& screenWidth, int& screenHeight)>
        OnFileOpen;
    std::function<void(TFFPlayer* sender, int64_t pts)> OnPosition;
    std::function<void(TFFPlayer* sender, TPlayState state)> OnState;
    // Called on the video thread; what the handler draws on the picture is shown.
    std::function<void(TFFPlayer* sender, QImage& bitmap, int64_t pts, bool& update)> OnVideoHook;
    // One line for the events log (for example when no sound device can be opened).
    std::function<void(const QString& line)> OnLog;

private:
    struct TSession;
    friend struct TSession;
    friend class TPlayerView;

    void SetState(TPlayState state);                       // GUI thread
    void PostState(uint64_t generation, TPlayState state); // any thread
    void PostPosition(uint64_t generation, int64_t pts);   // any thread
    void PostPicture(uint64_t generation);                 // any thread
    bool eventFilter(QObject* watched, QEvent* event) override;

    QString FLastErrMsg;
    std::unique_ptr<TSession> FSession; // GUI thread only
    uint64_t FGeneration = 0;           // GUI thread only; bumped by every Open and Stop
    TPlayState FState = psStop;         // GUI thread only
    bool FPaused = true;                // GUI thread only
    bool FNoSoundLogged = false;        // GUI thread only
    int64_t FDuration = 0;
    QPointer<QWidget> FScreen;
    QPointer<TPlayerView> FView;

    std::atomic<float> FAspectRatio{0};
    std::atomic<int> FAudioVolume{128};
    std::atomic<bool> FVideoHook{false};
    std::atomic<int> FViewWidth{0}, FViewHeight{0}; // render area, read by the video thread
    std::atomic<bool> FPicturePosted{false};
    std::atomic<bool> FPositionPosted{false};
    std::atomic<int64_t> FLatestPosition{0};

    std::mutex FPictureMutex; // guards the three fields below
    QImage FPicture;          // the picture as shown, scaled to the render area
    int FPictureX = 0, FPictureY = 0;
    QImage FCurrentFrame; // returned by CurrentFrame
};
