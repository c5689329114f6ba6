// A menu background picture: loaded by name as a run does, then stretched over a menu frame as
// the menu video's frame source draws it.
#include "FuzzSupport.h"
#include "pipeline/TitleTasks.h"

#include <QImage>
#include <QPainter>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::EnsureQtApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzzsupport::WriteInput("background", data, size);
    TMenuTask task;
    task.Background = QImage(QString::fromStdString(path));
    if (task.Background.isNull())
        return 0; // a run refuses to start with this picture
    QImage frame(720, 576, QImage::Format_RGB32);
    QPainter painter(&frame);
    (void)task.FIAReadFrameCanvas(painter, 1);
    return 0;
}
