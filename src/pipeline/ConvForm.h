#pragma once
// The progress dialog of a creation run.
#include "pipeline/RunView.h"
#include <QDialog>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

class TConvForm : public QDialog, public TRunView {
    Q_OBJECT
public:
    explicit TConvForm(QWidget* parent = nullptr);

    void SetCaption(const QString& caption) override;
    void SetCurrent(int value) override;
    int Current() const override;
    void SetCurrentMax(int maximum) override;
    void SetTotal(int value) override;
    void SetStatus(const QString& text) override;
    void Exec() override;
    void Close() override;
    bool ShutdownWhenDone() const override;

    void CancelButtonClick();
    void PauseButtonClick();

    QLabel* lblConvertingTitle = nullptr;
    QProgressBar* ProgressCurrent = nullptr;
    QProgressBar* ProgressTotal = nullptr;
    QLabel* lblStatus = nullptr;
    QPushButton* CancelButton = nullptr;
    QPushButton* PauseButton = nullptr;
    QCheckBox* cbShutdownPC = nullptr;

protected:
    void reject() override; // Escape and the close box cancel, as the Cancel button does
};
