#include "dialogs/CSaverSetupDlg.h"

#include "dialogs/PageSupport.h"
#include "settings/Settings.h"

#include "ui_CSaverSetupDlg.h"

CSaverSetupDlg::CSaverSetupDlg(DisplaySettings &settings, QWidget *pParent)
    : QDialog(pParent), m_settings(settings), m_pUi(std::make_unique<Ui::CSaverSetupDlg>())
{
    m_pUi->setupUi(this);
    ApplyPageFont(this);
    setFixedSize(size());
    m_pUi->randomMoveCheck->setChecked((m_settings.SaverMode & 1) != 0);
    m_pUi->sizeXEdit->setText(QString::number(m_settings.SaverSizeX));
    m_pUi->sizeYEdit->setText(QString::number(m_settings.SaverSizeY));
    connect(m_pUi->okButton, &QPushButton::clicked, this, &CSaverSetupDlg::accept);
    connect(m_pUi->cancelButton, &QPushButton::clicked, this, &CSaverSetupDlg::reject);
}

CSaverSetupDlg::~CSaverSetupDlg() = default;

void CSaverSetupDlg::accept()
{
    int nSizeX = 0, nSizeY = 0;
    if (!ReadIntField(m_pUi->sizeXEdit, &nSizeX) || !ReadIntField(m_pUi->sizeYEdit, &nSizeY))
        return;
    m_settings.SaverSizeX = nSizeX;
    m_settings.SaverSizeY = nSizeY;
    m_settings.SaverMode =
        (m_settings.SaverMode & ~1) | (m_pUi->randomMoveCheck->isChecked() ? 1 : 0);
    QDialog::accept();
}
