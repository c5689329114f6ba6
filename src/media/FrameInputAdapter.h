#pragma once
// Frame-input adapter: lets the program paint the pictures of a video on a canvas, one frame at a
// time, and feeds them to the transcoder as if they came from a file. The transcoder finds the
// adapter through the input name ("a=<identity>;r=15/1;s=720*576;bpp=24;t=Canvas") and the
// "frameinput" forced format; the identity is looked up in a registry of live adapters, so a stale
// or forged number can never reach freed memory.
#include <QImage>
#include <QObject>
#include <QPainter>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct TInputFrameInfo {
    int64_t FrameNumber = 0; // counts the frames asked for, starting at 1
    int Width = 0;
    int Height = 0;
    int64_t Pts = 0; // microseconds of this frame on the input's own clock
};

class TFrameInputAdapter : public QObject {
    Q_OBJECT
public:
    explicit TFrameInputAdapter(QObject* parent = nullptr);
    ~TFrameInputAdapter() override;

    // Unique for the life of the program; never reused, so a name built for a destroyed adapter
    // finds nothing instead of finding its successor.
    int64_t Identity() const { return FIdentity; }

    // Called on the adapter's thread (the GUI thread) once per frame. The canvas paints on a
    // black picture of the input's size; its clip rectangle is the whole frame. Return 0 to deliver
    // the frame, a negative value to end the input.
    std::function<int32_t(TFrameInputAdapter* sender, QPainter& canvas, const TInputFrameInfo& info)> OnReadFrameCanvas;

private:
    int64_t FIdentity;
};

// Registers the "frameinput" forced input format with the transcoder; does nothing when it is
// already registered.
void RegisterFrameInputFormat();
bool FrameInputFormatRegistered();

// The input name the transcoder understands for an adapter.
QString FrameInputName(const TFrameInputAdapter& adapter, int rateNum, int rateDen, int width, int height,
                       int bitsPerPixel = 24);

// What an input name says. Parse failures leave a readable reason.
struct TFrameInputDesc {
    int64_t Adapter = 0;
    int RateNum = 0;
    int RateDen = 1;
    int Width = 0;
    int Height = 0;
    int BitsPerPixel = 24;
};
bool ParseFrameInputName(const QString& name, TFrameInputDesc* desc, QString* errMsg);
bool FrameInputAdapterAlive(int64_t identity);

// Asks the adapter for one frame and waits for the answer. Runs the handler directly when called
// on the adapter's own thread; otherwise posts the request to that thread's event queue and waits,
// waking regularly to check `abandon` (a stop request) and whether the adapter still exists.
enum class TFrameRequestResult { Frame, EndOfInput, Abandoned, AdapterGone };
// A frame arrives as packed RGB rows (3 bytes a pixel) of the requested size.
TFrameRequestResult RequestInputFrame(int64_t identity, const TInputFrameInfo& info, std::vector<uint8_t>* picture,
                                      const std::function<bool()>& abandon);
