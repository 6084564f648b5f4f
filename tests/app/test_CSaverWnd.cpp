#include "app/CSaverWnd.h"
#include "app/CommandLine.h"
#include "settings/Settings.h"
#include "audio/input/ScriptedWaveInDriver.h"

#include <QCloseEvent>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <QtTest/qtestspontaneevent.h>

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {

int g_nEndProcessCalls = 0;

// A saver on a scripted sound input whose end of process is only counted.
class TestSaver : public CSaverWnd
{
public:
    explicit TestSaver(int bAutoDelete = 1) : CSaverWnd(g_DisplaySettings, bAutoDelete != 0)
    {
        SetWaveInDriver(std::make_unique<ScriptedWaveInDriver>());
    }

protected:
    void EndProcess() override { ++g_nEndProcessCalls; }
};

void ResetGlobals(int nSaverMode = 1, int nSizeX = 545, int nSizeY = 151)
{
    ResetSettings();
    g_DisplaySettings.SaverMode = nSaverMode;
    g_DisplaySettings.SaverSizeX = nSizeX;
    g_DisplaySettings.SaverSizeY = nSizeY;
    g_bPreview = g_bSettingsChanged = 0;
    g_nEndProcessCalls = 0;
}

// A random source that hands out the given values and counts the draws.
struct Draws
{
    std::vector<int> values;
    size_t nUsed = 0;
    std::function<int()> Source()
    {
        return [this] { return nUsed < values.size() ? values[nUsed++] : 0; };
    }
};

// Lets a posted close run; true when the window closed (and deleted itself).
bool Closes(QPointer<TestSaver> &pWnd)
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return pWnd.isNull();
}

QPointer<TestSaver> NewSaver()
{
    ResetGlobals();
    auto *pWnd = new TestSaver;
    EXPECT_EQ(pWnd->CreateSaverWindow(), 1);
    return pWnd;
}

} // namespace

TEST(CSaverWndGraph, CentredAndShrunkToLeaveFifteenPixels)
{
    EXPECT_EQ(CSaverWnd::SaverGraphRect(1024, 768, 545, 151), (RECT{239, 308, 784, 459}));
    EXPECT_EQ(CSaverWnd::SaverGraphRect(640, 480, 800, 600), (RECT{15, 15, 625, 465}));
    EXPECT_EQ(CSaverWnd::SaverGraphRect(1024, 768, 100000, 100000), (RECT{15, 15, 1009, 753}));
    EXPECT_EQ(CSaverWnd::SaverGraphRect(1024, 768, 0, 0), (RECT{512, 384, 512, 384}));
    // Negative sizes are not corrected; even INT_MIN gives coordinates in range.
    EXPECT_EQ(CSaverWnd::SaverGraphRect(1024, 768, -100, -1), (RECT{562, 384, 462, 383}));
    EXPECT_EQ(CSaverWnd::SaverGraphRect(1024, 768, INT_MIN, 151),
              (RECT{1073742336, 308, -1073741312, 459}));
}

TEST(CSaverWndGraph, RandomMoveTakesOneOfSixteenPlaces)
{
    const RECT rcScreen{0, 0, 1024, 768};
    // W - gw = 1000, H - gh = 617.
    struct Case
    {
        uint32_t dwTick;
        std::vector<int> values;
        RECT rcExpected;
        size_t nDraws;
    };
    const std::vector<Case> cases = {
        {2, {7, 8, 0}, {941, 36, 965, 187}, 3},       // k1 = 16, k2 = 1
        {0, {15}, {58, 580, 82, 731}, 1},             // nothing discarded: k1 = 1
        {7, {1, 2, 3, 31}, {411, 580, 435, 731}, 4},  // only tick & 3 counts
        {0x101, {32767, 16}, {941, 36, 965, 187}, 2}, // only the sum's low bits count
        {3, {INT_MAX, INT_MAX, INT_MAX, 0}, {823, 36, 847, 187}, 4}, // a sum past INT_MAX
    };
    for (const Case &c : cases) {
        Draws draws{c.values};
        RECT rc{500, 300, 524, 451};
        EXPECT_TRUE(CSaverWnd::MovedGraphRect(rcScreen, &rc, c.dwTick, draws.Source()));
        EXPECT_EQ(rc, c.rcExpected) << c.dwTick;
        EXPECT_EQ(draws.nUsed, c.nDraws) << c.dwTick;
    }
    // A graph wider than the screen stays where it is and draws nothing.
    Draws draws{{1, 2, 3, 4}};
    RECT rc{-10, 0, 1030, 100};
    EXPECT_FALSE(CSaverWnd::MovedGraphRect(rcScreen, &rc, 3, draws.Source()));
    EXPECT_EQ(rc, (RECT{-10, 0, 1030, 100}));
    EXPECT_EQ(draws.nUsed, 0u);
}

