#include "pipeline/Authoring.h"
#include "pipeline/CreationRun.h"
#include "pipeline/ExternalProgram.h"
#include "pipeline/Subpictures.h"
#include "project/Settings.h"
#include "support/AppFixture.h"
#include "support/Clips.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QRegularExpression>
#include <dvdnav/dvdnav.h>
#include <set>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

QByteArray Expected(const QStringList& lines) {
    QByteArray out;
    for (const QString& l : lines)
        out += l.toUtf8() + "\r\n";
    return out;
}

} // namespace

TEST(ControlFiles, SpumuxXmlEscapesTheWorkFolder) {
    QTemporaryDir root;
    const QString w = root.filePath(QStringLiteral("My \"DVD\" & <Co>/1"));
    ASSERT_TRUE(QDir().mkpath(w));
    ASSERT_TRUE(WriteCrLfFile(w + QStringLiteral("/spumux.xml"), SpumuxXmlLines(w)));
    const QString e = root.path() + QStringLiteral("/My &quot;DVD&quot; &amp; &lt;Co&gt;/1");
    EXPECT_EQ(ReadAll(w + QStringLiteral("/spumux.xml")),
              Expected({QStringLiteral("<subpictures>"), QStringLiteral("<stream>"), QStringLiteral("<spu"),
                        QStringLiteral("force=\"yes\""), QStringLiteral("start=\"00:00:00.00\""),
                        QStringLiteral("image=\"") + e + QStringLiteral("/normal.png\""),
                        QStringLiteral("select=\"") + e + QStringLiteral("/selected.png\""),
                        QStringLiteral("highlight=\"") + e + QStringLiteral("/active.png\""),
                        QStringLiteral("autooutline=\"infer\""), QStringLiteral("autoorder=\"rows\""),
                        QStringLiteral("outlinewidth=\"30\">"), QStringLiteral("</spu>"), QStringLiteral("</stream>"),
                        QStringLiteral("</subpictures>")}));
}

TEST(ControlFiles, DvdauthorXmlForOneTwoAndTwelveTitles) {
    const QString w = QStringLiteral("/tmp/a b/1");
    const QStringList one = DvdauthorXmlLines(1, w, true);
    EXPECT_EQ(one.size(), 23);
    EXPECT_EQ(one, (QStringList{QStringLiteral("<dvdauthor dest=\"/tmp/a b/1/dvd_out\">"), QStringLiteral("<vmgm>"),
                                QStringLiteral("<menus>"), QStringLiteral("<pgc entry=\"title\">"),
                                QStringLiteral("<post>jump titleset 1 menu;</post>"), QStringLiteral("</pgc>"),
                                QStringLiteral("</menus>"), QStringLiteral("</vmgm>"), QStringLiteral("<titleset>"),
                                QStringLiteral("<menus>"), QStringLiteral("<pgc entry=\"root\">"),
                                QStringLiteral("<button> jump title 1; </button>"),
                                QStringLiteral("<vob file=\"/tmp/a b/1/menu.mpg\" pause=\"inf\"/>"), QStringLiteral("</pgc>"),
                                QStringLiteral("</menus>"), QStringLiteral("<titles>"), QStringLiteral("<pgc>"),
                                QStringLiteral("<vob file=\"/tmp/a b/1/title1.mpg\"  pause=\"3\"/>"),
                                QStringLiteral("<post> call menu; </post>"), QStringLiteral("</pgc>"),
                                QStringLiteral("</titles>"), QStringLiteral("</titleset>"), QStringLiteral("</dvdauthor>")}));
    EXPECT_EQ(DvdauthorXmlLines(2, w, true).size(), 28);
    const QStringList twelve = DvdauthorXmlLines(12, w, true);
    EXPECT_EQ(twelve.size(), 11 + 12 + 4 + 12 * 4 + 3);
    EXPECT_EQ(twelve[11 + 11], QStringLiteral("<button> jump title 12; </button>"));
    EXPECT_TRUE(twelve.contains(QStringLiteral("<vob file=\"/tmp/a b/1/title12.mpg\"  pause=\"3\"/>")));
    EXPECT_FALSE(twelve.join(QString()).contains(QStringLiteral("title01")));
    // Without a menu: the disc starts title 1 and each title plays on into the next.
    const QStringList plain = DvdauthorXmlLines(2, w, false);
    EXPECT_EQ(plain, (QStringList{QStringLiteral("<dvdauthor dest=\"/tmp/a b/1/dvd_out\">"), QStringLiteral("<vmgm>"),
                                  QStringLiteral("<fpc>jump title 1;</fpc>"), QStringLiteral("</vmgm>"),
                                  QStringLiteral("<titleset>"), QStringLiteral("<titles>"), QStringLiteral("<pgc>"),
                                  QStringLiteral("<vob file=\"/tmp/a b/1/title1.mpg\"/>"),
                                  QStringLiteral("<post> jump title 2; </post>"), QStringLiteral("</pgc>"),
                                  QStringLiteral("<pgc>"), QStringLiteral("<vob file=\"/tmp/a b/1/title2.mpg\"/>"),
                                  QStringLiteral("<post> exit; </post>"), QStringLiteral("</pgc>"),
                                  QStringLiteral("</titles>"), QStringLiteral("</titleset>"), QStringLiteral("</dvdauthor>")}));
}

