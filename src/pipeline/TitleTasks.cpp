#include "pipeline/TitleTasks.h"

#include "media/FrameInputAdapter.h"
#include "project/ErrorReport.h"

#include <QPainter>

void AppendFilter(QString& filters, const QString& element) {
    if (element.isEmpty())
        return;
    filters = filters.isEmpty() ? element : filters + QLatin1Char(',') + element;
}

void TitleTaskOptions(const TVideoFile& title, int index, bool pal, const QString& workFolder, TInputOptions* input,
                      TOutputOptions* output) {
    InitInputOptions(input);
    input->FileName = title.Source;
    InitOutputOptions(output);
    output->FileName = workFolder + QStringLiteral("/title") + QString::number(index) + QStringLiteral(".mpg");
    output->NormType = pal ? ntPAL : ntNTSC;
    output->TargetType = ttDVD;
    if (pal)
        output->FrameRate = QStringLiteral("25");
    static const char* const aspects[] = {"", "-1", "4:3", "16:9", "1.85:1", "2.35:1"};
    if (title.AspectRatio >= 0 && title.AspectRatio <= 5)
        output->FrameAspectRatio = QString::fromLatin1(aspects[title.AspectRatio]);
    if (title.CropLeft > 0 || title.CropTop > 0 || title.CropRight > 0 || title.CropBottom > 0) {
        AppendFilter(output->VideoFilters,
                     QString::asprintf("crop=%d:%d:%d:%d", title.SourceWidth - title.CropLeft - title.CropRight,
                                       title.SourceHeight - title.CropTop - title.CropBottom, title.CropLeft,
                                       title.CropTop));
        QString size = output->FrameSize;
        const qsizetype x = size.indexOf(QLatin1Char('x'));
        if (x >= 0)
            size[x] = QLatin1Char(':');
        AppendFilter(output->VideoFilters, QStringLiteral("scale=") + size);
        output->FrameSize.clear();
    }
    input->TimeStart = title.TimeStart;
    output->TimeLength = title.TimeEnd - title.TimeStart;
    output->Info.TimeStamp = 0;
}

bool BuildTitleTasks(TFFEncoder& encoder, const TVideoFiles& files, bool pal, const QString& workFolder,
                     TTitleTasks& tasks) {
    encoder.ClearTasks();
    const auto n = static_cast<size_t>(files.size());
    tasks.Inputs.assign(n, TInputOptions());
    tasks.Outputs.assign(n, TOutputOptions());
    tasks.FrameHeight = pal ? 576 : 480;
    for (size_t i = 0; i < n; ++i) {
        TitleTaskOptions(files[static_cast<qsizetype>(i)], static_cast<int>(i + 1), pal, workFolder, &tasks.Inputs[i],
                         &tasks.Outputs[i]);
        const int index = encoder.AddTask(files[static_cast<qsizetype>(i)].Source, &tasks.Inputs[i]);
        if (index < 0) {
            ReportError(encoder.LastErrMsg(), QStringLiteral("CLM_FFAddTaskToMeged"));
            return false;
        }
        if (!encoder.SetOutputFile(index, tasks.Outputs[i].FileName, &tasks.Outputs[i])) {
            ReportError(QStringLiteral("Cannot set output file: ") + encoder.LastErrMsg(), QStringLiteral("CLM_SetOutputFile"));
            return false;
        }
    }
    return true;
}

bool TMenuTask::Add(TFFEncoder& encoder, TFrameInputAdapter& adapter, bool pal, int frameHeight,
                    const QString& workFolder) {
    RegisterFrameInputFormat();
    const QString name = FrameInputName(adapter, 15, 1, 720, frameHeight, 24);
    InitInputOptions(&Input);
    Input.ForceFormat = QStringLiteral("frameinput");
    const int index = encoder.AddTask(name, &Input);
    if (index < 0) {
        ReportError(QStringLiteral("Error adding menu picture task: ") + encoder.LastErrMsg(),
                    QStringLiteral("CLM_addtaskframeinput"));
        return false;
    }
    InitOutputOptions(&Output);
    Output.TargetType = ttDVD;
    Output.NormType = pal ? ntPAL : ntNTSC;
    if (!encoder.SetOutputFile(index, workFolder + QStringLiteral("/premenu.mpg"), &Output)) {
        encoder.RemoveTask(index);
        ReportError(QStringLiteral("Error setting output file for DVD menu picture") + encoder.LastErrMsg(),
                    QStringLiteral("CLM_setoutputframeinput"));
        return false;
    }
    return true;
}

int32_t TMenuTask::FIAReadFrameCanvas(QPainter& canvas, int64_t frameNumber) {
    // The answer -1 ends the input and the task finishes its file normally. Stopping the
    // transcoder here as well would abandon the menu video it is about to finish.
    if (frameNumber > FrameCount)
        return -1;
    const QRect frame = canvas.clipBoundingRect().toRect().isEmpty() ? canvas.viewport()
                                                                       : canvas.clipBoundingRect().toRect();
    canvas.setRenderHint(QPainter::SmoothPixmapTransform);
    canvas.drawImage(frame, Background);
    return 0;
}
