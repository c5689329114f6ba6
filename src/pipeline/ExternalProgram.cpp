#include "pipeline/ExternalProgram.h"

#include "project/Folders.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

QStringList TExternalResult::LastErrorLines(int count) const {
    QStringList lines = QString::fromLocal8Bit(Errors).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (QString& l : lines)
        l = l.trimmed();
    lines.removeAll(QString());
    return lines.mid(std::max<qsizetype>(0, lines.size() - count));
}

QString FindExternalProgram(const QString& name) {
    const QString bundled = ProgramFolder() + QStringLiteral("apps/") + name;
    if (QFileInfo(bundled).isExecutable())
        return bundled;
    return QStandardPaths::findExecutable(name);
}

TExternalResult RunExternalProgram(const QString& program, const QStringList& arguments, const QString& stdinFile,
                                   const QString& stdoutFile, const QStringList& environment,
                                   const std::atomic<bool>* cancel) {
    TExternalResult r;
    if (program.isEmpty()) {
        r.ErrorText = QStringLiteral("program not found");
        return r;
    }
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& kv : environment)
        env.insert(kv.section(QLatin1Char('='), 0, 0), kv.section(QLatin1Char('='), 1));
    p.setProcessEnvironment(env);
    if (!stdinFile.isEmpty())
        p.setStandardInputFile(stdinFile);
    if (!stdoutFile.isEmpty())
        p.setStandardOutputFile(stdoutFile, QIODevice::Truncate);
    else
        p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program, arguments);
    if (!p.waitForStarted(-1)) {
        r.ErrorText = p.errorString();
        return r;
    }
    r.Started = true;
    while (!p.waitForFinished(200)) {
        r.Errors += p.readAllStandardError();
        if (cancel && cancel->load()) {
            p.kill();
            p.waitForFinished(-1);
            r.ErrorText = QStringLiteral("cancelled");
            break;
        }
    }
    r.Errors += p.readAllStandardError();
    r.Crashed = p.exitStatus() != QProcess::NormalExit;
    r.ExitCode = p.exitCode();
    return r;
}

namespace {
QString ShellQuote(const QString& s) {
    QString q = s;
    q.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + q + QLatin1Char('\'');
}
} // namespace

QString ShellCommandLine(const QString& program, const QStringList& arguments, const QString& stdinFile,
                         const QString& stdoutFile) {
    QStringList parts{ShellQuote(program)};
    for (const QString& a : arguments)
        parts << ShellQuote(a);
    if (!stdinFile.isEmpty())
        parts << QStringLiteral("<") << ShellQuote(stdinFile);
    if (!stdoutFile.isEmpty())
        parts << QStringLiteral(">") << ShellQuote(stdoutFile);
    return parts.join(QLatin1Char(' '));
}

bool WriteCrLfFile(const QString& fileName, const QStringList& lines) {
    QSaveFile f(fileName);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    for (const QString& l : lines) {
        const QByteArray bytes = l.toUtf8() + "\r\n";
        if (f.write(bytes) != bytes.size())
            return false;
    }
    return f.commit();
}

QString XmlAttr(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (QChar c : value) {
        switch (c.unicode()) {
        case '&': out += QStringLiteral("&amp;"); break;
        case '<': out += QStringLiteral("&lt;"); break;
        case '>': out += QStringLiteral("&gt;"); break;
        case '"': out += QStringLiteral("&quot;"); break;
        case '\'': out += QStringLiteral("&apos;"); break;
        default: out += c;
        }
    }
    return out;
}
