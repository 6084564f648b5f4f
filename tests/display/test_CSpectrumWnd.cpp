#include "settings/Settings.h"
#include "display/CChipColumn.h"
#include "display/CSpectrumWnd.h"
#include "audio/input/ScriptedWaveInDriver.h"

#include <gtest/gtest.h>

#include <QBackingStore>
#include <QImage>
#include <QTest>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

QRgb Rgb(COLORREF c)
{
    return qRgb(GetRValue(c), GetGValue(c), GetBValue(c));
}

// A spectrum window on a scripted sound input, with the default settings.
struct WindowRig
{
    ScriptedWaveInDriver *pDriver = new ScriptedWaveInDriver; // owned by the window's engine
    CSpectrumWnd wnd{g_DisplaySettings};

    explicit WindowRig(RECT rc = RECT{0, 0, 800, 300})
    {
        ResetSettings();
        g_Version = 1;
        g_bPreview = 0;
        g_bSettingsChanged = 0;
        wnd.SetWaveInDriver(std::unique_ptr<IWaveInDriver>(pDriver));
        wnd.CreateSpectrumWindow(rc, nullptr);
        wnd.SetArea(rc);
        g_bSettingsChanged = 0;
    }
    ~WindowRig() { g_bSettingsChanged = 0; }

    CChipColumn *Column(int i) const { return dynamic_cast<CChipColumn *>(wnd.Element(i)); }
    int ElementCount() const
    {
        int n = 0;
        for (int i = 0; i < CSpectrumWnd::kMaxElements; ++i)
            n += wnd.Element(i) != nullptr;
        return n;
    }
    // Runs the start-up chain by hand, as the timers would.
    void StartUp()
    {
        wnd.OnTimer(CSpectrumWnd::TIMER_START);
        wnd.OnTimer(CSpectrumWnd::TIMER_OPEN);
        wnd.OnTimer(CSpectrumWnd::TIMER_FIRSTFRAME);
    }
};

} // namespace

TEST(CSpectrumWndTraversal, FivePassesVisitEverySlotOnce)
{
    std::vector<int> seen(CSpectrumWnd::kMaxElements, 0);
    for (int i = 0; i < CSpectrumWnd::kMaxElements; ++i)
        ++seen[TraversalSlot(i)];
    for (int n : seen)
        EXPECT_EQ(n, 1);
    EXPECT_EQ(TraversalSlot(0), 0);
    EXPECT_EQ(TraversalSlot(1), 5);
    EXPECT_EQ(TraversalSlot(15), 75);
    EXPECT_EQ(TraversalSlot(16), 1);
    EXPECT_EQ(TraversalSlot(79), 79);
}

TEST(CSpectrumWndColours, ShadeAndBlend)
{
    const COLORREF grey = RGB(128, 128, 128);
    EXPECT_EQ(Shade(grey, 6, 5, 10), RGB(163, 163, 163));
    EXPECT_EQ(Shade(grey, 4, 5, -10), RGB(92, 92, 92));
    EXPECT_EQ(Shade(RGB(250, 0, 5), 6, 5, 10), RGB(255, 10, 16));
    EXPECT_EQ(Blend(RGB(200, 100, 0), RGB(0, 50, 255), 0, 10), RGB(0, 50, 255));
    EXPECT_EQ(Blend(RGB(200, 100, 0), RGB(0, 50, 255), 10, 10), RGB(200, 100, 0));
    EXPECT_EQ(Blend(RGB(200, 100, 0), RGB(0, 50, 255), 15, 10), RGB(200, 100, 0));
    // 255 + 3 * (0 - 255) / 10 = 255 - 76 (765 / 10 truncated)
    EXPECT_EQ(Blend(RGB(200, 100, 0), RGB(0, 50, 255), 3, 10), RGB(60, 65, 179));
}

TEST(CSpectrumWndColours, AfterimageColours)
{
    EXPECT_EQ(CSpectrumWnd::AfterimageColor(0, 0xFFFFFF, 1), RGB(85, 85, 85));
    // Dark: half way.
    EXPECT_EQ(CSpectrumWnd::AfterimageColor(0, 0xFFFFFF, 2), RGB(127, 127, 127));
}

TEST(CSpectrumWndLayout, FrameWidthFollowsTheAreaSize)
{
    WindowRig rig(RECT{0, 0, 200, 150});
    EXPECT_EQ(rig.wnd.FrameWidth(), 3);
    rig.wnd.SetArea(RECT{0, 0, 100, 60});
    EXPECT_EQ(rig.wnd.FrameWidth(), 1);
    rig.wnd.SetArea(RECT{0, 0, 1000, 1000}); // 20 would be too wide
    EXPECT_EQ(rig.wnd.FrameWidth(), 3);
    rig.wnd.SetArea(RECT{100, 60, 0, 0}); // normalised first
    EXPECT_EQ(rig.wnd.FrameWidth(), 1);
    const RECT g = rig.wnd.GraphRect();
    EXPECT_EQ(g, (RECT{103, 63, -3, -3}));
}

