#include "display/CBandElement.h"

#include "settings/Settings.h"
#include "graphics/CDC.h"

#include <QFont>
#include <QImage>

#include <gtest/gtest.h>

#include <set>
#include <utility>

namespace {

int JitterNone()
{
    return 0;
}

int JitterMost()
{
    return 14;
}

class BandElementTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetSettings();
        m_settings = g_DisplaySettings;
    }
    void TearDown() override { CBandElement::SetJitterSource(nullptr); }

    DisplaySettings m_settings;
    CBandElement m_elem{m_settings};
};

COLORREF PixelAt(const QImage &image, int x, int y)
{
    const QRgb rgb = image.pixel(x, y);
    return RGB(qRed(rgb), qGreen(rgb), qBlue(rgb));
}

// A background where every pixel differs from its neighbours, so that a
// stray or missing pixel shows in a comparison.
QImage PatternImage(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb((x * 7) & 0xFF, (y * 5) & 0xFF, (x + y) & 0x7F));
    return image;
}

// The row fill as the device would draw it: for every row from top to
// bottom, a line from the mapped left end to the mapped right end, leaving
// out the end pixel.
void ReferenceFillRows(CDC &dc, const CCoordMapper &map, RECT rc, const CPen *pPen)
{
    rc.Normalize();
    const CPen *pOld = dc.SelectPen(pPen);
    for (int y = rc.top; y <= rc.bottom; ++y) {
        int x1 = rc.left, y1 = y, x2 = rc.right, y2 = y;
        map.MapXY(x1, y1);
        map.MapXY(x2, y2);
        dc.MoveTo(x1, y1);
        dc.LineTo(x2, y2);
    }
    dc.SelectPen(pOld);
}

// Compares two images pixel by pixel; returns the number of differences.
int CountDifferences(const QImage &a, const QImage &b)
{
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            n += a.pixel(x, y) != b.pixel(x, y);
    return n;
}

const RECT kFillRects[] = {
    {10, 20, 30, 25},         // ordinary
    {30, 25, 10, 20},         // given the other way round
    {12, 5, 12, 9},           // zero width: lines of no length
    {3, 7, 18, 7},            // one row
    {-20, -5, 15, 40},        // partly off the image
    {0, 0, 1, 1},             // a single pixel per row
    {-300, -300, -250, -260}, // wholly off the image
};

} // namespace

TEST_F(BandElementTest, StartsAsTheBareBase)
{
    CBandElement elem{m_settings};
    EXPECT_EQ(elem.m_nKind, -1);
    EXPECT_EQ(elem.m_bSuppress, 0);
    EXPECT_EQ(elem.m_pBins, nullptr);
    EXPECT_FLOAT_EQ(elem.m_fGain, 1.0f);
    EXPECT_FLOAT_EQ(elem.m_fLevel, 0.0f);
    EXPECT_EQ(elem.m_pSettings, &m_settings);
    EXPECT_EQ(elem.m_nTop, 0);
    EXPECT_EQ(elem.IsIdle(), 0);
    elem.m_nTop = -1;
    EXPECT_EQ(elem.IsIdle(), 1);
}

TEST_F(BandElementTest, StoresGeometrySpectrumBinsAndMapper)
{
    const SIZE used = m_elem.SetGeometry({4, 5}, {-6, 70}, 90);
    EXPECT_EQ(used, (SIZE{-6, 70}));
    EXPECT_EQ(m_elem.m_origin, (POINT{4, 5}));
    EXPECT_EQ(m_elem.m_size, (SIZE{-6, 70}));

    const float bins[4] = {1, 2, 3, 4};
    m_elem.SetSpectrum(bins, 4.0f);
    EXPECT_EQ(m_elem.m_pBins, bins);
    EXPECT_FLOAT_EQ(m_elem.m_fSpectrumMax, 4.0f);

    m_elem.SetBins({12, 7, QStringLiteral("3k")});
    EXPECT_EQ(m_elem.m_nFirstBin, 12);
    EXPECT_EQ(m_elem.m_nBinCount, 7);
    EXPECT_EQ(m_elem.m_strLabel, QStringLiteral("3k"));

    CCoordMapper map;
    map.SetAngle270();
    map.tx = 9;
    m_elem.SetMapper(&map);
    EXPECT_EQ(m_elem.m_mapArea.tx, 9);
    EXPECT_DOUBLE_EQ(m_elem.m_mapArea.m[1], -1);
}

