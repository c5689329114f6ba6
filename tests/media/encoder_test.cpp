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

// ---- picture shape ------------------------------------------------------------------------------

namespace {

// Extent of the lit picture inside the frame (bars are black).
void ActiveArea(const TPicture& p, int* width, int* height) {
    *width = *height = 0;
    for (int y = 0; y < p.Height; ++y)
        if (p.Mean(p.Width / 2 - 4, y, p.Width / 2 + 4, y + 1) > 60)
            ++*height;
    for (int x = 0; x < p.Width; ++x)
        if (p.Mean(x, p.Height / 2 - 4, x + 1, p.Height / 2 + 4) > 60)
            ++*width;
}

} // namespace

TEST_F(EncoderTest, AspectChoicesLetterboxAndPillarboxIntoTheDiscFrame) {
    ASSERT_TRUE(Ffmpeg(QStringLiteral("-f lavfi -i color=c=0xC0C0C0:s=320x240:r=25:d=0.4 -c:v libx264 -preset ultrafast "
                                      "-pix_fmt yuv420p %1")
                           .arg(Path("grey43.mp4"))
                           .split(QLatin1Char(' '))));
    ASSERT_TRUE(Ffmpeg(QStringLiteral("-f lavfi -i color=c=0xC0C0C0:s=640x360:r=25:d=0.4 -c:v libx264 -preset ultrafast "
                                      "-pix_fmt yuv420p %1")
                           .arg(Path("grey169.mp4"))
                           .split(QLatin1Char(' '))));
    // Anamorphic: stored 720x576, shown 16:9.
    ASSERT_TRUE(Ffmpeg(QStringLiteral("-f lavfi -i color=c=0xC0C0C0:s=720x576:r=25:d=0.4 -vf setsar=64/45 -c:v libx264 "
                                      "-preset ultrafast -pix_fmt yuv420p %1")
                           .arg(Path("anamorphic.mp4"))
                           .split(QLatin1Char(' '))));
    struct TCase {
        const char* Source;
        const char* Aspect;
        const char* Filters;
        TDiscAspect Disc;
        int Width, Height; // lit area in the 720x576 frame
    };
    const std::vector<TCase> cases = {
        {"grey43.mp4", "", "", TDiscAspect::Aspect4x3, 720, 576},
        {"grey169.mp4", "-1", "", TDiscAspect::Aspect4x3, 720, 576},
        {"grey169.mp4", "", "", TDiscAspect::Aspect4x3, 720, 432},
        {"anamorphic.mp4", "", "", TDiscAspect::Aspect4x3, 720, 432},
        {"grey43.mp4", "16:9", "", TDiscAspect::Aspect4x3, 720, 432},
        {"grey43.mp4", "1.85:1", "", TDiscAspect::Aspect4x3, 720, 415},
        {"grey43.mp4", "2.35:1", "", TDiscAspect::Aspect4x3, 720, 327},
        {"grey43.mp4", "4:3", "", TDiscAspect::Aspect16x9, 540, 576},
        {"grey43.mp4", "2.35:1", "", TDiscAspect::Aspect16x9, 720, 436},
        {"grey43.mp4", "", "crop=320:180:0:30,scale=", TDiscAspect::Aspect4x3, 720, 432},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(QStringLiteral("%1 aspect \"%2\" filters \"%3\"")
                         .arg(QLatin1String(c.Source), QLatin1String(c.Aspect), QLatin1String(c.Filters))
                         .toStdString());
        TFFEncoder enc;
        enc.SetDiscAspect(c.Disc);
        TOutputOptions o = Dvd(ntPAL);
        o.FrameAspectRatio = QLatin1String(c.Aspect);
        o.VideoFilters = QLatin1String(c.Filters);
        const QString out = Path("aspect.mpg");
        const TRunResult r = Convert(enc, Path(QLatin1String(c.Source)), out, o);
        ASSERT_TRUE(r.Ok()) << qPrintable(r.Error());
        TFileFacts f;
        ASSERT_TRUE(Probe(out, &f));
        EXPECT_EQ(f.Video()->DisplayAspect, c.Disc == TDiscAspect::Aspect4x3 ? "4:3" : "16:9");
        std::vector<TPicture> pics;
        ASSERT_TRUE(DecodePictures(out, &pics));
        int w = 0, h = 0;
        ActiveArea(pics[pics.size() / 2], &w, &h);
        EXPECT_NEAR(w, c.Width, 6);
        EXPECT_NEAR(h, c.Height, 6);
    }

    // The disc's frame follows the widest title; a stretched picture does not count.
    TFFEncoder enc;
    TInputOptions io;
    ASSERT_EQ(enc.AddTask(Path("grey43.mp4"), &io), 0);
    TOutputOptions o = Dvd(ntPAL);
    ASSERT_TRUE(enc.SetOutputFile(0, Path("d1.mpg"), &o));
    EXPECT_EQ(enc.DecideDiscAspect(), TDiscAspect::Aspect4x3);
    ASSERT_EQ(enc.AddTask(Path("grey169.mp4"), &io), 1);
    o.FrameAspectRatio = QStringLiteral("-1");
    ASSERT_TRUE(enc.SetOutputFile(1, Path("d2.mpg"), &o));
    EXPECT_EQ(enc.DecideDiscAspect(), TDiscAspect::Aspect4x3);
    o.FrameAspectRatio = QStringLiteral("1.85:1");
    ASSERT_TRUE(enc.SetOutputFile(1, Path("d2.mpg"), &o));
    EXPECT_EQ(enc.DecideDiscAspect(), TDiscAspect::Aspect16x9);
}

