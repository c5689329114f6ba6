#include "media/FFPlayer.h"
#include "media/PlayerGeometry.h"

#include <QEvent>
#include <QMetaObject>
#include <QPainter>
#include <QWidget>
#include <SDL.h>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

// The widget the picture is drawn in: a child of the caller's render panel, below the panel's
// other children (the crop dialog's handles sit on top of it).
class TPlayerView : public QWidget {
public:
    explicit TPlayerView(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setObjectName(QStringLiteral("PlayerView"));
    }
    QImage Picture;
    QPoint At;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        if (!Picture.isNull())
            painter.drawImage(At, Picture);
    }
};

namespace {

using TClock = std::chrono::steady_clock;

int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(TClock::now().time_since_epoch())
        .count();
}

// Timed waits go through the system clock: libstdc++ turns a steady-clock wait into
// pthread_cond_clockwait, which ThreadSanitizer cannot follow. Waits are short and re-check
// their condition, so a jump of the wall clock costs at most one early or late wake-up.
void WaitShortly(std::condition_variable& c, std::unique_lock<std::mutex>& lk, int64_t us) {
    c.wait_until(lk, std::chrono::system_clock::now() + std::chrono::microseconds(us));
}

constexpr size_t MaxQueueBytes = 32u << 20;
constexpr size_t EnoughVideoPackets = 48;
constexpr size_t EnoughAudioPackets = 96;

// Whether a sound device can be used at all; asked once per process. SDL's "dummy" driver
// swallows the sound without playing it, so it counts as no device.
bool SoundAvailable(QString* reason) {
    static std::once_flag once;
    static bool ok = false;
    static QString why;
    std::call_once(once, [] {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            why = QStringLiteral("No sound device (%1): playing the picture only")
                      .arg(QString::fromUtf8(SDL_GetError()));
            return;
        }
        const char* driver = SDL_GetCurrentAudioDriver();
        if (!driver || qstrcmp(driver, "dummy") == 0) {
            why = QStringLiteral("No sound device: playing the picture only");
            return;
        }
        ok = true;
    });
    if (reason)
        *reason = why;
    return ok;
}

struct TAudioChunk {
    std::vector<uint8_t> Data;
    size_t Pos = 0;
    int64_t Pts = 0; // of Data[0]
};

} // namespace

struct TFFPlayer::TSession {
    TFFPlayer* Owner = nullptr;
    uint64_t Generation = 0;

    // Set up by Open before the threads start, read-only afterwards.
    AVFormatContext* Fmt = nullptr;
    int VIdx = -1, AIdx = -1;
    AVCodecContext* VDec = nullptr;
    AVCodecContext* ADec = nullptr; // null when the sound is not decoded at all
    AVRational VTb{1, 1}, ATb{1, 1};
    int64_t StartTime = 0; // microseconds
    int64_t Duration = 0;
    int64_t FrameDur = 40000;
    SDL_AudioDeviceID Dev = 0; // 0: no sound output
    int OutRate = 0;
    int64_t BytesPerSec = 0;
    int64_t DeviceLatency = 0;
    SwrContext* Swr = nullptr;

    // Shared between the threads; M guards every field in this block.
    std::mutex M;
    std::condition_variable C;
    bool Quit = false;
    bool Paused = false;
    int Serial = 0;                   // bumped by every seek carried out
    bool SeekRequested = false;       // a seek waits for the demuxer thread
    bool Seeking = false;             // from the request until the new frame is shown
    bool ShowNext = false;            // show the next frame even while paused (paused open)
    int64_t SeekTarget = 0;           // of the pending seek
    int64_t SerialTarget = INT64_MIN; // frames and samples before it are dropped (this serial)
    std::deque<AVPacket*> VQ, AQ;
    size_t QBytes = 0;
    bool DemuxEof = false;
    bool VideoDone = false, AudioDecodeDone = false, AudioDone = false, EndReported = false;
    std::deque<TAudioChunk> Fifo;
    size_t FifoBytes = 0;
    bool ClockStarted = false;
    int64_t ClockPts = 0, ClockTime = 0;
    int64_t ShownPts = -1;
    int64_t LastShownAt = 0;

    // Guarded by Owner->FPictureMutex.
    AVFrame* Current = nullptr; // frame now shown (when no hook picture stands for it)
    QImage CurrentHooked;       // the hooked picture, when the hook drew on it

    // Video thread only.
    SwsContext* DispSws = nullptr;  // decoded frame -> display size (YUV 4:2:0, or RGB at once)
    SwsContext* DispRgbSws = nullptr; // display-size YUV -> RGB
    AVFrame* DispYuv = nullptr;       // the display-size YUV picture, reused frame after frame
    QImage DispImages[3];             // reused for the shown picture once the GUI let go of it
    SwsContext* HookSws = nullptr;
    AVFrame* Held = nullptr; // latest frame dropped while seeking, shown if the seek hits the end
    // GUI thread only (CurrentFrame).
    SwsContext* GrabSws = nullptr;

