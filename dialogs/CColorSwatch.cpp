#include "dialogs/CColorSwatch.h"

#include <QPainter>

CColorSwatch::CColorSwatch(QWidget *pParent) : QWidget(pParent)
{
    setFocusPolicy(Qt::NoFocus);
}

void CColorSwatch::SetFrameColor(const QColor &color)
{
    if (color == m_frameColor)
        return;
    m_frameColor = color;
    update();
}

void CColorSwatch::SetFillColor(const QColor &color)
{
    if (color == m_fillColor)
        return;
    m_fillColor = color;
    update();
}

void CColorSwatch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (m_fillColor.isValid()) {
        painter.fillRect(rect(), m_fillColor);
        return;
    }
    painter.setPen(m_frameColor);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
