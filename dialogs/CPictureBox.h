#pragma once

#include <QImage>
#include <QWidget>

#include <functional>

class CDC;

// The black-framed static control in which a settings page shows a picture.
// The control keeps what it shows in a canvas image of its own size: the
// black one-pixel frame, then whatever the owning dialog draws through its
// painter. paintEvent only copies the canvas to the screen, so drawing that
// the dialog adds to the canvas between rebuilds (an inverting rubber band)
// stays on screen until it is drawn over again. User-interface thread only.
class CPictureBox : public QWidget
{
    Q_OBJECT

public:
    explicit CPictureBox(QWidget *pParent = nullptr);

    // What the owner draws inside the frame each time the canvas is rebuilt.
    void SetPainter(std::function<void(CDC *pDC)> paint);
    // Rebuilds the canvas from scratch before the next repaint; whatever was
    // drawn into it directly is dropped.
    void Redraw();
    // The canvas, rebuilt first when due. A caller that draws into it
    // through a CDC calls update() afterwards. Null while the control has no area.
    QImage &Canvas();

protected:
    void paintEvent(QPaintEvent *pEvent) override;
    void resizeEvent(QResizeEvent *pEvent) override;

private:
    std::function<void(CDC *pDC)> m_paint;
    QImage m_canvas;
    bool m_bStale = true;
};
