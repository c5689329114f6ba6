#pragma once
// The program-wide error reporter: an error dialog, and on "Send" a mailed report carrying the
// media library's log lines and the events log; a mail link when mailing fails.
#include "project/Endpoints.h"
#include <QDialog>
#include <QObject>
#include <QStringList>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TLogForm;

class TErrorForm : public QDialog {
    Q_OBJECT
public:
    explicit TErrorForm(QWidget* parent = nullptr);

    QLabel* lblErrorText = nullptr;
    QLineEdit* edName = nullptr;
    QLineEdit* edEmail = nullptr;
    QPlainTextEdit* memDetails = nullptr;
    QPushButton* SendButton = nullptr;
    QPushButton* CancelButton = nullptr;
};

class TErrorReporter : public QObject {
    Q_OBJECT
public:
    TErrorReporter(TLogForm& log, TErrorForm& form, const TEndpoints& endpoints, QObject* parent = nullptr);

    // Shows the report dialog and, on "Send", mails the report. From another thread the report
    // runs on the GUI thread while the caller waits.
    void Report(const QString& message, const QString& codeLineMark);

    // One line of the media libraries' log ("#<thread>.<level>: <text>").
    void FFLoggerLog(quint64 threadId, const QString& text, int level);

    QStringList LoggerHistory;
    TEndpoints Endpoints;

signals:
    // Raised on the GUI thread as each report begins (the command line prints it).
    void OnReport(const QString& message, const QString& codeLineMark);

public:
    static QString MailSubject() { return QStringLiteral("ERROR REPORT | Ordavine"); }
    // The mail link used when mailing fails; subject and body are percent-encoded so that '&',
    // '#', '?' and line breaks in the report cannot break the link.
    QUrl MailLink(const QString& message, const QString& codeLineMark) const;

private:
    void ReportOnGuiThread(const QString& message, const QString& codeLineMark);

    TLogForm& FLog;
    TErrorForm& FForm;
};

TErrorReporter* ErrorReporter();
void SetErrorReporter(TErrorReporter* reporter);

// Reports a failure through the installed reporter (stderr before start-up has installed one).
void ReportError(const QString& message, const QString& codeLineMark);
