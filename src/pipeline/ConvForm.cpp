#include "pipeline/ConvForm.h"

#include "project/UserPrompts.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

TConvForm::TConvForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ConvForm"));
    setWindowTitle(QStringLiteral("Ordavine"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    lblConvertingTitle = new QLabel(QStringLiteral("Converting ..."), this);
    lblConvertingTitle->setObjectName(QStringLiteral("lblConvertingTitle"));
    QFont bold = lblConvertingTitle->font();
    bold.setBold(true);
    lblConvertingTitle->setFont(bold);
    layout->addWidget(lblConvertingTitle);
    ProgressCurrent = new QProgressBar(this);
    ProgressCurrent->setObjectName(QStringLiteral("ProgressCurrent"));
    ProgressCurrent->setRange(0, 100);
    ProgressTotal = new QProgressBar(this);
    ProgressTotal->setObjectName(QStringLiteral("ProgressTotal"));
    ProgressTotal->setRange(0, 100);
    layout->addWidget(ProgressCurrent);
    layout->addWidget(ProgressTotal);
    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    layout->addWidget(lblStatus);
    cbShutdownPC = new QCheckBox(QStringLiteral("Shut down computer when conversion completed"), this);
    cbShutdownPC->setObjectName(QStringLiteral("cbShutdownPC"));
    layout->addWidget(cbShutdownPC);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    PauseButton = new QPushButton(QStringLiteral("Pause"), this);
    PauseButton->setObjectName(QStringLiteral("PauseButton"));
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    buttons->addWidget(PauseButton);
    buttons->addWidget(CancelButton);
    layout->addLayout(buttons);
    connect(CancelButton, &QPushButton::clicked, this, &TConvForm::CancelButtonClick);
    connect(PauseButton, &QPushButton::clicked, this, &TConvForm::PauseButtonClick);
    resize(480, 0);
}

void TConvForm::SetCaption(const QString& caption) {
    lblConvertingTitle->setText(caption);
}

void TConvForm::SetCurrent(int value) {
    ProgressCurrent->setValue(std::clamp(value, ProgressCurrent->minimum(), ProgressCurrent->maximum()));
}

int TConvForm::Current() const {
    return ProgressCurrent->value();
}

void TConvForm::SetCurrentMax(int maximum) {
    ProgressCurrent->setMaximum(maximum);
}

void TConvForm::SetTotal(int value) {
    ProgressTotal->setValue(std::clamp(value, ProgressTotal->minimum(), ProgressTotal->maximum()));
}

void TConvForm::SetStatus(const QString& text) {
    lblStatus->setText(text);
}

void TConvForm::Exec() {
    PauseButton->setText(QStringLiteral("Pause"));
    exec();
}

void TConvForm::Close() {
    done(QDialog::Accepted);
}

bool TConvForm::ShutdownWhenDone() const {
    return cbShutdownPC->isChecked();
}

void TConvForm::CancelButtonClick() {
    if (OnCancel)
        OnCancel();
}

void TConvForm::PauseButtonClick() {
    const bool pause = PauseButton->text() == QStringLiteral("Pause");
    PauseButton->setText(pause ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    if (OnPause)
        OnPause(pause);
}

void TConvForm::reject() {
    CancelButtonClick();
}
