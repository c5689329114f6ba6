#include "app/MainForm.h"
#include "project/FileInfo.h"
#include "project/Settings.h"
#include "support/AppFixture.h"
#include "support/Clips.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QDropEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTest>

namespace {

QString Documents(const QTemporaryDir& home) {
    return home.path() + QStringLiteral("/Documents/Parvenor/Ordavine");
}

struct TTitleState {
    bool Edit, Trim, Remove, Snapshot, Start;
};

TTitleState States(TMainForm& m) {
    return {m.EditButton->isEnabled(), m.ClipButton->isEnabled(), m.Remove1->isEnabled(), m.Item12->isEnabled(),
            m.StartButton->isEnabled()};
}

} // namespace

class MainFormTest : public TAppFixture {
protected:
    // Three short clips in a folder whose names hold spaces, quotes, unicode and several dots.
    QStringList MakeClips(QTemporaryDir& dir) {
        const QString a = MakeTestClip(dir.path(), QStringLiteral("holiday.part1.avi"), 2.0, 320, 240,
                                       QStringLiteral("25"), {QStringLiteral("-c:v"), QStringLiteral("mpeg4")});
        const QString b = MakeTestClip(dir.path(), QStringLiteral("my \"best\" ünïcode clip.mkv"), 3.0, 640, 360);
        const QString c = MakeTestClip(dir.path(), QStringLiteral(".avi"), 1.0, 176, 144, QStringLiteral("25"),
                                       {QStringLiteral("-c:v"), QStringLiteral("mpeg4")});
        return {a, b, c};
    }
};

TEST_F(MainFormTest, StartUpOnAFreshAndAnExistingHome) {
    Start();
    TMainForm& m = Main();
    for (const char* sub : {"Output", "ScreenShots"})
        EXPECT_TRUE(QFileInfo(Documents(Home) + QLatin1Char('/') + QLatin1String(sub)).isDir()) << sub;
    EXPECT_EQ(App->SettingsForm->edTempFolder->text(), Documents(Home) + QStringLiteral("/Output"));
    EXPECT_EQ(m.SnapshotFolder(), Documents(Home) + QStringLiteral("/ScreenShots"));
    EXPECT_EQ(m.windowTitle(), QStringLiteral("Ordavine"));
    EXPECT_EQ(m.EstimatedOutputSize, 20);
    EXPECT_EQ(m.SizeLine->Caption, QStringLiteral("20 MB"));
    EXPECT_EQ(m.SizeLine->maximum(), 4482);
    EXPECT_EQ(m.OutSizeLine->value(), 0);
    EXPECT_EQ(m.cmbDVDType->currentText(), QStringLiteral("D5    4.7G"));
    EXPECT_EQ(m.edDiskTitle->text(), QStringLiteral("Video DVD"));
    EXPECT_EQ(m.ListPages->currentWidget(), m.GettingStartedPanel);
    EXPECT_FALSE(m.GettingStartedImage->pixmap().isNull());
    EXPECT_TRUE(m.MenuSettings.BackgroundImage.endsWith(QStringLiteral("/menu-backgrounds/Blue Sky.jpg")));
    EXPECT_EQ(m.lblTheme->text(), QStringLiteral("Theme: Blue Sky"));
    EXPECT_EQ(m.MenuSettings.FontName, QStringLiteral("Arial"));
    EXPECT_EQ(m.MenuSettings.FontSize, 28);
    const TTitleState s = States(m);
    EXPECT_FALSE(s.Edit || s.Trim || s.Remove || s.Snapshot);
    // The drive list ends with the virtual recorder, a writer: "Burn DVD" follows the drive.
    ASSERT_GE(m.cmbDrives->count(), 1);
    EXPECT_TRUE(m.cmbDrives->itemText(m.cmbDrives->count() - 1).contains(QStringLiteral("VIRTUAL RECORDER")));
    EXPECT_TRUE(s.Start);
    EXPECT_FALSE(m.FileInformation1->isEnabled());
    // Every command is reachable by its name.
    for (const char* name : {"AddButton", "StartButton", "sgList", "cmbDrives", "cmbDVDType", "edDiskTitle", "SizeLine",
                             "OutSizeLine", "panPreview", "panPlayerArea", "PlayButton", "StopButton", "SnapshotButton",
                             "VideoTrackBar", "panDVDMenu", "DesignButton", "edDestinationTitle"})
        EXPECT_NE(m.findChild<QWidget*>(QLatin1String(name)), nullptr) << name;
    App.reset();

    // A second start finds everything in place and keeps what was there.
    QFile marker(Documents(Home) + QStringLiteral("/Output/keep.txt"));
    ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
    marker.close();
    Start();
    EXPECT_TRUE(marker.exists());
    EXPECT_EQ(App->SettingsForm->edTempFolder->text(), Documents(Home) + QStringLiteral("/Output"));
}

