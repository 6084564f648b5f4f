#include "dialogs/CGraphAreaDlg.h"

#include "dialogs/PageSupport.h"
#include "graphics/CDC.h"
#include "ui_CGraphAreaDlg.h"

#include <QMouseEvent>

#include <algorithm>

namespace {

// The picture is halved until it fits this size.
constexpr int kMaxDisplayWidth = 560;
constexpr int kMaxDisplayHeight = 380;
// Room right of the widest control and below the picture.
constexpr int kRightGap = 10;
constexpr int kBottomGap = 50;
constexpr COLORREF kGridColor = 0xC0C0C0;

// A margin or position converted between picture and display pixels, to the
// nearest pixel (v + 0.5, truncated).
int Nearest(double f)
{
    return int(f + 0.5);
}

// The stored margins may hold any value. Positions this far outside the
// picture draw nothing visible; the limit keeps the conversion to int
// defined and the grid loops short.
int ToDisplay(double f)
{
    constexpr double kFar = 65536.0;
    return Nearest(std::clamp(f, -kFar, kFar));
}

} // namespace

CGraphAreaDlg::CGraphAreaDlg(QWidget *pParent)
    : QDialog(pParent), m_pUi(std::make_unique<Ui::CGraphAreaDlg>())
{
    m_pUi->setupUi(this);
    ApplyPageFont(this);
    connect(m_pUi->okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_pUi->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    m_pUi->areaBox->SetPainter([this](CDC *pDC) { DrawArea(pDC); });
}

CGraphAreaDlg::~CGraphAreaDlg() = default;

void CGraphAreaDlg::setVisible(bool bVisible)
{
    // The picture and the margins arrive after construction, so the layout
    // waits until the dialog is first shown.
    if (bVisible && !m_bInitialised) {
        m_bInitialised = true;
        InitDialog();
    }
    QDialog::setVisible(bVisible);
}

void CGraphAreaDlg::InitDialog()
{
    int nWidth = m_hDib ? DibWidth(*m_hDib) : 0;
    int nHeight = m_hDib ? DibHeight(*m_hDib) : 0;
    m_fScale = 1.0;
    while (nWidth > kMaxDisplayWidth || nHeight > kMaxDisplayHeight) {
        m_fScale /= 2;
        nWidth /= 2;
        nHeight /= 2;
    }
    m_nDisplayWidth = nWidth;
    m_nDisplayHeight = nHeight;

    // The image area keeps its top-left corner; the dialog follows it, but
    // never gets narrower than the buttons need.
    CPictureBox *pArea = m_pUi->areaBox;
    pArea->resize(m_nDisplayWidth, m_nDisplayHeight);
    const QRect rcArea = pArea->geometry();
    const QRect rcCancel = m_pUi->cancelButton->geometry();
    const int nRight = std::max(rcArea.x() + rcArea.width(), rcCancel.x() + rcCancel.width());
    setFixedSize(nRight + kRightGap, rcArea.y() + rcArea.height() + kBottomGap);
    pArea->Redraw();
}

void CGraphAreaDlg::DrawArea(CDC *pDC)
{
    if (!m_hDib)
        return;
    const int nWidth = m_pUi->areaBox->width();
    const int nHeight = m_pUi->areaBox->height();
    PaintDib(pDC, RECT{1, 1, nWidth - 1, nHeight - 1}, m_hDib,
             RECT{0, 0, DibWidth(*m_hDib), DibHeight(*m_hDib)}, m_pPalette);

    const int nLeft = ToDisplay(m_nLeft * m_fScale);
    const int nTop = ToDisplay(m_nTop * m_fScale);
    const int nRight = ToDisplay(m_nDisplayWidth - m_nRight * m_fScale);
    const int nBottom = ToDisplay(m_nDisplayHeight - m_nBottom * m_fScale);

    const CPen penGrid(kGridColor);
    const CPen *pOldPen = pDC->SelectPen(&penGrid);
    for (int x = nLeft; x < nRight; x += 2) {
        pDC->MoveTo(x, nTop);
        pDC->LineTo(x, nBottom);
    }
    for (int y = nTop; y < nBottom; y += 2) {
        pDC->MoveTo(nLeft, y);
        pDC->LineTo(nRight, y);
    }
    const CPen penOutline(RGB(0, 0, 0));
    pDC->SelectPen(&penOutline);
    pDC->MoveTo(nLeft, nTop);
    pDC->LineTo(nLeft, nBottom);
    pDC->LineTo(nRight, nBottom);
    pDC->LineTo(nRight, nTop);
    pDC->LineTo(nLeft, nTop);
    pDC->SelectPen(pOldPen);

    // A rebuilt canvas keeps a band that is on screen, so erasing it later
    // still restores the picture.
    if (m_bBandShown)
        XorRubberBand(pDC);
}

void CGraphAreaDlg::XorRubberBand(CDC *pDC) const
{
    const CPen penBand(RGB(255, 255, 255));
    const CPen *pOldPen = pDC->SelectPen(&penBand);
    const int nOldRop = pDC->SetROP2(CDC::R2_XORPEN);
    pDC->MoveTo(m_nAnchorX, m_nAnchorY);
    pDC->LineTo(m_nAnchorX, m_nCornerY);
    pDC->LineTo(m_nCornerX, m_nCornerY);
    pDC->LineTo(m_nCornerX, m_nAnchorY);
    pDC->LineTo(m_nAnchorX, m_nAnchorY);
    pDC->SetROP2(nOldRop);
    pDC->SelectPen(pOldPen);
}

void CGraphAreaDlg::ToggleRubberBand()
{
    CPictureBox *pArea = m_pUi->areaBox;
    QImage &canvas = pArea->Canvas();
    if (!canvas.isNull()) {
        CDC dc(&canvas);
        XorRubberBand(&dc);
    }
    pArea->update();
}

void CGraphAreaDlg::EraseRubberBand()
{
    if (!m_bBandShown)
        return;
    ToggleRubberBand();
    m_bBandShown = false;
}

QPoint CGraphAreaDlg::ToImageArea(const QPointF &ptDialog) const
{
    return m_pUi->areaBox->mapFrom(this, ptDialog.toPoint());
}

bool CGraphAreaDlg::IsInsideImage(const QPoint &pt) const
{
    // The right edge itself counts as inside, the bottom edge does not.
    return pt.x() > 0 && pt.x() <= m_nDisplayWidth && pt.y() > 0 && pt.y() < m_nDisplayHeight;
}

// While the button is held Qt sends every move and the release to the widget
// that took the press, also outside the window: that grab is the mouse
// capture the drag needs.
void CGraphAreaDlg::mousePressEvent(QMouseEvent *pEvent)
{
    if (pEvent->button() == Qt::LeftButton) {
        const QPoint pt = ToImageArea(pEvent->position());
        if (IsInsideImage(pt)) {
            m_nAnchorX = pt.x();
            m_nAnchorY = pt.y();
            m_bDragging = true;
        }
    }
    pEvent->accept();
}

void CGraphAreaDlg::mouseMoveEvent(QMouseEvent *pEvent)
{
    const QPoint pt = ToImageArea(pEvent->position());
    EraseRubberBand();
    const bool bAtAnchor = pt.x() == m_nAnchorX && pt.y() == m_nAnchorY;
    if (m_bDragging && !bAtAnchor && IsInsideImage(pt)) {
        m_nCornerX = pt.x();
        m_nCornerY = pt.y();
        ToggleRubberBand();
        m_bBandShown = true;
    }
    pEvent->accept();
}

void CGraphAreaDlg::mouseReleaseEvent(QMouseEvent *pEvent)
{
    if (pEvent->button() != Qt::LeftButton) {
        pEvent->accept();
        return;
    }
    const QPoint pt = ToImageArea(pEvent->position());
    const bool bWasDragging = m_bDragging;
    m_bDragging = false;
    EraseRubberBand();
    // A release inside after a press outside the picture started no drag
    // and so marks no area.
    if (bWasDragging && IsInsideImage(pt)) {
        m_nCornerX = pt.x();
        m_nCornerY = pt.y();
        const int nLeft = std::min(m_nAnchorX, m_nCornerX);
        const int nRight = std::max(m_nAnchorX, m_nCornerX);
        const int nTop = std::min(m_nAnchorY, m_nCornerY);
        const int nBottom = std::max(m_nAnchorY, m_nCornerY);
        m_nLeft = Nearest(nLeft / m_fScale);
        m_nTop = Nearest(nTop / m_fScale);
        m_nRight = Nearest((m_nDisplayWidth - nRight) / m_fScale);
        m_nBottom = Nearest((m_nDisplayHeight - nBottom) / m_fScale);
    }
    m_pUi->areaBox->Redraw();
    update();
    pEvent->accept();
}
