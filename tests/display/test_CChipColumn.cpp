#include "display/CChipColumn.h"

#include "app/Settings.h"
#include "platform/CDC.h"

#include <QFont>
#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

// Counts allocations made through operator new while a test asks for it, to
// show that the per-frame path allocates nothing.
namespace {
bool g_bCountAllocations = false;
int g_nAllocations = 0;
} // namespace

void *operator new(std::size_t nSize)
{
    if (g_bCountAllocations)
        ++g_nAllocations;
    if (void *p = std::malloc(nSize ? nSize : 1))
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
    if (g_bCountAllocations)
        ++g_nAllocations;
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
constexpr COLORREF kText = RGB(255, 255, 255);

COLORREF PixelAt(const QImage &image, int x, int y)
{
    const QRgb rgb = image.pixel(x, y);
    return RGB(qRed(rgb), qGreen(rgb), qBlue(rgb));
}

int CountDifferences(const QImage &a, const QImage &b)
{
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            n += a.pixel(x, y) != b.pixel(x, y);
    return n;
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
    int g = 12 * (i + 1) / n;
    if (g > 11)
        g = 11;
    return GradientColor(kChip1, kChip2, g);
}

// What the layout would hand a column, and the chip metrics it should get.
struct Geometry
{
    int nAngle;
    POINT origin;
    SIZE size; // as given, signs included
};

struct Metrics
{
    int t, gap, m;
};
constexpr Metrics kMetrics[4] = {{1, 1, 1}, {2, 2, 2}, {3, 2, 2}, {4, 2, 2}};

// Element point to graph-area point: mirror by the size's signs, then turn
// by the angle about the origin.
POINT ToArea(const Geometry &geo, int ex, int ey)
{
    int dx = ex - geo.origin.x, dy = ey - geo.origin.y;
    if (geo.size.cx < 0)
        dx = -dx;
    if (geo.size.cy < 0)
        dy = -dy;
    int ax = dx, ay = dy;
    switch (geo.nAngle) {
    case 90:
        ax = -dy;
        ay = dx;
        break;
    case 180:
        ax = -dx;
        ay = -dy;
        break;
    case 270:
        ax = dy;
        ay = -dx;
        break;
    default:
        break;
    }
    return {ax + geo.origin.x, ay + geo.origin.y};
}

// The picture a full repaint should leave, worked out from the geometry alone.
class ExpectedPicture
{
public:
    ExpectedPicture(int w, int h, RECT graph) : m_image(w, h, QImage::Format_RGB32), m_graph(graph)
    {
        m_image.fill(qRgb(0, 0, 0));
    }

    void Put(int ax, int ay, COLORREF c)
    {
        const int x = m_graph.left + ax, y = m_graph.bottom - ay;
        if (x >= 0 && y >= 0 && x < m_image.width() && y < m_image.height())
            m_image.setPixel(x, y, qRgb(GetRValue(c), GetGValue(c), GetBValue(c)));
    }

    // Rows of an element rectangle: normalised in area coordinates, every
    // row, each without its right end.
    void Rows(const Geometry &geo, int x1, int y1, int x2, int y2, COLORREF c)
    {
        const POINT a = ToArea(geo, x1, y1), b = ToArea(geo, x2, y2);
        for (int ay = std::min(a.y, b.y); ay <= std::max(a.y, b.y); ++ay)
            for (int ax = std::min(a.x, b.x); ax < std::max(a.x, b.x); ++ax)
                Put(ax, ay, c);
    }

    // The ring of the closed rectangle between two element corners.
    void Ring(const Geometry &geo, int x1, int y1, int x2, int y2, COLORREF c)
    {
        const POINT a = ToArea(geo, x1, y1), b = ToArea(geo, x2, y2);
        const int l = std::min(a.x, b.x), r = std::max(a.x, b.x);
        const int bo = std::min(a.y, b.y), to = std::max(a.y, b.y);
        for (int ax = l; ax <= r; ++ax) {
            Put(ax, bo, c);
            Put(ax, to, c);
        }
        for (int ay = bo; ay <= to; ++ay) {
            Put(l, ay, c);
            Put(r, ay, c);
        }
    }

    QImage m_image;
    RECT m_graph;
};

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
        m_col.m_pSettings = &m_settings;

        m_image.fill(qRgb(0, 0, 0));
        RECT rc = kGraph;
        m_map.SetupForRect(rc);
        m_col.SetMapper(&m_map);
        g_nFrameCounter = 0;
    }
    void TearDown() override { CBandElement::SetJitterSource(nullptr); }

    // Places the column as a stack of 20 chips at Ldiv 2 with no label strip.
    void PlaceTwenty()
    {
        m_settings.Ldiv = 2;
        m_col.SetGeometry({30, 5}, {23, 102}, 0);
        ASSERT_EQ(m_col.m_nChips, 20);
    }

    // A level in the middle of the step that lights n chips, or silence.
    float LevelForChips(int n) const
    {
        if (n <= 0)
            return 0.0f;
        const double step = double(m_settings.Lmax - m_settings.Lmin) / m_col.m_nChips;
        const double dB = m_settings.Lmin + (n + 0.5) * step;
        return float(32767.0 * std::pow(10.0, dB / 20.0));
    }

    // One frame of the window: the frame counter advances, the level is set
    // and the column updates.
    void Frame(int nChips)
    {
        ++g_nFrameCounter;
        m_col.m_fLevel = LevelForChips(nChips);
        BuildPens(m_settings, m_pens);
        m_col.DrawUpdate(&m_dc, &m_pens);
    }

    // The device rectangle of chip i for an unrotated, unmirrored column.
    QRect ChipDeviceRect(int i) const
    {
        const RECT rc = m_col.ChipRect(i);
        return QRect(QPoint(kGraph.left + rc.left, kGraph.bottom - rc.bottom),
                     QPoint(kGraph.left + rc.right - 1, kGraph.bottom - rc.top));
    }

    static constexpr RECT kGraph{20, 10, 300, 250};
    DisplaySettings m_settings;
    CChipColumn m_col;
    QImage m_image{320, 260, QImage::Format_RGB32};
    CDC m_dc{&m_image};
    CCoordMapper m_map;
    PenTable m_pens;
};

} // namespace