TEST_F(MainFormTest, AddKeepsGoodFilesInOrderAndReportsEachBadOne) {
    QTemporaryDir dir;
    const QStringList clips = MakeClips(dir);
    QFile bad(dir.filePath(QStringLiteral("broken.avi")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(QByteArray(4096, 'x'));
    bad.close();
    Start();
    TMainForm& m = Main();
    Prompts.OpenFileAnswers << QStringList{clips[0], bad.fileName(), clips[1]};
    m.AddButtonClick();

    ASSERT_EQ(m.VideoFiles.size(), 2);
    EXPECT_EQ(m.VideoFiles[0].SourceTitleExt, QStringLiteral("holiday.part1.avi"));
    EXPECT_EQ(m.VideoFiles[0].DestinationTitle, QStringLiteral("holiday.part1"));
    EXPECT_EQ(m.VideoFiles[1].DestinationTitle, QStringLiteral("my \"best\" ünïcode clip"));
    EXPECT_EQ(m.VideoFiles[1].SourceWidth, 640);
    EXPECT_EQ(m.VideoFiles[1].Source, clips[1]);
    EXPECT_EQ(Marks, QStringList{QStringLiteral("Error loading file|CLM_DecoderLoadFile")});
    const QStringList log = LogLines();
    ASSERT_EQ(log.size(), 3);
    EXPECT_EQ(log[0], QString());
    EXPECT_TRUE(log[1].startsWith(QStringLiteral("***File load error: ")));
    EXPECT_GT(log[1].size(), 20);
    EXPECT_EQ(log[2], QString());
    EXPECT_EQ(m.ListPages->currentWidget(), m.sgList);
    EXPECT_EQ(m.sgList->rowCount(), 2);
    EXPECT_EQ(m.sgList->item(1, 1)->text(), QStringLiteral("640x360"));
    EXPECT_EQ(m.sgList->item(0, 2)->text(), QStringLiteral("00:00:02"));
    EXPECT_EQ(m.sgList->horizontalHeaderItem(3)->text(), QStringLiteral("Title in Menu"));
    const TTitleState s = States(m);
    EXPECT_TRUE(s.Edit && s.Trim && s.Remove && s.Snapshot && s.Start);
    // 2 s + 3 s of titles: 1530 kB, 1.49 MB, rounds to 1.
    EXPECT_EQ(m.EstimatedOutputSize, 21);

    // A later add appends and keeps the earlier titles' edits; ".avi" has an empty menu name.
    m.VideoFiles[0].CropLeft = 8;
    Prompts.OpenFileAnswers << QStringList{clips[2]};
    m.AddButtonClick();
    ASSERT_EQ(m.VideoFiles.size(), 3);
    EXPECT_EQ(m.VideoFiles[0].CropLeft, 8);
    EXPECT_EQ(m.VideoFiles[2].DestinationTitle, QString());
    EXPECT_EQ(m.MenuPreview.Labels().size(), 3);

    // The folder of the first chosen file is remembered at exit.
    App->MainForm->close();
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Parvenor"), QStringLiteral("Ordavine"));
    EXPECT_EQ(store.value(QStringLiteral("OpenVideoDialogPath")).toString(), QFileInfo(clips[2]).absolutePath());
}

TEST_F(MainFormTest, MoveRemoveClearAndRename) {
    QTemporaryDir dir;
    const QStringList clips = MakeClips(dir);
    Start();
    TMainForm& m = Main();
    Prompts.OpenFileAnswers << clips;
    m.AddButtonClick();
    ASSERT_EQ(m.VideoFiles.size(), 3);
    const QStringList names{m.VideoFiles[0].Source, m.VideoFiles[1].Source, m.VideoFiles[2].Source};
    auto order = [&m, &names] {
        QList<int> o;
        for (const TVideoFile& f : m.VideoFiles)
            o << static_cast<int>(names.indexOf(f.Source)) + 1;
        return o;
    };

    m.SelectTitle(0);
    m.MoveUp1Click(); // first title up: nothing
    EXPECT_EQ(order(), (QList<int>{1, 2, 3}));
    m.MoveDown1Click();
    EXPECT_EQ(order(), (QList<int>{2, 1, 3}));
    EXPECT_EQ(m.SelectedTitle(), 1);
    EXPECT_EQ(m.VideoFiles[0].SourceWidth, 640); // resolutions travel with their titles
    m.SelectTitle(2);
    m.MoveDown1Click(); // last title down: nothing
    EXPECT_EQ(order(), (QList<int>{2, 1, 3}));

    // Rename in place; Enter commits, an empty name is kept as empty.
    m.SelectTitle(1);
    m.Rename1Click();
    ASSERT_FALSE(m.edDestinationTitle->isHidden());
    EXPECT_EQ(m.edDestinationTitle->text(), QStringLiteral("holiday.part1"));
    m.edDestinationTitle->setText(QStringLiteral("Summer & Sea"));
    QTest::keyClick(m.edDestinationTitle, Qt::Key_Return);
    EXPECT_TRUE(m.edDestinationTitle->isHidden());
    EXPECT_EQ(m.VideoFiles[1].DestinationTitle, QStringLiteral("Summer & Sea"));
    EXPECT_EQ(m.MenuPreview.Labels()[1]->text(), QStringLiteral("Summer & Sea"));
    m.Rename1Click();
    m.edDestinationTitle->clear();
    m.edDestinationTitleExit();
    EXPECT_EQ(m.VideoFiles[1].DestinationTitle, QString());
    EXPECT_EQ(m.sgList->item(1, 3)->text(), QString());

    // Removing the first of three keeps the others' own values.
    m.SelectTitle(0);
    m.Remove1Click();
    EXPECT_EQ(order(), (QList<int>{1, 3}));
    EXPECT_EQ(m.VideoFiles[0].SourceWidth, 320);
    EXPECT_EQ(m.VideoFiles[1].SourceWidth, 176);
    m.Remove1Click();
    ASSERT_EQ(m.VideoFiles.size(), 1);
    // Removing the only title is a "Clear All".
    m.SelectTitle(0);
    m.Remove1Click();
    EXPECT_TRUE(m.VideoFiles.isEmpty());
    const TTitleState s = States(m);
    EXPECT_FALSE(s.Edit || s.Trim || s.Remove);
    EXPECT_TRUE(s.Snapshot);
    EXPECT_TRUE(s.Start); // "Burn DVD" keeps its state
    EXPECT_FALSE(m.FileInformation1->isEnabled());
    EXPECT_EQ(m.ListPages->currentWidget(), m.sgList);
    EXPECT_EQ(m.sgList->rowCount(), 0);
    EXPECT_EQ(m.EstimatedOutputSize, 20);
    EXPECT_TRUE(m.MenuPreview.Labels().isEmpty());
}

TEST_F(MainFormTest, CancelledAddChangesNothingButRefreshes) {
    Start();
    TMainForm& m = Main();
    Prompts.OpenFileAnswers << QStringList();
    m.AddButtonClick();
    EXPECT_TRUE(m.VideoFiles.isEmpty());
    EXPECT_EQ(m.ListPages->currentWidget(), m.GettingStartedPanel);
    EXPECT_FALSE(m.EditButton->isEnabled());
}

TEST_F(MainFormTest, SettingsFirstRunAndExit) {
    Start();
    EXPECT_FALSE(QFileInfo::exists(SettingsFileName())) << "reading must not create the store";
    App->MainForm->close();
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Parvenor"), QStringLiteral("Ordavine"));
    EXPECT_EQ(store.value(QStringLiteral("OutputPath")).toString(), Documents(Home) + QStringLiteral("/Output"));
    EXPECT_EQ(store.value(QStringLiteral("ScreenShotsPath")).toString(), Documents(Home) + QStringLiteral("/ScreenShots"));
    EXPECT_FALSE(store.contains(QStringLiteral("OpenVideoDialogPath")));
}

TEST_F(MainFormTest, StoredSettingsAreApplied) {
    QTemporaryDir other;
    {
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Parvenor"), QStringLiteral("Ordavine"));
        store.setValue(QStringLiteral("OutputPath"), other.path());
        store.setValue(QStringLiteral("OpenVideoDialogPath"), other.path() + QStringLiteral("/gone"));
        store.setValue(QStringLiteral("ScreenShotsPath"), QStringLiteral("/no/such/shots"));
    }
    Start();
    EXPECT_EQ(App->SettingsForm->edTempFolder->text(), other.path());
    EXPECT_EQ(App->SettingsForm->OpenVideoDialogPath, QString()); // a removed folder is forgotten
    EXPECT_EQ(Main().SnapshotFolder(), QStringLiteral("/no/such/shots")); // used as it is
}

TEST_F(MainFormTest, PreferencesKeepChangesWhicheverButtonCloses) {
    Start();
    TSettingsForm& s = *App->SettingsForm;
    EXPECT_EQ(s.cmbNormType->currentText(), QStringLiteral("NTSC"));
    Prompts.OnDialog = [](QDialog& d) {
        d.findChild<QComboBox*>(QStringLiteral("cmbNormType"))->setCurrentIndex(1);
        return int(QDialog::Rejected); // Cancel
    };
    Main().Preferences1Click();
    EXPECT_TRUE(s.IsPAL());
    EXPECT_EQ(s.cmbSpeed->count(), 1);
    EXPECT_EQ(s.cmbSpeed->currentText(), QStringLiteral("Max"));
}

TEST_F(MainFormTest, UnwritableSettingsReportOnce) {
    Start();
    // A folder where the settings file should be: every write fails, whoever runs the test.
    QDir().mkpath(SettingsFileName());
    App->MainForm->close();
    EXPECT_EQ(Marks, QStringList{QStringLiteral("Error writing data to Registry|CLM_RegDataWrite")});
}

TEST_F(MainFormTest, DiscTypeChangeMovesTheOverflow) {
    Start();
    TMainForm& m = Main();
    TVideoFile big;
    big.TrimmedLength = (4480LL * 1024 / 306) * 1'000'000;
    m.VideoFiles << big;
    m.UpdateEstimatedOutputSize();
    EXPECT_EQ(m.EstimatedOutputSize, 4500);
    EXPECT_EQ(m.OutSizeLine->value(), 18);
    EXPECT_EQ(m.OutSizeLine->Caption, QStringLiteral("D5    4.7G"));
    m.cmbDVDType->setCurrentIndex(1);
    EXPECT_EQ(m.SizeLine->maximum(), 8500);
    EXPECT_EQ(m.OutSizeLine->value(), 0);
    EXPECT_EQ(m.OutSizeLine->Caption, QStringLiteral("D9    8.5G"));
}

TEST_F(MainFormTest, FileInformation) {
    QTemporaryDir dir;
    // NTSC rate, two audio streams (the second wins), a video stream without a bit rate.
    const QString two = MakeClip(dir.path(), QStringLiteral("two.mkv"),
                                 {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("testsrc=size=320x240:rate=30000/1001:duration=2"),
                                  QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("sine=sample_rate=44100:duration=2"),
                                  QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("sine=sample_rate=22050:duration=2"),
                                  QStringLiteral("-map"), QStringLiteral("0"), QStringLiteral("-map"), QStringLiteral("1"), QStringLiteral("-map"), QStringLiteral("2"),
                                  QStringLiteral("-ac:2"), QStringLiteral("2"), QStringLiteral("-c:v"), QStringLiteral("mpeg4")});
    const QString silent = MakeClip(dir.path(), QStringLiteral("silent.mp4"),
                                    {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("testsrc=size=160x120:rate=25:duration=1"),
                                     QStringLiteral("-c:v"), QStringLiteral("mpeg4"), QStringLiteral("-b:v"), QStringLiteral("1499999")});
    ASSERT_FALSE(two.isEmpty());
    ASSERT_FALSE(silent.isEmpty());
    Start();
    TMainForm& m = Main();
    Prompts.OpenFileAnswers << QStringList{two, silent};
    m.AddButtonClick();
    ASSERT_EQ(m.VideoFiles.size(), 2);
    m.VideoFiles[0].TrimmedLength = 1'000'000; // the dialog shows the file's own length

    TFileInfoForm& f = *App->FileInfoForm;
    m.SelectTitle(0);
    m.FileInformation1Click();
    EXPECT_EQ(Prompts.DialogsShown.last(), QStringLiteral("FileInfoForm"));
    EXPECT_EQ(f.edFileName->text(), QStringLiteral("two.mkv"));
    EXPECT_EQ(f.edMediaLength->text(), QStringLiteral("00:00:02"));
    EXPECT_EQ(f.edResolution->text(), QStringLiteral("320x240"));
    EXPECT_EQ(f.edFrameRate->text(), QStringLiteral("30 fps"));
    EXPECT_EQ(f.edVideoBitRate->text(), QStringLiteral("is not preseted"));
    EXPECT_EQ(f.edSampleRate->text(), QStringLiteral("22050 Hz"));
    EXPECT_EQ(f.edChannels->text(), QStringLiteral("2 channel"));
    EXPECT_TRUE(m.FFEncoder.Decoder.FileOpened()) << "the file stays open until the next load";

    m.SelectTitle(1);
    m.FileInformation1Click();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[1-9][0-9]* Kb$")).match(f.edVideoBitRate->text()).hasMatch())
        << f.edVideoBitRate->text().toStdString();
    EXPECT_EQ(f.edFrameRate->text(), QStringLiteral("25 fps"));
    EXPECT_EQ(f.edSampleRate->text(), QString()) << "no stale audio values for a silent file";

    // A source deleted after it was added: report and log block, no dialog.
    const int shown = static_cast<int>(Prompts.DialogsShown.size());
    QFile::remove(silent);
    m.FileInformation1Click();
    EXPECT_EQ(Prompts.DialogsShown.size(), shown + 1); // the error dialog only
    ASSERT_FALSE(Marks.isEmpty());
    EXPECT_TRUE(Marks.last().startsWith(QStringLiteral("Error getting file info! ")));
    EXPECT_TRUE(Marks.last().endsWith(QStringLiteral("|CLM_ProbeLoadFile")));
    EXPECT_TRUE(LogLines().at(LogLines().size() - 2).startsWith(QStringLiteral("***File load error: ")));
}

TEST(FileInfoFormat, Values) {
    EXPECT_EQ(FormatBitRate(1'499'999), QStringLiteral("1499 Kb"));
    EXPECT_EQ(FormatBitRate(0), QStringLiteral("is not preseted"));
    EXPECT_EQ(FormatBitRate(-1), QStringLiteral("is not preseted"));
    EXPECT_EQ(FormatFrameRate({30000, 1001}), QStringLiteral("30 fps"));
    EXPECT_EQ(FormatFrameRate({24000, 1001}), QStringLiteral("24 fps"));
    EXPECT_EQ(FormatFrameRate({25, 2}), QStringLiteral("12 fps")); // 12.5 to the even 12
    EXPECT_THROW(FormatFrameRate({25, 0}), std::domain_error);
}

TEST_F(MainFormTest, FilesDroppedOnTheListAreAdded) {
    QTemporaryDir dir;
    const QString clip = MakeTestClip(dir.path(), QStringLiteral("dropped.mp4"), 1.0);
    Start();
    TMainForm& m = Main();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(clip), QUrl(QStringLiteral("https://example.org/x.mp4"))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m.GettingStartedPanel, &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m.GettingStartedPanel, &drop);
    ASSERT_EQ(m.VideoFiles.size(), 1);
    EXPECT_EQ(m.VideoFiles[0].DestinationTitle, QStringLiteral("dropped"));
    EXPECT_EQ(m.ListPages->currentWidget(), m.sgList);
    QDragEnterEvent enterList(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m.sgList->viewport(), &enterList);
    QDropEvent again(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m.sgList->viewport(), &again);
    EXPECT_EQ(m.VideoFiles.size(), 2);
}
