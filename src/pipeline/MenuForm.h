#pragma once
// The menu design dialog: button colours, font and background, with a live preview.
#include "pipeline/MenuPreview.h"
#include "pipeline/MenuSettings.h"
#include "project/VideoFile.h"
#include <QDialog>

class QComboBox;
class QFontComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// The ready-made background before (step -1) or after (step +1) the current one; the first one
// when the current background is not ready-made; the current one at either end.
QString AdjacentBackground(const QString& folder, const QString& current, int step);

class TMenuForm : public QDialog {
    Q_OBJECT
public:
    // programFolder: where "menu-backgrounds" and "png-colormaps" are. The lists are built here.
    TMenuForm(const QString& programFolder, TMenuSettings& settings, QColor (&colors)[3], TMenuPreview& preview,
              QWidget* parent = nullptr);

    // Fills the controls from the settings and builds the preview for these titles.
    void Prepare(const TVideoFiles& files);
    // OK: takes the controls over into the settings; false (dialog stays) on a bad size.
    bool ApplySettings();

    QWidget* panMenuPreview = nullptr;
    QLabel* imgMenu = nullptr;
    QComboBox* cmbColorBoxNormal = nullptr;
    QComboBox* cmbColorBoxActive = nullptr;
    QComboBox* cmbColorBoxSelected = nullptr;
    QFontComboBox* cmbFontName = nullptr;
    QComboBox* cmbFontSize = nullptr;
    QLineEdit* edBackgroundFile = nullptr;
    QPushButton* btnBrowseBackground = nullptr;
    QListWidget* lbMenuBackgrounds = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;

public slots:
    void accept() override;

private:
    void Restyle();
    void FillSizes();
    void LoadPicture();

    QString FBackgroundFolder;
    TMenuSettings& FSettings;
    QColor (&FColors)[3];
    TMenuPreview& FPreview;
};
