#include "editing/EditingCommon.h"
#include "media/FFPlayer.h"
#include "project/ErrorReport.h"
#include "project/EventsLog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QThread>

TEditingSinks::TEditingSinks()
    : ReportError([](const QString& m, const QString& c) { ::ReportError(m, c); }),
      AppendEventsLog([](const QString& l) { ::AppendEventsLog(l); }) {}

bool PrimaryMouseButtonDown() {
    // Qt reports the buttons as the window system maps them, so a user who swapped the
    // buttons presses the logical left one here too.
    return QGuiApplication::mouseButtons() & Qt::LeftButton;
}

void WaitForSeekEnd(TFFPlayer& player, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (player.Seeking() && timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}
