#include "project/EventsLog.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>
#include <cstdio>

TLogForm::TLogForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("LogForm"));
    setWindowTitle(QStringLiteral("Events Log"));
    resize(640, 420);
    auto* layout = new QVBoxLayout(this);
    mmoLog = new QPlainTextEdit(this);
    mmoLog->setObjectName(QStringLiteral("mmoLog"));
    mmoLog->setReadOnly(true);
    mmoLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    layout->addWidget(mmoLog);
    auto* buttons = new QDialogButtonBox(this);
    auto* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("OKButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

void TLogForm::AppendLine(const QString& line) {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, line] { AppendLine(line); }, Qt::BlockingQueuedConnection);
        return;
    }
    FLines << line;
    mmoLog->appendPlainText(line);
    emit LineAppended(line);
}

namespace {
TLogForm* gLog = nullptr;
}

TLogForm* EventsLog() {
    return gLog;
}

void SetEventsLog(TLogForm* log) {
    gLog = log;
}

void AppendEventsLog(const QString& line) {
    if (gLog)
        gLog->AppendLine(line);
    else
        std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
}
