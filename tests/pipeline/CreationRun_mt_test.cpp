#include "pipeline/ConvForm.h"
#include "pipeline/CreationRun.h"
#include "project/Settings.h"
#include "support/AppFixture.h"
#include "support/Clips.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

namespace {

class TFakeShutdown : public TShutdown {
public:
    int Calls = 0;
    bool PowerOff(QString*) override {
        ++Calls;
        return true;
    }
};

int LsdvdTitles(const QString& folder, QString* out = nullptr) {
    const TProcessResult r = RunProcess(QStringLiteral("lsdvd"), {folder});
    if (out)
        *out = QString::fromUtf8(r.Out);
    return static_cast<int>(QString::fromUtf8(r.Out).count(QRegularExpression(QStringLiteral("(^|\\n)Title: "))));
}

} // namespace

class CreationRunTest : public TAppFixture {
protected:
    QTemporaryDir Clips;
    QTemporaryDir Temp;
    QStringList Files;
    TFakeShutdown FakeShutdown;

    void StartWithTitles(const QStringList& names, double seconds = 1.0) {
        Start();
        App->SettingsForm->cmbNormType->setCurrentIndex(1); // PAL
        App->SettingsForm->edTempFolder->setText(Temp.path());
        Main().Shutdown = &FakeShutdown;
        for (const QString& n : names)
            Files << MakeTestClip(Clips.path(), n, seconds, 320, 240);
        Main().AddFilesFromOutside(Files);
        ASSERT_EQ(Main().VideoFiles.size(), names.size());
    }
    TConvForm& Conv() { return *App->ConvForm; }
};

TEST_F(CreationRunTest, ARunEndsWithAnAuthoredDiscFolder) {
    StartWithTitles({QStringLiteral("a.mp4"), QStringLiteral("b.mp4")});
    QList<int> captions;
    Conv().cbShutdownPC->setChecked(true);
    Main().StartButtonClick();
    EXPECT_EQ(Main().LastRunResult, TCreationRun::TResult::Succeeded) << Marks.join(QLatin1Char('\n')).toStdString();
    const QString w = Main().LastWorkFolder;
    EXPECT_EQ(w, Temp.path() + QStringLiteral("/parvenor_temp/1"));
    for (const char* f : {"title1.mpg", "title2.mpg", "premenu.mpg", "menu.mpg", "normal.png", "active.png",
                          "selected.png", "spumux.xml", "spumux.sh", "dvdauthor.xml", "dvdauthor.sh"})
        EXPECT_TRUE(QFileInfo(w + QLatin1Char('/') + QLatin1String(f)).size() > 0) << f;
    QString listing;
    EXPECT_EQ(LsdvdTitles(w + QStringLiteral("/dvd_out"), &listing), 2) << listing.toStdString();
    EXPECT_TRUE(QFileInfo::exists(w + QStringLiteral("/dvd_out/VIDEO_TS/VTS_01_0.VOB"))) << "the menu video";
    EXPECT_EQ(Conv().ProgressTotal->value(), 100);
    EXPECT_EQ(Conv().lblConvertingTitle->text(), QStringLiteral("Step 3: Burning DVD..."));
    EXPECT_EQ(FakeShutdown.Calls, 1);
    EXPECT_TRUE(Marks.isEmpty());
}

TEST_F(CreationRunTest, SkipMenuAuthorsTitlesOnly) {
    StartWithTitles({QStringLiteral("a.mp4"), QStringLiteral("b.mp4")});
    App->SettingsForm->cbSkipMenu->setChecked(true);
    App->SettingsForm->cbDeleteTempFiles->setChecked(false);
    Main().StartButtonClick();
    ASSERT_EQ(Main().LastRunResult, TCreationRun::TResult::Succeeded) << Marks.join(QLatin1Char('\n')).toStdString();
    const QString w = Main().LastWorkFolder;
    EXPECT_FALSE(QFileInfo::exists(w + QStringLiteral("/premenu.mpg")));
    EXPECT_FALSE(QFileInfo::exists(w + QStringLiteral("/spumux.xml")));
    EXPECT_EQ(LsdvdTitles(w + QStringLiteral("/dvd_out")), 2);
    EXPECT_EQ(FakeShutdown.Calls, 0);
}

TEST_F(CreationRunTest, DeleteTemporaryFilesAfterASuccessfulRun) {
    StartWithTitles({QStringLiteral("a.mp4")});
    App->SettingsForm->cbSkipMenu->setChecked(true);
    App->SettingsForm->cbDeleteTempFiles->setChecked(true);
    Main().StartButtonClick();
    ASSERT_EQ(Main().LastRunResult, TCreationRun::TResult::Succeeded);
    EXPECT_FALSE(QFileInfo::exists(Main().LastWorkFolder));
}

