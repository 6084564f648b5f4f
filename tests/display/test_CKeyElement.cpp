#include "display/CKeyElement.h"

#include "graphics/CDC.h"
#include "settings/Settings.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// A white key at (10, 5), 30 x 40, on a 60 x 60 image: area (x, y) is pixel (x, 60 - y).
class KeyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetSettings(); // KeyOn -70
        RECT rc{0, 0, 60, 60};
        m_map.SetupForRect(rc);
        m_key.SetMapper(&m_map);
        m_key.SetGeometry({10, 5}, {30, 40}, 0);
        BuildKeyPens(m_pens);
        CBandElement::SetJitterSource([] { return 0; });
    }
    void TearDown() override { CBandElement::SetJitterSource(nullptr); }

    CKeyElement m_key{g_DisplaySettings};
    QImage m_image{60, 60, QImage::Format_RGB32};
    CDC m_dc{&m_image};
    CCoordMapper m_map;
    PenTable m_pens;
};

} // namespace

// Six steps from KeyOn to the frame maximum (5 dB at least); lit at once, fading by halves.
TEST_F(KeyTest, IntensitiesRiseAtOnceAndFadeByHalves)
{
    // clang-format off
    const auto atDb = [](double dB) { return dB < -200 ? 0.0f : float(32767.0 * std::pow(10.0, dB / 20.0)); };
    // Frame maximum, key (dB; -300: silence), intensity shown in pens white towards red.
    const double frames[][3] = {{-40, -40, 5}, {-40, -300, 2}, {-40, -300, 1}, {-40, -300, 0}, {-40, -54.99, 3},
                                {-40, -71, 1}, {-66, -66.5, 4}, {-50, -59.9, 3}, {-72, -66, 1}, {-40, -300, 0}};
    // clang-format on
    float bins[5] = {};
    m_key.m_nTop = -1;
    for (const auto &c : frames) {
        bins[3] = atDb(c[1]);
        m_key.SetSpectrum(bins, atDb(c[0]));
        m_key.SetBins({3, 1, {}});
        m_key.ComputeLevel();
        m_key.DrawUpdate(&m_dc, &m_pens);
        EXPECT_EQ(m_key.m_nTop, int(c[2]) - 1) << c[0] << " / " << c[1];
        EXPECT_EQ(m_image.pixel(25, 50), qRgb(255, 255 - 31 * int(c[2]), 255 - 31 * int(c[2])));
    }
}
