#pragma once
// Helpers for the transcoder tests: fixture clips made by the ffmpeg command, ffprobe answers,
// and decoding of our outputs back into pictures and sound.
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <vector>

namespace TranscodeFixtures {

// Runs a program and returns its exit code (-1 when it cannot start); output is collected.
int RunProgram(const QString& program, const QStringList& args, QString* output = nullptr,
               const QStringList& extraEnv = {});
// ffmpeg -y -hide_banner -loglevel error <args>; true on success.
bool Ffmpeg(const QStringList& args);

struct TStreamFacts {
    QString CodecType, CodecName;
    int Width = 0, Height = 0;
    QString FrameRate, SampleAspect, DisplayAspect, FieldOrder;
    int SampleRate = 0, Channels = 0;
    double StartTime = 0, Duration = 0;
    int64_t BitRate = 0;
};
struct TFileFacts {
    QString FormatName;
    double Duration = 0;
    std::vector<TStreamFacts> Streams;
    const TStreamFacts* Video() const;
    const TStreamFacts* Audio() const;
};
bool Probe(const QString& file, TFileFacts* facts);

// Decodes every picture: time in seconds on the file's clock, the luma plane.
struct TPicture {
    double Time = 0;
    int Width = 0, Height = 0;
    std::vector<uint8_t> Luma;
    bool Interlaced = false, TopFieldFirst = false;
    int AspectNum = 0, AspectDen = 1; // sample aspect ratio
    uint8_t At(int x, int y) const { return Luma[size_t(y) * Width + x]; }
    double Mean(int x0, int y0, int x1, int y1) const;
};
bool DecodePictures(const QString& file, std::vector<TPicture>* pictures);
// Decodes the first audio stream to mono float samples; `start` is the time of the first sample.
bool DecodeSound(const QString& file, std::vector<float>* samples, int* sampleRate, double* start);

} // namespace TranscodeFixtures
