#pragma once
// Title list logic shared by the main window and the command line.
#include "project/VideoFile.h"
#include <QString>
#include <QStringList>

class TFFDecoder;

struct TSupportedFormat {
    const char* Description;
    const char* Patterns;
};

// The 17 kinds of video files the add dialog offers, in the order shown.
const QVector<TSupportedFormat>& SupportedFormats();
// The add dialog's filter in its stored form ("All Supported Video Formats|*.mod;...").
QString BuildOpenDialogFilter();
// The same filter in the form Qt's file dialogs take ("Name (patterns);;...").
QStringList OpenDialogNameFilters();

// File name without the text from its last "." on; ".avi" gives "".
QString StripExtension(const QString& fileName);

// Opens the file in the decoder and fills a new title from it. On failure returns false and the
// decoder's LastErrMsg tells why. The decoder's file is closed afterwards.
bool ProbeTitle(TFFDecoder& decoder, const QString& path, TVideoFile& title);

// A file the decoder could not open: the three-line block in the events log, then the report.
void ReportFileLoadError(const QString& decoderMessage);

// Exchanges the complete records at positions a and b.
void SwapTitles(TVideoFiles& files, int a, int b);
