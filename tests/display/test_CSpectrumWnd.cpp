#include "display/CSpectrumWnd.h"

#include "audio/input/ScriptedWaveInDriver.h"
#include "display/CChipColumn.h"
#include "display/CKeyElement.h"
#include "settings/SettingValues.h"
#include "settings/Settings.h"

#include <QBackingStore>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <set>
#include <tuple>

namespace {

using enum CSpectrumWnd::TimerId;
using enum CSpectrumWnd::DisplayState;
ClockTime g_now{9, 5, 30};

// Writes f(frame) into both channels of frames nFirst .. nPos - 1 and reports nPos.
template <typename F>
void Record(CWave &wave, ScriptedWaveInDriver *pDriver, uint32_t nFirst, uint32_t nPos, F f)
{
    auto *p = reinterpret_cast<int16_t *>(wave.GetData(0));
    for (uint32_t i = nFirst; i < nPos; ++i)
        p[2 * i] = p[2 * i + 1] = int16_t(f(i));
    wave.Unlock();
    pDriver->SetPosition(nPos);
}

// A window on a scripted input with the default settings and a clock the test
// sets. 800 x 300: frame 3, inset 9, graph 782 x 282.
struct WindowRig
{
    ScriptedWaveInDriver *pDriver = new ScriptedWaveInDriver; // owned by the window's engine
    CSpectrumWnd wnd{g_DisplaySettings};

    explicit WindowRig(RECT rc = RECT{0, 0, 800, 300})
    {
        ResetSettings();
        g_Version = 1;
        CSpectrumWnd::SetClockSource([] { return g_now; });
        wnd.SetWaveInDriver(std::unique_ptr<IWaveInDriver>(pDriver));
        wnd.CreateSpectrumWindow(rc, nullptr);
        wnd.SetArea(rc);
        g_bSettingsChanged = 0;
    }
    ~WindowRig()
    {
        g_bSettingsChanged = 0;
        CSpectrumWnd::SetClockSource(nullptr);
        CBandElement::SetJitterSource(nullptr);
    }
    void StartUp()
    {
        for (const int nId : {TIMER_START, TIMER_OPEN, TIMER_FIRSTFRAME})
            wnd.OnTimer(nId);
    }
};

} // namespace

TEST(CSpectrumWnd, TraversalColoursAndFrameWidth)
{
    std::set<int> seen; // five passes, every slot once
    for (int i = 0; i < CSpectrumWnd::kMaxElements; ++i)
        seen.insert(TraversalSlot(i));
    EXPECT_EQ(std::tuple(seen.size(), TraversalSlot(1), TraversalSlot(16), TraversalSlot(79)),
              std::tuple(80u, 5, 1, 79));
    // 255 + 3 x (0 - 255) / 10 = 255 - 76; past the last step: the first colour.
    EXPECT_EQ(Blend(RGB(200, 100, 0), RGB(0, 50, 255), 3, 10), RGB(60, 65, 179));
    EXPECT_EQ(Blend(RGB(200, 100, 0), RGB(0, 50, 255), 15, 10), RGB(200, 100, 0));
    EXPECT_EQ(Shade(RGB(250, 0, 5), 6, 5, 10), RGB(255, 10, 16));
    EXPECT_EQ(std::pair(CSpectrumWnd::AfterimageColor(0, 0xFFFFFF, 1),
                        CSpectrumWnd::AfterimageColor(0, 0xFFFFFF, 2)),
              std::pair(RGB(85, 85, 85), RGB(127, 127, 127))); // faint: a third; dark: half
    WindowRig rig(RECT{0, 0, 1000, 1000});                     // 1000 / 48 is more than 3: 3
    EXPECT_EQ(rig.wnd.FrameWidth(), 3);
    rig.wnd.SetArea(RECT{100, 60, 0, 0}); // normalised: 60 / 48 = 1, inset by 3
    EXPECT_EQ(std::pair(rig.wnd.FrameWidth(), rig.wnd.GraphRect()),
              std::pair(1, RECT{103, 63, -3, -3}));
}

