#include "support/TranscodeFixtures.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include "support/Clips.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
}

namespace TranscodeFixtures {

int RunProgram(const QString& program, const QStringList& args, QString* output, const QStringList& extraEnv) {
    const TProcessResult r = RunProcess(program, args, 300000, extraEnv);
    if (!r.Started)
        return -1;
    if (output)
        *output = QString::fromUtf8(r.Out + r.Err);
    return r.ExitCode;
}

bool Ffmpeg(const QStringList& args) {
    QString out;
    const int rc = RunProgram(QStringLiteral("ffmpeg"),
                              QStringList{QStringLiteral("-y"), QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                                          QStringLiteral("error")} +
                                  args,
                              &out);
    if (rc != 0)
        fprintf(stderr, "ffmpeg failed: %s\n", qPrintable(out));
    return rc == 0;
}

const TStreamFacts* TFileFacts::Video() const {
    for (const auto& s : Streams)
        if (s.CodecType == QLatin1String("video"))
            return &s;
    return nullptr;
}

const TStreamFacts* TFileFacts::Audio() const {
    for (const auto& s : Streams)
        if (s.CodecType == QLatin1String("audio"))
            return &s;
    return nullptr;
}

bool Probe(const QString& file, TFileFacts* facts) {
    const TProcessResult r = RunProcess(QStringLiteral("ffprobe"),
                                        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-of"),
                                         QStringLiteral("json"), QStringLiteral("-show_format"),
                                         QStringLiteral("-show_streams"), file},
                                        60000);
    if (!r.Ok())
        return false;
    const QJsonObject root = QJsonDocument::fromJson(r.Out).object();
    *facts = TFileFacts();
    facts->FormatName = root[QStringLiteral("format")].toObject()[QStringLiteral("format_name")].toString();
    facts->Duration = root[QStringLiteral("format")].toObject()[QStringLiteral("duration")].toString().toDouble();
    for (const auto& v : root[QStringLiteral("streams")].toArray()) {
        const QJsonObject o = v.toObject();
        TStreamFacts s;
        s.CodecType = o[QStringLiteral("codec_type")].toString();
        s.CodecName = o[QStringLiteral("codec_name")].toString();
        s.Width = o[QStringLiteral("width")].toInt();
        s.Height = o[QStringLiteral("height")].toInt();
        s.FrameRate = o[QStringLiteral("r_frame_rate")].toString();
        s.SampleAspect = o[QStringLiteral("sample_aspect_ratio")].toString();
        s.DisplayAspect = o[QStringLiteral("display_aspect_ratio")].toString();
        s.FieldOrder = o[QStringLiteral("field_order")].toString();
        s.SampleRate = o[QStringLiteral("sample_rate")].toString().toInt();
        s.Channels = o[QStringLiteral("channels")].toInt();
        s.StartTime = o[QStringLiteral("start_time")].toString().toDouble();
        s.Duration = o[QStringLiteral("duration")].toString().toDouble();
        s.BitRate = o[QStringLiteral("bit_rate")].toString().toLongLong();
        facts->Streams.push_back(s);
    }
    return true;
}

double TPicture::Mean(int x0, int y0, int x1, int y1) const {
    double sum = 0;
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x, ++n)
            sum += At(x, y);
    return n ? sum / n : 0;
}

namespace {
struct TDecoder {
    AVFormatContext* Fmt = nullptr;
    AVCodecContext* Dec = nullptr;
    int Index = -1;
    ~TDecoder() {
        avcodec_free_context(&Dec);
        avformat_close_input(&Fmt);
    }
    bool Open(const QString& file, AVMediaType type) {
        if (avformat_open_input(&Fmt, file.toUtf8().constData(), nullptr, nullptr) < 0)
            return false;
        if (avformat_find_stream_info(Fmt, nullptr) < 0)
            return false;
        Index = av_find_best_stream(Fmt, type, -1, -1, nullptr, 0);
        if (Index < 0)
            return false;
        const AVCodec* codec = avcodec_find_decoder(Fmt->streams[Index]->codecpar->codec_id);
        Dec = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(Dec, Fmt->streams[Index]->codecpar);
        Dec->pkt_timebase = Fmt->streams[Index]->time_base;
        return avcodec_open2(Dec, codec, nullptr) >= 0;
    }
    // Calls fn for every decoded frame.
    template <typename F> void Run(F fn) {
        AVPacket* pkt = av_packet_alloc();
        AVFrame* frame = av_frame_alloc();
        auto drain = [&] {
            while (avcodec_receive_frame(Dec, frame) >= 0) {
                fn(frame);
                av_frame_unref(frame);
            }
        };
        while (av_read_frame(Fmt, pkt) >= 0) {
            if (pkt->stream_index == Index && avcodec_send_packet(Dec, pkt) >= 0)
                drain();
            av_packet_unref(pkt);
        }
        avcodec_send_packet(Dec, nullptr);
        drain();
        av_frame_free(&frame);
        av_packet_free(&pkt);
    }
};
} // namespace

bool DecodePictures(const QString& file, std::vector<TPicture>* pictures) {
    TDecoder d;
    if (!d.Open(file, AVMEDIA_TYPE_VIDEO))
        return false;
    const AVRational tb = d.Fmt->streams[d.Index]->time_base;
    pictures->clear();
    d.Run([&](AVFrame* f) {
        TPicture p;
        p.Time = f->best_effort_timestamp == AV_NOPTS_VALUE ? 0 : f->best_effort_timestamp * av_q2d(tb);
        p.Width = f->width;
        p.Height = f->height;
        p.Interlaced = f->interlaced_frame;
        p.TopFieldFirst = f->top_field_first;
        p.AspectNum = f->sample_aspect_ratio.num;
        p.AspectDen = f->sample_aspect_ratio.den;
        p.Luma.resize(size_t(f->width) * f->height);
        for (int y = 0; y < f->height; ++y)
            memcpy(&p.Luma[size_t(y) * f->width], f->data[0] + y * f->linesize[0], f->width);
        pictures->push_back(std::move(p));
    });
    return !pictures->empty();
}

bool DecodeSound(const QString& file, std::vector<float>* samples, int* sampleRate, double* start) {
    TDecoder d;
    if (!d.Open(file, AVMEDIA_TYPE_AUDIO))
        return false;
    const AVRational tb = d.Fmt->streams[d.Index]->time_base;
    samples->clear();
    bool first = true;
    SwrContext* swr = nullptr;
    d.Run([&](AVFrame* f) {
        if (first) {
            *start = f->best_effort_timestamp == AV_NOPTS_VALUE ? 0 : f->best_effort_timestamp * av_q2d(tb);
            *sampleRate = f->sample_rate;
            AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
            swr_alloc_set_opts2(&swr, &mono, AV_SAMPLE_FMT_FLT, f->sample_rate, &f->ch_layout,
                                AVSampleFormat(f->format), f->sample_rate, 0, nullptr);
            swr_init(swr);
            first = false;
        }
        std::vector<float> buf(size_t(f->nb_samples) + 64);
        uint8_t* out[1] = {reinterpret_cast<uint8_t*>(buf.data())};
        const int n = swr_convert(swr, out, int(buf.size()), const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
        if (n > 0)
            samples->insert(samples->end(), buf.begin(), buf.begin() + n);
    });
    swr_free(&swr);
    return !samples->empty();
}

} // namespace TranscodeFixtures
