#pragma once
// Addresses the program talks to: its web pages and the error report mail account. They are read
// from "endpoints.ini" beside the program, overridden by the same file in the user's config folder
// (~/.config/Parvenor/endpoints.ini). No password is shipped: without a mail host, reports go
// straight to the mail link.
#include <QString>

struct TEndpoints {
    QString OnlineGuide;
    QString SupportPage;
    QString HomePage;
    QString MailHost;
    int MailPort = 26;
    QString MailAccount;
    QString MailPassword;
    QString SupportAddress;

    bool MailConfigured() const { return !MailHost.isEmpty() && !SupportAddress.isEmpty(); }
};

// Reads the program folder's file, then the user's file on top of it.
TEndpoints LoadEndpoints(const QString& programFolder, const QString& userConfigFolder);
// Reads one file over the given values; keys missing from it keep their value.
void ReadEndpointsFile(const QString& fileName, TEndpoints& endpoints);
