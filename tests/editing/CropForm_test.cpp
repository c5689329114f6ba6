// The crop dialog on the offscreen platform, playing a generated 720 x 576 clip.
#include "editing/CropForm.h"
#include "support/PlayerClips.h"

#include <QComboBox>
#include <QFrame>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace PlayerClips;
using CropGeometry::THandle;

namespace {

class CropFormTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dir = new QTemporaryDir;
        Clip = SizedClip(Dir->path(), 720, 576, 3.0);
    }
    static void TearDownTestSuite() {
        delete Dir;
        Dir = nullptr;
    }
    void SetUp() override {
        ASSERT_FALSE(Clip.isEmpty());
        TVideoFile title;
        title.Source = Clip;
        title.SourceWidth = 720;
        title.SourceHeight = 576;
        title.AspectRatio = 3; // ignored while all four margins are 0
        Files = {title};
        Form = std::make_unique<TCropForm>(Files, [] { return 0; });
        Form->Sinks.ReportError = [this](const QString& m, const QString& c) {
            Reports << m + QLatin1Char('|') + c;
        };
        Form->Sinks.AppendEventsLog = [this](const QString& l) { Log << l; };
    }
    void TearDown() override { Form.reset(); }

    void ShowAndLoad() {
        Form->show();
        ASSERT_TRUE(WaitFor([&] { return Form->FieldsLoaded(); }));
    }
    QString Fields() const {
        return QStringLiteral("%1,%2,%3,%4")
            .arg(Form->edLeft->text(), Form->edTop->text(), Form->edWidth->text(),
                 Form->edHeight->text());
    }
    void Drag(QWidget* handle, QPoint by) {
        QTest::mousePress(handle, Qt::LeftButton, Qt::NoModifier, QPoint(4, 4));
        QTest::mouseMove(handle, QPoint(4, 4) + by);
        QTest::mouseRelease(handle, Qt::LeftButton, Qt::NoModifier, QPoint(4, 4) + by);
    }

    static QTemporaryDir* Dir;
    static QString Clip;
    TVideoFiles Files;
    std::unique_ptr<TCropForm> Form;
    QStringList Reports, Log;
};
QTemporaryDir* CropFormTest::Dir = nullptr;
QString CropFormTest::Clip;

TEST_F(CropFormTest, FirstFrameLoadsTheWholeFrameAndPlacesTheHandles) {
    Form->show();
    // Before the first frame: empty fields, and Apply stores nothing.
    EXPECT_EQ(Fields(), QStringLiteral(",,,"));
    Files[0].CropLeft = 0;
    Form->ApplyButtonClick();
    EXPECT_EQ(Files[0].AspectRatio, 3);
    ASSERT_TRUE(WaitFor([&] { return Form->FieldsLoaded(); }));
    EXPECT_EQ(Fields(), QStringLiteral("0,0,720,576"));
    EXPECT_EQ(Form->cmbAspectRatio->currentIndex(), 0);
    EXPECT_EQ(Form->FFPlayer1->AspectRatio(), 0.0f);
    EXPECT_EQ(Form->SourceFrameSize(), QSize(720, 576));
    EXPECT_EQ(Form->szLeftTop->pos(), QPoint(57, -4));
    EXPECT_EQ(Form->szRightBottom->pos(), QPoint(396, 267));
    EXPECT_EQ(Form->szLeftBottom->pos(), QPoint(57, 267));
    EXPECT_EQ(Form->szTopMiddle->pos(), QPoint(57 + 339 / 2, -4));
    // The outline is drawn into the frames: the frame's edge is white where it runs.
    QImage frame;
    ASSERT_TRUE(WaitFor([&] { return !(frame = Form->FFPlayer1->CurrentFrame()).isNull(); }));
    ASSERT_EQ(frame.size(), QSize(720, 576));
    int white = 0;
    for (int x = 0; x < 720; ++x)
        white += frame.pixelColor(x, 0) == QColor(255, 255, 255) ? 1 : 0;
    EXPECT_GT(white, 100);
    EXPECT_LT(white, 700); // dotted
    // Whole frame applied: no crop.
    Form->ApplyButtonClick();
    EXPECT_EQ(Files[0].CropLeft, 0);
    EXPECT_EQ(Files[0].CropRight, 0);
    EXPECT_EQ(Files[0].CropBottom, 0);
    EXPECT_EQ(Files[0].AspectRatio, 0);
    EXPECT_TRUE(Reports.isEmpty()) << Reports.join(QLatin1Char('\n')).toStdString();
}

