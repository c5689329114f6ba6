#pragma once
// The preferences dialog: its controls are the live run-time settings. It also reads the three
// stored folder settings at creation and writes them when the main window closes.
#include <QDialog>
#include <QString>
#include <functional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

class TSettingsForm : public QDialog {
    Q_OBJECT
public:
    // documents: the user's documents folder (the user data folders are created beneath it).
    explicit TSettingsForm(const QString& documents, QWidget* parent = nullptr);

    // Writes "OutputPath", "OpenVideoDialogPath" (when files were chosen this run) and
    // "ScreenShotsPath"; the first failing value is reported and the rest skipped.
    void SaveSettings();

    // Rebuilds the burning speed list from the selected drive (installed by the main window).
    void cmbSpeedDropDown();
    std::function<void(QComboBox&)> BuildSpeedList;

    bool IsPAL() const;
    QString TempFolder() const;

    QComboBox* cmbNormType = nullptr;
    QCheckBox* cbSkipMenu = nullptr;
    QLineEdit* edTempFolder = nullptr;
    QPushButton* btnBrowseTempFolder = nullptr;
    QCheckBox* cbDeleteTempFiles = nullptr;
    QComboBox* cmbSpeed = nullptr;

    // Initial folder of the add dialog ("OpenVideoDialogPath"); empty for the default.
    QString OpenVideoDialogPath;
    // The first file of the add dialog's latest selection this run; empty when none.
    QString LastAddedFile;
    // The snapshot folder ("ScreenShotsPath").
    QString ScreenShotsPath;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ReadSettings();
};

// Where the stored settings live: organisation "Parvenor", application "Ordavine".
QString SettingsFileName();
