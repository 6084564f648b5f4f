#include "dialogs/CLevelRangeDlg.h"

#include "dialogs/CommonControls.h"
#include "dialogs/PageSupport.h"
#include "settings/Settings.h"
#include "ui_CLevelRangeDlg.h"

#include <QButtonGroup>

#include <limits>

namespace {

constexpr int kLowest = -100; // dB at the left end of both sliders
constexpr int kHighest = 0;   // dB at the right end
constexpr int kTickFreq = 10;

QString LevelText(int nLevel)
{
    return QString::asprintf("%d dB", nLevel);
}

// A stored index shows as its button checked; any other value checks none.
void CheckButton(QButtonGroup *pGroup, int nIndex)
{
    if (QAbstractButton *pButton = pGroup->button(nIndex))
        pButton->setChecked(true);
}

} // namespace

CLevelRangeDlg::CLevelRangeDlg(int &nLdiv, int &nLmax, int &nLmin, int &nLPeek, QWidget *pParent)
    : QDialog(pParent), m_nLdiv(nLdiv), m_nLmax(nLmax), m_nLmin(nLmin), m_nLPeek(nLPeek),
      m_nSavedLdiv(nLdiv), m_nSavedLPeek(nLPeek), m_pUi(std::make_unique<Ui::CLevelRangeDlg>())
{
    m_pUi->setupUi(this);
    ApplyPageFont(this);
    FollowRadioGroupKeys(this);

    m_pResolutionGroup = new QButtonGroup(this);
    m_pResolutionGroup->addButton(m_pUi->fineRadio, 0);
    m_pResolutionGroup->addButton(m_pUi->standardRadio, 1);
    m_pResolutionGroup->addButton(m_pUi->coarseRadio, 2);
    m_pPeakTypeGroup = new QButtonGroup(this);
    m_pPeakTypeGroup->addButton(m_pUi->peakHoldRadio, 0);
    m_pPeakTypeGroup->addButton(m_pUi->peakSlowDownRadio, 1);
    m_pPeakTypeGroup->addButton(m_pUi->peakUpRadio, 2);

    m_nResolution = m_nLdiv;
    m_nPeakType = m_nLPeek;

    // An inverted stored pair is repaired before it is saved, so that Cancel
    // restores a usable range. The sum is formed wide: the store may hold any
    // 32-bit value, and a minimum at the top of the int range pins the
    // maximum there.
    const long long nWanted = static_cast<long long>(m_nLmin) + 1;
    if (nWanted > m_nLmax)
        m_nLmax = static_cast<int>(std::min<long long>(nWanted, std::numeric_limits<int>::max()));
    m_nSavedLmin = m_nLmin;
    m_nSavedLmax = m_nLmax;

    SetUpTrackbar(m_pUi->minLevelSlider, kLowest, kHighest, kTickFreq, m_nLmin);
    SetUpTrackbar(m_pUi->maxLevelSlider, kLowest, kHighest, kTickFreq, m_nLmax);
    m_strMin = LevelText(m_nLmin);
    m_strMax = LevelText(m_nLmax);

    CheckButton(m_pResolutionGroup, m_nResolution);
    CheckButton(m_pPeakTypeGroup, m_nPeakType);
    UpdateTexts();

    connect(m_pUi->minLevelSlider, &QSlider::valueChanged, this, &CLevelRangeDlg::OnMinChanged);
    connect(m_pUi->maxLevelSlider, &QSlider::valueChanged, this, &CLevelRangeDlg::OnMaxChanged);
    connect(m_pResolutionGroup, &QButtonGroup::idClicked, this,
            &CLevelRangeDlg::OnResolutionClicked);
    connect(m_pPeakTypeGroup, &QButtonGroup::idClicked, this, &CLevelRangeDlg::OnPeakTypeClicked);
    connect(m_pUi->okButton, &QPushButton::clicked, this, &CLevelRangeDlg::accept);
    connect(m_pUi->cancelButton, &QPushButton::clicked, this, &CLevelRangeDlg::reject);
    m_bInitialized = true;
}

CLevelRangeDlg::~CLevelRangeDlg() = default;

void CLevelRangeDlg::OnMinChanged(int nPos)
{
    // The minimum stops 1 dB short of the top so that a maximum fits above it.
    if (nPos >= kHighest) {
        nPos = kHighest - 1;
        SetTrackbarPos(m_pUi->minLevelSlider, nPos);
    }
    if (m_pUi->maxLevelSlider->value() < nPos + 1) {
        SetTrackbarPos(m_pUi->maxLevelSlider, nPos + 1);
        m_nLmax = nPos + 1;
        m_strMax = LevelText(nPos + 1);
    }
    m_strMin = LevelText(nPos);
    m_nLmin = nPos;
    UpdateTexts();
}

void CLevelRangeDlg::OnMaxChanged(int nPos)
{
    // The maximum stops 1 dB short of the bottom so that a minimum fits below it.
    if (nPos < kLowest + 1) {
        nPos = kLowest + 1;
        SetTrackbarPos(m_pUi->maxLevelSlider, nPos);
    }
    if (nPos - 1 < m_pUi->minLevelSlider->value()) {
        SetTrackbarPos(m_pUi->minLevelSlider, nPos - 1);
        m_nLmin = nPos - 1;
        m_strMin = LevelText(nPos - 1);
    }
    m_strMax = LevelText(nPos);
    m_nLmax = nPos;
    UpdateTexts();
}

void CLevelRangeDlg::OnResolutionClicked()
{
    if (m_bInitialized) {
        ReadChoices();
        m_nLdiv = m_nResolution;
    }
    g_bSettingsChanged = 1;
}

void CLevelRangeDlg::OnPeakTypeClicked()
{
    if (m_bInitialized) {
        ReadChoices();
        m_nLPeek = m_nPeakType;
    }
    g_bSettingsChanged = 1;
}

void CLevelRangeDlg::UpdateTexts()
{
    m_pUi->maxLevelValueLabel->setText(m_strMax);
    m_pUi->minLevelValueLabel->setText(m_strMin);
}

void CLevelRangeDlg::ReadChoices()
{
    m_nResolution = m_pResolutionGroup->checkedId();
    m_nPeakType = m_pPeakTypeGroup->checkedId();
}

void CLevelRangeDlg::accept()
{
    // The levels already hold the slider positions; the radios are written
    // again, so a stored index no button stands for becomes -1 (none).
    ReadChoices();
    m_nLdiv = m_nResolution;
    m_nLPeek = m_nPeakType;
    QDialog::accept();
}

void CLevelRangeDlg::reject()
{
    m_nLdiv = m_nSavedLdiv;
    m_nLPeek = m_nSavedLPeek;
    m_nLmin = m_nSavedLmin;
    m_nLmax = m_nSavedLmax;
    QDialog::reject();
}
