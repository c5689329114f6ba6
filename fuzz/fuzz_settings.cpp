// The stored settings file (organisation "Parvenor", application "Ordavine") as the preferences
// dialog reads it when the program starts. Each input gets its own config folder: QSettings
// keeps files it has read in a cache of its own.
#include "FuzzSupport.h"
#include "project/Settings.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QSettings>

#include <filesystem>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::EnsureQtApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static unsigned long counter = 0;
    const std::string config = fuzzsupport::ScratchFolder() + "/config" + std::to_string(++counter);
    std::filesystem::create_directories(config + "/Parvenor");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(config));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(config));
    fuzzsupport::WriteInput("config" + std::to_string(counter) + "/Parvenor/Ordavine.conf", data,
                            size);
    // The store must be the file just written, never the user's own.
    if (!SettingsFileName().startsWith(QString::fromStdString(config)))
        __builtin_trap();
    {
        TSettingsForm form(QString::fromStdString(fuzzsupport::ScratchFolder() + "/documents"));
        (void)form.TempFolder();
        (void)form.IsPAL();
        (void)form.OpenVideoDialogPath;
        (void)form.ScreenShotsPath;
    }
    std::error_code ec;
    std::filesystem::remove_all(config, ec);
    return 0;
}
