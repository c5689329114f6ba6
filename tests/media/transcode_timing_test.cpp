// Time in the transcoder's outputs: frame-accurate trims and sound that keeps pace with the
// picture through frame rate changes, trims and streams that start at different times.
#include "media/FFEncoder.h"
#include "support/TranscodeFixtures.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <cmath>

using namespace TranscodeFixtures;

namespace {

QTemporaryDir* gDir = nullptr;

QString Path(const QString& name) {
    return gDir->filePath(name);
}

bool Convert(const QString& in, const QString& out, TOptionNormType norm, int64_t start, int64_t length,
             QString* error) {
    TFFEncoder enc;
    TInputOptions io;
    io.TimeStart = start;
    if (enc.AddTask(in, &io) != 0) {
        *error = enc.LastErrMsg();
        return false;
    }
    TOutputOptions o;
    o.TargetType = ttDVD;
    o.NormType = norm;
    o.TimeLength = length;
    if (!enc.SetOutputFile(0, out, &o)) {
        *error = enc.LastErrMsg();
        return false;
    }
    bool ok = false;
    enc.OnTerminate = [&](TFFEncoder*, const TTerminateInfo& info) {
        if (info.TaskIndex == 0) {
            ok = info.Finished && !info.Exception;
            *error = info.ExceptionMsg;
        }
    };
    enc.Start(0);
    return ok;
}

// The index a picture carries: eight bits as black and white columns across the frame.
int PictureIndex(const TPicture& p) {
    int index = 0;
    const int column = p.Width / 8;
    for (int bit = 0; bit < 8; ++bit)
        if (p.Mean(bit * column + column / 3, p.Height / 3, bit * column + 2 * column / 3, 2 * p.Height / 3) > 128)
            index |= 1 << bit;
    return index;
}

// Times at which the picture turns white and the sound turns on.
std::vector<double> FlashOnsets(const QString& file) {
    std::vector<TPicture> pics;
    EXPECT_TRUE(DecodePictures(file, &pics));
    std::vector<double> onsets;
    bool lit = false;
    for (const TPicture& p : pics) {
        const bool now = p.Mean(p.Width / 4, p.Height / 4, 3 * p.Width / 4, 3 * p.Height / 4) > 128;
        if (now && !lit)
            onsets.push_back(p.Time);
        lit = now;
    }
    return onsets;
}

std::vector<double> BeepOnsets(const QString& file) {
    std::vector<float> s;
    int rate = 0;
    double start = 0;
    EXPECT_TRUE(DecodeSound(file, &s, &rate, &start));
    std::vector<double> onsets;
    int64_t lastLoud = -1000000;
    for (size_t i = 0; i < s.size(); ++i) {
        if (std::abs(s[i]) > 0.25f) {
            if (int64_t(i) - lastLoud > rate / 4)
                onsets.push_back(start + double(i) / rate);
            lastLoud = int64_t(i);
        }
    }
    return onsets;
}

// Sound minus picture for each flash; flashes without a matching beep are a failure.
std::vector<double> Offsets(const QString& file) {
    const auto flashes = FlashOnsets(file);
    const auto beeps = BeepOnsets(file);
    std::vector<double> offsets;
    for (double f : flashes) {
        double best = 1e9;
        for (double b : beeps)
            if (std::abs(b - f) < std::abs(best))
                best = b - f;
        offsets.push_back(best);
    }
    return offsets;
}

class TranscodeTimingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        gDir = new QTemporaryDir();
        // Frames that show their own index.
        for (const char* fmt : {"mp4", "ts"}) {
            QStringList args{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                             QStringLiteral("color=black:s=320x240:r=25:d=3"), QStringLiteral("-vf"),
                             QStringLiteral("geq=lum='if(mod(floor(N/pow(2,floor(X/40))),2),235,16)':cb=128:cr=128")};
            if (QLatin1String(fmt) == QLatin1String("mp4"))
                args << QStringLiteral("-c:v") << QStringLiteral("libx264") << QStringLiteral("-qp") << QStringLiteral("5")
                     << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p");
            else
                args << QStringLiteral("-c:v") << QStringLiteral("mpeg2video") << QStringLiteral("-q:v") << QStringLiteral("2");
            args << Path(QStringLiteral("index.") + QLatin1String(fmt));
            ASSERT_TRUE(Ffmpeg(args));
        }
        // A flash and a beep together, once a second.
        for (const char* rate : {"25", "24000/1001", "30000/1001", "50"}) {
            ASSERT_TRUE(Ffmpeg(FlashBeepArgs(QString::fromLatin1(rate), QString(), FlashName(rate))));
        }
        // The sound stream starts half a second after the picture.
        ASSERT_TRUE(Ffmpeg(FlashBeepArgs(QStringLiteral("25"), QStringLiteral("0.5"), Path(QStringLiteral("late.mkv")))));
    }
    static void TearDownTestSuite() {
        delete gDir;
        gDir = nullptr;
    }
    static QString FlashName(const char* rate) {
        return Path(QStringLiteral("flash_%1.mkv").arg(QString::fromLatin1(rate).replace(QLatin1Char('/'), QLatin1Char('_'))));
    }
    static QStringList FlashBeepArgs(const QString& rate, const QString& audioDelay, const QString& out) {
        // With a delayed sound stream its beeps are generated earlier by the same amount, so they
        // still sound with the flashes.
        const QString shift = audioDelay.isEmpty() ? QStringLiteral("0") : audioDelay;
        QStringList args{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                         QStringLiteral("color=black:s=160x120:r=%1:d=3.4").arg(rate)};
        if (!audioDelay.isEmpty())
            args << QStringLiteral("-itsoffset") << audioDelay;
        args << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
             << QStringLiteral("aevalsrc=exprs='if(between(mod(t+%1,1),0.6,0.72),0.8*sin(2*PI*1000*t),0)':s=44100:d=%2")
                    .arg(shift, audioDelay.isEmpty() ? QStringLiteral("3.4") : QStringLiteral("2.9"))
             << QStringLiteral("-vf") << QStringLiteral("geq=lum='if(between(mod(T,1),0.6,0.72),235,16)':cb=128:cr=128")
             << QStringLiteral("-c:v") << QStringLiteral("libx264") << QStringLiteral("-preset") << QStringLiteral("ultrafast")
             << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p") << QStringLiteral("-c:a") << QStringLiteral("aac")
             << out;
        return args;
    }
};

} // namespace

