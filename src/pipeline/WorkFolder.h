#pragma once
// The work folder of a creation run and the clean-up of the old ones.
#include <QString>

// Empties a folder (and removes it with removeFolder). Entries are visited in listing order;
// with stopAtFirstFailure the routine returns false at the first entry it cannot delete. A
// symbolic link is removed itself and never followed, so nothing outside the folder is touched.
// A missing folder yields false.
bool CleanFolder(const QString& folder, bool resetAttributes, bool stopAtFirstFailure, bool removeFolder);

// Prepares <temp>/parvenor_temp/<n> for the first n in 1..20 that is free after the old numbered
// folders were removed; <temp>/parvenor_temp itself when all twenty stay. False when the temporary
// folder is missing and cannot be created.
bool PrepareWorkFolder(const QString& tempFolder, QString* workFolder);

struct TFreeSpace {
    double MB = 0;       // bytes available to the user / 1024 / 1024; 0 when unknown
    QString MountPoint;  // the file system's mount point ("drive"); empty when unknown
};
// Space available on the file system of the folder (or of its nearest existing parent).
TFreeSpace FreeSpaceOf(const QString& folder);