    std::thread Demux, Video, Audio;

    ~TSession() {
        for (AVPacket* p : VQ)
            av_packet_free(&p);
        for (AVPacket* p : AQ)
            av_packet_free(&p);
        av_frame_free(&Current);
        av_frame_free(&Held);
        sws_freeContext(DispSws);
        sws_freeContext(DispRgbSws);
        av_frame_free(&DispYuv);
        sws_freeContext(HookSws);
        sws_freeContext(GrabSws);
        swr_free(&Swr);
        avcodec_free_context(&VDec);
        avcodec_free_context(&ADec);
        avformat_close_input(&Fmt);
    }

    // M held. The next packet of a decoder's queue; none (null, which drains the decoder) once
    // the queue is empty, which marks the end as sent.
    AVPacket* PopPacket(std::deque<AVPacket*>& queue, bool& eofSent) {
        if (queue.empty()) {
            eofSent = true;
            return nullptr;
        }
        AVPacket* pkt = queue.front();
        queue.pop_front();
        QBytes -= pkt->size;
        C.notify_all();
        return pkt;
    }

    // M not held. Feeds one packet (null: the end) to a decoder and hands every frame it gives
    // to handle, which returns false to stop. True when the decoder has given its last frame
    // and no handler stopped it.
    template <typename THandle>
    static bool Decode(AVCodecContext* dec, AVPacket* pkt, AVFrame* frame, THandle handle) {
        bool drained = false;
        int ret;
        do {
            ret = avcodec_send_packet(dec, pkt);
            int rr;
            while ((rr = avcodec_receive_frame(dec, frame)) == 0) {
                const bool go = handle(frame);
                av_frame_unref(frame);
                if (!go)
                    return false;
            }
            if (rr == AVERROR_EOF)
                drained = true;
        } while (ret == AVERROR(EAGAIN));
        return drained;
    }

    // --- clock (M held) ---
    int64_t ClockGet() const {
        if (!ClockStarted)
            return INT64_MIN;
        return Paused ? ClockPts : ClockPts + (NowUs() - ClockTime);
    }
    void ClockSet(int64_t pts) {
        ClockPts = pts;
        ClockTime = NowUs();
        ClockStarted = true;
    }
    bool AudioActive() const { return ADec != nullptr; }

    // M held. Reports the end once both streams are through.
    void CheckEnd() {
        if (EndReported || SeekRequested)
            return;
        if ((VIdx >= 0 && !VideoDone) || (AudioActive() && !AudioDone))
            return;
        EndReported = true;
        Owner->PostPosition(Generation, ShownPts >= 0 ? ShownPts : Duration);
        Owner->PostState(Generation, psEnd);
    }

    void DemuxLoop();
    void VideoLoop();
    void AudioLoop();
    bool HandleVideoFrame(AVFrame* frame, int serial);
    bool HandleAudioFrame(AVFrame* frame, int serial, int64_t& nextPts);
    void Present(AVFrame* frame, int64_t pts);
    QImage ScaleForDisplay(const AVFrame* frame, int dw, int dh);
    void FillAudio(uint8_t* stream, int len);
    static void SdlCallback(void* userdata, Uint8* stream, int len);
    int64_t ToUs(int64_t ts, AVRational tb) const {
        return av_rescale_q(ts, tb, AVRational{1, AV_TIME_BASE}) - StartTime;
    }
};

void TFFPlayer::TSession::DemuxLoop() {
    AVPacket* pkt = av_packet_alloc();
    std::unique_lock lk(M);
    while (!Quit) {
        if (SeekRequested) {
            const int64_t target = SeekTarget;
            lk.unlock();
            const int64_t ts = target + StartTime;
            if (av_seek_frame(Fmt, -1, ts, AVSEEK_FLAG_BACKWARD) < 0)
                avformat_seek_file(Fmt, -1, INT64_MIN, ts, ts, 0);
            lk.lock();
            SeekRequested = false;
            ++Serial;
            SerialTarget = target;
            for (AVPacket* p : VQ)
                av_packet_free(&p);
            for (AVPacket* p : AQ)
                av_packet_free(&p);
            VQ.clear();
            AQ.clear();
            QBytes = 0;
            Fifo.clear();
            FifoBytes = 0;
            DemuxEof = false;
            VideoDone = AudioDecodeDone = AudioDone = EndReported = false;
            ClockStarted = false;
            C.notify_all();
            continue;
        }
        const bool full =
            QBytes > MaxQueueBytes || ((VIdx < 0 || VQ.size() >= EnoughVideoPackets) &&
                                       (!AudioActive() || AQ.size() >= EnoughAudioPackets));
        if (DemuxEof || full) {
            C.wait(lk);
            continue;
        }
        lk.unlock();
        const int ret = av_read_frame(Fmt, pkt);
        lk.lock();
        if (SeekRequested) { // read at the old position: worthless now
            av_packet_unref(pkt);
            continue;
        }
        if (ret < 0) {
            DemuxEof = true;
            C.notify_all();
            continue;
        }
        if (pkt->stream_index == VIdx) {
            QBytes += pkt->size;
            VQ.push_back(av_packet_clone(pkt));
            C.notify_all();
        } else if (pkt->stream_index == AIdx && AudioActive()) {
            QBytes += pkt->size;
            AQ.push_back(av_packet_clone(pkt));
            C.notify_all();
        }
        av_packet_unref(pkt);
    }
    lk.unlock();
    av_packet_free(&pkt);
}

