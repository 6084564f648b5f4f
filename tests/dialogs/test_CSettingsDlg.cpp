#include "app/CSpectrumApp.h"
#include "audio/input/ScriptedWaveInDriver.h"
#include "dialogs/CSaverSetupDlg.h"
#include "dialogs/CSettingsDlg.h"
#include "dialogs/SettingsInstance.h"
#include "dialogs/TypePictures.h"
#include "display/CSpectrumWnd.h"
#include "display/DisplayFont.h"
#include "platform/ProfileStore.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

template <typename T = QAbstractButton> T *Find(QWidget *pDialog, const char *pszName)
{
    T *p = pDialog->findChild<T *>(QString::fromLatin1(pszName));
    EXPECT_NE(p, nullptr) << pszName;
    return p;
}

void Click(QWidget *pDialog, const char *pszName)
{
    if (QAbstractButton *p = Find(pDialog, pszName))
        QTest::mouseClick(p, Qt::LeftButton, {}, QPoint(6, p->height() / 2));
}

// Which of the frequency range, level range, colour and keyboard buttons
// are enabled, as four 0/1 digits.
std::string PageButtons(QWidget *pDialog)
{
    std::string str;
    for (const char *pszName :
         {"freqRangeButton", "levelRangeButton", "colorButton", "keyboardButton"})
        str += Find(pDialog, pszName)->isEnabled() ? '1' : '0';
    return str;
}

// Acts on the next modal dialog once it shows, from the event loop its exec runs.
void WhenModalShows(std::function<void(QWidget *)> fnAct)
{
    auto *pTimer = new QTimer(qApp);
    QObject::connect(pTimer, &QTimer::timeout, [pTimer, fnAct] {
        if (QWidget *pModal = QApplication::activeModalWidget()) {
            pTimer->deleteLater();
            pTimer->stop();
            fnAct(pModal);
        }
    });
    pTimer->start(10);
}

class SettingsDlgTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetSettings();
        g_bSettingsChanged = 0;
    }
    void TearDown() override
    {
        ResetPageChoosers();
        g_bSettingsChanged = 0;
    }
};

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
            EXPECT_EQ(Find(&dlg, apszTypes[i])->isChecked(), i == nType);
        EXPECT_EQ(PageButtons(&dlg), nType == 4 ? "0001" : "1110") << nType;
        for (const char *pszName :
             {"frameButton", "fontButton", "saverButton", "versionButton", "closeButton"})
            EXPECT_TRUE(Find(&dlg, pszName)->isEnabled()) << pszName;
    }

    g_DisplaySettings.Type = 0;
    g_DisplaySettings.BmpName = QStringLiteral("/pictures/sp.bmp");
    g_DisplaySettings.ImageList[1].bmpName = QStringLiteral("/pictures/older.bmp");
    const ImageEntry older = g_DisplaySettings.ImageList[1];
    CSettingsDlg dlg;
    dlg.show();
    Click(&dlg, "keyboardRadio"); // キーボード
    EXPECT_EQ(g_DisplaySettings.Type, 4);
    EXPECT_EQ(g_bSettingsChanged, 1);
    EXPECT_EQ(PageButtons(&dlg), "0001");
    // Slot 0 remembers the picture with the defaults and the new type: labels
    // on (bit 0), Ldiv 1 (bits 4-7), Fdiv 16 (bits 8-15), Type 4 (bits 16-19).
    const ImageEntry &first = g_DisplaySettings.ImageList[0];
    EXPECT_EQ(first.bmpName, QStringLiteral("/pictures/sp.bmp"));
    EXPECT_EQ(first.bmpTypeEtc, 1 | (1 << 4) | (16 << 8) | (4 << 16));
    EXPECT_EQ(first.bmpLeftRight, (123 << 16) | 114);
    EXPECT_EQ(g_DisplaySettings.ImageList[1], older); // stored without a shift

    g_bSettingsChanged = 0;
    Click(&dlg, "stereoTopBottomRadio"); // ステレオ上下
    EXPECT_EQ(g_DisplaySettings.Type, 3);
    EXPECT_EQ(g_bSettingsChanged, 1);
    EXPECT_EQ(PageButtons(&dlg), "1110");
    EXPECT_EQ(first.bmpTypeEtc >> 16, 3);

    for (int nExpected : {1, 0}) { // 録音点検索を行う
        g_bSettingsChanged = 0;
        Click(&dlg, "recSearchCheck");
        EXPECT_EQ(g_DisplaySettings.WaveRecMode, nExpected);
        EXPECT_EQ(g_bSettingsChanged, 1);
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
        EXPECT_EQ(Find<QLineEdit>(&dlg, "sizeXEdit")->text(), QStringLiteral("545"));
        EXPECT_EQ(Find(&dlg, "randomMoveCheck")->isChecked(), (c.nMode & 1) != 0);
        if (c.bClickCheck)
            Click(&dlg, "randomMoveCheck");
        Find<QLineEdit>(&dlg, "sizeXEdit")->setText(QString::fromLatin1(c.pszX));
        Find<QLineEdit>(&dlg, "sizeYEdit")->setText(QString::fromLatin1(c.pszY));
        Click(&dlg, "okButton");
        EXPECT_EQ(dlg.isVisible(), !c.bAccepted) << c.pszX << ' ' << c.pszY;
        EXPECT_EQ(strMessage, c.bAccepted ? QString() : QStringLiteral("整数を入力してください。"));
        EXPECT_EQ(g_DisplaySettings.SaverMode, c.nModeAfter) << c.pszX;
        EXPECT_EQ(g_DisplaySettings.SaverSizeX, c.nX);
        EXPECT_EQ(g_DisplaySettings.SaverSizeY, c.nY);
        EXPECT_EQ(g_bSettingsChanged, 0);
    }
}

