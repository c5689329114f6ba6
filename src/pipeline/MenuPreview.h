#pragma once
// The menu preview: the background stretched over a panel with one text label per title.
#include "pipeline/MenuSettings.h"
#include "project/VideoFile.h"
#include <QLabel>
#include <QList>
#include <QPointer>

// A preview button: changes colour as the pointer enters, leaves and presses it.
class TMenuPreviewLabel : public QLabel {
    Q_OBJECT
public:
    TMenuPreviewLabel(const QString& text, QWidget* parent);
    QColor Normal, Active, Selected;
    void SetTextColor(const QColor& color);

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
};

// Top edge of label i (1-based) of n on a panel of height h: round(h / (n + 1) * i), halves to even.
int MenuLabelTop(int panelHeight, int count, int index);
// Font size scaled from the 720 pixel frame to the panel's width.
int MenuLabelFontSize(int fontSize, int panelWidth);

class TMenuPreview {
public:
    // Destroys the old labels and builds one per title on the panel, styled with the given look.
    void BuildLabels(QWidget* panel, const TVideoFiles& files, const QString& fontName, int fontSize,
                     const QColor colors[3]);
    void Clear();
    const QList<QPointer<TMenuPreviewLabel>>& Labels() const { return FLabels; }

private:
    QList<QPointer<TMenuPreviewLabel>> FLabels;
};
