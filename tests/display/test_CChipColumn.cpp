#include "display/CChipColumn.h"

#include "settings/Settings.h"
#include "graphics/CDC.h"

#include <QFont>
#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

// Counts allocations made through operator new while a test asks for it, to
// show that the per-frame path allocates nothing.
namespace {
bool g_bCountAllocations = false;
int g_nAllocations = 0;
} // namespace

void *operator new(std::size_t nSize)
{
    if (void *p = ::operator new(nSize, std::nothrow))
        return p;
    throw std::bad_alloc();
}
void *operator new[](std::size_t nSize)
{
    return ::operator new(nSize);
}
// The non-throwing forms too: every form that the deletes below may free
// must come from malloc (the sanitizer build checks that they match).
void *operator new(std::size_t nSize, const std::nothrow_t &) noexcept
{
    g_nAllocations += g_bCountAllocations;
    return std::malloc(nSize ? nSize : 1);
}
void *operator new[](std::size_t nSize, const std::nothrow_t &tag) noexcept
{
    return ::operator new(nSize, tag);
}
void operator delete(void *p) noexcept
{
    std::free(p);
}
void operator delete[](void *p) noexcept
{
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void *p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kOutline = RGB(0, 0, 200);
constexpr COLORREF kPeak = RGB(255, 255, 0);
constexpr COLORREF kChip1 = RGB(0, 255, 255);   // 0xFFFF00
constexpr COLORREF kChip2 = RGB(255, 128, 255); // 0xFF80FF
constexpr COLORREF kMarker = RGB(1, 2, 3);

QRgb Q(COLORREF c)
{
    return qRgb(GetRValue(c), GetGValue(c), GetBValue(c));
}

// The gradient step between two colours, worked channel by channel in real
// numbers and cut towards zero.
COLORREF GradientColor(COLORREF c1, COLORREF c2, int i)
{
    const auto channel = [i](int a, int b) {
        return a + int(std::trunc(double(i) * (b - a) / 11.0));
    };
    return RGB(channel(GetRValue(c1), GetRValue(c2)), channel(GetGValue(c1), GetGValue(c2)),
               channel(GetBValue(c1), GetBValue(c2)));
}

// The colour of lit chip i of n with the gradient on.
COLORREF LitColor(int i, int n)
{
    return GradientColor(kChip1, kChip2, std::min(12 * (i + 1) / n, 11));
}

// What the layout would hand a column.
struct Geometry
{
    int nAngle;
    POINT origin;
    SIZE size; // as given, signs included
};

// Element point to graph-area point: mirror by the size's signs, then turn
// by the angle about the origin.
POINT ToArea(const Geometry &geo, int ex, int ey)
{
    const int dx = geo.size.cx < 0 ? geo.origin.x - ex : ex - geo.origin.x;
    const int dy = geo.size.cy < 0 ? geo.origin.y - ey : ey - geo.origin.y;
    const int c = geo.nAngle == 180 ? -1 : geo.nAngle % 180 ? 0 : 1;
    const int s = geo.nAngle == 90 ? 1 : geo.nAngle == 270 ? -1 : 0;
    return {geo.origin.x + c * dx - s * dy, geo.origin.y + s * dx + c * dy};
}

class ChipColumnTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetSettings();
        m_settings = g_DisplaySettings;
        m_settings.Cbackground = int(kBlack);
        m_settings.Coutline = int(kOutline);
        m_settings.Cpeekchip = int(kPeak);
        m_settings.Cchip1 = int(kChip1);
        m_settings.Cchip2 = int(kChip2);
        m_settings.CGrad = 1;
        m_settings.Lmin = -60;
        m_settings.Lmax = -30;
        m_settings.FreqStrSw = 0;
        m_settings.SpectFrameDraw = 0;

        m_image.fill(qRgb(0, 0, 0));
        RECT rc = kGraph;
        m_map.SetupForRect(rc);
        m_col.SetMapper(&m_map);
        BuildPens(m_settings, m_pens);
        m_nFrame = 0;
    }

    // Places a column as a stack of 20 chips at Ldiv 2 with no label strip.
    void PlaceTwenty()
    {
        m_settings.Ldiv = 2;
        m_col.SetGeometry({30, 5}, {23, 102}, 0);
        ASSERT_EQ(m_col.m_nChips, 20);
    }

    // One frame of the window: the frame counter advances, the level is set
    // in the middle of the step that lights n chips (0: silence) and the
    // column updates.
    void Frame(CChipColumn &col, int n, bool bSuppressed = false)
    {
        const double dB =
            m_settings.Lmin + (n + 0.5) * (m_settings.Lmax - m_settings.Lmin) / col.m_nChips;
        ++m_nFrame;
        col.m_fLevel = n <= 0 ? 0.0f : float(32767.0 * std::pow(10.0, dB / 20.0));
        bSuppressed ? col.DrawUpdateSuppressed(&m_dc, &m_pens) : col.DrawUpdate(&m_dc, &m_pens);
    }

    // The device rectangle of chip i for an unrotated, unmirrored column.
    QRect ChipDeviceRect(int i) const
    {
        const RECT rc = m_col.ChipRect(i);
        return QRect(QPoint(kGraph.left + rc.left, kGraph.bottom - rc.bottom),
                     QPoint(kGraph.left + rc.right - 1, kGraph.bottom - rc.top));
    }

    // Every pixel of each chip of the column above has the colour given.
    void ExpectChipColours(COLORREF (*colour)(int))
    {
        for (int i = 0; i < m_col.m_nChips; ++i) {
            const QRect r = ChipDeviceRect(i);
            for (int y = r.top(); y <= r.bottom(); ++y)
                for (int x = r.left(); x <= r.right(); ++x)
                    ASSERT_EQ(m_image.pixel(x, y), Q(colour(i))) << "chip " << i;
        }
    }

    static constexpr RECT kGraph{20, 10, 300, 250};
    DisplaySettings m_settings;
    uint32_t m_nFrame = 0; // the frame ticks of the columns' display
    CChipColumn m_col{m_settings, m_nFrame};
    QImage m_image{320, 260, QImage::Format_RGB32};
    CDC m_dc{&m_image};
    CCoordMapper m_map;
    PenTable m_pens;
};

} // namespace

