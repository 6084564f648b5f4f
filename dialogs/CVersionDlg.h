#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class CVersionDlg;
}

// The version box: the program's icon, its name and version, and OK. It
// changes nothing.
class CVersionDlg : public QDialog
{
public:
    explicit CVersionDlg(QWidget *pParent = nullptr);
    ~CVersionDlg() override;

private:
    std::unique_ptr<Ui::CVersionDlg> m_pUi;
};
