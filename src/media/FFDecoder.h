#pragma once
// Probing decoder of the media pack: opens one file at a time and answers what it holds.
#include <QString>
#include <cstdint>
#include <memory>

struct TFileStreamInfo {
    int64_t Duration = 0; // microseconds; 0 when unknown
    int64_t StartTime = 0;
    int64_t BitRate = 0;
    QString FormatName;
};

struct TRational {
    int Num = 0;
    int Den = 1;
};

struct TVideoStreamInfo {
    int Width = 0;
    int Height = 0;
    int64_t BitRate = 0; // bits per second, <= 0 when unknown
    TRational FrameRate;
    TRational SampleAspectRatio;
    QString CodecName;
};

struct TAudioStreamInfo {
    int Channels = 0;
    int SampleRate = 0;
    int64_t BitRate = 0; // bits per second, <= 0 when unknown
    QString CodecName;
};

class TFFDecoder {
public:
    TFFDecoder();
    ~TFFDecoder();
    TFFDecoder(const TFFDecoder&) = delete;
    TFFDecoder& operator=(const TFFDecoder&) = delete;

    // Opens a file (format name empty: detect). Replaces a file already open.
    bool LoadFile(const QString& fileName, const QString& formatName = QString());
    void CloseFile();
    bool FileOpened() const;

    int StreamCount() const;
    bool IsVideoStream(int index) const;
    bool IsAudioStream(int index) const;
    TFileStreamInfo FileStreamInfo() const;
    TVideoStreamInfo VideoStreamInfo(int index) const;
    TAudioStreamInfo AudioStreamInfo(int index) const;

    QString LastErrMsg() const { return FLastErrMsg; }

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
    QString FLastErrMsg;
};
