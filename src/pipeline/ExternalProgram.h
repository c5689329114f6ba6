#pragma once
// Runs spumux and dvdauthor: directly as child processes (no shell), with a control file, optional
// standard input and output files, and extra environment; keeps the whole error output.
#include <QString>
#include <QStringList>
#include <atomic>

struct TExternalResult {
    bool Started = false;
    int ExitCode = -1;
    bool Crashed = false;
    QString ErrorText; // why it could not be started
    QByteArray Errors; // everything the program wrote on its error output
    bool Ok() const { return Started && !Crashed && ExitCode == 0; }
    // The last lines of the error output, for the events log.
    QStringList LastErrorLines(int count) const;
};

// The program's path: <program folder>/apps/<name> when present, else the first on PATH; empty
// when it is nowhere.
QString FindExternalProgram(const QString& name);

// A set `cancel` kills the program (the run was cancelled).
TExternalResult RunExternalProgram(const QString& program, const QStringList& arguments, const QString& stdinFile,
                                   const QString& stdoutFile, const QStringList& environment,
                                   const std::atomic<bool>* cancel = nullptr);

// A line of a shell script with the arguments quoted for the shell.
QString ShellCommandLine(const QString& program, const QStringList& arguments, const QString& stdinFile,
                         const QString& stdoutFile);

// Writes lines with CR LF ends, in UTF-8; false when the file cannot be written completely.
bool WriteCrLfFile(const QString& fileName, const QStringList& lines);

// XML attribute value: & < > " ' escaped.
QString XmlAttr(const QString& value);