TEST(CSpectrumWndLayout, DefaultBandsOfTheMonoDisplay)
{
    WindowRig rig;
    rig.wnd.BuildLayout(22050, 512);
    struct Band
    {
        int nFirst, nCount;
        const char *pszLabel;
    };
    const Band expected[16] = {{2, 1, "100"}, {2, 1, ""},    {3, 1, ""},    {4, 2, ""},
                               {6, 3, "300"}, {9, 3, ""},    {12, 4, ""},   {16, 6, ""},
                               {22, 8, "1k"}, {30, 11, ""},  {41, 15, ""},  {56, 20, "3k"},
                               {76, 27, ""},  {103, 36, ""}, {139, 50, ""}, {189, 67, "10k"}};
    ASSERT_EQ(rig.ElementCount(), 16);
    for (int i = 0; i < 16; ++i) {
        const CBandElement *p = rig.wnd.Element(i);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->m_nFirstBin, expected[i].nFirst) << "band " << i;
        EXPECT_EQ(p->m_nBinCount, expected[i].nCount) << "band " << i;
        EXPECT_EQ(p->m_strLabel, QString::fromLatin1(expected[i].pszLabel)) << "band " << i;
        const double gain = (expected[i].nFirst + expected[i].nCount / 2) * 0.4 / 256 + 1.0;
        EXPECT_FLOAT_EQ(p->m_fGain, float(gain)) << "band " << i;
    }
}

TEST(CSpectrumWndLayout, MonoColumnsSitSideBySideAndHangFromTheTop)
{
    WindowRig rig(RECT{0, 0, 810, 300});
    rig.wnd.BuildLayout(22050, 512);
    // Area 810 x 300: frame width 300 / 48 = 6 -> 3, inset 9; graph 792 x 282.
    EXPECT_EQ(rig.wnd.GraphRect(), (RECT{9, 9, 801, 291}));
    const int cw = 792 / 16; // 49; 8 pixels left over, 4 on each side
    const int x0 = (792 - 16 * cw) / 2;
    const CBandElement *pFirst = rig.wnd.Element(0);
    EXPECT_EQ(pFirst->m_origin.x, x0);
    for (int i = 1; i < 16; ++i) {
        EXPECT_EQ(rig.wnd.Element(i)->m_origin.x, x0 + i * cw);
        EXPECT_EQ(rig.wnd.Element(i)->m_origin.y, pFirst->m_origin.y);
        EXPECT_EQ(rig.wnd.Element(i)->m_nKind, 0);
    }
    // The used length is snapped to whole chips and the stack hangs from the top.
    EXPECT_EQ(pFirst->m_origin.y + pFirst->m_size.cy, 282);
    EXPECT_EQ(rig.wnd.ClockRect(), (RECT{x0, 282, x0 + 16 * cw, 282}));
}

TEST(CSpectrumWndLayout, StereoSideBySideLeavesTwoColumnsBetweenTheGroups)
{
    WindowRig rig;
    g_DisplaySettings.Type = 1;
    rig.wnd.BuildLayout(22050, 512);
    ASSERT_EQ(rig.ElementCount(), 32);
    const int cw = rig.wnd.Element(1)->m_origin.x - rig.wnd.Element(0)->m_origin.x;
    EXPECT_EQ(cw, (rig.wnd.GraphRect().Width() - 4) / 34);
    EXPECT_EQ(rig.wnd.Element(16)->m_origin.x, rig.wnd.Element(0)->m_origin.x + 18 * cw);
    for (int j = 16; j < 32; ++j) {
        EXPECT_EQ(rig.wnd.Element(j)->m_nFirstBin, rig.wnd.Element(j - 16)->m_nFirstBin);
        EXPECT_EQ(rig.wnd.Element(j)->m_strLabel, rig.wnd.Element(j - 16)->m_strLabel);
    }
    // 32 columns: labels every second band with a label frequency.
    EXPECT_EQ(rig.wnd.Element(0)->m_strLabel, QStringLiteral("100"));
}

