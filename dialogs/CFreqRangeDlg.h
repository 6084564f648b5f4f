#pragma once

#include <QDialog>

#include <memory>

class QButtonGroup;
struct DisplaySettings;

namespace Ui {
class CFreqRangeDlg;
}

// The frequency range page: the displayed range Frange and the number of
// graph divisions Fdiv. Unlike the other pages it works on copies: the opener
// sets m_nDivision and m_nRange before exec() and, after OK, takes them back
// into the settings. The division count is brought into 1..80 for the mono
// and keyboard types and 1..40 for the stereo types, which draw two channels;
// the type is read from the block the opener hands in.
class CFreqRangeDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CFreqRangeDlg(const DisplaySettings &settings, QWidget *pParent = nullptr);
    ~CFreqRangeDlg() override;

    // The highest division count for the current Type.
    unsigned MaxDivision() const;

    // OK: a text that is not an unsigned whole number is refused with the
    // framework's message and the dialog stays open; otherwise the count is
    // brought into range, shown, and the dialog closes.
    void accept() override;

    unsigned m_nDivision = 0; // set to Fdiv by the opener
    int m_nRange = -1;        // set to Frange by the opener

protected:
    void showEvent(QShowEvent *pEvent) override;

private:
    // Dialog data exchange: members to controls, or back (false when the edit
    // box holds no unsigned whole number).
    void ShowMembers();
    bool ReadControls();

    const DisplaySettings &m_settings;
    std::unique_ptr<Ui::CFreqRangeDlg> m_pUi;
    QButtonGroup *m_pRangeGroup; // owned by the dialog
    bool m_bOpened = false;
};
