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

// KB/s of 1x for a medium of the burner's medium list (DVD kinds 4..12, BD/HD DVD kinds 13..19,
// anything else CD).
double SpeedUnit(int mediumOrdinal);
// The burning speed entries below "Max", highest first, without repeats: each speed from the
// drive's maximum down to 1x is requested (setSpeed returns the speed the drive then reports)
// and listed as "8x (11,080 KB/s)". Requests that do not fit in 16 bits are skipped.
QStringList SpeedListEntries(int mediumOrdinal, int maxWriteSpeed, const std::function<int(int request)>& setSpeed);

// Where the stored settings live: organisation "Parvenor", application "Ordavine".
QString SettingsFileName();