// Columns by display type in the 782 x 282 graph: 66 chips of 4 rows under a
// 13-row label strip use 279 rows; across the graph a rotated label takes 24.
TEST(CSpectrumWnd, EachDisplayTypeLaysItsColumnsOut)
{
    WindowRig rig;
    // Type, columns, origins of 0, 1, 16, 17, size of 0 and 16, clock strip from, to.
    // clang-format off
    const std::tuple<int, int, POINT, POINT, POINT, POINT, SIZE, SIZE, int, int> cases[] = {
        {0, 16, {7, 3}, {55, 3}, {}, {}, {48, 279}, {}, 7, 775},  // (782 - 16 x 48) / 2 = 7
        {2, 32, {403, 5}, {403, 22}, {379, 5}, {379, 22}, {17, 398}, {17, 398}, 0, 782}, // rows 282 / 16
        {3, 32, {7, 135}, {55, 135}, {7, 148}, {55, 148}, {48, 143}, {48, 143}, 7, 775}, // halves of 141
        {1, 32, {17, 3}, {39, 3}, {413, 3}, {435, 3}, {22, 279}, {22, 279}, 17, 765}, // 778 / 34; 18 columns on
    };
    for (const auto &[nType, nCount, o0, o1, o16, o17, s0, s16, nLeft, nRight] : cases) {
        g_DisplaySettings.Type = nType;
        rig.wnd.BuildLayout(22050, 512);
        ASSERT_EQ(rig.wnd.ElementCount(), nCount) << nType;
        const auto at = [&](int i) { return std::pair(rig.wnd.Element(i)->m_origin, rig.wnd.Element(i)->m_size); };
        EXPECT_EQ(std::tuple(at(0), at(1).first, rig.wnd.ClockRect().left, rig.wnd.ClockRect().right), std::tuple(std::pair(o0, s0), o1, nLeft, nRight));
        // The second group hears the same bands; only side by side does it carry the labels too.
        for (int j = 16; j < nCount; ++j) {
            const CBandElement *p = rig.wnd.Element(j), *q = rig.wnd.Element(j - 16);
            EXPECT_EQ(std::pair(p->m_nFirstBin, p->m_strLabel), std::pair(q->m_nFirstBin, nType == 1 ? q->m_strLabel : QString()));
            EXPECT_EQ(std::pair(at(16), at(17).first), std::pair(std::pair(o16, s16), o17));
        }
    }
    // clang-format on
    // Sixteen mono bands: first bin, count, label; the gain rises from 1 to 1.4 by the middle bin.
    g_DisplaySettings.Fdiv = 16;
    g_DisplaySettings.Type = 0;
    rig.wnd.BuildLayout(22050, 512);
    // clang-format off
    const std::tuple<int, int, const char *> bands[16] = {
        {2, 1, "100"}, {2, 1, ""},    {3, 1, ""},    {4, 2, ""},    {6, 3, "300"}, {9, 3, ""},    {12, 4, ""},   {16, 6, ""},
        {22, 8, "1k"}, {30, 11, ""},  {41, 15, ""},  {56, 20, "3k"}, {76, 27, ""}, {103, 36, ""}, {139, 50, ""}, {189, 67, "10k"}};
    for (int i = 0; i < 16; ++i) {
        const auto [nFirst, nCount, pszLabel] = bands[i];
        const CBandElement *p = rig.wnd.Element(i);
        EXPECT_EQ(std::tuple(p->m_nFirstBin, p->m_nBinCount, p->m_strLabel), std::tuple(nFirst, nCount, QString::fromLatin1(pszLabel))) << i;
        EXPECT_FLOAT_EQ(p->m_fGain, float((nFirst + nCount / 2) * 0.4 / 256 + 1.0)) << i;
    }
    // clang-format on
}

