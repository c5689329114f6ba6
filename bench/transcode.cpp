// Converts one generated minute of 1080p H.264/AAC with our transcoder and with
// `ffmpeg -target pal-dvd` at the same video bit rate, each in a process of its own, and compares
// wall time, peak memory and PSNR against the source.
// Last line: time_ratio=<ours / ffmpeg> psnr_delta_db=<ours - ffmpeg> peak_rss_mb=<ours>
#include "media/FFEncoder.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct TRun {
    double Seconds = 0;
    double PeakMb = 0;
    bool Ok = false;
};

// Runs a program as a child and measures it.
TRun Measure(const char* program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program));
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(program, argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage ru {};
    wait4(pid, &status, 0, &ru);
    TRun r;
    r.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.PeakMb = ru.ru_maxrss / 1024.0;
    r.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return r;
}

double Psnr(const QString& output, const QString& source) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("ffmpeg"),
            {QStringLiteral("-hide_banner"), QStringLiteral("-i"), output, QStringLiteral("-i"), source,
             QStringLiteral("-lavfi"),
             QStringLiteral("[0:v]setpts=PTS-STARTPTS[a];[1:v]scale=720:576:flags=bicubic,setpts=PTS-STARTPTS[b];[a][b]psnr"),
             QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")});
    p.waitForFinished(-1);
    const QString log = QString::fromUtf8(p.readAll());
    const auto m = QRegularExpression(QStringLiteral("average:([0-9.]+)")).match(log);
    return m.hasMatch() ? m.captured(1).toDouble() : 0;
}

// Child mode: one conversion with our transcoder, on this thread.
int RunOurs(const QString& source, const QString& output, int64_t rate) {
    TFFEncoder enc;
    TInputOptions in;
    if (enc.AddTask(source, &in) != 0) {
        fprintf(stderr, "AddTask: %s\n", qPrintable(enc.LastErrMsg()));
        return 1;
    }
    TOutputOptions out;
    out.TargetType = ttDVD;
    out.NormType = ntPAL;
    out.FrameRate = QStringLiteral("25");
    out.VideoBitrate = rate;
    if (!enc.SetOutputFile(0, output, &out)) {
        fprintf(stderr, "SetOutputFile: %s\n", qPrintable(enc.LastErrMsg()));
        return 1;
    }
    bool ok = false;
    enc.OnTerminate = [&](TFFEncoder*, const TTerminateInfo& info) {
        if (info.TaskIndex == 0) {
            ok = info.Finished && !info.Exception;
            if (info.Exception)
                fprintf(stderr, "%s\n", qPrintable(info.ExceptionMsg));
        }
    };
    enc.Start(0);
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--ours")
        return RunOurs(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), atoll(argv[4]));
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source.mp4"));
    const int seconds = argc > 1 ? atoi(argv[1]) : 60;
    printf("generating %d s of 1080p H.264/AAC...\n", seconds);
    fflush(stdout);
    const TRun gen = Measure("ffmpeg", {"-y", "-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
                                        "testsrc2=s=1920x1080:r=25:d=" + std::to_string(seconds), "-f", "lavfi", "-i",
                                        "sine=f=440:d=" + std::to_string(seconds), "-c:v", "libx264", "-preset", "veryfast",
                                        "-crf", "18", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest",
                                        source.toStdString()});
    if (!gen.Ok) {
        fprintf(stderr, "cannot generate the source clip\n");
        return 1;
    }
    const int64_t rate = TFFEncoder::FitVideoBitRate(int64_t(seconds) * 1000000, TDiscType::DVD5);
    const QString ours = dir.filePath(QStringLiteral("ours.mpg"));
    const QString theirs = dir.filePath(QStringLiteral("ffmpeg.mpg"));
    const std::string self = QCoreApplication::applicationFilePath().toStdString();

    const TRun a = Measure(self.c_str(), {"--ours", source.toStdString(), ours.toStdString(), std::to_string(rate)});
    const TRun b = Measure("ffmpeg", {"-y", "-hide_banner", "-loglevel", "error", "-i", source.toStdString(), "-target",
                                      "pal-dvd", "-aspect", "16:9", "-b:v", std::to_string(rate), theirs.toStdString()});
    if (!a.Ok || !b.Ok) {
        fprintf(stderr, "conversion failed (ours %d, ffmpeg %d)\n", a.Ok, b.Ok);
        return 1;
    }
    const double psnrOurs = Psnr(ours, source);
    const double psnrTheirs = Psnr(theirs, source);
    printf("video rate %lld bit/s\n", static_cast<long long>(rate));
    printf("ours:   %.2f s, peak %.1f MB, PSNR %.3f dB, %lld bytes\n", a.Seconds, a.PeakMb, psnrOurs,
           static_cast<long long>(QFileInfo(ours).size()));
    printf("ffmpeg: %.2f s, peak %.1f MB, PSNR %.3f dB, %lld bytes\n", b.Seconds, b.PeakMb, psnrTheirs,
           static_cast<long long>(QFileInfo(theirs).size()));
    printf("time_ratio=%.3f psnr_delta_db=%.3f peak_rss_mb=%.1f\n", a.Seconds / b.Seconds, psnrOurs - psnrTheirs, a.PeakMb);
    return 0;
}
