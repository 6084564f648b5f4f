// Whole pictures of the display from a tone on the scripted input, judged by their pixels.
#include "audio/input/ScriptedWaveInDriver.h"
#include "display/CBandElement.h"
#include "display/CSpectrumWnd.h"
#include "settings/SettingValues.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

const QRgb kChipPixel = qRgb(0, 255, 0);

// For counting pixels: one chip colour, held peaks, no labels, divider or picture.
DisplaySettings &PlainSettings(int nType, int nLdiv)
{
    ResetSettings();
    std::tie(g_Version, g_bPreview) = std::tuple(1, 0);
    DisplaySettings &s = g_DisplaySettings;
    std::tie(s.Type, s.Ldiv, s.LPeek) = std::tuple(nType, nLdiv, PEAK_HOLD);
    s.CGrad = s.Cbackground = s.SpectFrameDraw = s.FreqStrSw = 0;
    std::tie(s.Cchip1, s.Cpeekchip) = std::tuple(int(RGB(0, 255, 0)), int(RGB(255, 0, 0)));
    return s;
}

// The window's picture after start-up and six frames of a sine of dHz at dDbfs.
QImage Render(double dHz, double dDbfs)
{
    CBandElement::SetJitterSource(+[] { return 0; });
    auto *pDriver = new ScriptedWaveInDriver; // owned by the window's engine
    CSpectrumWnd wnd{g_DisplaySettings};
    wnd.SetWaveInDriver(std::unique_ptr<IWaveInDriver>(pDriver));
    wnd.CreateSpectrumWindow(RECT{0, 0, 400, 200}, nullptr);
    wnd.SetArea(RECT{0, 0, 400, 200});
    g_bSettingsChanged = 0;
    for (const int nTimer :
         {CSpectrumWnd::TIMER_START, CSpectrumWnd::TIMER_OPEN, CSpectrumWnd::TIMER_FIRSTFRAME})
        wnd.OnTimer(nTimer);
    const int nRate = int(pDriver->m_format.nSamplesPerSec);
    const double a = 32767.0 * std::pow(10.0, dDbfs / 20.0), w = 2 * std::numbers::pi * dHz / nRate;
    std::vector<int16_t> samples(size_t(2 * (nRate / 20)));
    for (long long f = 0, nDone = 0; f < 6; ++f) {
        for (size_t i = 0; i < samples.size(); i += 2, ++nDone)
            samples[i] = samples[i + 1] = int16_t(std::lround(a * std::sin(w * double(nDone))));
        pDriver->Record(samples.data(), samples.size() * sizeof(int16_t));
        wnd.OnTimer(CSpectrumWnd::TIMER_FRAME);
    }
    EXPECT_LE(wnd.GraphRect().left, wnd.GraphRect().right) << "the graph runs from right to left";
    CBandElement::SetJitterSource(nullptr);
    return wnd.BackingImage().copy();
}

// Calls fn(x, y) for every lit pixel, chip or peak.
template <typename Fn> void ForEachLit(const QImage &img, Fn fn)
{
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixel(x, y) == kChipPixel || img.pixel(x, y) == qRgb(255, 0, 0)) // or peak
                fn(x, y);
}

} // namespace

