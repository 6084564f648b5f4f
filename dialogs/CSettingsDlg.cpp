#include "dialogs/CSettingsDlg.h"

#include "audio/input/PulseSourceList.h"
#include "dialogs/AppIcon.h"
#include "dialogs/BackgroundImageList.h"
#include "dialogs/CColorSettingsDlg.h"
#include "dialogs/CFrameSettingsDlg.h"
#include "dialogs/CFreqRangeDlg.h"
#include "dialogs/CKeyboardDlg.h"
#include "dialogs/CLevelRangeDlg.h"
#include "dialogs/CSaverSetupDlg.h"
#include "dialogs/CVersionDlg.h"
#include "dialogs/CommonControls.h"
#include "dialogs/TypePictures.h"
#include "display/DisplayFont.h"
#include "settings/SettingValues.h"
#include "settings/Settings.h"

#include "ui_CSettingsDlg.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPixmap>
#include <QSignalBlocker>

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

namespace {

// The pictures are rendered this many times larger than they show and then
// scaled down, so that chips, gaps and labels keep the display's proportions.
constexpr int kPictureScale = 2;

// The pictures show each type with the default settings, so one rendering
// serves every hub of the process. size is in logical pixels; the picture
// has dRatio device pixels to each of them, so that it is sharp on a dense
// screen (at twice the density the rendering is shown pixel for pixel).
QPixmap TypePicture(int nType, QSize size, double dRatio)
{
    static std::map<std::tuple<int, int, int, int>, QImage> cache;
    const QSize device(int(std::lround(size.width() * dRatio)),
                       int(std::lround(size.height() * dRatio)));
    QImage &picture = cache[{nType, size.width(), size.height(), device.width()}];
    if (picture.isNull()) {
        const QImage large = RenderTypePicture(nType, size * kPictureScale);
        if (large.isNull())
            return {};
        picture = large.size() == device
                      ? large
                      : large.scaled(device, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        picture.setDevicePixelRatio(dRatio);
    }
    return QPixmap::fromImage(picture);
}

} // namespace

FontChoice FontChoiceFromSettings(const DisplaySettings &settings, double dLogicalDpi)
{
    FontChoice choice;
    choice.font = CreateDisplayFont(settings.Font, settings.Font.lfHeight);
    // The chooser speaks points; the description holds pixels.
    if (choice.font.pixelSize() > 0 && dLogicalDpi > 0)
        choice.font.setPointSizeF(choice.font.pixelSize() * 72.0 / dLogicalDpi);
    choice.color = ColorFromRef(settings.FontColor);
    return choice;
}

namespace {

// The chooser lists whole points, so the preset's size shows rounded; taking
// it back as shown is no change.
bool SameFontSize(const QFont &chosen, const QFont &preset)
{
    if (chosen.pointSizeF() <= 0 || preset.pointSizeF() <= 0)
        return chosen.pixelSize() == preset.pixelSize();
    return chosen.pointSizeF() == preset.pointSizeF() ||
           chosen.pointSizeF() == std::round(preset.pointSizeF());
}

} // namespace

void StoreFontChoice(const FontChoice &preset, const FontChoice &choice, double dLogicalDpi,
                     DisplaySettings &settings)
{
    const QFont &font = choice.font;
    const QFont &was = preset.font;
    LogFont &lf = settings.Font;
    if (!SameFontSize(font, was)) {
        if (font.pointSizeF() > 0)
            lf.lfHeight = -int(std::lround(font.pointSizeF() * dLogicalDpi / 72.0));
        else
            lf.lfHeight = -font.pixelSize();
    }
    lf.lfWidth = 0;
    lf.lfEscapement = 0;
    lf.lfOrientation = 0;
    if (font.weight() != was.weight())
        lf.lfWeight = std::clamp(int(font.weight()), 100, 900);
    if (font.italic() != was.italic())
        lf.lfItalic = font.italic() ? 1 : 0;
    if (font.underline() != was.underline())
        lf.lfUnderline = font.underline() ? 1 : 0;
    if (font.strikeOut() != was.strikeOut())
        lf.lfStrikeOut = font.strikeOut() ? 1 : 0;
    // The preset's face may be an installed stand-in for the stored one.
    if (font.family() != was.family())
        SetFaceName(lf.lfFaceName, font.family());
    if (choice.color.isValid() && choice.color != preset.color)
        settings.FontColor = RefFromColor(choice.color);
}

std::vector<InputChoice> BuildInputChoices(const std::vector<PulseSourceInfo> &sources,
                                           const QString &strStored)
{
    const QString strDefault = QString::fromLatin1(kInputDefaultSource);
    std::vector<InputChoice> choices = {{QStringLiteral("再生中の音"), QString()},
                                        {QStringLiteral("既定の入力"), strDefault}};
    bool bStoredListed = strStored.isEmpty() || strStored == strDefault;
    for (const PulseSourceInfo &source : sources) {
        const QString strName = QString::fromStdString(source.strName);
        QString strLabel = QString::fromStdString(source.strDescription);
        // Two null outputs are both "Monitor of Null Output": the name tells them apart.
        const auto nSame = std::count_if(sources.begin(), sources.end(), [&](const auto &other) {
            return other.strDescription == source.strDescription;
        });
        if (strLabel.isEmpty())
            strLabel = strName;
        else if (nSame > 1)
            strLabel += QStringLiteral(" (%1)").arg(strName);
        choices.push_back({strLabel, strName});
        bStoredListed = bStoredListed || strName == strStored;
    }
    if (!bStoredListed)
        choices.push_back({strStored, strStored});
    return choices;
}

CSettingsDlg::CSettingsDlg(QWidget *pParent)
    : QDialog(pParent), m_nType(g_DisplaySettings.Type),
      m_bRecSearch(g_DisplaySettings.WaveRecMode != 0), m_hIcon(AppIcon()),
      m_pUi(std::make_unique<Ui::CSettingsDlg>())
{
    m_pUi->setupUi(this);
    ApplyPageFont(this);
    FollowRadioGroupKeys(this);
    // A window of its own with a task-bar button, a title bar with the window
    // menu, minimise and close, and no resizing, as the template has it.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    setWindowIcon(m_hIcon);

    // The buttons' ids are their positions in the tab order, which is also
    // the Type value.
    m_pTypeGroup = new QButtonGroup(this);
    QRadioButton *apRadios[] = {m_pUi->monoNormalRadio, m_pUi->stereoNormalRadio,
                                m_pUi->stereoLeftRightRadio, m_pUi->stereoTopBottomRadio,
                                m_pUi->keyboardRadio};
    for (int i = 0; i < 5; ++i)
        m_pTypeGroup->addButton(apRadios[i], i);
    if (QAbstractButton *pButton = m_pTypeGroup->button(m_nType))
        pButton->setChecked(true);
    m_pUi->recSearchCheck->setChecked(m_bRecSearch);

    connect(m_pTypeGroup, &QButtonGroup::idClicked, this, &CSettingsDlg::OnTypeClicked);
    connect(m_pUi->recSearchCheck, &QCheckBox::clicked, this, &CSettingsDlg::OnRecSearchClicked);
    connect(m_pUi->closeButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_pUi->fontButton, &QPushButton::clicked, this, &CSettingsDlg::OnFont);
    connect(m_pUi->saverButton, &QPushButton::clicked, this, &CSettingsDlg::OnSaverSetup);
    connect(m_pUi->versionButton, &QPushButton::clicked, this, &CSettingsDlg::OnVersion);
    connect(m_pUi->freqRangeButton, &QPushButton::clicked, this, &CSettingsDlg::OnFreqRange);
    connect(m_pUi->levelRangeButton, &QPushButton::clicked, this, &CSettingsDlg::OnLevelRange);
    connect(m_pUi->colorButton, &QPushButton::clicked, this, &CSettingsDlg::OnColor);
    connect(m_pUi->frameButton, &QPushButton::clicked, this, &CSettingsDlg::OnFrame);
    connect(m_pUi->keyboardButton, &QPushButton::clicked, this, &CSettingsDlg::OnKeyboard);

    // The fixed entries at once; the server's sources when it answers, which
    // never holds up the dialog.
    FillInputChooser({});
    connect(m_pUi->inputCombo, &QComboBox::activated, this, &CSettingsDlg::OnInputChosen);
    m_pSources = std::make_unique<PulseSourceList>();
    m_pSources->Start([this] {
        if (m_pSources->Answered())
            FillInputChooser(m_pSources->Sources());
    });

    ShowTypePictures();
    UpdateButtons();
    // The first control of the template takes the focus.
    m_pUi->closeButton->setFocus(Qt::OtherFocusReason);
}

CSettingsDlg::~CSettingsDlg() = default;

QAction *CSettingsDlg::AppendAboutItem(QMenu *pMenu, const QString &strText)
{
    if (strText.isEmpty())
        return nullptr;
    if (!pMenu->isEmpty())
        pMenu->addSeparator();
    QAction *pAction = pMenu->addAction(strText, this, &CSettingsDlg::OnVersion);
    pAction->setData(IDM_ABOUTBOX);
    return pAction;
}

void CSettingsDlg::contextMenuEvent(QContextMenuEvent *pEvent)
{
    QMenu menu(this);
    AppendAboutItem(&menu, kAboutItemText);
    if (menu.isEmpty())
        return;
    menu.exec(pEvent->globalPos());
}

void CSettingsDlg::OnTypeClicked(int nIndex)
{
    m_nType = nIndex;
    m_bRecSearch = m_pUi->recSearchCheck->isChecked();
    g_DisplaySettings.Type = m_nType;
    StoreCurrentImage(false);
    g_bSettingsChanged = 1;
    UpdateButtons();
}

void CSettingsDlg::OnRecSearchClicked()
{
    m_nType = std::max(-1, m_pTypeGroup->checkedId());
    m_bRecSearch = m_pUi->recSearchCheck->isChecked();
    g_bSettingsChanged = 1;
    g_DisplaySettings.WaveRecMode = m_bRecSearch ? 1 : 0;
}

void CSettingsDlg::OnFreqRange()
{
    // This page edits copies; they count only when it ends with OK.
    DisplaySettings &ds = g_DisplaySettings;
    CFreqRangeDlg dlg(ds, this);
    dlg.m_nDivision = unsigned(ds.Fdiv);
    dlg.m_nRange = ds.Frange;
    if (dlg.exec() != QDialog::Accepted)
        return;
    ds.Frange = dlg.m_nRange;
    ds.Fdiv = int(dlg.m_nDivision);
    StoreCurrentImage(false);
    g_bSettingsChanged = 1;
}

void CSettingsDlg::OnLevelRange()
{
    // The page applies its changes while it runs and undoes them on Cancel.
    DisplaySettings &ds = g_DisplaySettings;
    CLevelRangeDlg dlg(ds.Ldiv, ds.Lmax, ds.Lmin, ds.LPeek, this);
    if (dlg.exec() == QDialog::Accepted)
        StoreCurrentImage(false);
}

void CSettingsDlg::OnColor()
{
    // The page applies and flags its own changes; its result says nothing more.
    CColorSettingsDlg dlg(g_DisplaySettings, this);
    dlg.exec();
}

void CSettingsDlg::OnFrame()
{
    CFrameSettingsDlg dlg(g_DisplaySettings, this);
    if (dlg.exec() == QDialog::Accepted)
        StoreCurrentImage(false);
    // Cancel puts the whole block back, which may differ from what a running
    // display took from the page's live edits.
    g_bSettingsChanged = 1;
}

void CSettingsDlg::OnKeyboard()
{
    // No undo on this page: whatever it wrote stays, whichever way it ends.
    DisplaySettings &ds = g_DisplaySettings;
    CKeyboardDlg dlg(ds.KeyDiv, ds.KeyNum, ds.KeyOn, this);
    dlg.exec();
}

void CSettingsDlg::OnFont()
{
    const double dDpi = logicalDpiY();
    const FontChoice preset = FontChoiceFromSettings(g_DisplaySettings, dDpi);
    const std::optional<FontChoice> chosen = Choosers().chooseFont(preset, this);
    if (!chosen)
        return;
    StoreFontChoice(preset, *chosen, dDpi, g_DisplaySettings);
    g_bSettingsChanged = 1;
}

void CSettingsDlg::OnSaverSetup()
{
    CSaverSetupDlg dlg(g_DisplaySettings, this);
    dlg.exec();
}

void CSettingsDlg::OnVersion()
{
    CVersionDlg dlg(this);
    dlg.exec();
}

void CSettingsDlg::FillInputChooser(const std::vector<PulseSourceInfo> &sources)
{
    QComboBox *pCombo = m_pUi->inputCombo;
    const QString strChosen = g_DisplaySettings.InputSource;
    const QSignalBlocker blocker(pCombo);
    pCombo->clear();
    for (const InputChoice &choice : BuildInputChoices(sources, strChosen)) {
        pCombo->addItem(choice.strLabel, choice.strValue);
        if (choice.strValue == strChosen)
            pCombo->setCurrentIndex(pCombo->count() - 1);
    }
}

void CSettingsDlg::OnInputChosen(int nIndex)
{
    // Saved with everything else by 閉じる; a running display would reopen
    // its input.
    g_DisplaySettings.InputSource = m_pUi->inputCombo->itemData(nIndex).toString();
    g_bSettingsChanged = 1;
}

void CSettingsDlg::UpdateButtons()
{
    const bool bKeyboard = g_DisplaySettings.Type == 4;
    m_pUi->freqRangeButton->setEnabled(!bKeyboard);
    m_pUi->levelRangeButton->setEnabled(!bKeyboard);
    m_pUi->colorButton->setEnabled(!bKeyboard);
    m_pUi->keyboardButton->setEnabled(bKeyboard);
}

void CSettingsDlg::ShowTypePictures()
{
    QLabel *apLabels[] = {m_pUi->typePicture0, m_pUi->typePicture1, m_pUi->typePicture2,
                          m_pUi->typePicture3, m_pUi->typePicture4};
    for (int nType = 0; nType < 5; ++nType)
        apLabels[nType]->setPixmap(
            TypePicture(nType, apLabels[nType]->size(), apLabels[nType]->devicePixelRatioF()));
}
