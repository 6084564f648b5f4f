#include "dialogs/CPictureBox.h"

#include "graphics/CDC.h"

#include <QPainter>

CPictureBox::CPictureBox(QWidget *pParent) : QWidget(pParent)
{
    // The canvas covers every pixel of the control.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CPictureBox::SetPainter(std::function<void(CDC *pDC)> paint)
{
    m_paint = std::move(paint);
    Redraw();
}

void CPictureBox::Redraw()
{
    m_bStale = true;
    update();
}

QImage &CPictureBox::Canvas()
{
    if (!m_bStale && m_canvas.size() == size())
        return m_canvas;
    m_bStale = false;
    if (size().isEmpty()) {
        m_canvas = QImage();
        return m_canvas;
    }
    m_canvas = QImage(size(), QImage::Format_RGB32);
    m_canvas.fill(palette().color(QPalette::Window));
    CDC dc(&m_canvas);
    const CPen penFrame(RGB(0, 0, 0));
    dc.SelectPen(&penFrame);
    const int nRight = width() - 1;
    const int nBottom = height() - 1;
    dc.MoveTo(0, 0);
    dc.LineTo(nRight, 0);
    dc.LineTo(nRight, nBottom);
    dc.LineTo(0, nBottom);
    dc.LineTo(0, 0);
    dc.SelectPen(nullptr);
    if (m_paint)
        m_paint(&dc);
    return m_canvas;
}

void CPictureBox::paintEvent(QPaintEvent *)
{
    const QImage &canvas = Canvas();
    if (canvas.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(0, 0, canvas);
}

void CPictureBox::resizeEvent(QResizeEvent *)
{
    Redraw();
}