TEST(HighlightPictures, GeometryPaletteAndTransparency) {
    for (const auto& [height, labels] : {std::pair<int, QStringList>{576, {QStringLiteral("Holiday")}},
                                         {480, {QStringLiteral("One"), QString(), QStringLiteral("Three")}}}) {
        QImage map(720, height, QImage::Format_Indexed8);
        map.setColorTable({qRgba(255, 255, 255, 0), qRgb(0, 0, 255)});
        map.fill(0);
        const QImage pic = DrawHighlightPicture(map, QStringLiteral("Arial"), 28, labels);
        ASSERT_FALSE(pic.isNull());
        EXPECT_EQ(pic.size(), map.size());
        EXPECT_EQ(pic.format(), QImage::Format_Indexed8);
        EXPECT_EQ(pic.colorTable(), map.colorTable());
        // Ink only inside each label's band, left edge near x = 100, nothing for an empty name.
        const int n = static_cast<int>(labels.size());
        for (int i = 1; i <= n; ++i) {
            const int top = HighlightLabelTop(height, n, i);
            int ink = 0, minX = 720;
            for (int y = top; y < top + 45 && y < height; ++y)
                for (int x = 0; x < 720; ++x)
                    if (pic.pixelIndex(x, y) == 1) {
                        ++ink;
                        minX = std::min(minX, x);
                    }
            if (labels[i - 1].isEmpty()) {
                EXPECT_EQ(ink, 0);
            } else {
                EXPECT_GT(ink, 50);
                EXPECT_GE(minX, 100);
                EXPECT_LE(minX, 106);
            }
        }
        int above = 0; // nothing above the first label
        for (int y = 0; y < HighlightLabelTop(height, n, 1); ++y)
            for (int x = 0; x < 720; ++x)
                above += pic.pixelIndex(x, y);
        EXPECT_EQ(above, 0);
    }
    // Saved as PNG it keeps the palette and transparent white.
    QTemporaryDir dir;
    QImage map(720, 576, QImage::Format_Indexed8);
    map.setColorTable({qRgb(255, 255, 255), qRgb(255, 0, 0)});
    map.fill(0);
    const QImage pic = DrawHighlightPicture(map, QStringLiteral("Arial"), 28, {QStringLiteral("A")});
    ASSERT_TRUE(pic.save(dir.filePath(QStringLiteral("p.png"))));
    const QImage back(dir.filePath(QStringLiteral("p.png")));
    EXPECT_EQ(back.format(), QImage::Format_Indexed8);
    EXPECT_EQ(qAlpha(back.color(0)), 0);
    EXPECT_EQ(back.color(1), qRgb(255, 0, 0));
    EXPECT_TRUE(DrawHighlightPicture(QImage(), QStringLiteral("Arial"), 28, {QStringLiteral("A")}).isNull());
}

