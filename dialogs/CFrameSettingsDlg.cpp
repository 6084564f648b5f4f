#include "dialogs/CFrameSettingsDlg.h"

#include "dialogs/BackgroundImageList.h"
#include "dialogs/CGraphAreaDlg.h"
#include "dialogs/CommonControls.h"
#include "dialogs/PageSupport.h"
#include "graphics/CDC.h"
#include "ui_CFrameSettingsDlg.h"

#include <QButtonGroup>
#include <QDir>
#include <QFile>

#include <cstdio>

RECT FitRectKeepAspect(int w, int h, int W, int H)
{
    if (w <= 0 || h <= 0)
        return RECT{0, 0, W, H};
    const double fHeight = double(W) / w * h;
    const int nHeight = int(fHeight);
    if (nHeight <= H) {
        const int nTop = int((H - fHeight) * 0.5);
        return RECT{0, nTop, W, nTop + nHeight};
    }
    const double fWidth = double(H) / h * w;
    const int nLeft = int((W - fWidth) * 0.5);
    return RECT{nLeft, 0, nLeft + int(fWidth), H};
}

CFrameSettingsDlg::CFrameSettingsDlg(DisplaySettings &settings, QWidget *pParent)
    : QDialog(pParent), m_backup(settings), m_settings(settings),
      m_pUi(std::make_unique<Ui::CFrameSettingsDlg>())
{
    m_pUi->setupUi(this);
    ApplyPageFont(this);
    FollowRadioGroupKeys(this);
    setFixedSize(size());

    m_pAfterimageGroup = new QButtonGroup(this);
    m_pAfterimageGroup->addButton(m_pUi->noAfterimageRadio, 0);
    m_pAfterimageGroup->addButton(m_pUi->faintAfterimageRadio, 1);
    m_pAfterimageGroup->addButton(m_pUi->strongAfterimageRadio, 2);

    for (QAbstractButton *pCheck :
         {m_pUi->waveCheck, m_pUi->clockCheck, m_pUi->freqLabelsCheck, m_pUi->dividerCheck})
        connect(pCheck, &QAbstractButton::clicked, this, &CFrameSettingsDlg::OnOptionClicked);
    connect(m_pAfterimageGroup, &QButtonGroup::idClicked, this,
            &CFrameSettingsDlg::OnOptionClicked);
    connect(m_pUi->chooseImageButton, &QPushButton::clicked, this,
            &CFrameSettingsDlg::OnChooseImage);
    connect(m_pUi->noImageButton, &QPushButton::clicked, this, &CFrameSettingsDlg::OnNoImage);
    connect(m_pUi->graphAreaButton, &QPushButton::clicked, this, &CFrameSettingsDlg::OnGraphArea);
    connect(m_pUi->okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_pUi->cancelButton, &QPushButton::clicked, this, &CFrameSettingsDlg::reject);

    SetOptionsFromSettings();
    m_strPath = m_settings.BmpName;
    // A name of two characters or fewer is no picture worth trying.
    if (m_strPath.size() > 2 && !LoadPreview())
        ReleasePreview();
    m_pUi->previewBox->SetPainter([this](CDC *pDC) { DrawPreview(pDC); });
    UpdateData(false);
}

CFrameSettingsDlg::~CFrameSettingsDlg() = default;

void CFrameSettingsDlg::reject()
{
    m_settings = m_backup;
    QDialog::reject();
}

void CFrameSettingsDlg::UpdateData(bool bSaveAndValidate)
{
    if (bSaveAndValidate) {
        m_bWave = m_pUi->waveCheck->isChecked();
        m_bClock = m_pUi->clockCheck->isChecked();
        m_bLabels = m_pUi->freqLabelsCheck->isChecked();
        m_bDivider = m_pUi->dividerCheck->isChecked();
        // With no afterimage button checked (a stored value outside 0..2)
        // the stored value stays rather than becoming -1.
        if (const int nChecked = m_pAfterimageGroup->checkedId(); nChecked >= 0)
            m_nAfterimage = nChecked;
        m_strPath = m_pUi->imagePathLabel->text();
        return;
    }
    m_pUi->waveCheck->setChecked(m_bWave);
    m_pUi->clockCheck->setChecked(m_bClock);
    m_pUi->freqLabelsCheck->setChecked(m_bLabels);
    m_pUi->dividerCheck->setChecked(m_bDivider);
    if (QAbstractButton *pButton = m_pAfterimageGroup->button(m_nAfterimage)) {
        pButton->setChecked(true);
    } else {
        m_pAfterimageGroup->setExclusive(false);
        for (QAbstractButton *pRadio : m_pAfterimageGroup->buttons())
            pRadio->setChecked(false);
        m_pAfterimageGroup->setExclusive(true);
    }
    m_pUi->imagePathLabel->setText(m_strPath);
}

