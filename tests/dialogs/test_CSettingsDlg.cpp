#include "PageTestSupport.h"

#include "app/CSpectrumApp.h"
#include "dialogs/CSaverSetupDlg.h"
#include "dialogs/CSettingsDlg.h"
#include "dialogs/SettingsInstance.h"
#include "dialogs/TypePictures.h"
#include "display/DisplayFont.h"
#include "platform/ProfileStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLineEdit>
#include <QLocalServer>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>

#include <cmath>

namespace {

// Which of the frequency range, level range, colour and keyboard buttons
// are enabled, as four 0/1 digits.
std::string PageButtons(QWidget *pDialog)
{
    std::string str;
    for (const char *pszName :
         {"freqRangeButton", "levelRangeButton", "colorButton", "keyboardButton"})
        str += Control(pDialog, pszName)->isEnabled() ? '1' : '0';
    return str;
}

// Clicks pszButton on the hub and, once its page shows, runs fnAct on the page.
void OnPage(QWidget *pHub, const char *pszButton, std::function<void(QWidget *)> fnAct)
{
    bool bShown = false;
    WhenModalShows([&](QWidget *pPage) {
        bShown = true;
        fnAct(pPage);
    });
    ::Click(pHub, pszButton);
    EXPECT_TRUE(bShown) << pszButton;
}

void TypeInto(QWidget *pDialog, const char *pszName, const QString &strText)
{
    if (auto *pEdit = Control<QLineEdit>(pDialog, pszName)) {
        pEdit->selectAll();
        QTest::keyClicks(pEdit, strText);
    }
}

using SettingsDlgTest = PageTest<CSettingsDlg>;

} // namespace

TEST_F(SettingsDlgTest, TypeButtonsFollowTheTabOrderAndSwitchThePageButtons)
{
    // The buttons in their tab order, which is the Type value.
    const char *const apszTypes[] = {"monoNormalRadio", "stereoNormalRadio", "stereoLeftRightRadio",
                                     "stereoTopBottomRadio", "keyboardRadio"};
    for (int nType = 0; nType < 5; ++nType) {
        g_DisplaySettings.Type = nType;
        CSettingsDlg dlg;
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(Control(&dlg, apszTypes[i])->isChecked(), i == nType);
        EXPECT_EQ(PageButtons(&dlg), nType == 4 ? "0001" : "1110") << nType;
        for (const char *pszName : {"frameButton", "fontButton", "saverButton", "versionButton"})
            EXPECT_TRUE(Control(&dlg, pszName)->isEnabled()) << pszName;
    }
    g_DisplaySettings.Type = 0;
    g_DisplaySettings.BmpName = QStringLiteral("/pictures/sp.bmp");
    g_DisplaySettings.ImageList[1].bmpName = QStringLiteral("/pictures/older.bmp");
    const ImageEntry older = g_DisplaySettings.ImageList[1];
    m_pDlg = std::make_unique<CSettingsDlg>();
    m_pDlg->show();
    Click("keyboardRadio"); // キーボード
    EXPECT_EQ(std::pair(g_DisplaySettings.Type, g_bSettingsChanged), std::pair(4, 1));
    EXPECT_EQ(PageButtons(m_pDlg.get()), "0001");
    // Slot 0 remembers the picture with the defaults and the new type: labels
    // on (bit 0), Ldiv 1 (bits 4-7), Fdiv 16 (bits 8-15), Type 4 (bits 16-19).
    const ImageEntry &first = g_DisplaySettings.ImageList[0];
    EXPECT_EQ(first.bmpName, QStringLiteral("/pictures/sp.bmp"));
    EXPECT_EQ(first.bmpTypeEtc, 1 | (1 << 4) | (16 << 8) | (4 << 16));
    EXPECT_EQ(first.bmpLeftRight, (123 << 16) | 114);
    EXPECT_EQ(g_DisplaySettings.ImageList[1], older); // stored without a shift
    g_bSettingsChanged = 0;
    Click("stereoTopBottomRadio"); // ステレオ上下
    EXPECT_EQ(std::pair(g_DisplaySettings.Type, g_bSettingsChanged), std::pair(3, 1));
    EXPECT_EQ(PageButtons(m_pDlg.get()), "1110");
    EXPECT_EQ(first.bmpTypeEtc >> 16, 3);
    for (int nExpected : {1, 0}) { // 録音点検索を行う
        g_bSettingsChanged = 0;
        Click("recSearchCheck");
        EXPECT_EQ(std::pair(g_DisplaySettings.WaveRecMode, g_bSettingsChanged),
                  std::pair(nExpected, 1));
    }
}