TEST_F(ChipColumnTest, DecibelsCountChipsFromTheLowerLimit)
{
    const double at45 = 32767.0 * std::pow(10.0, -45.0 / 20.0);
    // 15 dB above -60 at 1.5 dB per chip: 10 chips from just above -45 dB.
    EXPECT_EQ(CChipColumn::ChipsForLevel(float(at45 * 1.0001), -60, -30, 20), 10);
    EXPECT_EQ(CChipColumn::ChipsForLevel(float(at45 * 0.9999), -60, -30, 20), 9);
    EXPECT_EQ(CChipColumn::ChipsForLevel(0.0f, -60, -30, 20), 0);
    // Below the lower limit nothing is lit.
    EXPECT_EQ(CChipColumn::ChipsForLevel(float(32767.0 * std::pow(10.0, -4.0)), -60, -30, 20), 0);
    // Twice full scale, +6.02 dB: 66.02 / 1.5 = 44, past the top of the stack.
    EXPECT_EQ(CChipColumn::ChipsForLevel(65534.0f, -60, -30, 20), 44);

    // Through the band: 44.9 dB below full scale; the 0..14 % jitter adds at
    // most 1.14 dB, and -43.76 dB still lies within the tenth chip's step.
    PlaceTwenty();
    const float bins[3] = {0.0f, float(32767.0 * std::pow(10.0, -44.9 / 20.0)), 0.0f};
    m_col.SetSpectrum(bins, bins[1]);
    m_col.SetBins({0, 3, {}});
    for (int i = 0; i < 31; ++i) {
        if (i == 30)
            m_col.SetSpectrum(nullptr, 0.0f); // no spectrum: silence
        m_col.m_nTop = -1;
        m_col.ComputeLevel();
        m_col.DrawUpdate(&m_dc, nullptr);
        ASSERT_EQ(m_col.m_nTop, i < 30 ? 9 : -1) << m_col.m_fLevel;
    }
}

