#pragma once
// The DVD-Video structure: dvdauthor builds W/dvd_out/VIDEO_TS from the titles and the menu.
#include "pipeline/Subpictures.h"
#include <QString>
#include <QStringList>

// The control file. With a menu: the title menu jumps to the title set's root menu of n buttons,
// every title plays and returns to it. Without a menu: the disc starts title 1 when inserted and
// each title plays on into the next; the last returns to the first title's start.
QStringList DvdauthorXmlLines(int titleCount, const QString& workFolder, bool withMenu);

// Interval of the authoring timer in ms from the conversion's duration (hours 0..23 only).
int AuthoringTimerInterval(qint64 elapsedMilliseconds);

// Writes dvdauthor.xml and dvdauthor.sh and runs dvdauthor; checks its exit code and that the
// VIDEO_TS folder was written.
TStepResult AuthorDvd(const QString& workFolder, int titleCount, bool pal, bool withMenu,
                      const std::atomic<bool>* cancel = nullptr);
