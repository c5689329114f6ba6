#pragma once
// One title of the project: a source file and the editing choices the user made for it.
#include <QString>
#include <QVector>
#include <cstdint>

struct TVideoFile {
    QString Source;           // full path as chosen in the open dialog
    QString SourceTitleExt;   // file name with extension, no folder
    int64_t TrimmedLength = 0; // microseconds
    QString DestinationTitle; // button text in the menu; stem of snapshot names
    QString Status = QStringLiteral("-");
    int64_t TimeStart = 0; // microseconds from the beginning of the file
    int64_t TimeEnd = 0;
    int32_t SourceWidth = 0;
    int32_t SourceHeight = 0;
    int32_t CropLeft = 0;
    int32_t CropTop = 0;
    int32_t CropRight = 0; // margins, not coordinates
    int32_t CropBottom = 0;
    int32_t AspectRatio = 0; // 0 Keep Original, 1 Scal to fit, 2 4:3, 3 16:9, 4 1.85:1, 5 2.35:1
};

using TVideoFiles = QVector<TVideoFile>;

// "%.2d:%.2d:%.2d" of whole seconds; hours are not limited to two digits.
QString FormatDuration(int64_t microseconds);