TEST(CSpectrumWndLayout, StereoLeftRightMirrorsTheRightChannel)
{
    WindowRig rig;
    g_DisplaySettings.Type = 2;
    rig.wnd.BuildLayout(22050, 512);
    ASSERT_EQ(rig.ElementCount(), 32);
    const CBandElement *pLeft = rig.wnd.Element(0);
    const CBandElement *pRight = rig.wnd.Element(16);
    const int b = 2 * 11 + 2; // label strip of rotated labels with FontHeight -11
    EXPECT_EQ(pRight->m_origin.x, pLeft->m_origin.x - b);
    EXPECT_EQ(pRight->m_origin.y, pLeft->m_origin.y);
    // The bands climb the graph one column width at a time.
    const int r = rig.wnd.Element(1)->m_origin.y - pLeft->m_origin.y;
    EXPECT_GT(r, 0);
    EXPECT_EQ(rig.wnd.Element(17)->m_origin.y - pRight->m_origin.y, r);
    // Labels stay with the left group only.
    EXPECT_FALSE(pLeft->m_strLabel.isEmpty());
    EXPECT_TRUE(pRight->m_strLabel.isEmpty());
}

TEST(CSpectrumWndLayout, StereoTopBottomGrowsOutOfTheMiddleStrip)
{
    WindowRig rig;
    g_DisplaySettings.Type = 3;
    rig.wnd.BuildLayout(22050, 512);
    ASSERT_EQ(rig.ElementCount(), 32);
    const CBandElement *pUpper = rig.wnd.Element(0);
    const CBandElement *pLower = rig.wnd.Element(16);
    EXPECT_EQ(pLower->m_origin.x, pUpper->m_origin.x);
    EXPECT_EQ(pLower->m_origin.y, pUpper->m_origin.y + 13); // strip of 11 + 2
    const int H = rig.wnd.GraphRect().Height();
    EXPECT_EQ(pUpper->m_origin.y, H - 13 / 2 - H / 2);
}

TEST(CSpectrumWndLayout, StereoWithFortyBandsFillsEverySlot)
{
    WindowRig rig(RECT{0, 0, 1920, 1080});
    g_DisplaySettings.Type = 1;
    g_DisplaySettings.Fdiv = 40;
    rig.wnd.BuildLayout(22050, 512);
    EXPECT_EQ(rig.ElementCount(), 80);
}

TEST(CSpectrumWndLayout, DamagedBandCountsNeitherCrashNorOverflow)
{
    WindowRig rig;
    for (int nFdiv : {0, -5, 1, 100000}) {
        g_DisplaySettings.Fdiv = nFdiv;
        for (int nType : {0, 1, 2, 3, 9}) {
            g_DisplaySettings.Type = nType;
            rig.wnd.BuildLayout(22050, 512);
            const int n = std::max(1, nFdiv);
            const bool bStereo = nType >= 1 && nType <= 3;
            EXPECT_EQ(rig.ElementCount(), std::min(bStereo ? 2 * n : n, 80))
                << "Fdiv " << nFdiv << " Type " << nType;
        }
    }
}

TEST(CSpectrumWndLayout, RelayoutKeepsColumnsButSlotZero)
{
    WindowRig rig;
    rig.wnd.BuildLayout(22050, 512);
    CBandElement *pOld0 = rig.wnd.Element(0);
    CBandElement *pOld5 = rig.wnd.Element(5);
    g_DisplaySettings.Fdiv = 8;
    rig.wnd.BuildLayout(22050, 512);
    EXPECT_EQ(rig.wnd.Element(5), pOld5);
    EXPECT_NE(rig.wnd.Element(0), nullptr);
    (void)pOld0; // deleted; its address may be reused, so only the count is checked
    EXPECT_EQ(rig.ElementCount(), 8);
}

TEST(CSpectrumWndLayout, ClockAndWaveStripsTakeTheTopOfTheGraph)
{
    WindowRig rig(RECT{0, 0, 810, 300});
    g_DisplaySettings.FclockDisp = 1;
    g_DisplaySettings.FwaveDisp = 1;
    rig.wnd.BuildLayout(22050, 512);
    // Graph 792 x 282; clock strip 11 + 4 high, then 2 more pixels of gap.
    const int x0 = 4;
    EXPECT_EQ(rig.wnd.ClockRect(), (RECT{x0, 282, x0 + 16 * 49, 282 - 15}));
    const int top = 282 - 17;
    const int d = top / 3;
    EXPECT_EQ(rig.wnd.WaveRect(), (RECT{x0, top, x0 + 16 * 49, top - d}));
}

