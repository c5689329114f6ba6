#include "pipeline/WorkFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {
void Touch(const QString& path) {
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("x");
}

// A folder nobody can remove: a mount point (needs root; otherwise the test is skipped).
bool Lock(const QString& folder) {
    QDir().mkpath(folder);
    return geteuid() == 0 && ::mount("none", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=64k") == 0;
}
void Unlock(const QString& folder) {
    ::umount2(QFile::encodeName(folder).constData(), MNT_DETACH);
}
} // namespace

TEST(WorkFolder, FreshAndRepeatedRuns) {
    QTemporaryDir root;
    const QString temp = root.filePath(QStringLiteral("missing temp"));
    QString w;
    ASSERT_TRUE(PrepareWorkFolder(temp, &w)); // a missing temporary folder is created
    EXPECT_EQ(w, temp + QStringLiteral("/parvenor_temp/1"));
    Touch(w + QStringLiteral("/title1.mpg"));
    QDir().mkpath(temp + QStringLiteral("/parvenor_temp/7/dvd_out/VIDEO_TS"));
    Touch(temp + QStringLiteral("/parvenor_temp/7/dvd_out/VIDEO_TS/VIDEO_TS.IFO"));
    Touch(temp + QStringLiteral("/parvenor_temp/stray.txt"));
    ASSERT_TRUE(PrepareWorkFolder(temp, &w)); // old folders are cleared
    EXPECT_EQ(w, temp + QStringLiteral("/parvenor_temp/1"));
    EXPECT_TRUE(QDir(w).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(temp + QStringLiteral("/parvenor_temp/7")));
    EXPECT_FALSE(QFileInfo::exists(temp + QStringLiteral("/parvenor_temp/stray.txt")));
    EXPECT_FALSE(PrepareWorkFolder(root.filePath(QStringLiteral("a/b/c")), &w)); // one level only
    EXPECT_FALSE(PrepareWorkFolder(QString(), &w));
}

TEST(WorkFolder, LinksAreRemovedNeverFollowed) {
    QTemporaryDir root;
    QTemporaryDir outside;
    Touch(outside.filePath(QStringLiteral("precious.mov")));
    QDir().mkpath(outside.filePath(QStringLiteral("album")));
    Touch(outside.filePath(QStringLiteral("album/photo.jpg")));
    const QString base = root.filePath(QStringLiteral("parvenor_temp"));
    QDir().mkpath(base + QStringLiteral("/1"));
    QFile::link(outside.path(), base + QStringLiteral("/1/link-to-dir"));
    QFile::link(outside.filePath(QStringLiteral("precious.mov")), base + QStringLiteral("/link-to-file"));
    QFile::link(outside.filePath(QStringLiteral("album")), base + QStringLiteral("/2"));
    QString w;
    ASSERT_TRUE(PrepareWorkFolder(root.path(), &w));
    EXPECT_TRUE(QFileInfo::exists(outside.filePath(QStringLiteral("precious.mov"))));
    EXPECT_TRUE(QFileInfo::exists(outside.filePath(QStringLiteral("album/photo.jpg"))));
    EXPECT_FALSE(QFileInfo(base + QStringLiteral("/link-to-file")).isSymLink());
    EXPECT_FALSE(QFileInfo(base + QStringLiteral("/2")).isSymLink());
    EXPECT_EQ(w, base + QStringLiteral("/1"));
}

TEST(WorkFolder, LockedFolders) {
    QTemporaryDir root;
    const QString base = root.filePath(QStringLiteral("parvenor_temp"));
    if (!Lock(base + QStringLiteral("/1")))
        GTEST_SKIP() << "needs root to make a folder that cannot be removed";
    QString w;
    EXPECT_TRUE(PrepareWorkFolder(root.path(), &w));
    EXPECT_EQ(w, base + QStringLiteral("/2"));
    for (int n = 2; n <= 20; ++n)
        ASSERT_TRUE(Lock(base + QLatin1Char('/') + QString::number(n)));
    EXPECT_TRUE(PrepareWorkFolder(root.path(), &w));
    EXPECT_EQ(w, base); // all twenty taken: the base itself
    for (int n = 1; n <= 20; ++n)
        Unlock(base + QLatin1Char('/') + QString::number(n));
}

TEST(WorkFolder, ReadOnlyFileSystemGivesNoWorkFolder) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to mount a read-only file system";
    QTemporaryDir root;
    // An empty read-only file system: nothing can be created in it.
    const QString empty = root.filePath(QStringLiteral("empty"));
    QDir().mkpath(empty);
    if (::mount("none", QFile::encodeName(empty).constData(), "tmpfs", MS_RDONLY, "size=64k") != 0)
        GTEST_SKIP() << "tmpfs cannot be mounted here";
    QString w = QStringLiteral("unchanged");
    EXPECT_FALSE(PrepareWorkFolder(empty, &w));
    EXPECT_EQ(w, QStringLiteral("unchanged"));
    ::umount2(QFile::encodeName(empty).constData(), MNT_DETACH);

    // Old work folders on a file system that became read-only: they stay as they are, and the
    // base folder is not offered in their place, since nothing could be written into it.
    const QString temp = root.filePath(QStringLiteral("temp"));
    const QString base = temp + QStringLiteral("/parvenor_temp");
    for (int n = 1; n <= 3; ++n) {
        QDir().mkpath(base + QLatin1Char('/') + QString::number(n));
        Touch(base + QLatin1Char('/') + QString::number(n) + QStringLiteral("/title1.mpg"));
    }
    const QByteArray t = QFile::encodeName(temp);
    ASSERT_EQ(::mount(t.constData(), t.constData(), nullptr, MS_BIND, nullptr), 0);
    ASSERT_EQ(::mount(nullptr, t.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
    EXPECT_FALSE(PrepareWorkFolder(temp, &w));
    EXPECT_EQ(w, QStringLiteral("unchanged"));
    ::umount2(t.constData(), MNT_DETACH);
    for (int n = 1; n <= 3; ++n)
        EXPECT_TRUE(QFileInfo::exists(base + QLatin1Char('/') + QString::number(n) + QStringLiteral("/title1.mpg")));
}

TEST(WorkFolder, FreeSpaceNamesTheMountPoint) {
    QTemporaryDir root;
    const TFreeSpace s = FreeSpaceOf(root.filePath(QStringLiteral("not/yet/there")));
    EXPECT_GT(s.MB, 0);
    EXPECT_FALSE(s.MountPoint.isEmpty());
    EXPECT_TRUE(root.path().startsWith(s.MountPoint));
    EXPECT_EQ(FreeSpaceOf(QString()).MB, 0);
}
