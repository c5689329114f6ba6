#include "media/AVLib.h"

#include <QStringList>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace {

struct TCheck {
    bool Done = false;
    bool Ok = false;
    QString Message;
};

// A runtime library of another major version than the headers we were built with has a
// different ABI; refuse it instead of crashing later.
void CheckVersion(const char* name, unsigned runtime, unsigned built, QStringList& problems) {
    if (AV_VERSION_MAJOR(runtime) != AV_VERSION_MAJOR(built))
        problems << QStringLiteral("%1 %2.%3 is installed but the program was built for %4.%5")
                        .arg(QString::fromLatin1(name))
                        .arg(AV_VERSION_MAJOR(runtime))
                        .arg(AV_VERSION_MINOR(runtime))
                        .arg(AV_VERSION_MAJOR(built))
                        .arg(AV_VERSION_MINOR(built));
}

TCheck RunCheck() {
    TCheck check;
    QStringList problems;
    CheckVersion("libavutil", avutil_version(), LIBAVUTIL_VERSION_INT, problems);
    CheckVersion("libavcodec", avcodec_version(), LIBAVCODEC_VERSION_INT, problems);
    CheckVersion("libavformat", avformat_version(), LIBAVFORMAT_VERSION_INT, problems);
    CheckVersion("libavfilter", avfilter_version(), LIBAVFILTER_VERSION_INT, problems);
    CheckVersion("libswscale", swscale_version(), LIBSWSCALE_VERSION_INT, problems);
    CheckVersion("libswresample", swresample_version(), LIBSWRESAMPLE_VERSION_INT, problems);

    QStringList missing;
    for (const char* enc : {"mpeg2video", "ac3"})
        if (!avcodec_find_encoder_by_name(enc))
            missing << QStringLiteral("encoder %1").arg(QString::fromLatin1(enc));
    for (const char* dec : {"h264", "mpeg2video", "mpeg4", "ac3", "mp2", "aac"})
        if (!avcodec_find_decoder_by_name(dec))
            missing << QStringLiteral("decoder %1").arg(QString::fromLatin1(dec));
    for (const char* flt : {"buffer", "buffersink", "abuffer", "abuffersink", "crop", "scale", "pad",
                            "fps", "format", "setdar", "yadif", "aresample", "setsar"})
        if (!avfilter_get_by_name(flt))
            missing << QStringLiteral("filter %1").arg(QString::fromLatin1(flt));
    if (!av_guess_format("dvd", nullptr, nullptr))
        missing << QStringLiteral("muxer dvd");
    if (!missing.isEmpty())
        problems << QStringLiteral("The installed FFmpeg libraries lack: %1").arg(missing.join(QStringLiteral(", ")));

    check.Done = true;
    check.Ok = problems.isEmpty();
    check.Message = problems.join(QStringLiteral("; "));
    return check;
}

std::once_flag gOnce;
TCheck gCheck;

} // namespace

namespace AVLib {

bool Load(const QString& /*folder*/, QString* errMsg) {
    std::call_once(gOnce, [] { gCheck = RunCheck(); });
    if (!gCheck.Ok && errMsg)
        *errMsg = gCheck.Message;
    return gCheck.Ok;
}

bool Loaded() {
    return gCheck.Done && gCheck.Ok;
}

} // namespace AVLib