// Along the level axis of a loud tone's stack every chip and gap has the resolution's
// size, columns standing or lying; the stereo stacks meet across one other gap.
TEST(DisplayPictures, ChipsHaveTheirThicknessAlongTheLevelAxis)
{
    // Type, Ldiv, thickness, gap (fine 1 1, standard 2 2, coarse 3 2); the level axis along rows.
    const int cases[][4] = {{0, 0, 1, 1}, {0, 1, 2, 2}, {0, 2, 3, 2}, {2, 0, 1, 1},
                            {2, 1, 2, 2}, {2, 2, 3, 2}, {3, 0, 1, 1}, {3, 2, 3, 2}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c[0] << ", Ldiv " << c[1]);
        PlainSettings(c[0], c[1]);
        const QImage img =
            Render(1000.0, -6.0).transformed(QTransform().rotate(c[0] == 2 ? 0 : 90));
        int nBest = 0; // the row with the most chip pixels
        for (int y = 0, n = 0, nMost = 0; y < img.height(); ++y, n = 0) {
            for (int x = 0; x < img.width(); ++x)
                n += img.pixel(x, y) == kChipPixel;
            if (n > nMost)
                nMost = n, nBest = y;
        }
        std::vector<std::pair<bool, int>> runs; // (chip, length), from the first chip
        for (int x = 0; x < img.width(); ++x) {
            const bool bChip = img.pixel(x, nBest) == kChipPixel;
            if (runs.empty() ? bChip : runs.back().first != bChip)
                runs.emplace_back(bChip, 0);
            if (!runs.empty())
                ++runs.back().second;
        }
        if (!runs.empty() && !runs.back().first)
            runs.pop_back();
        ASSERT_GE(runs.size(), 5u) << "no stack of chips on the picture";
        int nOtherGaps = 0;
        for (const auto &[bChip, nLength] : runs) {
            EXPECT_EQ(bChip ? nLength : c[2], c[2]);
            nOtherGaps += !bChip && nLength != c[3];
        }
        EXPECT_LE(nOtherGaps, c[0] == TYPE_MONO ? 0 : 1);
    }
}

// The same tone on both channels lights both groups alike.
TEST(DisplayPictures, BothChannelsOfTheSameToneLightTheSameChips)
{
    const int cases[][2] = {{TYPE_STEREO, 16}, {TYPE_STEREO, 5}, {3, 16}, {3, 5}}; // and top-bottom
    for (const auto &[nType, nFdiv] : cases) {                                     // type, Fdiv
        PlainSettings(nType, LDIV_STANDARD).Fdiv = nFdiv;
        const QImage img = Render(10336.0, -30.0);
        int anLit[2] = {0, 0}; // type 1: left group on the left; type 3: on top
        ForEachLit(img, [&](int x, int y) {
            ++anLit[nType == TYPE_STEREO ? x >= img.width() / 2 : y >= img.height() / 2];
        });
        EXPECT_EQ(std::pair(anLit[0] > 0, anLit[0]), std::pair(true, anLit[1]))
            << "type " << nType << ", Fdiv " << nFdiv;
    }
}

// A low tone lights columns left of those a high tone lights, with or without
// a background picture, whatever margins the store holds for it.
TEST(DisplayPictures, LowFrequenciesStayOnTheLeft)
{
    QTemporaryDir dir;
    // Picture width and height (0: none), whether the margins meet in the middle.
    const int cases[][3] = {{0, 0, 0}, {640, 320, 0}, {64, 32, 0}, {64, 32, 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "picture " << c[0] << "x" << c[1] << ", " << c[2]);
        QImage picture(c[0], c[1], QImage::Format_RGB32);
        picture.fill(qRgb(40, 40, 120));
        const QString strPicture = c[0] ? dir.filePath(QString::number(c[0]) + ".bmp") : QString();
        ASSERT_TRUE(strPicture.isEmpty() || picture.save(strPicture, "BMP"));
        double adCentre[2];
        for (int i = 0; i < 2; ++i) {
            DisplaySettings &s = PlainSettings(TYPE_MONO, LDIV_STANDARD);
            s.BmpName = strPicture;
            if (c[2]) // else the stored defaults 123, 69, 114, 21
                std::tie(s.AreaLeft, s.AreaTop, s.AreaRight, s.AreaBottom) =
                    std::tuple(32, 16, 32, 16);
            double dSum = 0;
            int nLit = 0;
            ForEachLit(Render(i ? 5000.0 : 200.0, -10.0), [&](int x, int) { dSum += x, ++nLit; });
            ASSERT_GT(nLit, 0) << "nothing lit for tone " << i;
            adCentre[i] = dSum / nLit; // the mean x of the lit pixels
        }
        EXPECT_LT(adCentre[0], adCentre[1]);
    }
}