// ---- interlace ----------------------------------------------------------------------------------

namespace {

// How much neighbouring rows disagree against rows two apart: high on combed pictures.
double Combing(const TPicture& p) {
    double sum = 0;
    int n = 0;
    for (int y = 2; y + 2 < p.Height; y += 1)
        for (int x = 0; x < p.Width; x += 4, ++n) {
            const int a = p.At(x, y - 1), b = p.At(x, y), c = p.At(x, y + 1);
            sum += std::max(0, std::abs(2 * b - a - c) - std::abs(p.At(x, y + 2) - b) - std::abs(b - p.At(x, y - 2)));
        }
    return n ? sum / n : 0;
}

} // namespace

TEST_F(EncoderTest, InterlacedSourcesKeepTheirFieldsOrLoseTheCombing) {
    // Fields that really differ: 50 moving pictures a second woven into 25 frames.
    for (const char* order : {"tff", "bff"}) {
        const QString mode = QLatin1String(order) == QLatin1String("tff") ? QStringLiteral("interleave_top")
                                                                          : QStringLiteral("interleave_bottom");
        const QString field = QLatin1String(order) == QLatin1String("tff") ? QStringLiteral("tff") : QStringLiteral("bff");
        ASSERT_TRUE(Ffmpeg(QStringLiteral("-f lavfi -i testsrc2=s=720x576:r=50:d=1 -vf tinterlace=mode=%1,setfield=%2 "
                                          "-c:v mpeg2video -flags +ilme+ildct -top %3 -q:v 2 %4")
                               .arg(mode, field, field == QLatin1String("tff") ? QStringLiteral("1") : QStringLiteral("0"),
                                    Path(QStringLiteral("i25%1.ts").arg(field)))
                               .split(QLatin1Char(' '))));
    }
    ASSERT_TRUE(Ffmpeg(QStringLiteral("-f lavfi -i testsrc2=s=720x480:r=60000/1001:d=1 -vf "
                                      "tinterlace=mode=interleave_top,setfield=tff -c:v mpeg2video -flags +ilme+ildct -top 1 "
                                      "-q:v 2 %1")
                           .arg(Path("i30tff.ts"))
                           .split(QLatin1Char(' '))));
    struct TCase {
        const char* Source;
        TOptionNormType Norm;
        const char* FieldOrder; // of the output
    };
    const std::vector<TCase> cases = {
        {"i25tff.ts", ntPAL, "tt"},
        {"i25bff.ts", ntPAL, "bb"},
        {"i30tff.ts", ntNTSC, "tt"},
        {"i25tff.ts", ntNTSC, "progressive"},
        {"i30tff.ts", ntPAL, "progressive"},
    };
    double keptCombing = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Source);
        TFFEncoder enc;
        const QString out = Path("interlace.mpg");
        const TRunResult r = Convert(enc, Path(QLatin1String(c.Source)), out, Dvd(c.Norm));
        ASSERT_TRUE(r.Ok()) << qPrintable(r.Error());
        TFileFacts f;
        ASSERT_TRUE(Probe(out, &f));
        EXPECT_EQ(f.Video()->FieldOrder, c.FieldOrder);
        std::vector<TPicture> pics;
        ASSERT_TRUE(DecodePictures(out, &pics));
        const TPicture& p = pics[pics.size() / 2];
        const bool kept = QLatin1String(c.FieldOrder) != QLatin1String("progressive");
        EXPECT_EQ(p.Interlaced, kept);
        if (kept) {
            EXPECT_EQ(p.TopFieldFirst, QLatin1String(c.FieldOrder) == QLatin1String("tt"));
            keptCombing = std::max(keptCombing, Combing(p));
        } else {
            EXPECT_LT(Combing(p), keptCombing / 3) << "a converted interlaced source shows no combing";
        }
    }
}

// ---- sources missing a stream -------------------------------------------------------------------