TEST(CSaverWndWindow, CoversThePrimaryScreenTopmostWithoutPointer)
{
    const QRect rcScreen = QGuiApplication::primaryScreen()->geometry();
    ASSERT_EQ(rcScreen.size(), QSize(800, 800)); // the offscreen platform's screen
    QPointer<TestSaver> pWnd = NewSaver();
    EXPECT_EQ(pWnd->geometry(), rcScreen);
    EXPECT_TRUE(pWnd->isVisible());
    EXPECT_TRUE(pWnd->windowFlags().testFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint));
    EXPECT_EQ(pWnd->cursor().shape(), Qt::BlankCursor);
    EXPECT_EQ(pWnd->m_rcScreen, (RECT{0, 0, 800, 800}));
    EXPECT_EQ(pWnd->m_rcGraph, (RECT{127, 324, 672, 475}));
    EXPECT_EQ(pWnd->Area(), pWnd->m_rcGraph);
    EXPECT_EQ(pWnd->m_nAnchorX, -1);
    EXPECT_EQ(pWnd->m_nAnchorY, -1);
    delete pWnd;
}

TEST(CSaverWndWindow, MoveTimerOnlyWithBitZeroOfSaverMode)
{
    for (const int nMode : {0, 1, 2, 3}) {
        ResetGlobals(nMode);
        TestSaver wnd(0);
        ASSERT_EQ(wnd.CreateSaverWindow(), 1);
        EXPECT_EQ(wnd.IsTimerActive(CSaverWnd::TIMER_MOVE), (nMode & 1) != 0) << nMode;
        EXPECT_TRUE(wnd.IsTimerActive(CSpectrumWnd::TIMER_START)) << nMode;
    }
}

TEST(CSaverWndWindow, TimerMoveMovesTheAreaAndOtherIdsGoToTheSpectrumWindow)
{
    ResetGlobals(1, 545, 151);
    TestSaver wnd(0);
    ASSERT_EQ(wnd.CreateSaverWindow(), 1);
    Draws draws{{7, 8, 0}};
    wnd.m_fnRand = draws.Source();
    wnd.m_fnTickCount = [] { return uint32_t(2); };
    g_bSettingsChanged = 0;
    wnd.OnTimer(CSaverWnd::TIMER_MOVE);
    // 800 - 545 = 255 free: 255 * 16 / 17 = 240; 800 - 151 = 649: 649 / 17 = 38.
    EXPECT_EQ(wnd.m_rcGraph, (RECT{240, 38, 785, 189}));
    EXPECT_EQ(wnd.Area(), wnd.m_rcGraph);
    EXPECT_EQ(g_bSettingsChanged, 1); // the move did not run the frame-timer handling
    wnd.OnTimer(CSpectrumWnd::TIMER_WATCHDOG);
    EXPECT_EQ(g_bSettingsChanged, 0); // which restarts on any of its own ids
}

TEST(CSaverWndInput, FirstMoveIsTheAnchorOnlyAMoveAwayCloses)
{
    QPointer<TestSaver> pWnd = NewSaver();
    QTest::mouseMove(pWnd.data(), QPoint(100, 80));
    EXPECT_FALSE(Closes(pWnd));
    EXPECT_EQ(pWnd->m_nAnchorX, 100);
    EXPECT_EQ(pWnd->m_nAnchorY, 80);
    QTest::mouseMove(pWnd.data(), QPoint(100, 80));
    EXPECT_FALSE(Closes(pWnd));
    QTest::mouseMove(pWnd.data(), QPoint(100, 81));
    EXPECT_TRUE(Closes(pWnd));
    EXPECT_EQ(g_nEndProcessCalls, 1);
}