// Pens.

TEST_F(ChipColumnTest, GradientPensStepFromTheFirstColourToTheSecond)
{
    PenTable pens;
    BuildPens(m_settings, pens);
    for (int i = 0; i < 12; ++i) {
        ASSERT_FALSE(pens[i].IsNull()) << i;
        EXPECT_EQ(pens[i].color, GradientColor(kChip1, kChip2, i)) << i;
    }
    // Worked by hand: red 0 -> 255, green 255 -> 128 (cut towards zero, so
    // a falling channel rounds up), blue stays.
    EXPECT_EQ(pens[0].color, RGB(0, 255, 255));
    EXPECT_EQ(pens[1].color, RGB(23, 244, 255));
    EXPECT_EQ(pens[5].color, RGB(115, 198, 255));
    EXPECT_EQ(pens[10].color, RGB(231, 140, 255));
    EXPECT_EQ(pens[11].color, kChip2);
}

TEST_F(ChipColumnTest, WithoutGradientOnlyTheFirstPenExists)
{
    m_settings.CGrad = 0;
    PenTable pens;
    pens[5] = CPen(RGB(1, 2, 3)); // stale from an earlier call
    BuildPens(m_settings, pens);
    ASSERT_FALSE(pens[0].IsNull());
    EXPECT_EQ(pens[0].color, kChip1);
    for (int i = 1; i < 12; ++i)
        EXPECT_TRUE(pens[i].IsNull()) << i;
}

// Decibels and chips.

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
}

TEST_F(ChipColumnTest, AMinus45DecibelBandLightsTenOfTwentyChips)
{
    PlaceTwenty();
    // 44.9 dB below full scale: the 0..14 % jitter adds at most 1.14 dB, and
    // -43.76 dB still lies within the tenth chip's step (-45 .. -43.5 dB).
    const float bins[3] = {0.0f, float(32767.0 * std::pow(10.0, -44.9 / 20.0)), 0.0f};
    m_col.SetSpectrum(bins, bins[1]);
    m_col.SetBins({0, 3, {}});
    BuildPens(m_settings, m_pens);
    for (int i = 0; i < 30; ++i) {
        m_col.m_nTop = -1;
        m_col.m_nPeak = -1;
        m_col.ComputeLevel();
        m_col.DrawUpdate(&m_dc, &m_pens);
        ASSERT_EQ(m_col.m_nTop, 9) << m_col.m_fLevel;
    }
    m_col.SetSpectrum(nullptr, 0.0f);
    m_col.m_nTop = -1;
    m_col.ComputeLevel();
    m_col.DrawUpdate(&m_dc, &m_pens);
    EXPECT_EQ(m_col.m_nTop, -1);
}