TEST_F(BandElementTest, CopyBinsTakesTheLabelOnlyWhenAsked)
{
    CBandElement other{m_settings};
    other.SetBins({30, 11, QStringLiteral("1k")});
    m_elem.SetBins({1, 1, QStringLiteral("old")});
    m_elem.CopyBins(&other, 0);
    EXPECT_EQ(m_elem.m_nFirstBin, 30);
    EXPECT_EQ(m_elem.m_nBinCount, 11);
    EXPECT_EQ(m_elem.m_strLabel, QStringLiteral("old"));
    m_elem.CopyBins(&other, 1);
    EXPECT_EQ(m_elem.m_strLabel, QStringLiteral("1k"));
}

TEST_F(BandElementTest, BandLevelIsZeroWithoutSpectrum)
{
    m_elem.SetBins({0, 4, {}});
    EXPECT_FLOAT_EQ(m_elem.BandLevel(), 0.0f);
}

TEST_F(BandElementTest, BandLevelIsZeroWhenNoBinIsPositive)
{
    const float bins[6] = {5.0f, -3.0f, 0.0f, -0.5f, -100.0f, 9.0f};
    m_elem.SetSpectrum(bins, 9.0f);
    m_elem.SetBins({1, 4, {}});
    for (int i = 0; i < 100; ++i)
        EXPECT_FLOAT_EQ(m_elem.BandLevel(), 0.0f);
    // All negative: still 0, not the least negative value.
    m_elem.SetBins({3, 2, {}});
    for (int i = 0; i < 100; ++i)
        EXPECT_FLOAT_EQ(m_elem.BandLevel(), 0.0f);
}

TEST_F(BandElementTest, BandLevelTakesTheLargestBinOfTheBandOnly)
{
    CBandElement::SetJitterSource(JitterNone);
    // Guard values on both sides are larger than anything inside the band.
    const float bins[7] = {99.0f, 0.25f, 0.75f, 0.5f, 0.125f, 99.0f, 99.0f};
    m_elem.SetSpectrum(bins, 99.0f);
    m_elem.SetBins({1, 4, {}});
    EXPECT_FLOAT_EQ(m_elem.BandLevel(), 0.75f);
    m_elem.m_fGain = 1.25f;
    EXPECT_FLOAT_EQ(m_elem.BandLevel(), 0.9375f);
}

TEST_F(BandElementTest, BandLevelJitterRaisesByWholePercentsUpToFourteen)
{
    const float bins[3] = {0.0f, 1000.0f, 0.0f};
    m_elem.SetSpectrum(bins, 1000.0f);
    m_elem.SetBins({0, 3, {}});

    CBandElement::SetJitterSource(JitterMost);
    EXPECT_FLOAT_EQ(m_elem.BandLevel(), 1140.0f);
    m_elem.m_fGain = 2.0f;
    EXPECT_FLOAT_EQ(m_elem.BandLevel(), 2280.0f);
    m_elem.m_fGain = 1.0f;

    CBandElement::SetJitterSource(nullptr);
    CBandElement::SeedJitter(12345);
    std::set<int> seen;
    for (int i = 0; i < 3000; ++i) {
        const float level = m_elem.BandLevel();
        const int percent = int((level - 1000.0f) / 10.0f + 0.5f);
        EXPECT_FLOAT_EQ(level, 1000.0f + 10.0f * float(percent));
        seen.insert(percent);
    }
    EXPECT_EQ(seen.size(), 15u);
    EXPECT_EQ(*seen.begin(), 0);
    EXPECT_EQ(*seen.rbegin(), 14);
}

