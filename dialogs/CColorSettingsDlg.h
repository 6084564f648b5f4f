#pragma once

#include "settings/Settings.h"

#include <QDialog>

#include <array>
#include <cstdint>
#include <memory>

class CColorSwatch;
class QCursor;
class QMouseEvent;

namespace Ui {
class CColorSettingsDlg;
}

// The colour page: the seven display colours and CGrad. Pressing and
// releasing the mouse button on the same swatch opens the colour chooser for
// it; every accepted change goes into the settings block at once and raises
// g_bSettingsChanged. Cancel (button, Esc or the close box) puts the seven
// colours and CGrad back as they were at construction, without raising the
// flag. The opener runs it with exec() and ignores the result. User-interface
// thread only.
class CColorSettingsDlg : public QDialog
{
    Q_OBJECT

public:
    // Swatch index order, used by the hit test and the fill: Cframe, Coutline,
    // Cpeekchip, Cbackground, Cwline, Cchip1, Cchip2.
    static constexpr int kSwatchCount = 7;
    // Cchip2's swatch, active only while the gradient check is on.
    static constexpr int kSecondChipSwatch = 6;

    explicit CColorSettingsDlg(DisplaySettings &settings, QWidget *pParent = nullptr);
    ~CColorSettingsDlg() override;

    void done(int nResult) override;
    void reject() override;

    // 7 with the gradient check on, 6 without it.
    int ActiveSwatchCount() const;
    // The first active swatch containing ptDialog (dialog coordinates), -1 for none.
    int HitTest(const QPoint &ptDialog) const;

protected:
    void mousePressEvent(QMouseEvent *pEvent) override;
    void mouseMoveEvent(QMouseEvent *pEvent) override;
    void mouseReleaseEvent(QMouseEvent *pEvent) override;

private:
    void OnGradClicked(bool bChecked);
    void OnLButtonDown(QMouseEvent *pEvent);
    // Relabels the chip labels from the gradient check and shows every active
    // swatch filled with its current colour, the inactive one empty.
    void RepaintSwatches();
    // The cursor of a held press, shown wherever the mouse goes while captured.
    void ShowPressCursor(const QCursor &cursor);
    // Ends a press's capture and cursor; the pressed swatch is the caller's.
    void EndCapture();

    std::unique_ptr<Ui::CColorSettingsDlg> m_pUi;
    int m_nPressed = -1; // the swatch the button went down on, -1 for none
    DisplaySettings &m_settings;
    std::array<CColorSwatch *, kSwatchCount> m_apSwatch{}; // owned by the dialog
    std::array<std::int32_t *, kSwatchCount> m_apnColor{}; // into m_settings
    std::int32_t &m_nGrad;                                 // m_settings.CGrad
    std::array<std::int32_t, kSwatchCount> m_anSavedColor{};
    std::int32_t m_nSavedGrad = 0;
    bool m_bCaptured = false;       // the dialog holds the mouse grab
    bool m_bCursorOverride = false; // a press cursor is on the override stack
};