namespace {

// Plays an authored folder with libdvdnav the way a player does.
class TNavigator {
public:
    explicit TNavigator(const QString& folder) {
        Ok = dvdnav_open(&Nav, QFile::encodeName(folder).constData()) == DVDNAV_STATUS_OK;
        if (Ok)
            dvdnav_set_PGC_positioning_flag(Nav, 1);
    }
    ~TNavigator() {
        if (Nav)
            dvdnav_close(Nav);
    }
    // Reads until the menu's still frame; returns the number of buttons it offers (-1: none).
    int RunToMenu() {
        for (int guard = 0; guard < 200000; ++guard) {
            int event = 0, len = 0;
            if (dvdnav_get_next_block(Nav, Buf, &event, &len) != DVDNAV_STATUS_OK)
                return -1;
            if (event == DVDNAV_STILL_FRAME) {
                if (dvdnav_is_domain_vtsm(Nav)) {
                    pci_t* pci = dvdnav_get_current_nav_pci(Nav);
                    return pci ? pci->hli.hl_gi.btn_ns : -1;
                }
                dvdnav_still_skip(Nav);
            } else if (event == DVDNAV_WAIT) {
                dvdnav_wait_skip(Nav);
            } else if (event == DVDNAV_STOP) {
                return -1;
            } else if (event == DVDNAV_NAV_PACKET && dvdnav_is_domain_vts(Nav)) {
                int32_t title = 0, part = 0;
                dvdnav_current_title_info(Nav, &title, &part);
                TitlesSeen.insert(title);
            }
        }
        return -1;
    }
    bool Activate(int button) {
        pci_t* pci = dvdnav_get_current_nav_pci(Nav);
        return pci && dvdnav_button_select_and_activate(Nav, pci, button) == DVDNAV_STATUS_OK;
    }
    // Reads until the first picture of a title; returns its number (-1: none).
    int RunToTitle() {
        for (int guard = 0; guard < 200000; ++guard) {
            int event = 0, len = 0;
            if (dvdnav_get_next_block(Nav, Buf, &event, &len) != DVDNAV_STATUS_OK || event == DVDNAV_STOP)
                return -1;
            if (event == DVDNAV_STILL_FRAME)
                dvdnav_still_skip(Nav);
            if (event == DVDNAV_WAIT)
                dvdnav_wait_skip(Nav);
            if (event == DVDNAV_NAV_PACKET && dvdnav_is_domain_vts(Nav)) {
                int32_t title = 0, part = 0;
                dvdnav_current_title_info(Nav, &title, &part);
                return title;
            }
        }
        return -1;
    }
    bool Ok = false;
    dvdnav_t* Nav = nullptr;
    std::set<int> TitlesSeen;

private:
    uint8_t Buf[DVD_VIDEO_LB_LEN];
};

} // namespace

class AuthoredDiscTest : public TAppFixture {
protected:
    QTemporaryDir Clips;
    QTemporaryDir Temp;

    void Prepare(int titles, bool skipMenu) {
        Start();
        App->SettingsForm->cmbNormType->setCurrentIndex(1);
        App->SettingsForm->edTempFolder->setText(Temp.path());
        App->SettingsForm->cbSkipMenu->setChecked(skipMenu);
        QStringList files;
        for (int i = 1; i <= titles; ++i)
            files << MakeTestClip(Clips.path(), QStringLiteral("t%1.mp4").arg(i), 1.0 + i * 0.5, 320, 240);
        Main().AddFilesFromOutside(files);
    }

    // A stand-in program in Bin: a shell script with the given body.
    void WriteProgram(const QString& name, const QByteArray& body) {
        QFile script(Bin.filePath(name));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n" + body);
        script.close();
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::WriteOwner);
    }
    void LinkRealDvdauthor() {
        QFile::link(QStringLiteral("/usr/bin/dvdauthor"), Bin.filePath(QStringLiteral("dvdauthor")));
    }
    // Starts the run with Bin as the whole PATH.
    void StartWithOnlyBinOnPath() {
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", Bin.path().toUtf8());
        Main().StartButtonClick();
        qputenv("PATH", path);
    }

    QTemporaryDir Bin;
};

TEST_F(AuthoredDiscTest, MenuButtonsLeadToTheirTitlesAndBack) {
    Prepare(3, false);
    Main().StartButtonClick();
    ASSERT_EQ(Main().LastRunResult, TCreationRun::TResult::Succeeded) << Marks.join(QLatin1Char('\n')).toStdString();
    const QString dvd = Main().LastWorkFolder + QStringLiteral("/dvd_out");
    const TProcessResult ls = RunProcess(QStringLiteral("lsdvd"), {dvd});
    const QString listing = QString::fromUtf8(ls.Out);
    // Titles in list order with their lengths, within one frame.
    const QRegularExpression re(QStringLiteral("(?:^|\\n)Title: (\\d+), Length: 00:00:(\\d+\\.\\d+)"));
    QList<double> lengths;
    for (auto it = re.globalMatch(listing); it.hasNext();)
        lengths << it.next().captured(2).toDouble();
    ASSERT_EQ(lengths.size(), 3) << listing.toStdString();
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(lengths[i], 1.0 + (i + 1) * 0.5, 0.041) << listing.toStdString();

    TNavigator nav(dvd);
    ASSERT_TRUE(nav.Ok);
    ASSERT_EQ(nav.RunToMenu(), 3);
    ASSERT_TRUE(nav.Activate(2));
    EXPECT_EQ(nav.RunToTitle(), 2);
    EXPECT_EQ(nav.RunToMenu(), 3) << "the title returns to the menu";
}

