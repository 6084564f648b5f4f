#include "display/CKeyElement.h"

#include "settings/SettingValues.h"
#include "display/CSpectrumWnd.h"
#include "graphics/CDC.h"
#include "audio/input/ScriptedWaveInDriver.h"

#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

int g_nJitter = 0;
int FixedJitter()
{
    return g_nJitter;
}

// The magnitude that reads dB decibels against 16-bit full scale.
float AtDb(double dB)
{
    return float(32767.0 * std::pow(10.0, dB / 20.0));
}

COLORREF PixelAt(const QImage &image, int x, int y)
{
    const QRgb rgb = image.pixel(x, y);
    return RGB(qRed(rgb), qGreen(rgb), qBlue(rgb));
}

// A key at (10, 5), 30 x 40, on a 60 x 60 image: area (x, y) is pixel (x, 60 - y).
class KeyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetSettings();
        g_DisplaySettings.KeyOn = -70;
        m_image.fill(0);
        RECT rc{0, 0, 60, 60};
        m_map.SetupForRect(rc);
        m_key.SetMapper(&m_map);
        m_key.SetGeometry({10, 5}, {30, 40}, 0);
        BuildKeyPens(m_pens);
        g_nJitter = 0;
        CBandElement::SetJitterSource(FixedJitter);
    }
    void TearDown() override { CBandElement::SetJitterSource(nullptr); }

    // One frame: the key's only bin reads keyDb (silence below -200), the
    // frame's loudest bin maxDb.
    void Frame(double keyDb, double maxDb)
    {
        m_bins[3] = keyDb < -200 ? 0.0f : AtDb(keyDb);
        m_key.SetSpectrum(m_bins, AtDb(maxDb));
        m_key.SetBins({3, 1, {}});
        m_key.ComputeLevel();
        m_key.DrawUpdate(&m_dc, &m_pens);
    }

    CKeyElement m_key{g_DisplaySettings};
    QImage m_image{60, 60, QImage::Format_RGB32};
    CDC m_dc{&m_image};
    CCoordMapper m_map;
    PenTable m_pens;
    float m_bins[8] = {};
};

} // namespace

TEST_F(KeyTest, PensRunFromWhiteAndBlackTowardsRed)
{
    const COLORREF expected[12] = {
        RGB(255, 255, 255), RGB(255, 224, 224), RGB(255, 193, 193), RGB(255, 162, 162),
        RGB(255, 131, 131), RGB(255, 100, 100), RGB(0, 0, 0),       RGB(51, 20, 20),
        RGB(102, 40, 40),   RGB(153, 60, 60),   RGB(204, 80, 80),   RGB(255, 100, 100)};
    for (int i = 0; i < 12; ++i)
        EXPECT_TRUE(!m_pens[i].IsNull() && m_pens[i].color == expected[i]) << i;
}

TEST_F(KeyTest, IntensityScalesFromKeyOnToTheFrameMaximum)
{
    struct Case
    {
        double maxDb, keyDb;
        int nIntensity;
    };
    const Case cases[] = {
        {-40, -40, 5},    // 30 x 6 / 30 = 6, limited to 5
        {-40, -54.99, 3}, // 15 dB up a 30 dB scale (a hair above -55, clear of the cut)
        {-40, -71, 0},    // below KeyOn: ComputeLevel silences it
        {-68, -68, 2},    // the scale is at least 5 dB wide: 2 x 6 / 5
        {-50, -59.9, 3},  // 10.1 x 6 / 20
        {-72, -66, 0},    // the frame's maximum itself is below KeyOn
    };
    for (const Case &c : cases) {
        m_key.m_nTop = -1;
        Frame(c.keyDb, c.maxDb);
        EXPECT_EQ(m_key.m_nTop, c.nIntensity - 1) << c.maxDb << " / " << c.keyDb;
        EXPECT_EQ(m_key.m_fLevel == 0.0f, c.keyDb < -70) << c.keyDb;
    }
}

TEST_F(KeyTest, ALoudestBinAtEitherEndOfAWideKeyIsHalved)
{
    g_nJitter = 10; // +10 %: 100 reads 110
    const float bins[5] = {100, 50, 20, 100, 50};
    // First bin, count, frame maximum, level.
    const float cases[][4] = {{0, 3, 100, 55}, {2, 3, 100, 110}, {1, 3, 100, 55},
                              {0, 2, 100, 110}, {0, 3, 0.0005f, 0}};
    for (const auto &c : cases) {
        m_key.SetSpectrum(bins, c[2]);
        m_key.SetBins({int(c[0]), int(c[1]), {}});
        EXPECT_FLOAT_EQ(m_key.BandLevel(), c[3]) << c[0] << " " << c[1] << " " << c[2];
    }
}

TEST_F(KeyTest, ASilencedKeyFadesByHalfEachFrame)
{
    Frame(-40, -40);
    ASSERT_EQ(m_key.m_nTop, 4);
    for (int top : {1, 0, -1}) {
        Frame(-300, -40);
        EXPECT_EQ(m_key.m_nTop, top);
        EXPECT_EQ(PixelAt(m_image, 25, 50), m_pens[top + 1].color) << top;
    }
    m_dc.ClearDirty();
    Frame(-300, -40);
    EXPECT_EQ(m_dc.DirtyCount(), 0); // at rest already: nothing to paint
    m_key.m_fLevel = AtDb(-40);
    m_key.DrawUpdateSuppressed(&m_dc, &m_pens); // lit in its state only
    EXPECT_EQ(m_key.m_nTop, 4);
    EXPECT_EQ(m_dc.DirtyCount(), 0);
}

