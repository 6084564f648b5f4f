#include "display/CChipColumn.h"

#include "graphics/CDC.h"
#include "settings/Settings.h"

#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <vector>

namespace {

// The default colours: grey outline, yellow peak, cyan to light violet chips on black.
constexpr COLORREF kOutline = RGB(128, 128, 128), kPeak = RGB(255, 255, 0);
constexpr COLORREF kChip1 = RGB(0, 255, 255), kChip2 = RGB(255, 128, 255), kMarker = RGB(1, 2, 3);
constexpr RECT kGraph{20, 10, 300, 250}; // area (x, y) is pixel (20 + x, 250 - y)

QRgb Q(COLORREF c)
{
    return qRgb(GetRValue(c), GetGValue(c), GetBValue(c));
}

class ChipColumnTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetSettings();
        m_settings = g_DisplaySettings;
        m_settings.FreqStrSw = m_settings.SpectFrameDraw = 0;
        m_settings.Ldiv = 2;
        m_image.fill(0);
        RECT rc = kGraph;
        m_map.SetupForRect(rc);
        m_col.SetMapper(&m_map);
        BuildPens(m_settings, m_pens);
        m_col.SetGeometry({30, 5}, {23, 102}, 0); // 20 chips of 3 rows, 5 apart
    }

    // One frame: the counter advances and the level lights n chips (0: silence).
    void Frame(CChipColumn &col, int n, bool bSuppressed = false)
    {
        ++m_nFrame; // in the middle of the step, from -60 to -30 dB
        const double dB = -60.0 + (n + 0.5) * 30.0 / col.m_nChips;
        col.m_fLevel = n <= 0 ? 0.0f : float(32767.0 * std::pow(10.0, dB / 20.0));
        bSuppressed ? col.DrawUpdateSuppressed(&m_dc, &m_pens) : col.DrawUpdate(&m_dc, &m_pens);
    }
    template <typename F> void ExpectChipColours(F colour)
    {
        for (int i = 0; i < m_col.m_nChips; ++i) {
            const RECT rc = m_col.ChipRect(i);
            for (int y = rc.top; y <= rc.bottom; ++y)
                for (int x = rc.left; x < rc.right; ++x)
                    ASSERT_EQ(m_image.pixel(kGraph.left + x, kGraph.bottom - y), Q(colour(i)))
                        << "chip " << i;
        }
    }

    DisplaySettings m_settings;
    uint32_t m_nFrame = 0;
    CChipColumn m_col{m_settings, m_nFrame};
    QImage m_image{320, 260, QImage::Format_RGB32};
    CDC m_dc{&m_image};
    CCoordMapper m_map;
    PenTable m_pens;
};

} // namespace

// The bar rises at once and falls half the way; peaks hold, bounce or fall by stack length.
TEST_F(ChipColumnTest, BarAndPeakSequences)
{
    // clang-format off
    struct Case { const char *name; int nLPeek, nLdiv, nChips, nCounter; std::vector<int> levels, tops, peaks; }; // levels: chips lit
    const Case cases[] = {
        {"bar", 2, 2, 20, 0, {20, 0, 0, 0, 0, 0, 0, 13}, {19, 9, 4, 1, 0, -1, -1, 12}, {}},
        {"hold", 0, 2, 20, 0, {15, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 8, 10}, {14, 9, 6, 5, 4, 4, 4, 4, 4, 4, 4, 7, 9},
         {14, 14, 14, 14, 14, 14, 14, 14, 14, 14, 4, 7, 9}},
        {"bouncing", 2, 2, 20, 0, {12}, {}, {11, 13, 15, 16, 17, 17, 17, 17, 16, 15, 14, 13}},
        // Velocity min(39 / 2, 16): held at the top with the velocity cut to 3, then 16 / 4 per two frames.
        {"bouncing at the top", 2, 0, 40, 0, {40}, {}, {39, 39, 39, 39, 39, 39, 38, 37, 35, 33, 31}},
        {"falling, 24 chips", 1, 2, 24, 9, {21}, {}, {20, 19, 19, 18, 18, 17, 17}}, // counters 10, 11, ...
        {"falling, 29 chips", 1, 2, 29, 0, {29}, {}, {28, 28}},
        {"falling, 30 chips", 1, 2, 30, 0, {30}, {}, {29, 28}},
        {"falling, 59 chips", 1, 0, 59, 0, {59}, {}, {58, 57}},
        {"falling, 60 chips", 1, 0, 60, 0, {60}, {}, {59, 57}},
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        m_settings.LPeek = c.nLPeek;
        m_settings.Ldiv = c.nLdiv;
        CChipColumn col{m_settings, m_nFrame};
        col.SetMapper(&m_map);
        col.SetGeometry({30, 5}, {10, c.nLdiv ? 5 * c.nChips + 2 : 2 * c.nChips + 1}, 0);
        m_nFrame = uint32_t(c.nCounter);
        for (size_t i = 0; i < std::max(c.tops.size(), c.peaks.size()); ++i) {
            Frame(col, i < c.levels.size() ? c.levels[i] : 0);
            const bool bTop = i < c.tops.size(), bPeak = i < c.peaks.size();
            EXPECT_EQ(std::pair(bTop ? col.m_nTop : 0, bPeak ? col.m_nPeak : 0),
                      std::pair(bTop ? c.tops[i] : 0, bPeak ? c.peaks[i] : 0))
                << "frame " << i;
        }
    }
}

