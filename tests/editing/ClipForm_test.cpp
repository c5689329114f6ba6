// The trim dialog on the offscreen platform, playing a generated clip.
#include "editing/ClipForm.h"
#include "editing/ClipGeometry.h"
#include "support/PlayerClips.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace PlayerClips;
using ClipGeometry::TimeToHandleX;

namespace {

class ClipFormTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dir = new QTemporaryDir;
        Clip = IndexClip(Dir->path(), false);
    }
    static void TearDownTestSuite() {
        delete Dir;
        Dir = nullptr;
    }
    void SetUp() override {
        ASSERT_FALSE(Clip.isEmpty());
        TVideoFile title;
        title.Source = Clip;
        title.DestinationTitle = QStringLiteral("Index");
        title.TimeStart = 400000;
        title.TimeEnd = 800000;
        title.TrimmedLength = 400000;
        Files = {title};
        Form = std::make_unique<TClipForm>(Files, [this] { return Selected; });
        Form->Sinks.ReportError = [this](const QString& m, const QString& c) {
            Reports << m + QLatin1Char('|') + c;
        };
        Form->Sinks.AppendEventsLog = [this](const QString& l) { Log << l; };
        Form->ShowMessage = [this](const QString& m) { Messages << m; };
        Form->OnTitleChanged = [this] { ++TitleChanges; };
    }
    void TearDown() override { Form.reset(); }

    void ShowForm() {
        Form->show();
        ASSERT_GT(Form->Duration(), 1000000);
    }
    // Drags a trim handle by dx pixels with the mouse, the way a user does.
    void Drag(QLabel* handle, int dx) {
        QTest::mousePress(handle, Qt::LeftButton, Qt::NoModifier, QPoint(6, 6));
        QTest::mouseMove(handle, QPoint(6 + dx, 6));
        QTest::mouseRelease(handle, Qt::LeftButton, Qt::NoModifier, QPoint(6 + dx, 6));
    }

    static QTemporaryDir* Dir;
    static QString Clip;
    TVideoFiles Files;
    int Selected = 0;
    std::unique_ptr<TClipForm> Form;
    QStringList Reports, Log, Messages;
    int TitleChanges = 0;
};
QTemporaryDir* ClipFormTest::Dir = nullptr;
QString ClipFormTest::Clip;

TEST_F(ClipFormTest, ShowingLoadsTheTitleAndPlaysFromTheStart) {
    ShowForm();
    const int64_t d = Form->Duration();
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Clip"));
    EXPECT_EQ(Form->TimeStart->text(), QStringLiteral("00:00:00"));
    EXPECT_EQ(Form->TrimStart(), 400000);
    EXPECT_EQ(Form->TrimEnd(), 800000);
    EXPECT_EQ(Form->imgTrimLeft->x(), TimeToHandleX(400000, d, 456));
    EXPECT_EQ(Form->imgTrimRight->x(), TimeToHandleX(800000, d, 456));
    EXPECT_EQ(Form->TrimmedTimeLine->x(), Form->imgTrimLeft->x() + 12);
    EXPECT_EQ(Form->TrimmedTimeLine->width(),
              Form->imgTrimRight->x() - Form->imgTrimLeft->x() - 12);
    EXPECT_EQ(Form->FFPlayer2->PlayState(), psPlay);
    ASSERT_TRUE(WaitFor([&] { return Form->CurrentPosition() > 0; }));
    EXPECT_TRUE(Form->lblPlayTime->text().endsWith(QStringLiteral(" / 00:00:01")));
}

TEST_F(ClipFormTest, DraggedHandleSeeksAndTakesTheReachedFramePositionButCannotCross) {
    ShowForm();
    const int64_t d = Form->Duration();
    const int left0 = Form->imgTrimLeft->x();
    Drag(Form->imgTrimLeft, -60);
    const int left1 = Form->imgTrimLeft->x();
    EXPECT_EQ(left1, left0 - 60);
    // The follow and release flags copy the reached frame's position into the trim start.
    ASSERT_TRUE(WaitFor([&] { return Form->TrimStart() != 400000; }));
    const int64_t wanted = ClipGeometry::HandleXToSeekTime(left1, d, 456);
    EXPECT_NEAR(double(Form->TrimStart()), double(wanted), 3 * FrameUs);
    EXPECT_EQ(Form->TrimStart() % FrameUs, 0);
    EXPECT_FALSE(Form->FFPlayer2->Paused()); // resumed on release

    // Onto the right handle, past the timeline's start: refused.
    Drag(Form->imgTrimLeft, Form->imgTrimRight->x() - left1);
    EXPECT_EQ(Form->imgTrimLeft->x(), left1);
    Drag(Form->imgTrimLeft, 10 - left1);
    EXPECT_EQ(Form->imgTrimLeft->x(), left1);
    Drag(Form->imgTrimRight, 470 - Form->imgTrimRight->x() + 5);
    EXPECT_LT(Form->imgTrimRight->x(), 466);
    Drag(Form->imgTrimRight, left1 - Form->imgTrimRight->x());
    EXPECT_GT(Form->imgTrimRight->x(), left1);
}

