#include "display/CBandElement.h"

#include "graphics/CDC.h"
#include "settings/Settings.h"

#include <QImage>

#include <gtest/gtest.h>

namespace {

int g_nJitter = 0;

// Area (x, y) is pixel (10 + x, 90 - y) of a 120 x 100 image.
class BandElementTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetSettings();
        m_settings = g_DisplaySettings;
        m_image.fill(qRgb(0, 0, 0));
        RECT rc{10, 10, 110, 90};
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

} // namespace

// The largest bin of the band only, raised by the jitter's whole percents and the gain.
TEST_F(BandElementTest, BandLevelIsTheLargestBinWithJitterAndGain)
{
    const float bins[8] = {99.0f, 0.25f, 0.75f, 0.5f, 0.125f, 99.0f, -3.0f, -1.0f};
    m_elem.SetSpectrum(bins, 99.0f);
    CBandElement::SetJitterSource([] { return g_nJitter; });
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
            ASSERT_EQ(m_image.pixel(x, y), bRows ? qRgb(255, 0, 0) : qRgb(0, bRing ? 255 : 0, 0))
                << x << "," << y;
        }
}