TEST_F(CropFormTest, DraggedHandleRefreshesTheFieldsAndSettlesOnWholePixels) {
    ShowAndLoad();
    Drag(Form->szLeftTop, QPoint(20, 10));
    EXPECT_EQ(Form->szLeftTop->pos(), QPoint(77, 6));
    EXPECT_EQ(Form->szLeftBottom->pos(), QPoint(77, 267));
    EXPECT_EQ(Form->szRightTop->pos(), QPoint(396, 6));
    // (81 - 61.125) * 576 / 271 = 42.2 and 10 * 576 / 271 = 21.3.
    ASSERT_TRUE(WaitFor([&] { return Fields() == QStringLiteral("42,21,678,555"); }))
        << Fields().toStdString();
    EXPECT_EQ(Form->szLeftTop->pos(), QPoint(77, 6));
    // Crossing the opposite handle is refused; leaving the picture is taken.
    Drag(Form->szLeftTop, QPoint(400, 0));
    EXPECT_EQ(Form->szLeftTop->pos(), QPoint(77, 6));
    Drag(Form->szLeftMiddle, QPoint(-40, 0));
    EXPECT_EQ(Form->szLeftTop->x(), 37);
    ASSERT_TRUE(WaitFor([&] { return Form->edLeft->value() < 0; }));

    Form->OkButtonClick();
    EXPECT_LT(Files[0].CropLeft, 0);
    EXPECT_EQ(Files[0].CropTop, 21);
    EXPECT_EQ(Files[0].CropLeft + Files[0].CropRight + Form->edWidth->value(), 720);
    EXPECT_EQ(Files[0].CropBottom, 0);
    EXPECT_FALSE(Form->isVisible());
    EXPECT_EQ(Form->FFPlayer1->PlayState(), psStop);
}

TEST_F(CropFormTest, StoredCropAndAspectAreLoadedAndCancelKeepsThem) {
    Files[0].CropLeft = 8;
    Files[0].CropTop = 16;
    Files[0].CropRight = 24;
    Files[0].CropBottom = 32;
    Files[0].AspectRatio = 3;
    ShowAndLoad();
    EXPECT_EQ(Fields(), QStringLiteral("8,16,688,528"));
    EXPECT_EQ(Form->cmbAspectRatio->currentIndex(), 3);
    EXPECT_FLOAT_EQ(Form->FFPlayer1->AspectRatio(), 16.0f / 9.0f);
    // 16:9 in 461 x 271 is width-fitted: the handles follow the player's picture.
    const TDisplayFit fit = ComputeDisplayFit(720, 576, 16.0f / 9.0f, 461, 271);
    EXPECT_EQ(Form->szLeftTop->pos(), *CropGeometry::HandleForSourcePoint(fit, 8, 16));

    Form->edLeft->setValue(100);
    EXPECT_EQ(Form->szLeftTop->pos(), *CropGeometry::HandleForSourcePoint(fit, 100, 16));
    Form->cmbAspectRatio->setCurrentIndex(1);
    EXPECT_EQ(Form->FFPlayer1->AspectRatio(), -1.0f);
    Form->CancelButtonClick();
    EXPECT_EQ(Files[0].CropLeft, 8);
    EXPECT_EQ(Files[0].AspectRatio, 3);
}

TEST_F(CropFormTest, EmptiedFieldIsReportedAndResetBringsBackTheTitle) {
    ShowAndLoad();
    Form->FFPlayer1->Pause();
    Form->edWidth->selectAll(); // the user empties the field
    QTest::keyClick(Form->edWidth, Qt::Key_Backspace);
    EXPECT_EQ(Form->edWidth->text(), QString());
    ASSERT_EQ(Reports.size(), 1);
    EXPECT_TRUE(
        Reports[0].startsWith(QStringLiteral("Error painting Selection Area with edited values. "
                                             "BitmapWidth=720; BitmapHeight=576; AspectRatio=0|")));
    EXPECT_TRUE(Reports[0].endsWith(QStringLiteral("|CLM_ValuesToCropArea")));
    Form->edWidth->setValue(300);
    Form->ResetButtonClick(); // paused: nothing yet
    WaitFor([] { return false; }, 200);
    EXPECT_EQ(Form->edWidth->value(), 300);
    Form->FFPlayer1->Resume();
    ASSERT_TRUE(WaitFor([&] { return Form->edWidth->value() == 720; }));
    EXPECT_EQ(Reports.size(), 1);
}

TEST_F(CropFormTest, MissingFileIsReported) {
    Files[0].Source = Dir->filePath(QStringLiteral("gone.mkv"));
    Form->show();
    ASSERT_EQ(Reports.size(), 1);
    EXPECT_TRUE(Reports[0].endsWith(QStringLiteral("|CLM_FFPlayer1Open")));
    EXPECT_EQ(Log.size(), 1);
    Form->ApplyButtonClick();
    EXPECT_EQ(Files[0].AspectRatio, 3);
}

} // namespace
