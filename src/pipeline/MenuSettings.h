#pragma once
// The DVD menu design: button text colours for the three states, the font and the background.
#include <QColor>
#include <QString>
#include <QStringList>

struct TMenuSettings {
    QString ColorName[3] = {QStringLiteral("black"), QStringLiteral("blue"), QStringLiteral("red")};
    QString FontName = QStringLiteral("Arial");
    int FontSize = 28;
    QString BackgroundImage;
};

// The 16 standard colour names, as listed to the user.
const QStringList& StandardColorNames();
// The colour of a standard name in any letter case; black for an unknown name.
QColor ColorOfName(const QString& name, bool* known = nullptr);
// The first "*.jpg" of the folder in listing order, as a full path; empty when there is none.
QString FirstMenuBackground(const QString& folder);
// "Theme: " + file name without folder and extension.
QString ThemeCaption(const QString& backgroundImage);