// Black keys overlapping the key by 6 on the left and 8 on the right from
// y 25 up put its notches at 23. Each case is drawn in full at intensity 3.
TEST_F(KeyTest, NotchedKeysArePaintedPixelByPixel)
{
    CKeyElement prev{g_DisplaySettings}, next{g_DisplaySettings};
    prev.SetGeometry({2, 25}, {14, 30}, 0);
    next.SetGeometry({32, 25}, {14, 30}, 0);
    for (const int nCase : {0, 1, 2, 3}) { // both, previous only, next only, a lone black key
        const bool bPrev = nCase != 2 && nCase != 3, bNext = nCase != 1 && nCase != 3;
        const int bBlack = nCase == 3;
        m_image.fill(0);
        m_key.LinkNeighbours(bPrev ? &prev : nullptr, bNext ? &next : nullptr);
        m_key.m_bBlack = bBlack;
        m_key.m_nTop = 2;
        m_key.DrawFull(&m_dc, &m_pens);

        QImage expected(60, 60, QImage::Format_RGB32);
        expected.fill(0);
        const auto put = [&](int x, int y, COLORREF col) {
            expected.setPixel(x, 60 - y, qRgb(GetRValue(col), GetGValue(col), GetBValue(col)));
        };
        // Without neighbours no notch: the narrowing (by 0) starts at the top.
        const int ln = bPrev ? 6 : 0, rn = bNext ? 8 : 0, h = bPrev || bNext ? 23 : 45;
        const POINT corners[] = {{10, 5},      {10, h}, {10 + ln, h}, {10 + ln, 45}, {40 - rn, 45},
                                 {40 - rn, h}, {40, h}, {40, 5},      {10, 5}};
        for (int i = 0; i < 8; ++i) {
            const POINT a = corners[i], b = corners[i + 1];
            for (int x = std::min(a.x, b.x); x <= std::max(a.x, b.x); ++x)
                for (int y = std::min(a.y, b.y); y <= std::max(a.y, b.y); ++y)
                    put(x, y, kKeyOutlineColor);
        }
        for (int y = 5; y <= 45; ++y) // rows x + 2 .. x + w - 1, the right end left out
            for (int x = y < h ? 12 : 12 + ln; x < (y < h ? 39 : 39 - rn); ++x)
                put(x, y, m_pens[6 * bBlack + 3].color);
        EXPECT_EQ(m_image, expected) << "case " << nCase;
        EXPECT_EQ(m_key.m_nTop, 2);
    }
    EXPECT_EQ(prev.m_nNotchHeight + next.m_nNotchHeight, 0);
}

// Eight keys above KeyOn, 2 dB apart; only the KeyNum = 5 loudest keep their
// level and light, the others are painted at rest.
TEST(KeyWindow, OnlyTheKeyNumLoudestKeysLight)
{
    CSpectrumWnd wnd{g_DisplaySettings};
    ResetSettings();
    g_DisplaySettings.Type = TYPE_KEYBOARD;
    wnd.SetWaveInDriver(std::make_unique<ScriptedWaveInDriver>());
    wnd.CreateSpectrumWindow(RECT{0, 0, 800, 300}, nullptr);
    wnd.SetArea(RECT{0, 0, 800, 300});
    g_bSettingsChanged = 0;
    wnd.BuildLayout(11025, 1024);
    CFFT &fft = wnd.Engine().TransformA();
    fft.Setup(1024, 1, CHANNEL_MEAN);
    g_nJitter = 0;
    CBandElement::SetJitterSource(FixedJitter);

    const int anSlot[8] = {40, 2, 30, 5, 0, 10, 4, 9}; // quietest first
    float *pSpectrum = fft.LockSpectrum();
    std::fill(pSpectrum, pSpectrum + 512, 0.0f);
    for (int i = 0; i < CSpectrumWnd::kMaxElements; ++i) // every other key hears nothing
        if (CBandElement *p = wnd.Element(i))
            p->SetBins({0, 0, {}});
    for (int k = 0; k < 8; ++k) {
        CBandElement *p = wnd.Element(anSlot[k]);
        ASSERT_NE(p, nullptr) << anSlot[k];
        p->SetBins({100 + 10 * k, 1, {}});
        p->m_fGain = 1.0f;
        pSpectrum[100 + 10 * k] = AtDb(-60 + 2 * k);
    }
    fft.m_fMax = AtDb(-46);
    fft.UnlockSpectrum();

    QImage image(800, 300, QImage::Format_RGB32);
    CDC dc(&image);
    wnd.DrawUpdate(&dc); // levels, the KeyNum choice, painting
    for (int k = 0; k < 8; ++k) {
        const CBandElement *p = wnd.Element(anSlot[k]);
        EXPECT_EQ(p->m_fLevel, k >= 3 ? AtDb(-60 + 2 * k) : 0.0f) << k;
        EXPECT_EQ(p->IsIdle(), k < 3 ? 1 : 0) << k;
    }
    // The loudest key, black, shows intensity 5 in the key colours.
    const CBandElement *p = wnd.Element(anSlot[7]);
    int x = p->m_origin.x + p->m_size.cx / 2, y = p->m_origin.y + 1;
    p->m_mapArea.MapXY(x, y);
    EXPECT_EQ(PixelAt(image, x, y), RGB(255, 100, 100));
    CBandElement::SetJitterSource(nullptr);
}
