#include "dialogs/CFreqRangeDlg.h"

#include "dialogs/CommonControls.h"
#include "dialogs/PageSupport.h"
#include "settings/Settings.h"
#include "ui_CFreqRangeDlg.h"

#include <QButtonGroup>

CFreqRangeDlg::CFreqRangeDlg(const DisplaySettings &settings, QWidget *pParent)
    : QDialog(pParent), m_settings(settings), m_pUi(std::make_unique<Ui::CFreqRangeDlg>())
{
    m_pUi->setupUi(this);
    ApplyPageFont(this);
    FollowRadioGroupKeys(this);

    m_pRangeGroup = new QButtonGroup(this);
    m_pRangeGroup->addButton(m_pUi->range5kRadio, 0);
    m_pRangeGroup->addButton(m_pUi->range10kRadio, 1);
    m_pRangeGroup->addButton(m_pUi->range20kRadio, 2);
    m_pUi->bandCountSpin->SetBuddy(m_pUi->bandCountEdit);

    connect(m_pUi->okButton, &QPushButton::clicked, this, &CFreqRangeDlg::accept);
    connect(m_pUi->cancelButton, &QPushButton::clicked, this, &CFreqRangeDlg::reject);
}

CFreqRangeDlg::~CFreqRangeDlg() = default;

unsigned CFreqRangeDlg::MaxDivision() const
{
    const int nType = m_settings.Type;
    return nType == 0 || nType == 4 ? 80 : 40;
}

void CFreqRangeDlg::showEvent(QShowEvent *pEvent)
{
    // The members are set between construction and exec(), so the controls
    // are filled when the dialog first shows.
    if (!m_bOpened) {
        m_bOpened = true;
        ShowMembers();
        const unsigned nMax = MaxDivision();
        m_pUi->bandCountSpin->SetRange(1, static_cast<int>(nMax));
        // A stored 0 is counted as 1 but the edit box keeps showing it until
        // the next transfer.
        if (m_nDivision < 1)
            m_nDivision = 1;
        if (m_nDivision > nMax) {
            m_nDivision = nMax;
            ShowMembers();
        }
    }
    QDialog::showEvent(pEvent);
}

void CFreqRangeDlg::accept()
{
    const unsigned nMax = MaxDivision();
    if (!ReadControls())
        return;
    if (m_nDivision < 1)
        m_nDivision = 1;
    if (m_nDivision > nMax)
        m_nDivision = nMax;
    ShowMembers();
    QDialog::accept();
}

void CFreqRangeDlg::ShowMembers()
{
    m_pUi->bandCountEdit->setText(QString::number(m_nDivision));
    // A range no button stands for leaves all three unchecked.
    const bool bExclusive = m_pRangeGroup->exclusive();
    m_pRangeGroup->setExclusive(false);
    for (QAbstractButton *pButton : m_pRangeGroup->buttons())
        pButton->setChecked(m_pRangeGroup->id(pButton) == m_nRange);
    m_pRangeGroup->setExclusive(bExclusive);
}

bool CFreqRangeDlg::ReadControls()
{
    if (!ReadUIntField(m_pUi->bandCountEdit, &m_nDivision))
        return false;
    m_nRange = m_pRangeGroup->checkedId();
    return true;
}
