#include "app/CSaverSet.h"
#include "app/CSaverWnd.h"

#include "audio/input/ScriptedWaveInDriver.h"
#include "settings/Settings.h"

#include <QPointer>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

namespace {

int g_nEndProcessCalls = 0;

// A moving saver whose end of process is only counted; the offscreen screen is 800 x 800.
struct TestSaver : CSaverWnd
{
    TestSaver() : CSaverWnd(g_DisplaySettings, true)
    {
        ResetSettings();
        g_DisplaySettings.SaverMode = 1;
        g_bPreview = g_bSettingsChanged = g_nEndProcessCalls = 0;
        SetWaveInDriver(std::make_unique<ScriptedWaveInDriver>());
    }
    void EndProcess() override { ++g_nEndProcessCalls; }
};

// Lets a posted close run; true when the window closed (and deleted itself).
bool Closes(QPointer<TestSaver> &pWnd)
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return pWnd.isNull();
}

} // namespace

TEST(CSaverWnd, InputClosesTheSaver)
{
    const std::vector<std::function<void(TestSaver *)>> closers = {
        [](TestSaver *p) { QTest::keyPress(p, Qt::Key_Shift); }, // a lone modifier too
        [](TestSaver *p) { QTest::mousePress(p, Qt::RightButton, {}, QPoint(5, 5)); },
        [](TestSaver *p) { // the first move is only the anchor; one to the same place is none
            QTest::mouseMove(p, QPoint(100, 80));
            QTest::mouseMove(p, QPoint(100, 80));
            QCoreApplication::processEvents();
            EXPECT_EQ(std::tuple(g_nEndProcessCalls, p->m_nAnchorX, p->m_nAnchorY),
                      std::tuple(0, 100, 80));
            QTest::mouseMove(p, QPoint(100, 81));
        },
    };
    for (size_t i = 0; i < closers.size(); ++i) {
        QPointer<TestSaver> pWnd = new TestSaver;
        ASSERT_EQ(pWnd->CreateSaverWindow(), 1); // the whole screen, the graph centred, no pointer
        EXPECT_EQ(
            std::tuple(pWnd->geometry(), pWnd->m_rcGraph, pWnd->cursor().shape(),
                       pWnd->IsTimerActive(CSaverWnd::TIMER_MOVE)),
            std::tuple(QRect(0, 0, 800, 800), RECT{127, 324, 672, 475}, Qt::BlankCursor, true));
        closers[i](pWnd.data());
        EXPECT_EQ(std::pair(Closes(pWnd), g_nEndProcessCalls), std::pair(true, 1)) << i;
        delete pWnd;
    }
}

// The saver's graph is centred, and no larger than the screen less 15 pixels a side.
TEST(CSaverWnd, GraphIsCentredAndFitsTheScreen)
{
    EXPECT_EQ(CSaverWnd::SaverGraphRect(1920, 1080, 545, 151), (RECT{687, 464, 1232, 615}));
    EXPECT_EQ(CSaverWnd::SaverGraphRect(1000, 500, 2000, 2000), (RECT{15, 15, 985, 485}));
}

// A host window over several monitors gets one pane per monitor, in its own logical pixels.
TEST(CSaverSet, AWindowOverSeveralMonitorsHasAPaneOnEach)
{
    const std::vector<QRect> sideBySide = {QRect(0, 0, 1280, 800), QRect(1280, 0, 1024, 768)};
    // clang-format off
    struct Case { QRect rcWindow; std::vector<QRect> monitors; double dRatio; std::vector<QRect> panes; };
    const Case cases[] = { // the root, at ratios 1, 2 and 1.5 (the seam at 853.3 is 853 for both)
        {QRect(0, 0, 2304, 800), sideBySide, 1.0, {QRect(0, 0, 1280, 800), QRect(1280, 0, 1024, 768)}},
        {QRect(0, 0, 2304, 800), sideBySide, 2.0, {QRect(0, 0, 640, 400), QRect(640, 0, 512, 384)}},
        {QRect(0, 0, 2304, 800), sideBySide, 1.5, {QRect(0, 0, 853, 533), QRect(853, 0, 683, 512)}},
        {QRect(1000, 100, 600, 400), sideBySide, 1.0, {QRect(0, 0, 280, 400), QRect(280, 0, 320, 400)}}, // across
        {QRect(50, 50, 400, 300), sideBySide, 1.0, {}}, // one monitor, or two mirrored: no panes
        {QRect(0, 0, 1280, 800), {QRect(0, 0, 1280, 800), QRect(0, 0, 1280, 800)}, 1.0, {}},
    };
    // clang-format on
    for (const Case &c : cases)
        EXPECT_EQ(CSaverSet::MonitorPanes(c.rcWindow, c.monitors, c.dRatio), c.panes)
            << c.rcWindow.x() << " " << c.dRatio;
}
