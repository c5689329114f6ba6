#include "project/Endpoints.h"

#include <QFileInfo>
#include <QSettings>

void ReadEndpointsFile(const QString& fileName, TEndpoints& e) {
    if (!QFileInfo(fileName).isFile())
        return;
    QSettings ini(fileName, QSettings::IniFormat);
    auto read = [&ini](const char* key, QString& value) {
        const QString k = QString::fromLatin1(key);
        if (ini.contains(k))
            value = ini.value(k).toString().trimmed();
    };
    read("Web/OnlineGuide", e.OnlineGuide);
    read("Web/Support", e.SupportPage);
    read("Web/HomePage", e.HomePage);
    read("Mail/Host", e.MailHost);
    read("Mail/Account", e.MailAccount);
    read("Mail/Password", e.MailPassword);
    read("Mail/SupportAddress", e.SupportAddress);
    if (ini.contains(QStringLiteral("Mail/Port"))) {
        bool ok = false;
        const int port = ini.value(QStringLiteral("Mail/Port")).toInt(&ok);
        if (ok && port > 0 && port < 65536)
            e.MailPort = port;
    }
}

TEndpoints LoadEndpoints(const QString& programFolder, const QString& userConfigFolder) {
    TEndpoints e;
    ReadEndpointsFile(programFolder + QStringLiteral("endpoints.ini"), e);
    if (!userConfigFolder.isEmpty())
        ReadEndpointsFile(userConfigFolder + QStringLiteral("/Parvenor/endpoints.ini"), e);
    return e;
}
