#include "PageTestSupport.h"

#include "app/CSpectrumApp.h"
#include "audio/input/PulseSourceList.h"
#include "dialogs/CSettingsDlg.h"
#include "dialogs/CVersionDlg.h"
#include "dialogs/TypePictures.h"
#include "display/DisplayFont.h"
#include "platform/ProfileStore.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>

#include <cmath>

namespace {
using SettingsDlgTest = PageTest<CSettingsDlg>;
} // namespace

// Only what the user changed is stored: OK on the preset keeps the stored face name, not
// the installed face standing in for it.
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

// The input chooser: the two fixed entries, then the server's sources by description (the name
// added where two share one, the name alone where there is none), then the stored source the
// server does not have now.
TEST_F(SettingsDlgTest, InputChooserListsTheSourcesAndStoresTheChoice)
{
    using S = PulseSourceInfo;
    const std::vector<S> sources = {{"speakers.monitor", "Monitor of Null Output"},
                                    {"mic", "Null Input"},
                                    {"phones.monitor", "Monitor of Null Output"},
                                    {"usb", ""}};
    const InputChoice playing{"再生中の音", ""}, byDefault{"既定の入力", "@DEFAULT_SOURCE@"};
    const std::vector<InputChoice> listed = {
        playing,
        byDefault,
        {"Monitor of Null Output (speakers.monitor)", "speakers.monitor"},
        {"Null Input", "mic"},
        {"Monitor of Null Output (phones.monitor)", "phones.monitor"},
        {"usb", "usb"}};
    // clang-format off
    const std::tuple<std::vector<S>, QString, std::vector<InputChoice>> cases[] = {
        {{}, "", {playing, byDefault}}, {{}, "@DEFAULT_SOURCE@", {playing, byDefault}},
        {{}, "mic", {playing, byDefault, {"mic", "mic"}}},
        {sources, "mic", listed}, {sources, "", listed}};
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

// Every message box carries the program's name.
TEST_F(SettingsDlgTest, MessageBoxesAreTitledWithTheProgramsName)
{
    QString strTitle;
    WhenModalShows([&strTitle](QWidget *pModal) {
        strTitle = pModal->windowTitle();
        QTest::keyClick(pModal, Qt::Key_Escape);
    });
    Choosers().showMessage(nullptr, QStringLiteral("x"));
    EXPECT_EQ(strTitle, QStringLiteral("Vexlor"));
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

// Only 閉じる saves; a save that cannot reach the file is shown, with the
// file's place, and ends the process with 1.
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

TEST_F(SettingsRunMode, ASecondHubBringsTheFirstForwardAndEnds)
{
    const QString strName = QStringLiteral("vexlor-once");
    QWidget other;
    other.show();
    CSpectrumApp first({"/c"}, strName);
    bool bFirstShown = false, bSecondHub = false;
    QTimer closer; // should the second open a hub of its own, it is closed, not waited for
    closer.setSingleShot(true);
    WhenModalShows([&](QWidget *pHub) {
        bFirstShown = true;
        other.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
        QObject::connect(&closer, &QTimer::timeout, [pHub, &bSecondHub] {
            for (QWidget *p : QApplication::topLevelWidgets())
                if (p != pHub && dynamic_cast<CSettingsDlg *>(p) && p->isVisible())
                    bSecondHub = p->close();
        });
        closer.start(300);
        CSpectrumApp second({"/c"}, strName);
        EXPECT_FALSE(second.InitInstance());
        EXPECT_EQ(std::pair(second.ExitCode(), bSecondHub), std::pair(0, false));
        EXPECT_TRUE(QTest::qWaitForWindowActive(pHub));
        ::Click(pHub, "closeButton");
    });
    EXPECT_FALSE(first.InitInstance());
    EXPECT_EQ(std::pair(bFirstShown, first.ExitCode()), std::pair(true, 0));
}

// Each type's picture is the display drawn over the whole size asked: its frame at every edge.
// The box's text as the program has always shown it; the project's version
// number (which the package carries too) fills it in.
TEST(VersionBox, ShowsTheVersionOfTheProject)
{
    const CVersionDlg dlg;
    QStringList texts;
    for (const QLabel *pLabel : dlg.findChildren<QLabel *>())
        texts << pLabel->text();
    EXPECT_TRUE(texts.contains(QStringLiteral("Vexlor　Version 2.0")))
        << texts.join(u'|').toStdString();
}

TEST(TypePictures, EachTypeFillsThePicture)
{
    for (int nType = 0; nType < 5; ++nType) {
        const QImage img = RenderTypePicture(nType, QSize(120, 60));
        ASSERT_EQ(img.size(), QSize(120, 60)) << nType;
        for (const QPoint pt : {QPoint(0, 30), QPoint(119, 30), QPoint(60, 0), QPoint(60, 59)})
            EXPECT_NE(img.pixel(pt), qRgb(0, 0, 0)) << nType << " " << pt.x() << "," << pt.y();
    }
}