void TFFPlayer::TSession::VideoLoop() {
    AVFrame* frame = av_frame_alloc();
    Held = av_frame_alloc();
    int mySerial = -1;
    bool eofSent = false;
    for (;;) {
        std::unique_lock lk(M);
        C.wait(lk,
               [&] { return Quit || Serial != mySerial || !VQ.empty() || (DemuxEof && !eofSent); });
        if (Quit)
            break;
        if (Serial != mySerial) {
            mySerial = Serial;
            eofSent = false;
            lk.unlock();
            avcodec_flush_buffers(VDec);
            av_frame_unref(Held);
            continue;
        }
        AVPacket* pkt = PopPacket(VQ, eofSent);
        lk.unlock();
        const bool drained =
            Decode(VDec, pkt, frame, [&](AVFrame* f) { return HandleVideoFrame(f, mySerial); });
        av_packet_free(&pkt);
        if (drained) {
            lk.lock();
            if (Serial != mySerial || Quit)
                continue;
            VideoDone = true;
            if (Seeking && !SeekRequested) {
                // The seek went past the last frame: show the last one there is.
                const bool haveHeld = Held->width > 0;
                int64_t heldPts = ShownPts;
                if (haveHeld) {
                    heldPts = ToUs(Held->best_effort_timestamp, VTb);
                    lk.unlock();
                    Present(Held, heldPts);
                    lk.lock();
                    ShownPts = heldPts;
                }
                Seeking = false;
                ClockSet(std::max<int64_t>(heldPts, 0));
                Owner->PostPosition(Generation, std::max<int64_t>(heldPts, 0));
                C.notify_all();
            }
            CheckEnd();
        }
    }
    av_frame_free(&frame);
}

bool TFFPlayer::TSession::HandleVideoFrame(AVFrame* frame, int serial) {
    int64_t pts = frame->best_effort_timestamp == AV_NOPTS_VALUE
                      ? ShownPts + FrameDur
                      : ToUs(frame->best_effort_timestamp, VTb);
    const int64_t dur = frame->pkt_duration > 0
                            ? av_rescale_q(frame->pkt_duration, VTb, AVRational{1, AV_TIME_BASE})
                            : FrameDur;
    std::unique_lock lk(M);
    if (Quit || Serial != serial)
        return false;
    if (SeekRequested)
        return true; // a newer position is on its way; the serial changes soon
    if (pts + dur <= SerialTarget) {
        lk.unlock();
        av_frame_unref(Held);
        av_frame_ref(Held, frame);
        return true;
    }
    const bool showNow = Seeking || ShowNext;
    if (!showNow) {
        for (;;) {
            if (Quit || Serial != serial)
                return false;
            if (SeekRequested)
                return true;
            if (Paused) {
                C.wait(lk);
                continue;
            }
            if (!ClockStarted) {
                ClockSet(pts);
                break;
            }
            const int64_t delay = pts - ClockGet();
            if (delay <= 0) {
                // Far behind the clock: skip showing this one, but never freeze the picture.
                if (-delay > std::max<int64_t>(2 * dur, 100000) && NowUs() - LastShownAt < 500000)
                    return true;
                break;
            }
            WaitShortly(C, lk, std::min<int64_t>(delay, 100000));
        }
    }
    lk.unlock();
    Present(frame, pts);
    lk.lock();
    if (Serial != serial)
        return false;
    ShownPts = pts;
    LastShownAt = NowUs();
    if (showNow) {
        Seeking = false;
        ShowNext = false;
        ClockSet(pts);
        C.notify_all();
    }
    lk.unlock();
    Owner->PostPosition(Generation, pts);
    return true;
}

