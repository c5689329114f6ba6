#include "pipeline/WorkFolder.h"

#include <QDir>
#include <QFileInfo>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// "Archive only" of old: make the entry writable for its owner so that it can be deleted.
void ResetAttributes(const QString& path) {
    const QByteArray p = QFile::encodeName(path);
    struct stat st {};
    if (lstat(p.constData(), &st) == 0 && !S_ISLNK(st.st_mode))
        chmod(p.constData(), (st.st_mode & 07777) | S_IRUSR | S_IWUSR | (S_ISDIR(st.st_mode) ? S_IXUSR : 0));
}

} // namespace

bool CleanFolder(const QString& folder, bool resetAttributes, bool stopAtFirstFailure, bool removeFolder) {
    const QFileInfo info(folder);
    if (!info.isDir() || info.isSymLink())
        return false;
    bool result = true;
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo& e : entries) {
        const QString path = e.absoluteFilePath();
        if (e.isDir() && !e.isSymLink()) {
            if (resetAttributes)
                ResetAttributes(path);
            result = CleanFolder(path, resetAttributes, stopAtFirstFailure, true);
        } else {
            // Files, and links of any kind: the entry itself goes, never what a link points to.
            if (resetAttributes)
                ResetAttributes(path);
            result = ::unlink(QFile::encodeName(path).constData()) == 0;
        }
        if (!result && stopAtFirstFailure)
            return false;
    }
    if (result && removeFolder)
        result = QDir().rmdir(folder);
    return result;
}

bool PrepareWorkFolder(const QString& tempFolder, QString* workFolder) {
    if (tempFolder.isEmpty())
        return false;
    if (!QFileInfo(tempFolder).isDir())
        QDir().mkdir(tempFolder);
    if (!QFileInfo(tempFolder).isDir())
        return false;
    const QString base = QDir::cleanPath(tempFolder) + QStringLiteral("/parvenor_temp");
    QDir().mkdir(base);
    CleanFolder(base, true, true, false);
    for (int n = 1; n <= 20; ++n)
        CleanFolder(base + QLatin1Char('/') + QString::number(n), true, true, true);
    for (int n = 1; n <= 20; ++n) {
        const QString candidate = base + QLatin1Char('/') + QString::number(n);
        if (!QFileInfo::exists(candidate) && QDir().mkdir(candidate)) {
            *workFolder = candidate;
            return true;
        }
    }
    // The base folder stands in only when files can be made in it (not on a read-only file
    // system, for one); otherwise the run would fail later, after the user waited for it.
    if (!QFileInfo(base).isDir() || ::access(QFile::encodeName(base).constData(), W_OK) != 0)
        return false;
    *workFolder = base;
    return true;
}

TFreeSpace FreeSpaceOf(const QString& folder) {
    TFreeSpace space;
    if (folder.isEmpty())
        return space;
    QString existing = QFileInfo(folder).absoluteFilePath();
    while (!QFileInfo(existing).isDir() && existing != QStringLiteral("/"))
        existing = QFileInfo(existing).absolutePath();
    struct statvfs fs {};
    if (statvfs(QFile::encodeName(existing).constData(), &fs) != 0)
        return space;
    space.MB = double(fs.f_bavail) * double(fs.f_frsize) / 1024.0 / 1024.0;
    // The mount point: walk up while the device stays the same.
    struct stat st {};
    if (stat(QFile::encodeName(existing).constData(), &st) != 0)
        return space;
    QString mount = QDir(existing).canonicalPath();
    while (mount != QStringLiteral("/")) {
        const QString parent = QFileInfo(mount).absolutePath();
        struct stat pst {};
        if (stat(QFile::encodeName(parent).constData(), &pst) != 0 || pst.st_dev != st.st_dev)
            break;
        mount = parent;
    }
    space.MountPoint = mount;
    return space;
}