void CFrameSettingsDlg::SetOptionsFromSettings()
{
    m_bWave = m_settings.FwaveDisp != 0;
    m_bClock = m_settings.FclockDisp != 0;
    m_nAfterimage = m_settings.FwaveZan;
    m_bLabels = m_settings.FreqStrSw != 0;
    m_bDivider = m_settings.SpectFrameDraw != 0;
}

void CFrameSettingsDlg::OnOptionClicked()
{
    UpdateData(true);
    m_settings.FwaveDisp = m_bWave ? 1 : 0;
    m_settings.FclockDisp = m_bClock ? 1 : 0;
    m_settings.FwaveZan = m_nAfterimage;
    m_settings.FreqStrSw = m_bLabels ? 1 : 0;
    m_settings.SpectFrameDraw = m_bDivider ? 1 : 0;
    g_bSettingsChanged = 1;
}

void CFrameSettingsDlg::OnChooseImage()
{
    UpdateData(true);
    // Without a usable name the chooser starts in the current folder;
    // otherwise the platform picks the folder from the preset name.
    const QString strDirectory = m_settings.BmpName.size() < 3 ? QDir::currentPath() : QString();
    const std::optional<QString> strChosen =
        Choosers().chooseOpenFile(m_settings.BmpName, strDirectory, this);
    if (!strChosen)
        return;

    m_settings.BmpName = *strChosen;
    m_strPath = *strChosen;
    if (!LoadPreview())
        ReleasePreview();

    // A picture chosen before brings back its area and options; a new one
    // starts with margins of 10 and becomes the most recent entry.
    const int nSlot = FindImageEntry(*strChosen);
    if (nSlot < 0) {
        m_settings.AreaTop = m_settings.AreaBottom = m_settings.AreaLeft = m_settings.AreaRight =
            10;
        StoreCurrentImage(true);
    } else {
        if (nSlot > 0)
            MoveImageEntryToFront(nSlot);
        m_settings.ImageList[0].bmpName = *strChosen;
        ApplyFirstImageEntry();
        SetOptionsFromSettings();
    }
    g_bSettingsChanged = 1;
    UpdateData(false);
    m_pUi->previewBox->Redraw();
}

void CFrameSettingsDlg::OnNoImage()
{
    m_settings.BmpName.clear();
    m_strPath.clear();
    ReleasePreview();
    g_bSettingsChanged = 1;
    UpdateData(false);
    m_pUi->previewBox->Redraw();
}

void CFrameSettingsDlg::OnGraphArea()
{
    // The area can only be drawn over a picture that could be read.
    if (!m_hPreview)
        return;
    CGraphAreaDlg dlg(this);
    dlg.m_hDib = m_hPreview;
    dlg.m_pPalette = m_pPreviewPalette.get();
    dlg.m_nLeft = m_settings.AreaLeft;
    dlg.m_nTop = m_settings.AreaTop;
    dlg.m_nRight = m_settings.AreaRight;
    dlg.m_nBottom = m_settings.AreaBottom;
    if (dlg.exec() != QDialog::Accepted)
        return;
    m_settings.AreaLeft = dlg.m_nLeft;
    m_settings.AreaTop = dlg.m_nTop;
    m_settings.AreaRight = dlg.m_nRight;
    m_settings.AreaBottom = dlg.m_nBottom;
    g_bSettingsChanged = 1;
}

bool CFrameSettingsDlg::LoadPreview()
{
    // Read-only; the file is read whole and closed again at once.
    std::FILE *pFile = OpenDibFile(QFile::encodeName(m_settings.BmpName).constData());
    if (!pFile) {
        ReleasePreview();
        return false;
    }
    m_hPreview.reset();
    bool bFileError = false;
    m_hPreview = ReadDibFile(pFile, &bFileError);
    std::fclose(pFile);
    if (bFileError) {
        m_hPreview.reset();
        return false;
    }
    // A file that is no valid picture leaves neither picture nor palette.
    m_pPreviewPalette = std::make_unique<CPalette>();
    if (!CreateDibPalette(m_hPreview, m_pPreviewPalette.get()))
        m_pPreviewPalette.reset();
    return true;
}

void CFrameSettingsDlg::ReleasePreview()
{
    m_hPreview.reset();
    m_pPreviewPalette.reset();
}

void CFrameSettingsDlg::DrawPreview(CDC *pDC)
{
    if (!m_hPreview)
        return;
    const int nWidth = DibWidth(*m_hPreview);
    const int nHeight = DibHeight(*m_hPreview);
    RECT rc =
        FitRectKeepAspect(nWidth, nHeight, m_pUi->previewBox->width(), m_pUi->previewBox->height());
    // Inside the control's black frame.
    rc = RECT{rc.left + 1, rc.top + 1, rc.right - 1, rc.bottom - 1};
    PaintDib(pDC, rc, m_hPreview, RECT{0, 0, nWidth, nHeight}, m_pPreviewPalette.get());
}