TEST_F(BandElementTest, BandLevelStaysWithinFourteenPercentOfTheMaximum)
{
    const float bins[5] = {0.2f, 1.0f, 0.9f, 0.3f, 0.0f};
    m_elem.SetSpectrum(bins, 1.0f);
    m_elem.SetBins({0, 5, {}});
    for (int i = 0; i < 500; ++i) {
        const float level = m_elem.BandLevel();
        EXPECT_GE(level, 1.0f);
        EXPECT_LE(level, 1.14f * 1.0f + 1e-6f);
    }
}

TEST_F(BandElementTest, LabelExtentFollowsTheFontAndTheAngle)
{
    m_settings.Font.lfHeight = -11;
    EXPECT_EQ(m_elem.LabelExtent(0), 13);
    EXPECT_EQ(m_elem.LabelExtent(180), 13);
    EXPECT_EQ(m_elem.LabelExtent(90), 24);
    EXPECT_EQ(m_elem.LabelExtent(270), 24);
    m_settings.Font.lfHeight = 9;
    EXPECT_EQ(m_elem.LabelExtent(0), 11);
    EXPECT_EQ(m_elem.LabelExtent(90), 20);
}

TEST_F(BandElementTest, LabelExtentIsZeroWithoutLabels)
{
    m_settings.FreqStrSw = 0;
    for (int angle : {0, 90, 180, 270, 45})
        EXPECT_EQ(m_elem.LabelExtent(angle), 0) << angle;
}

TEST_F(BandElementTest, DrawUpdateSuppressedRaisesTheFlagForTheCallOnly)
{
    struct Probe : CBandElement
    {
        using CBandElement::CBandElement;
        int nSeen = -1;
        void DrawUpdate(CDC *, const PenTable *) override { nSeen = m_bSuppress; }
    } probe{m_settings};
    probe.DrawUpdateSuppressed(nullptr, nullptr);
    EXPECT_EQ(probe.nSeen, 1);
    EXPECT_EQ(probe.m_bSuppress, 0);
    probe.DrawUpdate(nullptr, nullptr);
    EXPECT_EQ(probe.nSeen, 0);
}

// Drawing primitives, through a device context on an image.

class BandElementDrawTest : public BandElementTest
{
protected:
    void SetUp() override
    {
        BandElementTest::SetUp();
        m_image.fill(qRgb(0, 0, 0));
        RECT rc = kGraph;
        m_map.SetupForRect(rc);
        m_elem.SetMapper(&m_map);
    }

    static constexpr RECT kGraph{10, 10, 110, 90};
    QImage m_image{120, 100, QImage::Format_RGB32};
    CDC m_dc{&m_image};
    CCoordMapper m_map;
    const CPen m_pen{RGB(255, 0, 0)};
};

TEST_F(BandElementDrawTest, FillRowsPaintsEveryRowLeavingOutTheRightEnd)
{
    // Area rows 10..14 from x 5 to 25: device x 15..34, device y 76..80.
    m_elem.FillRows(&m_dc, {5, 10, 25, 14}, &m_pen);
    for (int y = 0; y < m_image.height(); ++y) {
        for (int x = 0; x < m_image.width(); ++x) {
            const bool inside = x >= 15 && x <= 34 && y >= 76 && y <= 80;
            ASSERT_EQ(PixelAt(m_image, x, y), inside ? m_pen.color : RGB(0, 0, 0)) << x << "," << y;
        }
    }
}