TEST_F(SettingsDlgTest, SaverPageTakesWholeNumbersAndOnlyBitZero)
{
    struct Case
    {
        int nMode;        // SaverMode before
        bool bClickCheck; // toggle the random-move box
        const char *pszX, *pszY;
        bool bAccepted; // the page closes
        int nModeAfter, nX, nY;
    };
    // clang-format off
    const Case cases[] = {
        {1, true, "545", "151", true, 0, 545, 151}, {7, true, "545", "151", true, 6, 545, 151},
        {6, true, "-20", "100000", true, 7, -20, 100000}, {1, false, " 12 ", "34", true, 1, 12, 34},
        {1, true, "abc", "151", false, 1, 545, 151}, {1, true, "545", "1.5", false, 1, 545, 151},
        {1, true, "99999999999", "1", false, 1, 545, 151},
    };
    // clang-format on
    for (const Case &c : cases) {
        ResetSettings();
        g_DisplaySettings.SaverMode = c.nMode;
        QString strMessage;
        Choosers().showMessage = [&strMessage](QWidget *, const QString &str) { strMessage = str; };
        CSaverSetupDlg dlg(g_DisplaySettings);
        dlg.show();
        EXPECT_EQ(Control<QLineEdit>(&dlg, "sizeXEdit")->text(), QStringLiteral("545"));
        EXPECT_EQ(Control(&dlg, "randomMoveCheck")->isChecked(), (c.nMode & 1) != 0);
        if (c.bClickCheck)
            ::Click(&dlg, "randomMoveCheck");
        Control<QLineEdit>(&dlg, "sizeXEdit")->setText(QString::fromLatin1(c.pszX));
        Control<QLineEdit>(&dlg, "sizeYEdit")->setText(QString::fromLatin1(c.pszY));
        ::Click(&dlg, "okButton");
        EXPECT_EQ(dlg.isVisible(), !c.bAccepted) << c.pszX << ' ' << c.pszY;
        EXPECT_EQ(strMessage, c.bAccepted ? QString() : QStringLiteral("整数を入力してください。"));
        const DisplaySettings &ds = g_DisplaySettings;
        EXPECT_EQ(std::tuple(ds.SaverMode, ds.SaverSizeX, ds.SaverSizeY),
                  std::tuple(c.nModeAfter, c.nX, c.nY))
            << c.pszX;
        EXPECT_EQ(g_bSettingsChanged, 0);
    }
}

