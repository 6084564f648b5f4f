#include "display/CBandElement.h"

#include "graphics/CDC.h"
#include "settings/Settings.h"

#include <QImage>

#include <gtest/gtest.h>

#include <set>

namespace {

int g_nJitter = 0;
int FixedJitter()
{
    return g_nJitter;
}

class BandElementTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetSettings();
        m_settings = g_DisplaySettings;
        m_image.fill(qRgb(0, 0, 0));
        RECT rc{10, 10, 110, 90}; // area (x, y) is pixel (10 + x, 90 - y)
        m_map.SetupForRect(rc);
        m_elem.SetMapper(&m_map);
    }
    void TearDown() override { CBandElement::SetJitterSource(nullptr); }

    DisplaySettings m_settings;
    CBandElement m_elem{m_settings};
    QImage m_image{120, 100, QImage::Format_RGB32};
    CDC m_dc{&m_image};
    CCoordMapper m_map;
    const CPen m_pen{RGB(255, 0, 0)};
};

// A background where every pixel differs from its neighbours.
QImage PatternImage()
{
    QImage image(120, 100, QImage::Format_RGB32);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 120; ++x)
            image.setPixel(x, y, qRgb((x * 7) & 0xFF, (y * 5) & 0xFF, (x + y) & 0x7F));
    return image;
}

} // namespace

// The largest bin of the band only, raised by the jitter's whole percents and the gain.
TEST_F(BandElementTest, BandLevelIsTheLargestBinWithJitterAndGain)
{
    const float bins[8] = {99.0f, 0.25f, 0.75f, 0.5f, 0.125f, 99.0f, -3.0f, -1.0f};
    m_elem.SetSpectrum(bins, 99.0f);
    CBandElement::SetJitterSource(FixedJitter);
    // First bin, count, gain, jitter, level.
    const float cases[][5] = {{1, 4, 1, 0, 0.75f},   {1, 4, 1.25f, 0, 0.9375f},
                              {1, 4, 1, 14, 0.855f}, {1, 4, 2, 14, 1.71f},
                              {6, 2, 1, 0, 0.0f},    {0, 1, 1, 10, 108.9f}};
    for (const auto &c : cases) {
        m_elem.SetBins({int(c[0]), int(c[1]), {}});
        m_elem.m_fGain = c[2];
        g_nJitter = int(c[3]);
        EXPECT_FLOAT_EQ(m_elem.BandLevel(), c[4]) << c[0] << " " << c[1] << " " << c[3];
    }
    // Unfixed, the jitter takes every whole percent from 0 to 14 of the 99.
    CBandElement::SetJitterSource(nullptr);
    CBandElement::SeedJitter(12345);
    std::set<float> seen, expected;
    for (int i = 0; i < 3000; ++i) {
        seen.insert(m_elem.BandLevel());
        expected.insert(float(i % 15 * 99.0f * 0.01 + 99.0f));
    }
    EXPECT_EQ(seen, expected);
}

TEST_F(BandElementTest, LabelStripsFollowTheFontAndTheAngle)
{
    // Font height 11 and 2: along the column, or twice across it.
    const int cases[][3] = {{-11, 0, 13},   {-11, 180, 13}, {-11, 90, 24},
                            {-11, 270, 24}, {9, 0, 11},     {9, 90, 20}};
    for (const auto [nHeight, nAngle, nExtent] : cases) {
        m_settings.Font.lfHeight = nHeight;
        EXPECT_EQ(m_elem.LabelExtent(nAngle), nExtent) << nHeight << " " << nAngle;
    }
    m_settings.FreqStrSw = 0;
    EXPECT_EQ(m_elem.LabelExtent(90), 0);
}

TEST_F(BandElementTest, RowsAndFramesPaintExactlyTheirPixels)
{
    // Area rows 10..14 from x 5 to 25, given upside down: pixels x 15..34, y 76..80.
    m_elem.FillRows(&m_dc, {25, 14, 5, 10}, &m_pen);
    m_elem.FillRows(&m_dc, {5, 10, 25, 14}, nullptr);
    // Area (5, 20)-(25, 40) outlined, right and top ends included: x 15..35, y 50..70.
    const CPen green(RGB(0, 255, 0));
    m_elem.DrawFrame(&m_dc, {5, 20, 25, 40}, &green);
    m_elem.DrawFrame(&m_dc, {50, 20, 60, 40}, nullptr);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 120; ++x) {
            const bool bRows = x >= 15 && x <= 34 && y >= 76 && y <= 80;
            const bool bRing = x >= 15 && x <= 35 && y >= 50 && y <= 70 &&
                               (x == 15 || x == 35 || y == 50 || y == 70);
            ASSERT_EQ(m_image.pixel(x, y), bRows   ? qRgb(255, 0, 0)
                                           : bRing ? qRgb(0, 255, 0)
                                                   : qRgb(0, 0, 0))
                << x << "," << y;
        }
}

// The one-rectangle fill agrees with a line per row on every pixel, the
// current position and the area reported as drawn, for every rotation and
// mirror, other mappers, a clip and the XOR operation.
TEST_F(BandElementTest, TheFastFillMatchesALinePerRow)
{
    const RECT rects[] = {{10, 20, 30, 25},  {12, 5, 12, 9}, {3, 7, 18, 7},
                          {-20, -5, 15, 40}, {0, 0, 1, 1},   {-300, -300, -250, -260}};
    void (CCoordMapper::*const kTurns[])() = {&CCoordMapper::SetAngle0, &CCoordMapper::SetAngle90,
                                              &CCoordMapper::SetAngle180,
                                              &CCoordMapper::SetAngle270};
    std::vector<std::pair<CCoordMapper, int>> maps; // mapper, raster operation
    for (int nCase = 0; nCase < 20; ++nCase) {
        CCoordMapper map;
        map.SetOrigin(40, 30);
        (map.*kTurns[nCase / 4 % 4])();
        map.Compose(nCase % 2 ? -1 : 1, nCase >= 16 ? 0.5 : 0, 0,
                    nCase / 2 % 2 ? -1 : 1); // 16..19 sheared
        map.tx = 17;
        map.ty = 23;
        maps.emplace_back(map, nCase == 5 ? CDC::R2_XORPEN : CDC::R2_COPYPEN);
    }
    for (size_t i = 0; i < maps.size(); ++i) {
        const auto &[map, nRop] = maps[i];
        m_elem.SetMapper(&map);
        for (const RECT &rc : rects) {
            QImage fast = PatternImage(), slow = fast.copy();
            CDC dcFast(&fast), dcSlow(&slow);
            for (CDC *pDC : {&dcFast, &dcSlow}) {
                pDC->SetROP2(nRop);
                if (&rc == &rects[3])
                    pDC->SetClipRect({25, 22, 61, 47});
            }
            m_elem.FillRows(&dcFast, rc, &m_pen);
            dcSlow.SelectPen(&m_pen);
            for (int y = std::min(rc.top, rc.bottom); y <= std::max(rc.top, rc.bottom); ++y) {
                int x1 = rc.left, y1 = y, x2 = rc.right, y2 = y;
                map.MapXY(x1, y1);
                map.MapXY(x2, y2);
                dcSlow.MoveTo(x1, y1);
                dcSlow.LineTo(x2, y2);
            }
            EXPECT_TRUE(fast == slow && dcFast.DirtyBounds() == dcSlow.DirtyBounds() &&
                        dcFast.GetCurrentPosition() == dcSlow.GetCurrentPosition())
                << "map " << i << " rect " << &rc - rects;
        }
    }
}
