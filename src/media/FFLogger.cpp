#include "media/FFLogger.h"

#include <QMetaObject>
#include <atomic>
#include <cstdarg>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

namespace {
std::atomic<TFFLogger*> gLogger{nullptr};
}

TFFLogger::TFFLogger(QObject* parent) : QObject(parent) {
    gLogger.store(this);
    av_log_set_callback(&TFFLogger::Callback);
}

TFFLogger::~TFFLogger() {
    TFFLogger* self = this;
    if (gLogger.compare_exchange_strong(self, nullptr))
        av_log_set_callback(av_log_default_callback);
}

int TFFLogger::LevelOf(int avLevel) {
    if (avLevel <= AV_LOG_QUIET)
        return llQuiet;
    if (avLevel <= AV_LOG_PANIC)
        return llPanic;
    if (avLevel <= AV_LOG_FATAL)
        return llFatal;
    if (avLevel <= AV_LOG_ERROR)
        return llError;
    if (avLevel <= AV_LOG_WARNING)
        return llWarning;
    if (avLevel <= AV_LOG_INFO)
        return llInfo;
    if (avLevel <= AV_LOG_VERBOSE)
        return llVerbose;
    return llDebug;
}

void TFFLogger::Callback(void* avcl, int level, const char* fmt, va_list args) {
    if (level > av_log_get_level())
        return;
    TFFLogger* logger = gLogger.load();
    if (!logger)
        return;
    char line[1024];
    static thread_local int printPrefix = 1;
    va_list copy;
    va_copy(copy, args);
    av_log_format_line2(avcl, level, fmt, copy, line, sizeof line, &printPrefix);
    va_end(copy);
    QString text = QString::fromUtf8(line);
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    if (text.trimmed().isEmpty())
        return;
    const quint64 tid = static_cast<quint64>(gettid());
    const int ours = LevelOf(level);
    QMetaObject::invokeMethod(logger, [logger, tid, text, ours] { emit logger->OnLog(tid, text, ours); },
                              Qt::QueuedConnection);
}
