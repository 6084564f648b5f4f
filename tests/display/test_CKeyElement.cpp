#include "display/CKeyElement.h"

#include "graphics/CDC.h"
#include "settings/Settings.h"

#include <QPainter>

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

// Black keys overlapping by 6 on the left and 8 on the right from y 25 put the notches at 23.
TEST_F(KeyTest, NotchedKeysArePaintedPixelByPixel)
{
    CKeyElement prev{g_DisplaySettings}, next{g_DisplaySettings};
    prev.SetGeometry({2, 25}, {14, 30}, 0);
    next.SetGeometry({32, 25}, {14, 30}, 0);
    for (const int nCase : {0, 1, 2, 3}) { // both, previous only, next only, a lone black key
        const int ln = nCase < 2 ? 6 : 0, rn = nCase == 0 || nCase == 2 ? 8 : 0,
                  h = ln || rn ? 23 : 45;
        m_image.fill(0);
        QImage expected = m_image.copy();
        m_key.LinkNeighbours(ln ? &prev : nullptr, rn ? &next : nullptr);
        m_key.m_bBlack = nCase == 3;
        m_key.m_nTop = 2;
        m_key.DrawFull(&m_dc, &m_pens);
        const POINT corners[] = {{10, 5},      {10, h}, {10 + ln, h}, {10 + ln, 45}, {40 - rn, 45},
                                 {40 - rn, h}, {40, h}, {40, 5},      {10, 5}};
        QPainter painter(&expected);
        const auto fill = [&](POINT a, POINT b, QColor c) { // the rectangle spanned, ends included
            const auto pixel = [](POINT p) { return QRect(p.x, 60 - p.y, 1, 1); };
            painter.fillRect(pixel(a).united(pixel(b)), c);
        };
        for (int i = 0; i < 8; ++i) // the outline, every corner included
            fill(corners[i], corners[i + 1], QColor(128, 128, 128));
        const QColor pen3 = nCase == 3 ? QColor(153, 60, 60) : QColor(255, 162, 162);
        fill({12, 5}, {38, h - 1}, pen3);
        fill({12 + ln, h}, {38 - rn, 45}, pen3);
        EXPECT_EQ(m_image, expected) << "case " << nCase;
    }
}
