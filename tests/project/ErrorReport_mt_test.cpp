#include "project/ErrorReport.h"
#include "project/EventsLog.h"
#include "support/ScriptedPrompts.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUrlQuery>
#include <gtest/gtest.h>

namespace {

// The real SMTP server of Debian's python3-aiosmtpd, on loopback, for the life of one test.
class TSmtpServer {
public:
    // refuse: the server refuses every recipient (550).
    explicit TSmtpServer(const QString& outDir, bool refuse = false) : FOut(outDir) {
        QStringList args{QStringLiteral(ORDAVINE_SOURCE_DIR "/tests/support/smtp_server.py"), outDir,
                         QStringLiteral("reports@ordavine.test"), QStringLiteral("qwertzui")};
        if (refuse)
            args << QStringLiteral("refuse");
        FProcess.start(QStringLiteral("/usr/bin/python3"), args);
        if (FProcess.waitForStarted(10000) && FProcess.waitForReadyRead(20000))
            Port = FProcess.readLine().trimmed().toInt();
    }
    ~TSmtpServer() {
        FProcess.closeWriteChannel();
        if (!FProcess.waitForFinished(5000))
            FProcess.kill();
        FProcess.waitForFinished();
    }
    QStringList Messages() const {
        QStringList out;
        const QStringList names = QDir(FOut).entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name);
        for (const QString& n : names) {
            QFile f(FOut + QLatin1Char('/') + n);
            f.open(QIODevice::ReadOnly);
            out << QString::fromUtf8(f.readAll());
        }
        return out;
    }
    QString Envelope(int n) const {
        QFile f(FOut + QStringLiteral("/%1.env").arg(n));
        f.open(QIODevice::ReadOnly);
        return QString::fromUtf8(f.readAll());
    }
    int Port = 0;

private:
    QString FOut;
    QProcess FProcess;
};

QStringList BodyLines(const QString& mail) {
    const qsizetype split = mail.indexOf(QStringLiteral("\r\n\r\n"));
    QString body = mail.mid(split + 4);
    if (body.endsWith(QStringLiteral("\r\n")))
        body.chop(2);
    return body.split(QStringLiteral("\r\n"));
}

QString Header(const QString& mail, const QString& name) {
    for (const QString& line : mail.left(mail.indexOf(QStringLiteral("\r\n\r\n"))).split(QStringLiteral("\r\n")))
        if (line.startsWith(name + QStringLiteral(": ")))
            return line.mid(name.size() + 2);
    return QString();
}

struct TReporterFixture : ::testing::Test {
    TLogForm Log;
    TErrorForm Form;
    TScriptedPrompts Prompts;
    TEndpoints Endpoints;
    std::unique_ptr<TErrorReporter> Reporter;

    void Make() {
        Reporter = std::make_unique<TErrorReporter>(Log, Form, Endpoints);
        SetEventsLog(&Log);
        SetErrorReporter(Reporter.get());
    }
    // The reporter, sending through the test server on loopback with the report account.
    void MakeWithMailServer(int port) {
        Endpoints.MailHost = QStringLiteral("127.0.0.1");
        Endpoints.MailPort = port;
        Endpoints.MailAccount = QStringLiteral("reports@ordavine.test");
        Endpoints.MailPassword = QStringLiteral("qwertzui");
        Endpoints.SupportAddress = QStringLiteral("support@ordavine.test");
        Make();
    }
    void TearDown() override {
        SetErrorReporter(nullptr);
        SetEventsLog(nullptr);
    }
    void AnswerSend(const QString& name, const QString& email, const QString& details) {
        Prompts.OnDialog = [=](QDialog& d) {
            d.findChild<QLineEdit*>(QStringLiteral("edName"))->setText(name);
            d.findChild<QLineEdit*>(QStringLiteral("edEmail"))->setText(email);
            d.findChild<QPlainTextEdit*>(QStringLiteral("memDetails"))->setPlainText(details);
            return int(QDialog::Accepted);
        };
    }
};

} // namespace

