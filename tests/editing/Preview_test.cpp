// The main window's preview and snapshots, driven with a generated clip.
#include "editing/Preview.h"
#include "support/PlayerClips.h"

#include <QAction>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace PlayerClips;

namespace {

class PreviewTest : public ::testing::Test {
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
        panPreview.resize(320, 240);
        panPlayerArea.resize(320, 240);
        PlayButton.setCheckable(true);
        TVideoFile title;
        title.Source = Clip;
        title.DestinationTitle = QStringLiteral("Holiday");
        Files = {title};
        TPreviewWidgets w;
        w.panPreview = &panPreview;
        w.panPlayerArea = &panPlayerArea;
        w.PlayButton = &PlayButton;
        w.VideoTrackBar = &Slider;
        w.VolumeTrackBar = &Volume;
        w.lblPlayTime = &lblPlayTime;
        w.JPEG1 = &Jpeg;
        w.BMP1 = &Bmp;
        Preview = std::make_unique<TPreview>(
            Files, [this] { return Selected; }, w);
        Preview->Sinks.ReportError = [this](const QString& m, const QString& c) {
            Reports << m + QLatin1Char('|') + c;
        };
        Preview->Sinks.AppendEventsLog = [this](const QString& l) { Log << l; };
        Preview->PrimaryButtonDown = [this] { return ButtonDown; };
        Preview->SnapshotFolder = Shots.path();
    }
    void TearDown() override { Preview.reset(); }

    void PlayPaused(int64_t at) {
        Preview->PlayButtonClick();
        ASSERT_EQ(Preview->FFPlayer->PlayState(), psPlay);
        Preview->FFPlayer->Pause();
        Preview->FFPlayer->Seek(at, {}, true);
        ASSERT_TRUE(WaitFor([&] { return Slider.value() == at * 1000 / Preview->Duration(); }));
    }

    static QTemporaryDir* Dir;
    static QString Clip;
    QTemporaryDir Shots;
    QWidget panPreview, panPlayerArea;
    QPushButton PlayButton;
    QSlider Slider{Qt::Horizontal};
    QSlider Volume{Qt::Horizontal};
    QLabel lblPlayTime;
    QAction Jpeg{QStringLiteral("JPEG")}, Bmp{QStringLiteral("BMP")};
    TVideoFiles Files;
    int Selected = 0;
    bool ButtonDown = false;
    std::unique_ptr<TPreview> Preview;
    QStringList Reports, Log;
};
QTemporaryDir* PreviewTest::Dir = nullptr;
QString PreviewTest::Clip;

TEST_F(PreviewTest, PlaysToTheEndAndStopsWithThePlaceholderBack) {
    EXPECT_EQ(lblPlayTime.text(), QStringLiteral("00:00:00 / 00:00:00"));
    EXPECT_EQ(Volume.value(), 50);
    PlayButton.setChecked(true);
    Preview->PlayButtonClick();
    EXPECT_TRUE(panPlayerArea.isHidden());
    EXPECT_GT(Preview->Duration(), 1000000);
    ASSERT_TRUE(WaitFor([&] { return Slider.value() > 300; }));
    ASSERT_TRUE(WaitFor([&] { return Preview->LastState() == psStop; }, 5000));
    EXPECT_FALSE(PlayButton.isChecked());
    EXPECT_FALSE(panPlayerArea.isHidden());
    EXPECT_EQ(Slider.value(), 0);
    EXPECT_EQ(lblPlayTime.text(), QStringLiteral("00:00:01 / 00:00:01"));
    Volume.setValue(100);
    EXPECT_EQ(Preview->FFPlayer->AudioVolume(), 100);
}

TEST_F(PreviewTest, HeldThumbIsNotMovedButTheLabelAdvancesAndReleaseSeeks) {
    PlayPaused(400000);
    ButtonDown = true;
    Preview->FFPlayerPosition(800000);
    EXPECT_EQ(Slider.value(), 400000 * 1000 / Preview->Duration());
    EXPECT_TRUE(lblPlayTime.text().startsWith(QStringLiteral("00:00:00 / ")));
    Preview->FFPlayerPosition(1100000);
    EXPECT_TRUE(lblPlayTime.text().startsWith(QStringLiteral("00:00:01 / ")));
    // Still held at release time: nothing happens.
    Slider.setValue(500);
    Preview->VideoTrackBarStartDragButton();
    Preview->VideoTrackBarLastChange();
    EXPECT_TRUE(Preview->TrackDrag());
    ButtonDown = false;
    Preview->FFPlayerPosition(1100000); // the drag flag holds the thumb as well
    EXPECT_EQ(Slider.value(), 500);
    Preview->VideoTrackBarLastChange();
    EXPECT_FALSE(Preview->TrackDrag());
    const int64_t target = Preview->Duration() * 500 / 1000;
    ASSERT_TRUE(WaitFor([&] { return !Preview->FFPlayer->Seeking(); }));
    EXPECT_EQ(FrameIndex(Preview->FFPlayer->CurrentFrame()), int(target / FrameUs));
    // A report of exactly 0 leaves the label alone.
    const QString label = lblPlayTime.text();
    Preview->FFPlayerPosition(0);
    EXPECT_EQ(lblPlayTime.text(), label);
}

