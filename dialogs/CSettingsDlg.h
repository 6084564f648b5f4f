#pragma once

#include "dialogs/PageSupport.h"

#include <QDialog>
#include <QIcon>
#include <QString>

#include <memory>
#include <vector>

namespace Ui {
class CSettingsDlg;
}
class QAction;
class QButtonGroup;
class QContextMenuEvent;
class QMenu;
class PulseSourceList;
struct DisplaySettings;
struct PulseSourceInfo;

// Text 101 of the string table: the version item of the hub's window menu.
inline const QString kAboutItemText = QStringLiteral("Vexlor のﾊﾞｰｼﾞｮﾝ情報(&A)...");
// The command id the version item carries, as in the window's system menu.
constexpr int IDM_ABOUTBOX = 16;

// The font chooser's preset from the stored font description and FontColor:
// the description's face (or the installed Japanese Gothic standing in for
// it), its height as a point size at dLogicalDpi, its weight and effects.
FontChoice FontChoiceFromSettings(const DisplaySettings &settings, double dLogicalDpi);
// Stores what the user changed in the font chooser, comparing the choice
// with the preset it was opened on, as the description the display draws
// with: the face, the height as the negative character height in pixels at
// dLogicalDpi (-round(points x dpi / 72); a pixel-sized font gives -pixels),
// the weight on the 100..900 scale, the italic, underline and strike-out
// bytes (these last only in memory: they are not persisted), and the colour
// as FontColor. What stayed as preset keeps its stored value, so the stored
// face stays even when an installed face stood in for it. The byte fields
// Qt's chooser has no say in (character set, precisions, quality, pitch and
// family) keep their values.
void StoreFontChoice(const FontChoice &preset, const FontChoice &choice, double dLogicalDpi,
                     DisplaySettings &settings);

// One entry of the input chooser: what it says, and the InputSource it stands for.
struct InputChoice
{
    QString strLabel;
    QString strValue;

    bool operator==(const InputChoice &) const = default;
};
// The input chooser's entries: what is playing, the default input, then each
// of the server's sources by its description (its name when it has none;
// with the name added when another source has the same description),
// and last the stored source when the server does not have it now, by its
// name, so that it stays selectable.
std::vector<InputChoice> BuildInputChoices(const std::vector<PulseSourceInfo> &sources,
                                           const QString &strStored);

// The hub of the settings run mode: sets the display type and the
// recording-point search itself, and opens a page for each group of
// settings. Every change goes into g_DisplaySettings at once and raises
// g_bSettingsChanged; the caller saves only when the dialog ends with its
// close button ("閉じる", accepted). Esc and the title-bar close reject.
class CSettingsDlg : public QDialog
{
public:
    explicit CSettingsDlg(QWidget *pParent = nullptr);
    ~CSettingsDlg() override;

    // Appends a separator and the version item with strText to pMenu, unless
    // strText is empty (then the menu gets nothing). The item, or null.
    QAction *AppendAboutItem(QMenu *pMenu, const QString &strText);

    // The index of the checked type button in the buttons' tab order.
    int m_nType = 0;
    // The state of the recording-point search check box.
    bool m_bRecSearch = false;
    QIcon m_hIcon;

protected:
    // The window menu that the old platform's system menu was: right click,
    // the menu key or Shift+F10 anywhere on the dialog's background.
    void contextMenuEvent(QContextMenuEvent *pEvent) override;

private:
    void OnTypeClicked(int nIndex);
    void OnRecSearchClicked();
    void OnFreqRange();
    void OnLevelRange();
    void OnColor();
    void OnFrame();
    void OnKeyboard();
    void OnFont();
    void OnSaverSetup();
    void OnVersion();
    void OnInputChosen(int nIndex);
    // Fills the input chooser with these sources, keeping its choice.
    void FillInputChooser(const std::vector<PulseSourceInfo> &sources);
    // The frequency range, level range and colour buttons only for the
    // spectrum types, the keyboard button only for the keyboard.
    void UpdateButtons();
    void ShowTypePictures();

    std::unique_ptr<Ui::CSettingsDlg> m_pUi;
    QButtonGroup *m_pTypeGroup = nullptr; // owned by the dialog
    // The question to the sound server that fills the input chooser; it
    // answers while the dialog runs.
    std::unique_ptr<PulseSourceList> m_pSources;
};
