// Probing speed: 200 generated files of mixed formats added through our decoder, against one
// `ffprobe` run per file on the same files.
// Last line: probe_speedup=<ffprobe time / our time>
#include "media/FFDecoder.h"
#include "project/TitleList.h"
#include "support/Clips.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const int count = argc > 1 ? std::atoi(argv[1]) : 200;
    struct TKind {
        const char* Ext;
        QStringList Args;
    };
    const QList<TKind> kinds = {
        {"mp4", {QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-preset"), QStringLiteral("ultrafast")}},
        {"mkv", {QStringLiteral("-c:v"), QStringLiteral("mpeg4")}},
        {"avi", {QStringLiteral("-c:v"), QStringLiteral("mpeg4")}},
        {"mpg", {QStringLiteral("-c:v"), QStringLiteral("mpeg2video"), QStringLiteral("-c:a"), QStringLiteral("mp2")}},
        {"ts", {QStringLiteral("-c:v"), QStringLiteral("mpeg2video"), QStringLiteral("-c:a"), QStringLiteral("mp2")}},
        {"mov", {QStringLiteral("-c:v"), QStringLiteral("mpeg4")}},
        {"flv", {QStringLiteral("-c:v"), QStringLiteral("flv1"), QStringLiteral("-ar"), QStringLiteral("44100")}},
        {"wmv", {QStringLiteral("-c:v"), QStringLiteral("wmv2"), QStringLiteral("-c:a"), QStringLiteral("wmav2")}},
    };
    // A handful of distinct clips, copied to make up the count (the cost measured is the probe's).
    QStringList sources;
    for (const TKind& k : kinds) {
        const QString p = MakeTestClip(dir.path(), QStringLiteral("src.%1").arg(QLatin1String(k.Ext)), 2.0, 320, 240,
                                       QStringLiteral("25"), k.Args);
        if (p.isEmpty())
            return 1;
        sources << p;
    }
    QStringList files;
    for (int i = 0; i < count; ++i) {
        const QString& src = sources[i % sources.size()];
        const QString dst = dir.filePath(QStringLiteral("clip%1.%2").arg(i).arg(src.section(QLatin1Char('.'), -1)));
        QFile::copy(src, dst);
        files << dst;
    }

    QElapsedTimer t;
    t.start();
    TFFDecoder decoder;
    int ok = 0;
    for (const QString& f : files) {
        TVideoFile title;
        ok += ProbeTitle(decoder, f, title) ? 1 : 0;
    }
    const double ours = t.nsecsElapsed() / 1e9;

    t.restart();
    int ffOk = 0;
    for (const QString& f : files) {
        const TProcessResult r = RunProcess(QStringLiteral("ffprobe"),
                                            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_format"),
                                             QStringLiteral("-show_streams"), f});
        ffOk += r.Ok() ? 1 : 0;
    }
    const double theirs = t.nsecsElapsed() / 1e9;
    std::printf("files=%d ours_ok=%d ffprobe_ok=%d ours_s=%.3f ffprobe_s=%.3f\n", count, ok, ffOk, ours, theirs);
    std::printf("probe_speedup=%.2f\n", theirs / ours);
    return ok == count ? 0 : 1;
}