TEST_F(PreviewTest, SnapshotsAreNamedPerFormatAndCounted) {
    Preview->SnapshotButtonClick(); // nothing open: nothing happens
    EXPECT_TRUE(Reports.isEmpty());
    EXPECT_TRUE(QDir(Shots.path()).isEmpty());
    PlayPaused(800000);
    for (int i = 0; i < 3; ++i)
        Preview->SnapshotButtonClick();
    Bmp.trigger();
    EXPECT_TRUE(Bmp.isChecked());
    EXPECT_FALSE(Jpeg.isChecked());
    Preview->SnapshotButtonClick();
    QStringList names = QDir(Shots.path()).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(names,
              (QStringList{QStringLiteral("Holiday_1.bmp"), QStringLiteral("Holiday_1.jpg"),
                           QStringLiteral("Holiday_2.jpg"), QStringLiteral("Holiday_3.jpg")}));
    QImage bmp(QDir(Shots.path()).filePath(QStringLiteral("Holiday_1.bmp")));
    EXPECT_EQ(bmp.size(), QSize(Width, Height));
    EXPECT_EQ(FrameIndex(bmp), 20);
    EXPECT_EQ(QImageReader(QDir(Shots.path()).filePath(QStringLiteral("Holiday_2.jpg"))).format(),
              "jpeg");
    EXPECT_EQ(Preview->JpegSnapshotCounter(), 4);
    EXPECT_EQ(Preview->BmpSnapshotCounter(), 2);
    EXPECT_TRUE(Reports.isEmpty());
}

TEST_F(PreviewTest, SnapshotNamesThatLeaveTheFolderOrCannotBeWrittenAreRefused) {
    PlayPaused(400000);
    const QString outside = Shots.filePath(QStringLiteral("sub"));
    QDir().mkpath(outside);
    Preview->SnapshotFolder = outside;
    for (const QString& name : {QStringLiteral("../escape"), QStringLiteral("a/b")}) {
        Files[0].DestinationTitle = name;
        Preview->SnapshotButtonClick();
    }
    Files[0].DestinationTitle = QStringLiteral("Ok");
    Preview->SnapshotFolder = Shots.filePath(QStringLiteral("missing"));
    Preview->SnapshotButtonClick();
    EXPECT_EQ(Reports, QStringList(3, QStringLiteral("Error making snapshot|CLM_Snapshot")));
    EXPECT_EQ(Preview->JpegSnapshotCounter(), 1);
    EXPECT_EQ(QDir(Shots.path()).entryList(QDir::Files), QStringList());
    EXPECT_EQ(QDir(outside).entryList(QDir::Files), QStringList());
    // An existing file of that name is overwritten.
    Preview->SnapshotFolder = outside;
    QFile old(QDir(outside).filePath(QStringLiteral("Ok_1.jpg")));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    Preview->SnapshotButtonClick();
    EXPECT_GT(QFileInfo(old.fileName()).size(), 3);
    EXPECT_EQ(SnapshotFileName(QStringLiteral("/x"), QStringLiteral(".."), 1, TSnapshotFormat::Bmp),
              QStringLiteral("/x/.._1.bmp"));
}

TEST_F(PreviewTest, DialogsStopThePreviewFirstAndPlayNeedsAnExistingTitle) {
    Preview->PlayButtonClick();
    int shown = 0;
    TPlayState stateAtShow = psPlay;
    Preview->ExecDialog = [&](QDialog&) {
        ++shown;
        stateAtShow = Preview->FFPlayer->PlayState();
        return 0;
    };
    QDialog crop;
    Preview->EditButtonClick(crop);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(stateAtShow, psStop);
    EXPECT_FALSE(panPlayerArea.isHidden());
    Preview->ClipButtonClick(crop);
    EXPECT_EQ(shown, 2);

    Selected = 1;
    Preview->PlayButtonClick();
    EXPECT_EQ(Preview->FFPlayer->PlayState(), psStop);
    Selected = 0;
    Files[0].Source = Dir->filePath(QStringLiteral("gone.mkv"));
    Preview->PlayButtonClick();
    EXPECT_EQ(Preview->FFPlayer->PlayState(), psStop);
    EXPECT_FALSE(panPlayerArea.isHidden());
    EXPECT_TRUE(Reports.isEmpty());
}

TEST_F(PreviewTest, UnknownDurationNeverMovesTheSliderAndSeeksToZero) {
    Preview->FFPlayerPosition(5000000);
    EXPECT_EQ(Slider.value(), 0);
    Slider.setValue(700);
    Preview->VideoTrackBarLastChange(); // no file: harmless
    EXPECT_FALSE(Preview->TrackDrag());
    // A file that exists but is no video is reported.
    const QString junk = Dir->filePath(QStringLiteral("junk.mkv"));
    QFile f(junk);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a video at all");
    f.close();
    Files[0].Source = junk;
    Preview->PlayButtonClick();
    ASSERT_EQ(Reports.size(), 1);
    EXPECT_TRUE(Reports[0].endsWith(QStringLiteral("|CLM_FFPlayerOpen")));
    EXPECT_EQ(Log.size(), 1);
}

} // namespace
