#include "settings/SettingValues.h"
#include "display/CKeyElement.h"
#include "display/CSpectrumWnd.h"
#include "audio/input/ScriptedWaveInDriver.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// A keyboard window 800 x 300: frame 3, inset 9, so the graph is 782 x 282
// and, without clock or trace, the keys get all of it.
struct KeyboardRig
{
    CSpectrumWnd wnd{g_DisplaySettings};

    KeyboardRig()
    {
        ResetSettings();
        g_DisplaySettings.Type = TYPE_KEYBOARD;
        wnd.SetWaveInDriver(std::make_unique<ScriptedWaveInDriver>());
        wnd.CreateSpectrumWindow(RECT{0, 0, 800, 300}, nullptr);
        wnd.SetArea(RECT{0, 0, 800, 300});
        g_bSettingsChanged = 0;
    }
    void Layout(int nKeyDiv)
    {
        g_DisplaySettings.KeyDiv = nKeyDiv;
        wnd.BuildLayout(11025, 1024);
    }
    const CKeyElement *Key(int i) const
    {
        return i < 0 ? nullptr : dynamic_cast<const CKeyElement *>(wnd.Element(i));
    }
};

} // namespace

TEST(KeyboardLayout, KeysAreTunedOneSemitoneEach)
{
    KeyboardRig rig;
    rig.Layout(21);
    struct Case
    {
        int nSlot, nFirst, nCount;
    };
    // F 174.61 Hz at 10.77 Hz per bin is bin 16.2: too coarse, bins 16 and 17.
    // F# 185.00: 17.2; C 261.63: 24.3. D 1174.66 covers half a semitone either
    // side: 1141.7 / 10.77 = 106.04 up to 1209.6 / 10.77 = 112.3.
    for (const Case c : {Case{0, 16, 2}, Case{1, 17, 2}, Case{8, 24, 2}, Case{38, 106, 7}}) {
        ASSERT_NE(rig.Key(c.nSlot), nullptr) << c.nSlot;
        EXPECT_EQ(rig.Key(c.nSlot)->m_nFirstBin, c.nFirst) << c.nSlot;
        EXPECT_EQ(rig.Key(c.nSlot)->m_nBinCount, c.nCount) << c.nSlot;
    }
    EXPECT_EQ(rig.wnd.Element(7), nullptr); // B-C
    // (16 + 16) / 2 x 0.4 / 512 + 1 = 1.0125, times 1 + 0.4 x 0.218 (F lies
    // 0.218 of a bin above bin 16); (106 + 112) / 2 x 0.4 / 512 + 1.
    EXPECT_NEAR(rig.Key(0)->m_fGain, 1.10084, 1e-4);
    EXPECT_FLOAT_EQ(rig.Key(38)->m_fGain, float(1.0 + 109 * 0.4 / 512));
}

// From F the white keys run F G A B C D E, seven to fourteen slots, with no
// black key after B (slot 7) nor after E (slot 13). White keys are notched
// on the sides where a black key overlaps them.
TEST(KeyboardLayout, WhiteAndBlackKeysInTheirPlaces)
{
    KeyboardRig rig;
    g_DisplaySettings.Type = 0;
    rig.wnd.BuildLayout(11025, 1024); // chip columns, all to be replaced by keys
    g_DisplaySettings.Type = TYPE_KEYBOARD;
    const int W = 782, H = 282;
    for (int nKeyDiv : {21, 25, 28, 32, 22}) { // 22 ends in a black key, cut at the edge
        rig.Layout(nKeyDiv);
        const int kw = W / nKeyDiv, x0 = (W - kw * nKeyDiv) / 2;
        const int nLeft = 2 * (2 * kw / 3) - kw, nRight = kw - 2 * kw / 3;
        for (int i = 0; i < 80; ++i) {
            const bool bKey = i < 2 * nKeyDiv && i % 14 != 7 && i % 14 != 13;
            ASSERT_EQ(rig.wnd.Element(i) != nullptr, bKey) << nKeyDiv << " slot " << i;
            const CKeyElement *p = rig.Key(i);
            if (!bKey)
                continue;
            ASSERT_NE(p, nullptr) << nKeyDiv << " slot " << i;
            const int xWhite = x0 + (i / 2) * kw;
            const bool bBlack = i % 2 != 0;
            const POINT origin = bBlack ? POINT{xWhite + 2 * kw / 3, 3 * H / 7} : POINT{xWhite, 0};
            const int nBlackWidth = std::min(2 * kw / 3, x0 + nKeyDiv * kw - origin.x);
            const SIZE size = bBlack ? SIZE{nBlackWidth, 4 * H / 7} : SIZE{kw, H - 5};
            EXPECT_EQ(p->m_origin, origin) << nKeyDiv << " slot " << i;
            EXPECT_EQ(p->m_size, size) << nKeyDiv << " slot " << i;
            EXPECT_EQ(p->m_bBlack, int(bBlack));
            EXPECT_EQ(p->m_nNotchHeight, bBlack ? 0 : 3 * H / 7 - 2) << i;
            EXPECT_EQ(p->m_nLeftNotch, !bBlack && rig.Key(i - 1) ? nLeft : 0) << i;
            EXPECT_EQ(p->m_nRightNotch, !bBlack && rig.Key(i + 1) ? nRight : 0) << i;
        }
        EXPECT_EQ(rig.wnd.ClockRect().left, x0);
        EXPECT_EQ(rig.wnd.ClockRect().right, x0 + nKeyDiv * kw);
    }
}

TEST(KeyboardLayout, DamagedKeyCountsAndPitchesStayInBounds)
{
    KeyboardRig rig;
    // 85 Hz puts a note at 5440 Hz, whose upper half semitone reaches bin
    // 520 of the 512 there are.
    const int cases[][2] = {{0, 440}, {-3, 440},         {100000, 440}, {21, 0},
                            {21, -5}, {21, 2000000000}, {32, 85}};
    for (const auto &c : cases) {
        g_DisplaySettings.BaseKey = c[1];
        rig.Layout(c[0]);
        int n = 0;
        for (int i = 0; i < CSpectrumWnd::kMaxElements; ++i) {
            const CBandElement *p = rig.wnd.Element(i);
            n += p != nullptr;
            if (p) {
                EXPECT_TRUE(p->m_nFirstBin >= 0 && p->m_nFirstBin + p->m_nBinCount <= 512);
            }
        }
        EXPECT_TRUE(c[0] < 1 ? n == 2 : n >= 1) << c[0] << " / " << c[1] << ": " << n;
    }
}
