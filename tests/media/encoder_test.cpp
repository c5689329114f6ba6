// The transcoder's outputs: DVD compliance of the streams, picture shape, trims, sync, bad input.
#include "media/FFEncoder.h"
#include "support/TranscodeFixtures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <cmath>
#include <csignal>
#include <sys/resource.h>
#include <QFileInfo>

using namespace TranscodeFixtures;

namespace {

QTemporaryDir* gDir = nullptr;

QString Path(const QString& name) {
    return gDir->filePath(name);
}

// Every fixture is generated once for the whole file.
class EncoderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        gDir = new QTemporaryDir();
        ASSERT_TRUE(gDir->isValid());
        const QString x264 = QStringLiteral("-c:v libx264 -preset ultrafast -pix_fmt yuv420p");
        // 4:3 source, 25 fps, with sound.
        ASSERT_TRUE(Ffmpeg(QStringLiteral("-f lavfi -i testsrc2=s=320x240:r=25:d=2 -f lavfi -i sine=f=440:d=2:sample_rate=44100 "
                                          "%1 -c:a aac -ac 2 -shortest %2")
                               .arg(x264, Path("a43.mp4"))
                               .split(QLatin1Char(' '))));
        // Wide source at film rate, no sound.
        ASSERT_TRUE(Ffmpeg(QStringLiteral("-f lavfi -i testsrc2=s=640x272:r=24000/1001:d=2 %1 %2")
                               .arg(x264, Path("wide.mkv"))
                               .split(QLatin1Char(' '))));
    }
    static void TearDownTestSuite() {
        delete gDir;
        gDir = nullptr;
    }
};

struct TRunResult {
    std::vector<TTerminateInfo> Events;
    bool Ok() const { return Events.size() >= 2 && Events.front().Finished && !Events.front().Exception; }
    QString Error() const { return Events.empty() ? QStringLiteral("no event") : Events.front().ExceptionMsg; }
};

// Runs one task on the calling thread.
TRunResult Convert(TFFEncoder& enc, const QString& in, const QString& out, TOutputOptions o, int64_t start = -1) {
    TRunResult r;
    enc.ClearTasks();
    TInputOptions io;
    io.TimeStart = start;
    const int idx = enc.AddTask(in, &io);
    EXPECT_GE(idx, 0) << qPrintable(enc.LastErrMsg());
    if (idx < 0)
        return r;
    EXPECT_TRUE(enc.SetOutputFile(idx, out, &o)) << qPrintable(enc.LastErrMsg());
    enc.OnTerminate = [&](TFFEncoder*, const TTerminateInfo& info) { r.Events.push_back(info); };
    EXPECT_TRUE(enc.Start(0));
    return r;
}

TOutputOptions Dvd(TOptionNormType norm) {
    TOutputOptions o;
    o.TargetType = ttDVD;
    o.NormType = norm;
    if (norm == ntPAL)
        o.FrameRate = QStringLiteral("25");
    o.Info.TimeStamp = 0;
    return o;
}

} // namespace

TEST_F(EncoderTest, DvdStreamsForBothStandards) {
    struct TCase {
        TOptionNormType Norm;
        int Height;
        const char* Rate;
    };
    for (const TCase& c : {TCase{ntPAL, 576, "25/1"}, TCase{ntNTSC, 480, "30000/1001"}}) {
        TFFEncoder enc;
        const QString out = Path(QStringLiteral("std%1.mpg").arg(c.Height));
        const TRunResult r = Convert(enc, Path("a43.mp4"), out, Dvd(c.Norm));
        ASSERT_TRUE(r.Ok()) << qPrintable(r.Error());
        TFileFacts f;
        ASSERT_TRUE(Probe(out, &f));
        EXPECT_EQ(f.FormatName, "mpeg");
        ASSERT_TRUE(f.Video() && f.Audio());
        EXPECT_EQ(f.Video()->CodecName, "mpeg2video");
        EXPECT_EQ(f.Video()->Width, 720);
        EXPECT_EQ(f.Video()->Height, c.Height);
        EXPECT_EQ(f.Video()->FrameRate, c.Rate);
        EXPECT_EQ(f.Video()->DisplayAspect, "4:3");
        EXPECT_EQ(f.Audio()->CodecName, "ac3");
        EXPECT_EQ(f.Audio()->SampleRate, 48000);
        EXPECT_EQ(f.Audio()->Channels, 2);
        EXPECT_NEAR(f.Duration, 2.0, 0.1);
    }
}