TEST_F(ClipFormTest, OkWritesTheTitleAndCancelLeavesIt) {
    ShowForm();
    ASSERT_TRUE(WaitFor([&] { return Form->CurrentPosition() >= 880000; }));
    Form->FFPlayer2->Pause();
    Form->SetStartButtonClick(); // after the end: start and end meet
    EXPECT_EQ(Form->TrimStart(), Form->TrimEnd());
    EXPECT_EQ(Form->TrimStart(), Form->CurrentPosition());
    EXPECT_EQ(Form->imgTrimRight->x() - Form->imgTrimLeft->x(), 11);
    EXPECT_FALSE(Form->TrimmedTimeLine->isVisible());
    QTest::mouseClick(Form->CancelButton, Qt::LeftButton);
    EXPECT_EQ(Files[0].TimeStart, 400000);
    EXPECT_EQ(Files[0].TrimmedLength, 400000);
    EXPECT_EQ(TitleChanges, 0);
    EXPECT_EQ(Form->FFPlayer2->PlayState(), psStop);

    // Showing again reloads the title; typed times then OK.
    ShowForm();
    EXPECT_EQ(Form->TrimStart(), 400000);
    Form->TimeEnd->setText(QStringLiteral("00:00:01"));
    QTest::mouseClick(Form->TimeEndOkButton, Qt::LeftButton);
    EXPECT_EQ(Form->TrimEnd(), 1000000);
    EXPECT_EQ(Form->imgTrimRight->x(), TimeToHandleX(1000000, Form->Duration(), 456));
    Form->TimeStart->setText(QStringLiteral("00:61:00"));
    QTest::mouseClick(Form->TimeStartOkButton, Qt::LeftButton);
    EXPECT_EQ(Messages.size(), 1);
    EXPECT_EQ(Form->TrimStart(), 400000);
    QTest::mouseClick(Form->OkButton, Qt::LeftButton);
    EXPECT_EQ(Files[0].TimeStart, 400000);
    EXPECT_EQ(Files[0].TimeEnd, 1000000);
    EXPECT_EQ(Files[0].TrimmedLength, 600000);
    EXPECT_EQ(TitleChanges, 1);
    EXPECT_FALSE(Form->isVisible());
}

TEST_F(ClipFormTest, TypedStartAfterTheEndPullsTheEndAlong) {
    ShowForm();
    Form->TimeStart->setText(QStringLiteral("00:00:01"));
    Form->TimeStartOkButtonClick();
    EXPECT_EQ(Form->TrimStart(), 1000000);
    EXPECT_EQ(Form->TrimEnd(), 1000000);
    EXPECT_EQ(Form->TimeEnd->text(), QStringLiteral("00:00:01"));
    EXPECT_EQ(Form->imgTrimRight->x() - Form->imgTrimLeft->x(), 11);
    Form->OkButtonClick();
    EXPECT_EQ(Files[0].TrimmedLength, 0);
}

TEST_F(ClipFormTest, PlayTrimmedLoopsInsideTheRange) {
    ShowForm();
    Form->PlayTrimmedButtonClick();
    EXPECT_TRUE(Form->PlayTrimmed());
    std::vector<int64_t> seen;
    Form->FFPlayer2->OnPosition = [&](TFFPlayer*, int64_t pts) {
        seen.push_back(pts);
        Form->FFPlayer2Position(pts);
    };
    WaitFor([] { return false; }, 1500);
    EXPECT_EQ(Form->LastState(), psPlay); // never reached the end
    ASSERT_GT(seen.size(), 5u);
    const auto after =
        std::find_if(seen.begin(), seen.end(), [](int64_t p) { return p >= 400000; });
    ASSERT_NE(after, seen.end());
    int loops = 0;
    for (auto it = after; it != seen.end(); ++it) {
        EXPECT_GE(*it, 400000);
        EXPECT_LE(*it, 800000 + 2 * FrameUs);
        if (it != after && *it < *(it - 1))
            ++loops;
    }
    EXPECT_GE(loops, 2);
    Form->PauseButtonClick();
    EXPECT_FALSE(Form->PlayTrimmed());
}

TEST_F(ClipFormTest, EndOfFileStopsAndResetRestoresTheWholeRange) {
    ShowForm();
    ASSERT_TRUE(WaitFor([&] { return Form->LastState() == psStop; }, 5000));
    EXPECT_EQ(Form->videotrackbar2->value(), 1000);
    const QString d = FormatDuration(Form->Duration());
    EXPECT_EQ(Form->lblPlayTime->text(), d + QStringLiteral(" / ") + d);
    Form->ResetButtonClick();
    EXPECT_EQ(Form->imgTrimLeft->pos(), QPoint(10, 356));
    EXPECT_EQ(Form->imgTrimRight->pos(), QPoint(466, 356));
    EXPECT_EQ(Form->TrimStart(), 0);
    EXPECT_EQ(Form->TrimEnd(), Form->Duration());
    EXPECT_EQ(Form->videotrackbar2->value(), 0);
}

TEST_F(ClipFormTest, MissingFileIsReportedAndTheTimelineStaysEmpty) {
    Files[0].Source = Dir->filePath(QStringLiteral("gone.mkv"));
    Form->show();
    ASSERT_EQ(Reports.size(), 1);
    EXPECT_TRUE(Reports[0].startsWith(QStringLiteral("Error open file: ")));
    EXPECT_TRUE(Reports[0].endsWith(QStringLiteral("|CLM_FFPlayer2Open")));
    EXPECT_EQ(Log.size(), 1);
    EXPECT_EQ(Form->Duration(), 0);
    EXPECT_EQ(Form->imgTrimRight->x(), 10);
    Form->imgTrimLeftMouseDown(6);
    Form->imgTrimLeftMouseMove(30);
    Form->imgTrimLeftMouseUp();
    Form->FFPlayer2Position(5000);
    EXPECT_EQ(Form->videotrackbar2->value(), 0);
}

TEST_F(ClipFormTest, NoSelectedTitleDoesNothing) {
    Selected = 3;
    Form->show();
    Form->PlayButtonClick();
    Form->OkButtonClick();
    EXPECT_EQ(TitleChanges, 0);
    EXPECT_TRUE(Reports.isEmpty());
}

} // namespace
