#include "pipeline/MenuForm.h"

#include "project/UserPrompts.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFontComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

QString AdjacentBackground(const QString& folder, const QString& current, int step) {
    QString f = folder;
    if (!f.endsWith(QLatin1Char('/')))
        f += QLatin1Char('/');
    const QStringList list = QDir(f).entryList({QStringLiteral("*.jpg")}, QDir::Files | QDir::Hidden, QDir::Name);
    const QString name = QFileInfo(current).fileName();
    if (QFileInfo::exists(f + name) && !name.isEmpty()) {
        const qsizetype i = list.indexOf(name);
        if (i < 0 || i + step < 0 || i + step >= list.size())
            return current;
        return f + list[i + step];
    }
    return list.isEmpty() ? current : f + list.first();
}

namespace {
QComboBox* ColorChooser(QWidget* parent, const char* name) {
    auto* c = new QComboBox(parent);
    c->setObjectName(QString::fromLatin1(name));
    for (const QString& color : StandardColorNames()) {
        QPixmap swatch(14, 14);
        swatch.fill(ColorOfName(color));
        c->addItem(QIcon(swatch), color);
    }
    return c;
}

void SelectText(QComboBox* c, const QString& text) {
    const int i = c->findText(text, Qt::MatchFixedString); // case-insensitive
    if (i >= 0)
        c->setCurrentIndex(i);
}
} // namespace

TMenuForm::TMenuForm(const QString& programFolder, TMenuSettings& settings, QColor (&colors)[3], TMenuPreview& preview,
                     QWidget* parent)
    : QDialog(parent), FBackgroundFolder(programFolder + QStringLiteral("menu-backgrounds/")), FSettings(settings),
      FColors(colors), FPreview(preview) {
    setObjectName(QStringLiteral("MenuForm"));
    setWindowTitle(QStringLiteral("DVD Menu"));
    auto* layout = new QHBoxLayout(this);
    panMenuPreview = new QWidget(this);
    panMenuPreview->setObjectName(QStringLiteral("panMenuPreview"));
    panMenuPreview->setFixedSize(379, 270);
    panMenuPreview->setStyleSheet(QStringLiteral("background: black;"));
    imgMenu = new QLabel(panMenuPreview);
    imgMenu->setObjectName(QStringLiteral("imgMenu"));
    imgMenu->setScaledContents(true);
    imgMenu->setGeometry(0, 0, 379, 270);
    layout->addWidget(panMenuPreview, 0, Qt::AlignTop);

    auto* right = new QVBoxLayout;
    auto* fontGroup = new QGroupBox(QStringLiteral("Font of Titles"), this);
    auto* fontForm = new QFormLayout(fontGroup);
    cmbColorBoxNormal = ColorChooser(fontGroup, "cmbColorBoxNormal");
    cmbColorBoxActive = ColorChooser(fontGroup, "cmbColorBoxActive");
    cmbColorBoxSelected = ColorChooser(fontGroup, "cmbColorBoxSelected");
    cmbFontName = new QFontComboBox(fontGroup);
    cmbFontName->setObjectName(QStringLiteral("cmbFontName"));
    cmbFontSize = new QComboBox(fontGroup);
    cmbFontSize->setObjectName(QStringLiteral("cmbFontSize"));
    cmbFontSize->setEditable(true);
    fontForm->addRow(QStringLiteral("Normal state:"), cmbColorBoxNormal);
    fontForm->addRow(QStringLiteral("Active state:"), cmbColorBoxActive);
    fontForm->addRow(QStringLiteral("Selected state:"), cmbColorBoxSelected);
    fontForm->addRow(QStringLiteral("Font name:"), cmbFontName);
    fontForm->addRow(QStringLiteral("Font size:"), cmbFontSize);
    right->addWidget(fontGroup);

    auto* bgGroup = new QGroupBox(QStringLiteral("Background Picture"), this);
    auto* bgLayout = new QVBoxLayout(bgGroup);
    auto* fileRow = new QHBoxLayout;
    edBackgroundFile = new QLineEdit(bgGroup);
    edBackgroundFile->setObjectName(QStringLiteral("edBackgroundFile"));
    edBackgroundFile->setReadOnly(true);
    btnBrowseBackground = new QPushButton(style()->standardIcon(QStyle::SP_DirOpenIcon), QString(), bgGroup);
    btnBrowseBackground->setObjectName(QStringLiteral("btnBrowseBackground"));
    fileRow->addWidget(edBackgroundFile, 1);
    fileRow->addWidget(btnBrowseBackground);
    bgLayout->addLayout(fileRow);
    bgLayout->addWidget(new QLabel(QStringLiteral(" Available ready backgrounds:"), bgGroup));
    lbMenuBackgrounds = new QListWidget(bgGroup);
    lbMenuBackgrounds->setObjectName(QStringLiteral("lbMenuBackgrounds"));
    bgLayout->addWidget(lbMenuBackgrounds);
    right->addWidget(bgGroup);

    auto* buttons = new QDialogButtonBox(this);
    OKButton = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    CancelButton = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &TMenuForm::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    right->addWidget(buttons);
    layout->addLayout(right);

    // Lists made once: the ready-made backgrounds, and the colours that have a colour map.
    lbMenuBackgrounds->addItems(QDir(FBackgroundFolder).entryList({QStringLiteral("*.jpg")}, QDir::Files | QDir::Hidden,
                                                                  QDir::Name));
    QStringList available;
    for (const QString& f : QDir(programFolder + QStringLiteral("png-colormaps/pal")).entryList({QStringLiteral("*.png")}, QDir::Files))
        available << f.left(f.size() - 4).toLower();
    for (QComboBox* c : {cmbColorBoxNormal, cmbColorBoxActive, cmbColorBoxSelected})
        for (int i = c->count() - 1; i >= 0; --i)
            if (!available.contains(c->itemText(i).toLower()))
                c->removeItem(i);

    auto colorChanged = [this](int k, QComboBox* c) {
        connect(c, &QComboBox::currentIndexChanged, this, [this, k, c] {
            FColors[k] = ColorOfName(c->currentText());
            Restyle();
        });
    };
    colorChanged(0, cmbColorBoxNormal);
    colorChanged(1, cmbColorBoxActive);
    colorChanged(2, cmbColorBoxSelected);
    connect(cmbFontName, &QFontComboBox::currentFontChanged, this, [this] {
        FillSizes();
        Restyle();
    });
    connect(cmbFontSize, &QComboBox::currentTextChanged, this, [this] { Restyle(); });
    connect(lbMenuBackgrounds, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { edBackgroundFile->setText(FBackgroundFolder + item->text()); });
    connect(edBackgroundFile, &QLineEdit::textChanged, this, [this] { LoadPicture(); });
    connect(btnBrowseBackground, &QPushButton::clicked, this, [this] {
        const QStringList files = Prompts().GetOpenFileNames(this, QStringLiteral("Open file"), QFileInfo(edBackgroundFile->text()).absolutePath(),
                                                             QStringLiteral("All files (*)"));
        if (!files.isEmpty())
            edBackgroundFile->setText(files.first());
    });
    FillSizes();
}

