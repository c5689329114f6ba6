// Stand-ins until the error reporter and the events log join this branch; delete this file when
// project/ErrorReport.cpp and project/EventsLog.cpp are present.
#include "project/ErrorReport.h"
#include "project/EventsLog.h"
#include <cstdio>

void ReportError(const QString& message, const QString& codeLineMark) {
    std::fprintf(stderr, "%s (%s)\n", qPrintable(message), qPrintable(codeLineMark));
}

void AppendEventsLog(const QString& line) {
    std::fprintf(stderr, "%s\n", qPrintable(line));
}