TEST(CSpectrumWnd, FrameRingsLabelsAndEveryFrameOnTheScreen)
{
    WindowRig rig(RECT{0, 0, 300, 200});
    rig.StartUp();
    const QImage &img = rig.wnd.BackingImage();
    // Three rings of the grey frame colour, 3 pixels each: 6/5 + 10, as it is, 4/5 - 10.
    // clang-format off
    for (const auto &[x, y, v] : {std::tuple(0, 0, 163), {2, 75, 163}, {3, 75, 128}, {5, 75, 128}, {6, 75, 92}, {8, 75, 92}, {299, 199, 163}, {293, 100, 92}, {9, 75, 0}})
        EXPECT_EQ(img.pixel(x, y), qRgb(v, v, v)) << x << "," << y;
    // clang-format on
    // The "1k" label of column 8 inks the 13-row strip at its base; column 10 has none.
    const RECT g = rig.wnd.GraphRect();
    auto ink = [&](const CBandElement *p) {
        int n = 0;
        for (int y = g.bottom - p->m_origin.y - 12; y <= g.bottom - p->m_origin.y; ++y)
            for (int x = g.left + p->m_origin.x; x < g.left + p->m_origin.x + p->m_size.cx; ++x)
                n += img.pixel(x, y) != qRgb(0, 0, 0);
        return n;
    };
    EXPECT_EQ(std::pair(ink(rig.wnd.Element(8)) > 10, ink(rig.wnd.Element(10))),
              std::pair(true, 0));
    // Tones that sweep and fade reach the screen whole, frame after frame.
    rig.wnd.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&rig.wnd));
    int nChangedFrames = 0, nFirstLit = 0; // frames that changed, that lit column 0's first chip
    for (int nFrame = 0; nFrame < 40; ++nFrame) {
        const uint32_t nPos = 22050 + (nFrame + 1) * 1102;
        const double fHz = 100.0 * std::pow(1.12, nFrame),
                     fAmplitude = nFrame % 10 < 5 ? 20000.0 : 300.0;
        Record(rig.wnd.Engine().Wave(), rig.pDriver, nPos - 4096, nPos, [&](uint32_t i) {
            return fAmplitude * std::sin(2 * std::numbers::pi * fHz * i / 22050);
        });
        const QImage before = img.copy();
        rig.wnd.OnTimer(TIMER_FRAME);
        nChangedFrames += before != img;
        nFirstLit += img.pixel(g.left + rig.wnd.Element(0)->m_origin.x + 10,
                               g.bottom - rig.wnd.Element(0)->m_origin.y - 16) != qRgb(0, 0, 0);
        const QImage *pScreen = static_cast<QImage *>(rig.wnd.backingStore()->paintDevice());
        ASSERT_TRUE(pScreen->copy(rig.wnd.rect()).convertToFormat(QImage::Format_RGB32) == img)
            << nFrame;
    }
    EXPECT_EQ(std::pair(nChangedFrames > 30, nFirstLit > 0), std::pair(true, true));
    rig.wnd.hide();
}

TEST(CSpectrumWnd, IdleClockRestartsAndRates)
{
    WindowRig rig;
    rig.StartUp();
    // More than 15 s without movement bring the big clock, never in the preview.
    // clang-format off
    for (const auto &[nIdle, bPreview, nState] : {std::tuple(15, false, 0), {16, false, 1}, {0, false, 0}, {100, true, 0}}) {
        rig.wnd.SetPreview(bPreview);
        rig.wnd.SetLastActivity(std::time(nullptr) - nIdle);
        rig.wnd.OnTimer(TIMER_WATCHDOG);
        EXPECT_EQ(rig.wnd.State(), nState) << nIdle;
    }
    // Changed settings stop the capture and start over with a new layout.
    g_DisplaySettings.Fdiv = 5;
    g_bSettingsChanged = 1;
    rig.wnd.OnTimer(TIMER_FRAME);
    EXPECT_EQ(std::tuple(g_bSettingsChanged, rig.wnd.IsFirstFrame(), rig.pDriver->IsOpen(), rig.wnd.IsTimerActive(TIMER_FRAME),
                         rig.wnd.IsTimerActive(TIMER_OPEN)), std::tuple(0, true, false, false, true));
    rig.wnd.OnTimer(TIMER_OPEN);
    EXPECT_EQ(std::pair(rig.wnd.ElementCount(), rig.pDriver->IsOpen()), std::pair(5, true));
    // Rates and transform sizes by frequency range; the keyboard's own row.
    for (const auto &[nType, nFrange, nRate, nSize] : {std::tuple(0, 0, 11025u, 256), {0, 1, 22050u, 512}, {0, 2, 44100u, 512}, {0, 7, 11025u, 256}, {0, -1, 11025u, 256}, {4, 1, 11025u, 1024}}) {
        g_DisplaySettings.Type = nType;
        g_DisplaySettings.Frange = nFrange;
        rig.wnd.OnTimer(TIMER_OPEN);
        EXPECT_EQ(std::pair(rig.pDriver->m_format.nSamplesPerSec, rig.wnd.Engine().TransformA().m_nSize), std::pair(nRate, nSize)) << nFrange;
        rig.wnd.Engine().Stop();
    }
    // clang-format on
}