TEST_F(TReporterFixture, SendsReportsOverSmtpWithTheirHistory) {
    QTemporaryDir dir;
    TSmtpServer server(dir.path());
    ASSERT_GT(server.Port, 0);
    MakeWithMailServer(server.Port);
    Reporter->FFLoggerLog(42, QStringLiteral("[mpeg @ 0x1] probe failed"), 3);
    AppendEventsLog(QStringLiteral("first action"));

    // No "@": the report account sends; a name and two lines of details.
    AnswerSend(QStringLiteral("Ann"), QStringLiteral("ann at home"), QStringLiteral("It broke.\nTwice."));
    ReportError(QStringLiteral("Error loading file"), QStringLiteral("CLM_DecoderLoadFile"));
    // With "@" the typed address sends, as typed; empty name and details add no lines.
    AppendEventsLog(QStringLiteral("second action"));
    AnswerSend(QString(), QStringLiteral("bob@example.org"), QString());
    ReportError(QStringLiteral("Building DVD structure"), QStringLiteral("CLM_dvdauthor"));

    const QStringList mails = server.Messages();
    ASSERT_EQ(mails.size(), 2);
    EXPECT_TRUE(server.Envelope(1).contains(QStringLiteral("MAIL FROM:reports@ordavine.test")));
    EXPECT_TRUE(server.Envelope(1).contains(QStringLiteral("RCPT TO:support@ordavine.test")));
    EXPECT_TRUE(server.Envelope(1).contains(QStringLiteral("AUTH:True")));
    EXPECT_TRUE(server.Envelope(2).contains(QStringLiteral("MAIL FROM:bob@example.org")));
    EXPECT_EQ(Header(mails[0], QStringLiteral("Subject")), QStringLiteral("ERROR REPORT | Ordavine"));
    EXPECT_EQ(Header(mails[1], QStringLiteral("From")), QStringLiteral("bob@example.org"));

    const QString sep(25, QLatin1Char('-'));
    const QStringList first{QStringLiteral("FFLOGGER HISTORY:"),
                            QStringLiteral("#42.3: [mpeg @ 0x1] probe failed"),
                            sep,
                            QStringLiteral("ACTION HISTORY:"),
                            QStringLiteral("first action"),
                            sep,
                            QStringLiteral("LAST ERROR MESSAGE: Error loading file"),
                            QStringLiteral("CODE LINE MARK: CLM_DecoderLoadFile"),
                            QStringLiteral("USER NAME: Ann"),
                            QStringLiteral("PROBLEM DETAILS:"),
                            QStringLiteral("It broke."),
                            QStringLiteral("Twice.")};
    EXPECT_EQ(BodyLines(mails[0]), first);
    const QStringList second = first + QStringList{sep,
                                                   QStringLiteral("ACTION HISTORY:"),
                                                   QStringLiteral("first action"),
                                                   QStringLiteral("second action"),
                                                   sep,
                                                   QStringLiteral("LAST ERROR MESSAGE: Building DVD structure"),
                                                   QStringLiteral("CODE LINE MARK: CLM_dvdauthor")};
    EXPECT_EQ(BodyLines(mails[1]), second);
    EXPECT_TRUE(Prompts.OpenedUrls.isEmpty());
}

