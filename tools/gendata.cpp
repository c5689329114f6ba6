// Draws the program's pictures at build time: the getting-started and idle preview pictures,
// the About box logo and the ready-made menu backgrounds.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <cmath>
#include <cstdio>

namespace {

bool Save(const QImage& image, const QString& path, const char* format, int quality = -1) {
    if (!image.save(path, format, quality)) {
        std::fprintf(stderr, "gendata: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

QImage Gradient(int w, int h, std::initializer_list<std::pair<double, QColor>> stops, bool vertical = true) {
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    QLinearGradient g(0, 0, vertical ? 0 : w, vertical ? h : 0);
    for (const auto& [pos, color] : stops)
        g.setColorAt(pos, color);
    p.fillRect(img.rect(), g);
    return img;
}

void SoftGlow(QImage& img, QPointF centre, double radius, QColor color) {
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient g(centre, radius);
    g.setColorAt(0, color);
    color.setAlpha(0);
    g.setColorAt(1, color);
    p.fillRect(img.rect(), g);
}

QImage BlueSky() {
    QImage img = Gradient(720, 576, {{0, QColor(0x1e, 0x5a, 0xa8)}, {0.6, QColor(0x6f, 0xb1, 0xe8)}, {1, QColor(0xd9, 0xee, 0xfb)}});
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    QRandomGenerator rng(7);
    for (int c = 0; c < 7; ++c) {
        const double cx = rng.bounded(720), cy = 330 + rng.bounded(200);
        for (int k = 0; k < 6; ++k) {
            p.setBrush(QColor(255, 255, 255, 40));
            p.drawEllipse(QPointF(cx + (k - 3) * 34, cy + std::sin(k) * 12), 60 + k * 3, 30 + k * 2);
        }
    }
    return img;
}

QImage Sunset() {
    QImage img = Gradient(720, 576, {{0, QColor(0x2b, 0x1b, 0x4a)}, {0.45, QColor(0xc4, 0x4e, 0x52)}, {0.75, QColor(0xf3, 0xa2, 0x4b)}, {1, QColor(0xfd, 0xe3, 0x9c)}});
    SoftGlow(img, QPointF(360, 470), 260, QColor(255, 230, 160, 170));
    return img;
}

QImage Forest() {
    QImage img = Gradient(720, 576, {{0, QColor(0xcf, 0xe8, 0xc8)}, {1, QColor(0x2e, 0x5e, 0x3a)}});
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRandomGenerator rng(11);
    for (int layer = 0; layer < 3; ++layer) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x1f + layer * 8, 0x4d - layer * 10, 0x2a, 90 + layer * 50));
        for (int i = 0; i < 18; ++i) {
            const double x = rng.bounded(760) - 20;
            const double base = 400 + layer * 60;
            const double hgt = 140 + rng.bounded(120) - layer * 20;
            QPolygonF tree;
            tree << QPointF(x, base - hgt) << QPointF(x - 28, base) << QPointF(x + 28, base);
            p.drawPolygon(tree);
        }
    }
    return img;
}

QImage NightStars() {
    QImage img = Gradient(720, 576, {{0, QColor(0x05, 0x07, 0x1a)}, {1, QColor(0x1b, 0x23, 0x55)}});
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRandomGenerator rng(3);
    for (int i = 0; i < 260; ++i) {
        const int a = 90 + rng.bounded(165);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 240, a));
        const double r = 0.5 + rng.bounded(1.6);
        p.drawEllipse(QPointF(rng.bounded(720), rng.bounded(576)), r, r);
    }
    p.end();
    SoftGlow(img, QPointF(560, 120), 70, QColor(250, 245, 220, 200));
    return img;
}

QImage OceanWaves() {
    QImage img = Gradient(720, 576, {{0, QColor(0x02, 0x3e, 0x5a)}, {1, QColor(0x1f, 0x9e, 0xaa)}});
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    for (int band = 0; band < 14; ++band) {
        QPainterPath path;
        const double y0 = 40 + band * 40;
        path.moveTo(0, y0);
        for (int x = 0; x <= 720; x += 8)
            path.lineTo(x, y0 + 12 * std::sin(x / 60.0 + band * 0.7));
        p.setPen(QPen(QColor(255, 255, 255, 28), 6));
        p.drawPath(path);
    }
    return img;
}

