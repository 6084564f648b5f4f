#include "dialogs/CColorSettingsDlg.h"

#include "dialogs/CColorSwatch.h"
#include "dialogs/ColorPageCursors.h"
#include "dialogs/PageSupport.h"

#include "ui_CColorSettingsDlg.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPointer>

#include <optional>
#include <utility>

namespace {

// The frame of the swatch that the gradient check switches off.
const QColor kGreyFrame(0x80, 0x80, 0x80);

} // namespace

CColorSettingsDlg::CColorSettingsDlg(DisplaySettings &settings, QWidget *pParent)
    : QDialog(pParent), m_pUi(std::make_unique<Ui::CColorSettingsDlg>()), m_settings(settings),
      m_nGrad(settings.CGrad)
{
    m_pUi->setupUi(this);
    ApplyPageFont(this);
    setWindowTitle(QStringLiteral("配色"));
    setFixedSize(size());

    m_apSwatch = {m_pUi->frameSwatch,        m_pUi->outlineSwatch,  m_pUi->peakChipSwatch,
                  m_pUi->backgroundSwatch,   m_pUi->waveLineSwatch, m_pUi->levelChipSwatch,
                  m_pUi->levelChipPeakSwatch};
    m_apnColor = {&m_settings.Cframe,      &m_settings.Coutline, &m_settings.Cpeekchip,
                  &m_settings.Cbackground, &m_settings.Cwline,   &m_settings.Cchip1,
                  &m_settings.Cchip2};
    for (int i = 0; i < kSwatchCount; ++i)
        m_anSavedColor[i] = *m_apnColor[i];
    m_nSavedGrad = m_nGrad;

    m_pUi->levelChipPeakSwatch->SetFrameColor(kGreyFrame);
    // Any stored value other than 0 means the colours follow the level.
    m_pUi->levelGradientCheck->setChecked(m_nGrad != 0);

    connect(m_pUi->levelGradientCheck, &QCheckBox::clicked, this,
            &CColorSettingsDlg::OnGradClicked);
    connect(m_pUi->okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_pUi->cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    RepaintSwatches();
}

CColorSettingsDlg::~CColorSettingsDlg()
{
    EndCapture();
}

void CColorSettingsDlg::done(int nResult)
{
    // Closing in the middle of a press (Enter or Esc with the button held)
    // must not leave the mouse grabbed or the press cursor up.
    EndCapture();
    m_nPressed = -1;
    QDialog::done(nResult);
}

void CColorSettingsDlg::reject()
{
    for (int i = 0; i < kSwatchCount; ++i)
        *m_apnColor[i] = m_anSavedColor[i];
    m_nGrad = m_nSavedGrad;
    QDialog::reject();
}

int CColorSettingsDlg::ActiveSwatchCount() const
{
    return m_pUi->levelGradientCheck->isChecked() ? kSwatchCount : kSwatchCount - 1;
}

int CColorSettingsDlg::HitTest(const QPoint &ptDialog) const
{
    const int nActive = ActiveSwatchCount();
    for (int i = 0; i < nActive; ++i) {
        const CColorSwatch *pSwatch = m_apSwatch[i];
        if (pSwatch->rect().contains(pSwatch->mapFrom(this, ptDialog)))
            return i;
    }
    return -1;
}

// QWidget hands the second press of a double click here as well, so a quick
// second click presses a swatch like the first.
void CColorSettingsDlg::mousePressEvent(QMouseEvent *pEvent)
{
    if (pEvent->button() == Qt::LeftButton)
        OnLButtonDown(pEvent);
    else
        QDialog::mousePressEvent(pEvent);
}

void CColorSettingsDlg::OnLButtonDown(QMouseEvent *pEvent)
{
    const int nHit = HitTest(pEvent->position().toPoint());
    if (nHit < 0) {
        pEvent->ignore();
        return;
    }
    m_nPressed = nHit;
    if (!m_bCaptured) {
        grabMouse();
        m_bCaptured = true;
    }
    ShowPressCursor(LoadColorPageCursors().pressed);
    pEvent->accept();
}

void CColorSettingsDlg::mouseMoveEvent(QMouseEvent *pEvent)
{
    // Over the swatches without a press the swatches' own cursor shows.
    if (m_nPressed >= 0) {
        const ColorPageCursors &cursors = LoadColorPageCursors();
        const bool bOnPressed = HitTest(pEvent->position().toPoint()) == m_nPressed;
        ShowPressCursor(bOnPressed ? cursors.pressed : cursors.off);
    }
    QDialog::mouseMoveEvent(pEvent);
}

void CColorSettingsDlg::mouseReleaseEvent(QMouseEvent *pEvent)
{
    if (pEvent->button() != Qt::LeftButton) {
        QDialog::mouseReleaseEvent(pEvent);
        return;
    }
    EndCapture();
    const int nPressed = std::exchange(m_nPressed, -1);
    const int nHit = HitTest(pEvent->position().toPoint());
    if (nHit < 0) {
        pEvent->ignore();
        return;
    }
    // A colour is edited only by pressing and releasing on the same swatch;
    // releasing anywhere else cancels the press.
    if (nHit == nPressed) {
        const QPointer<CColorSettingsDlg> pSelf(this);
        const std::optional<QColor> color =
            Choosers().chooseColor(ColorFromRef(*m_apnColor[nHit]), this);
        // The chooser runs its own event loop; the dialog may be gone after it.
        if (!pSelf)
            return;
        if (color && color->isValid()) {
            *m_apnColor[nHit] = RefFromColor(*color);
            g_bSettingsChanged = 1;
        }
    }
    RepaintSwatches();
    pEvent->accept();
}

void CColorSettingsDlg::OnGradClicked(bool bChecked)
{
    m_nGrad = bChecked ? 1 : 0;
    g_bSettingsChanged = 1;
    RepaintSwatches();
}

void CColorSettingsDlg::RepaintSwatches()
{
    const bool bGrad = m_pUi->levelGradientCheck->isChecked();
    m_pUi->levelChipLabel->setText(bGrad ? QStringLiteral("レベルチップ基本色")
                                         : QStringLiteral("レベルチップ色"));
    m_pUi->levelChipPeakLabel->setText(bGrad ? QStringLiteral("レベルチップピーク色") : QString());

    const int nActive = ActiveSwatchCount();
    const QCursor &hover = LoadColorPageCursors().hover;
    for (int i = 0; i < kSwatchCount; ++i) {
        CColorSwatch *pSwatch = m_apSwatch[i];
        if (i < nActive) {
            pSwatch->SetFillColor(ColorFromRef(*m_apnColor[i]));
            pSwatch->setCursor(hover);
        } else {
            pSwatch->SetFillColor(QColor());
            pSwatch->unsetCursor();
        }
        pSwatch->update();
    }
}

void CColorSettingsDlg::ShowPressCursor(const QCursor &cursor)
{
    if (m_bCursorOverride) {
        QGuiApplication::changeOverrideCursor(cursor);
        return;
    }
    QGuiApplication::setOverrideCursor(cursor);
    m_bCursorOverride = true;
}

void CColorSettingsDlg::EndCapture()
{
    if (m_bCaptured) {
        releaseMouse();
        m_bCaptured = false;
    }
    if (m_bCursorOverride) {
        QGuiApplication::restoreOverrideCursor();
        m_bCursorOverride = false;
    }
}
