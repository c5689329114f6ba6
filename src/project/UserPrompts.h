#pragma once
// Every modal question, dialog and shell request of the program goes through this interface so
// that tests (and the command line) can answer without a screen.
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QUrl>

class QDialog;
class QWidget;

class TUserPrompts {
public:
    virtual ~TUserPrompts() = default;
    // Shows a dialog modally and returns its result (QDialog::Accepted / Rejected).
    virtual int ExecDialog(QDialog& dialog);
    virtual QMessageBox::StandardButton MessageBox(QWidget* parent, const QString& caption, const QString& text,
                                                   QMessageBox::Icon icon, QMessageBox::StandardButtons buttons);
    virtual QStringList GetOpenFileNames(QWidget* parent, const QString& caption, const QString& folder,
                                         const QString& filter);
    virtual QString GetExistingDirectory(QWidget* parent, const QString& caption, const QString& folder);
    virtual bool OpenUrl(const QUrl& url);
};

// The prompts in use; the GUI implementation unless a test or the command line installed another.
TUserPrompts& Prompts();
// Installs prompts (nullptr restores the GUI ones). The caller keeps ownership.
void SetPrompts(TUserPrompts* prompts);
