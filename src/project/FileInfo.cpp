#include "project/FileInfo.h"

#include "media/FFDecoder.h"
#include "project/ErrorReport.h"
#include "project/Estimate.h"
#include "project/EventsLog.h"
#include "project/UserPrompts.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <stdexcept>

namespace {
QLineEdit* ValueField(QWidget* parent, const char* name) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setReadOnly(true);
    return e;
}
} // namespace

QString FormatBitRate(int64_t bitsPerSecond) {
    if (bitsPerSecond <= 0)
        return QStringLiteral("is not preseted");
    return QString::number(bitsPerSecond / 1000) + QStringLiteral(" Kb");
}

QString FormatFrameRate(const TRational& rate) {
    if (rate.Den == 0)
        throw std::domain_error("frame rate with denominator 0");
    return QString::number(RoundHalfEven(double(rate.Num) / rate.Den)) + QStringLiteral(" fps");
}

TFileInfoForm::TFileInfoForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FileInfoForm"));
    setWindowTitle(QStringLiteral("File Information"));
    auto* layout = new QVBoxLayout(this);
    auto* top = new QFormLayout;
    edFileName = ValueField(this, "edFileName");
    edMediaLength = ValueField(this, "edMediaLength");
    top->addRow(QStringLiteral("File name:"), edFileName);
    top->addRow(QStringLiteral("Media Length:"), edMediaLength);
    layout->addLayout(top);

    auto* video = new QGroupBox(QStringLiteral("Video"), this);
    video->setObjectName(QStringLiteral("gbVideo"));
    auto* videoForm = new QFormLayout(video);
    edResolution = ValueField(video, "edResolution");
    edVideoBitRate = ValueField(video, "edVideoBitRate");
    edFrameRate = ValueField(video, "edFrameRate");
    videoForm->addRow(QStringLiteral("Resolution:"), edResolution);
    videoForm->addRow(QStringLiteral("Bit Rate:"), edVideoBitRate);
    videoForm->addRow(QStringLiteral("Frame Rate:"), edFrameRate);
    layout->addWidget(video);

    auto* audio = new QGroupBox(QStringLiteral("Audio"), this);
    audio->setObjectName(QStringLiteral("gbAudio"));
    auto* audioForm = new QFormLayout(audio);
    edSampleRate = ValueField(audio, "edSampleRate");
    edChannels = ValueField(audio, "edChannels");
    edAudioBitRate = ValueField(audio, "edAudioBitRate");
    audioForm->addRow(QStringLiteral("Sample Rate:"), edSampleRate);
    audioForm->addRow(QStringLiteral("Channels:"), edChannels);
    audioForm->addRow(QStringLiteral("Bit Rate:"), edAudioBitRate);
    layout->addWidget(audio);

    auto* buttons = new QDialogButtonBox(this);
    auto* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("OKButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    resize(380, 0);
}

bool TFileInfoForm::Fill(TFFDecoder& decoder, const TVideoFile& title) {
    if (!decoder.LoadFile(title.Source, QString())) {
        AppendEventsLog(QString());
        AppendEventsLog(QStringLiteral("***File load error: ") + decoder.LastErrMsg());
        AppendEventsLog(QString());
        ReportError(QStringLiteral("Error getting file info! ") + decoder.LastErrMsg(), QStringLiteral("CLM_ProbeLoadFile"));
        return false;
    }
    edFileName->setText(QFileInfo(title.Source).fileName());
    edMediaLength->setText(FormatDuration(decoder.FileStreamInfo().Duration));
    // A file without audio (or video) must not show the previous file's values.
    for (QLineEdit* e : {edResolution, edVideoBitRate, edFrameRate, edSampleRate, edChannels, edAudioBitRate})
        e->clear();
    try {
        for (int i = 0; i < decoder.StreamCount(); ++i) {
            if (decoder.IsVideoStream(i)) {
                const TVideoStreamInfo v = decoder.VideoStreamInfo(i);
                edResolution->setText(QStringLiteral("%1x%2").arg(v.Width).arg(v.Height));
                edVideoBitRate->setText(FormatBitRate(v.BitRate));
                edFrameRate->setText(FormatFrameRate(v.FrameRate));
            } else if (decoder.IsAudioStream(i)) {
                const TAudioStreamInfo a = decoder.AudioStreamInfo(i);
                edSampleRate->setText(QString::number(a.SampleRate) + QStringLiteral(" Hz"));
                edChannels->setText(QString::number(a.Channels) + QStringLiteral(" channel"));
                edAudioBitRate->setText(FormatBitRate(a.BitRate));
            }
        }
    } catch (const std::exception&) {
        ReportError(QStringLiteral("Error writing file info"), QStringLiteral("CLM_WriteFileInfo"));
    }
    return true;
}

bool TFileInfoForm::ShowFor(TFFDecoder& decoder, const TVideoFile& title) {
    if (!Fill(decoder, title))
        return false;
    Prompts().ExecDialog(*this);
    return true;
}
