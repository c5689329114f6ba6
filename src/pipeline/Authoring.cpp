#include "pipeline/Authoring.h"

#include "pipeline/ExternalProgram.h"
#include "project/Estimate.h"

#include <QFileInfo>

QStringList DvdauthorXmlLines(int n, const QString& w, bool withMenu) {
    QStringList l;
    l << QStringLiteral("<dvdauthor dest=\"") + XmlAttr(w + QStringLiteral("/dvd_out")) + QStringLiteral("\">");
    if (withMenu) {
        l << QStringLiteral("<vmgm>") << QStringLiteral("<menus>") << QStringLiteral("<pgc entry=\"title\">")
          << QStringLiteral("<post>jump titleset 1 menu;</post>") << QStringLiteral("</pgc>") << QStringLiteral("</menus>")
          << QStringLiteral("</vmgm>") << QStringLiteral("<titleset>") << QStringLiteral("<menus>")
          << QStringLiteral("<pgc entry=\"root\">");
        for (int i = 1; i <= n; ++i)
            l << QStringLiteral("<button> jump title %1; </button>").arg(i);
        l << QStringLiteral("<vob file=\"") + XmlAttr(w + QStringLiteral("/menu.mpg")) + QStringLiteral("\" pause=\"inf\"/>")
          << QStringLiteral("</pgc>") << QStringLiteral("</menus>") << QStringLiteral("<titles>");
        for (int i = 1; i <= n; ++i)
            l << QStringLiteral("<pgc>")
              << QStringLiteral("<vob file=\"") + XmlAttr(w + QStringLiteral("/title%1.mpg").arg(i)) +
                     QStringLiteral("\"  pause=\"3\"/>")
              << QStringLiteral("<post> call menu; </post>") << QStringLiteral("</pgc>");
    } else {
        // No menus at all: the first-play chain starts title 1; each title jumps on to the next.
        l << QStringLiteral("<vmgm>") << QStringLiteral("<fpc>jump title 1;</fpc>") << QStringLiteral("</vmgm>")
          << QStringLiteral("<titleset>") << QStringLiteral("<titles>");
        for (int i = 1; i <= n; ++i)
            l << QStringLiteral("<pgc>")
              << QStringLiteral("<vob file=\"") + XmlAttr(w + QStringLiteral("/title%1.mpg").arg(i)) + QStringLiteral("\"/>")
              << (i < n ? QStringLiteral("<post> jump title %1; </post>").arg(i + 1) : QStringLiteral("<post> exit; </post>"))
              << QStringLiteral("</pgc>");
    }
    l << QStringLiteral("</titles>") << QStringLiteral("</titleset>") << QStringLiteral("</dvdauthor>");
    return l;
}

int AuthoringTimerInterval(qint64 elapsedMilliseconds) {
    const qint64 totalSeconds = std::max<qint64>(0, elapsedMilliseconds / 1000);
    const qint64 hours = (totalSeconds / 3600) % 24;
    const qint64 s = hours * 3600 + (totalSeconds / 60 % 60) * 60 + totalSeconds % 60;
    return static_cast<int>(RoundHalfEven(double(s) / 3 / 98 * 1000));
}

TStepResult AuthorDvd(const QString& w, int titleCount, bool pal, bool withMenu, const std::atomic<bool>* cancel) {
    TStepResult r;
    const QString xml = w + QStringLiteral("/dvdauthor.xml");
    const QString program = FindExternalProgram(QStringLiteral("dvdauthor"));
    const QString standard = pal ? QStringLiteral("PAL") : QStringLiteral("NTSC");
    const QStringList args{QStringLiteral("-x"), xml};
    if (!WriteCrLfFile(xml, DvdauthorXmlLines(titleCount, w, withMenu)) ||
        !WriteCrLfFile(w + QStringLiteral("/dvdauthor.sh"),
                       {QStringLiteral("#!/bin/sh"),
                        QStringLiteral("VIDEO_FORMAT=%1 ").arg(standard) +
                            ShellCommandLine(program.isEmpty() ? QStringLiteral("dvdauthor") : program, args, {}, {})})) {
        r.Message = QStringLiteral("Cannot write the dvdauthor control files in %1").arg(w);
        return r;
    }
    const TExternalResult run = RunExternalProgram(program, args, {}, {}, {QStringLiteral("VIDEO_FORMAT=") + standard}, cancel);
    r.LogLines = run.LastErrorLines(8);
    if (!run.Started)
        r.Message = QStringLiteral("dvdauthor could not be started: ") + run.ErrorText;
    else if (!run.Ok())
        r.Message = QStringLiteral("dvdauthor failed with exit code %1").arg(run.ExitCode);
    else if (!QFileInfo::exists(w + QStringLiteral("/dvd_out/VIDEO_TS/VIDEO_TS.IFO")))
        r.Message = QStringLiteral("dvdauthor wrote no VIDEO_TS folder");
    else
        r.Ok = true;
    return r;
}