// Chips per length for every Ldiv (wrong ones are rewritten to 2), the
// columns of a chip with and without the divider lines, and the label strip,
// text alignment and returned signs for every angle and mirroring.
TEST_F(ChipColumnTest, PlacementFollowsTheSettingsAndTheAngle)
{
    struct Case
    {
        int nLdiv, nFrame, nStrip, nAngle, w, nLength, nChips, nUsed, x1, x2, nAlign, bRotated;
    };
    const int top = CDC::TA_CENTER | CDC::TA_TOP, bot = CDC::TA_CENTER | CDC::TA_BOTTOM;
    // clang-format off
    const Case cases[] = {
        {0, 0, 0, 0, 20, 100, 49, 99, 11, 29, top, 0},  // (100 - 2 - 1) / 2 + 1; 2 x 49 + 2 - 1
        {1, 0, 0, 0, 20, 100, 24, 98, 11, 29, top, 0},  // (100 - 4 - 2) / 4 + 1; 4 x 24 + 4 - 2
        {2, 0, 0, 0, 20, 100, 19, 97, 11, 29, top, 0},  // (100 - 4 - 3) / 5 + 1; 5 x 19 + 4 - 2
        {3, 0, 0, 0, 20, 100, 16, 98, 11, 29, top, 0},  // (100 - 4 - 4) / 6 + 1; 6 x 16 + 4 - 2
        {2, 0, 0, 0, 20, 102, 20, 102, 11, 29, top, 0},
        {2, 0, 0, 0, 20, 6, 1, 7, 11, 29, top, 0},      // (6 - 4 - 3) / 5 cuts to 0: still one chip
        {7, 0, 0, 0, 20, 100, 19, 97, 11, 29, top, 0},
        {-1, 0, 0, 0, 20, 100, 19, 97, 11, 29, top, 0},
        {1, 1, 0, 0, 23, 60, 14, 58, 12, 31, top, 0},   {1, 1, 0, 0, 6, 60, 14, 58, 12, 14, top, 0},
        {1, 1, 0, 0, 5, 60, 14, 58, 11, 14, top, 0},    {1, 1, 0, 0, 2, 60, 14, 58, 11, 11, top, 0},
        {1, 0, 0, 0, 23, 60, 14, 58, 11, 32, top, 0},   {1, 0, 0, 0, 3, 60, 14, 58, 11, 12, top, 0},
        {1, 0, 0, 0, 2, 60, 14, 58, 10, 11, top, 0},    {1, 0, 0, 0, 1, 60, 14, 58, 10, 10, top, 0},
        // A 13-row label strip along, 24 across: (100 - 4 - 3 - 13) / 5 + 1 chips.
        {2, 0, 1, 0, 20, 100, 17, 100, 11, 29, top, 0},
        {2, 0, 1, 0, 20, -100, 17, -100, 11, 29, bot, 0},
        {2, 0, 1, 90, 20, 100, 14, 96, 11, 29, bot, 1},
        {2, 0, 1, 180, 20, 100, 17, 100, 11, 29, bot, 0},
        {2, 0, 1, 180, 20, -100, 17, -100, 11, 29, top, 0},
        {2, 0, 1, 270, -20, 100, 14, 96, 11, 29, bot, 1},
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(&c - cases);
        m_settings.Ldiv = c.nLdiv;
        m_settings.SpectFrameDraw = c.nFrame;
        m_settings.FreqStrSw = c.nStrip;
        CChipColumn col{m_settings, m_nFrame};
        EXPECT_EQ(col.SetGeometry({10, 0}, {c.w, c.nLength}, c.nAngle), (SIZE{c.w, c.nUsed}));
        EXPECT_EQ(col.m_nChips, c.nChips);
        EXPECT_EQ(m_settings.Ldiv, c.nLdiv >= 0 && c.nLdiv < 4 ? c.nLdiv : 2);
        EXPECT_EQ(std::pair(col.ChipRect(0).left, col.ChipRect(0).right), std::pair(c.x1, c.x2));
        EXPECT_EQ(col.m_nLabelStrip, c.nStrip ? (c.nAngle % 180 ? 24 : 13) : 0);
        EXPECT_EQ(std::pair(col.m_nLabelAlign, col.m_bRotatedLabel),
                  std::pair(c.nAlign, c.bRotated));
        for (int i = 0; i < col.m_nChips; ++i)
            ASSERT_EQ(col.ChipState(i), CChipColumn::CHIP_UNLIT);
    }

    // An unknown angle leaves the column as it was.
    m_settings.FreqStrSw = 0;
    PlaceTwenty();
    EXPECT_EQ(m_col.SetGeometry({90, 90}, {10, 300}, 45), (SIZE{10, 300}));
    EXPECT_EQ(m_col.m_nChips, 20);
    EXPECT_EQ(m_col.m_origin, (POINT{30, 5}));
    EXPECT_EQ(m_col.m_size, (SIZE{23, 102}));

    // Too short for a chip: nothing to draw, the column stays idle.
    m_settings.FreqStrSw = 1;
    EXPECT_EQ(m_col.SetGeometry({30, 5}, {23, 5}, 0), (SIZE{23, 5}));
    EXPECT_LE(m_col.m_nChips, 0); // (5 - 4 - 3 - 13) / 5 + 1 = -2
    const QImage before = m_image.copy();
    m_col.DrawFull(&m_dc, &m_pens);
    m_col.m_fLevel = 65534.0f;
    m_col.DrawUpdate(&m_dc, &m_pens);
    EXPECT_EQ(m_col.IsIdle(), 1);
    EXPECT_TRUE(m_image == before);
}

