#include "dialogs/CSaverSetupDlg.h"

#include "settings/Settings.h"
#include "dialogs/PageSupport.h"

#include "ui_CSaverSetupDlg.h"

CSaverSetupDlg::CSaverSetupDlg(QWidget *pParent)
    : QDialog(pParent), m_pUi(std::make_unique<Ui::CSaverSetupDlg>())
{
    m_pUi->setupUi(this);
    ApplyPageFont(this);
    setFixedSize(size());
    m_pUi->id1037->setChecked((g_DisplaySettings.SaverMode & 1) != 0);
    m_pUi->id1038->setText(QString::number(g_DisplaySettings.SaverSizeX));
    m_pUi->id1039->setText(QString::number(g_DisplaySettings.SaverSizeY));
    connect(m_pUi->id1, &QPushButton::clicked, this, &CSaverSetupDlg::accept);
    connect(m_pUi->id2, &QPushButton::clicked, this, &CSaverSetupDlg::reject);
}

CSaverSetupDlg::~CSaverSetupDlg() = default;

void CSaverSetupDlg::accept()
{
    int nSizeX = 0, nSizeY = 0;
    if (!ReadIntField(m_pUi->id1038, &nSizeX) || !ReadIntField(m_pUi->id1039, &nSizeY))
        return;
    g_DisplaySettings.SaverSizeX = nSizeX;
    g_DisplaySettings.SaverSizeY = nSizeY;
    g_DisplaySettings.SaverMode =
        (g_DisplaySettings.SaverMode & ~1) | (m_pUi->id1037->isChecked() ? 1 : 0);
    QDialog::accept();
}
