// Timeline arithmetic of the trim dialog.
#include "editing/ClipGeometry.h"

#include <gtest/gtest.h>

using namespace ClipGeometry;

TEST(ClipGeometry, MappingsBetweenTimesHandlesAndSlider) {
    const int64_t hundredSeconds = 100000000;
    EXPECT_EQ(TimeToHandleX(25000000, hundredSeconds, 456), 124);
    EXPECT_EQ(TimeToHandleX(0, hundredSeconds, 456), 10);
    EXPECT_EQ(TimeToHandleX(hundredSeconds, hundredSeconds, 456), 466);
    // 1000 t div d truncates first: 25.09 s is still 250 thousandths.
    EXPECT_EQ(TimeToHandleX(25090000, hundredSeconds, 456), 124);
    // Long titles need the 64-bit product: 5 hours in microseconds times 1000.
    EXPECT_EQ(TimeToHandleX(18000000000LL, 36000000000LL, 456), 238);

    EXPECT_EQ(HandleXToSeekTime(124, hundredSeconds, 456), 25000000);
    EXPECT_EQ(HandleXToSeekTime(10, hundredSeconds, 456), 0);
    // r = 1000 / 456 = 2.19 rounds to 2; r = 2500 / 456 = 5.48 rounds to 5.
    EXPECT_EQ(HandleXToSeekTime(11, hundredSeconds, 456), 200000);
    EXPECT_EQ(HandleXToSeekTime(12, 1000, 400), 5); // r = 5.0 exactly
    EXPECT_EQ(HandleXToSeekTime(12, 1000, 800), 2); // r = 2.5: ties go to even

    EXPECT_EQ(SliderToHandleX(250, 456), 124);
    EXPECT_EQ(SliderToHandleX(1000, 456), 466);
    EXPECT_EQ(SliderToSeekTime(500, 600000000), 300000000);
    EXPECT_EQ(SliderValueForPts(300000000, 600000000), 500);
    EXPECT_EQ(SliderValueForPts(-1, 600000000), -1);
}

TEST(ClipGeometry, UnknownDurationGivesAnEmptyTimelineWithoutDividingByZero) {
    EXPECT_EQ(TimeToHandleX(25000000, 0, 456), Origin);
    EXPECT_EQ(TimeToHandleX(25000000, -5, 456), Origin);
    EXPECT_EQ(SliderValueForPts(1000, 0), -1);
    EXPECT_EQ(HandleXToSeekTime(124, 0, 456), 0);
    EXPECT_EQ(SliderToSeekTime(500, 0), 0);
    EXPECT_EQ(HandleXToSeekTime(124, 1000, 0), 0);
}

TEST(ClipGeometry, HandlesStayInsideTheTimelineAndDoNotCross) {
    struct TCase {
        int NewX, Other;
        bool Left, Right;
    };
    // Other is the partner's x: the right handle's for the left handle and vice versa.
    for (const TCase c :
         {TCase{11, 300, true, false}, TCase{10, 300, false, false}, TCase{465, 466, true, false},
          TCase{466, 500, false, false}, TCase{300, 300, false, false},
          TCase{301, 300, false, true}, TCase{299, 300, true, false}, TCase{465, 20, false, true},
          TCase{466, 20, false, false}, TCase{10, 5, false, false}}) {
        EXPECT_EQ(LeftHandleMoveAllowed(c.NewX, c.Other, 456), c.Left) << c.NewX << " " << c.Other;
        EXPECT_EQ(RightHandleMoveAllowed(c.NewX, c.Other, 456), c.Right)
            << c.NewX << " " << c.Other;
    }
}

TEST(ClipGeometry, TrimmedLineRunsBetweenTheHandles) {
    EXPECT_EQ(TrimmedLine(10, 466).Left, 22);
    EXPECT_EQ(TrimmedLine(10, 466).Width, 444);
    EXPECT_EQ(TrimmedLine(100, 112).Width, 0);
    EXPECT_LT(TrimmedLine(100, 111).Width, 0);
}

TEST(ClipGeometry, TypedTimes) {
    EXPECT_EQ(TimeToMicroseconds(QStringLiteral("01:30:00")), 5400000000LL);
    EXPECT_EQ(TimeToMicroseconds(QStringLiteral("00:00:25")), 25000000);
    EXPECT_EQ(TimeToMicroseconds(QStringLiteral(" 1:02:03")), 3723000000LL);
    EXPECT_EQ(TimeToMicroseconds(QStringLiteral("23:59:59")), 86399000000LL);
    QString error;
    for (const char* bad :
         {"24:00:00", "00:60:00", "00:00:60", "  :  :  ", "ab:00:00", "00:00", "-1:00:00", ""}) {
        error.clear();
        EXPECT_FALSE(TimeToMicroseconds(QString::fromLatin1(bad), &error)) << bad;
        EXPECT_TRUE(error.contains(QStringLiteral("is not a valid time"))) << bad;
    }
}