namespace {

// dvdauthor's complaints that matter: errors, and the aspect warnings that show titles which
// do not share one frame shape.
void ExpectAuthoredCleanly(const QString& standard, const QStringList& titles) {
    const QString dir = Path(QStringLiteral("dvd_") + standard);
    QDir(dir).removeRecursively();
    QString log;
    const QStringList env{QStringLiteral("VIDEO_FORMAT=") + standard};
    ASSERT_EQ(RunProgram(QStringLiteral("dvdauthor"), QStringList{QStringLiteral("-o"), dir, QStringLiteral("-t")} + titles,
                         &log, env),
              0)
        << qPrintable(log);
    EXPECT_FALSE(log.contains(QLatin1String("ERR"))) << qPrintable(log);
    for (const QString& line : log.split(QLatin1Char('\n')))
        EXPECT_FALSE(line.startsWith(QLatin1String("WARN")) && line.contains(QLatin1String("aspect"), Qt::CaseInsensitive))
            << qPrintable(line);
    EXPECT_TRUE(log.contains(QLatin1String("Aspect ratio: 16:9"))) << qPrintable(log);
    ASSERT_EQ(RunProgram(QStringLiteral("dvdauthor"), {QStringLiteral("-o"), dir, QStringLiteral("-T")}, &log, env), 0)
        << qPrintable(log);
    EXPECT_TRUE(QFile::exists(dir + QStringLiteral("/VIDEO_TS/VTS_01_1.VOB")));
}

} // namespace

// A wide title makes the whole disc 16:9; the 4:3 title is pillarboxed and the 2.35:1 title
// letterboxed inside that frame, and dvdauthor takes them together without a word.
TEST_F(EncoderTest, MixedTitlesShareOneFrameShapeAndAuthorCleanly) {
    for (TOptionNormType norm : {ntPAL, ntNTSC}) {
        const QString standard = norm == ntPAL ? QStringLiteral("PAL") : QStringLiteral("NTSC");
        TFFEncoder enc;
        TInputOptions io;
        TOutputOptions o = Dvd(norm);
        const QStringList sources{Path("a43.mp4"), Path("wide.mkv")};
        QStringList outs;
        for (int i = 0; i < sources.size(); ++i) {
            const int idx = enc.AddTask(sources[i], &io);
            ASSERT_EQ(idx, i) << qPrintable(enc.LastErrMsg());
            outs << Path(QStringLiteral("mix%1_%2.mpg").arg(standard).arg(i + 1));
            ASSERT_TRUE(enc.SetOutputFile(idx, outs.last(), &o)) << qPrintable(enc.LastErrMsg());
        }
        EXPECT_EQ(enc.DecideDiscAspect(), TDiscAspect::Aspect16x9);
        std::vector<TTerminateInfo> events;
        enc.OnTerminate = [&](TFFEncoder*, const TTerminateInfo& info) { events.push_back(info); };
        ASSERT_TRUE(enc.Start(0));
        ASSERT_EQ(events.size(), 3u);
        for (int i = 0; i < 2; ++i)
            ASSERT_TRUE(events[i].Finished && !events[i].Exception) << qPrintable(events[i].ExceptionMsg);
        EXPECT_EQ(events[2].TaskIndex, -1);

        const int h = norm == ntPAL ? 576 : 480;
        for (const QString& out : outs) {
            TFileFacts f;
            ASSERT_TRUE(Probe(out, &f));
            ASSERT_TRUE(f.Video() && f.Audio()) << "every title carries sound";
            EXPECT_EQ(f.Video()->DisplayAspect, "16:9");
            EXPECT_EQ(f.Video()->Height, h);
        }
        std::vector<TPicture> pics;
        // 4:3 picture in a 16:9 frame: bars left and right, about 90 pixels each.
        ASSERT_TRUE(DecodePictures(outs[0], &pics));
        const TPicture& p43 = pics[pics.size() / 2];
        EXPECT_LT(p43.Mean(0, 0, 80, h), 20);
        EXPECT_LT(p43.Mean(640, 0, 720, h), 20);
        EXPECT_GT(p43.Mean(100, 0, 620, h), 40);
        // 2.35:1 picture in a 16:9 frame: bars above and below, about 12% of the height each.
        ASSERT_TRUE(DecodePictures(outs[1], &pics));
        const TPicture& pw = pics[pics.size() / 2];
        EXPECT_LT(pw.Mean(0, 0, 720, h / 10), 20);
        EXPECT_LT(pw.Mean(0, h - h / 10, 720, h), 20);
        EXPECT_GT(pw.Mean(0, h / 5, 720, h - h / 5), 40);
        ExpectAuthoredCleanly(standard, outs);
    }
}