TEST_F(TranscodeTimingTest, TrimStartsOnTheRightFrameAndLastsTheTrimmedLength) {
    struct TCase {
        const char* Source;
        TOptionNormType Norm;
        int64_t Start, Length;
        int FirstIndex;
    };
    const std::vector<TCase> cases = {
        {"index.mp4", ntPAL, 1000000, 1000000, 25},
        {"index.mp4", ntPAL, 1030000, 1200000, 26}, // between two frames: the nearer one
        {"index.mp4", ntNTSC, 1000000, 1000000, 25},
        {"index.ts", ntPAL, 1480000, 1000000, 37},   // a container that seeks only roughly
        {"index.mp4", ntPAL, 0, 400000, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(QStringLiteral("%1 from %2 for %3").arg(QLatin1String(c.Source)).arg(c.Start).arg(c.Length).toStdString());
        const QString out = Path(QStringLiteral("trim.mpg"));
        QString err;
        ASSERT_TRUE(Convert(Path(QLatin1String(c.Source)), out, c.Norm, c.Start, c.Length, &err)) << qPrintable(err);
        std::vector<TPicture> pics;
        ASSERT_TRUE(DecodePictures(out, &pics));
        const double rate = c.Norm == ntPAL ? 25.0 : 30000.0 / 1001;
        EXPECT_EQ(PictureIndex(pics.front()), c.FirstIndex);
        EXPECT_NEAR(double(pics.size()), c.Length / 1e6 * rate, 1.0);
        // The source's own frames advance one per 40 ms.
        const int lastExpected = c.FirstIndex + int(std::lround((pics.size() - 1) / rate * 25));
        EXPECT_NEAR(PictureIndex(pics.back()), lastExpected, 1);
        TFileFacts f;
        ASSERT_TRUE(Probe(out, &f));
        ASSERT_TRUE(f.Audio());
        EXPECT_NEAR(f.Audio()->Duration, c.Length / 1e6, 0.04);
    }
}

TEST_F(TranscodeTimingTest, SoundStaysWithThePicture) {
    struct TCase {
        QString Source;
        TOptionNormType Norm;
        int64_t Start;
    };
    const std::vector<TCase> cases = {
        {FlashName("25"), ntPAL, -1},
        {FlashName("24000/1001"), ntPAL, -1},
        {FlashName("30000/1001"), ntPAL, 1300000},
        {FlashName("50"), ntNTSC, -1},
        {FlashName("24000/1001"), ntNTSC, 1300000},
        {Path(QStringLiteral("late.mkv")), ntPAL, -1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(QStringLiteral("%1 from %2").arg(c.Source).arg(c.Start).toStdString());
        const QString out = Path(QStringLiteral("sync.mpg"));
        QString err;
        ASSERT_TRUE(Convert(c.Source, out, c.Norm, c.Start, -1, &err)) << qPrintable(err);
        const double frame = c.Norm == ntPAL ? 0.040 : 1001.0 / 30000;
        const auto source = Offsets(c.Source);
        const auto ours = Offsets(out);
        ASSERT_FALSE(source.empty());
        ASSERT_GE(ours.size(), c.Start > 0 ? 2u : 3u);
        // The source's own flash/beep offset comes from where its frames fall; the output may
        // differ from it by less than one frame of the output.
        for (double o : ours)
            EXPECT_LE(std::abs(o - source.front()), frame) << "offset " << o << " source " << source.front();
    }
}
