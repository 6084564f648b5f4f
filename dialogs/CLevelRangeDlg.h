#pragma once

#include <QDialog>
#include <QString>

#include <memory>

class QButtonGroup;

namespace Ui {
class CLevelRangeDlg;
}

// The level range page: the highest and lowest level shown (Lmax, Lmin, in
// dB), the level-axis resolution Ldiv and the peak display type LPeek. Every
// change goes into the referenced live settings at once; Cancel (the button,
// Esc or the close box) puts back the values in force at opening. The radio
// buttons raise g_bSettingsChanged, the sliders do not.
//
// The sliders never cross: after any move the maximum is at least 1 dB above
// the minimum, a minimum written from its slider lies in -100..-1 and a
// maximum in -99..0. A stored level outside -100..0 shows at the near end of
// its slider and stays as stored until a slider move writes it.
class CLevelRangeDlg : public QDialog
{
    Q_OBJECT

public:
    CLevelRangeDlg(int &nLdiv, int &nLmax, int &nLmin, int &nLPeek, QWidget *pParent = nullptr);
    ~CLevelRangeDlg() override;

    void accept() override;
    void reject() override;

private:
    void OnMinChanged(int nPos);
    void OnMaxChanged(int nPos);
    void OnResolutionClicked();
    void OnPeakTypeClicked();
    // Shows the two level texts.
    void UpdateTexts();
    // The checked button's index in its group, -1 when none is.
    void ReadChoices();

    bool m_bInitialized = false; // false until the opening has finished
    int &m_nLdiv;
    int &m_nLmax;
    int &m_nLmin;
    int &m_nLPeek;
    int m_nSavedLdiv;
    int m_nSavedLmax = 0;
    int m_nSavedLmin = 0;
    int m_nSavedLPeek;
    std::unique_ptr<Ui::CLevelRangeDlg> m_pUi;
    QButtonGroup *m_pResolutionGroup; // owned by the dialog
    QButtonGroup *m_pPeakTypeGroup;   // owned by the dialog
    int m_nResolution = -1;
    int m_nPeakType = -1;
    QString m_strMax;
    QString m_strMin;
};
