#include "app/CSaverSet.h"
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

// A moving saver on a scripted input whose end of process is only counted; the offscreen
// screen is 800 x 800, the graph 545 x 151.
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

using enum CSpectrumWnd::TimerId;
using Planted = std::vector<std::pair<const char *, qint64>>;

// The defaults with every display option on (waveform, afterimage, clock, labels), the display
// type and the planted values, through the store; then a window on them that starts, draws
// two seconds of a loud square wave and loses its stream (the big clock).
void RunWith(CSpectrumWnd &wnd, const Planted &values, int nType, const QString &strPicture)
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
    SetProfileStore(nullptr), g_bPreview = g_bSettingsChanged = 0;
    auto *pDriver = new ScriptedWaveInDriver; // owned by the window's engine
    wnd.SetWaveInDriver(std::unique_ptr<IWaveInDriver>(pDriver));
    wnd.CreateSpectrumWindow(RECT{0, 0, 400, 200}, nullptr);
    wnd.SetArea(RECT{0, 0, 400, 200});
    for (const int nId : {TIMER_START, TIMER_OPEN, TIMER_FIRSTFRAME})
        wnd.OnTimer(nId);
    ASSERT_EQ(wnd.State(), CSpectrumWnd::DS_SPECTRUM);
    std::vector<int16_t> samples(pDriver->m_format.nSamplesPerSec / 10); // 50 ms, both channels
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = (i / 128) % 2 ? 12000 : -12000;
    for (int i = 0; i < 48; ++i) {
        if (i < 40)
            pDriver->Record(samples.data(), samples.size() * 2);
        else if (i == 40)
            pDriver->FailStream();
        wnd.OnTimer(i % 20 == 19 ? TIMER_WATCHDOG : TIMER_FRAME);
    }
    ASSERT_EQ(wnd.State(), CSpectrumWnd::DS_DEVICEERROR);
    wnd.InvalidateErase();
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
            SCOPED_TRACE(testing::Message() << "damage " << d << ", Type " << nType);
            const bool bPicture = damages[d][0].first == std::string("AreaLeft");
            CSpectrumWnd wnd{g_DisplaySettings};
            ASSERT_NO_FATAL_FAILURE(RunWith(wnd, damages[d], nType,
                                            bPicture ? dir.filePath("picture.bmp") : QString()));
            RECT g = wnd.GraphRect();
            g.Normalize(); // inside the window, 1 to 80 elements, something drawn
            EXPECT_TRUE(g.left >= 0 && g.right <= 400 && g.top >= 0 && g.bottom <= 200);
            EXPECT_TRUE(wnd.HasBackgroundImage() == bPicture && wnd.ElementCount() >= 1 &&
                        wnd.ElementCount() <= 80);
            const COLORREF c = COLORREF(g_DisplaySettings.Cbackground);
            QImage blank = wnd.BackingImage();
            blank.fill(QColor(GetRValue(c), GetGValue(c), GetBValue(c)));
            EXPECT_NE(wnd.BackingImage(), blank);
        }
    }
    ResetSettings();
}

// A host window over several monitors gets one pane per monitor, in its own logical pixels.
TEST(CSaverSet, AWindowOverSeveralMonitorsHasAPaneOnEach)
{
    const std::vector<QRect> sideBySide = {QRect(0, 0, 1280, 800), QRect(1280, 0, 1024, 768)};
    struct Case
    {
        QRect rcWindow;
        std::vector<QRect> monitors;
        double dRatio;
        std::vector<QRect> panes;
    };
    // clang-format off
    const Case cases[] = {
        // The root of two monitors side by side, the second one shorter.
        {QRect(0, 0, 2304, 800), sideBySide, 1.0, {QRect(0, 0, 1280, 800), QRect(1280, 0, 1024, 768)}},
        // Twice the density: half as many logical pixels.
        {QRect(0, 0, 2304, 800), sideBySide, 2.0, {QRect(0, 0, 640, 400), QRect(640, 0, 512, 384)}},
        // 1.5: the seam at 1280 / 1.5 = 853.3 is at 853 for both panes, which meet there.
        {QRect(0, 0, 2304, 800), sideBySide, 1.5, {QRect(0, 0, 853, 533), QRect(853, 0, 683, 512)}},
        // A window across the seam: 280 pixels on the first monitor, 320 on the second.
        {QRect(1000, 100, 600, 400), sideBySide, 1.0, {QRect(0, 0, 280, 400), QRect(280, 0, 320, 400)}},
        // On one monitor only, or on two that mirror each other: one display over the window.
        {QRect(50, 50, 400, 300), sideBySide, 1.0, {}},
        {QRect(0, 0, 1280, 800), {QRect(0, 0, 1280, 800), QRect(0, 0, 1280, 800)}, 1.0, {}},
    };
    // clang-format on
    for (const Case &c : cases)
        EXPECT_EQ(CSaverSet::MonitorPanes(c.rcWindow, c.monitors, c.dRatio), c.panes)
            << c.rcWindow.x() << " " << c.dRatio;
}
