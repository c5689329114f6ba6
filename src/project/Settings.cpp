#include "project/Settings.h"

#include "project/ErrorReport.h"
#include "project/Estimate.h"
#include "project/Folders.h"
#include "project/UserPrompts.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSettings>
#include <QStyle>
#include <QVBoxLayout>

namespace {

// A combo box that asks for its list to be rebuilt each time it is opened.
class TDropDownCombo : public QComboBox {
public:
    std::function<void()> OnDropDown;
    using QComboBox::QComboBox;
    void showPopup() override {
        if (OnDropDown)
            OnDropDown();
        QComboBox::showPopup();
    }
};

QSettings OpenStore() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Parvenor"),
                     QStringLiteral("Ordavine"));
}

} // namespace

double SpeedUnit(int medium) {
    if (medium >= 4 && medium <= 12)
        return 1385.0;
    if (medium >= 13 && medium <= 19)
        return 4495.5;
    return 176.46;
}

QStringList SpeedListEntries(int medium, int maxWriteSpeed, const std::function<int(int request)>& setSpeed) {
    QLocale locale = QLocale::system();
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    const double u = SpeedUnit(medium);
    QStringList entries;
    for (long long n = RoundHalfEven(maxWriteSpeed / u); n >= 1; --n) {
        const long long request = RoundHalfEven(double(n) * u);
        if (request > 65535)
            continue;
        const int ws = setSpeed(static_cast<int>(request));
        const QString entry = QString::number(RoundHalfEven(ws / u)) + QStringLiteral("x (") + locale.toString(ws) +
                              QStringLiteral(" KB/s)");
        if (!entries.contains(entry))
            entries << entry;
    }
    return entries;
}

QString SettingsFileName() {
    return OpenStore().fileName();
}

TSettingsForm::TSettingsForm(const QString& documents, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SettingsForm"));
    setWindowTitle(QStringLiteral("Preferences"));
    auto* layout = new QVBoxLayout(this);

    auto* video = new QGroupBox(QStringLiteral("Video Settings"), this);
    auto* videoForm = new QFormLayout(video);
    cmbNormType = new QComboBox(video);
    cmbNormType->setObjectName(QStringLiteral("cmbNormType"));
    cmbNormType->addItems({QStringLiteral("NTSC"), QStringLiteral("PAL")});
    cmbNormType->setCurrentIndex(0);
    videoForm->addRow(QStringLiteral("DVD standard:"), cmbNormType);
    cbSkipMenu = new QCheckBox(QStringLiteral("Skip DVD menu"), video);
    cbSkipMenu->setObjectName(QStringLiteral("cbSkipMenu"));
    videoForm->addRow(cbSkipMenu);
    layout->addWidget(video);

    auto* general = new QGroupBox(QStringLiteral("General Settings"), this);
    auto* generalForm = new QFormLayout(general);
    auto* tempRow = new QHBoxLayout;
    edTempFolder = new QLineEdit(general);
    edTempFolder->setObjectName(QStringLiteral("edTempFolder"));
    btnBrowseTempFolder = new QPushButton(style()->standardIcon(QStyle::SP_DirOpenIcon), QString(), general);
    btnBrowseTempFolder->setObjectName(QStringLiteral("btnBrowseTempFolder"));
    btnBrowseTempFolder->setToolTip(QStringLiteral("Browse..."));
    tempRow->addWidget(edTempFolder, 1);
    tempRow->addWidget(btnBrowseTempFolder);
    generalForm->addRow(QStringLiteral("Temporary folder:"), tempRow);
    cbDeleteTempFiles = new QCheckBox(QStringLiteral("Delete temporary files after finishing"), general);
    cbDeleteTempFiles->setObjectName(QStringLiteral("cbDeleteTempFiles"));
    generalForm->addRow(cbDeleteTempFiles);
    auto* speed = new TDropDownCombo(general);
    speed->OnDropDown = [this] { cmbSpeedDropDown(); };
    cmbSpeed = speed;
    cmbSpeed->setObjectName(QStringLiteral("cmbSpeed"));
    cmbSpeed->addItem(QStringLiteral("Max"));
    cmbSpeed->setCurrentIndex(0);
    generalForm->addRow(QStringLiteral("Burning speed:"), cmbSpeed);
    layout->addWidget(general);

    auto* buttons = new QDialogButtonBox(this);
    auto* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("OKButton"));
    auto* cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("CancelButton"));
    // Both only close: the controls are the settings, and keep what the user set.
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    connect(btnBrowseTempFolder, &QPushButton::clicked, this, [this] {
        const QString dir = Prompts().GetExistingDirectory(this, QStringLiteral("Select folder"), edTempFolder->text());
        if (!dir.isEmpty())
            edTempFolder->setText(dir);
    });

    const TUserFolders folders = CreateUserDataFolders(documents);
    ScreenShotsPath = folders.ScreenShots;
    edTempFolder->setText(folders.Output);
    ReadSettings();
    resize(460, 0);
}

void TSettingsForm::ReadSettings() {
    // Only read a store that exists: reading must not create it.
    if (!QFileInfo::exists(SettingsFileName()))
        return;
    QSettings store = OpenStore();
    if (store.status() != QSettings::NoError)
        return;
    if (store.contains(QStringLiteral("OutputPath")))
        edTempFolder->setText(store.value(QStringLiteral("OutputPath")).toString());
    if (store.contains(QStringLiteral("OpenVideoDialogPath"))) {
        OpenVideoDialogPath = store.value(QStringLiteral("OpenVideoDialogPath")).toString();
        if (!QFileInfo(OpenVideoDialogPath).isDir())
            OpenVideoDialogPath.clear();
    }
    if (store.contains(QStringLiteral("ScreenShotsPath")))
        ScreenShotsPath = store.value(QStringLiteral("ScreenShotsPath")).toString();
}

void TSettingsForm::SaveSettings() {
    // The store is created when missing; whether it can be written shows at the first value.
    QSettings store = OpenStore();
    struct TValue {
        QString Name;
        QString Value;
    };
    QVector<TValue> values{{QStringLiteral("OutputPath"), edTempFolder->text()}};
    if (!LastAddedFile.isEmpty())
        values.push_back({QStringLiteral("OpenVideoDialogPath"), QFileInfo(LastAddedFile).absolutePath()});
    values.push_back({QStringLiteral("ScreenShotsPath"), ScreenShotsPath});
    for (const TValue& v : values) {
        store.setValue(v.Name, v.Value);
        store.sync();
        if (store.status() != QSettings::NoError) {
            ReportError(QStringLiteral("Error writing data to Registry"), QStringLiteral("CLM_RegDataWrite"));
            return;
        }
    }
}

void TSettingsForm::cmbSpeedDropDown() {
    const int previous = cmbSpeed->currentIndex();
    cmbSpeed->clear();
    cmbSpeed->addItem(QStringLiteral("Max"));
    if (BuildSpeedList)
        BuildSpeedList(*cmbSpeed);
    cmbSpeed->setCurrentIndex(previous >= 0 && previous < cmbSpeed->count() ? previous : 0);
}

void TSettingsForm::showEvent(QShowEvent* event) {
    cmbSpeed->clear();
    cmbSpeed->addItem(QStringLiteral("Max"));
    cmbSpeed->setCurrentIndex(0);
    QDialog::showEvent(event);
}

bool TSettingsForm::IsPAL() const {
    return cmbNormType->currentIndex() == 1;
}

QString TSettingsForm::TempFolder() const {
    return edTempFolder->text();
}
