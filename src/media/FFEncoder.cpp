#include "media/FFEncoder.h"

#include "media/TranscodeTask.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <cmath>

namespace {

// Smaller of the "-R" and "+R" capacities, in 2048-byte sectors.
constexpr int64_t kDvd5Sectors = 2295104;
constexpr int64_t kDvd9Sectors = 4171712;
constexpr int64_t kAudioRate = 448000;
constexpr int64_t kMinVideoRate = 2000000;
constexpr int64_t kMaxVideoRate = 8000000;
// Pack and packet headers, navigation packs and the encoder's deviation from its average.
constexpr double kMuxOverhead = 1.06;
// Kept free for the menu, the IFO/BUP files, the file system and a safety margin.
constexpr double kDiscUse = 0.96;
constexpr int64_t kDiscReserve = 24LL * 1024 * 1024;

} // namespace

void InitInputOptions(TInputOptions* options) {
    if (options)
        *options = TInputOptions();
}

void InitOutputOptions(TOutputOptions* options) {
    if (options)
        *options = TOutputOptions();
}

TFFEncoder::TFFEncoder(QObject* parent) : QObject(parent) {}

TFFEncoder::~TFFEncoder() {
    Stop();
    WaitForEnd();
}

void TFFEncoder::ClearTasks() {
    if (TaskListFixed())
        return;
    FTasks.clear();
}

int TFFEncoder::AddTask(const QString& fileName, const TInputOptions* options) {
    if (TaskListFixed())
        return -1;
    auto task = std::make_shared<TTranscodeTaskEntry>();
    task->InputName = fileName;
    if (options)
        task->Input = *options;
    QString err;
    if (!ProbeSource(fileName, task->Input, &task->Probe, &err)) {
        FLastErrMsg = err;
        return -1;
    }
    FTasks.push_back(task);
    return static_cast<int>(FTasks.size()) - 1;
}

// True (with the reason as the last error) while a run holds the task list.
bool TFFEncoder::TaskListFixed() {
    if (!FWorking)
        return false;
    FLastErrMsg = QStringLiteral("The task list cannot change while the transcoder works");
    return true;
}

bool TFFEncoder::CanChangeTask(int taskIndex) {
    if (TaskListFixed())
        return false;
    if (taskIndex < 0 || taskIndex >= TasksCount()) {
        FLastErrMsg = QStringLiteral("There is no task %1").arg(taskIndex);
        return false;
    }
    return true;
}

bool TFFEncoder::SetOutputFile(int taskIndex, const QString& fileName, const TOutputOptions* options) {
    if (!CanChangeTask(taskIndex))
        return false;
    TTranscodeTaskEntry candidate = *FTasks[taskIndex];
    candidate.OutputName = fileName;
    candidate.Output = options ? *options : TOutputOptions();
    QString err;
    if (!ResolveOutput(candidate, &err)) {
        FLastErrMsg = err;
        return false;
    }
    candidate.HasOutput = true;
    *FTasks[taskIndex] = candidate;
    return true;
}

bool TFFEncoder::RemoveTask(int taskIndex) {
    if (!CanChangeTask(taskIndex))
        return false;
    FTasks.erase(FTasks.begin() + taskIndex);
    return true;
}

int TFFEncoder::TasksCount() const {
    return static_cast<int>(FTasks.size());
}

TDiscAspect TFFEncoder::DecideDiscAspect() const {
    for (const auto& task : FTasks)
        if (task->HasOutput && !task->Probe.FrameInput && task->Target.ContentAspect > 1.55)
            return TDiscAspect::Aspect16x9;
    return TDiscAspect::Aspect4x3;
}

int64_t TFFEncoder::DiscCapacityBytes(TDiscType type) {
    return (type == TDiscType::DVD9 ? kDvd9Sectors : kDvd5Sectors) * 2048;
}

int64_t TFFEncoder::PlannedTitleBytes(int64_t microseconds, int64_t videoBitRate) {
    return static_cast<int64_t>(std::ceil(double(videoBitRate + kAudioRate) * kMuxOverhead / 8.0 * double(microseconds) / 1e6));
}

int64_t TFFEncoder::FitVideoBitRate(int64_t totalMicroseconds, TDiscType type) {
    if (totalMicroseconds <= 0)
        return kMaxVideoRate;
    const double usable = double(DiscCapacityBytes(type)) * kDiscUse - double(kDiscReserve);
    const double seconds = double(totalMicroseconds) / 1e6;
    const double muxed = usable * 8.0 / seconds / kMuxOverhead;
    const auto video = static_cast<int64_t>(muxed) - kAudioRate;
    // Round down to whole kbit/s so that the figure reads well in logs.
    return std::clamp<int64_t>(video / 1000 * 1000, kMinVideoRate, kMaxVideoRate);
}

