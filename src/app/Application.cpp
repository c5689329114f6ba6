#include "app/Application.h"

#include "app/AboutForm.h"
#include "app/MainForm.h"
#include "editing/ClipForm.h"
#include "editing/CropForm.h"
#include "pipeline/ConvForm.h"
#include "project/UserPrompts.h"
#include "pipeline/CreationRun.h"
#include "pipeline/MenuForm.h"
#include "project/Endpoints.h"
#include "project/ErrorReport.h"
#include "project/EventsLog.h"
#include "project/FileInfo.h"
#include "project/Folders.h"
#include "project/Settings.h"

#include <QStandardPaths>

TApplication::TApplication() {
    const TEndpoints endpoints =
        LoadEndpoints(ProgramFolder(), QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    LogForm = std::make_unique<TLogForm>();
    SetEventsLog(LogForm.get());
    ErrorForm = std::make_unique<TErrorForm>();
    Reporter = std::make_unique<TErrorReporter>(*LogForm, *ErrorForm, endpoints);
    SetErrorReporter(Reporter.get());

    MainForm = std::make_unique<TMainForm>();
    MainForm->FormCreate();

    auto selected = [main = MainForm.get()] { return main->SelectedTitle(); };
    ClipForm = std::make_unique<TClipForm>(MainForm->VideoFiles, selected, MainForm.get());
    ClipForm->OnTitleChanged = [main = MainForm.get()] {
        main->UpdateEstimatedOutputSize();
        main->RefreshList();
    };
    ClipForm->ShowMessage = [main = MainForm.get()](const QString& text) {
        Prompts().MessageBox(main, QStringLiteral("Ordavine"), text, QMessageBox::Warning, QMessageBox::Ok);
    };
    MainForm->ClipForm = ClipForm.get();
    CropForm = std::make_unique<TCropForm>(MainForm->VideoFiles, selected, MainForm.get());
    MainForm->CropForm = CropForm.get();
    ConvForm = std::make_unique<TConvForm>(MainForm.get());
    Shutdown = std::make_unique<TShutdown>();
    MainForm->Shutdown = Shutdown.get();
    AboutForm = std::make_unique<TAboutForm>(ProgramFolder(), endpoints.HomePage, endpoints.SupportPage, MainForm.get());
    FileInfoForm = std::make_unique<TFileInfoForm>(MainForm.get());
    MenuForm = std::make_unique<TMenuForm>(ProgramFolder(), MainForm->MenuSettings, MainForm->MenuColors,
                                           MainForm->MenuPreview, MainForm.get());
    MainForm->MenuForm = MenuForm.get();
    SettingsForm = std::make_unique<TSettingsForm>(DocumentsFolder(), MainForm.get());
    MainForm->SetDialogs(SettingsForm.get(), FileInfoForm.get(), AboutForm.get(), ConvForm.get());
}

TApplication::~TApplication() {
    // Dialogs parented to the main window go first; the reporter outlives every form that reports.
    SettingsForm.reset();
    MainForm->MenuForm = nullptr;
    MenuForm.reset();
    FileInfoForm.reset();
    AboutForm.reset();
    ConvForm.reset();
    MainForm->ClipForm = nullptr;
    MainForm->CropForm = nullptr;
    CropForm.reset();
    ClipForm.reset();
    MainForm.reset();
    SetErrorReporter(nullptr);
    SetEventsLog(nullptr);
}