TEST_F(SettingsDlgTest, FontChooserResultIsStoredAsTheFontDescription)
{
    CSettingsDlg dlg;
    dlg.show();
    const double dDpi = dlg.logicalDpiY();
    // A face other than the one standing in for the stored face.
    QString strFamily;
    for (const QString &str : QFontDatabase::families())
        if (strFamily.isEmpty() &&
            str != InstalledJapaneseFamily(QStringLiteral("ＭＳ Ｐゴシック")))
            strFamily = str;
    FontChoice seen, chosen;
    chosen.font.setFamily(strFamily);
    chosen.font.setPointSize(14);
    chosen.font.setWeight(QFont::Bold);
    chosen.font.setItalic(true);
    chosen.color = QColor(10, 20, 30);
    bool bCancel = true;
    Choosers().chooseFont = [&](const FontChoice &initial, QWidget *) -> std::optional<FontChoice> {
        seen = initial;
        return bCancel ? std::nullopt : std::optional<FontChoice>(chosen);
    };

    const DisplaySettings before = g_DisplaySettings;
    Click(&dlg, "fontButton");
    EXPECT_EQ(g_DisplaySettings, before); // cancelled: nothing changes
    EXPECT_EQ(g_bSettingsChanged, 0);
    // The preset: 11 pixels as points at the screen's resolution, cyan.
    EXPECT_NEAR(seen.font.pointSizeF(), 11 * 72.0 / dDpi, 0.01);
    EXPECT_EQ(seen.font.weight(), QFont::Normal);
    EXPECT_EQ(seen.color, QColor(0, 255, 255));

    bCancel = false;
    Click(&dlg, "fontButton");
    const LogFont &lf = g_DisplaySettings.Font;
    EXPECT_EQ(lf.lfHeight, -int(std::lround(14 * dDpi / 72)));
    EXPECT_EQ(lf.lfWeight, 700);
    EXPECT_EQ(lf.lfItalic, 1);
    EXPECT_EQ(lf.lfUnderline, 0);
    EXPECT_EQ(FaceNameText(lf.lfFaceName), strFamily);
    EXPECT_EQ(lf.lfCharSet, 128); // what the chooser does not choose stays
    EXPECT_EQ(g_DisplaySettings.FontColor, 0x1E140A);
    EXPECT_EQ(g_bSettingsChanged, 1);

    chosen.font.setPixelSize(20); // a pixel-sized choice is stored as those pixels
    Click(&dlg, "fontButton");
    EXPECT_EQ(lf.lfHeight, -20);
    // The preset chosen as it stands keeps the stored height.
    g_DisplaySettings.Font.lfHeight = -11;
    Choosers().chooseFont = [](const FontChoice &initial, QWidget *) {
        return std::optional<FontChoice>(initial);
    };
    Click(&dlg, "fontButton");
    EXPECT_EQ(lf.lfHeight, -11);
}

