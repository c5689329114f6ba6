#include "project/Mailer.h"

#include <QDateTime>
#include <QLocale>
#include <QUuid>
#include <cstring>
#include <curl/curl.h>

namespace {

struct TUpload {
    QByteArray Data;
    qsizetype Pos = 0;
};

size_t ReadBody(char* buffer, size_t size, size_t count, void* userp) {
    auto* up = static_cast<TUpload*>(userp);
    const size_t room = size * count;
    const size_t left = static_cast<size_t>(up->Data.size() - up->Pos);
    const size_t n = std::min(room, left);
    std::memcpy(buffer, up->Data.constData() + up->Pos, n);
    up->Pos += static_cast<qsizetype>(n);
    return n;
}

// Header values may carry any text the user typed; non-ASCII goes as an RFC 2047 word.
QByteArray HeaderText(const QString& text) {
    QString clean = text;
    clean.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    bool ascii = true;
    for (QChar c : clean)
        ascii = ascii && c.unicode() < 128;
    if (ascii)
        return clean.toLatin1();
    return "=?UTF-8?B?" + clean.toUtf8().toBase64() + "?=";
}

} // namespace

QByteArray ComposeMail(const TMailMessage& m) {
    QByteArray out;
    const QString date = QLocale::c().toString(QDateTime::currentDateTime(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss"));
    const int offset = QDateTime::currentDateTime().offsetFromUtc() / 60;
    const QString zone = QString::asprintf("%c%02d%02d", offset < 0 ? '-' : '+', std::abs(offset) / 60, std::abs(offset) % 60);
    out += "Date: " + (date + QLatin1Char(' ') + zone).toLatin1() + "\r\n";
    out += "From: " + HeaderText(m.From) + "\r\n";
    out += "To: " + HeaderText(m.To) + "\r\n";
    out += "Subject: " + HeaderText(m.Subject) + "\r\n";
    out += "Message-ID: <" + QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1() + "@ordavine>\r\n";
    out += "MIME-Version: 1.0\r\n";
    out += "Content-Type: text/plain; charset=utf-8\r\n";
    out += "Content-Transfer-Encoding: 8bit\r\n";
    out += "\r\n";
    QString body = m.Body;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    out += body.toUtf8().replace("\n", "\r\n");
    if (!out.endsWith("\r\n"))
        out += "\r\n";
    return out;
}

bool SendMail(const TMailServer& server, const TMailMessage& message, QString* error) {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    if (!initialised) {
        if (error)
            *error = QStringLiteral("libcurl could not be initialised");
        return false;
    }
    CURL* curl = curl_easy_init();
    if (!curl) {
        if (error)
            *error = QStringLiteral("libcurl could not be initialised");
        return false;
    }
    TUpload upload{ComposeMail(message), 0};
    const QByteArray url = QStringLiteral("smtp://%1:%2").arg(server.Host).arg(server.Port).toUtf8();
    const QByteArray user = server.User.toUtf8();
    const QByteArray password = server.Password.toUtf8();
    const QByteArray from = "<" + message.From.toUtf8() + ">";
    const QByteArray to = "<" + message.To.toUtf8() + ">";
    curl_slist* recipients = curl_slist_append(nullptr, to.constData());
    char errbuf[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    if (!user.isEmpty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
    }
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.constData());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, &ReadBody);
    curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errbuf);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 15L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(server.TimeoutSeconds));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // Use TLS when the server offers it; the report server of old spoke plain SMTP.
    curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));

    const CURLcode rc = curl_easy_perform(curl);
    if (rc != CURLE_OK && error)
        *error = QString::fromUtf8(errbuf[0] ? errbuf : curl_easy_strerror(rc));
    curl_slist_free_all(recipients);
    curl_easy_cleanup(curl);
    return rc == CURLE_OK;
}