// Placement.

TEST_F(ChipColumnTest, ChipCountAndUsedLengthFollowLdiv)
{
    struct Case
    {
        int nLdiv, nFreqStrSw, nLength, nChips, nUsed;
    };
    const Case cases[] = {
        {0, 0, 100, 49, 99},  // (100 - 2 - 1) / 2 + 1; 2 x 49 + 2 - 1
        {1, 0, 100, 24, 98},  // (100 - 4 - 2) / 4 + 1; 4 x 24 + 4 - 2
        {2, 0, 100, 19, 97},  // (100 - 4 - 3) / 5 + 1; 5 x 19 + 4 - 2
        {3, 0, 100, 16, 98},  // (100 - 4 - 4) / 6 + 1; 6 x 16 + 4 - 2
        {2, 1, 100, 17, 100}, // a 13-row label strip: (100 - 4 - 3 - 13) / 5 + 1
        {2, 0, 102, 20, 102},
    };
    for (const Case &c : cases) {
        m_settings.Ldiv = c.nLdiv;
        m_settings.FreqStrSw = c.nFreqStrSw;
        CChipColumn col;
        col.m_pSettings = &m_settings;
        EXPECT_EQ(col.m_nKind, 0);
        const SIZE used = col.SetGeometry({0, 0}, {20, c.nLength}, 0);
        EXPECT_EQ(col.m_nChips, c.nChips) << "Ldiv " << c.nLdiv;
        EXPECT_EQ(used, (SIZE{20, c.nUsed})) << "Ldiv " << c.nLdiv;
        EXPECT_EQ(col.m_size, (SIZE{20, c.nUsed}));
        EXPECT_EQ(col.m_nLabelStrip, c.nFreqStrSw ? 13 : 0);
        for (int i = 0; i < col.m_nChips; ++i)
            ASSERT_EQ(col.ChipState(i), CChipColumn::CHIP_UNLIT);
    }
}

TEST_F(ChipColumnTest, ChipColumnsDependOnTheDividerLines)
{
    struct Case
    {
        int nFrame, w, x1, x2;
    };
    const Case cases[] = {
        {1, 23, 12, 31}, {1, 6, 12, 14}, {1, 5, 11, 14}, {1, 2, 11, 11},
        {0, 23, 11, 32}, {0, 3, 11, 12}, {0, 2, 10, 11}, {0, 1, 10, 10},
    };
    m_settings.Ldiv = 1;
    for (const Case &c : cases) {
        m_settings.SpectFrameDraw = c.nFrame;
        m_col.SetGeometry({10, 0}, {c.w, 60}, 0);
        const RECT rc = m_col.ChipRect(0);
        EXPECT_EQ(rc.left, c.x1) << "frame " << c.nFrame << " w " << c.w;
        EXPECT_EQ(rc.right, c.x2) << "frame " << c.nFrame << " w " << c.w;
    }
}

TEST_F(ChipColumnTest, LdivOutsideTheTableIsRewrittenToTwo)
{
    for (int nLdiv : {7, -1, 4}) {
        m_settings.Ldiv = nLdiv;
        m_col.SetGeometry({0, 0}, {20, 100}, 0);
        EXPECT_EQ(m_settings.Ldiv, 2);
        EXPECT_EQ(m_col.m_nChips, 19);
        EXPECT_EQ(m_col.m_nPitch, 5);
    }
}

TEST_F(ChipColumnTest, AngleSetsAlignmentRotationAndReturnedSigns)
{
    m_settings.FreqStrSw = 1;
    m_settings.Ldiv = 2;
    struct Case
    {
        int nAngle;
        SIZE size;
        int nAlign, bRotated, nStrip;
    };
    const int top = CDC::TA_CENTER | CDC::TA_TOP;
    const int bottom = CDC::TA_CENTER | CDC::TA_BOTTOM;
    const Case cases[] = {
        {0, {20, 100}, top, 0, 13},     {0, {20, -100}, bottom, 0, 13},
        {90, {20, 100}, bottom, 1, 24}, {180, {20, 100}, bottom, 0, 13},
        {180, {20, -100}, top, 0, 13},  {270, {-20, 100}, bottom, 1, 24},
    };
    for (const Case &c : cases) {
        CChipColumn col;
        col.m_pSettings = &m_settings;
        const SIZE used = col.SetGeometry({50, 60}, c.size, c.nAngle);
        EXPECT_EQ(col.m_nLabelAlign, c.nAlign) << c.nAngle;
        EXPECT_EQ(col.m_bRotatedLabel, c.bRotated) << c.nAngle;
        EXPECT_EQ(col.m_nLabelStrip, c.nStrip) << c.nAngle;
        const int nChips = (100 - 4 - 3 - c.nStrip) / 5 + 1;
        const int nUsed = 5 * nChips + 4 + c.nStrip - 2;
        EXPECT_EQ(col.m_nChips, nChips) << c.nAngle;
        EXPECT_EQ(used.cx, c.size.cx) << c.nAngle;
        EXPECT_EQ(used.cy, c.size.cy < 0 ? -nUsed : nUsed) << c.nAngle;
        EXPECT_EQ(col.m_size, (SIZE{20, nUsed}));
        EXPECT_EQ(col.m_origin, (POINT{50, 60}));
    }
}