TEST(CSpectrumWndPaint, FrameRingsInShadesOfTheFrameColour)
{
    WindowRig rig(RECT{0, 0, 200, 150});
    rig.StartUp();
    const QImage &img = rig.wnd.BackingImage();
    ASSERT_EQ(img.size(), QSize(200, 150));
    // Rings 3 pixels wide, from the outside in.
    EXPECT_EQ(img.pixel(0, 0), qRgb(163, 163, 163));
    EXPECT_EQ(img.pixel(2, 75), qRgb(163, 163, 163));
    EXPECT_EQ(img.pixel(3, 75), qRgb(128, 128, 128));
    EXPECT_EQ(img.pixel(5, 75), qRgb(128, 128, 128));
    EXPECT_EQ(img.pixel(6, 75), qRgb(92, 92, 92));
    EXPECT_EQ(img.pixel(8, 75), qRgb(92, 92, 92));
    EXPECT_EQ(img.pixel(199, 149), qRgb(163, 163, 163));
    EXPECT_EQ(img.pixel(193, 100), qRgb(92, 92, 92));
    // Inside the frame: background and chips, no frame colour.
    EXPECT_NE(img.pixel(9, 75), qRgb(92, 92, 92));
}

TEST(CSpectrumWndPaint, TheScreenShowsTheBackingImageAfterFullAndPartialRepaints)
{
    WindowRig rig(RECT{0, 0, 300, 200});
    rig.StartUp();
    rig.wnd.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&rig.wnd));
    QPaintDevice *pDevice = rig.wnd.backingStore()->paintDevice();
    ASSERT_EQ(pDevice->devType(), QInternal::Image);
    const QImage &screen = *static_cast<QImage *>(pDevice);
    const auto shown = [&] {
        return screen.copy(rig.wnd.rect()).convertToFormat(QImage::Format_RGB32);
    };
    QCoreApplication::processEvents();
    EXPECT_TRUE(shown() == rig.wnd.BackingImage());

    // Two overlapping changes make a region of three bands; only they reach
    // the screen, whatever else changed in the image meanwhile.
    CDC dc(const_cast<QImage *>(&rig.wnd.BackingImage()));
    dc.FillSolidRect(RECT{0, 0, 300, 200}, RGB(10, 20, 30));
    rig.wnd.update(QRect(20, 30, 50, 60));
    rig.wnd.update(QRect(40, 50, 100, 20));
    QCoreApplication::processEvents();
    const QImage after = shown();
    int nNew = 0;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 300; ++x) {
            const bool bUpdated =
                QRect(20, 30, 50, 60).contains(x, y) || QRect(40, 50, 100, 20).contains(x, y);
            nNew += after.pixel(x, y) == qRgb(10, 20, 30);
            if (bUpdated) {
                ASSERT_EQ(after.pixel(x, y), qRgb(10, 20, 30)) << x << "," << y;
            }
        }
    // 50 x 60 and 100 x 20 overlapping in 30 x 20.
    EXPECT_EQ(nNew, 50 * 60 + 100 * 20 - 30 * 20);
    rig.wnd.hide();
}

namespace {

// What the window system shows of the window, from its backing store.
QImage Shown(QWidget &w)
{
    QPaintDevice *pDevice = w.backingStore()->paintDevice();
    if (pDevice->devType() != QInternal::Image)
        return {};
    return static_cast<QImage *>(pDevice)->copy(w.rect()).convertToFormat(QImage::Format_RGB32);
}

// Writes a tone of the given frequency into the ring up to nPos and reports
// that position, so that the next frame analyses it.
void RecordTone(WindowRig &rig, uint32_t nPos, double fHz, double fAmplitude)
{
    CWave &wave = rig.wnd.Engine().Wave();
    const double fRate = wave.m_format.nSamplesPerSec;
    auto *p = reinterpret_cast<int16_t *>(wave.GetData(0));
    for (uint32_t i = nPos > 4096 ? nPos - 4096 : 0; i < nPos; ++i)
        p[2 * i] = p[2 * i + 1] =
            int16_t(fAmplitude * std::sin(2 * 3.14159265358979 * fHz * i / fRate));
    wave.Unlock();
    rig.pDriver->SetPosition(nPos);
}

// The window with its drawing and flushing within reach.
struct OpenWnd : CSpectrumWnd
{
    OpenWnd() : CSpectrumWnd(g_DisplaySettings) {}
    using CSpectrumWnd::DC;
    using CSpectrumWnd::FlushDirty;
};

} // namespace

