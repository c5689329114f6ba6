#pragma once
// Delivers the FFmpeg libraries' log messages to the GUI thread, one signal per line.
#include <QObject>
#include <QString>

class TFFLogger : public QObject {
    Q_OBJECT
public:
    // Log levels of the messages: 0 quiet .. 7 debug.
    enum TLogLevel { llQuiet, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug };

    explicit TFFLogger(QObject* parent = nullptr);
    ~TFFLogger() override;

    // Maps an FFmpeg level (AV_LOG_*) to ours.
    static int LevelOf(int avLevel);

signals:
    // Emitted on the thread this object lives on (the GUI thread), whichever thread logged.
    void OnLog(quint64 threadId, const QString& message, int level);

private:
    static void Callback(void* avcl, int level, const char* fmt, va_list args);
};
