#pragma once

#include <QDialog>
#include <QString>

#include <memory>

class QButtonGroup;

namespace Ui {
class CKeyboardDlg;
}

// The keyboard page: the lowest level at which a key lights (KeyOn, dB), the
// number of keys lit at once (KeyNum) and the number of white keys (KeyDiv).
// Every change goes into the referenced live settings at once and stays there:
// OK and Cancel both just close. The white-key buttons raise
// g_bSettingsChanged, the sliders do not.
class CKeyboardDlg : public QDialog
{
    Q_OBJECT

public:
    CKeyboardDlg(int &nKeyDiv, int &nKeyNum, int &nKeyOn, QWidget *pParent = nullptr);
    ~CKeyboardDlg() override;

private:
    void OnKeyOnChanged(int nPos);
    void OnKeyNumChanged(int nPos);
    void OnWhiteKeyClicked();
    void UpdateTexts();

    int &m_nKeyDiv;
    int &m_nKeyNum;
    int &m_nKeyOn;
    std::unique_ptr<Ui::CKeyboardDlg> m_pUi;
    QButtonGroup *m_pWhiteKeyGroup; // owned by the dialog
    QString m_strKeyOn;
    QString m_strKeyNum;
    int m_nWhiteKey = -1;
};
