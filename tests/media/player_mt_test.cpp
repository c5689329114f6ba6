// The preview player against generated clips whose frames carry their own index.
#include "media/FFPlayer.h"
#include "support/PlayerClips.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QThread>
#include <QWidget>
#include <atomic>
#include <gtest/gtest.h>

using namespace PlayerClips;

namespace {

class PlayerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dir = new QTemporaryDir;
        Clip = IndexClip(Dir->path(), false);
        SoundClip = IndexClip(Dir->path(), true);
    }
    static void TearDownTestSuite() {
        delete Dir;
        Dir = nullptr;
    }
    void SetUp() override {
        ASSERT_FALSE(Clip.isEmpty());
        ASSERT_TRUE(Player.LoadAVLib(QString())) << Player.LastErrMsg().toStdString();
        Panel.resize(200, 100);
        Player.OnPosition = [this](TFFPlayer*, int64_t pts) { Positions.push_back(pts); };
        Player.OnState = [this](TFFPlayer*, TPlayState s) { States.push_back(s); };
    }

    static QTemporaryDir* Dir;
    static QString Clip, SoundClip;
    QWidget Panel;
    TFFPlayer Player;
    std::vector<int64_t> Positions;
    std::vector<TPlayState> States;
};
QTemporaryDir* PlayerTest::Dir = nullptr;
QString PlayerTest::Clip;
QString PlayerTest::SoundClip;

TEST_F(PlayerTest, OpenReportsDurationAndSizeBeforeReturningAndPlaysToTheEnd) {
    bool opened = false;
    int64_t duration = -1;
    int fw = 0, fh = 0;
    Player.OnFileOpen = [&](TFFPlayer*, int64_t d, int w, int h, int& sw, int& sh) {
        opened = true;
        duration = d;
        fw = w;
        fh = h;
        EXPECT_EQ(sw, 200);
        EXPECT_EQ(sh, 100);
    };
    ASSERT_TRUE(Player.Open(Clip, &Panel, false));
    EXPECT_TRUE(opened);
    EXPECT_NEAR(duration, 1200000, 50000);
    EXPECT_EQ(fw, Width);
    EXPECT_EQ(fh, Height);
    EXPECT_EQ(Player.PlayState(), psPlay);
    EXPECT_FALSE(Player.Paused());
    ASSERT_TRUE(WaitFor([&] { return !States.empty() && States.back() == psEnd; }, 6000));
    EXPECT_EQ(Player.PlayState(), psEnd);
    ASSERT_FALSE(Positions.empty());
    EXPECT_TRUE(std::is_sorted(Positions.begin(), Positions.end()));
    EXPECT_GE(Positions.back(), 1100000);
    EXPECT_EQ(FrameIndex(Player.CurrentFrame()), Frames - 1);
}

TEST_F(PlayerTest, PausedSeekShowsTheFrameAtThatPositionAndReportsIt) {
    ASSERT_TRUE(Player.Open(Clip, &Panel, false));
    Player.Pause();
    EXPECT_TRUE(Player.Paused());
    EXPECT_EQ(Player.PlayState(), psPause);
    struct TCase {
        int64_t Pts;
        int Frame;
    };
    for (const TCase c : {TCase{800000, 20}, TCase{400000, 10}, TCase{810000, 20},
                          TCase{1000000, 25}, TCase{120000, 3}}) {
        Positions.clear();
        Player.Seek(c.Pts, {}, true);
        EXPECT_FALSE(Player.Seeking());
        const QImage frame = Player.CurrentFrame();
        ASSERT_EQ(frame.format(), QImage::Format_RGB888);
        EXPECT_EQ(frame.size(), QSize(Width, Height));
        EXPECT_EQ(FrameIndex(frame), c.Frame) << c.Pts;
        ASSERT_TRUE(WaitFor([&] { return !Positions.empty(); }, 2000));
        EXPECT_EQ(Positions.back(), c.Frame * FrameUs) << c.Pts;
        EXPECT_TRUE(Player.Paused());
    }
    // Still paused: the picture does not move on.
    QThread::msleep(200);
    EXPECT_EQ(FrameIndex(Player.CurrentFrame()), 3);
}

