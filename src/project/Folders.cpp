#include "project/Folders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString ProgramFolder() {
    QString dir = QCoreApplication::applicationDirPath();
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

QString DocumentsFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

namespace {
bool DirExists(const QString& path) {
    return QFileInfo(path).isDir();
}
void MakeDir(const QString& path) {
    if (!DirExists(path))
        QDir().mkdir(path); // one level only; a failure is not reported
}
} // namespace

TUserFolders CreateUserDataFolders(const QString& documents) {
    const QString parvenor = documents + QStringLiteral("/Parvenor");
    const QString ordavine = parvenor + QStringLiteral("/Ordavine");
    const QString output = ordavine + QStringLiteral("/Output");
    const QString shots = ordavine + QStringLiteral("/ScreenShots");
    MakeDir(parvenor);
    MakeDir(ordavine);
    MakeDir(output);
    MakeDir(shots);
    TUserFolders folders;
    if (DirExists(shots))
        folders.ScreenShots = shots;
    if (DirExists(output))
        folders.Output = output;
    return folders;
}