// Pixels of a full repaint, for every Ldiv, with and without the divider
// lines and the label strip, for each way the layouts turn and mirror a
// column. Colours: gradient lit chips, the peak chip on top, unlit chips in
// the background colour.
TEST_F(ChipColumnTest, FullRepaintPaintsExactlyTheDescribedPixels)
{
    const Geometry geometries[] = {
        {0, {30, 5}, {23, 200}},      // mono and side by side
        {0, {30, 5}, {5, 120}},       // narrow
        {0, {40, 130}, {23, -110}},   // top/bottom, lower half
        {90, {200, 20}, {19, 150}},   // left/right, left half
        {270, {120, 20}, {-19, 150}}, // left/right, right half
        {180, {150, 220}, {23, 150}},
    };
    // Chip thickness, gap and end margin by Ldiv.
    constexpr int kMetrics[4][3] = {{1, 1, 1}, {2, 2, 2}, {3, 2, 2}, {4, 2, 2}};
    QImage expected(m_image.size(), QImage::Format_RGB32);
    // Paints the rows of an element rectangle, normalised in area
    // coordinates, each without its right end; or the outline of the closed
    // rectangle. Every column here lies inside the graph area.
    const auto paint = [&](const Geometry &geo, int x1, int y1, int x2, int y2, COLORREF c,
                           bool bRing = false) {
        const POINT a = ToArea(geo, x1, y1), b = ToArea(geo, x2, y2);
        const int l = std::min(a.x, b.x), r = std::max(a.x, b.x);
        const int bo = std::min(a.y, b.y), to = std::max(a.y, b.y);
        for (int ay = bo; ay <= to; ++ay)
            for (int ax = l; ax < r + bRing; ++ax)
                if (!bRing || ax == l || ax == r || ay == bo || ay == to)
                    expected.setPixel(kGraph.left + ax, kGraph.bottom - ay, Q(c));
    };
    for (int nCombo = 0; nCombo < 16; ++nCombo) {
        const int nLdiv = nCombo / 4, nFrame = nCombo / 2 % 2, nStrip = nCombo % 2;
        for (const Geometry &geo : geometries) {
            m_settings.Ldiv = nLdiv;
            m_settings.SpectFrameDraw = nFrame;
            m_settings.FreqStrSw = nStrip;
            m_image.fill(qRgb(0, 0, 0));
            CChipColumn col{m_settings, m_nFrame};
            col.SetMapper(&m_map);
            col.SetGeometry(geo.origin, geo.size, geo.nAngle);
            ASSERT_GT(col.m_nChips, 4);
            const int n = col.m_nChips;
            col.m_nTop = n - 4; // lit 0..n-5, peak n-4, unlit above
            col.DrawFull(&m_dc, &m_pens);

            // The expected picture, from the geometry alone.
            const auto [t, gap, m] = kMetrics[nLdiv];
            const int b = nStrip ? (geo.nAngle % 180 ? 24 : 13) : 0;
            const int w = std::abs(geo.size.cx);
            const int x = geo.origin.x, y = geo.origin.y;
            const int inset = nFrame && w >= 6 ? 2 : 1;
            const int x1 = !nFrame && w <= 2 ? x : x + inset, x2 = x + w - inset;
            expected.fill(qRgb(0, 0, 0));
            if (nFrame)
                paint(geo, x, y + b, x + w, y + (t + gap) * n + 2 * m + b - gap, kOutline, true);
            for (int i = 0; i < n; ++i) {
                const int r = y + b + m + i * (t + gap);
                // Each row of the chip without its end pixel across the column.
                for (int ey = r; ey <= r + t - 1; ++ey)
                    for (int ex = std::min(x1, x2); ex < std::max(x1, x2); ++ex) {
                        const POINT a = ToArea(geo, ex, ey);
                        expected.setPixel(kGraph.left + a.x, kGraph.bottom - a.y,
                                          Q(i < n - 4    ? LitColor(i, n)
                                            : i == n - 4 ? kPeak
                                                         : kBlack));
                    }
            }
            ASSERT_TRUE(m_image == expected)
                << "Ldiv " << nLdiv << " frame " << nFrame << " strip " << nStrip << " angle "
                << geo.nAngle << " size " << geo.size.cx << "," << geo.size.cy;
            for (int i = 0; i < n; ++i)
                ASSERT_EQ(col.ChipState(i), i < n - 4 ? 1 : i == n - 4 ? 2 : 0) << i;
        }
    }
}

