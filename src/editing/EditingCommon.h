#pragma once
// Small pieces shared by the preview and the two editing dialogs.
#include <QString>
#include <functional>

class TFFPlayer;

// The program-wide error reporter and events log by default; tests put their own in.
struct TEditingSinks {
    std::function<void(const QString& message, const QString& codeLineMark)> ReportError;
    std::function<void(const QString& line)> AppendEventsLog;
    TEditingSinks();
};

// The primary mouse button is held down at this moment. Position reports are kept from moving a
// slider under the user's pointer with it.
bool PrimaryMouseButtonDown();

// Keeps the GUI's events flowing until the player has carried out its pending seek.
void WaitForSeekEnd(TFFPlayer& player, int timeoutMs = 10000);
