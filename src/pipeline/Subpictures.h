#pragma once
// The menu's button highlights: three pictures of the labels (normal, active, selected colour),
// multiplexed into the menu video by spumux.
#include "pipeline/MenuSettings.h"
#include "project/VideoFile.h"
#include <QImage>
#include <QString>
#include <QStringList>
#include <atomic>

// <program folder>/png-colormaps/<standard>/<colour>.png, matched without regard to case; empty
// when there is none.
QString ColorMapFile(const QString& programFolder, const QString& standard, const QString& colorName);

// Top of label i (1-based) of n on a frame of height h: round(h / (n + 2) * i), halves to even.
int HighlightLabelTop(int frameHeight, int count, int index);

// Draws the labels in black into the colour map's palette (no antialiasing: a subpicture has at
// most four colours); white stays transparent. A null picture when the colour map is unusable.
QImage DrawHighlightPicture(const QImage& colorMap, const QString& fontName, int fontSize, const QStringList& labels);

QStringList SpumuxXmlLines(const QString& workFolder);

struct TStepResult {
    bool Ok = false;
    QString Message;      // for the report
    QStringList LogLines; // for the events log
};

// Writes normal/active/selected.png, spumux.xml and spumux.sh into W and runs spumux
// (premenu.mpg in, menu.mpg out). Checks the exit code, the output and the error output (spumux
// exits 0 even when it drops the overlay).
TStepResult MakeMenuSubpictures(const QString& programFolder, const QString& workFolder, bool pal,
                                const TMenuSettings& menu, const QStringList& labels,
                                const std::atomic<bool>* cancel = nullptr);