TEST_F(BandElementDrawTest, FillRowsNormalisesARectGivenUpsideDown)
{
    QImage normal = m_image.copy();
    {
        CDC dc(&normal);
        m_elem.FillRows(&dc, {5, 10, 25, 14}, &m_pen);
    }
    m_elem.FillRows(&m_dc, {25, 14, 5, 10}, &m_pen);
    EXPECT_EQ(CountDifferences(m_image, normal), 0);
    m_elem.FillRows(&m_dc, {5, 14, 25, 10}, &m_pen);
    EXPECT_EQ(CountDifferences(m_image, normal), 0);
}

TEST_F(BandElementDrawTest, FillRowsWithAnEmptyPenPaintsNothing)
{
    const QImage before = m_image.copy();
    const CPen empty;
    m_elem.FillRows(&m_dc, {5, 10, 25, 14}, &empty);
    m_elem.FillRows(&m_dc, {5, 10, 25, 14}, nullptr);
    EXPECT_EQ(CountDifferences(m_image, before), 0);
    EXPECT_EQ(m_dc.DirtyCount(), 0);
}

// The fast fill and the line per row must agree on every pixel, the current
// position and the area reported as drawn, for every rotation and mirroring.
TEST_F(BandElementDrawTest, FastFillMatchesTheLinePerRowForEveryRotationAndMirror)
{
    const int angles[] = {0, 90, 180, 270};
    for (int angle : angles) {
        for (int sx : {1, -1}) {
            for (int sy : {1, -1}) {
                CCoordMapper map;
                map.SetOrigin(40, 30);
                switch (angle) {
                case 0:
                    map.SetAngle0();
                    break;
                case 90:
                    map.SetAngle90();
                    break;
                case 180:
                    map.SetAngle180();
                    break;
                default:
                    map.SetAngle270();
                    break;
                }
                map.Compose(sx, 0, 0, sy);
                map.tx = 17;
                map.ty = 23;
                ASSERT_TRUE(map.IsAxisAligned());
                m_elem.SetMapper(&map);
                for (const RECT &rc : kFillRects) {
                    QImage fast = PatternImage(120, 100);
                    QImage slow = fast.copy();
                    CDC dcFast(&fast), dcSlow(&slow);
                    m_elem.FillRows(&dcFast, rc, &m_pen);
                    ReferenceFillRows(dcSlow, map, rc, &m_pen);
                    const auto where = [&] {
                        return ::testing::Message()
                               << "angle " << angle << " mirror " << sx << "," << sy << " rect "
                               << rc.left << "," << rc.top << "," << rc.right << "," << rc.bottom;
                    };
                    EXPECT_EQ(CountDifferences(fast, slow), 0) << where();
                    EXPECT_EQ(dcFast.GetCurrentPosition(), dcSlow.GetCurrentPosition()) << where();
                    EXPECT_EQ(dcFast.DirtyBounds(), dcSlow.DirtyBounds()) << where();
                }
            }
        }
    }
}

TEST_F(BandElementDrawTest, FastFillMatchesTheLinePerRowInsideAClip)
{
    for (int angle : {0, 90}) {
        CCoordMapper map;
        map.SetOrigin(40, 30);
        if (angle == 90)
            map.SetAngle90();
        map.tx = 20;
        m_elem.SetMapper(&map);
        for (const RECT &rc : kFillRects) {
            QImage fast = PatternImage(120, 100);
            QImage slow = fast.copy();
            CDC dcFast(&fast), dcSlow(&slow);
            dcFast.SetClipRect({25, 22, 61, 47});
            dcSlow.SetClipRect({25, 22, 61, 47});
            m_elem.FillRows(&dcFast, rc, &m_pen);
            ReferenceFillRows(dcSlow, map, rc, &m_pen);
            EXPECT_EQ(CountDifferences(fast, slow), 0) << angle;
        }
    }
}

