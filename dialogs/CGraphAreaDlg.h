#pragma once

#include "graphics/Dib.h"

#include <QDialog>
#include <QPoint>

#include <memory>

class CDC;
namespace Ui {
class CGraphAreaDlg;
}

// The graph area page: the user drags, over the background picture, the
// rectangle in which the spectrum graph is drawn. The picture is shown at
// full size or halved until it fits 560 x 380; the current area is marked
// with a light-grey grid and a black outline, a drag with an inverting
// rubber band. The result is four margins in pixels of the full-size
// picture, which the opener writes into AreaLeft, AreaTop, AreaRight and
// AreaBottom when the dialog ends with OK.
//
// The opener sets m_hDib (and m_pPalette) and the margins before showing it.
class CGraphAreaDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CGraphAreaDlg(QWidget *pParent = nullptr);
    ~CGraphAreaDlg() override;

    HDIB m_hDib;                          // borrowed preview image
    const CPalette *m_pPalette = nullptr; // borrowed palette of m_hDib, or none
    int m_nLeft = 30, m_nTop = 20, m_nRight = 30, m_nBottom = 20;

    void setVisible(bool bVisible) override;

protected:
    void mousePressEvent(QMouseEvent *pEvent) override;
    void mouseMoveEvent(QMouseEvent *pEvent) override;
    void mouseReleaseEvent(QMouseEvent *pEvent) override;

private:
    void InitDialog();
    void DrawArea(CDC *pDC);
    void XorRubberBand(CDC *pDC) const;
    void ToggleRubberBand();
    void EraseRubberBand();
    QPoint ToImageArea(const QPointF &ptDialog) const;
    bool IsInsideImage(const QPoint &pt) const;

    std::unique_ptr<Ui::CGraphAreaDlg> m_pUi;
    bool m_bInitialised = false;
    bool m_bBandShown = false; // the rubber band is on the canvas
    bool m_bDragging = false;  // the button went down inside the picture
    // Image-area pixels: where the button went down and the band's other corner.
    int m_nAnchorX = 0, m_nAnchorY = 0;
    int m_nCornerX = 0, m_nCornerY = 0;
    double m_fScale = 1.0; // display pixels per picture pixel: 1, 0.5, 0.25, ...
    int m_nDisplayWidth = 0, m_nDisplayHeight = 0;
};
