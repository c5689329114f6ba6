#include "pipeline/MenuSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

const QStringList& StandardColorNames() {
    static const QStringList names = {
        QStringLiteral("Black"), QStringLiteral("Maroon"), QStringLiteral("Green"),  QStringLiteral("Olive"),
        QStringLiteral("Navy"),  QStringLiteral("Purple"), QStringLiteral("Teal"),   QStringLiteral("Gray"),
        QStringLiteral("Silver"), QStringLiteral("Red"),   QStringLiteral("Lime"),   QStringLiteral("Yellow"),
        QStringLiteral("Blue"),  QStringLiteral("Fuchsia"), QStringLiteral("Aqua"),  QStringLiteral("White")};
    return names;
}

QColor ColorOfName(const QString& name, bool* known) {
    // The classic 16-colour table the names come from.
    static const QHash<QString, QRgb> table = {
        {QStringLiteral("black"), 0x000000}, {QStringLiteral("maroon"), 0x800000}, {QStringLiteral("green"), 0x008000},
        {QStringLiteral("olive"), 0x808000}, {QStringLiteral("navy"), 0x000080},   {QStringLiteral("purple"), 0x800080},
        {QStringLiteral("teal"), 0x008080},  {QStringLiteral("gray"), 0x808080},   {QStringLiteral("silver"), 0xC0C0C0},
        {QStringLiteral("red"), 0xFF0000},   {QStringLiteral("lime"), 0x00FF00},   {QStringLiteral("yellow"), 0xFFFF00},
        {QStringLiteral("blue"), 0x0000FF},  {QStringLiteral("fuchsia"), 0xFF00FF}, {QStringLiteral("aqua"), 0x00FFFF},
        {QStringLiteral("white"), 0xFFFFFF}};
    const auto it = table.find(name.trimmed().toLower());
    if (known)
        *known = it != table.end();
    return it != table.end() ? QColor(*it) : QColor(Qt::black);
}

QString FirstMenuBackground(const QString& folder) {
    const QStringList files = QDir(folder).entryList({QStringLiteral("*.jpg")}, QDir::Files | QDir::Hidden | QDir::System,
                                                     QDir::Name);
    if (files.isEmpty())
        return QString();
    QString dir = folder;
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir + files.first();
}

QString ThemeCaption(const QString& backgroundImage) {
    return QStringLiteral("Theme: ") + QFileInfo(backgroundImage).completeBaseName();
}
