#include "media/FFDecoder.h"
#include "project/TitleList.h"
#include "support/Clips.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(TitleList, OpenDialogFilter) {
    const QString f = BuildOpenDialogFilter();
    EXPECT_TRUE(f.startsWith(QStringLiteral("All Supported Video Formats|*.mod;*.mts; *.ts; *m2ts; *.tp;")));
    EXPECT_TRUE(f.contains(QStringLiteral(
        "|MOD files (*.mod)|*.mod;|High-definition files (*.mts; *.ts; *m2ts; *.tp)|*.mts; *.ts; *m2ts; *.tp;")));
    EXPECT_TRUE(f.endsWith(QStringLiteral("|Video Object files (*.vob)|*.vob;")));
    EXPECT_EQ(f.count(QLatin1Char('|')), 1 + 17 * 2);
    EXPECT_EQ(SupportedFormats().size(), 17);
    // Qt's form keeps every pattern, the dot-less *m2ts included.
    const QStringList qt = OpenDialogNameFilters();
    ASSERT_EQ(qt.size(), 18);
    EXPECT_TRUE(qt[0].contains(QStringLiteral("*m2ts *.tp")));
    EXPECT_EQ(qt[16], QStringLiteral("Nullsoft Stream Video (*.nsv)"));
}

TEST(TitleList, FormatDuration) {
    const std::pair<int64_t, const char*> cases[] = {
        {0, "00:00:00"},           {90'500'000, "00:01:30"},      {10'000'000, "00:00:10"},
        {3'599'999'999, "00:59:59"}, {360'000'000'000, "100:00:00"}, {86'400'000'000, "24:00:00"}};
    for (const auto& [us, text] : cases)
        EXPECT_EQ(FormatDuration(us), QString::fromLatin1(text)) << us;
}

TEST(TitleList, StripExtension) {
    EXPECT_EQ(StripExtension(QStringLiteral("holiday.part1.avi")), QStringLiteral("holiday.part1"));
    EXPECT_EQ(StripExtension(QStringLiteral(".avi")), QString());
    EXPECT_EQ(StripExtension(QStringLiteral("noext")), QStringLiteral("noext"));
    EXPECT_EQ(StripExtension(QStringLiteral("clip.h.264")), QStringLiteral("clip.h"));
}

TEST(TitleList, SwapTitlesExchangesWholeRecords) {
    TVideoFiles files(3);
    for (int i = 0; i < 3; ++i) {
        files[i].Source = QString::number(i);
        files[i].SourceWidth = 100 + i;
        files[i].CropLeft = i;
        files[i].TimeStart = i * 10;
    }
    SwapTitles(files, 0, 1);
    EXPECT_EQ(files[0].Source, QStringLiteral("1"));
    EXPECT_EQ(files[0].SourceWidth, 101);
    EXPECT_EQ(files[1].CropLeft, 0);
    EXPECT_EQ(files[1].TimeStart, 0);
    SwapTitles(files, 0, 7); // out of range: nothing happens
    EXPECT_EQ(files[0].Source, QStringLiteral("1"));
}

// Probing every kind of container the add dialog offers: the duration must come out right even
// where the container has no duration field (program and transport streams, raw video).
TEST(TitleList, ProbeDurationAcrossFormats) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct TCase {
        const char* Name;
        QStringList Args;
        int Width, Height;
    };
    const QStringList h264{QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-preset"), QStringLiteral("ultrafast")};
    const TCase cases[] = {
        {"a.mp4", h264, 320, 240},
        {"a.mkv", h264, 320, 240},
        {"a.avi", {QStringLiteral("-c:v"), QStringLiteral("mpeg4")}, 320, 240},
        {"a.mpg", {QStringLiteral("-c:v"), QStringLiteral("mpeg2video"), QStringLiteral("-c:a"), QStringLiteral("mp2")}, 320, 240},
        {"a.ts", {QStringLiteral("-c:v"), QStringLiteral("mpeg2video"), QStringLiteral("-c:a"), QStringLiteral("mp2")}, 320, 240},
        {"a.mov", h264, 320, 240},
        {"a.flv", {QStringLiteral("-c:v"), QStringLiteral("flv1"), QStringLiteral("-ar"), QStringLiteral("44100")}, 320, 240},
        {"a.wmv", {QStringLiteral("-c:v"), QStringLiteral("wmv2"), QStringLiteral("-c:a"), QStringLiteral("wmav2")}, 320, 240},
        {"a.nut", {QStringLiteral("-c:v"), QStringLiteral("mpeg4")}, 320, 240},
        {"a.3gp", {QStringLiteral("-c:v"), QStringLiteral("h263"), QStringLiteral("-s"), QStringLiteral("176x144"),
                   QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("-ar"), QStringLiteral("8000"), QStringLiteral("-ac"), QStringLiteral("1")}, 176, 144},
        {"a.h.264", h264 + QStringList{QStringLiteral("-an"), QStringLiteral("-f"), QStringLiteral("h264")}, 320, 240},
        {"a.vob", {QStringLiteral("-target"), QStringLiteral("pal-dvd"), QStringLiteral("-s"), QStringLiteral("352x288")}, 352, 288},
    };
    TFFDecoder decoder;
    for (const TCase& c : cases) {
        const QString path = MakeTestClip(dir.path(), QString::fromLatin1(c.Name), 3.0, 320, 240, QStringLiteral("25"), c.Args);
        ASSERT_FALSE(path.isEmpty()) << c.Name;
        TVideoFile title;
        ASSERT_TRUE(ProbeTitle(decoder, path, title)) << c.Name << ": " << decoder.LastErrMsg().toStdString();
        EXPECT_NEAR(title.TrimmedLength / 1e6, 3.0, 0.15) << c.Name;
        EXPECT_EQ(title.TimeStart, 0);
        EXPECT_EQ(title.TimeEnd, title.TrimmedLength);
        EXPECT_EQ(title.SourceWidth, c.Width) << c.Name;
        EXPECT_EQ(title.SourceHeight, c.Height) << c.Name;
        EXPECT_EQ(title.Status, QStringLiteral("-"));
        EXPECT_FALSE(decoder.FileOpened()) << "the probe closes the file";
    }
}

TEST(TitleList, ProbeAudioOnlyFileHasNoResolution) {
    QTemporaryDir dir;
    const QString path = MakeClip(dir.path(), QStringLiteral("tone.mkv"),
                                  {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("sine=duration=2")});
    ASSERT_FALSE(path.isEmpty());
    TFFDecoder decoder;
    TVideoFile title;
    ASSERT_TRUE(ProbeTitle(decoder, path, title));
    EXPECT_EQ(title.SourceWidth, 0);
    EXPECT_EQ(title.SourceHeight, 0);
    EXPECT_NEAR(title.TrimmedLength / 1e6, 2.0, 0.1);
}

TEST(TitleList, BadFilesFailWithAReadableMessage) {
    QTemporaryDir dir;
    const QString good = MakeTestClip(dir.path(), QStringLiteral("good.mp4"), 2.0);
    ASSERT_FALSE(good.isEmpty());
    auto write = [&dir](const char* name, const QByteArray& bytes) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return f.fileName();
    };
    QFile goodFile(good);
    goodFile.open(QIODevice::ReadOnly);
    const QByteArray head = goodFile.read(600);
    const QString unreadable = write("locked.mp4", head);
    QFile::setPermissions(unreadable, QFileDevice::Permissions());
    const std::pair<QString, const char*> cases[] = {
        {dir.filePath(QStringLiteral("missing.avi")), "not found"},
        {write("empty.avi", QByteArray()), "empty"},
        {write("notes.avi", QByteArray("These are not the frames you are looking for.\n").repeated(50)), ""},
        {write("truncated.mp4", head), ""},
        {write("noise.mpg", QByteArray(64 * 1024, '\x5a')), ""},
        {dir.path(), "Not a regular file"},
    };
    TFFDecoder decoder;
    for (const auto& [path, words] : cases) {
        TVideoFile title;
        EXPECT_FALSE(ProbeTitle(decoder, path, title)) << path.toStdString();
        EXPECT_FALSE(decoder.LastErrMsg().isEmpty()) << path.toStdString();
        EXPECT_TRUE(decoder.LastErrMsg().contains(QString::fromLatin1(words), Qt::CaseInsensitive))
            << decoder.LastErrMsg().toStdString();
    }
    if (geteuid() != 0) { // root reads anything
        TVideoFile title;
        EXPECT_FALSE(ProbeTitle(decoder, unreadable, title));
        EXPECT_TRUE(decoder.LastErrMsg().contains(QStringLiteral("Permission denied")));
    }
    // The decoder stays usable after failures.
    TVideoFile title;
    EXPECT_TRUE(ProbeTitle(decoder, good, title));
}
