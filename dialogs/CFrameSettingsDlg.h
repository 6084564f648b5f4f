#pragma once

#include "graphics/Dib.h"
#include "graphics/GdiTypes.h"
#include "settings/Settings.h"

#include <QDialog>
#include <QString>

#include <memory>

class CDC;
class QButtonGroup;
namespace Ui {
class CFrameSettingsDlg;
}

// The largest rectangle of a w x h picture's aspect that fits a W x H target
// at 0,0: full width and centred vertically when that fits, else full height
// and centred horizontally. A picture without area (w or h <= 0) gets the
// whole target.
RECT FitRectKeepAspect(int w, int h, int W, int H);

// The frame settings page: waveform and afterimage, clock, frequency labels,
// divider lines, the background picture with a preview, and the graph area
// inside it. Every change goes into the live settings at once; Cancel (the
// button, Esc or the close box) puts the whole block back as it was when the
// page opened, the background image list included.
//
// The opener hands in the live block, g_DisplaySettings: the background
// image list operations that this page calls work on that one block.
class CFrameSettingsDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CFrameSettingsDlg(DisplaySettings &settings, QWidget *pParent = nullptr);
    ~CFrameSettingsDlg() override;

    void reject() override;

private:
    // The members to the controls (false) or back from them (true).
    void UpdateData(bool bSaveAndValidate);
    void SetOptionsFromSettings();
    void OnOptionClicked();
    void OnChooseImage();
    void OnNoImage();
    void OnGraphArea();
    bool LoadPreview();
    void ReleasePreview();
    void DrawPreview(CDC *pDC);

    DisplaySettings m_backup; // the block as it was at opening, for Cancel
    DisplaySettings &m_settings;
    HDIB m_hPreview;                             // the picture of BmpName, or none
    std::unique_ptr<CPalette> m_pPreviewPalette; // none for pictures without a colour table
    std::unique_ptr<Ui::CFrameSettingsDlg> m_pUi;
    QButtonGroup *m_pAfterimageGroup; // owned by the dialog

    // Mirrors of the controls: FwaveDisp, FclockDisp, FwaveZan, FreqStrSw,
    // SpectFrameDraw and BmpName.
    bool m_bWave = false;
    bool m_bClock = false;
    int m_nAfterimage = -1;
    bool m_bLabels = false;
    bool m_bDivider = false;
    QString m_strPath;
};
