#include "support/PlayerClips.h"
#include "support/Clips.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <cmath>
#include <cstdio>

namespace PlayerClips {

QString IndexClip(const QString& dir, bool withAudio) {
    QStringList args{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                     QStringLiteral("color=c=black:s=%1x%2:r=25:d=1.2,format=yuv420p,"
                                    "geq=lum='N*8':cb=128:cr=128")
                         .arg(Width)
                         .arg(Height)};
    if (withAudio)
        args << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
             << QStringLiteral("sine=f=440:d=1.2");
    args << QStringLiteral("-c:v") << QStringLiteral("mpeg4") << QStringLiteral("-q:v")
         << QStringLiteral("1") << QStringLiteral("-g") << QStringLiteral("5");
    if (withAudio)
        args << QStringLiteral("-c:a") << QStringLiteral("mp2");
    return MakeClip(dir, withAudio ? QStringLiteral("index.mkv") : QStringLiteral("index_silent.mkv"),
                args);
}

QString AudioOnlyClip(const QString& dir) {
    return MakeClip(dir, QStringLiteral("tone.mka"),
                {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                 QStringLiteral("sine=f=440:d=1"), QStringLiteral("-c:a"), QStringLiteral("mp2")});
}

QString SizedClip(const QString& dir, int w, int h, double seconds) {
    return MakeClip(dir, QStringLiteral("sized_%1x%2.mkv").arg(w).arg(h),
                {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                 QStringLiteral("color=c=red:s=%1x%2:r=25:d=%3,format=yuv420p,"
                                "drawbox=x=%4:y=0:w=%4:h=%2:color=blue:t=fill")
                     .arg(w)
                     .arg(h)
                     .arg(seconds)
                     .arg(w / 2),
                 QStringLiteral("-c:v"), QStringLiteral("mpeg4"), QStringLiteral("-q:v"),
                 QStringLiteral("2"), QStringLiteral("-g"), QStringLiteral("5")});
}

int FrameIndex(const QImage& picture) {
    if (picture.isNull())
        return -1;
    const QColor c = picture.pixelColor(picture.width() / 2, picture.height() / 2);
    // Luma 8 n in studio range shows as grey (8 n - 16) * 255 / 219, clipped at 0.
    const double luma = c.green() * 219.0 / 255.0 + 16.0;
    return std::max(0, static_cast<int>(std::lround(luma / 8.0)));
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

} // namespace PlayerClips