TEST(CSpectrumWndPaint, EveryFrameReachesTheScreenWholeAndOnlyDrawnRowsAreCopied)
{
    WindowRig rig(RECT{0, 0, 400, 240});
    rig.StartUp();
    rig.wnd.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&rig.wnd));
    QCoreApplication::processEvents();
    ASSERT_TRUE(Shown(rig.wnd) == rig.wnd.BackingImage());

    // Tones that sweep and fade: columns rise, fall and their peaks move.
    const uint32_t nRate = rig.wnd.Engine().Wave().m_format.nSamplesPerSec;
    uint32_t nPos = nRate;
    int nChangedFrames = 0;
    for (int nFrame = 0; nFrame < 40; ++nFrame) {
        nPos += nRate / 20;
        const double fHz = 100.0 * std::pow(1.12, nFrame);
        RecordTone(rig, nPos, fHz, nFrame % 10 < 5 ? 20000.0 : 300.0);
        const QImage before = rig.wnd.BackingImage().copy();
        rig.wnd.OnTimer(CSpectrumWnd::TIMER_FRAME);
        nChangedFrames += before != rig.wnd.BackingImage();
        ASSERT_TRUE(Shown(rig.wnd) == rig.wnd.BackingImage()) << "frame " << nFrame;
    }
    EXPECT_GT(nChangedFrames, 30);

    // Frames drawn while hidden reach the screen when it shows again.
    rig.wnd.hide();
    for (int nFrame = 0; nFrame < 5; ++nFrame) {
        nPos += nRate / 20;
        RecordTone(rig, nPos, 1000.0 + 700.0 * nFrame, 20000.0);
        rig.wnd.OnTimer(CSpectrumWnd::TIMER_FRAME);
    }
    rig.wnd.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&rig.wnd));
    QCoreApplication::processEvents();
    EXPECT_TRUE(Shown(rig.wnd) == rig.wnd.BackingImage());
    rig.wnd.hide();
}

TEST(CSpectrumWndPaint, AFrameCopiesItsDrawnRowsAndAnExposureCopiesAll)
{
    ResetSettings();
    OpenWnd wnd;
    wnd.SetWaveInDriver(std::make_unique<ScriptedWaveInDriver>());
    wnd.CreateSpectrumWindow(RECT{0, 0, 120, 80}, nullptr);
    wnd.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&wnd));
    QCoreApplication::processEvents();

    // Two chips with a row between them make one dirty rectangle. A pixel
    // of the row between changes in the image behind the device context's
    // back: the frame's copy leaves it, the chips arrive.
    auto &image = const_cast<QImage &>(wnd.BackingImage());
    wnd.DC()->FillSolidRect(RECT{10, 20, 40, 22}, RGB(255, 0, 0)); // rows 20, 21
    wnd.DC()->FillSolidRect(RECT{10, 23, 40, 25}, RGB(255, 0, 0)); // rows 23, 24
    const QRgb before = Shown(wnd).pixel(15, 22);
    image.setPixel(15, 22, qRgb(0, 0, 255));
    wnd.FlushDirty();
    QImage shown = Shown(wnd);
    EXPECT_EQ(shown.pixel(15, 20), qRgb(255, 0, 0));
    EXPECT_EQ(shown.pixel(39, 24), qRgb(255, 0, 0));
    EXPECT_EQ(shown.pixel(15, 22), before);

    // The next frame draws elsewhere; rows drawn by the last one are not
    // copied again.
    image.setPixel(15, 21, qRgb(0, 255, 0));
    wnd.DC()->FillSolidRect(RECT{60, 50, 70, 51}, RGB(0, 0, 255));
    wnd.FlushDirty();
    shown = Shown(wnd);
    EXPECT_EQ(shown.pixel(60, 50), qRgb(0, 0, 255));
    EXPECT_EQ(shown.pixel(15, 21), qRgb(255, 0, 0));

    // A repaint from the window system copies every row of its region.
    wnd.update(QRect(0, 0, 120, 80));
    QCoreApplication::processEvents();
    EXPECT_TRUE(Shown(wnd) == wnd.BackingImage());
    wnd.hide();
}

TEST(CSpectrumWndPaint, LabelsAppearUnderTheColumnsThatCarryThem)
{
    WindowRig rig(RECT{0, 0, 800, 300});
    rig.StartUp();
    const QImage &img = rig.wnd.BackingImage();
    const RECT g = rig.wnd.GraphRect();
    const QRgb bg = Rgb(COLORREF(g_DisplaySettings.Cbackground));
    // The label strip is the 13 rows at the base of each column.
    auto inkInStrip = [&](const CBandElement *p) {
        int n = 0;
        const int yBase = g.bottom - p->m_origin.y;
        for (int y = yBase - 12; y <= yBase; ++y) {
            for (int x = g.left + p->m_origin.x; x < g.left + p->m_origin.x + p->m_size.cx; ++x)
                n += img.pixel(x, y) != bg;
        }
        return n;
    };
    EXPECT_GT(inkInStrip(rig.wnd.Element(8)), 0);  // "1k"
    EXPECT_EQ(inkInStrip(rig.wnd.Element(10)), 0); // no label
}