TEST_F(ChipColumnTest, AnUnknownAngleLeavesTheColumnAsItWas)
{
    PlaceTwenty();
    const SIZE used = m_col.SetGeometry({90, 90}, {10, 300}, 45);
    EXPECT_EQ(used, (SIZE{10, 300}));
    EXPECT_EQ(m_col.m_nChips, 20);
    EXPECT_EQ(m_col.m_origin, (POINT{30, 5}));
    EXPECT_EQ(m_col.m_size, (SIZE{23, 102}));
}

TEST_F(ChipColumnTest, ALengthJustShortOfAChipStillGetsOneByTruncation)
{
    m_settings.Ldiv = 2;
    // (6 - 4 - 3) / 5 = 0 when cut towards zero, so one chip and 7 rows used.
    const SIZE used = m_col.SetGeometry({0, 0}, {10, 6}, 0);
    EXPECT_EQ(m_col.m_nChips, 1);
    EXPECT_EQ(used, (SIZE{10, 7}));
}

TEST_F(ChipColumnTest, ATooShortColumnHasNoChipsAndStaysIdle)
{
    m_settings.FreqStrSw = 1;
    m_settings.Ldiv = 2;
    const SIZE used = m_col.SetGeometry({30, 5}, {23, 5}, 0);
    EXPECT_LE(m_col.m_nChips, 0); // (5 - 4 - 3 - 13) / 5 + 1 = -2
    EXPECT_EQ(used, (SIZE{23, 5}));
    const QImage before = m_image.copy();
    BuildPens(m_settings, m_pens);
    m_col.DrawFull(&m_dc, &m_pens);
    for (int i = 0; i < 5; ++i) {
        m_col.m_fLevel = 65534.0f;
        m_col.DrawUpdate(&m_dc, &m_pens);
        EXPECT_EQ(m_col.IsIdle(), 1);
    }
    EXPECT_EQ(CountDifferences(m_image, before), 0);
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
    for (int nLdiv = 0; nLdiv < 4; ++nLdiv) {
        for (int nFrame : {0, 1}) {
            for (int nStrip : {0, 1}) {
                for (const Geometry &geo : geometries) {
                    m_settings.Ldiv = nLdiv;
                    m_settings.SpectFrameDraw = nFrame;
                    m_settings.FreqStrSw = nStrip;
                    m_image.fill(qRgb(0, 0, 0));
                    CChipColumn col;
                    col.m_pSettings = &m_settings;
                    col.SetMapper(&m_map);
                    col.SetGeometry(geo.origin, geo.size, geo.nAngle);
                    ASSERT_GT(col.m_nChips, 4);
                    const int n = col.m_nChips;
                    col.m_nTop = n - 4; // lit 0..n-5, peak n-4, unlit above
                    BuildPens(m_settings, m_pens);
                    col.DrawFull(&m_dc, &m_pens);

                    // The expected picture, from the geometry alone.
                    const Metrics &mt = kMetrics[nLdiv];
                    const int b = nStrip ? (geo.nAngle % 180 ? 24 : 13) : 0;
                    const int w = std::abs(geo.size.cx);
                    const int L = (mt.t + mt.gap) * n + 2 * mt.m + b - mt.gap;
                    const int x = geo.origin.x, y = geo.origin.y;
                    int x1 = x + 1, x2 = x + w - 1;
                    if (nFrame && w >= 6) {
                        x1 = x + 2;
                        x2 = x + w - 2;
                    } else if (!nFrame && x + 1 >= x + w - 1) {
                        x1 = x;
                    }
                    ExpectedPicture expected(m_image.width(), m_image.height(), kGraph);
                    if (nFrame)
                        expected.Ring(geo, x, y + b, x + w, y + L, kOutline);
                    for (int i = 0; i < n; ++i) {
                        const int r = y + b + mt.m + i * (mt.t + mt.gap);
                        const COLORREF c = i < n - 4 ? LitColor(i, n) : i == n - 4 ? kPeak : kBlack;
                        expected.Rows(geo, x1, r, x2, r + mt.t - 1, c);
                    }
                    ASSERT_EQ(CountDifferences(m_image, expected.m_image), 0)
                        << "Ldiv " << nLdiv << " frame " << nFrame << " strip " << nStrip
                        << " angle " << geo.nAngle << " size " << geo.size.cx << "," << geo.size.cy;
                    EXPECT_EQ(col.m_nTop, n - 4);
                    EXPECT_EQ(col.m_nPeak, n - 4);
                    for (int i = 0; i < n; ++i) {
                        const int s = i < n - 4 ? 1 : i == n - 4 ? 2 : 0;
                        ASSERT_EQ(col.ChipState(i), s) << i;
                    }
                }
            }
        }
    }
}

