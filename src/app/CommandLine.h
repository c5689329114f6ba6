#pragma once
// ordavine-cli: the creation run without a window, through the same classes as the program.
#include "pipeline/MenuSettings.h"
#include "project/VideoFile.h"
#include <QString>
#include <QStringList>
#include <cstdio>

// Exit statuses, one per step, so that scripts can tell what failed.
enum TCliExit {
    ceOk = 0,
    ceUsage = 1,        // bad options, no input
    ceAddFailed = 2,    // a file could not be added (--strict, or none could)
    ceCapacity = 3,     // the titles may not fit and --yes was not given
    ceChecks = 4,       // not enough free space, background picture unreadable
    ceWorkFolder = 5,   // the work folder could not be made
    ceConversion = 6,   // a title or the menu could not be converted
    ceSubpictures = 7,  // spumux failed
    ceAuthoring = 8,    // dvdauthor failed
    ceBurn = 9,         // the image or disc could not be written
    ceCancelled = 10,   // interrupted
    ceDestination = 11, // the destination could not be written
};

struct TCliTitle {
    QString File;
    QString Name;          // empty: the file name without extension
    int64_t TrimStart = -1; // microseconds; -1: from the start
    int64_t TrimEnd = -1;   // microseconds; -1: to the end
    int Crop[4] = {0, 0, 0, 0};
    int Aspect = 0;
};

struct TCliJob {
    QList<TCliTitle> Titles;
    bool PAL = false;
    int DiscType = 0;
    QString Label = QStringLiteral("Video DVD");
    TMenuSettings Menu;
    bool MenuGiven[3] = {false, false, false}; // background, colours, font given
    bool SkipMenu = false;
    bool DeleteTemp = false;
    QString TempFolder;
    QString Device;   // --device N|PATH
    QString IsoFile;  // --iso FILE
    QString Folder;   // --folder DIR
    int Speed = 0;    // x; 0 = maximum
    bool Yes = false;
    bool Strict = false;
    bool ListDrives = false;
    bool Help = false;
    bool Version = false;
};

// Parses the arguments (without the program name). False with a message on a bad option.
bool ParseCommandLine(const QStringList& args, TCliJob& job, QString* error);
// "hh:mm:ss[.fff]" (also "mm:ss" and "ss") in microseconds; -1 when not a time.
int64_t ParseClock(const QString& text);
QString CliUsage();

// Runs the job; progress to `out`, messages and reports to `err`. Returns the exit status.
int RunCommandLine(const TCliJob& job, FILE* out, FILE* err);
