#include "media/FFDecoder.h"

#include <QFileInfo>
#include <chrono>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

namespace {

QString AvErrorText(int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return QString::fromUtf8(buf);
}

// Opening and probing a local file never takes this long; a device or a pipe posing as a
// file could, and the window must not freeze on it.
constexpr auto kProbeTimeLimit = std::chrono::seconds(30);

} // namespace

struct TFFDecoder::TImpl {
    AVFormatContext* Ctx = nullptr;
    int64_t Duration = 0;
    std::chrono::steady_clock::time_point Deadline;

    static int Interrupt(void* opaque) {
        auto* self = static_cast<TImpl*>(opaque);
        return std::chrono::steady_clock::now() > self->Deadline ? 1 : 0;
    }

    void Close() {
        if (Ctx)
            avformat_close_input(&Ctx);
        Duration = 0;
    }

    // Containers without a duration field (raw elementary streams, some program streams) only
    // get a guess from the bit rate; walking the packets gives the real end.
    int64_t ScanDuration() {
        int64_t startUs = Ctx->start_time != AV_NOPTS_VALUE ? Ctx->start_time : AV_NOPTS_VALUE;
        int64_t endUs = AV_NOPTS_VALUE;
        int64_t firstUs = AV_NOPTS_VALUE;
        // Raw elementary streams carry no timestamps at all: there the frames are counted.
        int videoIndex = av_find_best_stream(Ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        int64_t videoFrames = 0;
        AVPacket* pkt = av_packet_alloc();
        if (!pkt)
            return 0;
        while (av_read_frame(Ctx, pkt) >= 0) {
            const AVStream* st = Ctx->streams[pkt->stream_index];
            if (pkt->stream_index == videoIndex)
                ++videoFrames;
            int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
            if (ts != AV_NOPTS_VALUE) {
                int64_t begin = av_rescale_q(ts, st->time_base, AV_TIME_BASE_Q);
                int64_t end = av_rescale_q(ts + std::max<int64_t>(pkt->duration, 0), st->time_base, AV_TIME_BASE_Q);
                if (firstUs == AV_NOPTS_VALUE || begin < firstUs)
                    firstUs = begin;
                if (endUs == AV_NOPTS_VALUE || end > endUs)
                    endUs = end;
            }
            av_packet_unref(pkt);
        }
        av_packet_free(&pkt);
        if (endUs == AV_NOPTS_VALUE) {
            if (videoIndex < 0 || videoFrames == 0)
                return 0;
            const AVStream* st = Ctx->streams[videoIndex];
            AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
            if (rate.num <= 0 || rate.den <= 0)
                return 0;
            return av_rescale_q(videoFrames, av_inv_q(rate), AV_TIME_BASE_Q);
        }
        if (startUs == AV_NOPTS_VALUE)
            startUs = firstUs;
        return std::max<int64_t>(0, endUs - startUs);
    }
};

TFFDecoder::TFFDecoder() : FImpl(std::make_unique<TImpl>()) {}

TFFDecoder::~TFFDecoder() {
    FImpl->Close();
}

bool TFFDecoder::LoadFile(const QString& fileName, const QString& formatName) {
    FImpl->Close();
    FLastErrMsg.clear();

    const QFileInfo info(fileName);
    if (!info.exists()) {
        FLastErrMsg = QStringLiteral("File not found: %1").arg(fileName);
        return false;
    }
    if (!info.isFile()) {
        FLastErrMsg = QStringLiteral("Not a regular file: %1").arg(fileName);
        return false;
    }
    if (!info.isReadable()) {
        FLastErrMsg = QStringLiteral("Permission denied: %1").arg(fileName);
        return false;
    }
    if (info.size() == 0) {
        FLastErrMsg = QStringLiteral("The file is empty: %1").arg(fileName);
        return false;
    }

    const AVInputFormat* fmt = nullptr;
    if (!formatName.isEmpty()) {
        fmt = av_find_input_format(formatName.toUtf8().constData());
        if (!fmt) {
            FLastErrMsg = QStringLiteral("Unknown input format: %1").arg(formatName);
            return false;
        }
    }

    AVFormatContext* ctx = avformat_alloc_context();
    if (!ctx) {
        FLastErrMsg = QStringLiteral("Out of memory");
        return false;
    }
    FImpl->Deadline = std::chrono::steady_clock::now() + kProbeTimeLimit;
    ctx->interrupt_callback.callback = &TImpl::Interrupt;
    ctx->interrupt_callback.opaque = FImpl.get();

    const QByteArray path = fileName.toUtf8();
    int err = avformat_open_input(&ctx, path.constData(), fmt, nullptr);
    if (err < 0) {
        // avformat_open_input frees the context on failure.
        FLastErrMsg = QStringLiteral("Cannot open %1: %2").arg(fileName, AvErrorText(err));
        return false;
    }
    FImpl->Ctx = ctx;
    err = avformat_find_stream_info(ctx, nullptr);
    if (err < 0) {
        FLastErrMsg = QStringLiteral("Cannot read the streams of %1: %2").arg(fileName, AvErrorText(err));
        FImpl->Close();
        return false;
    }
    bool anyMedia = false;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVCodecParameters* par = ctx->streams[i]->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO && par->width > 0 && par->height > 0)
            anyMedia = true;
        if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->sample_rate > 0)
            anyMedia = true;
    }
    if (!anyMedia) {
        FLastErrMsg = QStringLiteral("No video or audio stream found in %1").arg(fileName);
        FImpl->Close();
        return false;
    }

    if (ctx->duration != AV_NOPTS_VALUE && ctx->duration > 0 &&
        ctx->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE) {
        FImpl->Duration = ctx->duration;
    } else {
        const int64_t guess = ctx->duration != AV_NOPTS_VALUE ? ctx->duration : 0;
        const int64_t scanned = FImpl->ScanDuration();
        FImpl->Duration = scanned > 0 ? scanned : guess;
        // Leave the file ready for whoever reads it next.
        av_seek_frame(ctx, -1, 0, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
    }
    return true;
}