TEST_F(ChipColumnTest, WithoutGradientEveryLitChipTakesTheFirstColour)
{
    m_settings.CGrad = 0;
    PlaceTwenty();
    m_col.m_nTop = 15;
    BuildPens(m_settings, m_pens);
    m_col.DrawFull(&m_dc, &m_pens);
    for (int i = 0; i < 20; ++i) {
        const QRect r = ChipDeviceRect(i);
        const COLORREF c = i < 15 ? kChip1 : i == 15 ? kPeak : kBlack;
        EXPECT_EQ(PixelAt(m_image, r.left(), r.top()), c) << i;
        EXPECT_EQ(PixelAt(m_image, r.right(), r.bottom()), c) << i;
    }
}

TEST_F(ChipColumnTest, FullRepaintWithoutPensUsesTheOutlineColour)
{
    PlaceTwenty();
    m_col.m_nTop = 5;
    m_col.DrawFull(&m_dc, nullptr);
    EXPECT_EQ(PixelAt(m_image, ChipDeviceRect(0).left(), ChipDeviceRect(0).top()), kOutline);
    EXPECT_EQ(PixelAt(m_image, ChipDeviceRect(5).left(), ChipDeviceRect(5).top()), kPeak);
}

TEST_F(ChipColumnTest, FullRepaintCapsTheTopAtTheStack)
{
    PlaceTwenty();
    m_col.m_nTop = 35;
    m_col.DrawFull(&m_dc, nullptr);
    EXPECT_EQ(m_col.m_nTop, 19);
    EXPECT_EQ(m_col.m_nPeak, 19);
    EXPECT_EQ(m_col.ChipState(19), CChipColumn::CHIP_PEAK);
    m_col.m_nTop = -1;
    m_col.DrawFull(&m_dc, nullptr);
    EXPECT_EQ(m_col.m_nTop, -1);
    EXPECT_EQ(m_col.IsIdle(), 1);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(m_col.ChipState(i), CChipColumn::CHIP_UNLIT);
}

// Labels.

class ChipColumnLabelTest : public ChipColumnTest
{
protected:
    void SetUp() override
    {
        ChipColumnTest::SetUp();
        m_font.setPixelSize(11);
        m_dc.SelectFont(&m_font);
        m_dc.SetBkMode(CDC::TRANSPARENT);
        m_dc.SetTextColor(kText);
        m_settings.Ldiv = 2;
        m_settings.SpectFrameDraw = 1;
    }

    // Text pixels are the only greys: white antialiased on black.
    static bool IsText(COLORREF c)
    {
        return c != kBlack && GetRValue(c) == GetGValue(c) && GetGValue(c) == GetBValue(c);
    }

    // Counts text pixels inside and outside an area rectangle (inclusive),
    // and finds the middle of all the ink in area coordinates.
    void CountText(int left, int bottom, int right, int top, int *pInside, int *pOutside)
    {
        *pInside = *pOutside = 0;
        int l = 1 << 20, r = -l, b = l, t = -l;
        for (int y = 0; y < m_image.height(); ++y) {
            for (int x = 0; x < m_image.width(); ++x) {
                if (!IsText(PixelAt(m_image, x, y)))
                    continue;
                const int ax = x - kGraph.left, ay = kGraph.bottom - y;
                const bool inside = ax >= left && ax <= right && ay >= bottom && ay <= top;
                (inside ? *pInside : *pOutside) += 1;
                l = std::min(l, ax);
                r = std::max(r, ax);
                b = std::min(b, ay);
                t = std::max(t, ay);
            }
        }
        m_fInkX = (l + r) / 2.0;
        m_fInkY = (b + t) / 2.0;
    }

