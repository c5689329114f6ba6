#pragma once
#include <QString>

// Reports a failure to the user (error dialog with the mail report).
void ReportError(const QString& message, const QString& codeLineMark);
