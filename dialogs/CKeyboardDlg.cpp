#include "dialogs/CKeyboardDlg.h"

#include "dialogs/CommonControls.h"
#include "dialogs/PageSupport.h"
#include "settings/Settings.h"
#include "ui_CKeyboardDlg.h"

#include <QButtonGroup>

namespace {

// The white-key button for a KeyDiv: 25, 28, 32 give 1, 2, 3 and every other
// value the "21" button, 0.
int WhiteKeyChoice(int nKeyDiv)
{
    switch (nKeyDiv) {
    case 25:
        return 1;
    case 28:
        return 2;
    case 32:
        return 3;
    default:
        return 0;
    }
}

// The KeyDiv a button stands for: 1, 2, 3 give 25, 28, 32, anything else 21.
int WhiteKeyCount(int nChoice)
{
    switch (nChoice) {
    case 1:
        return 25;
    case 2:
        return 28;
    case 3:
        return 32;
    default:
        return 21;
    }
}

} // namespace

CKeyboardDlg::CKeyboardDlg(int &nKeyDiv, int &nKeyNum, int &nKeyOn, QWidget *pParent)
    : QDialog(pParent), m_nKeyDiv(nKeyDiv), m_nKeyNum(nKeyNum), m_nKeyOn(nKeyOn),
      m_pUi(std::make_unique<Ui::CKeyboardDlg>())
{
    m_pUi->setupUi(this);
    ApplyPageFont(this);
    FollowRadioGroupKeys(this);

    m_pWhiteKeyGroup = new QButtonGroup(this);
    m_pWhiteKeyGroup->addButton(m_pUi->whiteKeys21Radio, 0);
    m_pWhiteKeyGroup->addButton(m_pUi->whiteKeys25Radio, 1);
    m_pWhiteKeyGroup->addButton(m_pUi->whiteKeys28Radio, 2);
    m_pWhiteKeyGroup->addButton(m_pUi->whiteKeys32Radio, 3);

    // A stored value outside a slider's range shows at its near end and stays
    // in the settings until that slider is moved.
    SetUpTrackbar(m_pUi->lowestLevelSlider, -100, 0, 10, m_nKeyOn);
    SetUpTrackbar(m_pUi->keyCountSlider, 1, 8, 1, m_nKeyNum);
    // An unexpected KeyDiv shows the "21" button but is not rewritten until a
    // button is clicked.
    m_nWhiteKey = WhiteKeyChoice(m_nKeyDiv);
    m_strKeyOn = QString::asprintf("%d dB", m_nKeyOn);
    m_strKeyNum = QString::asprintf("%d", m_nKeyNum);
    m_pWhiteKeyGroup->button(m_nWhiteKey)->setChecked(true);
    UpdateTexts();

    connect(m_pUi->lowestLevelSlider, &QSlider::valueChanged, this, &CKeyboardDlg::OnKeyOnChanged);
    connect(m_pUi->keyCountSlider, &QSlider::valueChanged, this, &CKeyboardDlg::OnKeyNumChanged);
    connect(m_pWhiteKeyGroup, &QButtonGroup::idClicked, this, &CKeyboardDlg::OnWhiteKeyClicked);
    connect(m_pUi->okButton, &QPushButton::clicked, this, &CKeyboardDlg::accept);
    connect(m_pUi->cancelButton, &QPushButton::clicked, this, &CKeyboardDlg::reject);
}

CKeyboardDlg::~CKeyboardDlg() = default;

void CKeyboardDlg::OnKeyOnChanged(int nPos)
{
    m_nKeyOn = nPos;
    m_strKeyOn = QString::asprintf("%d dB", nPos);
    UpdateTexts();
}

void CKeyboardDlg::OnKeyNumChanged(int nPos)
{
    m_nKeyNum = nPos;
    m_strKeyNum = QString::asprintf("%d", nPos);
    UpdateTexts();
}

void CKeyboardDlg::OnWhiteKeyClicked()
{
    m_nWhiteKey = m_pWhiteKeyGroup->checkedId();
    m_nKeyDiv = WhiteKeyCount(m_nWhiteKey);
    g_bSettingsChanged = 1;
}

void CKeyboardDlg::UpdateTexts()
{
    m_pUi->lowestLevelValueLabel->setText(m_strKeyOn);
    m_pUi->keyCountValueLabel->setText(m_strKeyNum);
}
