// The transcoder's outputs: DVD compliance of the streams, picture shape, trims, sync, bad input.
#include "media/FFEncoder.h"
#include "support/TranscodeFixtures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <cmath>

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
