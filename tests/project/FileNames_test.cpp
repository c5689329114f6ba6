// Source files whose names are not valid UTF-8 (a clip copied from an old Latin-1 disk, say).
// Qt's folder listing leaves such a file out, so the open dialog never offers it; a path that
// reaches the title list anyway (dropped, or given on the command line) has been decoded with
// replacement characters and names no file: it is refused with a readable message.
#include "media/FFDecoder.h"
#include "project/TitleList.h"
#include "support/Clips.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>

TEST(FileNames, ClipNamedInLatin1IsRefusedReadably) {
    QTemporaryDir dir;
    const QString made = MakeTestClip(dir.path(), QStringLiteral("clip.mp4"), 1.0);
    ASSERT_FALSE(made.isEmpty());
    const QByteArray raw = QFile::encodeName(dir.path()) + "/caf\xE9 \xFF.mp4";
    ASSERT_EQ(std::rename(QFile::encodeName(made).constData(), raw.constData()), 0);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());

    const QString path = QFile::decodeName(raw);
    TFFDecoder decoder;
    TVideoFile title;
    EXPECT_FALSE(ProbeTitle(decoder, path, title));
    EXPECT_TRUE(decoder.LastErrMsg().contains(QStringLiteral("not found"), Qt::CaseInsensitive))
        << decoder.LastErrMsg().toStdString();
    // The file itself is untouched.
    EXPECT_EQ(std::remove(raw.constData()), 0);
}
