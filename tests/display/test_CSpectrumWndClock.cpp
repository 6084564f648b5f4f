#include "settings/Settings.h"
#include "display/CSpectrumWnd.h"
#include "audio/input/ScriptedWaveInDriver.h"

#include <gtest/gtest.h>

#include <QImage>

namespace {

ClockTime g_now;
ClockTime FixedTime()
{
    return g_now;
}

struct ClockRig
{
    ScriptedWaveInDriver *pDriver = new ScriptedWaveInDriver; // owned by the window's engine
    CSpectrumWnd wnd{g_DisplaySettings};

    ClockRig()
    {
        ResetSettings();
        g_Version = 1;
        g_bSettingsChanged = 0;
        CSpectrumWnd::SetClockSource(FixedTime);
        wnd.SetWaveInDriver(std::unique_ptr<IWaveInDriver>(pDriver));
        wnd.CreateSpectrumWindow(RECT{0, 0, 400, 200}, nullptr);
        wnd.SetArea(RECT{0, 0, 400, 200});
        g_bSettingsChanged = 0;
    }
    ~ClockRig() { CSpectrumWnd::SetClockSource(nullptr); }

    COLORREF At(int nSecond)
    {
        g_now = {12, 34, nSecond};
        return wnd.BigClockColor(nSecond);
    }
};

// Each component of b + s * (a - b) / n, truncated towards zero.
COLORREF Mix(COLORREF a, COLORREF b, int s, int n)
{
    auto c = [&](int ca, int cb) { return cb + s * (ca - cb) / n; };
    return RGB(c(GetRValue(a), GetRValue(b)), c(GetGValue(a), GetGValue(b)),
               c(GetBValue(a), GetBValue(b)));
}

} // namespace

TEST(BigClockColour, DriftsThroughTheMinuteThenFadesOutAndIn)
{
    ClockRig rig;
    const COLORREF bg = 0;
    // Defaults: Cchip1 cyan, Cchip2 light violet, both 7/10 of the way from
    // the black background.
    const COLORREF e = RGB(0, 178, 178);
    const COLORREF f = RGB(178, 89, 178);
    EXPECT_EQ(rig.At(58), Mix(f, e, 58, 60));
    EXPECT_EQ(rig.At(58), RGB(172, 92, 178));
    // Second 59: f on its first frame, then 17/18, 16/18, ... of the way.
    EXPECT_EQ(rig.At(59), f);
    EXPECT_EQ(rig.At(59), Mix(f, bg, 17, 18));
    EXPECT_EQ(rig.At(59), Mix(f, bg, 16, 18));
    // Second 0: the background, then back towards e over ten frames.
    EXPECT_EQ(rig.At(0), bg);
    EXPECT_EQ(rig.At(0), Mix(bg, e, 9, 10));
    EXPECT_EQ(rig.At(0), RGB(0, 36, 36));
    EXPECT_EQ(rig.At(1), Mix(f, e, 1, 60));
    EXPECT_EQ(rig.At(1), RGB(2, 177, 178));
}

TEST(BigClockColour, WithoutGradientHalfAMinuteEach)
{
    ClockRig rig;
    g_DisplaySettings.CGrad = 0;
    for (int s : {0, 1, 29})
        EXPECT_EQ(rig.At(s), COLORREF(g_DisplaySettings.Cchip1)) << s;
    for (int s : {30, 58, 59})
        EXPECT_EQ(rig.At(s), COLORREF(g_DisplaySettings.Cpeekchip)) << s;
}

TEST(BigClockMessage, PulseRisesHoldsFallsAndHolds)
{
    ClockRig rig;
    rig.pDriver->m_bFailOpen = true;
    rig.wnd.OnTimer(CSpectrumWnd::TIMER_START);
    rig.wnd.OnTimer(CSpectrumWnd::TIMER_OPEN);
    ASSERT_EQ(rig.wnd.State(), CSpectrumWnd::DS_DEVICEERROR);
    rig.wnd.SetMessagePulse(0);
    std::vector<int> seen;
    CDC dc(const_cast<QImage *>(&rig.wnd.BackingImage()));
    for (int i = 0; i < 60; ++i) {
        seen.push_back(rig.wnd.MessagePulse() & 0xFF);
        rig.wnd.DrawBigClock(&dc, 0);
    }
    std::vector<int> expected;
    for (int v = 0; v <= 26; ++v)
        expected.push_back(v);
    for (int v = 26; v >= 0; --v)
        expected.push_back(v);
    for (int v = 0; expected.size() < 60; ++v)
        expected.push_back(v);
    EXPECT_EQ(seen, expected);
}

TEST(BigClockScreen, DeviceErrorShowsTheTimeAndTheMessage)
{
    ClockRig rig;
    g_now = {9, 5, 30};
    rig.pDriver->m_bFailOpen = true;
    rig.wnd.OnTimer(CSpectrumWnd::TIMER_START);
    rig.wnd.OnTimer(CSpectrumWnd::TIMER_OPEN);
    rig.wnd.OnTimer(CSpectrumWnd::TIMER_FIRSTFRAME);
    rig.wnd.SetMessagePulse(20); // the message clearly visible
    rig.wnd.InvalidateErase();
    const QImage &img = rig.wnd.BackingImage();
    if (!qEnvironmentVariableIsEmpty("VEXLOR_KEEP_SNAPSHOTS"))
        img.save(qEnvironmentVariable("VEXLOR_KEEP_SNAPSHOTS") + QStringLiteral("/bigclock.png"));
    const RECT g = rig.wnd.GraphRect();
    const int yMid = (g.top + g.bottom) / 2;
    // The time sits around the middle, the message below it; both draw ink
    // of their own colours on the background, inside the octagon.
    auto ink = [&](int y1, int y2) {
        int n = 0;
        for (int y = y1; y < y2; ++y) {
            for (int x = g.left; x < g.right; ++x)
                n += img.pixel(x, y) != qRgb(0, 0, 0) && img.pixel(x, y) != qRgb(128, 128, 128);
        }
        return n;
    };
    EXPECT_GT(ink(g.top, yMid), 100);
    EXPECT_GT(ink(yMid + 20, g.bottom), 50);
}