// The analysis window starts a quarter window before the loudest sample of
// the 70 ms before it, if over twice as loud, or of its own first quarter.
TEST(CSpectrumWnd, SyncStartsAQuarterWindowBeforeALoudClick)
{
    WindowRig rig;
    rig.StartUp();
    const uint32_t N = 512, last = 3 * 22050 - 2205 - N; // 100 ms before the newest frame
    // clang-format off
    for (const auto &[nClick, nStart] : {std::pair(last - 1102, last - 1102 - N / 4), {last + 10, last + 10 - N / 4}, {last + N / 2, last}}) {
        Record(rig.wnd.Engine().Wave(), rig.pDriver, 0, 3 * 22050, [nAt = nClick](uint32_t i) { return i == nAt ? 30000 : 10; });
        uint32_t start = 0, end = 0;
        rig.wnd.Engine().FindSyncStart(&start, &end);
        EXPECT_EQ(std::tuple(start, end, rig.wnd.Engine().SyncPos()), std::tuple(nStart, nStart + N, nStart + N)) << nClick;
    }
    // clang-format on
    // Marker mode: frames 0..999 recorded, one equal to the marker (0x2222) at
    // 500, so the window is 999 - N .. 998 and its loudest sample is at 500.
    g_DisplaySettings.WaveRecMode = 1;
    g_bSettingsChanged = 1;
    rig.StartUp();
    Record(rig.wnd.Engine().Wave(), rig.pDriver, 0, 1000,
           [](uint32_t i) { return i == 500 ? 0x2222 : int(i % 100); });
    rig.wnd.Engine().SetSyncPos(100);
    uint32_t start = 0, end = 0;
    rig.wnd.Engine().FindSyncStart(&start, &end);
    EXPECT_EQ(std::pair(start, end), std::pair(500 - N / 4, 500 - N / 4 + N));
}

TEST(CSpectrumWnd, TheTraceShowsTheMeanWithTheGainOfLmax)
{
    WindowRig rig;
    g_DisplaySettings.FwaveDisp = 1;
    rig.StartUp();
    auto *p = reinterpret_cast<int16_t *>(rig.wnd.Engine().Wave().GetData(0));
    for (uint32_t i = 0; i < 220500;
         ++i) // the trace's ends, either side of the ring's end: mean 200
        std::tie(p[2 * i], p[2 * i + 1]) =
            i == 99 || i == 220500 - 668 ? std::pair(100, 300) : std::pair(0, 0);
    rig.wnd.Engine().Wave().Unlock();
    const RECT rc{7, 188, 775, 282}; // a third of 282 rows
    ASSERT_EQ(rig.wnd.WaveRect(), (RECT{rc.left, rc.bottom, rc.right, rc.top}));
    rig.wnd.Engine().SetSyncPos(100); // the trace starts 668 frames before the ring's end
    // Gain 10^((10 - Lmax) / 20) / 32: -30 gives 3.125; above 16 it is 32; below 1, 1.
    for (const auto &[nLmax, nSample] : {std::pair(-30, 625), {-45, 6400}, {20, 200}}) {
        g_DisplaySettings.Lmax = nLmax;
        ASSERT_EQ(rig.wnd.CaptureTrace(3), 768);
        EXPECT_EQ(rig.wnd.Trace(3)[0], 188 + ((90 * nSample) / 2) / 32768 + 94 / 2) << nLmax;
        EXPECT_EQ(rig.wnd.Trace(3)[767], rig.wnd.Trace(3)[0]);
    }
}

