#include "pipeline/Subpictures.h"

#include "pipeline/ExternalProgram.h"
#include "project/Estimate.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QRegularExpression>

QString ColorMapFile(const QString& programFolder, const QString& standard, const QString& colorName) {
    QDir maps(programFolder + QStringLiteral("png-colormaps"));
    const QStringList standards = maps.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& s : standards) {
        if (s.compare(standard, Qt::CaseInsensitive) != 0)
            continue;
        const QDir dir(maps.filePath(s));
        for (const QString& f : dir.entryList(QDir::Files))
            if (f.compare(colorName + QStringLiteral(".png"), Qt::CaseInsensitive) == 0)
                return dir.filePath(f);
    }
    return QString();
}

int HighlightLabelTop(int frameHeight, int count, int index) {
    return static_cast<int>(RoundHalfEven(static_cast<double>(frameHeight) / (count + 2) * index));
}

QImage DrawHighlightPicture(const QImage& colorMap, const QString& fontName, int fontSize, const QStringList& labels) {
    if (colorMap.isNull() || colorMap.format() != QImage::Format_Indexed8 || colorMap.colorCount() < 2)
        return QImage();
    // Draw on a white canvas, then keep only the ink: ink pixels take the colour map's ink index.
    QImage canvas(colorMap.size(), QImage::Format_RGB32);
    canvas.fill(Qt::white);
    {
        QPainter p(&canvas);
        QFont font(fontName);
        font.setPointSize(std::max(1, fontSize));
        font.setStyleStrategy(QFont::NoAntialias);
        p.setFont(font);
        p.setPen(QPen(Qt::black));
        p.setRenderHint(QPainter::TextAntialiasing, false);
        const QFontMetrics metrics(font);
        const int n = static_cast<int>(labels.size());
        for (int i = 1; i <= n; ++i) {
            if (labels[i - 1].isEmpty())
                continue;
            // The label's top-left corner at (100, top): the baseline sits one ascent lower.
            p.drawText(QPoint(100, HighlightLabelTop(colorMap.height(), n, i) + metrics.ascent()), labels[i - 1]);
        }
    }
    // The colour map's palette: index 0 white (transparent), index 1 the ink's colour.
    QImage out(colorMap.size(), QImage::Format_Indexed8);
    QList<QRgb> table = colorMap.colorTable();
    table[0] = qRgba(255, 255, 255, 0);
    out.setColorTable(table);
    for (int y = 0; y < out.height(); ++y) {
        const auto* src = reinterpret_cast<const QRgb*>(canvas.constScanLine(y));
        uchar* dst = out.scanLine(y);
        for (int x = 0; x < out.width(); ++x)
            dst[x] = qGray(src[x]) < 128 ? 1 : 0;
    }
    return out;
}

QStringList SpumuxXmlLines(const QString& w) {
    return {QStringLiteral("<subpictures>"),
            QStringLiteral("<stream>"),
            QStringLiteral("<spu"),
            QStringLiteral("force=\"yes\""),
            QStringLiteral("start=\"00:00:00.00\""),
            QStringLiteral("image=\"") + XmlAttr(w + QStringLiteral("/normal.png")) + QLatin1Char('"'),
            QStringLiteral("select=\"") + XmlAttr(w + QStringLiteral("/selected.png")) + QLatin1Char('"'),
            QStringLiteral("highlight=\"") + XmlAttr(w + QStringLiteral("/active.png")) + QLatin1Char('"'),
            QStringLiteral("autooutline=\"infer\""),
            QStringLiteral("autoorder=\"rows\""),
            QStringLiteral("outlinewidth=\"30\">"),
            QStringLiteral("</spu>"),
            QStringLiteral("</stream>"),
            QStringLiteral("</subpictures>")};
}

TStepResult MakeMenuSubpictures(const QString& programFolder, const QString& w, bool pal, const TMenuSettings& menu,
                                const QStringList& labels, const std::atomic<bool>* cancel) {
    TStepResult r;
    const QString standard = pal ? QStringLiteral("PAL") : QStringLiteral("NTSC");
    const char* names[3] = {"normal", "active", "selected"};
    for (int k = 0; k < 3; ++k) {
        const QString mapFile = ColorMapFile(programFolder, standard, menu.ColorName[k]);
        const QImage map(mapFile);
        const QImage picture = DrawHighlightPicture(map, menu.FontName, menu.FontSize, labels);
        if (picture.isNull()) {
            r.Message = QStringLiteral("Cannot load the colour map for \"%1\" (%2)").arg(menu.ColorName[k], standard);
            return r;
        }
        const QString out = w + QLatin1Char('/') + QLatin1String(names[k]) + QStringLiteral(".png");
        if (!picture.save(out, "PNG")) {
            r.Message = QStringLiteral("Cannot write %1").arg(out);
            return r;
        }
    }
    const QString xml = w + QStringLiteral("/spumux.xml");
    const QString in = w + QStringLiteral("/premenu.mpg");
    const QString outFile = w + QStringLiteral("/menu.mpg");
    const QString program = FindExternalProgram(QStringLiteral("spumux"));
    const QStringList args{xml};
    if (!WriteCrLfFile(xml, SpumuxXmlLines(w)) ||
        !WriteCrLfFile(w + QStringLiteral("/spumux.sh"),
                       {QStringLiteral("#!/bin/sh"),
                        QStringLiteral("VIDEO_FORMAT=%1 ").arg(standard) +
                            ShellCommandLine(program.isEmpty() ? QStringLiteral("spumux") : program, args, in, outFile)})) {
        r.Message = QStringLiteral("Cannot write the spumux control files in %1").arg(w);
        return r;
    }
    const TExternalResult run =
        RunExternalProgram(program, args, in, outFile, {QStringLiteral("VIDEO_FORMAT=") + standard}, cancel);
    r.LogLines = run.LastErrorLines(8);
    const QString errors = QString::fromLocal8Bit(run.Errors);
    if (!run.Started) {
        r.Message = QStringLiteral("spumux could not be started: ") + run.ErrorText;
    } else if (!run.Ok()) {
        r.Message = QStringLiteral("spumux failed with exit code %1").arg(run.ExitCode);
    } else if (errors.contains(QStringLiteral("ERR:")) || errors.contains(QRegularExpression(QStringLiteral("\\b0 subtitles added")))) {
        r.Message = QStringLiteral("spumux could not place the menu buttons");
    } else if (QFileInfo(outFile).size() <= 0) {
        r.Message = QStringLiteral("spumux wrote no menu video");
    } else {
        r.Ok = true;
    }
    return r;
}