TEST_F(ChipColumnTest, PensAndFullRepaintsWithOneColourOrNoPensAndATopPastTheStack)
{
    BuildPens(m_settings, m_pens);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(m_pens[i].color, GradientColor(kChip1, kChip2, i)) << i;
    // Worked by hand: red 0 -> 255, green 255 -> 128 (cut towards zero, so
    // a falling channel rounds up), blue stays.
    EXPECT_EQ(m_pens[1].color, RGB(23, 244, 255));
    EXPECT_EQ(m_pens[5].color, RGB(115, 198, 255));
    EXPECT_EQ(m_pens[11].color, kChip2);

    // Without the gradient only the first pen exists (stale ones are
    // cleared), and every lit chip takes the first colour.
    m_settings.CGrad = 0;
    BuildPens(m_settings, m_pens);
    for (int i = 1; i < 12; ++i)
        EXPECT_TRUE(m_pens[i].IsNull()) << i;
    PlaceTwenty();
    m_col.m_nTop = 15;
    m_col.DrawFull(&m_dc, &m_pens);
    ExpectChipColours([](int i) { return i < 15 ? kChip1 : i == 15 ? kPeak : kBlack; });

    // Without pens the lit chips take the outline colour.
    m_col.m_nTop = 5;
    m_col.DrawFull(&m_dc, nullptr);
    ExpectChipColours([](int i) { return i < 5 ? kOutline : i == 5 ? kPeak : kBlack; });

    // The top is capped at the stack; below the base nothing is lit.
    m_col.m_nTop = 35;
    m_col.DrawFull(&m_dc, nullptr);
    EXPECT_EQ(m_col.m_nTop, 19);
    EXPECT_EQ(m_col.ChipState(19), CChipColumn::CHIP_PEAK);
    ExpectChipColours([](int i) { return i < 19 ? kOutline : kPeak; });
    m_col.m_nTop = -1;
    m_col.DrawFull(&m_dc, nullptr);
    EXPECT_EQ(m_col.IsIdle(), 1);
    ExpectChipColours([](int) { return kBlack; });
}

