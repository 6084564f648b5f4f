#include "dialogs/CVersionDlg.h"

#include "dialogs/AppIcon.h"
#include "dialogs/PageSupport.h"

#include "ui_CVersionDlg.h"

CVersionDlg::CVersionDlg(QWidget *pParent)
    : QDialog(pParent), m_pUi(std::make_unique<Ui::CVersionDlg>())
{
    m_pUi->setupUi(this);
    ApplyPageFont(this);
    setFixedSize(size());
    setWindowIcon(AppIcon());
    // The old platform showed a 32-pixel icon here.
    m_pUi->iconLabel->setPixmap(AppIconPixmap(32));
    // The one version number of the project, the package's too; its form
    // holds the same text for the form editor.
    m_pUi->versionLabel->setText(QStringLiteral("Vexlor　Version " VEXLOR_VERSION));
    connect(m_pUi->okButton, &QPushButton::clicked, this, &QDialog::accept);
}

CVersionDlg::~CVersionDlg() = default;
