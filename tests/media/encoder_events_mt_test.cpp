// The transcoder as a component: its threads, events and their order, Pause/Resume/Stop, and
// the frame input that feeds it pictures painted on the GUI thread.
#include "media/FFEncoder.h"
#include "media/FrameInputAdapter.h"
#include "support/TranscodeFixtures.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <atomic>
#include <mutex>
#include <set>

using namespace TranscodeFixtures;

namespace {

QTemporaryDir* gDir = nullptr;

QString Path(const char* name) {
    return gDir->filePath(QString::fromLatin1(name));
}

// Runs the GUI event loop until the condition holds or the time is up.
bool RunUntil(const std::function<bool()>& done, int timeoutMs = 60000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

TOutputOptions PalDvd() {
    TOutputOptions o;
    o.TargetType = ttDVD;
    o.NormType = ntPAL;
    o.FrameRate = QStringLiteral("25");
    return o;
}

// What the handlers saw; written by the terminate threads, read by the test after they ended.
struct TRecorder {
    std::mutex Lock;
    std::vector<TTerminateInfo> Terminates;
    // A finished thread's id may be given to the next one, so threads are told apart by a
    // number each thread draws the first time it runs a handler.
    std::vector<int> TerminateThreads;
    std::vector<TProgressInfo> Progress;
    bool ProgressOffGui = false;
    std::atomic<bool> AllDone{false};
    void Attach(TFFEncoder& enc) {
        enc.OnProgress = [this](TFFEncoder*, const TProgressInfo& info) {
            if (QThread::currentThread() != qApp->thread())
                ProgressOffGui = true;
            Progress.push_back(info);
        };
        enc.OnTerminate = [this](TFFEncoder*, const TTerminateInfo& info) {
            {
                std::lock_guard lock(Lock);
                Terminates.push_back(info);
                static std::atomic<int> threadsSeen{0};
                thread_local const int thisThread = ++threadsSeen;
                TerminateThreads.push_back(QThread::currentThread() == qApp->thread() ? 0 : thisThread);
            }
            if (info.TaskIndex == -1)
                AllDone = true;
        };
    }
};

class EncoderEventsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        gDir = new QTemporaryDir();
        ASSERT_TRUE(Ffmpeg(QStringLiteral("-f lavfi -i testsrc2=s=320x240:r=25:d=1 -f lavfi -i sine=d=1 -c:v libx264 "
                                          "-preset ultrafast -pix_fmt yuv420p -c:a aac -shortest %1")
                               .arg(Path("short.mp4"))
                               .split(QLatin1Char(' '))));
        // Long enough to be caught in the middle of its conversion.
        ASSERT_TRUE(Ffmpeg(QStringLiteral("-f lavfi -i testsrc2=s=640x480:r=25:d=12 -f lavfi -i sine=d=12 -c:v libx264 "
                                          "-preset ultrafast -pix_fmt yuv420p -c:a aac -shortest %1")
                               .arg(Path("long.mp4"))
                               .split(QLatin1Char(' '))));
    }
    static void TearDownTestSuite() {
        delete gDir;
        gDir = nullptr;
    }
};

} // namespace

