#include "project/UserPrompts.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>

int TUserPrompts::ExecDialog(QDialog& dialog) {
    return dialog.exec();
}

QMessageBox::StandardButton TUserPrompts::MessageBox(QWidget* parent, const QString& caption, const QString& text,
                                                     QMessageBox::Icon icon, QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, caption, text, buttons, parent);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QStringList TUserPrompts::GetOpenFileNames(QWidget* parent, const QString& caption, const QString& folder,
                                           const QString& filter) {
    return QFileDialog::getOpenFileNames(parent, caption, folder, filter);
}

QString TUserPrompts::GetExistingDirectory(QWidget* parent, const QString& caption, const QString& folder) {
    return QFileDialog::getExistingDirectory(parent, caption, folder);
}

bool TUserPrompts::OpenUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

namespace {
TUserPrompts gGuiPrompts;
TUserPrompts* gPrompts = nullptr;
} // namespace

TUserPrompts& Prompts() {
    return gPrompts ? *gPrompts : gGuiPrompts;
}

void SetPrompts(TUserPrompts* prompts) {
    gPrompts = prompts;
}