// Only what the user changed in the chooser is stored; the installed face
// standing in for the stored one is not.
TEST_F(SettingsDlgTest, FontChooserStoresWhatWasChanged)
{
    m_pDlg = std::make_unique<CSettingsDlg>();
    m_pDlg->show();
    const double dDpi = m_pDlg->logicalDpiY();
    QString strFamily; // a face other than the stand-in
    for (const QString &str : QFontDatabase::families())
        if (strFamily.isEmpty() &&
            str != InstalledJapaneseFamily(QStringLiteral("ＭＳ Ｐゴシック")))
            strFamily = str;
    std::optional<FontChoice> chosen;
    FontChoice seen;
    Choosers().chooseFont = [&](const FontChoice &initial, QWidget *) {
        seen = initial;
        return chosen ? chosen : std::nullopt;
    };
    const DisplaySettings before = g_DisplaySettings;
    Click("fontButton"); // cancelled
    EXPECT_EQ(g_DisplaySettings, before);
    EXPECT_EQ(g_bSettingsChanged, 0);
    // The preset: 11 pixels as points at the screen's resolution, cyan.
    EXPECT_NEAR(seen.font.pointSizeF(), 11 * 72.0 / dDpi, 0.01);
    EXPECT_EQ(seen.font.weight(), QFont::Normal);
    EXPECT_EQ(seen.color, QColor(0, 255, 255));
    for (QFont font : {seen.font, [&] { // OK on the preset, or on it rounded to whole points
                           QFont f = seen.font;
                           f.setPointSize(int(std::round(f.pointSizeF())));
                           return f;
                       }()}) {
        chosen = FontChoice{font, seen.color};
        Click("fontButton");
        EXPECT_EQ(FaceNameText(g_DisplaySettings.Font.lfFaceName),
                  QStringLiteral("ＭＳ Ｐゴシック"));
        EXPECT_EQ(g_DisplaySettings, before);
    }
    chosen = FontChoice{QFont(strFamily), QColor(10, 20, 30)};
    chosen->font.setPointSize(14);
    chosen->font.setWeight(QFont::Bold);
    chosen->font.setItalic(true);
    Click("fontButton");
    const LogFont &lf = g_DisplaySettings.Font;
    EXPECT_EQ(lf.lfHeight, -int(std::lround(14 * dDpi / 72)));
    EXPECT_EQ(std::tuple(lf.lfWeight, lf.lfItalic, lf.lfUnderline), std::tuple(700, 1, 0));
    EXPECT_EQ(FaceNameText(lf.lfFaceName), strFamily);
    EXPECT_EQ(lf.lfCharSet, 128); // what the chooser does not choose stays
    EXPECT_EQ(g_DisplaySettings.FontColor, 0x1E140A);
    EXPECT_EQ(g_bSettingsChanged, 1);
    chosen->font.setPixelSize(20); // a pixel-sized choice is stored as those pixels
    Click("fontButton");
    EXPECT_EQ(lf.lfHeight, -20);
}

TEST_F(SettingsDlgTest, VersionBoxFromTheButtonAndTheWindowMenuAndTheMessageTitle)
{
    m_pDlg = std::make_unique<CSettingsDlg>();
    m_pDlg->show();
    QMenu menu;
    EXPECT_EQ(m_pDlg->AppendAboutItem(&menu, QString()), nullptr); // empty text 101: no item
    EXPECT_TRUE(menu.isEmpty());
    QAction *pItem = m_pDlg->AppendAboutItem(&menu, kAboutItemText);
    ASSERT_NE(pItem, nullptr);
    EXPECT_EQ(pItem->text(), QStringLiteral("Vexlor のﾊﾞｰｼﾞｮﾝ情報(&A)..."));
    QStringList titles;
    const auto closeBox = [&titles](QWidget *pModal) {
        titles << pModal->windowTitle();
        QStringList texts;
        for (const QLabel *pLabel : pModal->findChildren<QLabel *>())
            texts << pLabel->text();
        EXPECT_TRUE(texts.contains(QStringLiteral("Vexlor\u3000Version 2.0")) ||
                    texts.contains(QStringLiteral("x")));
        QTest::keyClick(pModal, Qt::Key_Escape);
    };
    WhenModalShows(closeBox);
    Click("versionButton");
    WhenModalShows(closeBox);
    pItem->trigger();
    WhenModalShows(closeBox);
    Choosers().showMessage(nullptr, QStringLiteral("x"));
    const QString strVersion = QStringLiteral("Vexlorのﾊﾞｰｼﾞｮﾝ情報");
    EXPECT_EQ(titles, QStringList({strVersion, strVersion, QStringLiteral("Vexlor")}));
}