TEST(CSpectrumWndStates, SilenceTurnsTheFullScreenDisplayIntoTheBigClock)
{
    WindowRig rig;
    rig.StartUp();
    EXPECT_EQ(rig.wnd.State(), CSpectrumWnd::DS_SPECTRUM);
    rig.wnd.SetLastActivity(std::time(nullptr) - 15);
    rig.wnd.OnTimer(CSpectrumWnd::TIMER_WATCHDOG);
    EXPECT_EQ(rig.wnd.State(), CSpectrumWnd::DS_SPECTRUM);
    rig.wnd.SetLastActivity(std::time(nullptr) - 16);
    rig.wnd.OnTimer(CSpectrumWnd::TIMER_WATCHDOG);
    EXPECT_EQ(rig.wnd.State(), CSpectrumWnd::DS_IDLECLOCK);
    rig.wnd.SetLastActivity(std::time(nullptr));
    rig.wnd.OnTimer(CSpectrumWnd::TIMER_WATCHDOG);
    EXPECT_EQ(rig.wnd.State(), CSpectrumWnd::DS_SPECTRUM);

    rig.wnd.SetPreview(true);
    rig.wnd.SetLastActivity(std::time(nullptr) - 100);
    rig.wnd.OnTimer(CSpectrumWnd::TIMER_WATCHDOG);
    EXPECT_EQ(rig.wnd.State(), CSpectrumWnd::DS_SPECTRUM);
}

TEST(CSpectrumWndStates, DeviceErrorIsRetriedUntilTheInputOpens)
{
    WindowRig rig;
    rig.pDriver->m_bFailOpen = true;
    rig.StartUp();
    EXPECT_EQ(rig.wnd.State(), CSpectrumWnd::DS_DEVICEERROR);
    rig.wnd.OnTimer(CSpectrumWnd::TIMER_WATCHDOG);
    EXPECT_TRUE(rig.wnd.IsTimerActive(CSpectrumWnd::TIMER_RETRY));
    rig.pDriver->m_bFailOpen = false;
    rig.wnd.OnTimer(CSpectrumWnd::TIMER_RETRY);
    EXPECT_EQ(rig.wnd.State(), CSpectrumWnd::DS_SPECTRUM);
    EXPECT_FALSE(rig.wnd.IsTimerActive(CSpectrumWnd::TIMER_RETRY));
}

TEST(CSpectrumWndStates, StreamLostMidRunBecomesADeviceErrorAndRecovers)
{
    WindowRig rig;
    rig.StartUp();
    rig.wnd.OnTimer(CSpectrumWnd::TIMER_FRAME);
    rig.pDriver->FailStream();
    rig.wnd.OnTimer(CSpectrumWnd::TIMER_FRAME);
    EXPECT_EQ(rig.wnd.State(), CSpectrumWnd::DS_DEVICEERROR);
    EXPECT_FALSE(rig.pDriver->IsOpen());
    rig.wnd.OnTimer(CSpectrumWnd::TIMER_WATCHDOG);
    rig.wnd.OnTimer(CSpectrumWnd::TIMER_RETRY);
    EXPECT_EQ(rig.wnd.State(), CSpectrumWnd::DS_SPECTRUM);
    EXPECT_TRUE(rig.pDriver->IsOpen());
}

TEST(CSpectrumWndStates, SettingsChangeRestartsCaptureAndLayout)
{
    WindowRig rig;
    rig.StartUp();
    ASSERT_TRUE(rig.pDriver->IsOpen());
    g_DisplaySettings.Fdiv = 5;
    g_bSettingsChanged = 1;
    rig.wnd.OnTimer(CSpectrumWnd::TIMER_FRAME);
    EXPECT_EQ(g_bSettingsChanged, 0);
    EXPECT_TRUE(rig.wnd.IsFirstFrame());
    EXPECT_FALSE(rig.pDriver->IsOpen());
    EXPECT_FALSE(rig.wnd.IsTimerActive(CSpectrumWnd::TIMER_FRAME));
    EXPECT_TRUE(rig.wnd.IsTimerActive(CSpectrumWnd::TIMER_OPEN));
    rig.wnd.OnTimer(CSpectrumWnd::TIMER_OPEN);
    EXPECT_EQ(rig.ElementCount(), 5);
    EXPECT_TRUE(rig.pDriver->IsOpen());
}

TEST(CSpectrumWndRates, RowsByFrequencyRangeAndTheKeyboard)
{
    WindowRig rig;
    struct Case
    {
        int nType, nFrange, nRate;
    };
    for (const Case c : {Case{0, 0, 11025}, Case{0, 1, 22050}, Case{0, 2, 44100}, Case{0, 7, 11025},
                         Case{0, -1, 11025}}) {
        g_DisplaySettings.Type = c.nType;
        g_DisplaySettings.Frange = c.nFrange;
        rig.wnd.OnTimer(CSpectrumWnd::TIMER_OPEN);
        EXPECT_EQ(rig.pDriver->m_format.nSamplesPerSec, uint32_t(c.nRate)) << c.nFrange;
        rig.wnd.Engine().Stop();
    }
    g_DisplaySettings.Frange = 7;
    g_DisplaySettings.Type = 0;
    rig.wnd.OnTimer(CSpectrumWnd::TIMER_OPEN);
    EXPECT_EQ(rig.wnd.Engine().TransformA().m_nSize, 256);
}