// Two windows on one engine: one capture opened once, one analysis per tick
// whichever window ticks first, and the same picture in both.
TEST(CSpectrumWndSharedEngine, TwoViewsShowOneCaptureAnalysedOncePerTick)
{
    ResetSettings();
    std::tie(g_Version, g_DisplaySettings.FwaveDisp) =
        std::pair(1, 1); // the trace reads the engine's window too
    int nChanged = 0;
    auto *pDriver = new ScriptedWaveInDriver; // owned by the engine
    CSpectrumEngine engine(g_DisplaySettings);
    engine.SetWaveInDriver(std::unique_ptr<IWaveInDriver>(pDriver));
    CSpectrumWnd first(g_DisplaySettings, engine), second(g_DisplaySettings, engine);
    // The jitter is drawn per element: fixed, so that both windows' columns see the same levels.
    CBandElement::SetJitterSource([] { return 0; });
    CSpectrumWnd *const views[2] = {&first, &second};
    for (CSpectrumWnd *pView : views) {
        pView->SetChangeFlag(&nChanged);
        pView->CreateSpectrumWindow(RECT{0, 0, 400, 240}, nullptr);
        pView->SetArea(RECT{0, 0, 400, 240});
    }
    for (const int nId : {TIMER_START, TIMER_OPEN, TIMER_FIRSTFRAME})
        for (CSpectrumWnd *pView : views)
            pView->OnTimer(nId);
    ASSERT_EQ(std::tuple(pDriver->m_nOpens, first.State(), second.State()), std::tuple(1, 0, 0));
    // A tone sweeping up and fading in and out, 50 ms of it per tick, one view first, then the
    // other.
    const uint32_t nRate = engine.Wave().m_format.nSamplesPerSec,
                   nFrameBefore = engine.FrameNumber();
    const int nAnalysesBefore = engine.AnalysisCount();
    for (int nTick = 0; nTick < 30; ++nTick) {
        const uint32_t nPos = nRate + uint32_t(nTick) * nRate / 20;
        const double fAmplitude = nTick % 10 < 5 ? 20000.0 : 500.0,
                     fHz = 200.0 * std::pow(1.1, nTick);
        Record(engine.Wave(), pDriver, nPos - 4096, nPos, [&](uint32_t i) {
            return fAmplitude * std::sin(2 * std::numbers::pi * fHz * i / nRate);
        });
        views[nTick % 2]->OnTimer(TIMER_FRAME);
        views[1 - nTick % 2]->OnTimer(TIMER_FRAME);
        ASSERT_EQ(engine.AnalysisCount(), nAnalysesBefore + nTick + 1) << "tick " << nTick;
        ASSERT_TRUE(first.BackingImage() == second.BackingImage()) << "tick " << nTick;
    }
    EXPECT_EQ(engine.FrameNumber(), nFrameBefore + 30);
    CBandElement::SetJitterSource(nullptr);
}

// Cyan e and light violet f, 7/10 of the way from black: the colour drifts
// from e to f over the minute, f fades out in 18 frames of second 59 and
// second 0 fades in from the background over ten.
TEST(CSpectrumWnd, BigClockColoursAndTheErrorMessagePulse)
{
    WindowRig rig(RECT{0, 0, 400, 200});
    const auto at = [&](int s) { return rig.wnd.BigClockColor(s); };
    // clang-format off
    for (const auto &[s, c] : {std::pair(58, RGB(172, 92, 178)), {59, RGB(178, 89, 178)}, {59, RGB(168, 84, 168)}, {59, RGB(158, 79, 158)},
                               {0, 0}, {0, RGB(0, 18, 18)}, {0, RGB(0, 36, 36)}, {1, RGB(2, 177, 178)}})
        EXPECT_EQ(at(s), c) << s;
    // clang-format on
    g_DisplaySettings.CGrad = 0; // half a minute each of the first chip colour and the peak's
    EXPECT_EQ(std::tuple(at(0), at(29), at(30), at(59)),
              std::tuple(0xFFFF00u, 0xFFFF00u, 0x00FFFFu, 0x00FFFFu));
    // A device error: the message under the time pulses 0..26, 26..0, 0, ...
    rig.pDriver->m_bFailOpen = true;
    rig.wnd.OnTimer(TIMER_START);
    rig.wnd.OnTimer(TIMER_OPEN); // a failed open still shows a first frame; a failed retry ticks on
    EXPECT_EQ(
        std::pair(rig.wnd.IsTimerActive(TIMER_FRAME), rig.wnd.IsTimerActive(TIMER_FIRSTFRAME)),
        std::pair(false, true));
    rig.wnd.OnTimer(TIMER_RETRY);
    EXPECT_TRUE(rig.wnd.IsTimerActive(TIMER_FRAME));
    rig.wnd.OnTimer(TIMER_FIRSTFRAME);
    ASSERT_EQ(std::pair(rig.wnd.State(), rig.wnd.CaptureTrace(0)),
              std::pair(int(DS_DEVICEERROR), 0));
    rig.wnd.SetMessagePulse(0);
    CDC dc(const_cast<QImage *>(&rig.wnd.BackingImage()));
    for (int i = 0; i < 60; ++i, rig.wnd.DrawBigClock(&dc, false))
        ASSERT_EQ(rig.wnd.MessagePulse() & 0xFF, i <= 26 ? i : i <= 53 ? 53 - i : i - 54) << i;
    // The outlined time rises by a sixth of its height over the message.
    RECT g = rig.wnd.GraphRect();
    g.Normalize();
    int nTop = -1, nBottom = -1;
    for (int y = g.top; y < g.bottom; ++y)
        for (int x = g.left; x < g.right; ++x)
            if (rig.wnd.BackingImage().pixel(x, y) == qRgb(128, 128, 128))
                nTop = nTop < 0 ? y : nTop, nBottom = y;
    EXPECT_NEAR(nTop + nBottom, g.top + g.bottom - (nBottom - nTop - 6) / 3.0, 2);
}

