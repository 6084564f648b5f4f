// Whole pictures of the display, rendered from a tone on the scripted sound
// input and judged by their pixels: chip thickness in every column type, the
// two channels of the stereo groups against each other, and the direction of
// the frequency axis inside a background picture.
#include "audio/input/ScriptedWaveInDriver.h"
#include "display/CBandElement.h"
#include "display/CSpectrumWnd.h"
#include "settings/SettingValues.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr COLORREF kChip = RGB(0, 255, 0);
constexpr COLORREF kPeak = RGB(255, 0, 0);
const QRgb kChipPixel = qRgb(0, 255, 0);
const QRgb kPeakPixel = qRgb(255, 0, 0);

int NoJitter()
{
    return 0;
}

// Plain settings for counting pixels: one chip colour, no labels, no divider
// lines, no picture, a black background, peaks held.
void PlainSettings(int nType, int nLdiv)
{
    ResetSettings();
    g_Version = 1;
    g_bPreview = 0;
    g_bSettingsChanged = 0;
    DisplaySettings &s = g_DisplaySettings;
    s.Type = nType;
    s.Ldiv = nLdiv;
    s.CGrad = 0;
    s.Cchip1 = int(kChip);
    s.Cpeekchip = int(kPeak);
    s.Cbackground = 0;
    s.SpectFrameDraw = 0;
    s.FreqStrSw = 0;
    s.LPeek = PEAK_HOLD;
    s.BmpName.clear();
}

// The window after start-up and a few frames of a sine of dHz at dDbfs
// (relative to full scale 32767) on both channels; its backing image.
QImage Render(double dHz, double dDbfs, const RECT &rcArea = RECT{0, 0, 400, 200})
{
    CBandElement::SetJitterSource(&NoJitter);
    auto *pDriver = new ScriptedWaveInDriver; // owned by the window's engine
    CSpectrumWnd wnd{g_DisplaySettings};
    wnd.SetWaveInDriver(std::unique_ptr<IWaveInDriver>(pDriver));
    wnd.CreateSpectrumWindow(rcArea, nullptr);
    wnd.SetArea(rcArea);
    g_bSettingsChanged = 0;
    wnd.OnTimer(CSpectrumWnd::TIMER_START);
    wnd.OnTimer(CSpectrumWnd::TIMER_OPEN);
    wnd.OnTimer(CSpectrumWnd::TIMER_FIRSTFRAME);
    const double a = 32767.0 * std::pow(10.0, dDbfs / 20.0);
    long long nDone = 0;
    for (int f = 0; f < 6; ++f) {
        const int nRate = int(pDriver->m_format.nSamplesPerSec);
        std::vector<int16_t> samples(size_t(2 * (nRate / 20)));
        for (size_t i = 0; i < samples.size(); i += 2, ++nDone) {
            const auto v = int16_t(
                std::lround(a * std::sin(2 * std::numbers::pi * dHz * double(nDone) / nRate)));
            samples[i] = samples[i + 1] = v;
        }
        pDriver->Record(samples.data(), samples.size() * sizeof(int16_t));
        wnd.OnTimer(CSpectrumWnd::TIMER_FRAME);
    }
    const RECT rcGraph = wnd.GraphRect();
    EXPECT_LE(rcGraph.left, rcGraph.right) << "the graph runs from right to left";
    CBandElement::SetJitterSource(nullptr);
    return wnd.BackingImage().copy();
}

bool IsLit(QRgb p)
{
    return p == kChipPixel || p == kPeakPixel;
}

// Runs of lit-chip pixels (peak excluded) and the gaps between them along the
// line of the picture that holds most of them: a row when bAlongX, else a column.
struct Runs
{
    std::vector<int> lit;
    std::vector<int> gaps;
};

Runs LongestLine(const QImage &img, bool bAlongX)
{
    const int nLines = bAlongX ? img.height() : img.width();
    const int nLength = bAlongX ? img.width() : img.height();
    auto pixel = [&](int line, int k) { return bAlongX ? img.pixel(k, line) : img.pixel(line, k); };
    int nBest = -1, nBestCount = 0;
    for (int line = 0; line < nLines; ++line) {
        int n = 0;
        for (int k = 0; k < nLength; ++k)
            n += pixel(line, k) == kChipPixel;
        if (n > nBestCount) {
            nBestCount = n;
            nBest = line;
        }
    }
    Runs runs;
    if (nBest < 0)
        return runs;
    int nRun = 0, nGap = 0;
    for (int k = 0; k <= nLength; ++k) {
        const bool bLit = k < nLength && pixel(nBest, k) == kChipPixel;
        if (bLit) {
            if (nRun == 0 && nGap > 0 && !runs.lit.empty())
                runs.gaps.push_back(nGap);
            ++nRun;
            nGap = 0;
        } else {
            if (nRun > 0)
                runs.lit.push_back(nRun);
            nRun = 0;
            ++nGap;
        }
    }
    return runs;
}

struct ThicknessCase
{
    int nType;
    int nLdiv;
    int nThickness; // rows per chip for that resolution
    int nGap;       // blank rows between chips
};

class DisplayPictureChips : public ::testing::TestWithParam<ThicknessCase>
{
protected:
    void TearDown() override { ResetSettings(); }
};

} // namespace

