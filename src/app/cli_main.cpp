#include "app/CommandLine.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv) {
    // The menu is drawn with Qt's painter and fonts; no window is ever shown.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Parvenor"));
    QApplication::setApplicationName(QStringLiteral("Ordavine"));
    TCliJob job;
    QString error;
    if (!ParseCommandLine(QApplication::arguments().mid(1), job, &error)) {
        std::fprintf(stderr, "ordavine-cli: %s\nTry ordavine-cli --help.\n", error.toLocal8Bit().constData());
        return ceUsage;
    }
    if (job.Help) {
        std::fputs(CliUsage().toLocal8Bit().constData(), stdout);
        return ceOk;
    }
    if (job.Version) {
        std::printf("ordavine-cli %s\n", ORDAVINE_VERSION);
        return ceOk;
    }
    if (job.Titles.isEmpty() && !job.ListDrives && !job.Help) {
        std::fputs(CliUsage().toLocal8Bit().constData(), stderr);
        return ceUsage;
    }
    return RunCommandLine(job, stdout, stderr);
}