// From F the white keys run F G A B C D E in the even slots, with no black key
// after B (slot 7) nor E (slot 13); white keys are notched where a black one overlaps.
TEST(CSpectrumWnd, KeyboardKeysInTheirPlacesTunedOneSemitoneEach)
{
    WindowRig rig;
    rig.wnd.BuildLayout(11025, 1024); // chip columns, all to be replaced by keys
    g_DisplaySettings.Type = TYPE_KEYBOARD;
    const auto key = [&](int i) { return dynamic_cast<const CKeyElement *>(rig.wnd.Element(i)); };
    // KeyDiv, slot, origin, size, left and right notch, notch height: 21 keys of 37 from 2, 22 of
    // 35 from 6.
    // clang-format off
    const std::tuple<int, int, POINT, SIZE, int, int, int> cases[] = {
        {21, 0, {2, 0}, {37, 277}, 0, 13, 118},  {21, 1, {26, 120}, {24, 161}, 0, 0, 0},
        {21, 2, {39, 0}, {37, 277}, 11, 13, 118}, {21, 6, {113, 0}, {37, 277}, 11, 0, 118},
        {21, 8, {150, 0}, {37, 277}, 0, 13, 118}, {21, 39, {729, 120}, {24, 161}, 0, 0, 0},
        {21, 40, {742, 0}, {37, 277}, 11, 0, 118}, {22, 43, {764, 120}, {12, 161}, 0, 0, 0}, // cut at the edge
    };
    for (const auto &[nKeyDiv, i, origin, size, nLeft, nRight, nNotch] : cases) {
        g_DisplaySettings.KeyDiv = nKeyDiv;
        rig.wnd.BuildLayout(11025, 1024);
        ASSERT_NE(key(i), nullptr) << i;
        EXPECT_EQ(std::tuple(key(i)->m_origin, key(i)->m_size, key(i)->m_bBlack, key(i)->m_nLeftNotch, key(i)->m_nRightNotch, key(i)->m_nNotchHeight),
                  std::tuple(origin, size, i % 2, nLeft, nRight, nNotch)) << i;
        for (const int nEmpty : {7, 13, 21, 27, 41})
            EXPECT_EQ(rig.wnd.Element(nEmpty), nullptr) << nEmpty;
    }
    EXPECT_EQ(std::pair(rig.wnd.ElementCount(), rig.wnd.ClockRect().left), std::pair(44 - 6, 6));
    // F 174.61 Hz at 10.77 Hz a bin is bin 16.2: too coarse, bins 16 and 17; D 1174.66 covers
    // half a semitone either side, 1141.7 / 10.77 = 106.04 to 1209.6 / 10.77 = 112.3.
    g_DisplaySettings.KeyDiv = 21;
    rig.wnd.BuildLayout(11025, 1024);
    for (const auto &[i, nFirst, nCount] : {std::tuple(0, 16, 2), {1, 17, 2}, {8, 24, 2}, {38, 106, 7}})
        EXPECT_EQ(std::pair(key(i)->m_nFirstBin, key(i)->m_nBinCount), std::pair(nFirst, nCount)) << i;
    // clang-format on
    EXPECT_NEAR(key(0)->m_fGain, 1.10084, 1e-4); // 1.0125 x (1 + 0.4 x 0.218), F between bins
}

// At most the KeyNum loudest keys light, A 440 Hz the most; the trace shows each frame's capture.
TEST(CSpectrumWnd, TheLoudestKeysLightAndTheTraceFollows)
{
    WindowRig rig;
    g_DisplaySettings.Type = TYPE_KEYBOARD;
    g_DisplaySettings.FwaveDisp = 1;
    rig.StartUp();
    Record(rig.wnd.Engine().Wave(), rig.pDriver, 0, 11025,
           [](uint32_t i) { return 20000 * std::sin(2 * std::numbers::pi * 440 * i / 11025); });
    rig.wnd.OnTimer(TIMER_FRAME);
    int nLit = 0, nBest = 0;
    for (int i = 0; i < CSpectrumWnd::kMaxElements; ++i)
        if (const CBandElement *p = rig.wnd.Element(i); p && p->m_fLevel > 0)
            nLit += 1, nBest = p->m_fLevel > rig.wnd.Element(nBest)->m_fLevel ? i : nBest;
    std::set<int> rows; // of the trace's line colour
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 800; ++x)
            if (rig.wnd.BackingImage().pixel(x, y) == qRgb(0xFF, 0x80, 0xC0))
                rows.insert(y);
    EXPECT_EQ(std::tuple(nLit > 0 && nLit <= 5, nBest, rows.size() > 20),
              std::tuple(true, 18, true)); // A: slot 18
}

