// A title list of 1000 titles: the size estimate, every title's conversion options and the
// authoring control files, without converting a single clip.
#include "pipeline/Authoring.h"
#include "pipeline/ExternalProgram.h"
#include "pipeline/TitleTasks.h"
#include "project/Estimate.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
constexpr int Count = 1000;

TVideoFiles ThousandTitles() {
    TVideoFiles files;
    for (int i = 1; i <= Count; ++i) {
        TVideoFile f;
        f.Source = QStringLiteral("/videos/clip %1.mp4").arg(i);
        f.SourceWidth = 720;
        f.SourceHeight = 576;
        f.TimeStart = 0;
        f.TimeEnd = f.TrimmedLength = (i % 7 + 1) * 1'000'000LL; // 1..7 s
        f.DestinationTitle = QStringLiteral("clip %1").arg(i);
        files.append(f);
    }
    return files;
}
} // namespace

TEST(ManyTitles, EstimateOptionsAndControlFilesForAThousandTitles) {
    const TVideoFiles files = ThousandTitles();

    long long seconds = 0;
    for (const TVideoFile& f : files)
        seconds += f.TrimmedLength / 1'000'000;
    const TEstimate e = EstimateOutputSize(files, 0);
    EXPECT_FALSE(e.Failed);
    EXPECT_EQ(e.Size, RoundHalfEven(double(seconds) * 306 / 1024) + 20);
    EXPECT_EQ(e.Overflow, e.Size > DiscCapacity[0] ? e.Size - DiscCapacity[0] : 0);

    // Each title gets its own output file and its own source; none is shared or renumbered.
    QSet<QString> outputs;
    for (int i = 1; i <= Count; ++i) {
        TInputOptions in;
        TOutputOptions out;
        TitleTaskOptions(files[i - 1], i, true, QStringLiteral("/w"), &in, &out);
        EXPECT_EQ(in.FileName, files[i - 1].Source);
        EXPECT_EQ(out.FileName, QStringLiteral("/w/title%1.mpg").arg(i));
        EXPECT_EQ(out.TimeLength, files[i - 1].TrimmedLength);
        outputs.insert(out.FileName);
    }
    EXPECT_EQ(outputs.size(), Count);

    QTemporaryDir dir;
    for (const bool withMenu : {true, false}) {
        const QStringList lines = DvdauthorXmlLines(Count, dir.path(), withMenu);
        EXPECT_EQ(lines.size(), withMenu ? 11 + Count + 4 + Count * 4 + 3 : 7 + Count * 4 + 2);
        EXPECT_TRUE(lines.contains(
            QStringLiteral("<vob file=\"%1/title1000.mpg\"%2/>")
                .arg(dir.path(), withMenu ? QStringLiteral("  pause=\"3\"") : QString())));
        if (withMenu)
            EXPECT_TRUE(lines.contains(QStringLiteral("<button> jump title 1000; </button>")));
        else
            EXPECT_TRUE(lines.contains(QStringLiteral("<post> jump title 1000; </post>")));
        const QString xml = dir.filePath(QStringLiteral("dvdauthor.xml"));
        ASSERT_TRUE(WriteCrLfFile(xml, lines));
        QFile f(xml);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll().count("\r\n"), lines.size());
    }
}
