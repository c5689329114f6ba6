#pragma once
// Transcoder of the media pack: converts registered tasks, one after another on a worker thread,
// into DVD-Video MPEG-2 program streams. The decoder member probes files for the title list.
#include "media/AVLib.h"
#include "media/FFDecoder.h"
#include <QObject>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

enum TOptionTargetType { ttIgnore, ttVCD, ttSVCD, ttDVD };
enum TOptionNormType { ntAuto, ntPAL, ntNTSC };

// Recordable disc formats; the smaller of the "-" and "+" formats so that a run fits either.
enum class TDiscType { DVD5, DVD9 };
// Frame shape of every title on a disc. Auto: decided at Start from the registered titles.
enum class TDiscAspect { Auto, Aspect4x3, Aspect16x9 };

struct TInputOptions {
    QString FileName;
    QString ForceFormat;   // empty: detect; "frameinput": a frame-input adapter
    int64_t TimeStart = -1; // microseconds from the start of the file; -1 unset (from the start)
};

struct TOutputInfo {
    double TimeStamp = -1; // days since 1899-12-30; 0 stamps the current date and time; -1 none
};

struct TOutputOptions {
    QString FileName;
    QString FrameRate;        // "25", "30000/1001", "pal", "ntsc"; empty: the standard's rate
    QString FrameSize;        // "720x576" etc.; empty: the standard's full frame
    QString FrameAspectRatio; // empty keep original, "-1" fill the frame, "4:3", "16:9", "1.85:1", "2.35:1"
    QString VideoFilters;     // the user's filter chain, run before the preset's own filters
    int64_t TimeLength = -1;  // microseconds; -1 unset (to the end of the source)
    int64_t VideoBitrate = -1; // bits per second; -1: chosen to fill the disc
    TOutputInfo Info;
    TOptionTargetType TargetType = ttIgnore;
    TOptionNormType NormType = ntAuto;
};

void InitInputOptions(TInputOptions* options);
void InitOutputOptions(TOutputOptions* options);

struct TProgressInfo {
    int TaskIndex = 0;
    int64_t CurrentDuration = 0; // microseconds of output written
    int64_t TotalDuration = 0;   // microseconds expected; 0 when the input has no known length
};

struct TTerminateInfo {
    int TaskIndex = -1;    // -1: the event that ends all tasks
    bool Finished = false; // task: it ran to its end; all tasks: the worker has finished
    bool Exception = false;
    QString ExceptionMsg;
};

struct TTranscodeTaskEntry; // one registered task (TranscodeTask.h)

class TFFEncoder : public QObject {
    Q_OBJECT
public:
    explicit TFFEncoder(QObject* parent = nullptr);
    ~TFFEncoder() override;

    bool LoadAVLib(const QString& folder) { return AVLib::Load(folder, &FLastErrMsg); }
    bool AVLibLoaded() const { return AVLib::Loaded(); }
    QString LastErrMsg() const { return FLastErrMsg; }

    TFFDecoder Decoder;

    // Task list. Registration checks the input (it is opened and probed) and the options, and
    // answers failures with a negative index or false and the reason in LastErrMsg.
    void ClearTasks();
    int AddTask(const QString& fileName, const TInputOptions* options);
    bool SetOutputFile(int taskIndex, const QString& fileName, const TOutputOptions* options);
    bool RemoveTask(int taskIndex);
    int TasksCount() const;

    // Values of the whole run, read by Start. The video bit rate is chosen to fill the disc from
    // the total trimmed length of the titles (0: the sum of the registered title tasks).
    void SetDiscType(TDiscType type) { FDiscType = type; }
    void SetTotalTitleLength(int64_t microseconds) { FTotalTitleLength = microseconds; }
    void SetDiscAspect(TDiscAspect aspect) { FDiscAspect = aspect; }
    // 16:9 when any title's picture is wider than about 1.55:1, else 4:3 (frame-input tasks,
    // the menu, always use 4:3 and do not count).
    TDiscAspect DecideDiscAspect() const;
    static int64_t FitVideoBitRate(int64_t totalMicroseconds, TDiscType type);
    static int64_t DiscCapacityBytes(TDiscType type);
    // Bytes a title of this length takes on the disc at this video rate, muxing included.
    static int64_t PlannedTitleBytes(int64_t microseconds, int64_t videoBitRate);

    // threads > 0: tasks run on a worker thread, terminate events on short-lived threads.
    // threads == 0: everything runs on the calling thread before Start returns.
    bool Start(int threads);
    void Pause();
    void Resume();
    void Stop(); // does not wait
    bool Working() const { return FWorking; }
    // Waits until the worker and every terminate handler have ended (tests and shutdown only:
    // it must not be called from a handler).
    void WaitForEnd();

    // Delivered on the thread that owns the transcoder (the GUI thread), never more often than
    // about ten times a second per task.
    std::function<void(TFFEncoder* sender, const TProgressInfo& info)> OnProgress;
    // Delivered on a short-lived thread (threads > 0). Each handler starts only after the one
    // before it has returned, so the all-tasks event comes after every task's event is handled.
    std::function<void(TFFEncoder* sender, const TTerminateInfo& info)> OnTerminate;

private:
    bool TaskListFixed();
    bool CanChangeTask(int taskIndex);
    void RunAll(std::vector<std::shared_ptr<TTranscodeTaskEntry>> tasks, int64_t videoRate, TDiscAspect aspect,
                bool threaded);
    void RaiseTerminate(const TTerminateInfo& info, bool threaded);
    bool WaitWhilePaused(); // true when stopped

    std::vector<std::shared_ptr<TTranscodeTaskEntry>> FTasks; // GUI thread only
    QString FLastErrMsg;
    TDiscType FDiscType = TDiscType::DVD5;
    int64_t FTotalTitleLength = 0;
    TDiscAspect FDiscAspect = TDiscAspect::Auto;

    std::atomic<bool> FWorking{false};
    std::atomic<bool> FStopRequested{false};
    std::mutex FPauseLock;
    std::condition_variable FPauseChanged;
    std::atomic<bool> FPaused{false}; // changed under FPauseLock so that the waiting worker wakes
    std::thread FWorker;
    std::mutex FTerminateLock;
    std::thread FLastTerminate; // guarded by FTerminateLock; each terminate thread joins its predecessor
};