TEST_F(EncoderEventsTest, EventsArriveOnTheirThreadsInOrder) {
    TFFEncoder enc;
    TInputOptions io;
    TOutputOptions o = PalDvd();
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(enc.AddTask(Path("short.mp4"), &io), i);
        ASSERT_TRUE(enc.SetOutputFile(i, gDir->filePath(QStringLiteral("ev%1.mpg").arg(i)), &o));
    }
    TRecorder rec;
    rec.Attach(enc);
    std::atomic<bool> lastTaskHandlerReturned{false};
    std::atomic<bool> orderBroken{false};
    auto inner = enc.OnTerminate;
    enc.OnTerminate = [&](TFFEncoder* s, const TTerminateInfo& info) {
        if (info.TaskIndex == -1 && !lastTaskHandlerReturned)
            orderBroken = true;
        inner(s, info);
        if (info.TaskIndex == 1) {
            // A slow handler (an error dialog, say) must still come before the end of all tasks.
            QThread::msleep(300);
            lastTaskHandlerReturned = true;
        }
    };
    ASSERT_TRUE(enc.Start(1));
    EXPECT_TRUE(enc.Working());
    ASSERT_TRUE(RunUntil([&] { return rec.AllDone.load(); }));
    enc.WaitForEnd();
    EXPECT_FALSE(enc.Working());
    EXPECT_FALSE(orderBroken);
    ASSERT_EQ(rec.Terminates.size(), 3u);
    EXPECT_EQ(rec.Terminates[0].TaskIndex, 0);
    EXPECT_EQ(rec.Terminates[1].TaskIndex, 1);
    EXPECT_EQ(rec.Terminates[2].TaskIndex, -1);
    for (const auto& t : rec.Terminates)
        EXPECT_TRUE(t.Finished && !t.Exception) << qPrintable(t.ExceptionMsg);
    const std::set<int> threads(rec.TerminateThreads.begin(), rec.TerminateThreads.end());
    EXPECT_EQ(threads.size(), 3u) << "each terminate event runs on a thread of its own";
    EXPECT_EQ(threads.count(0), 0u) << "no terminate event runs on the GUI thread";

    RunUntil([] { return false; }, 100); // let the last progress events in
    EXPECT_FALSE(rec.ProgressOffGui);
    ASSERT_FALSE(rec.Progress.empty());
    int64_t last = -1;
    int lastTask = 0;
    for (const auto& p : rec.Progress) {
        EXPECT_GT(p.TotalDuration, 900000);
        EXPECT_LE(p.CurrentDuration, p.TotalDuration);
        if (p.TaskIndex != lastTask)
            last = -1;
        EXPECT_GE(p.CurrentDuration, last);
        last = p.CurrentDuration;
        lastTask = p.TaskIndex;
    }
    EXPECT_EQ(rec.Progress.back().TaskIndex, 1);
    EXPECT_EQ(rec.Progress.back().CurrentDuration, rec.Progress.back().TotalDuration);
}

TEST_F(EncoderEventsTest, PauseHoldsResumeContinuesStopEndsTheRun) {
    TFFEncoder enc;
    TInputOptions io;
    TOutputOptions o = PalDvd();
    const QString out0 = Path("stop0.mpg");
    ASSERT_EQ(enc.AddTask(Path("long.mp4"), &io), 0);
    ASSERT_TRUE(enc.SetOutputFile(0, out0, &o));
    ASSERT_EQ(enc.AddTask(Path("short.mp4"), &io), 1);
    ASSERT_TRUE(enc.SetOutputFile(1, Path("stop1.mpg"), &o));
    TRecorder rec;
    rec.Attach(enc);
    ASSERT_TRUE(enc.Start(1));
    ASSERT_TRUE(RunUntil([&] { return !rec.Progress.empty() && rec.Progress.back().CurrentDuration > 0; }));
    enc.Pause();
    RunUntil([] { return false; }, 300); // whatever was under way settles
    const size_t seen = rec.Progress.size();
    const int64_t pausedAt = rec.Progress.back().CurrentDuration;
    RunUntil([] { return false; }, 700);
    EXPECT_EQ(rec.Progress.size(), seen) << "no progress while paused";
    EXPECT_LT(pausedAt, 12000000);
    enc.Resume();
    ASSERT_TRUE(RunUntil([&] { return rec.Progress.back().CurrentDuration > pausedAt; }));
    enc.Stop();
    ASSERT_TRUE(RunUntil([&] { return rec.AllDone.load(); }));
    enc.WaitForEnd();
    ASSERT_EQ(rec.Terminates.size(), 2u) << "the second task never starts";
    EXPECT_EQ(rec.Terminates[0].TaskIndex, 0);
    EXPECT_FALSE(rec.Terminates[0].Finished);
    EXPECT_FALSE(rec.Terminates[0].Exception);
    EXPECT_EQ(rec.Terminates[1].TaskIndex, -1);
    EXPECT_TRUE(rec.Terminates[1].Finished);
    // The stopped title is closed properly: a playable stream, shorter than the source.
    TFileFacts f;
    ASSERT_TRUE(Probe(out0, &f));
    ASSERT_TRUE(f.Video() && f.Audio());
    EXPECT_GT(f.Duration, 0.1);
    EXPECT_LT(f.Duration, 11.5);
    EXPECT_FALSE(QFile::exists(Path("stop1.mpg")));

    // The component is ready for the next run.
    rec.Terminates.clear();
    rec.AllDone = false;
    enc.ClearTasks();
    ASSERT_EQ(enc.AddTask(Path("short.mp4"), &io), 0);
    ASSERT_TRUE(enc.SetOutputFile(0, Path("again.mpg"), &o));
    ASSERT_TRUE(enc.Start(1));
    ASSERT_TRUE(RunUntil([&] { return rec.AllDone.load(); }));
    enc.WaitForEnd();
    ASSERT_EQ(rec.Terminates.size(), 2u);
    EXPECT_TRUE(rec.Terminates[0].Finished);
}

