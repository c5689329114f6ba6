#pragma once
#include <QString>

// Appends one line to the events log.
void AppendEventsLog(const QString& line);