TEST_F(AuthoredDiscTest, WithoutMenuTheDiscStartsTitleOne) {
    Prepare(2, true);
    Main().StartButtonClick();
    ASSERT_EQ(Main().LastRunResult, TCreationRun::TResult::Succeeded);
    TNavigator nav(Main().LastWorkFolder + QStringLiteral("/dvd_out"));
    ASSERT_TRUE(nav.Ok);
    EXPECT_EQ(nav.RunToTitle(), 1);
}

TEST_F(AuthoredDiscTest, MissingSpumuxEndsTheRunWithItsReport) {
    Prepare(1, false);
    // A PATH with dvdauthor but without spumux.
    LinkRealDvdauthor();
    StartWithOnlyBinOnPath();
    EXPECT_EQ(Main().LastRunResult, TCreationRun::TResult::Failed);
    EXPECT_EQ(Marks, QStringList{QStringLiteral("Error creating DVD Menu|CLM_spumux")});
    EXPECT_TRUE(LogLines().join(QLatin1Char('\n')).contains(QStringLiteral("spumux could not be started")));
    EXPECT_FALSE(QFileInfo::exists(Main().LastWorkFolder + QStringLiteral("/dvd_out")));
}

TEST_F(AuthoredDiscTest, FailingDvdauthorEndsTheRunWithItsReport) {
    Prepare(1, true);
    // A dvdauthor that fails the way a broken one does: error output and a non-zero exit.
    ASSERT_NO_FATAL_FAILURE(WriteProgram(QStringLiteral("dvdauthor"), "echo 'ERR: no space left on device' >&2\nexit 1\n"));
    StartWithOnlyBinOnPath();
    EXPECT_EQ(Main().LastRunResult, TCreationRun::TResult::Failed);
    EXPECT_EQ(Marks, QStringList{QStringLiteral("Building DVD structure|CLM_dvdauthor")});
    EXPECT_TRUE(LogLines().contains(QStringLiteral("ERR: no space left on device")));
}

TEST_F(AuthoredDiscTest, KilledSpumuxEndsTheRunWithItsReport) {
    Prepare(1, false);
    // A spumux killed while it runs (by the user, or by the system short of memory).
    LinkRealDvdauthor();
    ASSERT_NO_FATAL_FAILURE(WriteProgram(QStringLiteral("spumux"), "kill -KILL $$\n"));
    StartWithOnlyBinOnPath();
    EXPECT_EQ(Main().LastRunResult, TCreationRun::TResult::Failed);
    EXPECT_EQ(Marks, QStringList{QStringLiteral("Error creating DVD Menu|CLM_spumux")});
    EXPECT_FALSE(QFileInfo::exists(Main().LastWorkFolder + QStringLiteral("/dvd_out")));
}

TEST_F(AuthoredDiscTest, MissingDvdauthorEndsTheRunWithItsReport) {
    Prepare(1, true);
    // A PATH without dvdauthor (and so without spumux, which a run without a menu does not need).
    StartWithOnlyBinOnPath();
    EXPECT_EQ(Main().LastRunResult, TCreationRun::TResult::Failed);
    EXPECT_EQ(Marks, QStringList{QStringLiteral("Building DVD structure|CLM_dvdauthor")});
    EXPECT_TRUE(LogLines().join(QLatin1Char('\n')).contains(QStringLiteral("dvdauthor could not be started")));
    // The converted title stays in the work folder, with the script to author it by hand.
    EXPECT_TRUE(QFileInfo::exists(Main().LastWorkFolder + QStringLiteral("/title1.mpg")));
    EXPECT_TRUE(QFileInfo::exists(Main().LastWorkFolder + QStringLiteral("/dvdauthor.sh")));
    EXPECT_FALSE(QFileInfo::exists(Main().LastWorkFolder + QStringLiteral("/dvd_out/VIDEO_TS/VIDEO_TS.IFO")));
}
