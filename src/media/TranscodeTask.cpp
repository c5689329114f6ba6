#include "media/TranscodeTask.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace {

constexpr int kAudioRate = 48000;
constexpr int kAc3FrameSize = 1536;
constexpr int64_t kAudioBitRate = 448000;
constexpr int64_t kPeakVideoRate = 9000000;
constexpr int64_t kBFramesBelowRate = 5000000;
constexpr int kVbvBufferBits = 1835008;
constexpr int kMuxRate = 10080000;

// The FFmpeg libraries are not built for ThreadSanitizer: their reference counts and progress
// flags are atomics it cannot see, so their own threads only produce noise there. Sanitizer
// builds run the codecs on the calling thread; our threads are what those builds check.
#if defined(__SANITIZE_THREAD__)
constexpr bool kCodecThreads = false;
#else
constexpr bool kCodecThreads = true;
#endif

QString AvErrorText(int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return QString::fromUtf8(buf);
}

struct TTaskError : std::runtime_error {
    explicit TTaskError(const QString& msg) : std::runtime_error(msg.toStdString()) {}
};

[[noreturn]] void Fail(const QString& msg) {
    throw TTaskError(msg);
}

QString TimeText(int64_t us) {
    const int64_t s = std::max<int64_t>(us, 0) / 1000000;
    return QString::asprintf("%.2lld:%.2lld:%.2lld", static_cast<long long>(s / 3600),
                             static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
}

// Local files go through the "file:" protocol so that a colon in a name is never read as a
// protocol prefix.
QByteArray UrlFor(const QString& name) {
    if (QFileInfo(name).isAbsolute() || QFileInfo::exists(name))
        return "file:" + QFile::encodeName(name);
    return name.toUtf8();
}

struct TInputCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct TCodecCloser {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct TFrameCloser {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct TPacketCloser {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct TGraphCloser {
    void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
};
struct TInOutCloser {
    void operator()(AVFilterInOut* io) const { avfilter_inout_free(&io); }
};
using TInputPtr = std::unique_ptr<AVFormatContext, TInputCloser>;
using TCodecPtr = std::unique_ptr<AVCodecContext, TCodecCloser>;
using TFramePtr = std::unique_ptr<AVFrame, TFrameCloser>;
using TPacketPtr = std::unique_ptr<AVPacket, TPacketCloser>;
using TGraphPtr = std::unique_ptr<AVFilterGraph, TGraphCloser>;

TFramePtr NewFrame() {
    TFramePtr f(av_frame_alloc());
    if (!f)
        Fail(QStringLiteral("Out of memory"));
    return f;
}

// Opens a source; the interrupt callback lets a stop request end a blocking read.
bool OpenInput(const QString& name, const QString& forceFormat, TInputPtr* out, QString* errMsg,
               AVIOInterruptCB* interrupt = nullptr) {
    const AVInputFormat* fmt = nullptr;
    if (!forceFormat.isEmpty()) {
        fmt = av_find_input_format(forceFormat.toUtf8().constData());
        if (!fmt) {
            *errMsg = QStringLiteral("Unknown input format \"%1\"").arg(forceFormat);
            return false;
        }
    }
    AVFormatContext* ctx = avformat_alloc_context();
    if (!ctx) {
        *errMsg = QStringLiteral("Out of memory");
        return false;
    }
    if (interrupt)
        ctx->interrupt_callback = *interrupt;
    int err = avformat_open_input(&ctx, UrlFor(name).constData(), fmt, nullptr);
    if (err < 0) {
        *errMsg = QStringLiteral("Cannot open input file \"%1\": %2").arg(name, AvErrorText(err));
        return false;
    }
    out->reset(ctx);
    err = avformat_find_stream_info(ctx, nullptr);
    if (err < 0) {
        *errMsg = QStringLiteral("Cannot read the streams of \"%1\": %2").arg(name, AvErrorText(err));
        out->reset();
        return false;
    }
    return true;
}

int BestVideoStream(AVFormatContext* ctx) {
    int idx = av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (idx < 0)
        return -1;
    // A cover picture is not a video.
    if (ctx->streams[idx]->disposition & AV_DISPOSITION_ATTACHED_PIC)
        return -1;
    const AVCodecParameters* par = ctx->streams[idx]->codecpar;
    if (par->width <= 0 || par->height <= 0 || !avcodec_find_decoder(par->codec_id))
        return -1;
    return idx;
}

int BestAudioStream(AVFormatContext* ctx, int videoIdx) {
    int idx = av_find_best_stream(ctx, AVMEDIA_TYPE_AUDIO, -1, videoIdx, nullptr, 0);
    if (idx < 0)
        return -1;
    const AVCodecParameters* par = ctx->streams[idx]->codecpar;
    if (par->sample_rate <= 0 || par->ch_layout.nb_channels <= 0 || !avcodec_find_decoder(par->codec_id))
        return -1;
    return idx;
}

// Builds "buffer -> chain -> buffersink" for a picture of the given shape and reads what comes
// out, without running a frame through it.
bool ChainOutputShape(int w, int h, int pixFmt, AVRational sar, const QString& chain, int* ow, int* oh,
                      AVRational* osar, QString* errMsg) {
    TGraphPtr graph(avfilter_graph_alloc());
    if (!graph) {
        *errMsg = QStringLiteral("Out of memory");
        return false;
    }
    if (sar.num <= 0 || sar.den <= 0)
        sar = AVRational{1, 1};
    const QByteArray args =
        QStringLiteral("video_size=%1x%2:pix_fmt=%3:time_base=1/25:pixel_aspect=%4/%5")
            .arg(w)
            .arg(h)
            .arg(pixFmt)
            .arg(sar.num)
            .arg(sar.den)
            .toUtf8();
    AVFilterContext* src = nullptr;
    AVFilterContext* sink = nullptr;
    int err = avfilter_graph_create_filter(&src, avfilter_get_by_name("buffer"), "in", args.constData(), nullptr,
                                           graph.get());
    if (err >= 0)
        err = avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr,
                                           graph.get());
    if (err >= 0) {
        AVFilterInOut* outputs = avfilter_inout_alloc();
        AVFilterInOut* inputs = avfilter_inout_alloc();
        outputs->name = av_strdup("in");
        outputs->filter_ctx = src;
        inputs->name = av_strdup("out");
        inputs->filter_ctx = sink;
        const QByteArray text = chain.trimmed().isEmpty() ? QByteArray("null") : chain.toUtf8();
        err = avfilter_graph_parse_ptr(graph.get(), text.constData(), &inputs, &outputs, nullptr);
        avfilter_inout_free(&inputs);
        avfilter_inout_free(&outputs);
        if (err >= 0)
            err = avfilter_graph_config(graph.get(), nullptr);
    }
    if (err < 0) {
        *errMsg = QStringLiteral("The video filter chain \"%1\" cannot be used: %2").arg(chain, AvErrorText(err));
        return false;
    }
    *ow = av_buffersink_get_w(sink);
    *oh = av_buffersink_get_h(sink);
    *osar = av_buffersink_get_sample_aspect_ratio(sink);
    if (osar->num <= 0 || osar->den <= 0)
        *osar = AVRational{1, 1};
    return *ow > 0 && *oh > 0;
}

bool ParseAspect(const QString& text, double* value) {
    static const QRegularExpression ratio(QStringLiteral("^\\s*(\\d+(?:\\.\\d+)?)\\s*[:/]\\s*(\\d+(?:\\.\\d+)?)\\s*$"));
    const auto m = ratio.match(text);
    bool ok = false;
    double v = 0;
    if (m.hasMatch()) {
        const double a = m.captured(1).toDouble();
        const double b = m.captured(2).toDouble();
        ok = b > 0;
        v = ok ? a / b : 0;
    } else {
        v = text.trimmed().toDouble(&ok);
    }
    ok = ok && v >= 0.5 && v <= 4.0;
    if (ok)
        *value = v;
    return ok;
}

// Rounds to a multiple of `step`, at least `step`.
int RoundTo(double v, int step) {
    return std::max(step, static_cast<int>(std::lround(v / step)) * step);
}

int64_t DivRound(int64_t a, int64_t b) {
    // b > 0; rounds halves away from zero
    return a >= 0 ? (a + b / 2) / b : -((-a + b / 2) / b);
}

int64_t DivCeil(int64_t a, int64_t b) {
    return a >= 0 ? (a + b - 1) / b : -((-a) / b);
}

// ---------------------------------------------------------------------------------------------

class TTranscoder {
public:
    TTranscoder(const TTranscodeTaskEntry& task, const TTranscodeJob& job) : T(task), J(job) {}
    ~TTranscoder() {
        StopVideoEncoding();
        CloseOutput();
    }

    TTranscodeResult Run();

private:
    // setup
    void OpenSource();
    void OpenDecoder(int idx, TCodecPtr* dec);
    void OpenOutput();
    void CloseOutput();
    // reading
    bool ReadFrameInput();
    void DecodeVideo(const AVPacket* pkt);
    void DecodeAudio(const AVPacket* pkt);
    void CountDecodeError(int err, const char* what);
    // video
    void VideoFrameIn(AVFrame* frame, int64_t relUs, int64_t durUs);
    void EmitUntil(int64_t endSlot);
    void Emit(int64_t slot);
    void BuildVideoGraph(const AVFrame* frame);
    void FlushVideoGraph();
    void DrainVideoGraph();
    void EncodeVideo(AVFrame* frame);
    void QueueVideo(TFramePtr frame, bool filtered);
    void FilterAndEncode(AVFrame* frame);
    void BlackUntil(int64_t endSlot);
    // audio
    void AudioFrameIn(AVFrame* frame);
    void BuildAudioGraph(const AVFrame* frame);
    void FlushAudioGraph();
    void DrainAudioGraph();
    void EncodeAudio(const AVFrame* frame);
    void SilenceUntil(int64_t samples);
    // output
    void Drain(AVCodecContext* enc, AVStream* st, AVPacket* pkt);
    void SendToEncoder(AVCodecContext* enc, AVStream* st, const AVFrame* frame, AVPacket* pkt);
    // Filtering (scaling above all) and encoding of the picture run on a thread of their own, a
    // few frames behind decoding.
    void VideoEncodingLoop();
    void FinishVideoEncoding();
    void StopVideoEncoding();
    void Finish();
    void ReportProgress(bool force);

    int64_t SlotTimeUs(int64_t slot) const { return av_rescale(slot, 1000000LL * RateDen, RateNum); }
    int64_t SlotsFor(int64_t us) const { return av_rescale(us, RateNum, 1000000LL * RateDen); }

    const TTranscodeTaskEntry& T;
    const TTranscodeJob& J;

    // source
    TInputPtr In;
    int VIdx = -1, AIdx = -1;
    TCodecPtr VDec, ADec;
    int64_t TrimAbsUs = 0; // trim start on the file's clock, microseconds
    int64_t LastSeenUs = INT64_MIN;
    int64_t Packets = 0, DecodeErrors = 0;
    int64_t FrameNumber = 0;
    bool Stopped = false;
    bool Finishing = false;

    // target
    int W = 720, H = 576, RateNum = 25, RateDen = 1;
    AVRational FrameAspect{4, 3};
    AVRational OutSar{16, 15};
    bool KeepInterlaced = false, Tff = true, Deinterlace = false;
    bool HasVideo = false, HasAudio = false;

    // output
    AVFormatContext* Out = nullptr;
    bool OutputCreated = false;
    AVStream* VSt = nullptr;
    AVStream* ASt = nullptr;
    TCodecPtr VEnc, AEnc;
    TPacketPtr EncPkt, VEncPkt;

    // video encoding thread; VEncLock guards the queue, the abort and failure flags and the error,
    // MuxLock the muxer (the sound is written from the task's own thread)
    std::thread VEncThread;
    std::mutex VEncLock;
    std::condition_variable VEncChanged;
    struct TVideoJob {
        TFramePtr Frame; // empty: the end of the picture
        bool Filtered;   // goes to the encoder as it is (black frames)
    };
    std::deque<TVideoJob> VEncQueue;
    bool VEncAbort = false;
    bool VEncFailed = false;
    QString VEncError;
    std::mutex MuxLock;

    // video state
    TGraphPtr VGraph;
    AVFilterContext* VSrc = nullptr;
    AVFilterContext* VSink = nullptr;
    int GraphW = 0, GraphH = 0, GraphFmt = -1;
    AVRational GraphSar{0, 1};
    TFramePtr Cur;       // the newest picture, shown until a later one is due
    int64_t CurSlot = 0; // slot the newest picture is due at
    int64_t CurDurUs = 0;
    int64_t NextSlot = 0;               // next output frame to make
    int64_t SlotLimit = INT64_MAX;      // output frames wanted
    bool VideoDone = false;
    TFramePtr Black;

    // audio state
    TGraphPtr AGraph;
    AVFilterContext* ASrc = nullptr;
    AVFilterContext* ASink = nullptr;
    int AGraphRate = 0, AGraphFmt = -1;
    AVChannelLayout AGraphLayout{};
    int64_t SamplesOut = 0;
    int64_t SampleLimit = INT64_MAX;
    bool AudioDone = false;

    std::chrono::steady_clock::time_point LastProgress{};
};

void TTranscoder::OpenSource() {
    if (T.Probe.FrameInput) {
        HasVideo = true;
        return;
    }
    AVIOInterruptCB cb{[](void* opaque) -> int {
                           auto* self = static_cast<TTranscoder*>(opaque);
                           return self->J.StopRequested && self->J.StopRequested() ? 1 : 0;
                       },
                       this};
    QString err;
    if (!OpenInput(T.InputName, T.Input.ForceFormat, &In, &err, &cb))
        Fail(err);
    VIdx = BestVideoStream(In.get());
    AIdx = BestAudioStream(In.get(), VIdx);
    if (VIdx < 0 && AIdx < 0)
        Fail(QStringLiteral("\"%1\" holds no video or audio that can be decoded").arg(T.InputName));
    for (unsigned i = 0; i < In->nb_streams; ++i)
        if (static_cast<int>(i) != VIdx && static_cast<int>(i) != AIdx)
            In->streams[i]->discard = AVDISCARD_ALL;
    if (VIdx >= 0)
        OpenDecoder(VIdx, &VDec);
    if (AIdx >= 0)
        OpenDecoder(AIdx, &ADec);
    HasVideo = VIdx >= 0;
    HasAudio = AIdx >= 0;

    const int64_t start = In->start_time != AV_NOPTS_VALUE ? In->start_time : 0;
    const int64_t trim = std::max<int64_t>(T.Input.TimeStart, 0);
    TrimAbsUs = start + trim;
    if (trim == 0 && VIdx >= 0) {
        // Untrimmed, the output starts with the first picture: a picture a few milliseconds after
        // the file's start would otherwise be rounded onto the frame grid and drift off the sound.
        const AVStream* vs = In->streams[VIdx];
        if (vs->start_time != AV_NOPTS_VALUE) {
            const int64_t videoStart = av_rescale_q(vs->start_time, vs->time_base, AV_TIME_BASE_Q);
            if (videoStart > start && videoStart - start < 1000000)
                TrimAbsUs = videoStart;
        }
    }
    if (trim > 0) {
        // Land a little before the trim point: the frames up to it are decoded and dropped, so
        // the first picture is exact even where the container seeks only roughly.
        const int64_t target = std::max(start, TrimAbsUs - 1000000);
        int err2 = avformat_seek_file(In.get(), -1, INT64_MIN, target, target, 0);
        if (err2 < 0)
            err2 = av_seek_frame(In.get(), -1, target, AVSEEK_FLAG_BACKWARD);
        if (err2 < 0)
            Fail(QStringLiteral("Cannot seek to %1 in \"%2\": %3").arg(TimeText(trim), T.InputName, AvErrorText(err2)));
    }
}

void TTranscoder::OpenDecoder(int idx, TCodecPtr* dec) {
    AVStream* st = In->streams[idx];
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    dec->reset(avcodec_alloc_context3(codec));
    if (!*dec)
        Fail(QStringLiteral("Out of memory"));
    int err = avcodec_parameters_to_context(dec->get(), st->codecpar);
    (*dec)->pkt_timebase = st->time_base;
    (*dec)->thread_count = kCodecThreads ? 0 : 1;
    if (err >= 0)
        err = avcodec_open2(dec->get(), codec, nullptr);
    if (err < 0)
        Fail(QStringLiteral("Cannot open the %1 decoder for \"%2\": %3")
                 .arg(QString::fromLatin1(codec->name), T.InputName, AvErrorText(err)));
}

void TTranscoder::OpenOutput() {
    const TTargetFormat& tf = T.Target;
    W = tf.Width;
    H = tf.Height;
    RateNum = tf.RateNum;
    RateDen = tf.RateDen;
    FrameAspect = J.Wide ? AVRational{16, 9} : AVRational{4, 3};
    av_reduce(&OutSar.num, &OutSar.den, int64_t(FrameAspect.num) * H, int64_t(FrameAspect.den) * W, 1 << 16);

    if (HasVideo && !T.Probe.FrameInput && T.Probe.Interlaced) {
        const double src = T.Probe.RateDen > 0 ? double(T.Probe.RateNum) / T.Probe.RateDen : 0;
        const double dst = double(RateNum) / RateDen;
        // Fields at the standard's rate can go to the disc as they are; anything else has to be
        // turned into whole pictures before frames are dropped or repeated.
        KeepInterlaced = std::abs(src - dst) < dst * 0.005;
        Tff = T.Probe.TopFieldFirst;
    }
    Deinterlace = HasVideo && !T.Probe.FrameInput && !KeepInterlaced;

    if (T.Output.TimeLength > 0) {
        SlotLimit = std::max<int64_t>(1, DivRound(T.Output.TimeLength * RateNum, 1000000LL * RateDen));
        SampleLimit = DivRound(T.Output.TimeLength * kAudioRate, 1000000);
    }

    int err = avformat_alloc_output_context2(&Out, nullptr, "dvd", nullptr);
    if (err < 0 || !Out)
        Fail(QStringLiteral("The DVD multiplexer is not available: %1").arg(AvErrorText(err)));

    // video encoder
    const AVCodec* vcodec = avcodec_find_encoder(AV_CODEC_ID_MPEG2VIDEO);
    const AVCodec* acodec = avcodec_find_encoder(AV_CODEC_ID_AC3);
    if (!vcodec || !acodec)
        Fail(QStringLiteral("The MPEG-2 video or AC-3 audio encoder is missing"));
    VEnc.reset(avcodec_alloc_context3(vcodec));
    AEnc.reset(avcodec_alloc_context3(acodec));
    EncPkt.reset(av_packet_alloc());
    VEncPkt.reset(av_packet_alloc());
    if (!VEnc || !AEnc || !EncPkt || !VEncPkt)
        Fail(QStringLiteral("Out of memory"));
    AVCodecContext* v = VEnc.get();
    v->width = W;
    v->height = H;
    v->pix_fmt = AV_PIX_FMT_YUV420P;
    v->time_base = AVRational{RateDen, RateNum};
    v->framerate = AVRational{RateNum, RateDen};
    v->sample_aspect_ratio = OutSar;
    v->gop_size = tf.Gop;
    // Two B-frames, quantised like the others, where the rate limits the picture: at 3 Mbit/s they
    // gain about a quarter of a dB, from 5 Mbit/s on a few hundredths for 7 % more encoding time.
    // The quantiser floor stays at the encoder's 2: a floor of 1 gains a little on easy pictures
    // but costs a third more encoding time.
    v->max_b_frames = J.VideoBitRate < kBFramesBelowRate ? 2 : 0;
    v->b_quant_factor = 1.0f;
    v->bit_rate = J.VideoBitRate;
    v->rc_max_rate = kPeakVideoRate;
    v->rc_min_rate = 0;
    v->rc_buffer_size = kVbvBufferBits;
    v->thread_type = FF_THREAD_SLICE;
    v->thread_count = kCodecThreads ? std::clamp(QThread::idealThreadCount(), 1, 8) : 1;
    if (KeepInterlaced) {
        v->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
        v->field_order = Tff ? AV_FIELD_TT : AV_FIELD_BB;
    } else {
        v->field_order = AV_FIELD_PROGRESSIVE;
    }
    if (Out->oformat->flags & AVFMT_GLOBALHEADER)
        v->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* vopts = nullptr;
    av_dict_set_int(&vopts, "lmin", FF_QP2LAMBDA, 0);
    err = avcodec_open2(v, vcodec, &vopts);
    av_dict_free(&vopts);
    if (err < 0)
        Fail(QStringLiteral("Cannot open the MPEG-2 encoder: %1").arg(AvErrorText(err)));

    AVCodecContext* a = AEnc.get();
    a->sample_rate = kAudioRate;
    a->sample_fmt = AV_SAMPLE_FMT_FLTP;
    av_channel_layout_default(&a->ch_layout, 2);
    a->bit_rate = kAudioBitRate;
    a->time_base = AVRational{1, kAudioRate};
    err = avcodec_open2(a, acodec, nullptr);
    if (err < 0)
        Fail(QStringLiteral("Cannot open the AC-3 encoder: %1").arg(AvErrorText(err)));
    if (a->frame_size != kAc3FrameSize)
        Fail(QStringLiteral("The AC-3 encoder uses an unexpected frame size"));

    VSt = avformat_new_stream(Out, nullptr);
    ASt = avformat_new_stream(Out, nullptr);
    if (!VSt || !ASt)
        Fail(QStringLiteral("Out of memory"));
    avcodec_parameters_from_context(VSt->codecpar, v);
    avcodec_parameters_from_context(ASt->codecpar, a);
    VSt->time_base = v->time_base;
    ASt->time_base = a->time_base;
    VSt->sample_aspect_ratio = OutSar;
    VSt->avg_frame_rate = v->framerate;
    // The multiplexer sizes the video buffer of the program stream from the encoder's own figure.
    for (int i = 0; i < v->nb_coded_side_data; ++i) {
        const AVPacketSideData& sd = v->coded_side_data[i];
        uint8_t* dst = av_stream_new_side_data(VSt, sd.type, sd.size);
        if (dst)
            memcpy(dst, sd.data, sd.size);
    }

    Out->packet_size = 2048;
    AVDictionary* opts = nullptr;
    av_dict_set_int(&opts, "muxrate", kMuxRate, 0);
    const double stamp = T.Output.Info.TimeStamp;
    if (stamp >= 0) {
        const QDateTime when = stamp == 0 ? QDateTime::currentDateTimeUtc()
                                          : QDateTime::fromMSecsSinceEpoch(
                                                static_cast<qint64>(std::llround((stamp - 25569.0) * 86400000.0)),
                                                Qt::UTC);
        av_dict_set(&Out->metadata, "creation_time", when.toString(Qt::ISODateWithMs).toUtf8().constData(), 0);
    }

    err = avio_open(&Out->pb, UrlFor(T.OutputName).constData(), AVIO_FLAG_WRITE);
    if (err < 0) {
        av_dict_free(&opts);
        Fail(QStringLiteral("Cannot create output file \"%1\": %2").arg(T.OutputName, AvErrorText(err)));
    }
    OutputCreated = true;
    err = avformat_write_header(Out, &opts);
    av_dict_free(&opts);
    if (err < 0)
        Fail(QStringLiteral("Cannot write to \"%1\": %2").arg(T.OutputName, AvErrorText(err)));
}

void TTranscoder::CloseOutput() {
    if (!Out)
        return;
    if (Out->pb)
        avio_closep(&Out->pb);
    avformat_free_context(Out);
    Out = nullptr;
}

// ---- reading ---------------------------------------------------------------------------------

bool TTranscoder::ReadFrameInput() {
    const TFrameInputDesc& desc = T.Probe.Frame;
    TInputFrameInfo info;
    info.FrameNumber = ++FrameNumber;
    info.Width = desc.Width;
    info.Height = desc.Height;
    info.Pts = av_rescale(FrameNumber - 1, 1000000LL * desc.RateDen, desc.RateNum);
    std::vector<uint8_t> picture;
    switch (RequestInputFrame(desc.Adapter, info, &picture, J.StopRequested)) {
    case TFrameRequestResult::EndOfInput:
        return false;
    case TFrameRequestResult::Abandoned:
        Stopped = true;
        return false;
    case TFrameRequestResult::AdapterGone:
        Fail(QStringLiteral("The frame input adapter no longer exists"));
    case TFrameRequestResult::Frame:
        break;
    }
    const size_t row = size_t(desc.Width) * 3;
    if (picture.size() != row * desc.Height)
        Fail(QStringLiteral("The frame input delivered a picture of the wrong size"));
    TFramePtr frame = NewFrame();
    frame->format = AV_PIX_FMT_RGB24;
    frame->width = desc.Width;
    frame->height = desc.Height;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        Fail(QStringLiteral("Out of memory"));
    for (int y = 0; y < desc.Height; ++y)
        memcpy(frame->data[0] + y * frame->linesize[0], &picture[row * y], row);
    VideoFrameIn(frame.get(), info.Pts, av_rescale(1, 1000000LL * desc.RateDen, desc.RateNum));
    return true;
}

void TTranscoder::CountDecodeError(int err, const char* what) {
    ++DecodeErrors;
    // A few broken packets are concealed by the decoders; a stream that mostly fails is damaged.
    if (DecodeErrors > 25 && DecodeErrors * 4 > Packets)
        Fail(QStringLiteral("\"%1\" is damaged: its %2 cannot be decoded (%3)")
                 .arg(T.InputName, QString::fromLatin1(what), AvErrorText(err)));
}

void TTranscoder::DecodeVideo(const AVPacket* pkt) {
    int err = avcodec_send_packet(VDec.get(), pkt);
    if (err < 0 && err != AVERROR(EAGAIN) && err != AVERROR_EOF)
        CountDecodeError(err, "video");
    TFramePtr frame = NewFrame();
    const AVStream* st = In->streams[VIdx];
    while (!VideoDone) {
        err = avcodec_receive_frame(VDec.get(), frame.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
            break;
        if (err < 0) {
            CountDecodeError(err, "video");
            break;
        }
        int64_t ts = frame->best_effort_timestamp;
        int64_t durUs = frame->pkt_duration > 0 ? av_rescale_q(frame->pkt_duration, st->time_base, AV_TIME_BASE_Q) : 0;
        if (durUs <= 0 && T.Probe.RateNum > 0)
            durUs = av_rescale(1, 1000000LL * T.Probe.RateDen, T.Probe.RateNum);
        int64_t relUs;
        if (ts == AV_NOPTS_VALUE)
            relUs = Cur ? SlotTimeUs(CurSlot) + std::max<int64_t>(durUs, 1) : 0;
        else
            relUs = av_rescale_q(ts, st->time_base, AV_TIME_BASE_Q) - TrimAbsUs;
        VideoFrameIn(frame.get(), relUs, durUs);
        av_frame_unref(frame.get());
    }
}

void TTranscoder::DecodeAudio(const AVPacket* pkt) {
    int err = avcodec_send_packet(ADec.get(), pkt);
    if (err < 0 && err != AVERROR(EAGAIN) && err != AVERROR_EOF)
        CountDecodeError(err, "audio");
    TFramePtr frame = NewFrame();
    while (!AudioDone) {
        err = avcodec_receive_frame(ADec.get(), frame.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
            break;
        if (err < 0) {
            CountDecodeError(err, "audio");
            break;
        }
        AudioFrameIn(frame.get());
        av_frame_unref(frame.get());
    }
}

// ---- video -------------------------------------------------------------------------------------

// Frame rate conversion: output frame n (at n / rate) shows the newest source picture whose time
// rounds to n or earlier. Pictures before the trim point are held and replaced, so the first
// output frame is the source picture at the trim start.
void TTranscoder::VideoFrameIn(AVFrame* frame, int64_t relUs, int64_t durUs) {
    const int64_t slot = DivRound(relUs * RateNum, 1000000LL * RateDen);
    if (Cur) {
        EmitUntil(std::min(slot, SlotLimit));
        av_frame_unref(Cur.get());
    } else {
        Cur = NewFrame();
    }
    if (av_frame_ref(Cur.get(), frame) < 0)
        Fail(QStringLiteral("Out of memory"));
    CurSlot = slot;
    CurDurUs = durUs;
    if (NextSlot >= SlotLimit || slot >= SlotLimit)
        VideoDone = true;
}

void TTranscoder::EmitUntil(int64_t endSlot) {
    while (NextSlot < endSlot) {
        Emit(NextSlot);
        ++NextSlot;
        if (!HasAudio)
            SilenceUntil(av_rescale(NextSlot, int64_t(kAudioRate) * RateDen, RateNum));
        ReportProgress(false);
        if (!Finishing && J.StopRequested && J.StopRequested()) {
            Stopped = true;
            VideoDone = true;
            return;
        }
    }
}

void TTranscoder::Emit(int64_t slot) {
    TFramePtr f = NewFrame();
    if (av_frame_ref(f.get(), Cur.get()) < 0)
        Fail(QStringLiteral("Out of memory"));
    f->pts = slot;
    QueueVideo(std::move(f), false);
}

// On the encoding thread.
void TTranscoder::FilterAndEncode(AVFrame* f) {
    if (!VGraph || f->width != GraphW || f->height != GraphH || f->format != GraphFmt ||
        av_cmp_q(f->sample_aspect_ratio, GraphSar) != 0) {
        FlushVideoGraph();
        BuildVideoGraph(f);
    }
    int err = av_buffersrc_add_frame_flags(VSrc, f, 0);
    if (err < 0)
        Fail(QStringLiteral("Video filtering failed: %1").arg(AvErrorText(err)));
    DrainVideoGraph();
}

void TTranscoder::BuildVideoGraph(const AVFrame* f) {
    VGraph.reset(avfilter_graph_alloc());
    if (!VGraph)
        Fail(QStringLiteral("Out of memory"));
    GraphW = f->width;
    GraphH = f->height;
    GraphFmt = f->format;
    GraphSar = f->sample_aspect_ratio;
    AVRational sar = GraphSar.num > 0 ? GraphSar : AVRational{1, 1};
    if (T.Probe.FrameInput)
        sar = AVRational{1, 1};

    const double frameShape = av_q2d(FrameAspect);
    const QString chain = T.Probe.FrameInput ? QString() : T.Output.VideoFilters.trimmed();
    double content = T.Target.ContentAspect;
    if (T.Probe.FrameInput) {
        content = frameShape; // the canvas is painted for the whole frame
    } else if (T.Output.FrameAspectRatio.trimmed().isEmpty()) {
        int ow = 0, oh = 0;
        AVRational osar{1, 1};
        QString err;
        if (!ChainOutputShape(GraphW, GraphH, GraphFmt, sar, chain, &ow, &oh, &osar, &err))
            Fail(err);
        content = double(ow) * av_q2d(osar) / oh;
    }
    if (content <= 0)
        content = frameShape;
    // Letterbox a wider picture, pillarbox a narrower one; shapes within 1% just fill the frame.
    int pw = W, ph = H;
    const int hStep = KeepInterlaced ? 4 : 2;
    if (content > frameShape * 1.01)
        ph = std::min(H, RoundTo(H * frameShape / content, hStep));
    else if (content < frameShape / 1.01)
        pw = std::min(W, RoundTo(W * content / frameShape, 2));
    const int px = (W - pw) / 2 / 2 * 2;
    const int py = (H - ph) / 2 / 2 * 2;

    QString text;
    // Pictures that are progressive from the start need no deinterlacer in their way.
    if (Deinterlace && (T.Probe.Interlaced || f->interlaced_frame))
        text += QStringLiteral("yadif=mode=send_frame:parity=auto:deint=interlaced,");
    if (!chain.isEmpty())
        text += chain + QLatin1Char(',');
    text += QStringLiteral("scale=w=%1:h=%2:interl=%3:flags=bicubic,pad=%4:%5:%6:%7:color=black,setsar=%8/%9,"
                           "format=yuv420p")
                .arg(pw)
                .arg(ph)
                .arg(KeepInterlaced ? 1 : 0)
                .arg(W)
                .arg(H)
                .arg(px)
                .arg(py)
                .arg(OutSar.num)
                .arg(OutSar.den);

    const QByteArray args = QStringLiteral("video_size=%1x%2:pix_fmt=%3:time_base=%4/%5:frame_rate=%6/%7:pixel_aspect=%8/%9")
                                .arg(GraphW)
                                .arg(GraphH)
                                .arg(GraphFmt)
                                .arg(RateDen)
                                .arg(RateNum)
                                .arg(RateNum)
                                .arg(RateDen)
                                .arg(sar.num)
                                .arg(sar.den)
                                .toUtf8();
    int err = avfilter_graph_create_filter(&VSrc, avfilter_get_by_name("buffer"), "in", args.constData(), nullptr,
                                           VGraph.get());
    if (err >= 0)
        err = avfilter_graph_create_filter(&VSink, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr,
                                           VGraph.get());
    if (err >= 0) {
        AVFilterInOut* outputs = avfilter_inout_alloc();
        AVFilterInOut* inputs = avfilter_inout_alloc();
        outputs->name = av_strdup("in");
        outputs->filter_ctx = VSrc;
        inputs->name = av_strdup("out");
        inputs->filter_ctx = VSink;
        err = avfilter_graph_parse_ptr(VGraph.get(), text.toUtf8().constData(), &inputs, &outputs, nullptr);
        avfilter_inout_free(&inputs);
        avfilter_inout_free(&outputs);
        if (err >= 0)
            err = avfilter_graph_config(VGraph.get(), nullptr);
    }
    if (err < 0)
        Fail(QStringLiteral("Cannot set up the video filters \"%1\": %2").arg(text, AvErrorText(err)));
}

void TTranscoder::FlushVideoGraph() {
    if (!VGraph)
        return;
    if (av_buffersrc_add_frame_flags(VSrc, nullptr, 0) >= 0)
        DrainVideoGraph();
    VGraph.reset();
    VSrc = VSink = nullptr;
}

void TTranscoder::DrainVideoGraph() {
    TFramePtr out = NewFrame();
    const AVRational tb = av_buffersink_get_time_base(VSink);
    while (av_buffersink_get_frame(VSink, out.get()) >= 0) {
        out->pts = av_rescale_q(out->pts, tb, AVRational{RateDen, RateNum});
        EncodeVideo(out.get());
        av_frame_unref(out.get());
    }
}

// On the encoding thread.
void TTranscoder::EncodeVideo(AVFrame* frame) {
    frame->pict_type = AV_PICTURE_TYPE_NONE;
    frame->sample_aspect_ratio = OutSar;
    frame->interlaced_frame = KeepInterlaced ? 1 : 0;
    frame->top_field_first = KeepInterlaced && Tff ? 1 : 0;
    SendToEncoder(VEnc.get(), VSt, frame, VEncPkt.get());
}

void TTranscoder::QueueVideo(TFramePtr frame, bool filtered) {
    std::unique_lock lock(VEncLock);
    if (!VEncThread.joinable())
        VEncThread = std::thread([this] { VideoEncodingLoop(); });
    // A short queue: enough to keep both threads busy, little memory.
    VEncChanged.wait(lock, [this] { return VEncQueue.size() < 8 || VEncFailed; });
    if (VEncFailed)
        Fail(VEncError);
    VEncQueue.push_back({std::move(frame), filtered});
    VEncChanged.notify_all();
}

void TTranscoder::VideoEncodingLoop() {
    for (;;) {
        TVideoJob job;
        {
            std::unique_lock lock(VEncLock);
            VEncChanged.wait(lock, [this] { return !VEncQueue.empty() || VEncAbort; });
            if (VEncAbort)
                return;
            job = std::move(VEncQueue.front());
            VEncQueue.pop_front();
            VEncChanged.notify_all();
        }
        try {
            if (!job.Frame) {
                FlushVideoGraph();
                SendToEncoder(VEnc.get(), VSt, nullptr, VEncPkt.get());
                return; // every packet is written
            }
            if (job.Filtered)
                EncodeVideo(job.Frame.get());
            else
                FilterAndEncode(job.Frame.get());
        } catch (const std::exception& e) {
            std::lock_guard lock(VEncLock);
            VEncFailed = true;
            VEncError = QString::fromStdString(e.what());
            VEncChanged.notify_all();
            return;
        }
    }
}

void TTranscoder::FinishVideoEncoding() {
    QueueVideo(nullptr, true);
    VEncThread.join();
    if (VEncFailed)
        Fail(VEncError);
}

void TTranscoder::StopVideoEncoding() {
    if (!VEncThread.joinable())
        return;
    {
        std::lock_guard lock(VEncLock);
        VEncAbort = true;
        VEncChanged.notify_all();
    }
    VEncThread.join();
}

void TTranscoder::BlackUntil(int64_t endSlot) {
    endSlot = std::min(endSlot, SlotLimit);
    if (NextSlot >= endSlot)
        return;
    if (!Black) {
        Black = NewFrame();
        Black->format = AV_PIX_FMT_YUV420P;
        Black->width = W;
        Black->height = H;
        if (av_frame_get_buffer(Black.get(), 0) < 0)
            Fail(QStringLiteral("Out of memory"));
        memset(Black->data[0], 16, size_t(Black->linesize[0]) * H);
        memset(Black->data[1], 128, size_t(Black->linesize[1]) * (H / 2));
        memset(Black->data[2], 128, size_t(Black->linesize[2]) * (H / 2));
    }
    while (NextSlot < endSlot) {
        // The encoder may still hold the previous one; each frame goes in as its own reference.
        TFramePtr f = NewFrame();
        av_frame_ref(f.get(), Black.get());
        f->pts = NextSlot++;
        QueueVideo(std::move(f), true);
    }
}

// ---- audio -------------------------------------------------------------------------------------

void TTranscoder::AudioFrameIn(AVFrame* frame) {
    AVChannelLayout layout{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame->ch_layout.nb_channels <= 0)
        av_channel_layout_default(&layout, std::max(frame->ch_layout.nb_channels, 1));
    else
        av_channel_layout_copy(&layout, &frame->ch_layout);
    if (!AGraph || frame->sample_rate != AGraphRate || frame->format != AGraphFmt ||
        av_channel_layout_compare(&layout, &AGraphLayout) != 0) {
        FlushAudioGraph();
        av_channel_layout_uninit(&AGraphLayout);
        av_channel_layout_copy(&AGraphLayout, &layout);
        AGraphRate = frame->sample_rate;
        AGraphFmt = frame->format;
        BuildAudioGraph(frame);
    }
    av_channel_layout_uninit(&layout);

    const AVStream* st = In->streams[AIdx];
    const int64_t ts = frame->best_effort_timestamp;
    if (ts != AV_NOPTS_VALUE)
        frame->pts = av_rescale_q(ts, st->time_base, AVRational{1, AGraphRate}) -
                     av_rescale(TrimAbsUs, AGraphRate, 1000000);
    else
        frame->pts = AV_NOPTS_VALUE;
    int err = av_buffersrc_add_frame_flags(ASrc, frame, AV_BUFFERSRC_FLAG_KEEP_REF);
    if (err < 0)
        Fail(QStringLiteral("Audio filtering failed: %1").arg(AvErrorText(err)));
    DrainAudioGraph();
}

void TTranscoder::BuildAudioGraph(const AVFrame* frame) {
    AGraph.reset(avfilter_graph_alloc());
    if (!AGraph)
        Fail(QStringLiteral("Out of memory"));
    char layoutText[128] = {};
    av_channel_layout_describe(&AGraphLayout, layoutText, sizeof layoutText);
    const QByteArray args = QStringLiteral("time_base=1/%1:sample_rate=%1:sample_fmt=%2:channel_layout=%3")
                                .arg(frame->sample_rate)
                                .arg(QString::fromLatin1(av_get_sample_fmt_name(AVSampleFormat(frame->format))))
                                .arg(QString::fromLatin1(layoutText))
                                .toUtf8();
    // The resampler places every sample at its time stamp: it drops what lies before the trim
    // start, fills gaps with silence and absorbs small drifts, so the sound keeps pace with the
    // picture. A new graph (the source changed its format) continues where the last one ended.
    const QByteArray text = QStringLiteral("aresample=%1:async=1000:min_hard_comp=0.02:first_pts=%2,"
                                           "aformat=sample_fmts=fltp:sample_rates=%1:channel_layouts=stereo")
                                .arg(kAudioRate)
                                .arg(SamplesOut)
                                .toUtf8();
    int err = avfilter_graph_create_filter(&ASrc, avfilter_get_by_name("abuffer"), "in", args.constData(), nullptr,
                                           AGraph.get());
    if (err >= 0)
        err = avfilter_graph_create_filter(&ASink, avfilter_get_by_name("abuffersink"), "out", nullptr, nullptr,
                                           AGraph.get());
    if (err >= 0) {
        AVFilterInOut* outputs = avfilter_inout_alloc();
        AVFilterInOut* inputs = avfilter_inout_alloc();
        outputs->name = av_strdup("in");
        outputs->filter_ctx = ASrc;
        inputs->name = av_strdup("out");
        inputs->filter_ctx = ASink;
        err = avfilter_graph_parse_ptr(AGraph.get(), text.constData(), &inputs, &outputs, nullptr);
        avfilter_inout_free(&inputs);
        avfilter_inout_free(&outputs);
        if (err >= 0)
            err = avfilter_graph_config(AGraph.get(), nullptr);
    }
    if (err < 0)
        Fail(QStringLiteral("Cannot set up the audio filters: %1").arg(AvErrorText(err)));
    av_buffersink_set_frame_size(ASink, kAc3FrameSize);
}

void TTranscoder::FlushAudioGraph() {
    if (!AGraph)
        return;
    if (av_buffersrc_add_frame_flags(ASrc, nullptr, 0) >= 0)
        DrainAudioGraph();
    AGraph.reset();
    ASrc = ASink = nullptr;
}

void TTranscoder::DrainAudioGraph() {
    TFramePtr out = NewFrame();
    while (av_buffersink_get_frame(ASink, out.get()) >= 0) {
        if (!AudioDone)
            EncodeAudio(out.get());
        av_frame_unref(out.get());
    }
}

// Every AC-3 frame holds exactly 1536 samples: a short last frame is completed with silence.
void TTranscoder::EncodeAudio(const AVFrame* in) {
    int n = in ? in->nb_samples : kAc3FrameSize;
    if (SamplesOut + n > SampleLimit)
        n = static_cast<int>(std::max<int64_t>(SampleLimit - SamplesOut, 0));
    if (n <= 0) {
        AudioDone = true;
        return;
    }
    TFramePtr f = NewFrame();
    f->format = AV_SAMPLE_FMT_FLTP;
    f->sample_rate = kAudioRate;
    f->nb_samples = kAc3FrameSize;
    av_channel_layout_default(&f->ch_layout, 2);
    if (av_frame_get_buffer(f.get(), 0) < 0)
        Fail(QStringLiteral("Out of memory"));
    for (int c = 0; c < 2; ++c) {
        float* dst = reinterpret_cast<float*>(f->data[c]);
        std::fill(dst, dst + kAc3FrameSize, 0.0f);
        if (in)
            memcpy(dst, in->data[c], sizeof(float) * std::min(n, kAc3FrameSize));
    }
    f->pts = SamplesOut;
    SendToEncoder(AEnc.get(), ASt, f.get(), EncPkt.get());
    SamplesOut += kAc3FrameSize;
    if (SamplesOut >= SampleLimit)
        AudioDone = true;
    if (!HasVideo) {
        BlackUntil(DivCeil(SamplesOut * RateNum, int64_t(kAudioRate) * RateDen));
        ReportProgress(false);
    }
}

void TTranscoder::SilenceUntil(int64_t samples) {
    samples = std::min(samples, SampleLimit);
    while (SamplesOut < samples)
        EncodeAudio(nullptr);
}

// ---- output ------------------------------------------------------------------------------------

void TTranscoder::SendToEncoder(AVCodecContext* enc, AVStream* st, const AVFrame* frame, AVPacket* pkt) {
    int err = avcodec_send_frame(enc, frame);
    if (err < 0 && err != AVERROR_EOF)
        Fail(QStringLiteral("Encoding failed: %1").arg(AvErrorText(err)));
    Drain(enc, st, pkt);
}

void TTranscoder::Drain(AVCodecContext* enc, AVStream* st, AVPacket* pkt) {
    while (true) {
        int err = avcodec_receive_packet(enc, pkt);
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
            return;
        if (err < 0)
            Fail(QStringLiteral("Encoding failed: %1").arg(AvErrorText(err)));
        av_packet_rescale_ts(pkt, enc->time_base, st->time_base);
        pkt->stream_index = st->index;
        std::lock_guard lock(MuxLock);
        err = av_interleaved_write_frame(Out, pkt);
        if (err < 0)
            Fail(QStringLiteral("Cannot write to \"%1\": %2").arg(T.OutputName, AvErrorText(err)));
    }
}

void TTranscoder::ReportProgress(bool force) {
    if (!J.Progress)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - LastProgress < std::chrono::milliseconds(100))
        return;
    LastProgress = now;
    J.Progress(SlotTimeUs(NextSlot));
}

void TTranscoder::Finish() {
    // Once the input has ended, the little that is left is completed even when a stop comes in.
    Finishing = !Stopped;
    if (HasVideo) {
        if (Cur && !VideoDone) {
            int64_t end = CurSlot + std::max<int64_t>(1, SlotsFor(CurDurUs));
            end = std::max(end, NextSlot + (NextSlot == 0 ? 1 : 0));
            EmitUntil(std::min(end, SlotLimit));
        }
        if (NextSlot == 0 && !Cur && !T.Probe.FrameInput && !Stopped)
            Fail(QStringLiteral("No picture of \"%1\" could be decoded").arg(T.InputName));
    }
    if (AGraph)
        FlushAudioGraph();
    // Both streams end together: the shorter one is completed, the picture by holding its last
    // frame, the sound with silence.
    if (HasVideo && !Stopped) {
        const int64_t audioEndSlot = DivCeil(SamplesOut * RateNum, int64_t(kAudioRate) * RateDen);
        if (Cur)
            EmitUntil(std::min(audioEndSlot, SlotLimit));
        else
            BlackUntil(audioEndSlot);
    }
    SilenceUntil(av_rescale(NextSlot, int64_t(kAudioRate) * RateDen, RateNum));

    FinishVideoEncoding();
    SendToEncoder(AEnc.get(), ASt, nullptr, EncPkt.get());
    int err = av_write_trailer(Out);
    if (err < 0)
        Fail(QStringLiteral("Cannot write to \"%1\": %2").arg(T.OutputName, AvErrorText(err)));
    if (Out->pb) {
        avio_flush(Out->pb);
        if (Out->pb->error < 0)
            Fail(QStringLiteral("Cannot write to \"%1\": %2").arg(T.OutputName, AvErrorText(Out->pb->error)));
        err = avio_closep(&Out->pb);
        if (err < 0)
            Fail(QStringLiteral("Cannot write to \"%1\": %2").arg(T.OutputName, AvErrorText(err)));
    }
    ReportProgress(true);
}

TTranscodeResult TTranscoder::Run() {
    TTranscodeResult result;
    try {
        OpenSource();
        OpenOutput();
        TPacketPtr pkt(av_packet_alloc());
        if (!pkt)
            Fail(QStringLiteral("Out of memory"));
        bool endOfInput = false;
        while (!Stopped) {
            if (J.WaitIfPaused && J.WaitIfPaused()) {
                Stopped = true;
                break;
            }
            if ((!HasVideo || VideoDone) && (!HasAudio || AudioDone))
                break;
            if (T.Probe.FrameInput) {
                if (!ReadFrameInput()) {
                    endOfInput = !Stopped;
                    break;
                }
                continue;
            }
            int err = av_read_frame(In.get(), pkt.get());
            if (err == AVERROR_EOF || (err < 0 && avio_feof(In->pb))) {
                endOfInput = true;
                break;
            }
            if (err == AVERROR_EXIT && J.StopRequested && J.StopRequested()) {
                Stopped = true;
                break;
            }
            if (err == AVERROR(EAGAIN))
                continue;
            if (err < 0)
                Fail(QStringLiteral("Cannot read \"%1\": %2").arg(T.InputName, AvErrorText(err)));
            const AVStream* st = In->streams[pkt->stream_index];
            const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
            if (ts != AV_NOPTS_VALUE)
                LastSeenUs = std::max(LastSeenUs, av_rescale_q(ts + std::max<int64_t>(pkt->duration, 0),
                                                               st->time_base, AV_TIME_BASE_Q));
            if (pkt->stream_index == VIdx && !VideoDone) {
                ++Packets;
                DecodeVideo(pkt.get());
            } else if (pkt->stream_index == AIdx && !AudioDone) {
                ++Packets;
                DecodeAudio(pkt.get());
            }
            av_packet_unref(pkt.get());
        }
        if (endOfInput && !T.Probe.FrameInput) {
            // A container that states its length and then ends well before it was cut short.
            const int64_t start = In->start_time != AV_NOPTS_VALUE ? In->start_time : 0;
            int64_t expected = T.Probe.Duration > 0 ? start + T.Probe.Duration : 0;
            if (T.Output.TimeLength > 0 && expected > 0)
                expected = std::min(expected, TrimAbsUs + T.Output.TimeLength);
            const int64_t tolerance = std::max<int64_t>(1000000, T.Probe.Duration / 50);
            if (expected > 0 && LastSeenUs != INT64_MIN && LastSeenUs < expected - tolerance)
                Fail(QStringLiteral("\"%1\" ends at %2 although it states a length of %3: the file is truncated or "
                                    "damaged")
                         .arg(T.InputName, TimeText(LastSeenUs - start), TimeText(T.Probe.Duration)));
            if (VDec && !VideoDone)
                DecodeVideo(nullptr);
            if (ADec && !AudioDone)
                DecodeAudio(nullptr);
        }
        Finish();
        CloseOutput();
        result.Ok = !Stopped;
        result.Stopped = Stopped;
    } catch (const std::exception& e) {
        result.Error = QString::fromStdString(e.what());
        StopVideoEncoding();
        CloseOutput();
        // Only a file this task made is removed: never a device or whatever else the name may be.
        if (OutputCreated) {
            const QFileInfo fi(T.OutputName);
            if (fi.isFile() && !fi.isSymLink())
                QFile::remove(T.OutputName);
        }
    }
    return result;
}

} // namespace

// ---- registration ------------------------------------------------------------------------------

int64_t TTranscodeTaskEntry::ExpectedLength() const {
    if (Output.TimeLength > 0)
        return Probe.Duration > 0
                   ? std::min(Output.TimeLength, std::max<int64_t>(Probe.Duration - std::max<int64_t>(Input.TimeStart, 0), 0))
                   : Output.TimeLength;
    if (Probe.Duration > 0)
        return std::max<int64_t>(Probe.Duration - std::max<int64_t>(Input.TimeStart, 0), 0);
    return 0;
}

bool ProbeSource(const QString& name, const TInputOptions& options, TSourceProbe* probe, QString* errMsg) {
    *probe = TSourceProbe();
    if (name.trimmed().isEmpty()) {
        *errMsg = QStringLiteral("No input file name given");
        return false;
    }
    if (options.TimeStart < -1) {
        *errMsg = QStringLiteral("The start time %1 is negative").arg(options.TimeStart);
        return false;
    }
    if (options.ForceFormat.compare(QLatin1String("frameinput"), Qt::CaseInsensitive) == 0) {
        if (!FrameInputFormatRegistered()) {
            *errMsg = QStringLiteral("The input format \"frameinput\" is not registered");
            return false;
        }
        if (!ParseFrameInputName(name, &probe->Frame, errMsg))
            return false;
        if (!FrameInputAdapterAlive(probe->Frame.Adapter)) {
            *errMsg = QStringLiteral("No frame input adapter has the identity %1").arg(probe->Frame.Adapter);
            return false;
        }
        probe->FrameInput = true;
        probe->HasVideo = true;
        probe->Width = probe->Frame.Width;
        probe->Height = probe->Frame.Height;
        probe->PixelFormat = AV_PIX_FMT_RGB24;
        probe->SarNum = probe->SarDen = 1;
        probe->RateNum = probe->Frame.RateNum;
        probe->RateDen = probe->Frame.RateDen;
        return true;
    }
    const QFileInfo fi(name);
    if (!fi.exists()) {
        *errMsg = QStringLiteral("The file \"%1\" does not exist").arg(name);
        return false;
    }
    if (!fi.isFile() || fi.size() == 0) {
        *errMsg = QStringLiteral("\"%1\" is empty or not a file").arg(name);
        return false;
    }
    TInputPtr in;
    if (!OpenInput(name, options.ForceFormat, &in, errMsg))
        return false;
    const int v = BestVideoStream(in.get());
    const int a = BestAudioStream(in.get(), v);
    if (v < 0 && a < 0) {
        *errMsg = QStringLiteral("\"%1\" holds no video or audio that can be decoded").arg(name);
        return false;
    }
    probe->Duration = in->duration > 0 ? in->duration : 0;
    probe->HasAudio = a >= 0;
    if (v >= 0) {
        const AVStream* st = in->streams[v];
        const AVCodecParameters* par = st->codecpar;
        probe->HasVideo = true;
        probe->Width = par->width;
        probe->Height = par->height;
        probe->PixelFormat = par->format >= 0 ? par->format : AV_PIX_FMT_YUV420P;
        AVRational sar = av_guess_sample_aspect_ratio(in.get(), const_cast<AVStream*>(st), nullptr);
        probe->SarNum = sar.num > 0 ? sar.num : 1;
        probe->SarDen = sar.num > 0 ? sar.den : 1;
        AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
        if (rate.num > 0 && rate.den > 0) {
            probe->RateNum = rate.num;
            probe->RateDen = rate.den;
        }
        switch (par->field_order) {
        case AV_FIELD_TT:
        case AV_FIELD_TB:
            probe->Interlaced = true;
            probe->TopFieldFirst = true;
            break;
        case AV_FIELD_BB:
        case AV_FIELD_BT:
            probe->Interlaced = true;
            probe->TopFieldFirst = false;
            break;
        default:
            break;
        }
    }
    if (options.TimeStart > 0 && probe->Duration > 0 && options.TimeStart >= probe->Duration) {
        *errMsg = QStringLiteral("The start time %1 lies beyond the end of \"%2\" (%3)")
                      .arg(TimeText(options.TimeStart), name, TimeText(probe->Duration));
        return false;
    }
    return true;
}

bool ResolveOutput(TTranscodeTaskEntry& task, QString* errMsg) {
    const TOutputOptions& o = task.Output;
    TTargetFormat tf;
    if (o.TargetType != ttDVD) {
        *errMsg = QStringLiteral("Only the DVD target is supported");
        return false;
    }
    if (task.OutputName.trimmed().isEmpty()) {
        *errMsg = QStringLiteral("No output file name given");
        return false;
    }
    const QFileInfo out(task.OutputName);
    if (!out.absoluteDir().exists()) {
        *errMsg = QStringLiteral("The folder of \"%1\" does not exist").arg(task.OutputName);
        return false;
    }
    if (out.isDir()) {
        *errMsg = QStringLiteral("\"%1\" is a folder").arg(task.OutputName);
        return false;
    }
    if (!task.Probe.FrameInput && out.exists() && QFileInfo(task.InputName).canonicalFilePath() == out.canonicalFilePath()) {
        *errMsg = QStringLiteral("The output file would overwrite its own source");
        return false;
    }
    // Standard
    if (o.NormType == ntPAL)
        tf.Pal = true;
    else if (o.NormType == ntNTSC)
        tf.Pal = false;
    else if (task.Probe.FrameInput)
        tf.Pal = task.Probe.Height != 480;
    else {
        const double fps = task.Probe.RateNum > 0 ? double(task.Probe.RateNum) / task.Probe.RateDen : 25;
        tf.Pal = std::abs(fps - 25) < 0.1 || std::abs(fps - 50) < 0.1 || !task.Probe.HasVideo;
    }
    tf.Height = tf.Pal ? 576 : 480;
    tf.Width = 720;
    tf.RateNum = tf.Pal ? 25 : 30000;
    tf.RateDen = tf.Pal ? 1 : 1001;
    tf.Gop = tf.Pal ? 15 : 18;
    // Frame rate: a DVD knows exactly one per standard.
    const QString rate = o.FrameRate.trimmed().toLower();
    if (!rate.isEmpty()) {
        const bool pal = rate == QLatin1String("25") || rate == QLatin1String("25/1") || rate == QLatin1String("pal");
        const bool ntsc = rate == QLatin1String("29.97") || rate == QLatin1String("30000/1001") ||
                          rate == QLatin1String("ntsc") || rate == QLatin1String("30");
        if ((!pal && !ntsc) || pal != tf.Pal) {
            *errMsg = QStringLiteral("The frame rate \"%1\" is not allowed on a %2 DVD (it must be %3)")
                          .arg(o.FrameRate, tf.Pal ? QStringLiteral("PAL") : QStringLiteral("NTSC"),
                               tf.Pal ? QStringLiteral("25") : QStringLiteral("30000/1001"));
            return false;
        }
    }
    const QString size = o.FrameSize.trimmed().toLower();
    if (!size.isEmpty()) {
        static const QRegularExpression re(QStringLiteral("^(\\d+)[x*:](\\d+)$"));
        const auto m = re.match(size);
        const int w = m.hasMatch() ? m.captured(1).toInt() : 0;
        const int h = m.hasMatch() ? m.captured(2).toInt() : 0;
        const bool ok = (h == tf.Height && (w == 720 || w == 704 || w == 352)) || (h == tf.Height / 2 && w == 352);
        if (!ok) {
            *errMsg = QStringLiteral("The frame size \"%1\" is not a %2 DVD frame size")
                          .arg(o.FrameSize, tf.Pal ? QStringLiteral("PAL") : QStringLiteral("NTSC"));
            return false;
        }
        tf.Width = w;
        tf.Height = h;
    }
    if (o.TimeLength == 0 || o.TimeLength < -1) {
        *errMsg = QStringLiteral("The length %1 of the output is not valid").arg(o.TimeLength);
        return false;
    }
    if (o.VideoBitrate != -1 && (o.VideoBitrate < 500000 || o.VideoBitrate > kPeakVideoRate)) {
        *errMsg = QStringLiteral("The video bit rate %1 is outside what a DVD allows").arg(o.VideoBitrate);
        return false;
    }
    // Display shape of the picture.
    const QString aspect = o.FrameAspectRatio.trimmed();
    tf.ContentAspect = 0;
    if (aspect == QLatin1String("-1")) {
        tf.ContentAspect = 0;
    } else if (!aspect.isEmpty()) {
        if (!ParseAspect(aspect, &tf.ContentAspect)) {
            *errMsg = QStringLiteral("The aspect ratio \"%1\" is not valid").arg(o.FrameAspectRatio);
            return false;
        }
    }
    if (task.Probe.HasVideo && !task.Probe.FrameInput) {
        int ow = 0, oh = 0;
        AVRational osar{1, 1};
        if (!ChainOutputShape(task.Probe.Width, task.Probe.Height, task.Probe.PixelFormat,
                              AVRational{task.Probe.SarNum, task.Probe.SarDen}, o.VideoFilters, &ow, &oh, &osar,
                              errMsg))
            return false;
        if (aspect.isEmpty())
            tf.ContentAspect = double(ow) * av_q2d(osar) / oh;
    } else if (!o.VideoFilters.trimmed().isEmpty() && task.Probe.FrameInput) {
        *errMsg = QStringLiteral("Video filters cannot be applied to a frame input");
        return false;
    }
    if (task.Probe.FrameInput)
        tf.ContentAspect = 0;
    task.Target = tf;
    return true;
}

TTranscodeResult RunTranscodeTask(const TTranscodeTaskEntry& task, const TTranscodeJob& job) {
    TTranscoder t(task, job);
    return t.Run();
}
