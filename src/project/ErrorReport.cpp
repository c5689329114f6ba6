#include "project/ErrorReport.h"

#include "project/EventsLog.h"
#include "project/Mailer.h"
#include "project/UserPrompts.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdio>

TErrorForm::TErrorForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ErrorForm"));
    setWindowTitle(QStringLiteral("Error!"));
    auto* layout = new QVBoxLayout(this);
    auto* caption = new QLabel(QStringLiteral("The following error occured:"), this);
    QFont bold = caption->font();
    bold.setBold(true);
    caption->setFont(bold);
    layout->addWidget(caption);
    lblErrorText = new QLabel(this);
    lblErrorText->setObjectName(QStringLiteral("lblErrorText"));
    lblErrorText->setWordWrap(true);
    lblErrorText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblErrorText->setStyleSheet(QStringLiteral("color: #b00020;"));
    layout->addWidget(lblErrorText);
    layout->addSpacing(8);
    layout->addWidget(new QLabel(QStringLiteral("Error report is generated. Please send it to developers to fix the problem."), this));
    layout->addWidget(new QLabel(QStringLiteral("If you want to be notified when the problem is fixed,  you can leave"), this));
    layout->addWidget(new QLabel(QStringLiteral("your contact information. You can also provide details of the problem. "), this));
    auto* form = new QFormLayout;
    edName = new QLineEdit(this);
    edName->setObjectName(QStringLiteral("edName"));
    edEmail = new QLineEdit(this);
    edEmail->setObjectName(QStringLiteral("edEmail"));
    memDetails = new QPlainTextEdit(this);
    memDetails->setObjectName(QStringLiteral("memDetails"));
    form->addRow(QStringLiteral("Your Name:"), edName);
    form->addRow(QStringLiteral("Your E-Mail:"), edEmail);
    form->addRow(QStringLiteral("Details:"), memDetails);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(this);
    SendButton = buttons->addButton(QStringLiteral("Send"), QDialogButtonBox::AcceptRole);
    SendButton->setObjectName(QStringLiteral("SendButton"));
    CancelButton = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(520, 420);
}

TErrorReporter::TErrorReporter(TLogForm& log, TErrorForm& form, const TEndpoints& endpoints, QObject* parent)
    : QObject(parent), Endpoints(endpoints), FLog(log), FForm(form) {
    LoggerHistory << QStringLiteral("FFLOGGER HISTORY:");
}

void TErrorReporter::Report(const QString& message, const QString& codeLineMark) {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, message, codeLineMark] { ReportOnGuiThread(message, codeLineMark); },
            Qt::BlockingQueuedConnection);
        return;
    }
    ReportOnGuiThread(message, codeLineMark);
}

void TErrorReporter::FFLoggerLog(quint64 threadId, const QString& text, int level) {
    LoggerHistory << QStringLiteral("#%1.%2: %3").arg(threadId).arg(level).arg(text);
}

QUrl TErrorReporter::MailLink(const QString& message, const QString& codeLineMark) const {
    const QString body = message + QStringLiteral(" ;CODE LINE MARK:") + codeLineMark +
                         QStringLiteral(";  YOUR COMMENT (DETAILS):");
    const QByteArray link = "mailto:" + QUrl::toPercentEncoding(Endpoints.SupportAddress, "@") +
                            "?subject=" + QUrl::toPercentEncoding(MailSubject()) +
                            "&body=" + QUrl::toPercentEncoding(body);
    return QUrl::fromEncoded(link, QUrl::StrictMode);
}

void TErrorReporter::ReportOnGuiThread(const QString& message, const QString& codeLineMark) {
    emit OnReport(message, codeLineMark);
    FForm.lblErrorText->setText(message);
    if (Prompts().ExecDialog(FForm) != QDialog::Accepted)
        return;

    TMailServer server;
    server.Host = Endpoints.MailHost;
    server.Port = Endpoints.MailPort;
    server.User = Endpoints.MailAccount;
    server.Password = Endpoints.MailPassword;

    TMailMessage mail;
    const QString typed = FForm.edEmail->text();
    mail.From = typed.contains(QLatin1Char('@')) ? typed : Endpoints.MailAccount;
    mail.To = Endpoints.SupportAddress;
    mail.Subject = MailSubject();

    const QString separator(25, QLatin1Char('-'));
    LoggerHistory << separator << QStringLiteral("ACTION HISTORY:");
    LoggerHistory << FLog.Lines();
    LoggerHistory << separator << QStringLiteral("LAST ERROR MESSAGE: ") + message
                  << QStringLiteral("CODE LINE MARK: ") + codeLineMark;
    if (!FForm.edName->text().isEmpty())
        LoggerHistory << QStringLiteral("USER NAME: ") + FForm.edName->text();
    const QString details = FForm.memDetails->toPlainText();
    if (!details.isEmpty()) {
        LoggerHistory << QStringLiteral("PROBLEM DETAILS:");
        LoggerHistory << details.split(QLatin1Char('\n'));
    }
    mail.Body = LoggerHistory.join(QLatin1Char('\n'));

    QString error;
    const bool sent = Endpoints.MailConfigured() && SendMail(server, mail, &error);
    if (!sent)
        Prompts().OpenUrl(MailLink(message, codeLineMark));
}

namespace {
TErrorReporter* gReporter = nullptr;
}

TErrorReporter* ErrorReporter() {
    return gReporter;
}

void SetErrorReporter(TErrorReporter* reporter) {
    gReporter = reporter;
}

void ReportError(const QString& message, const QString& codeLineMark) {
    if (gReporter)
        gReporter->Report(message, codeLineMark);
    else
        std::fprintf(stderr, "%s [%s]\n", message.toLocal8Bit().constData(), codeLineMark.toLocal8Bit().constData());
}