TEST_F(ChipColumnTest, GradientPensAndUpdatesOfChangedChipsOnly)
{
    // Red 0 -> 255, green 255 -> 128 in 11 steps, each cut towards zero.
    EXPECT_EQ(
        std::tuple(m_pens[0].color, m_pens[1].color, m_pens[5].color, m_pens[10].color,
                   m_pens[11].color),
        std::tuple(kChip1, RGB(23, 244, 255), RGB(115, 198, 255), RGB(231, 140, 255), kChip2));
    PenTable plain; // one colour: the first, the other pens empty
    m_settings.CGrad = 0;
    BuildPens(m_settings, plain);
    EXPECT_EQ(std::tuple(plain[0].color, plain[1].IsNull(), plain[11].IsNull()),
              std::tuple(kChip1, true, true));
    // Of 20 chips, chip i takes pen 12 (i + 1) / 20, at most 11; the top is capped at the stack.
    m_col.m_nTop = 20;
    m_col.DrawFull(&m_dc, &m_pens);
    const int anPen[19] = {0, 1, 1, 2, 3, 3, 4, 4, 5, 6, 6, 7, 7, 8, 9, 9, 10, 10, 11};
    const auto lit = [&](int i) { return m_pens[anPen[i]].color; };
    ExpectChipColours([&](int i) { return i < 19 ? lit(i) : kPeak; });
    // Updates repaint only chips whose state changed.
    m_settings.LPeek = 0;
    m_col.m_nTop = 0;
    m_col.DrawFull(&m_dc, &m_pens); // chip 0 as the peak
    Frame(m_col, 12);
    Frame(m_col, 6); // bar 11 -> 8, peak held at 11
    ExpectChipColours([&](int i) { return i <= 8 ? lit(i) : i == 11 ? kPeak : 0; });
    // A marker over everything: only chips 9 to 13 change state, and only they are drawn.
    m_image.fill(Q(kMarker));
    m_dc.ClearDirty();
    Frame(m_col, 14); // 9, 10, 12 unlit -> lit, 11 peak -> lit, 13 unlit -> peak
    ExpectChipColours([&](int i) {
        return i >= 9 && i <= 12 ? lit(i) : i == 13 ? kPeak : kMarker;
    });
    m_dc.ClearDirty();
    m_col.DrawUpdate(&m_dc, &m_pens); // nothing changes, nothing is drawn
    Frame(m_col, 17, true);           // suppressed: the states follow, the screen stays
    EXPECT_EQ(std::tuple(m_col.m_nTop, m_col.ChipState(16), m_col.m_bSuppress, m_dc.DirtyCount()),
              std::tuple(16, int(CChipColumn::CHIP_PEAK), 0, 0));
}

// A turned label is centred in its 24-row strip across the column's base.
TEST_F(ChipColumnTest, TurnedLabelsStayInTheirStrip)
{
    m_settings.FreqStrSw = 1;
    CChipColumn col{m_settings, m_nFrame};
    col.SetMapper(&m_map);
    col.SetGeometry({150, 20}, {19, 150}, 90);
    col.m_strLabel = "10k";
    col.m_nTop = -1;
    col.DrawFull(&m_dc, &m_pens);
    int anInk[2] = {}; // outside, inside the strip
    for (int y = 0; y < m_image.height(); ++y)
        for (int x = 0; x < m_image.width(); ++x) {
            const int ax = x - kGraph.left, ay = kGraph.bottom - y;
            anInk[ax >= 150 - 24 && ax <= 150 && ay >= 20 && ay <= 39] +=
                m_image.pixel(x, y) != qRgb(0, 0, 0);
        }
    EXPECT_EQ(std::pair(anInk[0], anInk[1] > 10), std::pair(0, true));
}
