#pragma once
#include <QDialog>

class QLabel;

class TAboutForm : public QDialog {
    Q_OBJECT
public:
    TAboutForm(const QString& programFolder, const QString& homePage, const QString& supportPage,
               QWidget* parent = nullptr);
    QLabel* lblVersion = nullptr;
    QLabel* imgLogo = nullptr;
};
