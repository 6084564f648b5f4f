#include "PageTestSupport.h"

#include "app/CSpectrumApp.h"
#include "audio/input/PulseSourceList.h"
#include "dialogs/CSettingsDlg.h"
#include "display/DisplayFont.h"
#include "platform/ProfileStore.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QSettings>
#include <QTemporaryDir>

#include <cmath>

namespace {
using SettingsDlgTest = PageTest<CSettingsDlg>;
} // namespace

// Only what the user changed is stored, not the installed face standing in for the preset.
TEST_F(SettingsDlgTest, FontChooserStoresWhatWasChanged)
{
    (m_pDlg = std::make_unique<CSettingsDlg>())->show();
    const double dDpi = m_pDlg->logicalDpiY();
    const QString strStandIn = InstalledJapaneseFamily(QStringLiteral("ＭＳ Ｐゴシック"));
    const QStringList families = QFontDatabase::families();
    const QString strFamily = families[families[0] == strStandIn ? 1 : 0]; // another face
    std::optional<FontChoice> chosen;                                      // none: cancelled
    FontChoice seen;
    Choosers().chooseFont = [&](const FontChoice &initial, QWidget *) {
        seen = initial;
        return chosen;
    };
    const DisplaySettings before = g_DisplaySettings;
    Click("fontButton"); // cancelled
    // The preset: 11 pixels as points at the screen's resolution, cyan.
    EXPECT_NEAR(seen.font.pointSizeF(), 11 * 72.0 / dDpi, 0.01);
    EXPECT_EQ(std::pair(seen.font.weight(), seen.color),
              std::pair(QFont::Normal, QColor(0, 255, 255)));
    QFont rounded = seen.font; // OK on the preset, or on it rounded to whole points
    rounded.setPointSize(int(std::round(rounded.pointSizeF())));
    for (const QFont &font : {seen.font, rounded}) {
        chosen = FontChoice{font, seen.color};
        Click("fontButton");
        EXPECT_EQ(g_DisplaySettings, before);
    }
    chosen = FontChoice{QFont(strFamily, 14, QFont::Bold, true), QColor(10, 20, 30)};
    Click("fontButton");
    const LogFont &lf = g_DisplaySettings.Font;
    EXPECT_EQ(std::tuple(lf.lfHeight, lf.lfWeight, lf.lfItalic, lf.lfUnderline, lf.lfCharSet),
              std::tuple(-int(std::lround(14 * dDpi / 72)), 700, 1, 0, 128)); // charset kept
    EXPECT_EQ(
        std::tuple(FaceNameText(lf.lfFaceName), g_DisplaySettings.FontColor, g_bSettingsChanged),
        std::tuple(strFamily, 0x1E140A, 1));
}

// Two fixed entries, sources by description (a twin's name added), then a stored absentee.
TEST_F(SettingsDlgTest, InputChooserListsTheSourcesAndStoresTheChoice)
{
    // clang-format off
    const std::vector<PulseSourceInfo> sources = {{"speakers.monitor", "Monitor of Null Output"},
        {"mic", "Null Input"}, {"phones.monitor", "Monitor of Null Output"}, {"usb", ""}};
    const InputChoice playing{"再生中の音", ""}, byDefault{"既定の入力", "@DEFAULT_SOURCE@"};
    const std::vector<InputChoice> listed = {playing, byDefault,
        {"Monitor of Null Output (speakers.monitor)", "speakers.monitor"}, {"Null Input", "mic"},
        {"Monitor of Null Output (phones.monitor)", "phones.monitor"}, {"usb", "usb"}};
    const std::tuple<std::vector<PulseSourceInfo>, QString, std::vector<InputChoice>> cases[] = {
        {{}, "", {playing, byDefault}}, {{}, "@DEFAULT_SOURCE@", {playing, byDefault}},
        {{}, "mic", {playing, byDefault, {"mic", "mic"}}}, {sources, "mic", listed}, {sources, "", listed}};
    // clang-format on
    for (const auto &[given, strStored, expected] : cases)
        EXPECT_EQ(BuildInputChoices(given, strStored), expected) << strStored.toStdString();

    // A stored source the server lacks is shown chosen; picking an entry takes it at once.
    g_DisplaySettings.InputSource = QStringLiteral("gone");
    (m_pDlg = std::make_unique<CSettingsDlg>())->show();
    auto *pCombo = Ctl<QComboBox>("inputCombo");
    EXPECT_EQ(pCombo->currentText(), "gone");
    g_bSettingsChanged = 0;
    QTest::keyClick(pCombo, Qt::Key_Home);
    EXPECT_EQ(std::pair(g_DisplaySettings.InputSource, g_bSettingsChanged),
              std::pair(QString(), 1));
}

namespace {

// The settings run mode (/c) on the real settings file, under the test's folder.
struct SettingsRunMode : ::testing::Test
{
    void SetUp() override
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
    }
    void TearDown() override { SetProfileStore(nullptr), ResetPageChoosers(); }
    QString Conf(const QString &str) const { return m_dir.filePath("tanuwel/" + str + ".conf"); }
    QTemporaryDir m_dir;
};

} // namespace

// Only 閉じる saves; a failed save is shown with the file's place and exits with 1.
TEST_F(SettingsRunMode, SavesOnlyOnTheCloseButtonAndShowsAFailedSave)
{
    // 0: 閉じる, else a cancel way; obstacle 1: the company folder a file, 2: the file a folder
    const std::pair<int, int> cases[] = {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {0, 2}};
    const QString strCompany = m_dir.filePath(QStringLiteral("tanuwel"));
    for (const auto &[nEnding, nObstacle] : cases) {
        // A name of its own per case: QSettings keeps what it read per file.
        const QString strName = QStringLiteral("vexlor-%1-%2").arg(nEnding).arg(nObstacle);
        ASSERT_TRUE(nObstacle != 2 || QDir().mkpath(Conf(strName)));
        QFile company(strCompany);
        ASSERT_TRUE(nObstacle != 1 ||
                    (QDir(strCompany).removeRecursively() && company.open(QIODevice::WriteOnly)));
        QString strMessage;
        Choosers().showMessage = [&strMessage](QWidget *, const QString &str) { strMessage = str; };
        CSpectrumApp app({"/c"}, strName);
        WhenModalShows([nEnding](QWidget *pHub) {
            ::Click(pHub, "stereoTopBottomRadio");
            nEnding == 0 ? ::Click(pHub, "closeButton") : kCancelWays[nEnding](pHub);
        });
        EXPECT_FALSE(app.InitInstance());
        const bool bSaved = nEnding == 0 && nObstacle == 0;
        EXPECT_EQ(std::pair(app.ExitCode(), strMessage),
                  nObstacle ? std::pair(1, "設定を保存できませんでした。\n" + Conf(strName))
                            : std::pair(0, QString()));
        EXPECT_EQ(QFileInfo(Conf(strName)).isFile(), bSaved) << strName.toStdString();
        const QSettings conf(Conf(strName), QSettings::IniFormat);
        EXPECT_EQ(bSaved ? conf.value("Config/Type").toInt() : 3, 3); // the file as saved
        SetProfileStore(nullptr);
        QFile::remove(strCompany);
    }
}
