#include "pipeline/MenuPreview.h"

#include "project/Estimate.h"
#include <QEnterEvent>

TMenuPreviewLabel::TMenuPreviewLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setCursor(Qt::PointingHandCursor);
}

void TMenuPreviewLabel::SetTextColor(const QColor& color) {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, color);
    setPalette(p);
}

void TMenuPreviewLabel::enterEvent(QEnterEvent* event) {
    SetTextColor(Active);
    QLabel::enterEvent(event);
}

void TMenuPreviewLabel::leaveEvent(QEvent* event) {
    SetTextColor(Normal);
    QLabel::leaveEvent(event);
}

void TMenuPreviewLabel::mousePressEvent(QMouseEvent* event) {
    SetTextColor(Selected);
    QLabel::mousePressEvent(event);
}

int MenuLabelTop(int panelHeight, int count, int index) {
    return static_cast<int>(RoundHalfEven(static_cast<double>(panelHeight) / (count + 1) * index));
}

int MenuLabelFontSize(int fontSize, int panelWidth) {
    if (panelWidth <= 0)
        return fontSize;
    return static_cast<int>(RoundHalfEven(fontSize / (720.0 / panelWidth)));
}

void TMenuPreview::Clear() {
    for (const auto& label : FLabels)
        delete label.data();
    FLabels.clear();
}

void TMenuPreview::BuildLabels(QWidget* panel, const TVideoFiles& files, const QString& fontName, int fontSize,
                               const QColor colors[3]) {
    Clear();
    const int n = static_cast<int>(files.size());
    QFont font(fontName);
    font.setPointSize(std::max(1, MenuLabelFontSize(fontSize, panel->width())));
    for (int i = 1; i <= n; ++i) {
        auto* label = new TMenuPreviewLabel(files[i - 1].DestinationTitle, panel);
        label->Normal = colors[0];
        label->Active = colors[1];
        label->Selected = colors[2];
        label->SetTextColor(colors[0]);
        label->setFont(font);
        label->adjustSize();
        label->move(5, MenuLabelTop(panel->height(), n, i));
        label->show();
        FLabels << label;
    }
}