TEST_F(PlayerTest, SeekWhilePendingIsIgnoredAndPastTheEndShowsTheLastFrame) {
    ASSERT_TRUE(Player.Open(Clip, &Panel, true));
    EXPECT_EQ(Player.PlayState(), psPause);
    // The first frame is shown although paused.
    ASSERT_TRUE(WaitFor([&] { return Player.CurrentFrame().size() == QSize(Width, Height); }));
    EXPECT_EQ(Player.PlayState(), psPause);
    // The decoding thread is held inside the frame hook, so that the first seek is surely still
    // pending when the second comes in.
    std::atomic<bool> hold{true}, held{false};
    Player.OnVideoHook = [&](TFFPlayer*, QImage&, int64_t, bool&) {
        held = true;
        while (hold)
            QThread::msleep(1);
    };
    Player.SetVideoHook(true);
    Player.Seek(600000, {}, false);
    ASSERT_TRUE(WaitFor([&] { return held.load(); }));
    EXPECT_TRUE(Player.Seeking());
    Player.Seek(200000, {}, false); // pending seek: dropped
    hold = false;
    ASSERT_TRUE(WaitFor([&] { return !Player.Seeking(); }));
    EXPECT_EQ(FrameIndex(Player.CurrentFrame()), 15);
    Player.SetVideoHook(false);

    Player.Seek(99000000, {}, true);
    EXPECT_FALSE(Player.Seeking());
    EXPECT_EQ(FrameIndex(Player.CurrentFrame()), Frames - 1);
}

TEST_F(PlayerTest, StopReturnsStoppedAndNothingIsReportedAfterwards) {
    ASSERT_TRUE(Player.Open(Clip, &Panel, false));
    ASSERT_TRUE(WaitFor([&] { return !Positions.empty(); }));
    Player.Stop(true);
    EXPECT_EQ(Player.PlayState(), psStop);
    EXPECT_EQ(States.back(), psStop);
    EXPECT_TRUE(Player.Paused());
    EXPECT_TRUE(Player.CurrentFrame().isNull());
    EXPECT_EQ(Player.CurrentFrame().width(), 0);
    Positions.clear();
    const size_t states = States.size();
    WaitFor([] { return false; }, 300);
    EXPECT_TRUE(Positions.empty());
    EXPECT_EQ(States.size(), states);
    // Stop again and seeking without a file are harmless.
    Player.Stop(true);
    Player.Seek(1000, {}, true);
    EXPECT_FALSE(Player.Seeking());
}

TEST_F(PlayerTest, PauseResumeAndToggleReportTheirStates) {
    ASSERT_TRUE(Player.Open(Clip, &Panel, false));
    Player.TogglePause();
    EXPECT_EQ(Player.PlayState(), psPause);
    const int64_t before = Positions.empty() ? 0 : Positions.back();
    WaitFor([] { return false; }, 300);
    const int64_t during = Positions.empty() ? 0 : Positions.back();
    EXPECT_LE(during - before, FrameUs); // at most the frame that was on its way
    Player.TogglePause();
    EXPECT_EQ(Player.PlayState(), psResume);
    EXPECT_FALSE(Player.Paused());
    ASSERT_TRUE(WaitFor([&] { return !States.empty() && States.back() == psEnd; }, 6000));
    EXPECT_EQ(States, (std::vector<TPlayState>{psPlay, psPause, psResume, psEnd}));
}

