#include "support/Clips.h"

#include <QProcess>
#include <QProcessEnvironment>

TProcessResult RunProcess(const QString& program, const QStringList& args, int timeoutMs,
                          const QStringList& extraEnv) {
    TProcessResult r;
    QProcess p;
    if (!extraEnv.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& kv : extraEnv)
            env.insert(kv.section(QLatin1Char('='), 0, 0), kv.section(QLatin1Char('='), 1));
        p.setProcessEnvironment(env);
    }
    p.start(program, args);
    r.Started = p.waitForStarted(10000);
    if (!r.Started)
        return r;
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
    }
    r.ExitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.Out = p.readAllStandardOutput();
    r.Err = p.readAllStandardError();
    return r;
}

QString MakeClip(const QString& dir, const QString& name, const QStringList& args) {
    const QString path = dir + QLatin1Char('/') + name;
    QStringList all{QStringLiteral("-y"), QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error")};
    all << args << path;
    const TProcessResult r = RunProcess(QStringLiteral("ffmpeg"), all);
    if (!r.Ok()) {
        qWarning("ffmpeg failed for %s: %s", qPrintable(name), r.Err.constData());
        return QString();
    }
    return path;
}

QString MakeTestClip(const QString& dir, const QString& name, double seconds, int width, int height,
                     const QString& rate, const QStringList& outputArgs) {
    QStringList args{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                     QStringLiteral("testsrc=size=%1x%2:rate=%3:duration=%4").arg(width).arg(height).arg(rate).arg(seconds),
                     QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                     QStringLiteral("sine=frequency=440:sample_rate=48000:duration=%1").arg(seconds)};
    args << outputArgs;
    return MakeClip(dir, name, args);
}
