#include "pipeline/Authoring.h"
#include "pipeline/CreationRun.h"
#include "pipeline/Subpictures.h"
#include "pipeline/TitleTasks.h"
#include "support/Clips.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
TVideoFile Title(int w, int h, int l, int t, int r, int b, int aspect = 0) {
    TVideoFile f;
    f.Source = QStringLiteral("/videos/a.mp4");
    f.SourceWidth = w;
    f.SourceHeight = h;
    f.CropLeft = l;
    f.CropTop = t;
    f.CropRight = r;
    f.CropBottom = b;
    f.AspectRatio = aspect;
    f.TimeStart = 10'000'000;
    f.TimeEnd = 70'000'000;
    return f;
}
} // namespace

TEST(TitleTasks, OptionsOfATitle) {
    struct TCase {
        TVideoFile Title;
        int Index;
        bool Pal;
        const char* Filters;
        const char* Aspect;
        const char* Output;
    } cases[] = {
        {Title(720, 576, 0, 0, 0, 0), 1, true, "", "", "/w/title1.mpg"},
        {Title(720, 576, 0, 8, 0, 8), 3, true, "crop=720:560:0:8,scale=", "", "/w/title3.mpg"},
        {Title(1920, 1080, 240, 0, 240, 0, 1), 12, false, "crop=1440:1080:240:0,scale=", "-1", "/w/title12.mpg"},
        {Title(640, 480, -4, 0, 0, 0, 3), 2, false, "", "16:9", "/w/title2.mpg"},
        {Title(640, 480, 0, 0, 0, 0, 5), 2, true, "", "2.35:1", "/w/title2.mpg"},
        {Title(640, 480, 0, 0, 0, 0, 9), 2, true, "", "", "/w/title2.mpg"},
    };
    for (const TCase& c : cases) {
        TInputOptions in;
        TOutputOptions out;
        TitleTaskOptions(c.Title, c.Index, c.Pal, QStringLiteral("/w"), &in, &out);
        EXPECT_EQ(out.VideoFilters, QLatin1String(c.Filters));
        EXPECT_EQ(out.FrameAspectRatio, QLatin1String(c.Aspect));
        EXPECT_EQ(out.FileName, QLatin1String(c.Output));
        EXPECT_TRUE(out.FrameSize.isEmpty());
        EXPECT_EQ(out.FrameRate, c.Pal ? QStringLiteral("25") : QString());
        EXPECT_EQ(out.NormType, c.Pal ? ntPAL : ntNTSC);
        EXPECT_EQ(out.TargetType, ttDVD);
        EXPECT_EQ(in.TimeStart, 10'000'000);
        EXPECT_EQ(out.TimeLength, 60'000'000);
        EXPECT_EQ(out.Info.TimeStamp, 0);
        EXPECT_EQ(in.FileName, QStringLiteral("/videos/a.mp4"));
    }
}

TEST(TitleTasks, FailingSecondTitleLeavesTheFirstAndReportsOnce) {
    QTemporaryDir dir;
    const QString good = MakeTestClip(dir.path(), QStringLiteral("good.mp4"), 1.0);
    ASSERT_FALSE(good.isEmpty());
    TVideoFile a;
    a.Source = good;
    a.TimeEnd = 1'000'000;
    TVideoFile b = a;
    b.Source = dir.filePath(QStringLiteral("vanished.mp4"));
    TFFEncoder encoder;
    TTitleTasks tasks;
    EXPECT_FALSE(BuildTitleTasks(encoder, {a, b}, false, dir.path(), tasks));
    EXPECT_EQ(encoder.TasksCount(), 1);
    EXPECT_EQ(tasks.FrameHeight, 480);
    EXPECT_TRUE(BuildTitleTasks(encoder, {a, a, a}, true, dir.path(), tasks));
    EXPECT_EQ(encoder.TasksCount(), 3);
    EXPECT_EQ(tasks.FrameHeight, 576);
}

TEST(TitleTasks, ProgressMappingAndPacing) {
    int current = -1, total = -1;
    // Two titles and the menu: the end of the first task.
    ASSERT_TRUE(TCreationRun::ProgressValues(3, 0, 10, 10, &current, &total));
    EXPECT_EQ(current, 33);
    EXPECT_EQ(total, 20);
    ASSERT_TRUE(TCreationRun::ProgressValues(3, 2, 5, 10, &current, &total));
    EXPECT_EQ(current, 83); // 83.33
    EXPECT_EQ(total, 50);
    EXPECT_FALSE(TCreationRun::ProgressValues(3, 2, 5, 0, &current, &total)); // unknown length
    ASSERT_TRUE(TCreationRun::ProgressValues(2, 0, 1, 4, &current, &total));
    EXPECT_EQ(current, 12); // 12.5 to the even 12
    EXPECT_EQ(total, 8);    // 7.5 to the even 8
    EXPECT_EQ(AuthoringTimerInterval(90 * 60 * 1000), 18367);
    EXPECT_EQ(AuthoringTimerInterval(15 * 60 * 1000), 3061);
    EXPECT_EQ(AuthoringTimerInterval(999), 0);
    EXPECT_EQ(AuthoringTimerInterval((24 * 3600 + 90 * 60) * 1000LL), 18367); // whole days dropped
}

TEST(TitleTasks, LabelGeometry) {
    EXPECT_EQ(HighlightLabelTop(576, 1, 1), 192);
    EXPECT_EQ(HighlightLabelTop(480, 1, 1), 160);
    EXPECT_EQ(HighlightLabelTop(576, 3, 1), 115);
    EXPECT_EQ(HighlightLabelTop(576, 3, 2), 230);
    EXPECT_EQ(HighlightLabelTop(576, 3, 3), 346);
}
