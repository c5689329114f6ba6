// A colour map file as the menu's highlight step reads it: loaded by name, then the labels drawn
// into its palette.
#include "FuzzSupport.h"
#include "pipeline/Subpictures.h"

#include <QImage>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::EnsureQtApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzzsupport::WriteInput("Blue.png", data, size);
    const QImage map(QString::fromStdString(path));
    const QImage picture = DrawHighlightPicture(map, QStringLiteral("Arial"), 22,
                                                {QStringLiteral("Title 1"), QStringLiteral("Title 2")});
    if (!picture.isNull() && (picture.size() != map.size() || picture.format() != QImage::Format_Indexed8))
        __builtin_trap();
    // The lookup by colour name over the folder that now holds the file.
    (void)ColorMapFile(QString::fromStdString(fuzzsupport::ScratchFolder()) + QStringLiteral("/.."),
                       QString::fromStdString(fuzzsupport::ScratchFolder()).section(QLatin1Char('/'), -1),
                       QStringLiteral("blue"));
    return 0;
}
