#include "app/AboutForm.h"

#include "project/UserPrompts.h"
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {
QLabel* LinkLabel(QWidget* parent, const char* name, const QString& caption, const QString& address) {
    auto* l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setText(QStringLiteral("%1 <a href=\"%2\">%2</a>").arg(caption, address.toHtmlEscaped()));
    l->setTextFormat(Qt::RichText);
    QObject::connect(l, &QLabel::linkActivated, parent, [](const QString& link) { Prompts().OpenUrl(QUrl(link)); });
    return l;
}
} // namespace

TAboutForm::TAboutForm(const QString& programFolder, const QString& homePage, const QString& supportPage,
                       QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(QStringLiteral("About Ordavine"));
    auto* layout = new QVBoxLayout(this);
    imgLogo = new QLabel(this);
    imgLogo->setObjectName(QStringLiteral("imgLogo"));
    imgLogo->setPixmap(QPixmap(programFolder + QStringLiteral("ordavine-logo.bmp")));
    imgLogo->setAlignment(Qt::AlignCenter);
    layout->addWidget(imgLogo);
    lblVersion = new QLabel(QStringLiteral("Version 1.0"), this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblVersion->setAlignment(Qt::AlignCenter);
    layout->addWidget(lblVersion);
    layout->addWidget(LinkLabel(this, "lblHomePage", QStringLiteral("Home page:"), homePage));
    layout->addWidget(LinkLabel(this, "lblSupport", QStringLiteral("Support:"), supportPage));
    auto* buttons = new QDialogButtonBox(this);
    auto* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("OKButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}