TEST_F(SettingsDlgTest, VersionBoxFromTheButtonAndTheWindowMenu)
{
    CSettingsDlg dlg;
    dlg.show();
    QMenu menu;
    EXPECT_EQ(dlg.AppendAboutItem(&menu, QString()), nullptr); // empty text 101: no item
    EXPECT_TRUE(menu.isEmpty());
    QAction *pItem = dlg.AppendAboutItem(&menu, kAboutItemText);
    ASSERT_NE(pItem, nullptr);
    EXPECT_EQ(pItem->text(), QStringLiteral("Vexlor のﾊﾞｰｼﾞｮﾝ情報(&A)..."));

    int nShown = 0;
    const auto closeVersionBox = [&nShown](QWidget *pModal) {
        ++nShown;
        EXPECT_EQ(pModal->windowTitle(), QStringLiteral("Vexlorのﾊﾞｰｼﾞｮﾝ情報"));
        QStringList texts;
        for (const QLabel *pLabel : pModal->findChildren<QLabel *>())
            texts << pLabel->text();
        EXPECT_TRUE(texts.contains(QStringLiteral("Vexlor\u3000Version 2.0")));
        Click(pModal, "okButton");
    };
    WhenModalShows(closeVersionBox);
    Click(&dlg, "versionButton");
    WhenModalShows(closeVersionBox);
    pItem->trigger();
    EXPECT_EQ(nShown, 2);
}

