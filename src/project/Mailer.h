#pragma once
// One plain-text mail over SMTP with user name and password (libcurl).
#include <QString>

struct TMailMessage {
    QString From;
    QString To;
    QString Subject;
    QString Body;
};

struct TMailServer {
    QString Host;
    int Port = 26;
    QString User;
    QString Password;
    int TimeoutSeconds = 30;
};

// Returns false with a readable reason when connecting, logging in or sending fails.
bool SendMail(const TMailServer& server, const TMailMessage& message, QString* error);

// The RFC 5322 text of the message, CR LF line ends (what SendMail uploads).
QByteArray ComposeMail(const TMailMessage& message);