// Until the first frame a background picture fills the window, waveform strip included.
TEST(CSpectrumWnd, ThePictureFillsTheWindowBeforeTheFirstFrame)
{
    WindowRig rig;
    QTemporaryDir dir;
    QImage picture(64, 32, QImage::Format_RGB32), full(800, 300, QImage::Format_RGB32);
    picture.fill(qRgb(40, 40, 120));
    full.fill(qRgb(40, 40, 120));
    ASSERT_TRUE(picture.save(dir.filePath("p.bmp"), "BMP"));
    std::tie(g_DisplaySettings.BmpName, g_DisplaySettings.FwaveDisp) =
        std::pair(dir.filePath("p.bmp"), 1);
    rig.wnd.OnTimer(TIMER_START);
    rig.wnd.OnTimer(TIMER_OPEN);
    EXPECT_TRUE(rig.wnd.BackingImage() == full);
}

// Views of one engine each follow a settings change, whichever sees the raised flag first; a
// view's new area restarts that view alone and leaves the shared capture running.
TEST(CSpectrumWndSharedEngine, EachViewFollowsAChangeOfSettingsAndOnlyItsOwnArea)
{
    ResetSettings();
    g_Version = 1;
    g_bSettingsChanged = 0;
    auto *pDriver = new ScriptedWaveInDriver; // owned by the engine
    CSpectrumEngine engine(g_DisplaySettings);
    engine.SetWaveInDriver(std::unique_ptr<IWaveInDriver>(pDriver));
    CSpectrumWnd first(g_DisplaySettings, engine), second(g_DisplaySettings, engine);
    CSpectrumWnd *const views[2] = {&first, &second};
    const auto startUp = [&] {
        for (const int nId : {TIMER_START, TIMER_OPEN, TIMER_FIRSTFRAME})
            for (CSpectrumWnd *pView : views)
                pView->OnTimer(nId);
    };
    for (CSpectrumWnd *pView : views) {
        pView->CreateSpectrumWindow(RECT{0, 0, 400, 240}, nullptr);
        pView->SetArea(RECT{0, 0, 400, 240});
    }
    startUp();
    struct Case
    {
        const char *pszWhat;
        std::function<void()> change;
        bool bFirstRestarts, bSecondRestarts, bCaptureRuns;
    };
    // clang-format off
    const Case cases[] = {
        {"settings", [] { g_bSettingsChanged = 1; }, true, true, false},
        {"first's area", [&] { first.SetArea(RECT{10, 10, 300, 200}); }, true, false, true},
        {"second's area", [&] { second.SetArea(RECT{0, 0, 200, 100}); }, false, true, true},
    };
    // clang-format on
    for (const Case &c : cases) {
        ASSERT_EQ(std::tuple(first.IsFirstFrame(), second.IsFirstFrame()),
                  std::tuple(false, false));
        c.change();
        for (CSpectrumWnd *pView : views)
            pView->OnTimer(TIMER_FRAME);
        EXPECT_EQ(std::tuple(first.IsFirstFrame(), second.IsFirstFrame(), pDriver->IsOpen(),
                             g_bSettingsChanged),
                  std::tuple(c.bFirstRestarts, c.bSecondRestarts, c.bCaptureRuns, 0))
            << c.pszWhat;
        startUp();
    }
    EXPECT_EQ(std::pair(first.Area(), second.Area()),
              std::pair(RECT{10, 10, 300, 200}, RECT{0, 0, 200, 100}));
}

