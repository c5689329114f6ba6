#pragma once
// One conversion of the transcoder: a registered source with its options, and the code that turns
// it into a DVD-Video MPEG-2 program stream (decode, filter, encode, multiplex).
#include "media/FFEncoder.h"
#include "media/FrameInputAdapter.h"
#include <QString>
#include <cstdint>
#include <functional>

struct TSourceProbe {
    bool FrameInput = false;
    TFrameInputDesc Frame; // frame input only
    bool HasVideo = false;
    bool HasAudio = false;
    int Width = 0;
    int Height = 0;
    int PixelFormat = -1;
    int SarNum = 0, SarDen = 1;
    int RateNum = 0, RateDen = 1; // frames per second of the source, 0 when unknown
    bool Interlaced = false;
    bool TopFieldFirst = true;
    int64_t Duration = 0; // microseconds; 0 when unknown
};

// What SetOutputFile settled for a task.
struct TTargetFormat {
    bool Pal = true;
    int Width = 720;
    int Height = 576;
    int RateNum = 25, RateDen = 1;
    int Gop = 15;
    double ContentAspect = 0; // display shape of the picture; 0: it fills whatever frame it gets
};

struct TTranscodeTaskEntry {
    QString InputName;
    TInputOptions Input;
    TSourceProbe Probe;
    bool HasOutput = false;
    QString OutputName;
    TOutputOptions Output;
    TTargetFormat Target;

    // Microseconds of output the task is expected to make; 0 when unknown.
    int64_t ExpectedLength() const;
};

bool ProbeSource(const QString& name, const TInputOptions& options, TSourceProbe* probe, QString* errMsg);
bool ResolveOutput(TTranscodeTaskEntry& task, QString* errMsg);

// Display aspect of a frame of the DVD: 4/3 or 16/9.
struct TTranscodeJob {
    int64_t VideoBitRate = 6000000;
    bool Wide = false;                       // frame aspect 16:9 (else 4:3)
    std::function<bool()> WaitIfPaused;       // blocks while paused; true when the task must stop
    std::function<bool()> StopRequested;      // never blocks
    std::function<void(int64_t currentUs)> Progress;
};

struct TTranscodeResult {
    bool Ok = false;      // the output is complete and closed
    bool Stopped = false; // ended early on request; the output is valid up to that point
    QString Error;        // failure: the output has been removed
};

TTranscodeResult RunTranscodeTask(const TTranscodeTaskEntry& task, const TTranscodeJob& job);