    double m_fInkX = 0;
    double m_fInkY = 0;

    QFont m_font{QStringLiteral("DejaVu Sans")};
};

TEST_F(ChipColumnLabelTest, ALabelSitsInTheStripBelowTheStack)
{
    m_settings.FreqStrSw = 1;
    m_col.SetGeometry({30, 5}, {30, 150}, 0);
    m_col.SetBins({10, 2, QStringLiteral("1k")});
    m_col.m_nTop = 3;
    const int nAlign = m_dc.GetTextAlign();
    m_col.DrawFull(&m_dc, nullptr);
    EXPECT_EQ(m_dc.GetTextAlign(), nAlign);
    int inside = 0, outside = 0;
    // The strip: area rows 5..17 below the frame's bottom line at row 18.
    CountText(30, 5, 60, 18, &inside, &outside);
    EXPECT_GT(inside, 5);
    EXPECT_EQ(outside, 0);
    // Centred under the column and, within the font's own spacing, in the strip.
    EXPECT_NEAR(m_fInkX, 45.0, 2.0);
    EXPECT_NEAR(m_fInkY, 11.0, 2.5);
}

TEST_F(ChipColumnLabelTest, ATurnedColumnPutsItsLabelInTheStripBesideTheStack)
{
    m_settings.FreqStrSw = 1;
    // Angle 90: the stack grows to the left of the origin, the 24-wide strip
    // lies between x 176 and 200.
    m_col.SetGeometry({200, 20}, {19, 150}, 90);
    m_col.SetBins({10, 2, QStringLiteral("30")});
    m_col.DrawFull(&m_dc, nullptr);
    int inside = 0, outside = 0;
    CountText(176, 20, 200, 39, &inside, &outside);
    EXPECT_GT(inside, 5);
    EXPECT_EQ(outside, 0);
    // Centred in the strip and across the column's width.
    EXPECT_NEAR(m_fInkX, 188.0, 2.0);
    EXPECT_NEAR(m_fInkY, 29.5, 2.5);
}

TEST_F(ChipColumnLabelTest, NoLabelWithoutTextOrWithLabelsOff)
{
    int inside = 0, outside = 0;
    m_settings.FreqStrSw = 1;
    m_col.SetGeometry({30, 5}, {30, 150}, 0);
    m_col.SetBins({10, 2, QString()});
    m_col.DrawFull(&m_dc, nullptr);
    CountText(0, 0, 1000, 1000, &inside, &outside);
    EXPECT_EQ(inside, 0);

    // Switched off after placement: the strip stays, the text does not.
    m_col.SetBins({10, 2, QStringLiteral("1k")});
    m_settings.FreqStrSw = 0;
    m_col.DrawFull(&m_dc, nullptr);
    CountText(0, 0, 1000, 1000, &inside, &outside);
    EXPECT_EQ(inside, 0);

    // Placed without labels: no strip.
    m_col.SetGeometry({30, 5}, {30, 150}, 0);
    EXPECT_EQ(m_col.m_nLabelStrip, 0);
    m_settings.FreqStrSw = 1;
    m_col.DrawFull(&m_dc, nullptr);
    CountText(0, 0, 1000, 1000, &inside, &outside);
    EXPECT_EQ(inside, 0);
}

// The bar and the peak over successive frames.

TEST_F(ChipColumnTest, TheBarFallsHalfTheRemainingDistancePerFrame)
{
    PlaceTwenty();
    Frame(20);
    EXPECT_EQ(m_col.m_nTop, 19);
    const int expected[] = {9, 4, 1, 0, -1, -1};
    for (int top : expected) {
        Frame(0);
        EXPECT_EQ(m_col.m_nTop, top);
    }
    EXPECT_EQ(m_col.IsIdle(), 1);
    // It rises at once.
    Frame(13);
    EXPECT_EQ(m_col.m_nTop, 12);
    EXPECT_EQ(m_col.IsIdle(), 0);
}

