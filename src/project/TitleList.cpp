#include "project/TitleList.h"

#include "media/FFDecoder.h"
#include "project/ErrorReport.h"
#include "project/EventsLog.h"
#include <QFileInfo>

const QVector<TSupportedFormat>& SupportedFormats() {
    static const QVector<TSupportedFormat> formats = {
        {"MOD files", "*.mod"},
        {"High-definition files", "*.mts; *.ts; *m2ts; *.tp"},
        {"AVI files", "*.avi"},
        {"MPEG-4 files", "*.mp4; *.m4v"},
        {"MPEG files", "*.mpg; *.mpeg"},
        {"3GP files", "*.3gp; *.3g2"},
        {"Windows Media Video", "*.wmv; *.asf"},
        {"Real Media files", "*.rm; *.rmvb"},
        {"Video CD files", "*.dat"},
        {"Quick Time files", "*.mov"},
        {"Flash Video files", "*.flv; *.f4v"},
        {"Matroska files", "*.mkv"},
        {"Digital Video files", "*.dv"},
        {"NUT files", "*.nut"},
        {"Raw h.264 video files", "*.h.264"},
        {"Nullsoft Stream Video", "*.nsv"},
        {"Video Object files", "*.vob"},
    };
    return formats;
}

QString BuildOpenDialogFilter() {
    QString filter = QStringLiteral("All Supported Video Formats|");
    for (const auto& f : SupportedFormats())
        filter += QLatin1String(f.Patterns) + QLatin1Char(';');
    for (const auto& f : SupportedFormats())
        filter += QLatin1Char('|') + QLatin1String(f.Description) + QStringLiteral(" (") + QLatin1String(f.Patterns) +
                  QStringLiteral(")|") + QLatin1String(f.Patterns) + QLatin1Char(';');
    return filter;
}

QStringList OpenDialogNameFilters() {
    // Qt separates patterns by spaces; the stored form separates them by "; ".
    auto qtPatterns = [](const char* patterns) {
        return QString::fromLatin1(patterns).replace(QStringLiteral("; "), QStringLiteral(" "));
    };
    QStringList all;
    for (const auto& f : SupportedFormats())
        all << qtPatterns(f.Patterns);
    QStringList filters{QStringLiteral("All Supported Video Formats (%1)").arg(all.join(QLatin1Char(' ')))};
    for (const auto& f : SupportedFormats())
        filters << QStringLiteral("%1 (%2)").arg(QLatin1String(f.Description), qtPatterns(f.Patterns));
    return filters;
}

QString StripExtension(const QString& fileName) {
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? fileName : fileName.left(dot);
}

bool ProbeTitle(TFFDecoder& decoder, const QString& path, TVideoFile& title) {
    if (!decoder.LoadFile(path, QString()))
        return false;
    title = TVideoFile();
    title.Source = path;
    title.SourceTitleExt = QFileInfo(path).fileName();
    title.DestinationTitle = StripExtension(title.SourceTitleExt);
    title.Status = QStringLiteral("-");
    title.TrimmedLength = decoder.FileStreamInfo().Duration;
    title.TimeStart = 0;
    title.TimeEnd = title.TrimmedLength;
    for (int i = 0; i < decoder.StreamCount(); ++i) {
        if (decoder.IsVideoStream(i)) {
            const TVideoStreamInfo info = decoder.VideoStreamInfo(i);
            title.SourceWidth = info.Width;
            title.SourceHeight = info.Height;
        }
    }
    decoder.CloseFile();
    return true;
}

void ReportFileLoadError(const QString& decoderMessage) {
    AppendEventsLog(QString());
    AppendEventsLog(QStringLiteral("***File load error: ") + decoderMessage);
    AppendEventsLog(QString());
    ReportError(QStringLiteral("Error loading file"), QStringLiteral("CLM_DecoderLoadFile"));
}

void SwapTitles(TVideoFiles& files, int a, int b) {
    if (a < 0 || b < 0 || a >= files.size() || b >= files.size())
        return;
    std::swap(files[a], files[b]);
}
