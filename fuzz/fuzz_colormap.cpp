// The menu's highlight pictures: a colour map file as the menu step loads it by name, and the
// button labels (the users' title names) drawn into its palette. An input that starts with the
// PNG signature is the file itself; any other input describes a paletted map directly (size,
// palette, font size) followed by the labels, so that odd maps and labels reach the drawing even
// when the picture decoder would have refused the bytes.
#include "FuzzSupport.h"
#include "pipeline/Subpictures.h"

#include <QImage>

#include <cstring>

namespace {

void Draw(const QImage& map, int fontSize, const QStringList& labels) {
    const QImage picture = DrawHighlightPicture(map, QStringLiteral("Arial"), fontSize, labels);
    if (!picture.isNull() &&
        (picture.size() != map.size() || picture.format() != QImage::Format_Indexed8))
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::EnsureQtApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const uint8_t png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size >= 8 && std::memcmp(data, png, 8) == 0) {
        const std::string path = fuzzsupport::WriteInput("Blue.png", data, size);
        Draw(QImage(QString::fromStdString(path)), 22,
             {QStringLiteral("Title 1"), QStringLiteral("Title 2")});
        (void)ColorMapFile(
            QString::fromStdString(fuzzsupport::ScratchFolder()) + QStringLiteral("/.."),
            QString::fromStdString(fuzzsupport::ScratchFolder()).section(QLatin1Char('/'), -1),
            QStringLiteral("blue"));
        return 0;
    }
    if (size < 6)
        return 0;
    // Up to 720 x 576 (a menu frame), 0..255 colours, font sizes -64..191.
    const int width = 1 + (data[0] | (data[1] & 0x03) << 8) % 720;
    const int height = 1 + (data[2] | (data[3] & 0x03) << 8) % 576;
    const int colours = data[4];
    const int fontSize = int(data[5]) - 64;
    size_t at = 6;
    QImage map(width, height, QImage::Format_Indexed8);
    QList<QRgb> table;
    for (int i = 0; i < colours; ++i) {
        QRgb c = 0;
        for (int k = 0; k < 4 && at < size; ++k)
            c = (c << 8) | data[at++];
        table.append(c);
    }
    map.setColorTable(table);
    map.fill(0);
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data + at), qsizetype(size - at));
    Draw(map, fontSize, text.split(QLatin1Char('\n')));
    return 0;
}