TEST_F(BandElementDrawTest, FillRowsThroughOtherMappersDrawsTheLines)
{
    CCoordMapper sheared;
    sheared.Compose(1, 0.5, 0, 1); // Y = 0.5 x + y: the rows slope
    sheared.tx = 30;
    sheared.ty = 10;
    CCoordMapper scaled;
    scaled.Compose(2, 0, 0, 1);
    scaled.tx = 5;
    for (const CCoordMapper *pMap : {&sheared, &scaled}) {
        m_elem.SetMapper(pMap);
        for (const RECT &rc : kFillRects) {
            QImage fast = PatternImage(120, 100);
            QImage slow = fast.copy();
            CDC dcFast(&fast), dcSlow(&slow);
            m_elem.FillRows(&dcFast, rc, &m_pen);
            ReferenceFillRows(dcSlow, *pMap, rc, &m_pen);
            EXPECT_EQ(CountDifferences(fast, slow), 0);
        }
    }
}

TEST_F(BandElementDrawTest, FillRowsHonoursTheXorRasterOperation)
{
    QImage fast = PatternImage(120, 100);
    QImage slow = fast.copy();
    const QImage before = fast.copy();
    CDC dcFast(&fast), dcSlow(&slow);
    dcFast.SetROP2(CDC::R2_XORPEN);
    dcSlow.SetROP2(CDC::R2_XORPEN);
    m_elem.FillRows(&dcFast, {5, 10, 25, 14}, &m_pen);
    ReferenceFillRows(dcSlow, m_map, {5, 10, 25, 14}, &m_pen);
    EXPECT_EQ(CountDifferences(fast, slow), 0);
    EXPECT_EQ(CountDifferences(fast, before), 5 * 20);
}

TEST_F(BandElementDrawTest, DrawFrameOutlinesTheClosedRectangle)
{
    // Area (5, 10)-(25, 40): device corners (15, 80) and (35, 50).
    const CPen pen(RGB(0, 255, 0));
    m_elem.DrawFrame(&m_dc, {5, 10, 25, 40}, &pen);
    for (int y = 0; y < m_image.height(); ++y) {
        for (int x = 0; x < m_image.width(); ++x) {
            const bool inBox = x >= 15 && x <= 35 && y >= 50 && y <= 80;
            const bool onRing = inBox && (x == 15 || x == 35 || y == 50 || y == 80);
            ASSERT_EQ(PixelAt(m_image, x, y), onRing ? pen.color : RGB(0, 0, 0)) << x << "," << y;
        }
    }
}

TEST_F(BandElementDrawTest, DrawFrameWithAnEmptyPenPaintsNothing)
{
    const QImage before = m_image.copy();
    const CPen empty;
    m_elem.DrawFrame(&m_dc, {5, 10, 25, 40}, &empty);
    m_elem.DrawFrame(&m_dc, {5, 10, 25, 40}, nullptr);
    EXPECT_EQ(CountDifferences(m_image, before), 0);
}

TEST_F(BandElementDrawTest, DrawLabelWritesTheTextAtTheMappedPoint)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    m_dc.SelectFont(&font);
    m_dc.SetBkMode(CDC::TRANSPARENT);
    m_dc.SetTextColor(RGB(255, 255, 255));
    m_dc.SetTextAlign(CDC::TA_LEFT | CDC::TA_TOP);
    m_elem.SetBins({0, 1, QStringLiteral("10k")});
    // Area (20, 50) is device (30, 40).
    m_elem.DrawLabel(&m_dc, 20, 50);
    const SIZE extent = m_dc.GetTextExtent(QStringLiteral("10k"));
    int inside = 0, outside = 0;
    for (int y = 0; y < m_image.height(); ++y) {
        for (int x = 0; x < m_image.width(); ++x) {
            if (PixelAt(m_image, x, y) == RGB(0, 0, 0))
                continue;
            // Antialiased ink may overhang the advance by a pixel.
            const bool inBox = x >= 29 && x <= 30 + extent.cx && y >= 40 && y < 40 + extent.cy;
            (inBox ? inside : outside) += 1;
        }
    }
    EXPECT_GT(inside, 10);
    EXPECT_EQ(outside, 0);
}
