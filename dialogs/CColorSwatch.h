#pragma once

#include <QColor>
#include <QWidget>

class QPaintEvent;

// One colour swatch of the colour page. Active, it is filled edge to edge with
// its colour (its frame included); inactive, only its one-pixel frame shows on
// the dialog's background. It takes no mouse input of its own: presses, moves
// and releases go on to the dialog, which decides what a swatch does.
class CColorSwatch : public QWidget
{
    Q_OBJECT

public:
    explicit CColorSwatch(QWidget *pParent = nullptr);

    // Black for most swatches; the frame of a swatch that can be switched off is grey.
    void SetFrameColor(const QColor &color);
    // The colour to fill with, or an invalid colour for an inactive swatch.
    void SetFillColor(const QColor &color);
    QColor FillColor() const { return m_fillColor; }

protected:
    void paintEvent(QPaintEvent *pEvent) override;

private:
    QColor m_frameColor = Qt::black;
    QColor m_fillColor; // invalid: inactive
};
