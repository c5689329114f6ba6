#pragma once
// The events log: a window of action history lines that the program's operations append to.
#include <QDialog>
#include <QStringList>

class QPlainTextEdit;

class TLogForm : public QDialog {
    Q_OBJECT
public:
    explicit TLogForm(QWidget* parent = nullptr);

    // Appends one whole line. Safe from any thread: the line is added on the GUI thread and the
    // caller waits, so lines keep their order relative to error reports.
    void AppendLine(const QString& line);
    QStringList Lines() const { return FLines; }

    QPlainTextEdit* mmoLog = nullptr;

signals:
    void LineAppended(const QString& line);

private:
    QStringList FLines;
};

// The program's events log (installed at start-up); nullptr before that.
TLogForm* EventsLog();
void SetEventsLog(TLogForm* log);
// Appends a line to the installed events log; without one the line goes to stderr.
void AppendEventsLog(const QString& line);