// A loud tone lights a long stack; along its level axis every lit chip is as
// thick as the resolution makes it and the gaps are as wide, whether the
// columns stand (types 0 and 3) or lie (type 2).
TEST_P(DisplayPictureChips, ChipsHaveTheirThicknessAlongTheLevelAxis)
{
    const ThicknessCase &c = GetParam();
    PlainSettings(c.nType, c.nLdiv);
    const QImage img = Render(1000.0, -6.0);
    const Runs runs = LongestLine(img, c.nType == TYPE_STEREO_LEFTRIGHT);
    ASSERT_GE(runs.lit.size(), 3u) << "no stack of chips on the picture";
    for (size_t i = 0; i < runs.lit.size(); ++i)
        EXPECT_EQ(runs.lit[i], c.nThickness) << "chip " << i;
    // The two stacks of a stereo type meet across the middle strip: one gap
    // of another width there.
    int nOtherGaps = 0;
    for (const int nGap : runs.gaps)
        nOtherGaps += nGap != c.nGap;
    EXPECT_LE(nOtherGaps, c.nType == TYPE_MONO ? 0 : 1);
}

// Thickness and gap by level resolution: fine 1 and 1, standard 2 and 2,
// coarse 3 and 2.
INSTANTIATE_TEST_SUITE_P(TypesAndResolutions, DisplayPictureChips,
                         ::testing::Values(ThicknessCase{0, 0, 1, 1}, ThicknessCase{0, 1, 2, 2},
                                           ThicknessCase{0, 2, 3, 2}, ThicknessCase{2, 0, 1, 1},
                                           ThicknessCase{2, 1, 2, 2}, ThicknessCase{2, 2, 3, 2},
                                           ThicknessCase{3, 0, 1, 1}, ThicknessCase{3, 2, 3, 2}),
                         [](const ::testing::TestParamInfo<ThicknessCase> &param) {
                             return "Type" + std::to_string(param.param.nType) + "Ldiv" +
                                    std::to_string(param.param.nLdiv);
                         });

// The same tone on both channels lights both groups alike: every right-channel
// column weighs its band as its left twin does.
TEST(DisplayPictureStereo, BothChannelsOfTheSameToneLightTheSameChips)
{
    for (const int nType : {TYPE_STEREO, TYPE_STEREO_TOPBOTTOM}) {
        for (const int nFdiv : {16, 5}) {
            PlainSettings(nType, LDIV_STANDARD);
            g_DisplaySettings.Fdiv = nFdiv;
            const QImage img = Render(10336.0, -30.0);
            // Type 1: left group in the left half; type 3: in the upper half.
            int nFirst = 0, nSecond = 0;
            for (int y = 0; y < img.height(); ++y) {
                for (int x = 0; x < img.width(); ++x) {
                    if (!IsLit(img.pixel(x, y)))
                        continue;
                    const bool bFirst =
                        nType == TYPE_STEREO ? x < img.width() / 2 : y < img.height() / 2;
                    ++(bFirst ? nFirst : nSecond);
                }
            }
            EXPECT_GT(nFirst, 0) << "type " << nType << ", Fdiv " << nFdiv;
            EXPECT_EQ(nFirst, nSecond) << "type " << nType << ", Fdiv " << nFdiv;
        }
    }
    ResetSettings();
}

namespace {

struct PictureCase
{
    const char *pszId;
    int nWidth, nHeight; // 0: no picture
    int nLeft, nTop, nRight, nBottom;
};

class DisplayPictureAxis : public ::testing::TestWithParam<PictureCase>
{
protected:
    void TearDown() override { ResetSettings(); }
    QTemporaryDir m_dir;
};

// The mean x of the lit pixels.
double LitCentre(const QImage &img, int *pCount)
{
    double sum = 0;
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (IsLit(img.pixel(x, y))) {
                sum += x;
                ++n;
            }
    *pCount = n;
    return n ? sum / n : 0.0;
}

} // namespace

// A low tone lights columns to the left of those a high tone lights, with or
// without a background picture, whatever margins the store holds for it.
TEST_P(DisplayPictureAxis, LowFrequenciesStayOnTheLeft)
{
    const PictureCase &c = GetParam();
    ASSERT_TRUE(m_dir.isValid());
    QString strPicture;
    if (c.nWidth > 0) {
        QImage picture(c.nWidth, c.nHeight, QImage::Format_RGB32);
        picture.fill(qRgb(40, 40, 120));
        strPicture = m_dir.filePath(QStringLiteral("picture.bmp"));
        ASSERT_TRUE(picture.save(strPicture, "BMP"));
    }
    double centres[2];
    const double tones[2] = {200.0, 5000.0};
    for (int i = 0; i < 2; ++i) {
        PlainSettings(TYPE_MONO, LDIV_STANDARD);
        DisplaySettings &s = g_DisplaySettings;
        s.BmpName = strPicture;
        s.AreaLeft = c.nLeft;
        s.AreaTop = c.nTop;
        s.AreaRight = c.nRight;
        s.AreaBottom = c.nBottom;
        int nLit = 0;
        centres[i] = LitCentre(Render(tones[i], -10.0), &nLit);
        ASSERT_GT(nLit, 0) << c.pszId << ": nothing lit at " << tones[i] << " Hz";
    }
    EXPECT_LT(centres[0], centres[1]) << c.pszId;
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, DisplayPictureAxis,
    ::testing::Values(PictureCase{"NoPicture", 0, 0, 123, 69, 114, 21},
                      PictureCase{"LargePictureDefaultMargins", 640, 320, 123, 69, 114, 21},
                      PictureCase{"SmallPictureDefaultMargins", 64, 32, 123, 69, 114, 21},
                      PictureCase{"MarginsMeetInTheMiddle", 64, 32, 32, 16, 32, 16}),
    [](const ::testing::TestParamInfo<PictureCase> &param) {
        return std::string(param.param.pszId);
    });