TEST_F(SettingsDlgTest, PicturesComeFromTheDisplayAndLeaveTheSettingsAlone)
{
    g_DisplaySettings.Type = 2;
    const DisplaySettings before = g_DisplaySettings;
    const QImage keys = RenderTypePicture(4, QSize(184, 76));
    EXPECT_EQ(g_DisplaySettings, before);
    EXPECT_EQ(g_bSettingsChanged, 0);
    ASSERT_EQ(keys.size(), QSize(184, 76));
    // The keyboard's white keys fill much of the picture.
    int nWhite = 0;
    for (int y = 0; y < 76; ++y)
        for (int x = 0; x < 184; ++x)
            nWhite += keys.pixel(x, y) == qRgb(255, 255, 255);
    EXPECT_GT(nWhite, 184 * 76 / 5);
}

TEST_F(SettingsDlgTest, PagesOpenFromTheHubAndCountAsTheyEnd)
{
    DisplaySettings &ds = g_DisplaySettings;
    ds.BmpName = QStringLiteral("/pictures/sp.bmp");
    m_pDlg = std::make_unique<CSettingsDlg>();
    m_pDlg->show();
    QWidget *pHub = m_pDlg.get();
    // Frequency range: copies taken back only on OK, then remembered with the picture.
    for (bool bOk : {true, false}) {
        g_bSettingsChanged = 0;
        OnPage(pHub, "freqRangeButton", [bOk](QWidget *p) {
            TypeInto(p, "bandCountEdit", bOk ? QStringLiteral("30") : QStringLiteral("5"));
            ::Click(p, "range10kRadio"); // 100～10KHz
            ::Click(p, bOk ? "okButton" : "cancelButton");
        });
        EXPECT_EQ(std::tuple(ds.Fdiv, ds.Frange, g_bSettingsChanged), std::tuple(30, 1, bOk));
        EXPECT_EQ((ds.ImageList[0].bmpTypeEtc >> 8) & 0xFF, 30);
    }
    // Level range: live edits; OK remembers the new resolution with the picture.
    OnPage(pHub, "levelRangeButton", [](QWidget *p) {
        ::Click(p, "coarseRadio"); // 荒い
        ::Click(p, "okButton");
    });
    EXPECT_EQ(ds.Ldiv, 2);
    EXPECT_EQ((ds.ImageList[0].bmpTypeEtc >> 4) & 0xF, 2);
    // Frame: Cancel puts everything back and leaves the remembered pictures
    // alone, yet the display is still told to start over.
    const DisplaySettings before = ds;
    g_bSettingsChanged = 0;
    OnPage(pHub, "frameButton", [](QWidget *p) {
        ::Click(p, "clockCheck"); // 時計表示
        ::Click(p, "cancelButton");
    });
    EXPECT_EQ(ds, before);
    EXPECT_EQ(g_bSettingsChanged, 1);
    // Colour: the page is the one titled 配色; its Cancel changes nothing.
    OnPage(pHub, "colorButton", [](QWidget *p) {
        EXPECT_EQ(p->windowTitle(), QStringLiteral("配色"));
        ::Click(p, "cancelButton");
    });
    EXPECT_EQ(ds, before);
    // Keyboard: no undo, so a white-key click survives Cancel.
    Click("keyboardRadio");
    OnPage(pHub, "keyboardButton", [](QWidget *p) {
        ::Click(p, "whiteKeys32Radio"); // 32
        ::Click(p, "cancelButton");
    });
    EXPECT_EQ(ds.KeyDiv, 32);
}

namespace {

// The settings run mode on the real settings file, under the folder the
// test gives QSettings.
struct SettingsApp : CSpectrumApp
{
    explicit SettingsApp(const QString &strName) : CSpectrumApp({"/c"}, strName) {}
};

class SettingsRunMode : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
    }
    void TearDown() override
    {
        SetProfileStore(nullptr);
        ResetPageChoosers();
        g_bSettingsChanged = 0;
    }
    QString Conf(const QString &strName) const
    {
        return m_dir.filePath(QStringLiteral("tanuwel/%1.conf").arg(strName));
    }
    QTemporaryDir m_dir;
};

} // namespace