TEST_F(PlayerTest, PictureIsFittedAndCentredByAspectRatio) {
    ASSERT_TRUE(Player.Open(Clip, &Panel, true));
    Player.Seek(800000, {}, true); // a light grey frame
    auto shot = [&] {
        WaitFor([] { return false; }, 100);
        return Panel.grab().toImage();
    };
    // 64 x 48 in 200 x 100 at its own ratio: 133.33 wide, centred; black bars left and right.
    QImage img = shot();
    EXPECT_EQ(img.pixelColor(10, 50), QColor(Qt::black));
    EXPECT_GT(img.pixelColor(100, 50).green(), 100);
    EXPECT_GT(img.pixelColor(40, 50).green(), 100);
    EXPECT_EQ(img.pixelColor(30, 50), QColor(Qt::black));

    Player.SetAspectRatio(-1); // stretched over the whole panel
    EXPECT_FLOAT_EQ(Player.AspectRatio(), -1);
    Player.Seek(800000, {}, true);
    img = shot();
    EXPECT_GT(img.pixelColor(3, 50).green(), 100);
    EXPECT_GT(img.pixelColor(196, 96).green(), 100);
}

TEST_F(PlayerTest, VideoHookDrawsOnTheFrameOnTheDecodingThread) {
    std::atomic<bool> offGui{false};
    std::atomic<int> calls{0};
    Player.SetVideoHook(true);
    Player.OnVideoHook = [&](TFFPlayer*, QImage& bitmap, int64_t, bool& update) {
        EXPECT_TRUE(update);
        EXPECT_EQ(bitmap.size(), QSize(Width, Height));
        offGui = QThread::currentThread() != QCoreApplication::instance()->thread();
        bitmap.setPixelColor(0, 0, QColor(255, 0, 0));
        ++calls;
    };
    ASSERT_TRUE(Player.Open(Clip, &Panel, true));
    Player.Seek(400000, {}, true);
    EXPECT_GT(calls.load(), 0);
    EXPECT_TRUE(offGui.load());
    const QImage frame = Player.CurrentFrame();
    EXPECT_EQ(frame.pixelColor(0, 0), QColor(255, 0, 0));
    EXPECT_EQ(FrameIndex(frame), 10);
}

TEST_F(PlayerTest, WithoutSoundDeviceThePictureStillPlaysAndOneLineIsLogged) {
    QStringList lines;
    Player.OnLog = [&](const QString& line) { lines << line; };
    ASSERT_TRUE(Player.Open(SoundClip, &Panel, false));
    EXPECT_FALSE(Player.AudioPlaying());
    ASSERT_TRUE(WaitFor([&] { return !Positions.empty() && Positions.back() > 400000; }));
    ASSERT_TRUE(Player.Open(SoundClip, &Panel, false));
    EXPECT_EQ(lines.size(), 1);
}

TEST_F(PlayerTest, AudioOnlyFileKeepsTimeAndEnds) {
    const QString tone = AudioOnlyClip(Dir->path());
    ASSERT_FALSE(tone.isEmpty());
    int fw = -1;
    Player.OnFileOpen = [&](TFFPlayer*, int64_t, int w, int, int&, int&) { fw = w; };
    ASSERT_TRUE(Player.Open(tone, &Panel, false));
    EXPECT_EQ(fw, 0);
    EXPECT_TRUE(Player.CurrentFrame().isNull());
    ASSERT_TRUE(WaitFor([&] { return !States.empty() && States.back() == psEnd; }, 6000));
    ASSERT_FALSE(Positions.empty());
    EXPECT_GT(Positions.back(), 800000);
}

TEST_F(PlayerTest, BadFileFailsWithAReasonAndVolumeIsClamped) {
    EXPECT_FALSE(Player.Open(Dir->filePath(QStringLiteral("missing.mkv")), &Panel, false));
    EXPECT_FALSE(Player.LastErrMsg().isEmpty());
    EXPECT_TRUE(Player.Paused());
    EXPECT_EQ(Player.AudioVolume(), 128);
    Player.SetAudioVolume(300);
    EXPECT_EQ(Player.AudioVolume(), 128);
    Player.SetAudioVolume(-5);
    EXPECT_EQ(Player.AudioVolume(), 0);
}

} // namespace