// ---- registration -------------------------------------------------------------------------------

TEST_F(EncoderTest, RegistrationRefusesWhatCannotWork) {
    TFFEncoder enc;
    QFile(Path("empty.mp4")).open(QIODevice::WriteOnly);
    {
        QFile text(Path("notes.mp4"));
        ASSERT_TRUE(text.open(QIODevice::WriteOnly));
        text.write(QByteArray(4000, 'x'));
    }
    TInputOptions io;
    for (const QString& bad : {Path("missing.mp4"), Path("empty.mp4"), Path("notes.mp4"), QString()}) {
        EXPECT_LT(enc.AddTask(bad, &io), 0) << qPrintable(bad);
        EXPECT_FALSE(enc.LastErrMsg().isEmpty());
    }
    io.TimeStart = 5000000; // the clip lasts 2 s
    EXPECT_LT(enc.AddTask(Path("a43.mp4"), &io), 0);
    EXPECT_TRUE(enc.LastErrMsg().contains(QLatin1String("beyond"))) << qPrintable(enc.LastErrMsg());
    io.TimeStart = -1;
    EXPECT_EQ(enc.TasksCount(), 0);

    ASSERT_EQ(enc.AddTask(Path("a43.mp4"), &io), 0);
    EXPECT_FALSE(enc.Start(0)) << "a task without an output file cannot run";
    struct TCase {
        const char* What;
        std::function<void(TOutputOptions&, QString&)> Change;
    };
    const std::vector<TCase> cases = {
        {"not a DVD target", [](TOutputOptions& o, QString&) { o.TargetType = ttVCD; }},
        {"15 fps", [](TOutputOptions& o, QString&) { o.FrameRate = QStringLiteral("15"); }},
        {"PAL rate on NTSC", [](TOutputOptions& o, QString&) { o.NormType = ntNTSC; }},
        {"bad frame size", [](TOutputOptions& o, QString&) { o.FrameSize = QStringLiteral("640x480"); }},
        {"bad aspect", [](TOutputOptions& o, QString&) { o.FrameAspectRatio = QStringLiteral("wide"); }},
        {"bad filter", [](TOutputOptions& o, QString&) { o.VideoFilters = QStringLiteral("nosuchfilter=1"); }},
        {"crop outside", [](TOutputOptions& o, QString&) { o.VideoFilters = QStringLiteral("crop=900:100:0:0,scale="); }},
        {"empty trim", [](TOutputOptions& o, QString&) { o.TimeLength = 0; }},
        {"no folder", [](TOutputOptions&, QString& f) { f = Path("nofolder/x.mpg"); }},
        {"over its source", [](TOutputOptions&, QString& f) { f = Path("a43.mp4"); }},
    };
    for (const TCase& c : cases) {
        TOutputOptions o = Dvd(ntPAL);
        QString file = Path("reg.mpg");
        c.Change(o, file);
        EXPECT_FALSE(enc.SetOutputFile(0, file, &o)) << c.What;
        EXPECT_FALSE(enc.LastErrMsg().isEmpty()) << c.What;
    }
    TOutputOptions o = Dvd(ntPAL);
    EXPECT_FALSE(enc.SetOutputFile(1, Path("reg.mpg"), &o));
    o.VideoFilters = QStringLiteral("crop=300:220:10:10,scale=");
    EXPECT_TRUE(enc.SetOutputFile(0, Path("reg.mpg"), &o)) << qPrintable(enc.LastErrMsg());
    EXPECT_TRUE(enc.RemoveTask(0));
    EXPECT_FALSE(enc.RemoveTask(0));
    EXPECT_EQ(enc.TasksCount(), 0);
}