QImage WarmSand() {
    QImage img = Gradient(720, 576, {{0, QColor(0xf6, 0xe7, 0xc8)}, {1, QColor(0xd4, 0xa5, 0x6a)}}, false);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    for (int band = 0; band < 9; ++band) {
        QPainterPath path;
        const double y0 = 120 + band * 55;
        path.moveTo(0, 576);
        path.lineTo(0, y0);
        for (int x = 0; x <= 720; x += 10)
            path.lineTo(x, y0 + 20 * std::sin(x / 110.0 + band));
        path.lineTo(720, 576);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xb8, 0x86, 0x4b, 22));
        p.drawPath(path);
    }
    return img;
}

QImage LavenderMist() {
    QImage img = Gradient(720, 576, {{0, QColor(0xe9, 0xe0, 0xf5)}, {1, QColor(0x9b, 0x86, 0xc6)}});
    SoftGlow(img, QPointF(180, 160), 300, QColor(255, 255, 255, 120));
    SoftGlow(img, QPointF(600, 480), 240, QColor(0x7a, 0x5f, 0xb0, 110));
    return img;
}

QImage Graphite() {
    QImage img = Gradient(720, 576, {{0, QColor(0x3a, 0x3f, 0x47)}, {1, QColor(0x14, 0x16, 0x1a)}});
    QPainter p(&img);
    p.setPen(QPen(QColor(255, 255, 255, 12), 1));
    for (int x = -576; x < 720; x += 14)
        p.drawLine(x, 576, x + 576, 0);
    return img;
}

QImage Logo() {
    QImage img(360, 120, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient disc(QPointF(60, 60), 50);
    disc.setColorAt(0, QColor(0xe8, 0xee, 0xf8));
    disc.setColorAt(0.7, QColor(0x7c, 0x9c, 0xd8));
    disc.setColorAt(1, QColor(0x2f, 0x4f, 0x9a));
    p.setBrush(disc);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(60, 60), 48, 48);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(60, 60), 9, 9);
    QFont f(QStringLiteral("Liberation Sans"), 30, QFont::Bold);
    p.setFont(f);
    p.setPen(QColor(0x23, 0x36, 0x6b));
    p.drawText(QRect(120, 20, 240, 60), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Ordavine"));
    f.setPointSize(11);
    f.setBold(false);
    p.setFont(f);
    p.setPen(QColor(0x55, 0x5f, 0x73));
    p.drawText(QRect(122, 72, 240, 30), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("DVD authoring and burning"));
    return img;
}

QImage Icon() {
    QImage img(256, 256, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient disc(QPointF(110, 100), 150);
    disc.setColorAt(0, QColor(0xf4, 0xf7, 0xfd));
    disc.setColorAt(0.5, QColor(0x9d, 0xb8, 0xea));
    disc.setColorAt(1, QColor(0x2f, 0x4f, 0x9a));
    p.setBrush(disc);
    p.setPen(QPen(QColor(0x23, 0x36, 0x6b), 4));
    p.drawEllipse(QPointF(128, 128), 118, 118);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(128, 128), 22, 22);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2f, 0x7d, 0x32));
    QPolygonF play;
    play << QPointF(150, 170) << QPointF(150, 240) << QPointF(210, 205);
    p.drawPolygon(play);
    return img;
}

