#pragma once

#include <QDialog>

#include <memory>

struct DisplaySettings;

namespace Ui {
class CSaverSetupDlg;
}

// The screen-saver page: random movement (bit 0 of SaverMode) and the
// graph's size in the screen-saver mode (SaverSizeX, SaverSizeY). It raises
// no change flag: the screen saver reads these only when it starts. The
// opener hands in the block to edit, the live g_DisplaySettings.
class CSaverSetupDlg : public QDialog
{
public:
    explicit CSaverSetupDlg(DisplaySettings &settings, QWidget *pParent = nullptr);
    ~CSaverSetupDlg() override;

    // Takes both sizes, refusing a text that is not a whole number with the
    // integer message (the page then stays open), and stores the page's
    // values; the other bits of SaverMode are kept.
    void accept() override;

private:
    DisplaySettings &m_settings;
    std::unique_ptr<Ui::CSaverSetupDlg> m_pUi;
};