// ---- bad input while converting -----------------------------------------------------------------

TEST_F(EncoderTest, BadSourcesEndTheTaskWithAReadableErrorAndNoOutput) {
    // A source that disappears after registration, and one cut short mid-stream.
    ASSERT_TRUE(QFile::copy(Path("a43.mp4"), Path("vanishing.mp4")));
    ASSERT_TRUE(Ffmpeg(QStringLiteral("-f lavfi -i testsrc2=s=320x240:r=25:d=3 -f lavfi -i sine=d=3 -c:v libx264 -preset "
                                      "ultrafast -pix_fmt yuv420p -c:a aac -shortest -movflags +faststart %1")
                           .arg(Path("full.mp4"))
                           .split(QLatin1Char(' '))));
    ASSERT_TRUE(QFile::copy(Path("full.mp4"), Path("truncated.mp4")));
    struct TCase {
        QString Source;
        std::function<void()> AfterRegistration;
    };
    const std::vector<TCase> cases = {
        {Path("vanishing.mp4"), [] { QFile::remove(Path("vanishing.mp4")); }},
        {Path("truncated.mp4"),
         [] {
             QFile f(Path("truncated.mp4"));
             ASSERT_TRUE(f.resize(f.size() / 3));
         }},
    };
    TFFEncoder enc;
    for (const TCase& c : cases) {
        enc.ClearTasks();
        TInputOptions io;
        ASSERT_EQ(enc.AddTask(c.Source, &io), 0) << qPrintable(enc.LastErrMsg());
        TOutputOptions o = Dvd(ntPAL);
        const QString out = Path("bad.mpg");
        ASSERT_TRUE(enc.SetOutputFile(0, out, &o));
        c.AfterRegistration();
        std::vector<TTerminateInfo> events;
        enc.OnTerminate = [&](TFFEncoder*, const TTerminateInfo& info) { events.push_back(info); };
        ASSERT_TRUE(enc.Start(0));
        ASSERT_EQ(events.size(), 2u);
        EXPECT_TRUE(events[0].Exception) << qPrintable(c.Source);
        EXPECT_FALSE(events[0].Finished);
        EXPECT_TRUE(events[0].ExceptionMsg.contains(QFileInfo(c.Source).fileName())) << qPrintable(events[0].ExceptionMsg);
        EXPECT_FALSE(QFile::exists(out)) << "the half-written output is removed";
    }
    // Still usable afterwards.
    const TRunResult r = Convert(enc, Path("a43.mp4"), Path("after.mpg"), Dvd(ntPAL));
    EXPECT_TRUE(r.Ok()) << qPrintable(r.Error());
}

// A disk that fills up while writing (a file size limit gives the same write failure).
TEST_F(EncoderTest, FullDiskEndsTheTaskAndRemovesTheOutput) {
    TFFEncoder enc;
    TInputOptions io;
    ASSERT_EQ(enc.AddTask(Path("a43.mp4"), &io), 0);
    TOutputOptions o = Dvd(ntPAL);
    const QString out = Path("full.mpg");
    ASSERT_TRUE(enc.SetOutputFile(0, out, &o));
    std::vector<TTerminateInfo> events;
    enc.OnTerminate = [&](TFFEncoder*, const TTerminateInfo& info) { events.push_back(info); };
    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 300 * 1024;
    setrlimit(RLIMIT_FSIZE, &small);
    enc.Start(0);
    setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_TRUE(events[0].Exception);
    EXPECT_TRUE(events[0].ExceptionMsg.contains(QLatin1String("full.mpg"))) << qPrintable(events[0].ExceptionMsg);
    EXPECT_FALSE(QFile::exists(out));
}