TEST(CSaverWndInput, KeysButtonsAndDeactivationClose)
{
    const std::vector<std::function<void(TestSaver *)>> closers = {
        [](TestSaver *p) { QTest::keyClick(p, Qt::Key_A); },
        [](TestSaver *p) { QTest::keyClick(p, Qt::Key_F4, Qt::AltModifier); },
        [](TestSaver *p) { QTest::keyPress(p, Qt::Key_Shift); },
        [](TestSaver *p) { QTest::mousePress(p, Qt::LeftButton, {}, QPoint(5, 5)); },
        [](TestSaver *p) { QTest::mousePress(p, Qt::MiddleButton, {}, QPoint(5, 5)); },
        [](TestSaver *p) { QTest::mousePress(p, Qt::RightButton, {}, QPoint(5, 5)); },
        [](TestSaver *p) {
            QEvent deactivate(QEvent::WindowDeactivate);
            QCoreApplication::sendEvent(p, &deactivate);
        },
    };
    for (size_t i = 0; i < closers.size(); ++i) {
        QPointer<TestSaver> pWnd = NewSaver();
        closers[i](pWnd.data());
        EXPECT_TRUE(Closes(pWnd)) << i;
        EXPECT_EQ(g_nEndProcessCalls, 1) << i;
        delete pWnd;
    }
}

TEST(CSaverWndInput, WindowManagerCloseIsRefused)
{
    QPointer<TestSaver> pWnd = NewSaver();
    QCloseEvent close;
    QSpontaneKeyEvent::setSpontaneous(&close);
    QCoreApplication::instance()->notify(pWnd.data(), &close); // sendEvent would clear the flag
    EXPECT_FALSE(close.isAccepted());
    EXPECT_FALSE(Closes(pWnd));
    EXPECT_TRUE(pWnd->isVisible());
    EXPECT_EQ(g_nEndProcessCalls, 0);
    delete pWnd;
}

TEST(CSaverWndInput, HostedWindowIgnoresInput)
{
    ResetGlobals();
    QPointer<TestSaver> pWnd = new TestSaver;
    ASSERT_EQ(pWnd->CreateHostedSaverWindow(400, 300), 1);
    pWnd->show();
    EXPECT_EQ(pWnd->m_rcGraph, (RECT{15, 74, 385, 225}));
    EXPECT_TRUE(pWnd->IsTimerActive(CSaverWnd::TIMER_MOVE));
    QTest::mouseMove(pWnd.data(), QPoint(10, 10));
    QTest::mouseMove(pWnd.data(), QPoint(20, 20));
    QTest::keyClick(pWnd.data(), Qt::Key_Escape);
    QTest::mousePress(pWnd.data(), Qt::LeftButton, {}, QPoint(5, 5));
    QEvent deactivate(QEvent::WindowDeactivate);
    QCoreApplication::sendEvent(pWnd.data(), &deactivate);
    EXPECT_FALSE(Closes(pWnd));
    pWnd->SetScreenSize(200, 100); // the host shrank
    EXPECT_EQ(pWnd->m_rcGraph, (RECT{15, 15, 185, 85}));
    EXPECT_EQ(pWnd->Area(), pWnd->m_rcGraph);
    delete pWnd;
}

