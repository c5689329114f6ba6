#include "media/FFLogger.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

// Messages logged on any thread reach the logger's own (GUI) thread, one line each, with the
// logging thread's id and our level numbers.
TEST(Logger, DeliversLibraryMessagesOnItsOwnThread) {
    TFFLogger logger;
    struct TLine {
        quint64 Tid;
        QString Text;
        int Level;
        QThread* Thread;
    };
    QList<TLine> lines;
    QObject::connect(&logger, &TFFLogger::OnLog, [&lines](quint64 tid, const QString& text, int level) {
        lines << TLine{tid, text, level, QThread::currentThread()};
    });
    quint64 workerTid = 0;
    QThread* worker = QThread::create([&workerTid] {
        workerTid = static_cast<quint64>(gettid());
        av_log(nullptr, AV_LOG_ERROR, "first %d\n", 1);
        av_log(nullptr, AV_LOG_WARNING, "second\n");
        av_log(nullptr, AV_LOG_DEBUG, "below the log level\n");
    });
    worker->start();
    worker->wait();
    delete worker;
    for (int i = 0; i < 50 && lines.size() < 2; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0].Text, QStringLiteral("first 1"));
    EXPECT_EQ(lines[0].Level, TFFLogger::llError);
    EXPECT_EQ(lines[1].Level, TFFLogger::llWarning);
    EXPECT_EQ(lines[0].Tid, workerTid);
    EXPECT_EQ(lines[0].Thread, QThread::currentThread());
    EXPECT_EQ(TFFLogger::LevelOf(AV_LOG_PANIC), TFFLogger::llPanic);
    EXPECT_EQ(TFFLogger::LevelOf(AV_LOG_QUIET), TFFLogger::llQuiet);
    EXPECT_EQ(TFFLogger::LevelOf(AV_LOG_TRACE), TFFLogger::llDebug);
}