TEST_F(ChipColumnTest, HoldKeepsThePeakForNineFramesThenDropsItOntoTheBar)
{
    m_settings.LPeek = 0;
    PlaceTwenty();
    Frame(15); // frame 0: peak and top at 14
    EXPECT_EQ(m_col.m_nPeak, 14);
    const int tops[] = {9, 6, 5, 4, 4, 4, 4, 4, 4, 4};
    for (int frame = 1; frame <= 10; ++frame) {
        Frame(5);
        EXPECT_EQ(m_col.m_nTop, tops[frame - 1]) << frame;
        EXPECT_EQ(m_col.m_nPeak, frame <= 9 ? 14 : 4) << frame;
        EXPECT_EQ(m_col.ChipState(14), frame <= 9 ? CChipColumn::CHIP_PEAK : 0) << frame;
    }
    EXPECT_EQ(m_col.ChipState(4), CChipColumn::CHIP_PEAK);
    // A new high restarts the hold.
    Frame(8);
    Frame(10);
    EXPECT_EQ(m_col.m_nPeak, 9);
}

TEST_F(ChipColumnTest, TheBouncingPeakIsThrownUpAndFallsFasterAndFaster)
{
    m_settings.LPeek = 2;
    PlaceTwenty();
    ASSERT_EQ(m_col.m_nPeak, 0);
    Frame(12);
    EXPECT_EQ(m_col.m_nPeakCounter, 5);
    const int peaks[] = {11, 13, 15, 16, 17, 17, 17, 17, 16, 15, 14, 13};
    EXPECT_EQ(m_col.m_nPeak, peaks[0]);
    for (int i = 1; i < int(std::size(peaks)); ++i) {
        Frame(0);
        EXPECT_EQ(m_col.m_nPeak, peaks[i]) << "frame " << i;
    }
}

TEST_F(ChipColumnTest, TheBouncingPeakStopsAtTheTopOfTheStack)
{
    m_settings.LPeek = 2;
    m_settings.Ldiv = 0;
    m_col.SetGeometry({30, 5}, {10, 81}, 0);
    ASSERT_EQ(m_col.m_nChips, 40);
    Frame(40); // velocity min(39 / 2, 16) = 16
    EXPECT_EQ(m_col.m_nPeakCounter, 16);
    // Held at the top with the velocity cut to 3, then falling with speed
    // growing to 16 / 4 = 4 chips per two frames.
    const int peaks[] = {39, 39, 39, 39, 39, 39, 38, 37, 35, 33, 31};
    EXPECT_EQ(m_col.m_nPeak, peaks[0]);
    for (int i = 1; i < int(std::size(peaks)); ++i) {
        Frame(0);
        EXPECT_EQ(m_col.m_nPeak, peaks[i]) << "frame " << i;
    }
}

TEST_F(ChipColumnTest, AFallingPeakOfAShortStackDropsOnOddFramesOnly)
{
    m_settings.LPeek = 1;
    m_settings.Ldiv = 2;
    m_col.SetGeometry({30, 5}, {23, 122}, 0);
    ASSERT_EQ(m_col.m_nChips, 24);
    g_nFrameCounter = 9;
    Frame(21); // counter 10, peak 20
    EXPECT_EQ(m_col.m_nPeak, 20);
    const int peaks[] = {19, 19, 18, 18, 17, 17}; // counters 11, 12, 13, ...
    for (int peak : peaks) {
        Frame(0);
        EXPECT_EQ(m_col.m_nPeak, peak) << "counter " << g_nFrameCounter;
    }
}

TEST_F(ChipColumnTest, AFallingPeakOfLongerStacksDropsEveryFrame)
{
    m_settings.LPeek = 1;
    struct Case
    {
        int nLdiv, nLength, nChips, nStep;
    };
    const Case cases[] = {{2, 152, 30, 1}, {2, 147, 29, 0}, {0, 121, 60, 2}, {0, 119, 59, 1}};
    for (const Case &c : cases) {
        m_settings.Ldiv = c.nLdiv;
        CChipColumn col;
        col.m_pSettings = &m_settings;
        col.SetMapper(&m_map);
        col.SetGeometry({30, 5}, {10, c.nLength}, 0);
        ASSERT_EQ(col.m_nChips, c.nChips);
        g_nFrameCounter = 0; // even: a short stack would hold
        col.m_fLevel = 65534.0f;
        col.DrawUpdate(&m_dc, nullptr);
        const int start = col.m_nPeak;
        col.m_fLevel = 0.0f;
        col.DrawUpdate(&m_dc, nullptr);
        EXPECT_EQ(col.m_nPeak, start - c.nStep) << c.nChips << " chips";
    }
}