// Labels: text pixels are the only greys, white antialiased on black.
TEST_F(ChipColumnTest, ALabelSitsCentredInItsStripOrIsNotDrawnAtAll)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    m_dc.SelectFont(&font);
    m_dc.SetBkMode(CDC::TRANSPARENT);
    m_dc.SetTextColor(RGB(255, 255, 255));
    m_settings.Ldiv = 2;
    m_settings.SpectFrameDraw = 1;
    struct Case
    {
        Geometry geo;
        const char *text;
        int nPlaced, nDrawn; // labels on when placed, when drawn
        QRect strip;         // area x and y ranges the ink keeps to
        double x, y;         // the middle of the ink; 0: no ink at all
    };
    // clang-format off
    const Case cases[] = {
        // Area rows 5..17, under the frame's bottom line at row 18.
        {{0, {30, 5}, {30, 150}}, "1k", 1, 1, {QPoint(30, 5), QPoint(60, 18)}, 45.0, 11.0},
        // Angle 90: the stack grows to the left of the origin, the 24-wide
        // strip lies between x 176 and 200.
        {{90, {200, 20}, {19, 150}}, "30", 1, 1, {QPoint(176, 20), QPoint(200, 39)}, 188.0, 29.5},
        {{0, {30, 5}, {30, 150}}, "", 1, 1, {}, 0, 0},   // no text
        {{0, {30, 5}, {30, 150}}, "1k", 1, 0, {}, 0, 0}, // switched off after placement
        {{0, {30, 5}, {30, 150}}, "1k", 0, 1, {}, 0, 0}, // placed without labels
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(&c - cases);
        m_image.fill(qRgb(0, 0, 0));
        m_settings.FreqStrSw = c.nPlaced;
        m_col.SetGeometry(c.geo.origin, c.geo.size, c.geo.nAngle);
        m_col.SetBins({10, 2, QString::fromLatin1(c.text)});
        m_settings.FreqStrSw = c.nDrawn;
        const int nAlign = m_dc.GetTextAlign();
        m_col.DrawFull(&m_dc, nullptr);
        EXPECT_EQ(m_dc.GetTextAlign(), nAlign);

        QPolygon ink;
        for (int y = 0; y < m_image.height(); ++y) {
            for (int x = 0; x < m_image.width(); ++x) {
                const QRgb k = m_image.pixel(x, y);
                if (qRed(k) && qRed(k) == qGreen(k) && qGreen(k) == qBlue(k))
                    ink << QPoint(x - kGraph.left, kGraph.bottom - y);
            }
        }
        EXPECT_EQ(ink.isEmpty(), c.x == 0);
        if (c.x == 0)
            continue;
        EXPECT_GT(ink.size(), 5);
        EXPECT_TRUE(
            std::all_of(ink.begin(), ink.end(), [&](QPoint p) { return c.strip.contains(p); }));
        // Centred, within the font's own spacing.
        const QRect box = ink.boundingRect();
        EXPECT_NEAR((box.left() + box.right()) / 2.0, c.x, 2.0);
        EXPECT_NEAR((box.top() + box.bottom()) / 2.0, c.y, 2.5);
    }
}