TEST_F(EncoderEventsTest, DestroyingAWorkingTranscoderStopsIt) {
    auto enc = std::make_unique<TFFEncoder>();
    TInputOptions io;
    TOutputOptions o = PalDvd();
    ASSERT_EQ(enc->AddTask(Path("long.mp4"), &io), 0);
    ASSERT_TRUE(enc->SetOutputFile(0, Path("destroyed.mpg"), &o));
    ASSERT_TRUE(enc->Start(1));
    QThread::msleep(200);
    QElapsedTimer t;
    t.start();
    enc.reset();
    EXPECT_LT(t.elapsed(), 5000);
}

// The menu's way of using the frame input: 100 painted frames at 15 per second, the 101st
// request stops the transcoder and ends the input.
TEST_F(EncoderEventsTest, FrameInputTaskOfHundredFrames) {
    TFFEncoder enc;
    TFrameInputAdapter fia;
    TInputOptions io;
    io.ForceFormat = QStringLiteral("frameinput");
    const QString name = FrameInputName(fia, 15, 1, 720, 576);
    EXPECT_TRUE(name.startsWith(QStringLiteral("a=%1;r=15/1;s=720*576;bpp=24;t=Canvas").arg(fia.Identity())));
    RegisterFrameInputFormat();
    RegisterFrameInputFormat(); // a second registration changes nothing

    std::vector<int64_t> asked;
    bool offGui = false;
    fia.OnReadFrameCanvas = [&](TFrameInputAdapter* sender, QPainter& canvas, const TInputFrameInfo& info) -> int32_t {
        if (QThread::currentThread() != qApp->thread() || sender != &fia)
            offGui = true;
        asked.push_back(info.FrameNumber);
        if (info.FrameNumber > 100) {
            enc.Stop();
            return -1;
        }
        canvas.fillRect(canvas.clipBoundingRect(), QColor(200, 200, 200));
        return 0;
    };
    const int idx = enc.AddTask(name, &io);
    ASSERT_GE(idx, 0) << qPrintable(enc.LastErrMsg());
    TOutputOptions o;
    o.TargetType = ttDVD;
    o.NormType = ntPAL;
    const QString out = Path("premenu.mpg");
    ASSERT_TRUE(enc.SetOutputFile(idx, out, &o)) << qPrintable(enc.LastErrMsg());
    TRecorder rec;
    rec.Attach(enc);
    ASSERT_TRUE(enc.Start(1));
    ASSERT_TRUE(RunUntil([&] { return rec.AllDone.load(); }));
    enc.WaitForEnd();
    EXPECT_FALSE(offGui);
    ASSERT_EQ(asked.size(), 101u);
    for (size_t i = 0; i < asked.size(); ++i)
        EXPECT_EQ(asked[i], int64_t(i + 1));
    ASSERT_EQ(rec.Terminates.size(), 2u);
    EXPECT_FALSE(rec.Terminates[0].Exception) << qPrintable(rec.Terminates[0].ExceptionMsg);
    EXPECT_EQ(rec.Progress.front().TotalDuration, 0);

    TFileFacts f;
    ASSERT_TRUE(Probe(out, &f));
    ASSERT_TRUE(f.Video());
    EXPECT_EQ(f.Video()->Width, 720);
    EXPECT_EQ(f.Video()->Height, 576);
    EXPECT_EQ(f.Video()->DisplayAspect, "4:3");
    EXPECT_EQ(f.Video()->FrameRate, "25/1");
    EXPECT_NEAR(f.Duration, 100.0 / 15, 0.1);
    std::vector<TPicture> pics;
    ASSERT_TRUE(DecodePictures(out, &pics));
    EXPECT_NEAR(double(pics.size()), 100.0 / 15 * 25, 1.5);
    // Light grey over the whole frame, edges included.
    EXPECT_GT(pics[10].Mean(0, 0, 720, 576), 150);
    EXPECT_GT(pics[10].Mean(0, 0, 8, 8), 150);
}

