#include "app/Application.h"
#include "app/MainForm.h"

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setOrganizationName(QStringLiteral("Parvenor"));
    QApplication::setApplicationName(QStringLiteral("Ordavine"));
    TApplication ordavine;
    ordavine.MainForm->show();
    // Files given on the command line ("Open with" of the desktop) are added as Add does.
    QStringList files = QApplication::arguments().mid(1);
    if (!files.isEmpty())
        ordavine.MainForm->AddFilesFromOutside(files);
    return app.exec();
}
