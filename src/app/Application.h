#pragma once
// Start-up of the program: the events log and error dialog first, then the main window, then the
// dialogs in their fixed order, the preferences last (it reads the stored settings).
#include <memory>

class TAboutForm;
class TConvForm;
class TClipForm;
class TCropForm;
class TMenuForm;
class TShutdown;
class TErrorForm;
class TErrorReporter;
class TFileInfoForm;
class TLogForm;
class TMainForm;
class TSettingsForm;

struct TApplication {
    std::unique_ptr<TLogForm> LogForm;
    std::unique_ptr<TErrorForm> ErrorForm;
    std::unique_ptr<TErrorReporter> Reporter;
    std::unique_ptr<TMainForm> MainForm;
    std::unique_ptr<TClipForm> ClipForm;
    std::unique_ptr<TCropForm> CropForm;
    std::unique_ptr<TConvForm> ConvForm;
    std::unique_ptr<TShutdown> Shutdown;
    std::unique_ptr<TAboutForm> AboutForm;
    std::unique_ptr<TFileInfoForm> FileInfoForm;
    std::unique_ptr<TMenuForm> MenuForm;
    std::unique_ptr<TSettingsForm> SettingsForm;

    TApplication();
    ~TApplication();
};