// Over successive frames the bar rises at once and falls half the remaining
// distance; a held peak stays nine frames, then drops onto the bar; a bouncing
// one is thrown up and falls ever faster; a falling one drops on odd frames
// only in a short stack, every frame in longer ones, by more in the longest.
TEST_F(ChipColumnTest, BarAndPeakSequences)
{
    struct Case
    {
        const char *name;
        int nLPeek, nLdiv, nChips, nCounter;
        std::vector<int> levels; // chips lit per frame; silence after the last
        std::vector<int> tops, peaks;
    };
    // clang-format off
    const Case cases[] = {
        {"bar", 2, 2, 20, 0, {20, 0, 0, 0, 0, 0, 0, 13}, {19, 9, 4, 1, 0, -1, -1, 12}, {}},
        {"hold", 0, 2, 20, 0, {15, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 8, 10},
         {14, 9, 6, 5, 4, 4, 4, 4, 4, 4, 4, 7, 9},
         {14, 14, 14, 14, 14, 14, 14, 14, 14, 14, 4, 7, 9}},
        {"bouncing", 2, 2, 20, 0, {12}, {}, {11, 13, 15, 16, 17, 17, 17, 17, 16, 15, 14, 13}},
        // Velocity min(39 / 2, 16) = 16: held at the top with the velocity cut
        // to 3, then falling with speed growing to 16 / 4 = 4 chips per two frames.
        {"bouncing at the top", 2, 0, 40, 0, {40}, {},
         {39, 39, 39, 39, 39, 39, 38, 37, 35, 33, 31}},
        // Counters 10, 11, 12, ...
        {"falling, 24 chips", 1, 2, 24, 9, {21}, {}, {20, 19, 19, 18, 18, 17, 17}},
        // The silent frame has an even counter: a short stack would hold.
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
        // Ldiv 0: chips every 2 rows, 1 blank at either end; Ldiv 2: every 5, 2 blank.
        col.SetGeometry({30, 5}, {10, c.nLdiv ? 5 * c.nChips + 2 : 2 * c.nChips + 1}, 0);
        ASSERT_EQ(col.m_nChips, c.nChips);
        m_nFrame = uint32_t(c.nCounter);
        for (size_t i = 0; i < std::max(c.tops.size(), c.peaks.size()); ++i) {
            Frame(col, i < c.levels.size() ? c.levels[i] : 0);
            if (i < c.tops.size()) {
                EXPECT_EQ(col.m_nTop, c.tops[i]) << "frame " << i;
                EXPECT_EQ(col.IsIdle(), c.tops[i] < 0 ? 1 : 0) << "frame " << i;
            }
            if (i < c.peaks.size()) {
                EXPECT_EQ(col.m_nPeak, c.peaks[i]) << "frame " << i;
            }
        }
    }
}

// Painting only what changed: a suppressed update changes states only.
TEST_F(ChipColumnTest, UpdateRepaintsOnlyChipsWhoseStateChanged)
{
    m_settings.LPeek = 0;
    PlaceTwenty();
    m_col.DrawFull(&m_dc, &m_pens); // chip 0 as peak
    Frame(m_col, 12);
    Frame(m_col, 6); // bar 11 -> 8, peak held at 11
    ExpectChipColours([](int i) { return i <= 8 ? LitColor(i, 20) : i == 11 ? kPeak : kBlack; });

    // A marker over chip 3, which stays lit, on a cleared image: an update
    // must touch neither it nor any other chip whose state stays.
    const QRect marked = ChipDeviceRect(3);
    m_image.fill(qRgb(0, 0, 0));
    for (int y = marked.top(); y <= marked.bottom(); ++y)
        for (int x = marked.left(); x <= marked.right(); ++x)
            m_image.setPixel(x, y, Q(kMarker));
    m_dc.ClearDirty();
    Frame(m_col, 14); // 9, 10, 12 unlit -> lit, 11 peak -> lit, 13 unlit -> peak
    ExpectChipColours([](int i) {
        return i == 3 ? kMarker : i >= 9 && i <= 12 ? LitColor(i, 20) : i == 13 ? kPeak : kBlack;
    });
    EXPECT_EQ(m_dc.DirtyBounds(), ChipDeviceRect(9) | ChipDeviceRect(13)); // only those drawn

    // Nothing changes, nothing is drawn.
    m_dc.ClearDirty();
    m_col.DrawUpdate(&m_dc, &m_pens);
    EXPECT_EQ(m_dc.DirtyCount(), 0);

    // Suppressed: the states follow the level, the screen stays as it is.
    const QImage before = m_image.copy();
    Frame(m_col, 17, true);
    EXPECT_EQ(m_col.m_nTop, 16);
    EXPECT_EQ(m_col.ChipState(16), CChipColumn::CHIP_PEAK);
    EXPECT_EQ(m_col.m_bSuppress, 0);
    EXPECT_TRUE(m_image == before);
    EXPECT_EQ(m_dc.DirtyCount(), 0);
}

