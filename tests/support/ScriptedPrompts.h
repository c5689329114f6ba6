#pragma once
// Answers the program's modal questions in tests: dialogs get a scripted result (after an
// optional action that fills their fields), file dialogs return prepared lists, URLs are recorded.
#include "project/UserPrompts.h"

#include <QDialog>
#include "support/QtPrint.h"
#include <QList>
#include <functional>

class TScriptedPrompts : public TUserPrompts {
public:
    TScriptedPrompts() { SetPrompts(this); }
    ~TScriptedPrompts() override { SetPrompts(nullptr); }

    // Called with each dialog shown; returns the dialog's result. Default: Rejected.
    std::function<int(QDialog&)> OnDialog;
    QStringList DialogsShown; // object names, in order
    QMessageBox::StandardButton Answer = QMessageBox::Ok;
    QStringList Messages;
    QList<QStringList> OpenFileAnswers;
    QString DirectoryAnswer;
    QList<QUrl> OpenedUrls;

    int ExecDialog(QDialog& dialog) override {
        DialogsShown << dialog.objectName();
        return OnDialog ? OnDialog(dialog) : int(QDialog::Rejected);
    }
    QMessageBox::StandardButton MessageBox(QWidget*, const QString&, const QString& text, QMessageBox::Icon,
                                           QMessageBox::StandardButtons) override {
        Messages << text;
        return Answer;
    }
    QStringList GetOpenFileNames(QWidget*, const QString&, const QString&, const QString&) override {
        return OpenFileAnswers.isEmpty() ? QStringList() : OpenFileAnswers.takeFirst();
    }
    QString GetExistingDirectory(QWidget*, const QString&, const QString&) override { return DirectoryAnswer; }
    bool OpenUrl(const QUrl& url) override {
        OpenedUrls << url;
        return true;
    }
};