TEST_F(TReporterFixture, RefusedServerOpensAnEncodedMailLink) {
    Endpoints.MailHost = QStringLiteral("127.0.0.1");
    Endpoints.MailPort = 1; // nothing listens there
    Endpoints.MailAccount = QStringLiteral("reports@ordavine.test");
    Endpoints.SupportAddress = QStringLiteral("support@ordavine.test");
    Make();
    AnswerSend(QString(), QString(), QString());
    const QString message = QStringLiteral("Cannot open a&b #1?.mpg\nsecond line");
    ReportError(message, QStringLiteral("CLM_FFPlayerOpen"));
    ASSERT_EQ(Prompts.OpenedUrls.size(), 1);
    const QUrl link = Prompts.OpenedUrls[0];
    EXPECT_EQ(link.scheme(), QStringLiteral("mailto"));
    EXPECT_EQ(link.path(), QStringLiteral("support@ordavine.test"));
    const QUrlQuery query(link);
    EXPECT_EQ(query.queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded), QStringLiteral("ERROR REPORT | Ordavine"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded),
              message + QStringLiteral(" ;CODE LINE MARK:CLM_FFPlayerOpen;  YOUR COMMENT (DETAILS):"));
    EXPECT_FALSE(link.hasFragment());
}

TEST_F(TReporterFixture, ServerRefusingTheReportOpensTheMailLinkAndStoresNothing) {
    // The server is up and takes the login, but refuses the mail (550): the report is not lost,
    // it goes to the mail link as when no server answers.
    QTemporaryDir dir;
    TSmtpServer server(dir.path(), true);
    ASSERT_GT(server.Port, 0);
    MakeWithMailServer(server.Port);
    AnswerSend(QString(), QString(), QString());
    ReportError(QStringLiteral("Building DVD structure"), QStringLiteral("CLM_dvdauthor"));
    EXPECT_TRUE(server.Messages().isEmpty());
    ASSERT_EQ(Prompts.OpenedUrls.size(), 1);
    EXPECT_EQ(Prompts.OpenedUrls[0].scheme(), QStringLiteral("mailto"));
    EXPECT_TRUE(QUrlQuery(Prompts.OpenedUrls[0])
                    .queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded)
                    .startsWith(QStringLiteral("Building DVD structure ;CODE LINE MARK:CLM_dvdauthor;")));
}

TEST_F(TReporterFixture, NoMailServerConfiguredGoesStraightToTheLink) {
    Endpoints.SupportAddress = QStringLiteral("support@ordavine.test");
    Make();
    AnswerSend(QString(), QString(), QString());
    ReportError(QStringLiteral("x"), QStringLiteral("CLM_Snapshot"));
    EXPECT_EQ(Prompts.OpenedUrls.size(), 1);
}

TEST_F(TReporterFixture, CancelSendsNothingAndKeepsHistory) {
    Make();
    const QStringList before = Reporter->LoggerHistory;
    Prompts.OnDialog = [](QDialog&) { return int(QDialog::Rejected); };
    ReportError(QStringLiteral("Error making snapshot"), QStringLiteral("CLM_Snapshot"));
    EXPECT_EQ(Reporter->LoggerHistory, before);
    EXPECT_TRUE(Prompts.OpenedUrls.isEmpty());
    EXPECT_EQ(Form.lblErrorText->text(), QStringLiteral("Error making snapshot"));
    EXPECT_EQ(Prompts.DialogsShown, QStringList{QStringLiteral("ErrorForm")});
}

TEST_F(TReporterFixture, ReportFromAnotherThreadRunsOnTheGuiThreadWhileTheCallerWaits) {
    Make();
    QThread* dialogThread = nullptr;
    Prompts.OnDialog = [&](QDialog&) {
        dialogThread = QThread::currentThread();
        return int(QDialog::Rejected);
    };
    bool returned = false;
    QThread* worker = QThread::create([&] {
        AppendEventsLog(QStringLiteral("from worker"));
        ReportError(QStringLiteral("Conversion terminated with error: x"), QStringLiteral("CLM_Terminate"));
        returned = true;
    });
    worker->start();
    while (!worker->wait(10))
        QCoreApplication::processEvents();
    delete worker;
    EXPECT_TRUE(returned);
    EXPECT_EQ(dialogThread, QThread::currentThread());
    EXPECT_EQ(Log.Lines(), QStringList{QStringLiteral("from worker")});
}