bool TFFEncoder::Start(int threads) {
    if (FWorking) {
        FLastErrMsg = QStringLiteral("The transcoder is already working");
        return false;
    }
    for (int i = 0; i < TasksCount(); ++i)
        if (!FTasks[i]->HasOutput) {
            FLastErrMsg = QStringLiteral("Task %1 has no output file").arg(i);
            return false;
        }
    if (FWorker.joinable()) {
        if (FWorker.get_id() == std::this_thread::get_id())
            FWorker.detach();
        else
            FWorker.join();
    }
    int64_t total = FTotalTitleLength;
    if (total <= 0) {
        total = 0;
        for (const auto& task : FTasks)
            if (!task->Probe.FrameInput)
                total += task->ExpectedLength();
    }
    const int64_t rate = FitVideoBitRate(total, FDiscType);
    const TDiscAspect aspect = FDiscAspect == TDiscAspect::Auto ? DecideDiscAspect() : FDiscAspect;
    FStopRequested = false;
    {
        std::lock_guard lock(FPauseLock);
        FPaused = false;
    }
    FWorking = true;
    if (threads <= 0) {
        RunAll(FTasks, rate, aspect, false);
    } else {
        FWorker = std::thread(&TFFEncoder::RunAll, this, FTasks, rate, aspect, true);
    }
    return true;
}

void TFFEncoder::Pause() {
    std::lock_guard lock(FPauseLock);
    FPaused = true;
}

void TFFEncoder::Resume() {
    std::lock_guard lock(FPauseLock);
    FPaused = false;
    FPauseChanged.notify_all();
}

void TFFEncoder::Stop() {
    std::lock_guard lock(FPauseLock);
    FStopRequested = true;
    FPauseChanged.notify_all();
}

bool TFFEncoder::WaitWhilePaused() {
    std::unique_lock lock(FPauseLock);
    FPauseChanged.wait(lock, [this] { return !FPaused || FStopRequested; });
    return FStopRequested;
}

void TFFEncoder::RunAll(std::vector<std::shared_ptr<TTranscodeTaskEntry>> tasks, int64_t videoRate,
                        TDiscAspect aspect, bool threaded) {
    for (size_t i = 0; i < tasks.size(); ++i) {
        if (FStopRequested)
            break;
        const TTranscodeTaskEntry& task = *tasks[i];
        const int index = static_cast<int>(i);
        const int64_t total = task.ExpectedLength();
        TTranscodeJob job;
        job.VideoBitRate = task.Output.VideoBitrate > 0 ? task.Output.VideoBitrate : videoRate;
        job.Wide = !task.Probe.FrameInput && aspect == TDiscAspect::Aspect16x9;
        job.WaitIfPaused = [this] { return WaitWhilePaused(); };
        job.StopRequested = [this] { return FStopRequested.load(); };
        job.Progress = [this, index, total, threaded](int64_t current) {
            TProgressInfo info;
            info.TaskIndex = index;
            info.CurrentDuration = total > 0 ? std::min(current, total) : current;
            info.TotalDuration = total;
            if (!threaded) {
                if (OnProgress)
                    OnProgress(this, info);
                return;
            }
            QMetaObject::invokeMethod(
                this,
                [this, info] {
                    if (OnProgress)
                        OnProgress(this, info);
                },
                Qt::QueuedConnection);
        };
        job.Progress(0);
        const TTranscodeResult result = RunTranscodeTask(task, job);
        TTerminateInfo info;
        info.TaskIndex = index;
        info.Finished = result.Ok;
        info.Exception = !result.Error.isEmpty();
        info.ExceptionMsg = result.Error;
        RaiseTerminate(info, threaded);
    }
    FWorking = false;
    TTerminateInfo all;
    all.TaskIndex = -1;
    all.Finished = true;
    RaiseTerminate(all, threaded);
}

void TFFEncoder::RaiseTerminate(const TTerminateInfo& info, bool threaded) {
    if (!threaded) {
        if (OnTerminate)
            OnTerminate(this, info);
        return;
    }
    std::lock_guard lock(FTerminateLock);
    std::thread previous = std::move(FLastTerminate);
    FLastTerminate = std::thread([this, info, previous = std::move(previous)]() mutable {
        // Handlers run one after another, in the order of the events.
        if (previous.joinable())
            previous.join();
        if (OnTerminate)
            OnTerminate(this, info);
    });
}

void TFFEncoder::WaitForEnd() {
    // On the owning thread, events keep flowing while we wait: frame requests and anything a
    // terminate handler hands to this thread would otherwise wait for us forever.
    const bool pump = QThread::currentThread() == thread() && QCoreApplication::instance();
    auto joinPumping = [pump](std::thread& t) {
        if (!t.joinable())
            return;
        if (t.get_id() == std::this_thread::get_id()) {
            t.detach();
            return;
        }
        if (!pump) {
            t.join();
            return;
        }
        // std::thread has no timed join; a helper thread joins it and flags the end.
        std::atomic<bool> done{false};
        std::thread joiner([&] {
            t.join();
            done = true;
        });
        while (!done) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(2);
        }
        joiner.join();
    };
    joinPumping(FWorker);
    std::thread last;
    {
        std::lock_guard lock(FTerminateLock);
        last = std::move(FLastTerminate);
    }
    joinPumping(last);
}
