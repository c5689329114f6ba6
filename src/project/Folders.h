#pragma once
// The folders the program uses: its own folder with the data folders beside the executable, and
// the user data folders under the documents folder.
#include <QString>

// The folder of the executable, always ending in "/".
QString ProgramFolder();
// Points the program at another folder holding its data folders (tests run from their own).
void SetProgramFolder(const QString& folder);
// The user's documents folder (XDG), or empty when it cannot be resolved.
QString DocumentsFolder();

struct TUserFolders {
    QString Output;      // default working folder of creation runs; empty when missing
    QString ScreenShots; // default snapshot folder; empty when missing
};

// Creates <documents>/Parvenor/Ordavine/{Output,ScreenShots} one level at a time, silently
// skipping what cannot be created, and returns the two subfolders that exist afterwards.
TUserFolders CreateUserDataFolders(const QString& documents);