// Only 閉じる saves; a save that cannot reach the file is shown, with the
// file's place, and ends the process with 1.
TEST_F(SettingsRunMode, SavesOnlyOnTheCloseButtonAndShowsAFailedSave)
{
    enum Obstacle
    {
        None,
        CompanyFolderIsAFile,
        FileIsAFolder
    };
    const struct
    {
        int nEnding; // 0: 閉じる, else kCancelWays[nEnding]
        Obstacle eObstacle;
    } cases[] = {{0, None}, {1, None}, {2, None}, {0, CompanyFolderIsAFile}, {0, FileIsAFolder}};
    const QString strCompany = m_dir.filePath(QStringLiteral("tanuwel"));
    for (const auto &c : cases) {
        // A name of its own per case: QSettings keeps what it read per file.
        const QString strName = QStringLiteral("vexlor-%1-%2").arg(c.nEnding).arg(c.eObstacle);
        if (c.eObstacle == FileIsAFolder) {
            ASSERT_TRUE(QDir().mkpath(Conf(strName)));
        } else if (c.eObstacle == CompanyFolderIsAFile) {
            QDir(strCompany).removeRecursively();
            QFile file(strCompany);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
        QString strMessage;
        Choosers().showMessage = [&strMessage](QWidget *, const QString &str) { strMessage = str; };
        SettingsApp app(strName);
        WhenModalShows([&c](QWidget *pHub) {
            ::Click(pHub, "stereoTopBottomRadio");
            c.nEnding == 0 ? ::Click(pHub, "closeButton") : kCancelWays[c.nEnding](pHub);
        });
        EXPECT_FALSE(app.InitInstance());
        const bool bSaved = c.nEnding == 0 && c.eObstacle == None;
        const bool bFailed = c.eObstacle != None;
        EXPECT_EQ(app.ExitCode(), bFailed ? 1 : 0) << strName.toStdString();
        EXPECT_EQ(strMessage, bFailed
                                  ? QStringLiteral("設定を保存できませんでした。\n") + Conf(strName)
                                  : QString());
        EXPECT_EQ(QFileInfo(Conf(strName)).isFile(), bSaved);
        if (bSaved) {
            QSettings conf(Conf(strName), QSettings::IniFormat);
            EXPECT_EQ(conf.value(QStringLiteral("Config/Type")).toInt(), 3);
            EXPECT_EQ(conf.value(QStringLiteral("Config/Version")).toInt(), 1);
        }
        SetProfileStore(nullptr);
        QFile::remove(strCompany);
    }
}

TEST_F(SettingsRunMode, ASecondHubBringsTheFirstForwardAndEnds)
{
    const QString strName = QStringLiteral("vexlor-once");
    // A socket file left behind by a hub that crashed does not stop the next one.
    {
        QLocalServer server;
        ASSERT_TRUE(server.listen(SettingsServerName(Conf(strName))));
        const QString strPath = server.fullServerName();
        server.close();
        QFile stale(strPath);
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    }
    QWidget other;
    other.show();
    SettingsApp first(strName);
    bool bFirstShown = false, bSecondHub = false;
    // Should the second open a hub of its own, it is closed, not waited for.
    QTimer closer;
    closer.setSingleShot(true);
    WhenModalShows([&](QWidget *pHub) {
        bFirstShown = true;
        other.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
        QObject::connect(&closer, &QTimer::timeout, [pHub, &bSecondHub] {
            for (QWidget *p : QApplication::topLevelWidgets()) {
                if (p != pHub && dynamic_cast<CSettingsDlg *>(p) && p->isVisible()) {
                    bSecondHub = true;
                    p->close();
                }
            }
        });
        closer.start(300);
        SettingsApp second(strName);
        EXPECT_FALSE(second.InitInstance());
        EXPECT_EQ(second.ExitCode(), 0);
        EXPECT_FALSE(bSecondHub);
        EXPECT_TRUE(QTest::qWaitForWindowActive(pHub));
        ::Click(pHub, "closeButton");
    });
    EXPECT_FALSE(first.InitInstance());
    EXPECT_TRUE(bFirstShown);
    EXPECT_EQ(first.ExitCode(), 0);
}