TEST_F(EncoderEventsTest, FrameInputNamesOnlyReachLiveAdapters) {
    TFFEncoder enc;
    TInputOptions io;
    io.ForceFormat = QStringLiteral("frameinput");
    RegisterFrameInputFormat();
    QString stale;
    {
        TFrameInputAdapter gone;
        stale = FrameInputName(gone, 15, 1, 720, 576);
    }
    EXPECT_LT(enc.AddTask(stale, &io), 0);
    EXPECT_TRUE(enc.LastErrMsg().contains(QLatin1String("adapter"))) << qPrintable(enc.LastErrMsg());
    TFrameInputAdapter fia;
    for (const QString& bad : {QStringLiteral("a=%1;r=0/1;s=720*576;bpp=24;t=Canvas").arg(fia.Identity()),
                               QStringLiteral("a=%1;r=15/1;s=720;bpp=24;t=Canvas").arg(fia.Identity()),
                               QStringLiteral("a=%1;r=15/1;s=720*576;bpp=24;t=Bitmap").arg(fia.Identity()),
                               QStringLiteral("a=999999999;r=15/1;s=720*576;bpp=24;t=Canvas"), QStringLiteral("")}) {
        EXPECT_LT(enc.AddTask(bad, &io), 0) << qPrintable(bad);
        EXPECT_FALSE(enc.LastErrMsg().isEmpty());
    }
    EXPECT_EQ(enc.TasksCount(), 0);

    // The adapter disappears while its task runs: the task fails with a message instead of
    // waiting forever or touching freed memory.
    auto shortLived = std::make_unique<TFrameInputAdapter>();
    shortLived->OnReadFrameCanvas = [&](TFrameInputAdapter*, QPainter&, const TInputFrameInfo& info) -> int32_t {
        if (info.FrameNumber == 5)
            QMetaObject::invokeMethod(qApp, [&] { shortLived.reset(); }, Qt::QueuedConnection);
        return 0;
    };
    const int idx = enc.AddTask(FrameInputName(*shortLived, 15, 1, 720, 576), &io);
    ASSERT_GE(idx, 0);
    TOutputOptions o = PalDvd();
    o.FrameRate.clear();
    ASSERT_TRUE(enc.SetOutputFile(idx, Path("gone.mpg"), &o));
    TRecorder rec;
    rec.Attach(enc);
    ASSERT_TRUE(enc.Start(1));
    ASSERT_TRUE(RunUntil([&] { return rec.AllDone.load(); }));
    enc.WaitForEnd();
    ASSERT_EQ(rec.Terminates.size(), 2u);
    EXPECT_TRUE(rec.Terminates[0].Exception);
    EXPECT_FALSE(rec.Terminates[0].ExceptionMsg.isEmpty());
    EXPECT_FALSE(QFile::exists(Path("gone.mpg")));
}
