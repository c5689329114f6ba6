// Processor time of playing a one-minute 1080p H.264 clip through the preview player (no
// display: offscreen platform, a hidden 640 x 360 render panel) against decoding the same clip
// with `ffmpeg -f null`. Last line: cpu_ratio=<player / ffmpeg>.
#include "media/FFPlayer.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <sys/resource.h>

namespace {

double CpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec +
           u.ru_stime.tv_usec / 1e6;
}

bool Run(const QStringList& args, int timeoutMs) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QStringLiteral("ffmpeg"), args);
    return p.waitForFinished(timeoutMs) && p.exitStatus() == QProcess::NormalExit &&
           p.exitCode() == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER"))
        qputenv("SDL_AUDIODRIVER", "dummy");
    QApplication app(argc, argv);

    // The clip is kept between runs: encoding it costs more than the measurement.
    const QString clip = QDir::temp().filePath(QStringLiteral("ordavine-bench-1080p60s.mp4"));
    if (!QFileInfo::exists(clip)) {
        std::printf("encoding %s ...\n", qPrintable(clip));
        std::fflush(stdout);
        if (!Run({QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                  QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
                  QStringLiteral("lavfi"), QStringLiteral("-i"),
                  QStringLiteral("testsrc2=s=1920x1080:r=25:d=60"), QStringLiteral("-c:v"),
                  QStringLiteral("libx264"), QStringLiteral("-preset"), QStringLiteral("veryfast"),
                  QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"),
                  clip + QStringLiteral(".part.mp4")},
                 1800000) ||
            !QFile::rename(clip + QStringLiteral(".part.mp4"), clip)) {
            std::fprintf(stderr, "could not encode the clip\n");
            return 1;
        }
    }

    // ffmpeg's decoding cost.
    const double childBefore = CpuSeconds(RUSAGE_CHILDREN);
    if (!Run({QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
              QStringLiteral("-i"), clip, QStringLiteral("-f"), QStringLiteral("null"),
              QStringLiteral("-")},
             600000)) {
        std::fprintf(stderr, "ffmpeg decoding failed\n");
        return 1;
    }
    const double ffmpegCpu = CpuSeconds(RUSAGE_CHILDREN) - childBefore;

    // The player, in real time.
    QWidget panel;
    panel.resize(640, 360);
    TFFPlayer player;
    if (!player.LoadAVLib(QString())) {
        std::fprintf(stderr, "%s\n", qPrintable(player.LastErrMsg()));
        return 1;
    }
    bool ended = false;
    int64_t positions = 0, lastPts = 0;
    player.OnPosition = [&](TFFPlayer*, int64_t pts) {
        ++positions;
        lastPts = pts;
    };
    const double selfBefore = CpuSeconds(RUSAGE_SELF);
    QElapsedTimer wall;
    wall.start();
    if (!player.Open(clip, &panel, false)) {
        std::fprintf(stderr, "%s\n", qPrintable(player.LastErrMsg()));
        return 1;
    }
    // Block in the event loop like the program does; no polling of our own.
    QEventLoop loop;
    player.OnState = [&](TFFPlayer*, TPlayState s) {
        if (s == psEnd) {
            ended = true;
            loop.quit();
        }
    };
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
    const double wallSeconds = wall.elapsed() / 1000.0;
    player.Stop(true);
    const double playerCpu = CpuSeconds(RUSAGE_SELF) - selfBefore;

    std::printf("ffmpeg_cpu_s=%.2f player_cpu_s=%.2f player_wall_s=%.2f ended=%d last_pts_s=%.2f "
                "reports=%lld\n",
                ffmpegCpu, playerCpu, wallSeconds, ended ? 1 : 0, lastPts / 1e6,
                static_cast<long long>(positions));
    std::printf("cpu_ratio=%.3f\n", ffmpegCpu > 0 ? playerCpu / ffmpegCpu : 0.0);
    return ended ? 0 : 1;
}
