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
    return app.exec();
}