void TFFDecoder::CloseFile() {
    FImpl->Close();
}

bool TFFDecoder::FileOpened() const {
    return FImpl->Ctx != nullptr;
}

int TFFDecoder::StreamCount() const {
    return FImpl->Ctx ? static_cast<int>(FImpl->Ctx->nb_streams) : 0;
}

bool TFFDecoder::IsVideoStream(int index) const {
    if (index < 0 || index >= StreamCount())
        return false;
    const AVStream* st = FImpl->Ctx->streams[index];
    // Cover art travels as a one-picture video stream; it is not a video.
    return st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC);
}

bool TFFDecoder::IsAudioStream(int index) const {
    if (index < 0 || index >= StreamCount())
        return false;
    return FImpl->Ctx->streams[index]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
}

TFileStreamInfo TFFDecoder::FileStreamInfo() const {
    TFileStreamInfo info;
    if (!FImpl->Ctx)
        return info;
    info.Duration = FImpl->Duration;
    info.StartTime = FImpl->Ctx->start_time != AV_NOPTS_VALUE ? FImpl->Ctx->start_time : 0;
    info.BitRate = FImpl->Ctx->bit_rate;
    info.FormatName = QString::fromUtf8(FImpl->Ctx->iformat->name);
    return info;
}

TVideoStreamInfo TFFDecoder::VideoStreamInfo(int index) const {
    TVideoStreamInfo info;
    if (!IsVideoStream(index))
        return info;
    AVStream* st = FImpl->Ctx->streams[index];
    const AVCodecParameters* par = st->codecpar;
    info.Width = par->width;
    info.Height = par->height;
    info.BitRate = par->bit_rate;
    AVRational rate = st->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = st->r_frame_rate;
    info.FrameRate = {rate.num, rate.den};
    const AVRational sar = av_guess_sample_aspect_ratio(FImpl->Ctx, st, nullptr);
    info.SampleAspectRatio = {sar.num, sar.den};
    info.CodecName = QString::fromUtf8(avcodec_get_name(par->codec_id));
    return info;
}

TAudioStreamInfo TFFDecoder::AudioStreamInfo(int index) const {
    TAudioStreamInfo info;
    if (!IsAudioStream(index))
        return info;
    const AVCodecParameters* par = FImpl->Ctx->streams[index]->codecpar;
    info.Channels = par->ch_layout.nb_channels;
    info.SampleRate = par->sample_rate;
    info.BitRate = par->bit_rate;
    info.CodecName = QString::fromUtf8(avcodec_get_name(par->codec_id));
    return info;
}
