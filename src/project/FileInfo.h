#pragma once
// The "File Information" dialog: what the decoder finds in a title's source file.
#include "project/VideoFile.h"
#include <QDialog>

class QLineEdit;
class TFFDecoder;
struct TRational;

class TFileInfoForm : public QDialog {
    Q_OBJECT
public:
    explicit TFileInfoForm(QWidget* parent = nullptr);

    // Fills the dialog from the title's source and shows it; reports and returns false when the
    // file cannot be opened. The decoder keeps the file open afterwards.
    bool ShowFor(TFFDecoder& decoder, const TVideoFile& title);
    // Fills the fields without showing the dialog; false when the file cannot be opened.
    bool Fill(TFFDecoder& decoder, const TVideoFile& title);

    QLineEdit* edFileName = nullptr;
    QLineEdit* edMediaLength = nullptr;
    QLineEdit* edResolution = nullptr;
    QLineEdit* edVideoBitRate = nullptr;
    QLineEdit* edFrameRate = nullptr;
    QLineEdit* edSampleRate = nullptr;
    QLineEdit* edChannels = nullptr;
    QLineEdit* edAudioBitRate = nullptr;
};

// " Kb" of bits per second (truncating), or "is not preseted" when unknown.
QString FormatBitRate(int64_t bitsPerSecond);
// num/den rounded half to even + " fps"; throws std::domain_error for a zero denominator.
QString FormatFrameRate(const TRational& rate);