// After 200 frames of sweeping, fading tones, what the window system shows
// is what the window paints in full from its backing image, in every display
// type: for a window that draws straight into the window system's image and
// for one inside another window, whose frames are copied there.
namespace {

// What the window system shows of the widget.
QImage WindowSystemImage(QWidget &widget)
{
    QWidget *pWindow = widget.window();
    const QPoint at = widget.mapTo(pWindow, QPoint());
    return pWindow->screen()
        ->grabWindow(pWindow->winId(), at.x(), at.y(), widget.width(), widget.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// Shows the rig's window at (0, 0) on its own, or at (20, 30) inside host
// (with bNative as a native window of its own, as a saver's pane is); true
// once the window system shows it. No window manager moves either.
bool ShowRig(WindowRig &rig, QWidget &host, bool bInside, bool bNative = false)
{
    const Qt::WindowFlags flags = Qt::X11BypassWindowManagerHint | Qt::FramelessWindowHint;
    host.setWindowFlags(flags);
    host.setGeometry(0, 0, 440, 280);
    QWidget *pShown = &rig.wnd;
    if (bInside) {
        rig.wnd.setParent(&host);
        rig.wnd.move(20, 30);
        if (bNative)
            rig.wnd.setAttribute(Qt::WA_NativeWindow);
        pShown = &host;
    } else {
        rig.wnd.setWindowFlags(flags);
        rig.wnd.move(0, 0);
    }
    pShown->show();
    return QTest::qWaitForWindowExposed(pShown);
}

void SweepFrames(WindowRig &rig, int nFrames)
{
    for (int nFrame = 0; nFrame < nFrames; ++nFrame) {
        const uint32_t nPos = 22050 + (nFrame % 70 + 1) * 1102; // within a mono ring too
        const double fHz = 60.0 * std::pow(1.03, nFrame % 180),
                     fAmplitude = nFrame % 14 < 9 ? 24000.0 : 150.0;
        Record(rig.wnd.Engine().Wave(), rig.pDriver, nPos - 4096, nPos, [&](uint32_t i) {
            return fAmplitude * std::sin(2 * std::numbers::pi * fHz * i / 22050);
        });
        rig.wnd.OnTimer(TIMER_FRAME);
    }
}

} // namespace

TEST(CSpectrumWnd, TheScreenAfterManyFramesIsAFullRepaint)
{
    for (int nType = 0; nType <= 4; ++nType) {
        for (const bool bInside : {false, true}) {
            QWidget host;
            WindowRig rig(RECT{0, 0, 400, 240});
            g_DisplaySettings.Type = nType;
            ASSERT_TRUE(ShowRig(rig, host, bInside));
            rig.StartUp();
            SweepFrames(rig, 200);
            const QImage screen = WindowSystemImage(rig.wnd);
            const QImage whole = rig.wnd.grab().toImage().convertToFormat(QImage::Format_RGB32);
            EXPECT_TRUE(screen == whole && whole == rig.wnd.BackingImage()) << nType << bInside;
        }
    }
}

// On an X server the frames of a top-level window go straight from shared
// memory (where the server shares any), and Qt's own copy of the window, which they leave behind,
// is painted afresh before Qt shows it again when another window stops covering ours.
TEST(CSpectrumWnd, OnX11FramesPutFromSharedMemoryAndAnExposeShowsTheLatest)
{
    if (QGuiApplication::platformName() != u"xcb")
        GTEST_SKIP() << "needs an X server (the display_on_x11 test)";
    for (int nCase = 0; nCase < 10; ++nCase) {
        // Each type as a window of its own and as a native child inside
        // another window, as a saver's pane is.
        const int nType = nCase / 2;
        const bool bInside = nCase % 2 != 0;
        QWidget host;
        WindowRig rig(RECT{0, 0, 400, 240});
        g_DisplaySettings.Type = nType;
        ASSERT_TRUE(ShowRig(rig, host, bInside, true));
        rig.StartUp();
        SweepFrames(rig, 60);
        EXPECT_EQ(rig.wnd.LastFlush().bFromSharedMemory,
                  !qEnvironmentVariableIsSet("VEXLOR_X_WITHOUT_SHM"))
            << nCase;
        EXPECT_TRUE(WindowSystemImage(rig.wnd) == rig.wnd.BackingImage()) << nCase;

        // Frames drawn while covered land only where the window shows.
        QWidget cover;
        cover.setWindowFlags(Qt::X11BypassWindowManagerHint | Qt::FramelessWindowHint);
        cover.setGeometry(50, 40, 300, 160);
        cover.setStyleSheet("background: #123456");
        cover.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&cover));
        SweepFrames(rig, 30);
        cover.hide();
        QTest::qWait(300); // the expose comes from the server
        EXPECT_TRUE(WindowSystemImage(rig.wnd) == rig.wnd.BackingImage()) << nCase;
    }
}