TEST_F(SettingsDlgTest, PicturesComeFromTheDisplayAndLeaveTheSettingsAlone)
{
    g_DisplaySettings.Type = 2;
    g_DisplaySettings.BmpName = QStringLiteral("mine.bmp");
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

TEST(SettingsRunMode, SavesOnlyOnTheCloseButton)
{
    struct App : CSpectrumApp
    {
        App() : CSpectrumApp({}, QStringLiteral("vexlor")) {}
        mutable std::unique_ptr<MemoryProfileStore> pStore = std::make_unique<MemoryProfileStore>();
        MemoryProfileStore *pRaw = pStore.get();
        std::unique_ptr<IProfileStore> CreateProfileStore() const override
        {
            return std::move(pStore);
        }
    };
    const std::function<void(QWidget *)> endings[] = {
        [](QWidget *p) { Click(p, "closeButton"); },
        [](QWidget *p) { QTest::keyClick(p, Qt::Key_Escape); },
        [](QWidget *p) { p->close(); }, // the title-bar close
    };
    for (int i = 0; i < 3; ++i) {
        App app;
        WhenModalShows([&](QWidget *pHub) {
            Click(pHub, "stereoTopBottomRadio");
            endings[i](pHub);
        });
        EXPECT_FALSE(app.InitInstance());
        EXPECT_EQ(g_DisplaySettings.Type, 3);
        EXPECT_EQ(app.pRaw->WriteLog().size(), i == 0 ? 72 : 0) << i;
        EXPECT_EQ(app.pRaw->FlushCount(), i == 0 ? 1 : 0);
        if (i == 0) {
            EXPECT_EQ(app.pRaw->Raw("Config", "Type"), QVariant(3u));
            EXPECT_EQ(app.pRaw->Raw("Config", "Version"), QVariant(1u));
        }
        SetProfileStore(nullptr);
    }
    g_bSettingsChanged = 0;
}

namespace {

// Sets the text of an edit box of a page as a user would: select all, type.
void TypeInto(QWidget *pDialog, const char *pszName, const QString &strText)
{
    if (auto *pEdit = Find<QLineEdit>(pDialog, pszName)) {
        pEdit->selectAll();
        QTest::keyClicks(pEdit, strText);
    }
}

// Clicks pszButton on the hub and, once its page shows, runs fnAct on the page.
void OnPage(CSettingsDlg &hub, const char *pszButton, std::function<void(QWidget *)> fnAct)
{
    bool bShown = false;
    WhenModalShows([&](QWidget *pPage) {
        bShown = true;
        fnAct(pPage);
    });
    Click(&hub, pszButton);
    EXPECT_TRUE(bShown) << pszButton;
}

} // namespace

TEST_F(SettingsDlgTest, PagesOpenFromTheHubAndCountAsTheyEnd)
{
    DisplaySettings &ds = g_DisplaySettings;
    ds.BmpName = QStringLiteral("/pictures/sp.bmp");
    CSettingsDlg hub;
    hub.show();

    // Frequency range: copies taken back only on OK, then remembered with the picture.
    OnPage(hub, "freqRangeButton", [](QWidget *p) {
        TypeInto(p, "bandCountEdit", QStringLiteral("30"));
        Click(p, "range10kRadio"); // 100～10KHz
        Click(p, "okButton");
    });
    EXPECT_EQ(ds.Fdiv, 30);
    EXPECT_EQ(ds.Frange, 1);
    EXPECT_EQ((ds.ImageList[0].bmpTypeEtc >> 8) & 0xFF, 30);
    EXPECT_EQ(g_bSettingsChanged, 1);
    g_bSettingsChanged = 0;
    OnPage(hub, "freqRangeButton", [](QWidget *p) {
        TypeInto(p, "bandCountEdit", QStringLiteral("5"));
        Click(p, "cancelButton");
    });
    EXPECT_EQ(ds.Fdiv, 30);
    EXPECT_EQ(g_bSettingsChanged, 0);

    // Level range: live edits; OK remembers the new resolution with the picture.
    OnPage(hub, "levelRangeButton", [](QWidget *p) {
        Click(p, "coarseRadio"); // 荒い
        Click(p, "okButton");
    });
    EXPECT_EQ(ds.Ldiv, 2);
    EXPECT_EQ((ds.ImageList[0].bmpTypeEtc >> 4) & 0xF, 2);

    // Frame: Cancel puts everything back and leaves the remembered pictures
    // alone, yet the display is still told to start over.
    const DisplaySettings before = ds;
    g_bSettingsChanged = 0;
    OnPage(hub, "frameButton", [](QWidget *p) {
        Click(p, "clockCheck"); // 時計表示
        Click(p, "cancelButton");
    });
    EXPECT_EQ(ds, before);
    EXPECT_EQ(g_bSettingsChanged, 1);

    // Colour: the page is the one titled 配色; its Cancel changes nothing.
    OnPage(hub, "colorButton", [](QWidget *p) {
        EXPECT_EQ(p->windowTitle(), QStringLiteral("配色"));
        Click(p, "cancelButton");
    });
    EXPECT_EQ(ds, before);

    // Keyboard: no undo, so a white-key click survives Cancel.
    Click(&hub, "keyboardRadio");
    OnPage(hub, "keyboardButton", [](QWidget *p) {
        Click(p, "whiteKeys32Radio"); // 32
        Click(p, "cancelButton");
    });
    EXPECT_EQ(ds.KeyDiv, 32);
}

TEST_F(SettingsDlgTest, ARunningDisplayTakesWhatAPageChanged)
{
    ResetSettings();
    g_Version = 1;
    g_bPreview = 0;
    auto *pDriver = new ScriptedWaveInDriver; // owned by the window's device
    CSpectrumWnd wnd;
    wnd.SetWaveInDriver(std::unique_ptr<IWaveInDriver>(pDriver));
    const RECT rc{0, 0, 800, 300};
    wnd.CreateSpectrumWindow(rc, nullptr);
    wnd.SetArea(rc);
    const auto elements = [&wnd] {
        int n = 0;
        for (CBandElement *p : wnd.m_pElements)
            n += p != nullptr;
        return n;
    };
    const auto startUp = [&wnd] {
        wnd.OnTimer(CSpectrumWnd::TIMER_FRAME);
        wnd.OnTimer(CSpectrumWnd::TIMER_OPEN);
        wnd.OnTimer(CSpectrumWnd::TIMER_FIRSTFRAME);
    };
    startUp();
    const int nBefore = elements();
    ASSERT_EQ(nBefore, g_DisplaySettings.Fdiv);

    CSettingsDlg hub;
    hub.show();
    OnPage(hub, "freqRangeButton", [](QWidget *p) {
        TypeInto(p, "bandCountEdit", QStringLiteral("40"));
        Click(p, "okButton");
    });
    ASSERT_EQ(g_bSettingsChanged, 1);
    // The next tick of the running window sees the flag and lays itself out again.
    startUp();
    EXPECT_EQ(g_bSettingsChanged, 0);
    EXPECT_EQ(elements(), 40);
    EXPECT_NE(nBefore, 40);
}

TEST_F(SettingsDlgTest, FontChooserOkWithoutChangesKeepsTheStoredFace)
{
    CSettingsDlg dlg;
    dlg.show();
    Choosers().chooseFont = [](const FontChoice &initial, QWidget *) {
        return std::optional<FontChoice>(initial);
    };
    const DisplaySettings before = g_DisplaySettings;
    Click(&dlg, "fontButton");
    EXPECT_EQ(FaceNameText(g_DisplaySettings.Font.lfFaceName), QStringLiteral("ＭＳ Ｐゴシック"));
    EXPECT_EQ(g_DisplaySettings, before);
}

TEST_F(SettingsDlgTest, MessageBoxesCarryTheProgramName)
{
    QString strTitle;
    WhenModalShows([&strTitle](QWidget *pBox) {
        strTitle = pBox->windowTitle();
        QTest::keyClick(pBox, Qt::Key_Escape);
    });
    Choosers().showMessage(nullptr, QStringLiteral("x"));
    EXPECT_EQ(strTitle, QStringLiteral("Vexlor"));
}

namespace {

// The settings run mode on a real settings file under a folder of the test's own.
struct FileApp : CSpectrumApp
{
    explicit FileApp(const QString &strName) : CSpectrumApp({"/c"}, strName) {}
};

} // namespace

TEST(SettingsRunMode, AFailedSaveIsShownAndEndsTheProcessWithOne)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    enum Obstacle
    {
        None,
        CompanyFolderIsAFile,
        FileIsAFolder
    };
    for (Obstacle eObstacle : {None, CompanyFolderIsAFile, FileIsAFolder}) {
        // A name of its own per case: QSettings keeps what it read per file.
        const QString strName = QStringLiteral("vexlor-save%1").arg(int(eObstacle));
        const QString strConf = dir.filePath(QStringLiteral("tanuwel/%1.conf").arg(strName));
        if (eObstacle == FileIsAFolder) {
            ASSERT_TRUE(QDir().mkpath(strConf));
        } else if (eObstacle == CompanyFolderIsAFile) {
            QDir(dir.filePath(QStringLiteral("tanuwel"))).removeRecursively();
            QFile file(dir.filePath(QStringLiteral("tanuwel")));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
        QString strMessage;
        Choosers().showMessage = [&strMessage](QWidget *, const QString &str) { strMessage = str; };
        FileApp app(strName);
        WhenModalShows([](QWidget *pHub) {
            Click(pHub, "stereoTopBottomRadio");
            Click(pHub, "closeButton");
        });
        EXPECT_FALSE(app.InitInstance());
        EXPECT_EQ(app.ExitCode(), eObstacle == None ? 0 : 1) << eObstacle;
        EXPECT_EQ(strMessage, eObstacle == None
                                  ? QString()
                                  : QStringLiteral("設定を保存できませんでした。\n") + strConf);
        EXPECT_EQ(QFileInfo(strConf).isFile(), eObstacle == None);
        SetProfileStore(nullptr);
        ResetPageChoosers();
        if (eObstacle == CompanyFolderIsAFile)
            QFile::remove(dir.filePath(QStringLiteral("tanuwel")));
    }
    g_bSettingsChanged = 0;
}

TEST(SettingsRunMode, ASecondHubBringsTheFirstForwardAndEnds)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    const QString strName = QStringLiteral("vexlor-once");
    // A socket file left behind by a hub that crashed does not stop the next one.
    {
        QLocalServer server;
        ASSERT_TRUE(server.listen(
            SettingsServerName(dir.filePath(QStringLiteral("tanuwel/%1.conf").arg(strName)))));
        const QString strPath = server.fullServerName();
        server.close();
        QFile stale(strPath);
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    }
    QWidget other;
    other.show();
    FileApp first(strName);
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
        FileApp second(strName);
        EXPECT_FALSE(second.InitInstance());
        EXPECT_EQ(second.ExitCode(), 0);
        EXPECT_FALSE(bSecondHub);
        EXPECT_TRUE(QTest::qWaitForWindowActive(pHub));
        Click(pHub, "closeButton");
    });
    EXPECT_FALSE(first.InitInstance());
    EXPECT_TRUE(bFirstShown);
    EXPECT_EQ(first.ExitCode(), 0);
    SetProfileStore(nullptr);
    g_bSettingsChanged = 0;
}