TEST(CSpectrumWndSync, AnalysisStartsAQuarterWindowBeforeALoudClick)
{
    WindowRig rig;
    rig.StartUp();
    CWave &wave = rig.wnd.Engine().Wave();
    const uint32_t rate = wave.m_format.nSamplesPerSec; // 22050 with the defaults
    const int N = rig.wnd.Engine().Size();
    // Quiet everywhere, a click 50 ms before the newest analysis window.
    const uint32_t pos = 3 * rate;
    const uint32_t newest = pos - wave.MsToFrames(100);
    const uint32_t last = newest - N;
    const uint32_t click = last - wave.MsToFrames(50);
    auto *p = reinterpret_cast<int16_t *>(wave.GetData(0));
    for (uint32_t i = 0; i < pos; ++i)
        p[2 * i] = p[2 * i + 1] = 10;
    p[2 * click] = 30000;
    wave.Unlock();
    rig.pDriver->SetPosition(pos);
    uint32_t start = 0, end = 0;
    rig.wnd.Engine().FindSyncStart(&start, &end);
    EXPECT_EQ(start, click - N / 4);
    EXPECT_EQ(end, start + N);
    EXPECT_EQ(rig.wnd.Engine().SyncPos(), end);

    // A click inside the window itself, early in it: a quarter window before it.
    p = reinterpret_cast<int16_t *>(wave.GetData(0));
    p[2 * click] = 10;
    p[2 * (last + 10)] = 20000;
    wave.Unlock();
    rig.wnd.Engine().FindSyncStart(&start, &end);
    EXPECT_EQ(start, last + 10 - N / 4);
    // Late in it: the window stays where it was.
    p = reinterpret_cast<int16_t *>(wave.GetData(0));
    p[2 * (last + 10)] = 10;
    p[2 * (last + N / 2)] = 20000;
    wave.Unlock();
    rig.wnd.Engine().FindSyncStart(&start, &end);
    EXPECT_EQ(start, last);
}

TEST(CSpectrumWndSync, MarkerModeFindsTheEndOfFreshData)
{
    WindowRig rig;
    g_DisplaySettings.WaveRecMode = 1;
    rig.StartUp();
    CWave &wave = rig.wnd.Engine().Wave();
    ASSERT_EQ(wave.m_nFillMode, 2);
    // Frames 0..999 recorded (with one recorded sample that happens to equal
    // the marker), the rest still marked.
    auto *p = reinterpret_cast<int16_t *>(wave.GetData(0));
    for (int i = 0; i < 1000; ++i)
        p[2 * i] = p[2 * i + 1] = int16_t(i % 100);
    p[2 * 500] = 0x2222;
    wave.Unlock();
    rig.wnd.Engine().SetSyncPos(100);
    uint32_t start = 0, end = 0;
    rig.wnd.Engine().FindSyncStart(&start, &end);
    // newest = 999, so the window is frames 999-N .. 998; its loudest sample
    // is the recorded one at frame 500, which lands a quarter window in.
    const int N = rig.wnd.Engine().Size();
    EXPECT_EQ(start, uint32_t(500 - N / 4));
    EXPECT_EQ(end, start + N);
}

TEST(CSpectrumWndTrace, GainAndScaleOfTheWaveform)
{
    WindowRig rig(RECT{0, 0, 810, 300});
    g_DisplaySettings.FwaveDisp = 1;
    rig.StartUp();
    CWave &wave = rig.wnd.Engine().Wave();
    auto *p = reinterpret_cast<int16_t *>(wave.GetData(0));
    for (uint32_t i = 0; i < wave.m_dwFrames; ++i) {
        p[2 * i] = 100;
        p[2 * i + 1] = 300; // the trace shows the mean, 200
    }
    wave.Unlock();
    rig.pDriver->SetPosition(40000);
    const int n = rig.wnd.CaptureTrace(3);
    RECT rc = rig.wnd.WaveRect();
    rc.Normalize();
    ASSERT_EQ(n, std::min(rc.Width(), 2048));
    const int H = rc.Height();
    // Lmax -30: gain 10^2 x 0.03125 = 3.125, so 200 becomes 625.
    const int a = int(3.125 * 200);
    EXPECT_EQ(rig.wnd.Trace(3)[0], rc.top + (((H - 4) * a) / 2) / 32768 + H / 2);
    EXPECT_EQ(rig.wnd.Trace(3)[n - 1], rig.wnd.Trace(3)[0]);

    g_DisplaySettings.Lmax = -45; // 17.6 is above 16: 32
    rig.wnd.CaptureTrace(4);
    EXPECT_EQ(rig.wnd.Trace(4)[0], rc.top + (((H - 4) * 6400) / 2) / 32768 + H / 2);
    g_DisplaySettings.Lmax = 20; // below 1: 1
    rig.wnd.CaptureTrace(5);
    EXPECT_EQ(rig.wnd.Trace(5)[0], rc.top + (((H - 4) * 200) / 2) / 32768 + H / 2);
}

