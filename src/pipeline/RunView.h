#pragma once
// What a creation run shows while it works: the progress dialog in the program, progress lines
// on the terminal for the command line. Called on the GUI thread only.
#include <QString>
#include <functional>

class TRunView {
public:
    virtual ~TRunView() = default;
    virtual void SetCaption(const QString& caption) = 0;
    virtual void SetCurrent(int value) = 0;
    virtual int Current() const = 0;
    virtual void SetCurrentMax(int maximum) = 0;
    virtual void SetTotal(int value) = 0;
    // Free text under the gauges (sizes and speed while burning; times while converting).
    virtual void SetStatus(const QString& text) = 0;
    // Runs until Close; the buttons call back through the handlers below.
    virtual void Exec() = 0;
    virtual void Close() = 0;
    // "Shut down computer when conversion completed".
    virtual bool ShutdownWhenDone() const { return false; }

    std::function<void()> OnCancel;
    std::function<void(bool pause)> OnPause;
};
