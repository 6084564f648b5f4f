#include "app/CSaverWnd.h"

#include "audio/input/ScriptedWaveInDriver.h"
#include "platform/ProfileStore.h"
#include "settings/SettingValues.h"
#include "settings/Settings.h"

#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {

int g_nEndProcessCalls = 0;

// A saver on a scripted input whose end of process is only counted; the
// offscreen screen is 800 x 800, the graph 545 x 151.
struct TestSaver : CSaverWnd
{
    TestSaver() : CSaverWnd(g_DisplaySettings, true)
    {
        ResetSettings();
        g_DisplaySettings.SaverMode = 1; // moving
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

using enum CSpectrumWnd::TimerId;
using Planted = std::vector<std::pair<const char *, qint64>>;

// The defaults with every display option on (waveform, afterimage, clock, labels), the display
// type and the planted values, through the store; then a window on them that starts, draws
// two seconds of a loud square wave and loses its stream (the big clock).
void RunWith(CSpectrumWnd &wnd, const Planted &values, int nType, const QString &strPicture,
             const std::string &strCase)
{
    auto pStore = std::make_unique<MemoryProfileStore>();
    Planted all = {
        {"Version", 1}, {"Type", nType}, {"FwaveDisp", 1}, {"FclockDisp", 1}, {"FwaveZan", 2}};
    all.insert(all.end(), values.begin(), values.end());
    for (const auto &[pszKey, nValue] : all)
        pStore->SetRaw("Config", pszKey, nValue);
    pStore->SetRaw("Config", "BmpName", strPicture);
    SetProfileStore(std::move(pStore));
    LoadSettings();
    SetProfileStore(nullptr);
    g_bPreview = g_bSettingsChanged = 0;
    auto *pDriver = new ScriptedWaveInDriver; // owned by the window's engine
    wnd.SetWaveInDriver(std::unique_ptr<IWaveInDriver>(pDriver));
    wnd.CreateSpectrumWindow(RECT{0, 0, 400, 200}, nullptr);
    wnd.SetArea(RECT{0, 0, 400, 200});
    for (const int nId : {TIMER_START, TIMER_OPEN, TIMER_FIRSTFRAME})
        wnd.OnTimer(nId);
    ASSERT_EQ(wnd.State(), CSpectrumWnd::DS_SPECTRUM) << strCase;
    std::vector<int16_t> samples(pDriver->m_format.nSamplesPerSec / 10); // 50 ms, both channels
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = (i / 128) % 2 ? 12000 : -12000;
    for (int i = 0; i < 48; ++i) {
        if (i == 40)
            pDriver->FailStream();
        if (i < 40)
            pDriver->Record(samples.data(), samples.size() * 2);
        wnd.OnTimer(i % 20 == 19 ? TIMER_WATCHDOG : TIMER_FRAME);
    }
    ASSERT_EQ(wnd.State(), CSpectrumWnd::DS_DEVICEERROR) << strCase;
    wnd.InvalidateErase();
}

} // namespace

TEST(CSaverWnd, TheGraphIsCentredLeavingFifteenPixelsAndMovesToOneOfSixteenPlaces)
{
    EXPECT_EQ(CSaverWnd::SaverGraphRect(1024, 768, 545, 151), (RECT{239, 308, 784, 459}));
    EXPECT_EQ(CSaverWnd::SaverGraphRect(1024, 768, 100000, 100000), (RECT{15, 15, 1009, 753}));
    // Negative sizes are kept.
    EXPECT_EQ(CSaverWnd::SaverGraphRect(1024, 768, -100, -1), (RECT{562, 384, 462, 383}));
    // Tick & 3 values summed for the left, the next for the top: 1000 and 617 free, in 17ths.
    // clang-format off
    const std::tuple<uint32_t, std::vector<int>, RECT, size_t> cases[] = {
        {2, {7, 8, 0}, {941, 36, 965, 187}, 3},       {0, {15}, {58, 580, 82, 731}, 1},
        {7, {1, 2, 3, 31}, {411, 580, 435, 731}, 4},  {0x101, {32767, 16}, {941, 36, 965, 187}, 2},
        {3, {INT_MAX, INT_MAX, INT_MAX, 0}, {823, 36, 847, 187}, 4}, // a sum past INT_MAX
        {3, {1, 2, 3, 4}, {-10, 0, 1030, 100}, 0}, // wider than the screen: it stays
    };
    // clang-format on
    for (const auto &[nTick, values, rcExpected, nDraws] : cases) {
        size_t nUsed = 0;
        const auto draw = [&, &v = values] { return nUsed < v.size() ? v[nUsed++] : 0; };
        RECT rc = nDraws ? RECT{500, 300, 524, 451} : RECT{-10, 0, 1030, 100};
        EXPECT_EQ(CSaverWnd::MovedGraphRect({0, 0, 1024, 768}, &rc, nTick, draw), nDraws != 0);
        EXPECT_EQ(std::pair(rc, nUsed), std::pair(rcExpected, nDraws)) << nTick;
    }
}

TEST(CSaverWnd, InputClosesTheSaverButNotAHostedOne)
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
        ASSERT_EQ(pWnd->CreateSaverWindow(), 1); // over the whole screen, the pointer hidden
        EXPECT_EQ(std::tuple(pWnd->geometry(), pWnd->cursor().shape(),
                             pWnd->IsTimerActive(CSaverWnd::TIMER_MOVE)),
                  std::tuple(QRect(0, 0, 800, 800), Qt::BlankCursor, true));
        closers[i](pWnd.data());
        EXPECT_TRUE(Closes(pWnd)) << i;
        EXPECT_EQ(g_nEndProcessCalls, 1) << i;
        delete pWnd;
    }
    // A hosted saver ignores input; an inverted graph shows nothing at the host's middle.
    QPointer<TestSaver> pWnd = new TestSaver;
    g_DisplaySettings.SaverSizeX = -100;
    ASSERT_EQ(pWnd->CreateHostedSaverWindow(400, 300), 1);
    for (const QPoint pt : {QPoint(10, 10), QPoint(20, 20)})
        QTest::mouseMove(pWnd.data(), pt);
    QTest::keyClick(pWnd.data(), Qt::Key_Escape);
    EXPECT_FALSE(Closes(pWnd));
    EXPECT_EQ(pWnd->Area(), (RECT{200, 150, 200, 150}));
    delete pWnd;
}