TEST(CSpectrumWndTrace, NoTraceInErrorStates)
{
    WindowRig rig;
    rig.pDriver->m_bFailOpen = true;
    rig.StartUp();
    EXPECT_EQ(rig.wnd.CaptureTrace(0), 0);
}

namespace {

int NoJitter()
{
    return 0;
}

} // namespace

// Two windows on one engine: one capture opened once, one analysis per tick
// whichever window ticks first, and the same picture in both.
TEST(CSpectrumWndSharedEngine, TwoViewsShowOneCaptureAnalysedOncePerTick)
{
    ResetSettings();
    g_Version = 1;
    g_DisplaySettings.FwaveDisp = 1; // the trace reads the engine's window too
    int nChanged = 0;
    auto *pDriver = new ScriptedWaveInDriver; // owned by the engine
    CSpectrumEngine engine(g_DisplaySettings);
    engine.SetWaveInDriver(std::unique_ptr<IWaveInDriver>(pDriver));
    CSpectrumWnd first(g_DisplaySettings, engine);
    CSpectrumWnd second(g_DisplaySettings, engine);
    // The band levels' jitter is drawn per element: fixed, so that both
    // windows' columns see the same levels.
    CBandElement::SetJitterSource(NoJitter);
    const RECT rc{0, 0, 400, 240};
    CSpectrumWnd *const views[2] = {&first, &second};
    for (CSpectrumWnd *pView : views) {
        pView->SetChangeFlag(&nChanged);
        pView->CreateSpectrumWindow(rc, nullptr);
        pView->SetArea(rc);
    }
    for (const int nId : {CSpectrumWnd::TIMER_START, CSpectrumWnd::TIMER_OPEN,
                          CSpectrumWnd::TIMER_FIRSTFRAME})
        for (CSpectrumWnd *pView : views)
            pView->OnTimer(nId);
    EXPECT_EQ(pDriver->m_nOpens, 1);
    ASSERT_EQ(first.State(), CSpectrumWnd::DS_SPECTRUM);
    ASSERT_EQ(second.State(), CSpectrumWnd::DS_SPECTRUM);

    // A tone sweeping up and fading in and out, 50 ms of it per tick.
    CWave &wave = engine.Wave();
    const uint32_t nRate = wave.m_format.nSamplesPerSec;
    auto *p = reinterpret_cast<int16_t *>(wave.GetData(0));
    for (uint32_t i = 0; i < wave.m_dwFrames; ++i) {
        const double t = double(i) / nRate;
        const double fAmplitude = std::fmod(t, 0.5) < 0.25 ? 20000.0 : 500.0;
        p[2 * i] = p[2 * i + 1] =
            int16_t(fAmplitude * std::sin(2 * 3.14159265358979 * 200.0 * std::pow(4.0, t) * t));
    }
    wave.Unlock();

    const int nAnalysesBefore = engine.AnalysisCount();
    const uint32_t nFrameBefore = engine.FrameNumber();
    int nChangedFrames = 0;
    QImage previous = first.BackingImage().copy();
    for (int nTick = 0; nTick < 30; ++nTick) {
        pDriver->SetPosition(nRate + uint64_t(nTick) * nRate / 20);
        // Alternate which window ticks first.
        views[nTick % 2]->OnTimer(CSpectrumWnd::TIMER_FRAME);
        views[1 - nTick % 2]->OnTimer(CSpectrumWnd::TIMER_FRAME);
        ASSERT_EQ(engine.AnalysisCount(), nAnalysesBefore + nTick + 1) << "tick " << nTick;
        ASSERT_TRUE(first.BackingImage() == second.BackingImage()) << "tick " << nTick;
        nChangedFrames += previous != first.BackingImage();
        previous = first.BackingImage().copy();
    }
    EXPECT_EQ(engine.FrameNumber(), nFrameBefore + 30);
    EXPECT_GT(nChangedFrames, 20); // the frames really moved
    CBandElement::SetJitterSource(nullptr);
}