TEST_F(ChipColumnTest, UpdatesOfTurnedAndMirroredColumnsMatchRowByRowFills)
{
    // The update paints each chip where FillRows puts it, in every placement.
    const Geometry geometries[] = {
        {0, {40, 130}, {23, -110}},   {90, {200, 20}, {19, 150}}, {270, {120, 20}, {-19, 150}},
        {180, {150, 220}, {23, 150}}, {0, {30, 5}, {-23, 200}},
    };
    QImage reference(m_image.size(), QImage::Format_RGB32);
    CDC dcReference(&reference);
    const CPen unlit(kBlack), peak(kPeak);
    for (const Geometry &geo : geometries) {
        m_image.fill(qRgb(0, 0, 0));
        CChipColumn col{m_settings, m_nFrame};
        col.SetMapper(&m_map);
        col.SetGeometry(geo.origin, geo.size, geo.nAngle);
        ASSERT_GT(col.m_nChips, 10);
        col.DrawFull(&m_dc, &m_pens);
        for (const int n : {col.m_nChips - 2, 3, 7, 0}) {
            Frame(col, n);
            reference.fill(qRgb(0, 0, 0));
            for (int i = 0; i < col.m_nChips; ++i) {
                const int nState = col.ChipState(i);
                const CPen lit(LitColor(i, col.m_nChips));
                col.FillRows(&dcReference, col.ChipRect(i),
                             nState == CChipColumn::CHIP_LIT    ? &lit
                             : nState == CChipColumn::CHIP_PEAK ? &peak
                                                                : &unlit);
            }
            ASSERT_TRUE(m_image == reference) << "angle " << geo.nAngle << " level " << n;
        }
    }
}

TEST_F(ChipColumnTest, TheFramePathAllocatesNothing)
{
    PlaceTwenty();
    const float bins[4] = {100.0f, 2000.0f, 50.0f, 7.0f};
    m_col.SetSpectrum(bins, 2000.0f);
    m_col.SetBins({0, 4, {}});
    m_col.DrawFull(&m_dc, &m_pens);
    g_nAllocations = 0;
    g_bCountAllocations = true;
    for (int f = 0; f < 60; ++f) {
        ++m_nFrame;
        m_col.ComputeLevel();
        if (f % 7 == 0)
            m_col.m_fLevel = 0.0f; // let the bar fall now and then
        m_col.DrawUpdate(&m_dc, &m_pens);
        m_col.DrawUpdateSuppressed(&m_dc, &m_pens);
    }
    g_bCountAllocations = false;
    EXPECT_EQ(g_nAllocations, 0);
    // The counter does count: placing the column allocates its chip states.
    g_bCountAllocations = true;
    m_col.SetGeometry({30, 5}, {23, 200}, 0);
    g_bCountAllocations = false;
    EXPECT_GE(g_nAllocations, 1);
}