// Scales in YUV first and converts the small picture to RGB after: both steps have fast paths in
// swscale, while scaling straight into RGB takes its slow general one. The RGB buffers are reused
// once the GUI has let go of them, which spares a large allocation per frame.
QImage TFFPlayer::TSession::ScaleForDisplay(const AVFrame* frame, int dw, int dh) {
    QImage* out = &DispImages[0];
    for (QImage& img : DispImages)
        if (img.isNull() || img.isDetached()) {
            out = &img;
            break;
        }
    if (!out->isDetached() || out->size() != QSize(dw, dh)) {
        // swscale's vector code writes whole blocks of pixels past the end of a row: give each
        // row room up to the next 64 pixels.
        const int stride = FFALIGN(dw, 64) * 4;
        auto* buf = static_cast<uchar*>(av_malloc(size_t(stride) * dh));
        if (!buf)
            return QImage();
        *out = QImage(buf, dw, dh, stride, QImage::Format_RGB32, av_free, buf);
    }
    uint8_t* dst[4] = {out->bits(), nullptr, nullptr, nullptr};
    int dstStride[4] = {static_cast<int>(out->bytesPerLine()), 0, 0, 0};
    const auto fmt = static_cast<AVPixelFormat>(frame->format);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(fmt);
    const bool yuv = desc && !(desc->flags & AV_PIX_FMT_FLAG_RGB) && desc->nb_components >= 3;
    if (!yuv) {
        DispSws = sws_getCachedContext(DispSws, frame->width, frame->height, fmt, dw, dh,
                                       AV_PIX_FMT_RGB32, SWS_FAST_BILINEAR, nullptr, nullptr,
                                       nullptr);
        if (!DispSws)
            return QImage();
        sws_scale(DispSws, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
        return *out;
    }
    if (!DispYuv || DispYuv->width != dw || DispYuv->height != dh) {
        av_frame_free(&DispYuv);
        DispYuv = av_frame_alloc();
        if (!DispYuv)
            return QImage();
        DispYuv->format = AV_PIX_FMT_YUV420P;
        DispYuv->width = dw;
        DispYuv->height = dh;
        if (av_frame_get_buffer(DispYuv, 0) < 0) {
            av_frame_free(&DispYuv);
            return QImage();
        }
    }
    DispSws = sws_getCachedContext(DispSws, frame->width, frame->height, fmt, dw, dh,
                                   AV_PIX_FMT_YUV420P, SWS_FAST_BILINEAR, nullptr, nullptr,
                                   nullptr);
    DispRgbSws = sws_getCachedContext(DispRgbSws, dw, dh, AV_PIX_FMT_YUV420P, dw, dh,
                                      AV_PIX_FMT_RGB32, SWS_FAST_BILINEAR, nullptr, nullptr,
                                      nullptr);
    if (!DispSws || !DispRgbSws)
        return QImage();
    sws_scale(DispSws, frame->data, frame->linesize, 0, frame->height, DispYuv->data,
              DispYuv->linesize);
    sws_scale(DispRgbSws, DispYuv->data, DispYuv->linesize, 0, dh, dst, dstStride);
    return *out;
}

void TFFPlayer::TSession::Present(AVFrame* frame, int64_t pts) {
    const int w = frame->width, h = frame->height;
    const auto fmt = static_cast<AVPixelFormat>(frame->format);
    QImage hooked;
    if (Owner->FVideoHook.load() && Owner->OnVideoHook) {
        hooked = QImage(w, h, QImage::Format_RGB32);
        HookSws = sws_getCachedContext(HookSws, w, h, fmt, w, h, AV_PIX_FMT_RGB32, SWS_BILINEAR,
                                       nullptr, nullptr, nullptr);
        if (HookSws) {
            uint8_t* dst[4] = {hooked.bits(), nullptr, nullptr, nullptr};
            int dstStride[4] = {static_cast<int>(hooked.bytesPerLine()), 0, 0, 0};
            sws_scale(HookSws, frame->data, frame->linesize, 0, h, dst, dstStride);
            bool update = true;
            Owner->OnVideoHook(Owner, hooked, pts, update);
        } else {
            hooked = QImage();
        }
    }
    const TDisplayFit fit = ComputeDisplayFit(w, h, Owner->FAspectRatio.load(),
                                              Owner->FViewWidth.load(), Owner->FViewHeight.load());
    QImage shown;
    int x = 0, y = 0;
    if (fit.Valid) {
        const int dw = std::max(1, static_cast<int>(std::lround(fit.ShownWidth)));
        const int dh = std::max(1, static_cast<int>(std::lround(fit.ShownHeight)));
        x = static_cast<int>(std::lround(fit.Ox));
        y = static_cast<int>(std::lround(fit.Oy));
        if (!hooked.isNull()) {
            shown = hooked.scaled(dw, dh, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        } else {
            shown = ScaleForDisplay(frame, dw, dh);
        }
    }
    {
        std::lock_guard g(Owner->FPictureMutex);
        Owner->FPicture = shown;
        Owner->FPictureX = x;
        Owner->FPictureY = y;
        av_frame_unref(Current);
        if (hooked.isNull())
            av_frame_ref(Current, frame);
        CurrentHooked = hooked;
    }
    Owner->PostPicture(Generation);
}

void TFFPlayer::TSession::AudioLoop() {
    AVFrame* frame = av_frame_alloc();
    int mySerial = -1;
    bool eofSent = false;
    int64_t nextPts = 0;
    for (;;) {
        std::unique_lock lk(M);
        C.wait(lk,
               [&] { return Quit || Serial != mySerial || !AQ.empty() || (DemuxEof && !eofSent); });
        if (Quit)
            break;
        if (Serial != mySerial) {
            mySerial = Serial;
            eofSent = false;
            nextPts = SerialTarget == INT64_MIN ? 0 : SerialTarget;
            lk.unlock();
            avcodec_flush_buffers(ADec);
            continue;
        }
        AVPacket* pkt = PopPacket(AQ, eofSent);
        lk.unlock();
        const bool drained = Decode(
            ADec, pkt, frame, [&](AVFrame* f) { return HandleAudioFrame(f, mySerial, nextPts); });
        av_packet_free(&pkt);
        if (drained) {
            lk.lock();
            if (Serial != mySerial || Quit)
                continue;
            AudioDecodeDone = true;
            if (!Dev || Fifo.empty())
                AudioDone = true;
            if (VIdx < 0 && Seeking && !SeekRequested) {
                Seeking = false;
                C.notify_all();
            }
            CheckEnd();
        }
    }
    av_frame_free(&frame);
}

bool TFFPlayer::TSession::HandleAudioFrame(AVFrame* frame, int serial, int64_t& nextPts) {
    const int rate = frame->sample_rate > 0 ? frame->sample_rate : ADec->sample_rate;
    if (rate <= 0 || frame->nb_samples <= 0)
        return true;
    int64_t pts = frame->best_effort_timestamp == AV_NOPTS_VALUE
                      ? nextPts
                      : ToUs(frame->best_effort_timestamp, ATb);
    const int64_t dur = int64_t(frame->nb_samples) * 1000000 / rate;
    nextPts = pts + dur;
    std::unique_lock lk(M);
    if (Quit || Serial != serial)
        return false;
    if (SeekRequested || pts + dur <= SerialTarget)
        return true;
    int skipIn = 0; // samples before the seek target
    if (SerialTarget != INT64_MIN && pts < SerialTarget)
        skipIn = static_cast<int>((SerialTarget - pts) * rate / 1000000);
    const int64_t firstPts = pts + int64_t(skipIn) * 1000000 / rate;
    if (VIdx < 0 && Seeking) {
        Seeking = false;
        ClockSet(firstPts);
        C.notify_all();
        Owner->PostPosition(Generation, firstPts);
    }
    if (!Dev) {
        // Nothing plays the sound (only when there is no picture either): keep time by the clock.
        for (;;) {
            if (Quit || Serial != serial)
                return false;
            if (SeekRequested)
                return true;
            if (Paused) {
                C.wait(lk);
                continue;
            }
            if (!ClockStarted) {
                ClockSet(firstPts);
                break;
            }
            const int64_t delay = firstPts - ClockGet();
            if (delay <= 0)
                break;
            WaitShortly(C, lk, std::min<int64_t>(delay, 100000));
        }
        ShownPts = firstPts;
        lk.unlock();
        Owner->PostPosition(Generation, firstPts);
        return true;
    }
    lk.unlock();

    const int outCapacity = swr_get_out_samples(Swr, frame->nb_samples);
    std::vector<uint8_t> data(size_t(std::max(outCapacity, 0)) * 4);
    uint8_t* out[1] = {data.data()};
    const int got =
        swr_convert(Swr, out, outCapacity, const_cast<const uint8_t**>(frame->extended_data),
                    frame->nb_samples);
    if (got <= 0)
        return true;
    data.resize(size_t(got) * 4);
    TAudioChunk chunk;
    const size_t skipOut = std::min(data.size(), size_t(int64_t(skipIn) * OutRate / rate) * 4);
    chunk.Pos = skipOut;
    chunk.Pts = pts;
    chunk.Data = std::move(data);
    if (chunk.Pos >= chunk.Data.size())
        return true;

    lk.lock();
    const size_t maxFifo = static_cast<size_t>(BytesPerSec / 3);
    C.wait(lk, [&] { return Quit || Serial != serial || SeekRequested || FifoBytes < maxFifo; });
    if (Quit || Serial != serial)
        return false;
    if (SeekRequested)
        return true;
    FifoBytes += chunk.Data.size() - chunk.Pos;
    Fifo.push_back(std::move(chunk));
    return true;
}

// SDL's audio thread. Silence while paused, seeking or starved.
void TFFPlayer::TSession::FillAudio(uint8_t* stream, int len) {
    std::memset(stream, 0, size_t(len));
    std::unique_lock lk(M);
    if (Quit || Paused || SeekRequested)
        return;
    const int volume = Owner->FAudioVolume.load();
    int done = 0;
    int64_t headPts = -1;
    while (done < len && !Fifo.empty()) {
        TAudioChunk& c = Fifo.front();
        const size_t n = std::min(size_t(len - done), c.Data.size() - c.Pos);
        SDL_MixAudioFormat(stream + done, c.Data.data() + c.Pos, AUDIO_S16SYS, Uint32(n), volume);
        c.Pos += n;
        done += int(n);
        FifoBytes -= n;
        headPts = c.Pts + int64_t(c.Pos) * 1000000 / BytesPerSec;
        if (c.Pos >= c.Data.size())
            Fifo.pop_front();
    }
    if (done > 0) {
        C.notify_all();
        if (!Seeking || VIdx < 0)
            ClockSet(headPts - DeviceLatency);
        if (VIdx < 0) {
            ShownPts = std::max<int64_t>(0, headPts - DeviceLatency);
            Owner->PostPosition(Generation, ShownPts);
        }
    }
    if (AudioDecodeDone && Fifo.empty() && !AudioDone) {
        AudioDone = true;
        CheckEnd();
    }
}

void TFFPlayer::TSession::SdlCallback(void* userdata, Uint8* stream, int len) {
    static_cast<TSession*>(userdata)->FillAudio(stream, len);
}

// ---------------------------------------------------------------------------------------------

TFFPlayer::TFFPlayer(QObject* parent) : QObject(parent) {}

TFFPlayer::~TFFPlayer() {
    OnState = nullptr;
    Stop(true);
    delete FView;
}

bool TFFPlayer::Open(const QString& fileName, QWidget* screen, bool paused) {
    Stop(true);
    auto s = std::make_unique<TSession>();
    s->Owner = this;
    const QByteArray path = fileName.toUtf8();
    if (avformat_open_input(&s->Fmt, path.constData(), nullptr, nullptr) < 0) {
        FLastErrMsg = QStringLiteral("Cannot open file \"%1\"").arg(fileName);
        return false;
    }
    if (avformat_find_stream_info(s->Fmt, nullptr) < 0) {
        FLastErrMsg = QStringLiteral("Cannot read the streams of \"%1\"").arg(fileName);
        return false;
    }
    s->VIdx = av_find_best_stream(s->Fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (s->VIdx >= 0 && (s->Fmt->streams[s->VIdx]->disposition & AV_DISPOSITION_ATTACHED_PIC))
        s->VIdx = -1;
    s->AIdx = av_find_best_stream(s->Fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (s->VIdx < 0 && s->AIdx < 0) {
        FLastErrMsg = QStringLiteral("\"%1\" holds neither video nor audio").arg(fileName);
        return false;
    }
    s->StartTime = s->Fmt->start_time == AV_NOPTS_VALUE ? 0 : s->Fmt->start_time;
    s->Duration = s->Fmt->duration == AV_NOPTS_VALUE ? 0 : std::max<int64_t>(0, s->Fmt->duration);

    auto openDecoder = [&](int index, int threads, AVCodecContext*& ctx) -> bool {
        AVStream* st = s->Fmt->streams[index];
        const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
        if (!codec)
            return false;
        ctx = avcodec_alloc_context3(codec);
        if (!ctx || avcodec_parameters_to_context(ctx, st->codecpar) < 0)
            return false;
        ctx->pkt_timebase = st->time_base;
        ctx->thread_count = threads;
        if (avcodec_open2(ctx, codec, nullptr) < 0) {
            avcodec_free_context(&ctx);
            return false;
        }
        return true;
    };
    int frameW = 0, frameH = 0;
    if (s->VIdx >= 0) {
        if (!openDecoder(s->VIdx, 0, s->VDec)) {
            FLastErrMsg = QStringLiteral("No decoder for the video of \"%1\"").arg(fileName);
            return false;
        }
        AVStream* st = s->Fmt->streams[s->VIdx];
        s->VTb = st->time_base;
        frameW = s->VDec->width;
        frameH = s->VDec->height;
        const AVRational fr = av_guess_frame_rate(s->Fmt, st, nullptr);
        if (fr.num > 0 && fr.den > 0)
            s->FrameDur = av_rescale(1000000, fr.den, fr.num);
    }
    if (s->AIdx >= 0) {
        QString reason;
        const bool sound = SoundAvailable(&reason);
        if (!sound && s->VIdx < 0) {
            // Only the sound keeps time, so decode it without playing it.
            openDecoder(s->AIdx, 1, s->ADec);
        } else if (sound && openDecoder(s->AIdx, 1, s->ADec)) {
            SDL_AudioSpec want{}, have{};
            want.freq = s->ADec->sample_rate > 0 ? s->ADec->sample_rate : 48000;
            want.format = AUDIO_S16SYS;
            want.channels = 2;
            want.samples = 1024;
            want.callback = TSession::SdlCallback;
            want.userdata = s.get();
            s->Dev =
                SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
            if (s->Dev == 0) {
                reason = QStringLiteral("No sound device (%1): playing the picture only")
                             .arg(QString::fromUtf8(SDL_GetError()));
            } else {
                s->OutRate = have.freq;
                s->BytesPerSec = int64_t(have.freq) * 4;
                s->DeviceLatency = int64_t(have.samples) * 1000000 / have.freq;
                AVChannelLayout outLayout = AV_CHANNEL_LAYOUT_STEREO;
                AVChannelLayout inLayout;
                if (s->ADec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC ||
                    s->ADec->ch_layout.nb_channels <= 0)
                    av_channel_layout_default(&inLayout,
                                              std::max(1, s->ADec->ch_layout.nb_channels));
                else
                    av_channel_layout_copy(&inLayout, &s->ADec->ch_layout);
                if (swr_alloc_set_opts2(&s->Swr, &outLayout, AV_SAMPLE_FMT_S16, have.freq,
                                        &inLayout, s->ADec->sample_fmt, s->ADec->sample_rate, 0,
                                        nullptr) < 0 ||
                    swr_init(s->Swr) < 0) {
                    SDL_CloseAudioDevice(s->Dev);
                    s->Dev = 0;
                    reason = QStringLiteral(
                                 "Cannot convert the sound of \"%1\": playing the picture only")
                                 .arg(fileName);
                }
                av_channel_layout_uninit(&inLayout);
            }
            if (!s->Dev)
                avcodec_free_context(&s->ADec);
        }
        if (!s->Dev && !reason.isEmpty() && !FNoSoundLogged && OnLog) {
            FNoSoundLogged = true; // once per player, not once per file
            OnLog(reason);
        }
        if (s->ADec)
            s->ATb = s->Fmt->streams[s->AIdx]->time_base;
    }

    // The session is complete: from here on the events belong to it.
    s->Generation = ++FGeneration;
    FDuration = s->Duration;
    int screenW = screen ? screen->width() : frameW;
    int screenH = screen ? screen->height() : frameH;
    if (OnFileOpen)
        OnFileOpen(this, s->Duration, frameW, frameH, screenW, screenH);

    if (screen != FScreen) {
        if (FScreen)
            FScreen->removeEventFilter(this);
        delete FView;
        FScreen = screen;
        if (screen) {
            FView = new TPlayerView(screen);
            screen->installEventFilter(this);
        }
    }
    if (FView) {
        FView->Picture = QImage();
        FView->setGeometry(0, 0, screenW, screenH);
        FView->lower();
        FView->show();
    }
    FViewWidth.store(screenW);
    FViewHeight.store(screenH);
    {
        std::lock_guard g(FPictureMutex);
        FPicture = QImage();
        s->Current = av_frame_alloc();
    }
    FLatestPosition.store(-1);

    s->Paused = paused;
    s->ShowNext = paused; // show the first frame although paused
    TSession* raw = s.get();
    FSession = std::move(s);
    FPaused = paused;
    raw->Demux = std::thread([raw] { raw->DemuxLoop(); });
    if (raw->VIdx >= 0)
        raw->Video = std::thread([raw] { raw->VideoLoop(); });
    if (raw->ADec)
        raw->Audio = std::thread([raw] { raw->AudioLoop(); });
    if (raw->Dev)
        SDL_PauseAudioDevice(raw->Dev, 0);
    SetState(psPlay);
    if (paused)
        SetState(psPause);
    return true;
}

void TFFPlayer::Stop(bool /*waitForStop*/) {
    // Playback threads are always joined: a caller never sees a playback outlive Stop.
    if (!FSession)
        return;
    TSession* s = FSession.get();
    {
        std::lock_guard g(s->M);
        s->Quit = true;
        s->Seeking = false;
        s->C.notify_all();
    }
    if (s->Dev)
        SDL_CloseAudioDevice(s->Dev); // returns after the callback has finished
    for (std::thread* t : {&s->Demux, &s->Video, &s->Audio})
        if (t->joinable())
            t->join();
    {
        std::lock_guard g(FPictureMutex);
        FPicture = QImage();
        FCurrentFrame = QImage();
        FSession.reset();
    }
    ++FGeneration;
    FPaused = true;
    if (FView) {
        FView->Picture = QImage();
        FView->update();
    }
    SetState(psStop);
}

void TFFPlayer::Pause() {
    if (!FSession || FPaused)
        return;
    TSession* s = FSession.get();
    {
        std::lock_guard g(s->M);
        if (s->ClockStarted)
            s->ClockPts = s->ClockGet();
        s->Paused = true;
        s->C.notify_all();
    }
    FPaused = true;
    SetState(psPause);
}

void TFFPlayer::Resume() {
    if (!FSession || !FPaused)
        return;
    TSession* s = FSession.get();
    {
        std::lock_guard g(s->M);
        s->Paused = false;
        s->ClockTime = NowUs();
        s->C.notify_all();
    }
    FPaused = false;
    SetState(psResume);
}

void TFFPlayer::TogglePause() {
    if (Paused())
        Resume();
    else
        Pause();
}

bool TFFPlayer::Paused() const {
    return !FSession || FPaused;
}

TPlayState TFFPlayer::PlayState() const {
    return FState;
}

bool TFFPlayer::AudioPlaying() const {
    return FSession && FSession->Dev != 0;
}

bool TFFPlayer::Seeking() const {
    if (!FSession)
        return false;
    std::lock_guard g(FSession->M);
    return FSession->Seeking;
}

void TFFPlayer::Seek(int64_t pts, TSeekFlags, bool waitForSeekEnd) {
    if (!FSession)
        return;
    TSession* s = FSession.get();
    std::unique_lock lk(s->M);
    if (s->Seeking)
        return; // the pending seek is carried out first; this one is dropped
    pts = std::max<int64_t>(0, pts);
    if (s->Duration > 0)
        pts = std::min(pts, s->Duration);
    s->SeekTarget = pts;
    s->SeekRequested = true;
    s->Seeking = true;
    s->C.notify_all();
    if (FState == psEnd)
        FState = FPaused ? psPause : psPlay;
    // A file whose frames cannot be decoded never ends its seek; do not hang the caller on it.
    if (waitForSeekEnd)
        s->C.wait_until(lk, std::chrono::system_clock::now() + std::chrono::seconds(10),
                        [s] { return !s->Seeking || s->Quit; });
}

QImage TFFPlayer::CurrentFrame() {
    std::lock_guard g(FPictureMutex);
    if (!FSession) {
        FCurrentFrame = QImage();
        return FCurrentFrame;
    }
    TSession* s = FSession.get();
    if (!s->CurrentHooked.isNull()) {
        FCurrentFrame = s->CurrentHooked.convertToFormat(QImage::Format_RGB888);
    } else if (s->Current && s->Current->width > 0) {
        AVFrame* f = s->Current;
        FCurrentFrame = QImage(f->width, f->height, QImage::Format_RGB888);
        s->GrabSws = sws_getCachedContext(
            s->GrabSws, f->width, f->height, static_cast<AVPixelFormat>(f->format), f->width,
            f->height, AV_PIX_FMT_RGB24, SWS_BILINEAR | SWS_ACCURATE_RND, nullptr, nullptr,
            nullptr);
        if (s->GrabSws) {
            uint8_t* dst[4] = {FCurrentFrame.bits(), nullptr, nullptr, nullptr};
            int stride[4] = {static_cast<int>(FCurrentFrame.bytesPerLine()), 0, 0, 0};
            sws_scale(s->GrabSws, f->data, f->linesize, 0, f->height, dst, stride);
        } else {
            FCurrentFrame = QImage();
        }
    } else {
        FCurrentFrame = QImage();
    }
    return FCurrentFrame;
}

void TFFPlayer::SetAudioVolume(int volume) {
    FAudioVolume.store(std::clamp(volume, 0, 128));
}

void TFFPlayer::SetState(TPlayState state) {
    FState = state;
    if (OnState)
        OnState(this, state);
}

void TFFPlayer::PostState(uint64_t generation, TPlayState state) {
    QMetaObject::invokeMethod(
        this,
        [this, generation, state] {
            if (generation == FGeneration)
                SetState(state);
        },
        Qt::QueuedConnection);
}

void TFFPlayer::PostPosition(uint64_t, int64_t pts) {
    FLatestPosition.store(pts);
    if (FPositionPosted.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            FPositionPosted.store(false);
            // Any pending report of this player stands for the latest position of the file now
            // open (the latest is reset by every Open, after the previous threads have ended).
            const int64_t latest = FLatestPosition.load();
            if (FSession && latest >= 0 && OnPosition)
                OnPosition(this, latest);
        },
        Qt::QueuedConnection);
}

void TFFPlayer::PostPicture(uint64_t) {
    if (FPicturePosted.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            FPicturePosted.store(false);
            if (!FSession || !FView)
                return;
            {
                std::lock_guard g(FPictureMutex);
                FView->Picture = FPicture;
                FView->At = QPoint(FPictureX, FPictureY);
            }
            FView->update();
        },
        Qt::QueuedConnection);
}

bool TFFPlayer::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FScreen && event->type() == QEvent::Resize && FView) {
        FView->setGeometry(0, 0, FScreen->width(), FScreen->height());
        FViewWidth.store(FScreen->width());
        FViewHeight.store(FScreen->height());
    }
    return QObject::eventFilter(watched, event);
}