TEST_F(CreationRunTest, CancelDuringConversion) {
    StartWithTitles({QStringLiteral("a.mp4"), QStringLiteral("b.mp4")}, 4.0);
    // Pause and resume, then cancel, from inside the running dialog.
    QStringList pauseCaptions;
    QTimer::singleShot(300, [this, &pauseCaptions] {
        Conv().PauseButton->click();
        pauseCaptions << Conv().PauseButton->text();
        Conv().PauseButton->click();
        pauseCaptions << Conv().PauseButton->text();
        Conv().CancelButton->click();
    });
    Main().StartButtonClick();
    EXPECT_EQ(pauseCaptions, (QStringList{QStringLiteral("Resume"), QStringLiteral("Pause")}));
    EXPECT_EQ(Main().LastRunResult, TCreationRun::TResult::Cancelled);
    EXPECT_TRUE(Prompts.Messages.contains(QStringLiteral("Conversion cancelled.")));
    EXPECT_FALSE(QFileInfo::exists(Main().LastWorkFolder + QStringLiteral("/dvd_out")));
    EXPECT_FALSE(Main().FFEncoder.Working());
    EXPECT_TRUE(Marks.isEmpty());
}

TEST_F(CreationRunTest, ATitleFailingMidRunEndsTheRun) {
    StartWithTitles({QStringLiteral("a.mp4"), QStringLiteral("b.mp4")}, 2.0);
    // The second source is cut short while the first converts (the file may already be open).
    QTimer::singleShot(50, [this] { QFile(Files[1]).resize(0); });
    Main().StartButtonClick();
    EXPECT_EQ(Main().LastRunResult, TCreationRun::TResult::Failed);
    ASSERT_EQ(Marks.size(), 1);
    EXPECT_TRUE(Marks[0].startsWith(QStringLiteral("Conversion terminated with error: ")));
    EXPECT_TRUE(Marks[0].endsWith(QStringLiteral("|CLM_Terminate")));
    EXPECT_FALSE(QFileInfo::exists(Main().LastWorkFolder + QStringLiteral("/dvd_out")));
    EXPECT_FALSE(QFileInfo::exists(Main().LastWorkFolder + QStringLiteral("/title2.mpg")));
}

TEST_F(CreationRunTest, ChecksBeforeTheRun) {
    StartWithTitles({QStringLiteral("a.mp4")});
    TMainForm& m = Main();
    // Over capacity: the question; No ends the run before anything is made.
    m.EstimatedOutputSize = 4500;
    Prompts.Answer = QMessageBox::No;
    m.StartButtonClick();
    EXPECT_EQ(m.LastRunResult, TCreationRun::TResult::Refused);
    EXPECT_EQ(Prompts.Messages.last(), QStringLiteral("The ouput size may be over the selected disk.\r\nWould you like to continue?"));
    EXPECT_FALSE(QFileInfo::exists(Temp.path() + QStringLiteral("/parvenor_temp")));
    // Not enough space: the message names the mount point and the megabytes needed.
    m.EstimatedOutputSize = 500'000'000;
    m.cmbDVDType->setCurrentIndex(1);
    m.EstimatedOutputSize = 500'000'000;
    Prompts.Answer = QMessageBox::Yes;
    m.StartButtonClick();
    EXPECT_EQ(m.LastRunResult, TCreationRun::TResult::Refused);
    EXPECT_TRUE(Prompts.Messages.last().startsWith(QStringLiteral("Not enough free space on drive /")));
    EXPECT_TRUE(Prompts.Messages.last().endsWith(QStringLiteral("\r\n1000000020 MB required for temporary files to continue.")));
    // No temporary folder setting: no space known, the message with an empty drive.
    m.UpdateEstimatedOutputSize();
    App->SettingsForm->edTempFolder->clear();
    m.StartButtonClick();
    EXPECT_TRUE(Prompts.Messages.last().startsWith(QStringLiteral("Not enough free space on drive \r\n")));
    // An empty title list is refused with a message.
    m.ClearAll1Click();
    App->SettingsForm->edTempFolder->setText(Temp.path());
    m.StartButtonClick();
    EXPECT_EQ(m.LastRunResult, TCreationRun::TResult::Refused);
    EXPECT_TRUE(Prompts.Messages.last().contains(QStringLiteral("no titles")));
}

TEST_F(CreationRunTest, UncreatableTemporaryFolderIsReported) {
    StartWithTitles({QStringLiteral("a.mp4")});
    const QString blocked = Temp.filePath(QStringLiteral("file-not-folder"));
    QFile f(blocked);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    App->SettingsForm->edTempFolder->setText(blocked + QStringLiteral("/sub"));
    Main().StartButtonClick();
    EXPECT_EQ(Main().LastRunResult, TCreationRun::TResult::Failed);
    EXPECT_EQ(Marks, QStringList{QStringLiteral("Cannot create temporary directory ") + blocked +
                                 QStringLiteral("/sub|CLM_TempDirCreate")});
}
