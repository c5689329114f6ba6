#pragma once
// One transcoder task per title, and the menu video task after them.
#include "media/FFEncoder.h"
#include "project/VideoFile.h"
#include <QImage>
#include <vector>

class TFrameInputAdapter;

// Appends a filter element: an empty element changes nothing, others join with ",".
void AppendFilter(QString& filters, const QString& element);
// The options of title i (1-based) of a run into work folder W.
void TitleTaskOptions(const TVideoFile& title, int index, bool pal, const QString& workFolder, TInputOptions* input,
                      TOutputOptions* output);

struct TTitleTasks {
    std::vector<TInputOptions> Inputs;
    std::vector<TOutputOptions> Outputs;
    int FrameHeight = 576;
};

// Registers every title in list order (task i-1 for title i). A refused task is reported
// ("CLM_FFAddTaskToMeged" / "CLM_SetOutputFile") and false returned; nothing is started.
bool BuildTitleTasks(TFFEncoder& encoder, const TVideoFiles& files, bool pal, const QString& workFolder,
                     TTitleTasks& tasks);

// The menu video: the background drawn into 100 frames at 15 fps, encoded to W/premenu.mpg.
class TMenuTask {
public:
    static constexpr int FrameCount = 100;

    // Registers the task after the title tasks; failures are reported and false returned.
    bool Add(TFFEncoder& encoder, TFrameInputAdapter& adapter, bool pal, int frameHeight, const QString& workFolder);
    // The adapter's frame request: the background stretched over the frame; frame 101 ends the input.
    int32_t FIAReadFrameCanvas(QPainter& canvas, int64_t frameNumber);

    QImage Background; // loaded at the start of each run
    TInputOptions Input;
    TOutputOptions Output;
};