TEST(CSaverWndDamage, DamagedSizesNeitherCrashNorHang)
{
    const std::vector<std::pair<int, int>> sizes = {
        {0, 0}, {-40, -20}, {100000, 100000}, {INT_MIN, INT_MAX}, {INT_MAX, INT_MIN}, {1, -1}};
    for (const auto &[nSizeX, nSizeY] : sizes) {
        ResetGlobals(1, nSizeX, nSizeY);
        TestSaver wnd(0);
        ASSERT_EQ(wnd.CreateSaverWindow(), 1);
        // The whole start-up chain, frames, and moves with every tick parity.
        for (const int nId : {CSpectrumWnd::TIMER_START, CSpectrumWnd::TIMER_OPEN,
                              CSpectrumWnd::TIMER_FIRSTFRAME, CSpectrumWnd::TIMER_FRAME})
            wnd.OnTimer(nId);
        for (uint32_t dwTick = 0; dwTick < 4; ++dwTick) {
            wnd.m_fnTickCount = [dwTick] { return dwTick; };
            wnd.OnTimer(CSaverWnd::TIMER_MOVE);
            for (const int nId : {CSpectrumWnd::TIMER_START, CSpectrumWnd::TIMER_OPEN,
                                  CSpectrumWnd::TIMER_FIRSTFRAME, CSpectrumWnd::TIMER_FRAME})
                wnd.OnTimer(nId);
        }
        wnd.InvalidateErase();
        const QImage &img = wnd.BackingImage();
        ASSERT_EQ(img.size(), QSize(800, 800));
        if (nSizeX <= 0 || nSizeY <= 0) {
            // No graph: nothing but the background.
            EXPECT_TRUE(wnd.Area().Width() == 0 && wnd.Area().Height() == 0);
            int nDrawn = 0;
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x)
                    nDrawn += img.pixel(x, y) != qRgb(0, 0, 0);
            EXPECT_EQ(nDrawn, 0) << nSizeX << " x " << nSizeY;
        }
    }
}

TEST(XScreenSaverOptions, WindowIdsAndTheHostWindowChoice)
{
    quint64 nId = 0;
    EXPECT_TRUE(ReadWindowId(u"0x1a00003", &nId));
    EXPECT_EQ(nId, 0x1a00003u);
    EXPECT_TRUE(ReadWindowId(u"0XFF", &nId));
    EXPECT_EQ(nId, 255u);
    EXPECT_TRUE(ReadWindowId(u"27262979", &nId));
    EXPECT_EQ(nId, 27262979u);
    for (const char16_t *psz : {u"", u"0", u"0x", u"x12", u"12a", u"-5", u"0x100000000", u" 12"})
        EXPECT_FALSE(ReadWindowId(psz, &nId)) << QString::fromUtf16(psz).toStdString();

    ExtraOptions options;
    QString strError;
    QStringList args = {"/s", "-window-id", "0x2A", "-root", "-p"};
    ASSERT_TRUE(ParseExtraOptions(args, &options, &strError)) << strError.toStdString();
    EXPECT_EQ(args, (QStringList{"/s", "-p"}));
    EXPECT_TRUE(options.bRoot);
    EXPECT_EQ(options.nWindowId, 42u);
    QStringList bad = {"-window-id", "desk"};
    EXPECT_FALSE(ParseExtraOptions(bad, &options, &strError));
    EXPECT_TRUE(strError.contains("not a window id")) << strError.toStdString();

    auto choose = [](bool bRoot, quint64 nWindowId, QStringList rest, const QString &strEnv) {
        ExtraOptions o;
        o.bRoot = bRoot;
        o.nWindowId = nWindowId;
        const HostWindowChoice c = ChooseHostWindow(o, rest, strEnv);
        return c.bHosted ? qint64(c.nWindow) : -1; // -1: not hosted, 0: the root window
    };
    EXPECT_EQ(choose(true, 7, {}, "0x10"), 7);  // -window-id first
    EXPECT_EQ(choose(true, 0, {}, "0x10"), 16); // -root: XScreenSaver's window
    EXPECT_EQ(choose(true, 0, {}, ""), 0);      // -root alone: the root window
    EXPECT_EQ(choose(true, 0, {}, "junk"), 0);
    EXPECT_EQ(choose(false, 0, {}, " 0x10\n"), 16);  // started by XScreenSaver, no argument
    EXPECT_EQ(choose(false, 0, {"/c"}, "0x10"), -1); // the host switches keep their meaning
    EXPECT_EQ(choose(false, 0, {"/s"}, "0x10"), -1);
    EXPECT_EQ(choose(false, 0, {}, ""), -1);
}