TEST_F(EncoderTest, SoundOnlySourceGetsABlackPictureAndSilentSourceGetsSilence) {
    ASSERT_TRUE(Ffmpeg(QStringLiteral("-f lavfi -i sine=d=1.5 -c:a aac %1").arg(Path("sound.m4a")).split(QLatin1Char(' '))));
    TFFEncoder enc;
    const TRunResult r = Convert(enc, Path("sound.m4a"), Path("sound.mpg"), Dvd(ntNTSC));
    ASSERT_TRUE(r.Ok()) << qPrintable(r.Error());
    TFileFacts f;
    ASSERT_TRUE(Probe(Path("sound.mpg"), &f));
    ASSERT_TRUE(f.Video() && f.Audio());
    EXPECT_EQ(f.Video()->Height, 480);
    std::vector<TPicture> pics;
    ASSERT_TRUE(DecodePictures(Path("sound.mpg"), &pics));
    // The picture lasts as long as the sound (counted frames: the length the container's
    // timestamps suggest for the picture is only an estimate).
    EXPECT_NEAR(pics.size() * 1001 / 30000.0, f.Audio()->Duration, 0.04);
    EXPECT_NEAR(f.Audio()->Duration, 1.5, 0.12);
    EXPECT_LT(pics.back().Mean(0, 0, 720, 480), 20);

    const TRunResult r2 = Convert(enc, Path("wide.mkv"), Path("silent.mpg"), Dvd(ntPAL));
    ASSERT_TRUE(r2.Ok()) << qPrintable(r2.Error());
    std::vector<float> samples;
    int rate = 0;
    double start = 0;
    ASSERT_TRUE(DecodeSound(Path("silent.mpg"), &samples, &rate, &start));
    EXPECT_EQ(rate, 48000);
    EXPECT_NEAR(samples.size() / 48000.0, 2.0, 0.05);
    EXPECT_LT(*std::max_element(samples.begin(), samples.end()), 0.01f);
}

// ---- filling the disc ---------------------------------------------------------------------------

TEST_F(EncoderTest, BitRateFillsTheDiscWithoutOverflowingIt) {
    const int64_t hour = 3600LL * 1000000;
    for (TDiscType disc : {TDiscType::DVD5, TDiscType::DVD9}) {
        const int64_t capacity = TFFEncoder::DiscCapacityBytes(disc);
        int64_t previous = INT64_MAX;
        for (int64_t length : {hour / 6, hour, 2 * hour, 3 * hour, 4 * hour, 6 * hour, 12 * hour}) {
            const int64_t rate = TFFEncoder::FitVideoBitRate(length, disc);
            EXPECT_GE(rate, 2000000);
            EXPECT_LE(rate, 8000000);
            EXPECT_LE(rate, previous) << "longer title lists never get a higher rate";
            previous = rate;
            if (rate > 2000000) {
                EXPECT_LT(TFFEncoder::PlannedTitleBytes(length, rate), capacity * 97 / 100) << length;
            }
            if (rate < 8000000 && rate > 2000000) {
                EXPECT_GT(TFFEncoder::PlannedTitleBytes(length, rate), capacity * 85 / 100) << "the disc is used";
            }
        }
    }
    EXPECT_EQ(TFFEncoder::DiscCapacityBytes(TDiscType::DVD5), 2295104LL * 2048);
    EXPECT_EQ(TFFEncoder::DiscCapacityBytes(TDiscType::DVD9), 4171712LL * 2048);
    EXPECT_EQ(TFFEncoder::FitVideoBitRate(hour / 2, TDiscType::DVD5), 8000000);
    EXPECT_EQ(TFFEncoder::FitVideoBitRate(12 * hour, TDiscType::DVD5), 2000000);

    // A real conversion keeps to the plan: a grainy picture at the rate of a three-hour title
    // list, long enough for the encoder's rate control to settle.
    ASSERT_TRUE(Ffmpeg(QStringLiteral("-f lavfi -i testsrc2=s=720x576:r=25:d=10 -f lavfi -i sine=d=10 -vf noise=alls=20:allf=t "
                                      "-c:v libx264 -preset ultrafast -qp 5 -pix_fmt yuv420p -c:a aac -shortest %1")
                           .arg(Path("noisy.mp4"))
                           .split(QLatin1Char(' '))));
    TFFEncoder enc;
    enc.SetDiscType(TDiscType::DVD5);
    enc.SetTotalTitleLength(3 * hour);
    const QString out = Path("planned.mpg");
    const TRunResult r = Convert(enc, Path("noisy.mp4"), out, Dvd(ntPAL));
    ASSERT_TRUE(r.Ok()) << qPrintable(r.Error());
    const int64_t rate = TFFEncoder::FitVideoBitRate(3 * hour, TDiscType::DVD5);
    const int64_t size = QFileInfo(out).size();
    EXPECT_LE(size, TFFEncoder::PlannedTitleBytes(10000000, rate));
    EXPECT_GT(size, TFFEncoder::PlannedTitleBytes(10000000, rate) * 8 / 10) << "the rate is used, not undershot";
}
