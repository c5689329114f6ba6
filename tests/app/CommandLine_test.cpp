#include "app/CommandLine.h"
#include "support/Clips.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {
const QString kCli = QStringLiteral(ORDAVINE_BIN_DIR "/ordavine-cli");

TProcessResult Cli(const QTemporaryDir& home, const QStringList& args) {
    return RunProcess(kCli, args, 300000,
                      {QStringLiteral("HOME=") + home.path(), QStringLiteral("XDG_CONFIG_HOME=") + home.path() + QStringLiteral("/.config")});
}
} // namespace

TEST(CommandLine, ParsesPerTitleOptions) {
    TCliJob job;
    QString error;
    ASSERT_TRUE(ParseCommandLine({QStringLiteral("--pal"), QStringLiteral("--title"), QStringLiteral("Beach"),
                                  QStringLiteral("--trim"), QStringLiteral("00:00:10-00:01:10.5"), QStringLiteral("--crop"),
                                  QStringLiteral("8,0,8,0"), QStringLiteral("--aspect"), QStringLiteral("16:9"),
                                  QStringLiteral("a.mp4"), QStringLiteral("b.mkv"), QStringLiteral("--disc"), QStringLiteral("d9"),
                                  QStringLiteral("--colors"), QStringLiteral("White,Yellow,red"), QStringLiteral("--iso"),
                                  QStringLiteral("/tmp/x.iso")},
                                 job, &error))
        << error.toStdString();
    ASSERT_EQ(job.Titles.size(), 2);
    EXPECT_EQ(job.Titles[0].Name, QStringLiteral("Beach"));
    EXPECT_EQ(job.Titles[0].TrimStart, 10'000'000);
    EXPECT_EQ(job.Titles[0].TrimEnd, 70'500'000);
    EXPECT_EQ(job.Titles[0].Crop[0], 8);
    EXPECT_EQ(job.Titles[0].Aspect, 3);
    EXPECT_EQ(job.Titles[1].Name, QString()); // options apply to the next file only
    EXPECT_EQ(job.Titles[1].Aspect, 0);
    EXPECT_TRUE(job.PAL);
    EXPECT_EQ(job.DiscType, 1);
    EXPECT_EQ(job.Menu.ColorName[0], QStringLiteral("white"));
    EXPECT_EQ(job.IsoFile, QStringLiteral("/tmp/x.iso"));

    const QStringList bad[] = {{QStringLiteral("--trim"), QStringLiteral("10-5"), QStringLiteral("a")},
                               {QStringLiteral("--crop"), QStringLiteral("1,2,3"), QStringLiteral("a")},
                               {QStringLiteral("--aspect"), QStringLiteral("3:2"), QStringLiteral("a")},
                               {QStringLiteral("--colors"), QStringLiteral("black,pink,red"), QStringLiteral("a")},
                               {QStringLiteral("--iso"), QStringLiteral("x"), QStringLiteral("--folder"), QStringLiteral("y")},
                               {QStringLiteral("--frobnicate")},
                               {QStringLiteral("a"), QStringLiteral("--title")}};
    for (const QStringList& args : bad) {
        TCliJob j;
        EXPECT_FALSE(ParseCommandLine(args, j, &error)) << args.join(QLatin1Char(' ')).toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_EQ(ParseClock(QStringLiteral("01:02:03.250")), 3'723'250'000LL);
    EXPECT_EQ(ParseClock(QStringLiteral("90")), 90'000'000);
    EXPECT_EQ(ParseClock(QStringLiteral("00:61:00")), -1);
    EXPECT_EQ(ParseClock(QStringLiteral("x")), -1);
}

TEST(CommandLine, MakesADvdFolderAndSkipsABadFile) {
    QTemporaryDir home, clips;
    const QString a = MakeTestClip(clips.path(), QStringLiteral("one.mp4"), 1.5);
    const QString b = MakeTestClip(clips.path(), QStringLiteral("two.mkv"), 2.0, 640, 360);
    QFile bad(clips.filePath(QStringLiteral("bad.avi")));
    bad.open(QIODevice::WriteOnly);
    bad.write("not a video");
    bad.close();
    const QString out = home.filePath(QStringLiteral("disc"));
    const TProcessResult r = Cli(home, {QStringLiteral("--pal"), QStringLiteral("--temp"), home.filePath(QStringLiteral("tmp")),
                                        QStringLiteral("--title"), QStringLiteral("Opening"), a, bad.fileName(),
                                        QStringLiteral("--trim"), QStringLiteral("0:00:00.5-0:00:01.5"), b,
                                        QStringLiteral("--folder"), out, QStringLiteral("--delete-temp")});
    ASSERT_EQ(r.ExitCode, ceOk) << r.Err.constData();
    EXPECT_TRUE(r.Err.contains("error: Error loading file [CLM_DecoderLoadFile]")) << r.Err.constData();
    EXPECT_TRUE(r.Err.contains("log: ***File load error: "));
    EXPECT_TRUE(r.Out.contains("Step 2: Building DVD structure..."));
    EXPECT_TRUE(QFileInfo(out + QStringLiteral("/AUDIO_TS")).isDir());
    const TProcessResult ls = RunProcess(QStringLiteral("lsdvd"), {out});
    const QString listing = QString::fromUtf8(ls.Out);
    const QRegularExpression re(QStringLiteral("(?:^|\\n)Title: (\\d+), Length: 00:00:(\\d+\\.\\d+)"));
    QList<double> lengths;
    for (auto it = re.globalMatch(listing); it.hasNext();)
        lengths << it.next().captured(2).toDouble();
    ASSERT_EQ(lengths.size(), 2) << listing.toStdString();
    EXPECT_NEAR(lengths[0], 1.5, 0.041);
    EXPECT_NEAR(lengths[1], 1.0, 0.041);
    EXPECT_TRUE(QDir(home.filePath(QStringLiteral("tmp/parvenor_temp"))).isEmpty()) << "--delete-temp";

    // --strict stops at the bad file.
    const TProcessResult strict = Cli(home, {QStringLiteral("--strict"), QStringLiteral("--temp"), home.filePath(QStringLiteral("tmp")),
                                             bad.fileName(), a, QStringLiteral("--folder"), out});
    EXPECT_EQ(strict.ExitCode, ceAddFailed);
}

TEST(CommandLine, ExitStatuses) {
    QTemporaryDir home, clips;
    EXPECT_EQ(Cli(home, {QStringLiteral("--bogus")}).ExitCode, ceUsage);
    EXPECT_EQ(Cli(home, {}).ExitCode, ceUsage);
    const TProcessResult help = Cli(home, {QStringLiteral("--help")});
    EXPECT_EQ(help.ExitCode, ceOk);
    EXPECT_TRUE(help.Out.contains("--font-size N"));
    EXPECT_EQ(Cli(home, {clips.filePath(QStringLiteral("missing.mp4"))}).ExitCode, ceAddFailed);
    const TProcessResult drives = Cli(home, {QStringLiteral("--list-drives")});
    EXPECT_EQ(drives.ExitCode, ceOk);
    EXPECT_TRUE(drives.Out.contains("VIRTUAL RECORDER")) << drives.Out.constData();
    EXPECT_EQ(Cli(home, {QStringLiteral("--device"), QStringLiteral("99"), clips.filePath(QStringLiteral("x.mp4"))}).ExitCode, ceUsage);
    const QString a = MakeTestClip(clips.path(), QStringLiteral("one.mp4"), 1.0);
    // An unreadable background picture is refused before anything is made.
    EXPECT_EQ(Cli(home, {QStringLiteral("--temp"), home.filePath(QStringLiteral("t")), QStringLiteral("--background"),
                         clips.filePath(QStringLiteral("nope.jpg")), a})
                  .ExitCode,
              ceChecks);
    // A temporary folder that cannot be made.
    EXPECT_EQ(Cli(home, {QStringLiteral("--temp"), a + QStringLiteral("/sub"), a}).ExitCode, ceWorkFolder);
    // A destination that cannot be written.
    EXPECT_EQ(Cli(home, {QStringLiteral("--skip-menu"), QStringLiteral("--temp"), home.filePath(QStringLiteral("t")), a,
                         QStringLiteral("--folder"), a + QStringLiteral("/x")})
                  .ExitCode,
              ceDestination);
    // A temporary folder too small for the run (a small tmpfs; needs root).
    QTemporaryDir small;
    if (geteuid() == 0 && ::mount("none", QFile::encodeName(small.path()).constData(), "tmpfs", 0, "size=8m") == 0) {
        const TProcessResult r = Cli(home, {QStringLiteral("--temp"), small.path(), a});
        ::umount2(QFile::encodeName(small.path()).constData(), MNT_DETACH);
        EXPECT_EQ(r.ExitCode, ceChecks);
        EXPECT_TRUE(r.Err.contains("MB required for temporary files to continue.")) << r.Err.constData();
    }
}

TEST(CommandLine, WritesADiscImage) {
    QTemporaryDir home, clips;
    const QString a = MakeTestClip(clips.path(), QStringLiteral("one.mp4"), 1.0);
    const QString b = MakeTestClip(clips.path(), QStringLiteral("two.mp4"), 2.0);
    const QString iso = home.filePath(QStringLiteral("out.iso"));
    const TProcessResult r = Cli(home, {QStringLiteral("--ntsc"), QStringLiteral("--label"), QStringLiteral("Family Trip"),
                                        QStringLiteral("--temp"), home.filePath(QStringLiteral("t")), a, b,
                                        QStringLiteral("--iso"), iso});
    ASSERT_EQ(r.ExitCode, ceOk) << r.Err.constData();
    // The three lines of the burn step, in order.
    const QString err = QString::fromUtf8(r.Err);
    const qsizetype inserting = err.indexOf(QStringLiteral("log: INSERTING STRUCTURE ON DVD"));
    const qsizetype writing = err.indexOf(QStringLiteral(" >>> WRITING DISC ... "));
    const qsizetype done = err.indexOf(QStringLiteral(" >>> WRITE DONE."));
    EXPECT_TRUE(inserting >= 0 && writing > inserting && done > writing) << err.toStdString();
    const TProcessResult ls = RunProcess(QStringLiteral("lsdvd"), {iso});
    EXPECT_EQ(QString::fromUtf8(ls.Out).count(QRegularExpression(QStringLiteral("(^|\\n)Title: "))), 2) << ls.Out.constData();
    const TProcessResult info = RunProcess(QStringLiteral("isoinfo"), {QStringLiteral("-d"), QStringLiteral("-i"), iso});
    EXPECT_TRUE(info.Out.contains("Volume id: FAMILY TRIP")) << info.Out.constData();
    const TProcessResult listing = RunProcess(QStringLiteral("isoinfo"), {QStringLiteral("-f"), QStringLiteral("-i"), iso});
    EXPECT_TRUE(listing.Out.contains("/AUDIO_TS"));
    EXPECT_TRUE(listing.Out.contains("/VIDEO_TS/VIDEO_TS.IFO"));
    // Burned through the virtual recorder (the last drive): its image lands in the temporary folder.
    const TProcessResult burned = Cli(home, {QStringLiteral("--temp"), home.filePath(QStringLiteral("t")), QStringLiteral("--label"),
                                             QStringLiteral("Trip"), a, QStringLiteral("--device"), QStringLiteral("0")});
    ASSERT_EQ(burned.ExitCode, ceOk) << burned.Err.constData();
    EXPECT_TRUE(QFileInfo::exists(home.filePath(QStringLiteral("t/Trip.iso")))) << burned.Out.constData();
    // An image that cannot be created ends with the burn status.
    const TProcessResult bad = Cli(home, {QStringLiteral("--temp"), home.filePath(QStringLiteral("t")), a, QStringLiteral("--iso"),
                                          home.filePath(QStringLiteral("no/such/dir/x.iso"))});
    EXPECT_EQ(bad.ExitCode, ceBurn) << bad.Err.constData();
    EXPECT_TRUE(bad.Err.contains("[CLM_WriteFailed]"));
}
