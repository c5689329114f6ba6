#pragma once
// Transcoder of the media pack. The decoder member probes files for the title list.
#include "media/AVLib.h"
#include "media/FFDecoder.h"
#include <QObject>
#include <QString>

class TFFEncoder : public QObject {
    Q_OBJECT
public:
    explicit TFFEncoder(QObject* parent = nullptr) : QObject(parent) {}

    bool LoadAVLib(const QString& folder) { return AVLib::Load(folder, &FLastErrMsg); }
    bool AVLibLoaded() const { return AVLib::Loaded(); }
    QString LastErrMsg() const { return FLastErrMsg; }

    TFFDecoder Decoder;

private:
    QString FLastErrMsg;
};