// Painting only what changed.

TEST_F(ChipColumnTest, UpdatePaintsTheLitChipsThePeakAndClearsTheRest)
{
    m_settings.LPeek = 0;
    PlaceTwenty();
    BuildPens(m_settings, m_pens);
    m_col.DrawFull(&m_dc, &m_pens); // chip 0 as peak
    Frame(12);
    Frame(6); // bar 11 -> 8, peak held at 11
    ASSERT_EQ(m_col.m_nTop, 8);
    ASSERT_EQ(m_col.m_nPeak, 11);
    for (int i = 0; i < 20; ++i) {
        const QRect r = ChipDeviceRect(i);
        const COLORREF c = i <= 8 ? LitColor(i, 20) : i == 11 ? kPeak : kBlack;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                ASSERT_EQ(PixelAt(m_image, x, y), c) << "chip " << i;
    }
}

TEST_F(ChipColumnTest, UpdateRepaintsOnlyChipsWhoseStateChanged)
{
    m_settings.LPeek = 0;
    PlaceTwenty();
    Frame(10); // lit 0..9, peak 9
    BuildPens(m_settings, m_pens);
    m_col.DrawFull(&m_dc, &m_pens);

    // A marker over chip 3, which stays lit: an update must not touch it.
    const QRect marked = ChipDeviceRect(3);
    m_image.fill(qRgb(0, 0, 0));
    for (int y = marked.top(); y <= marked.bottom(); ++y)
        for (int x = marked.left(); x <= marked.right(); ++x)
            m_image.setPixel(x, y, qRgb(1, 2, 3));
    m_dc.ClearDirty();

    Frame(14); // chips 10..13 lit: 9 peak -> lit, 10..12 unlit -> lit, 13 -> peak
    for (int y = marked.top(); y <= marked.bottom(); ++y)
        for (int x = marked.left(); x <= marked.right(); ++x)
            ASSERT_EQ(PixelAt(m_image, x, y), RGB(1, 2, 3));
    for (int i = 0; i < 20; ++i) {
        const QRect r = ChipDeviceRect(i);
        const COLORREF c = i >= 9 && i <= 12 ? LitColor(i, 20) : i == 13 ? kPeak : kBlack;
        if (i != 3) {
            EXPECT_EQ(PixelAt(m_image, r.left(), r.top()), c) << "chip " << i;
        }
    }
    // Only the changed chips are reported as drawn.
    const QRect changed = ChipDeviceRect(9) | ChipDeviceRect(13);
    EXPECT_EQ(m_dc.DirtyBounds(), changed);

    // Nothing changes, nothing is drawn.
    m_dc.ClearDirty();
    m_col.DrawUpdate(&m_dc, &m_pens);
    EXPECT_EQ(m_dc.DirtyCount(), 0);
}

TEST_F(ChipColumnTest, SuppressedUpdateChangesStatesButNoPixels)
{
    PlaceTwenty();
    BuildPens(m_settings, m_pens);
    m_col.DrawFull(&m_dc, &m_pens);
    const QImage before = m_image.copy();
    m_dc.ClearDirty();
    m_col.m_fLevel = LevelForChips(12);
    m_col.DrawUpdateSuppressed(&m_dc, &m_pens);
    EXPECT_EQ(m_col.m_nTop, 11);
    EXPECT_EQ(m_col.ChipState(5), CChipColumn::CHIP_LIT);
    EXPECT_EQ(m_col.ChipState(11), CChipColumn::CHIP_PEAK);
    EXPECT_EQ(m_col.m_bSuppress, 0);
    EXPECT_EQ(CountDifferences(m_image, before), 0);
    EXPECT_EQ(m_dc.DirtyCount(), 0);
}

TEST_F(ChipColumnTest, TheFramePathAllocatesNothing)
{
    PlaceTwenty();
    const float bins[4] = {100.0f, 2000.0f, 50.0f, 7.0f};
    m_col.SetSpectrum(bins, 2000.0f);
    m_col.SetBins({0, 4, {}});
    BuildPens(m_settings, m_pens);
    m_col.DrawFull(&m_dc, &m_pens);
    g_nAllocations = 0;
    g_bCountAllocations = true;
    for (int f = 0; f < 60; ++f) {
        ++g_nFrameCounter;
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