QImage GettingStarted() {
    QImage img = Gradient(640, 420, {{0, QColor(0xf7, 0xf9, 0xfc)}, {1, QColor(0xe3, 0xea, 0xf4)}});
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QFont title(QStringLiteral("Liberation Sans"), 22, QFont::Bold);
    p.setFont(title);
    p.setPen(QColor(0x23, 0x36, 0x6b));
    p.drawText(QRect(0, 40, 640, 50), Qt::AlignCenter, QStringLiteral("Make a DVD in three steps"));
    QFont body(QStringLiteral("Liberation Sans"), 13);
    p.setFont(body);
    const char* steps[] = {"1.  Click \"Add video\" and choose your video files",
                           "2.  Trim, crop and name your titles, design the menu",
                           "3.  Insert a blank disc and click \"Burn DVD\""};
    for (int i = 0; i < 3; ++i) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x3d, 0x8e, 0xd8));
        p.drawEllipse(QPointF(70, 150 + i * 70), 6, 6);
        p.setPen(QColor(0x33, 0x3a, 0x46));
        p.drawText(QRect(90, 132 + i * 70, 540, 36), Qt::AlignLeft | Qt::AlignVCenter, QString::fromUtf8(steps[i]));
    }
    return img;
}

QImage PreviewIdle() {
    QImage img = Gradient(480, 270, {{0, QColor(0x20, 0x22, 0x28)}, {1, QColor(0x0c, 0x0d, 0x10)}});
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 60));
    QPolygonF play;
    play << QPointF(220, 105) << QPointF(220, 165) << QPointF(270, 135);
    p.drawPolygon(play);
    p.setPen(QColor(255, 255, 255, 110));
    p.setFont(QFont(QStringLiteral("Liberation Sans"), 10));
    p.drawText(QRect(0, 190, 480, 30), Qt::AlignCenter, QStringLiteral("Select a title and press Play"));
    return img;
}

// One indexed picture per standard and colour: index 0 white (transparent where the labels are
// not), index 1 the colour that black ink turns into on the disc.
bool ColorMaps(const QString& out) {
    const std::pair<const char*, QRgb> colors[] = {
        {"black", 0x000000}, {"maroon", 0x800000}, {"green", 0x008000}, {"olive", 0x808000},
        {"navy", 0x000080},  {"purple", 0x800080}, {"teal", 0x008080},  {"gray", 0x808080},
        {"silver", 0xC0C0C0}, {"red", 0xFF0000},   {"lime", 0x00FF00},  {"yellow", 0xFFFF00},
        {"blue", 0x0000FF},  {"fuchsia", 0xFF00FF}, {"aqua", 0x00FFFF}, {"white", 0xFFFFFF}};
    bool ok = true;
    for (const auto& [standard, height] : {std::pair<const char*, int>{"pal", 576}, {"ntsc", 480}}) {
        const QString dir = out + QStringLiteral("/png-colormaps/") + QLatin1String(standard);
        QDir().mkpath(dir);
        for (const auto& [name, rgb] : colors) {
            QImage map(720, height, QImage::Format_Indexed8);
            map.setColorTable({qRgba(255, 255, 255, 0), qRgba(qRed(rgb), qGreen(rgb), qBlue(rgb), 255)});
            map.fill(0);
            ok = Save(map, dir + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png"), "PNG") && ok;
        }
    }
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: gendata OUTPUT_FOLDER\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out + QStringLiteral("/common-data"));
    QDir().mkpath(out + QStringLiteral("/menu-backgrounds"));
    bool ok = Save(GettingStarted(), out + QStringLiteral("/common-data/gs.bmp"), "BMP");
    ok = Save(PreviewIdle(), out + QStringLiteral("/common-data/preview.bmp"), "BMP") && ok;
    ok = Save(Logo(), out + QStringLiteral("/ordavine-logo.bmp"), "BMP") && ok;
    const std::pair<const char*, QImage (*)()> backgrounds[] = {
        {"Blue Sky", BlueSky},     {"Forest", Forest},     {"Graphite", Graphite},         {"Lavender Mist", LavenderMist},
        {"Night Stars", NightStars}, {"Ocean Waves", OceanWaves}, {"Sunset", Sunset}, {"Warm Sand", WarmSand}};
    for (const auto& [name, draw] : backgrounds)
        ok = Save(draw(), out + QStringLiteral("/menu-backgrounds/%1.jpg").arg(QString::fromLatin1(name)), "JPEG", 92) && ok;
    ok = ColorMaps(out) && ok;
    ok = Save(Icon(), out + QStringLiteral("/ordavine.png"), "PNG") && ok;
    return ok ? 0 : 1;
}
