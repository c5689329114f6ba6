#include "burner/device/VirtualRecorder.h"
#include "pipeline/ConvForm.h"
#include "project/Settings.h"
#include "support/AppFixture.h"
#include "support/Clips.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>

class BurnRunTest : public TAppFixture {
protected:
    QTemporaryDir Clips;
    QTemporaryDir Temp;

    void Prepare() {
        Start();
        TMainForm& m = Main();
        App->SettingsForm->cmbNormType->setCurrentIndex(1);
        App->SettingsForm->edTempFolder->setText(Temp.path());
        m.Burner.SetWaitFunction([](unsigned) {});
        m.AddFilesFromOutside({MakeTestClip(Clips.path(), QStringLiteral("a.mp4"), 1.0),
                               MakeTestClip(Clips.path(), QStringLiteral("b.mp4"), 1.5)});
        // No drive on this machine: the virtual recorder is the only, and chosen, entry.
        ASSERT_GE(m.cmbDrives->count(), 1);
        m.cmbDrives->setCurrentIndex(m.cmbDrives->count() - 1);
        m.cmbDrivesChange();
        ASSERT_TRUE(m.StartButton->isEnabled());
        m.edDiskTitle->setText(QStringLiteral("Holiday"));
    }
    // The last command the drive got was START STOP UNIT with eject (the recorder then loads a
    // fresh disc for the next run, as a user would).
    bool Ejected() {
        const auto commands = Main().Burner.VirtualRecorder()->Commands();
        for (auto it = commands.rbegin(); it != commands.rend(); ++it)
            if (!it->Cdb.empty() && it->Cdb[0] == 0x1B)
                return (it->Cdb[4] & 0x03) == 0x02;
        return false;
    }
    QStringList BurnLines() {
        QStringList lines;
        for (const QString& l : LogLines())
            if (l.contains(QStringLiteral("INSERTING")) || l.contains(QStringLiteral(">>>")))
                lines << l;
        return lines;
    }
};

TEST_F(BurnRunTest, ARunEndsWithABurnedAndEjectedDisc) {
    Prepare();
    TMainForm& m = Main();
    m.StartButtonClick();
    ASSERT_EQ(m.LastRunResult, TCreationRun::TResult::Succeeded) << Marks.join(QLatin1Char('\n')).toStdString();
    const QStringList lines = BurnLines();
    ASSERT_EQ(lines.size(), 3) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("INSERTING STRUCTURE ON DVD"));
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral(" >>> WRITING DISC ... ")));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\d >>> WRITE DONE\\.$")).match(lines[2]).hasMatch())
        << lines[2].toStdString();
    const QString image = QString::fromStdString(m.Burner.LastImagePath());
    EXPECT_TRUE(image.startsWith(Temp.path())) << image.toStdString();
    EXPECT_TRUE(QFileInfo(image).fileName().contains(QStringLiteral("Holiday"))) << image.toStdString();
    EXPECT_TRUE(LogLines().contains(QStringLiteral("Disc image written to ") + image));
    EXPECT_TRUE(Ejected());
    const TProcessResult ls = RunProcess(QStringLiteral("lsdvd"), {image});
    EXPECT_EQ(QString::fromUtf8(ls.Out).count(QRegularExpression(QStringLiteral("(^|\\n)Title: "))), 2) << ls.Out.constData();
    const TProcessResult files = RunProcess(QStringLiteral("isoinfo"), {QStringLiteral("-f"), QStringLiteral("-i"), image});
    EXPECT_TRUE(files.Out.startsWith("/AUDIO_TS\n/VIDEO_TS")) << files.Out.constData();
    EXPECT_EQ(App->ConvForm->ProgressTotal->value(), 100);

    // A second run never overwrites the first image.
    m.StartButtonClick();
    ASSERT_EQ(m.LastRunResult, TCreationRun::TResult::Succeeded);
    EXPECT_NE(QString::fromStdString(m.Burner.LastImagePath()), image);
    EXPECT_TRUE(QFileInfo::exists(image));
}

TEST_F(BurnRunTest, AFailedBurnIsShownAndStillEjects) {
    Prepare();
    TMainForm& m = Main();
    m.Burner.VirtualRecorder()->InjectWriteError(64);
    m.StartButtonClick();
    EXPECT_EQ(m.LastRunResult, TCreationRun::TResult::Failed);
    EXPECT_TRUE(Prompts.Messages.contains(QStringLiteral("Burning failed")));
    ASSERT_FALSE(BurnLines().isEmpty());
    EXPECT_TRUE(BurnLines().last().contains(QStringLiteral(" >>> WRITE DONE WITH ERROR ("))) << BurnLines().last().toStdString();
    EXPECT_TRUE(Ejected());
}
