#pragma once
// The FFmpeg libraries are linked; "loading" verifies that the runtime libraries match the
// build and that every component the program uses is present.
#include <QString>

namespace AVLib {
// Checks once and remembers the answer. The folder is accepted for the caller's sake only.
bool Load(const QString& folder, QString* errMsg);
bool Loaded();
} // namespace AVLib
