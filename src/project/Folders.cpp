#include "project/Folders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {
QString gProgramFolder;
}

void SetProgramFolder(const QString& folder) {
    gProgramFolder = folder;
}

QString ProgramFolder() {
    QString dir = gProgramFolder.isEmpty() ? QCoreApplication::applicationDirPath() : gProgramFolder;
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
    // A fresh Linux account may have no documents folder yet; it is the parent of everything here.
    if (!documents.isEmpty())
        QDir().mkpath(documents);
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
