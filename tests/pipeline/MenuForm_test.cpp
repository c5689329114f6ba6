#include "pipeline/MenuForm.h"
#include "project/Folders.h"
#include "support/AppFixture.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontComboBox>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

// A program folder of our own: four colour maps and three backgrounds.
class MenuFormTest : public TAppFixture {
protected:
    QTemporaryDir Program;
    QString Backgrounds;

    void SetUp() override {
        TAppFixture::SetUp();
        const QString p = Program.path() + QLatin1Char('/');
        for (const char* sub : {"common-data", "menu-backgrounds", "png-colormaps/pal", "png-colormaps/ntsc"})
            QDir().mkpath(p + QLatin1String(sub));
        for (const char* c : {"black", "blue", "red", "white"}) {
            QImage map(720, 576, QImage::Format_Indexed8);
            map.setColorTable({qRgba(255, 255, 255, 0), ColorOfName(QLatin1String(c)).rgb()});
            map.fill(0);
            map.save(p + QStringLiteral("png-colormaps/pal/%1.png").arg(QLatin1String(c)));
        }
        Backgrounds = p + QStringLiteral("menu-backgrounds/");
        for (const char* b : {"Alpha.jpg", "Beta.jpg", "Gamma.jpg"}) {
            QImage img(64, 48, QImage::Format_RGB32);
            img.fill(Qt::darkCyan);
            img.save(Backgrounds + QLatin1String(b));
        }
        SetProgramFolder(p);
        Start();
    }
};

TEST_F(MenuFormTest, ListsAndDefaults) {
    TMenuForm& f = *App->MenuForm;
    for (QComboBox* c : {f.cmbColorBoxNormal, f.cmbColorBoxActive, f.cmbColorBoxSelected}) {
        QStringList items;
        for (int i = 0; i < c->count(); ++i)
            items << c->itemText(i);
        EXPECT_EQ(items, (QStringList{QStringLiteral("Black"), QStringLiteral("Red"), QStringLiteral("Blue"), QStringLiteral("White")}));
    }
    EXPECT_EQ(f.lbMenuBackgrounds->count(), 3);
    EXPECT_EQ(f.lbMenuBackgrounds->item(0)->text(), QStringLiteral("Alpha.jpg"));
    f.Prepare(Main().VideoFiles);
    EXPECT_EQ(f.cmbColorBoxNormal->currentText(), QStringLiteral("Black"));
    EXPECT_EQ(f.cmbColorBoxActive->currentText(), QStringLiteral("Blue"));
    EXPECT_EQ(f.cmbColorBoxSelected->currentText(), QStringLiteral("Red"));
    EXPECT_EQ(f.cmbFontSize->currentText(), QStringLiteral("28"));
    EXPECT_EQ(f.edBackgroundFile->text(), Backgrounds + QStringLiteral("Alpha.jpg"));
    EXPECT_FALSE(f.cmbFontName->currentFont().family().isEmpty());
}

TEST_F(MenuFormTest, OkCancelAndBadSize) {
    TMainForm& m = Main();
    TVideoFile t;
    t.DestinationTitle = QStringLiteral("One");
    m.VideoFiles << t;
    // Cancel after changing colours: the design stays, and the preview shows its colours again.
    Prompts.OnDialog = [](QDialog& d) {
        d.findChild<QComboBox*>(QStringLiteral("cmbColorBoxNormal"))->setCurrentText(QStringLiteral("White"));
        return int(QDialog::Rejected);
    };
    m.DVDMenu1Click();
    EXPECT_EQ(m.MenuSettings.ColorName[0], QStringLiteral("black"));
    EXPECT_EQ(m.MenuColors[0], QColor(Qt::black));

    // A size that is not a number: the colours are taken, size and background not; the dialog stays.
    TMenuForm& f = *App->MenuForm;
    f.Prepare(m.VideoFiles);
    f.cmbColorBoxActive->setCurrentText(QStringLiteral("White"));
    f.cmbFontSize->setCurrentText(QStringLiteral("big"));
    f.lbMenuBackgrounds->setCurrentRow(2);
    emit f.lbMenuBackgrounds->itemClicked(f.lbMenuBackgrounds->item(2));
    f.show();
    f.OKButton->click();
    EXPECT_TRUE(f.isVisible());
    EXPECT_EQ(Prompts.Messages.last(), QStringLiteral("'big' is not a valid integer value"));
    EXPECT_EQ(m.MenuSettings.ColorName[1], QStringLiteral("White"));
    EXPECT_EQ(m.MenuSettings.FontSize, 28);
    EXPECT_EQ(m.MenuSettings.BackgroundImage, Backgrounds + QStringLiteral("Alpha.jpg"));
    // Then OK with a good size takes the rest.
    f.cmbFontSize->setCurrentText(QStringLiteral("36"));
    f.OKButton->click();
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(m.MenuSettings.FontSize, 36);
    EXPECT_EQ(m.MenuSettings.BackgroundImage, Backgrounds + QStringLiteral("Gamma.jpg"));
    m.UpdateMenuPreview();
    EXPECT_EQ(m.lblTheme->text(), QStringLiteral("Theme: Gamma"));
    ASSERT_EQ(m.MenuPreview.Labels().size(), 1);
    EXPECT_EQ(m.MenuPreview.Labels()[0]->Active, QColor(Qt::white));
}

TEST_F(MenuFormTest, BackgroundArrowsWithoutWrapAround) {
    TMainForm& m = Main();
    EXPECT_TRUE(m.MenuSettings.BackgroundImage.endsWith(QStringLiteral("Alpha.jpg")));
    m.PrevBackgroundButtonClick(); // the first: nothing changes
    EXPECT_TRUE(m.MenuSettings.BackgroundImage.endsWith(QStringLiteral("Alpha.jpg")));
    m.NextBackgroundButtonClick();
    m.NextBackgroundButtonClick();
    EXPECT_EQ(m.MenuSettings.BackgroundImage, Backgrounds + QStringLiteral("Gamma.jpg"));
    m.NextBackgroundButtonClick(); // the last: nothing changes
    EXPECT_EQ(m.MenuSettings.BackgroundImage, Backgrounds + QStringLiteral("Gamma.jpg"));
    EXPECT_EQ(m.lblTheme->text(), QStringLiteral("Theme: Gamma"));
    // A background of the user's own: either arrow picks the first ready-made one.
    m.MenuSettings.BackgroundImage = Home.path() + QStringLiteral("/mine.jpg");
    m.PrevBackgroundButtonClick();
    EXPECT_EQ(m.MenuSettings.BackgroundImage, Backgrounds + QStringLiteral("Alpha.jpg"));
}

TEST(MenuPreviewGeometry, LabelsAndFontSizes) {
    EXPECT_EQ(MenuLabelTop(72, 3, 1), 18);
    EXPECT_EQ(MenuLabelTop(72, 3, 2), 36);
    EXPECT_EQ(MenuLabelTop(72, 3, 3), 54);
    EXPECT_EQ(MenuLabelFontSize(28, 120), 5);
    EXPECT_EQ(MenuLabelFontSize(28, 379), 15);
}