void TMenuForm::FillSizes() {
    const QString keep = cmbFontSize->currentText();
    QSignalBlocker block(cmbFontSize);
    cmbFontSize->clear();
    QList<int> sizes = QFontDatabase::pointSizes(cmbFontName->currentFont().family());
    if (sizes.isEmpty())
        sizes = QFontDatabase::standardSizes();
    for (int s : {28, 32, 36, 40, 48})
        if (!sizes.contains(s))
            sizes << s;
    std::sort(sizes.begin(), sizes.end());
    for (int s : sizes)
        cmbFontSize->addItem(QString::number(s));
    if (!keep.isEmpty())
        cmbFontSize->setCurrentText(keep);
}

void TMenuForm::LoadPicture() {
    const QPixmap picture(edBackgroundFile->text());
    if (picture.isNull() && !edBackgroundFile->text().isEmpty()) {
        Prompts().MessageBox(this, QStringLiteral("DVD Menu"),
                             QStringLiteral("Cannot load the picture \"%1\".").arg(edBackgroundFile->text()),
                             QMessageBox::Critical, QMessageBox::Ok);
        return;
    }
    imgMenu->setPixmap(picture);
}

void TMenuForm::Restyle() {
    bool ok = false;
    const int size = cmbFontSize->currentText().toInt(&ok);
    QFont font = cmbFontName->currentFont();
    font.setPointSize(std::max(1, MenuLabelFontSize(ok ? size : FSettings.FontSize, panMenuPreview->width())));
    for (const auto& label : FPreview.Labels()) {
        if (!label)
            continue;
        label->Normal = FColors[0];
        label->Active = FColors[1];
        label->Selected = FColors[2];
        label->SetTextColor(FColors[0]);
        label->setFont(font);
        label->adjustSize();
    }
}

void TMenuForm::Prepare(const TVideoFiles& files) {
    SelectText(cmbFontSize, QString::number(FSettings.FontSize));
    if (cmbFontSize->findText(QString::number(FSettings.FontSize)) < 0)
        cmbFontSize->setCurrentText(QString::number(FSettings.FontSize));
    SelectText(cmbColorBoxNormal, FSettings.ColorName[0]);
    SelectText(cmbColorBoxActive, FSettings.ColorName[1]);
    SelectText(cmbColorBoxSelected, FSettings.ColorName[2]);
    {
        QSignalBlocker block(cmbFontName);
        cmbFontName->setCurrentFont(QFont(FSettings.FontName));
    }
    edBackgroundFile->setText(FSettings.BackgroundImage);
    LoadPicture();
    for (int k = 0; k < 3; ++k)
        FColors[k] = ColorOfName(FSettings.ColorName[k]);
    FPreview.BuildLabels(panMenuPreview, files, cmbFontName->currentFont().family(), FSettings.FontSize, FColors);
    Restyle();
}

bool TMenuForm::ApplySettings() {
    FSettings.ColorName[0] = cmbColorBoxNormal->currentText();
    FSettings.ColorName[1] = cmbColorBoxActive->currentText();
    FSettings.ColorName[2] = cmbColorBoxSelected->currentText();
    FSettings.FontName = cmbFontName->currentFont().family();
    bool ok = false;
    const int size = cmbFontSize->currentText().trimmed().toInt(&ok);
    if (!ok || size <= 0) {
        Prompts().MessageBox(this, QStringLiteral("DVD Menu"),
                             QStringLiteral("'%1' is not a valid integer value").arg(cmbFontSize->currentText()),
                             QMessageBox::Critical, QMessageBox::Ok);
        return false;
    }
    FSettings.FontSize = size;
    FSettings.BackgroundImage = edBackgroundFile->text();
    return true;
}

void TMenuForm::accept() {
    if (ApplySettings())
        QDialog::accept();
}
