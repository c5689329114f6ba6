#include "support/AppFixture.h"

#include "project/ErrorReport.h"
#include "project/Folders.h"

#include <QDir>
#include <QLabel>
#include <QSettings>
#include <QStandardPaths>

void TAppFixture::SetUp() {
    ASSERT_TRUE(Home.isValid());
    qputenv("HOME", Home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (Home.path() + QStringLiteral("/.config")).toUtf8());
    qputenv("XDG_CACHE_HOME", (Home.path() + QStringLiteral("/.cache")).toUtf8());
    qunsetenv("XDG_DOCUMENTS_DIR");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Home.path() + QStringLiteral("/.config"));
    SetProgramFolder(QStringLiteral(ORDAVINE_BIN_DIR "/"));
    Prompts.OnDialog = [this](QDialog& d) {
        if (d.objectName() == QStringLiteral("ErrorForm"))
            Reports << d.findChild<QLabel*>(QStringLiteral("lblErrorText"))->text();
        return int(QDialog::Rejected);
    };
}

void TAppFixture::Start() {
    App = std::make_unique<TApplication>();
    QObject::connect(App->Reporter.get(), &TErrorReporter::OnReport,
                     [this](const QString& message, const QString& mark) { Marks << message + QStringLiteral("|") + mark; });
}

void TAppFixture::TearDown() {
    App.reset();
    SetProgramFolder(QString());
}