// Settings as a damaged or hand-edited store may hold them run in every display type.
TEST(DamagedSettings, RunInEveryDisplayType)
{
    QTemporaryDir dir;
    QImage picture(32, 16, QImage::Format_RGB32);
    picture.fill(qRgb(100, 50, 200));
    ASSERT_TRUE(picture.save(dir.filePath("picture.bmp"), "BMP"));
    // clang-format off
    const std::vector<Planted> damages = {
        {{"Fdiv", 0}}, {{"Fdiv", -5}}, {{"Fdiv", 100000}}, {{"KeyDiv", 0}}, {{"Ldiv", 7}},
        {{"Lmin", -20}, {"Lmax", -70}}, {{"Lmin", INT_MAX}, {"Lmax", INT_MIN}}, {{"FontHeight", 0}}, {{"FontHeight", INT_MIN}},
        {{"BaseKey", 0}}, {{"BaseKey", -440}},
        // Top bytes set; the low three keep the frame and chips visible on the background.
        {{"Cframe", 0xFFFFFFFF}, {"Coutline", 0xFF808080}, {"Cpeekchip", 0x8000FFFF}, {"Cbackground", 0xFF000000}, {"Cchip1", 0x01FFFF00}, {"Cchip2", 0xFFFF80FF}, {"Cwline", 0xFFC080FF}},
        {{"AreaLeft", 1000}, {"AreaRight", 900}, {"AreaTop", 500}, {"AreaBottom", 400}}, // beyond the picture
        {{"AreaLeft", INT_MAX}, {"AreaRight", INT_MAX}, {"AreaTop", INT_MAX}, {"AreaBottom", INT_MAX}},
    };
    // clang-format on
    for (size_t d = 0; d < damages.size(); ++d) {
        for (int nType = 0; nType <= 4; ++nType) {
            const std::string strCase =
                "damage " + std::to_string(d) + ", Type " + std::to_string(nType);
            const bool bPicture = damages[d][0].first == std::string("AreaLeft");
            CSpectrumWnd wnd{g_DisplaySettings};
            ASSERT_NO_FATAL_FAILURE(RunWith(wnd, damages[d], nType,
                                            bPicture ? dir.filePath("picture.bmp") : QString(),
                                            strCase));
            EXPECT_EQ(wnd.HasBackgroundImage(), bPicture) << strCase;
            EXPECT_TRUE(wnd.ElementCount() >= 1 && wnd.ElementCount() <= 80) << strCase;
            RECT g = wnd.GraphRect();
            g.Normalize();
            EXPECT_TRUE(g.left >= 0 && g.right <= 400 && g.top >= 0 && g.bottom <= 200) << strCase;
            const COLORREF c = COLORREF(g_DisplaySettings.Cbackground);
            QImage blank(wnd.BackingImage().size(), wnd.BackingImage().format());
            blank.fill(QColor(GetRValue(c), GetGValue(c), GetBValue(c)));
            EXPECT_NE(wnd.BackingImage(), blank) << strCase;
        }
    }
    ResetSettings();
}
