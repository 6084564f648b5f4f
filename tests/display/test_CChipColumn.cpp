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

// Chips per length by Ldiv (wrong ones become 2), size used, first column, label alignment.
TEST_F(ChipColumnTest, PlacementFollowsTheSettingsAndTheAngle)
{
    const int top = CDC::TA_CENTER | CDC::TA_TOP, bot = CDC::TA_CENTER | CDC::TA_BOTTOM;
    // Ldiv, labels, angle, width, length, chips, length used, chip x1, align, rotated.
    // clang-format off
    const int cases[][10] = {
        {0, 0, 0, 20, 100, 49, 99, 11, top, 0},  // (100 - 2 - 1) / 2 + 1; 2 x 49 + 2 - 1
        {3, 0, 0, 20, 100, 16, 98, 11, top, 0},  // (100 - 4 - 4) / 6 + 1; 6 x 16 + 4 - 2
        {2, 0, 0, 20, 6, 1, 7, 11, top, 0},      // (6 - 4 - 3) / 5 cuts to 0: still one chip
        {7, 0, 0, 20, 100, 19, 97, 11, top, 0},  {-1, 0, 0, 20, 100, 19, 97, 11, top, 0},
        {1, 0, 0, 2, 60, 14, 58, 10, top, 0},    // too narrow for a blank column either side
        // A 13-row label strip along, 24 across: (100 - 4 - 3 - 13) / 5 + 1 chips.
        {2, 1, 0, 20, 100, 17, 100, 11, top, 0},   {2, 1, 0, 20, -100, 17, -100, 11, bot, 0},
        {2, 1, 90, 20, 100, 14, 96, 11, bot, 1},   {2, 1, 180, 20, 100, 17, 100, 11, bot, 0},
        {2, 1, 180, 20, -100, 17, -100, 11, top, 0}, {2, 1, 270, -20, 100, 14, 96, 11, bot, 1},
    };
    // clang-format on
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        m_settings.Ldiv = c[0];
        m_settings.FreqStrSw = c[1];
        CChipColumn col{m_settings, m_nFrame};
        EXPECT_EQ(col.SetGeometry({10, 0}, {c[3], c[4]}, c[2]), (SIZE{c[3], c[6]}));
        EXPECT_EQ(std::tuple(col.m_nChips, m_settings.Ldiv, col.ChipRect(0).left),
                  std::tuple(c[5], c[0] >= 0 && c[0] < 4 ? c[0] : 2, c[7]));
        EXPECT_EQ(std::pair(col.m_nLabelAlign, col.m_bRotatedLabel), std::pair(c[8], c[9]));
    }
}

// Every Ldiv, outline and label strip, in each way the layouts turn and mirror a column.
TEST_F(ChipColumnTest, FullRepaintPaintsExactlyTheDescribedPixels)
{
    m_settings.CGrad = 0; // every lit chip in the first colour
    BuildPens(m_settings, m_pens);
    // clang-format off
    struct Geometry { int nAngle; POINT origin; SIZE size; };
    const Geometry geometries[] = {
        {0, {30, 5}, {23, 200}},    {0, {30, 5}, {5, 120}},       {0, {40, 130}, {23, -110}},
        {90, {200, 20}, {19, 150}}, {270, {120, 20}, {-19, 150}}, {180, {150, 220}, {23, 150}},
    };
    // clang-format on
    QImage expected(m_image.size(), QImage::Format_RGB32);
    for (int k = 0; k < 96; ++k) {
        const int nLdiv = k / 24, nFrame = k / 12 % 2, nStrip = k / 6 % 2;
        const Geometry &geo = geometries[k % 6];
        m_settings.Ldiv = nLdiv;
        m_settings.SpectFrameDraw = nFrame;
        m_settings.FreqStrSw = nStrip;
        m_image.fill(0);
        CChipColumn col{m_settings, m_nFrame};
        col.SetMapper(&m_map);
        col.SetGeometry(geo.origin, geo.size, geo.nAngle);
        const int n = col.m_nChips;
        col.m_nTop = n - 4; // lit 0..n-5, peak n-4, unlit above
        col.DrawFull(&m_dc, &m_pens);

        // Element (x, y) to area: mirrored by the size's signs, turned about the origin.
        const int c = geo.nAngle == 180 ? -1 : geo.nAngle % 180 ? 0 : 1;
        const int s = geo.nAngle == 90 ? 1 : geo.nAngle == 270 ? -1 : 0;
        const auto toArea = [&](int ex, int ey) {
            ex = geo.size.cx < 0 ? geo.origin.x - ex : ex - geo.origin.x;
            ey = geo.size.cy < 0 ? geo.origin.y - ey : ey - geo.origin.y;
            return POINT{geo.origin.x + c * ex - s * ey, geo.origin.y + s * ex + c * ey};
        };
        // Rows of an element rectangle without their right ends, or the closed outline.
        const auto paint = [&](int x1, int y1, int x2, int y2, COLORREF colour,
                               bool bRing = false) {
            const POINT a = toArea(x1, y1), b = toArea(x2, y2);
            const int l = std::min(a.x, b.x), r = std::max(a.x, b.x);
            const int bo = std::min(a.y, b.y), to = std::max(a.y, b.y);
            for (int ay = bo; ay <= to; ++ay)
                for (int ax = l; ax < r + bRing; ++ax)
                    if (!bRing || ax == l || ax == r || ay == bo || ay == to)
                        expected.setPixel(kGraph.left + ax, kGraph.bottom - ay, Q(colour));
        };
        const int t = nLdiv + 1, gap = nLdiv ? 2 : 1, m = gap; // rows, gap, end margin
        const int b = nStrip ? (geo.nAngle % 180 ? 24 : 13) : 0;
        const int w = std::abs(geo.size.cx), x = geo.origin.x, y = geo.origin.y;
        const int inset = nFrame && w >= 6 ? 2 : 1;
        const int x1 = !nFrame && w <= 2 ? x : x + inset, x2 = x + w - inset;
        expected.fill(0);
        if (nFrame)
            paint(x, y + b, x + w, y + (t + gap) * n + 2 * m + b - gap, kOutline, true);
        // A chip's rows each leave out their end pixel across the column, whatever its turn.
        for (int i = 0; i < n; ++i)
            for (int ey = y + b + m + i * (t + gap), e = ey + t; ey < e; ++ey)
                for (int ex = std::min(x1, x2); ex < std::max(x1, x2); ++ex) {
                    const POINT a = toArea(ex, ey);
                    expected.setPixel(kGraph.left + a.x, kGraph.bottom - a.y,
                                      Q(i < n - 4    ? kChip1
                                        : i == n - 4 ? kPeak
                                                     : 0));
                }
        ASSERT_TRUE(m_image == expected) << "Ldiv " << nLdiv << " frame " << nFrame << " strip "
                                         << nStrip << " geometry " << &geo - geometries;
    }
}

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
            anInk[ax >= 150 - 24 && ax <= 150 && ay >= 20 && ay <= 39] += m_image.pixel(x, y) != qRgb(0, 0, 0);
        }
    EXPECT_EQ(std::pair(anInk[0], anInk[1] > 10), std::pair(0, true));
}
