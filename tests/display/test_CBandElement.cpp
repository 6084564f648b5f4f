#include "display/CBandElement.h"

#include "settings/Settings.h"

#include <gtest/gtest.h>

namespace {
int g_nJitter = 0;
} // namespace

// The largest bin of the band only, raised by the jitter's whole percents and the gain.
TEST(BandElementTest, BandLevelIsTheLargestBinWithJitterAndGain)
{
    ResetSettings();
    DisplaySettings settings = g_DisplaySettings;
    CBandElement elem{settings};
    const float bins[8] = {99.0f, 0.25f, 0.75f, 0.5f, 0.125f, 99.0f, -3.0f, -1.0f};
    elem.SetSpectrum(bins, 99.0f);
    CBandElement::SetJitterSource([] { return g_nJitter; });
    // First bin, count, gain, jitter, level.
    const float cases[][5] = {{1, 4, 1, 0, 0.75f},   {1, 4, 1.25f, 0, 0.9375f},
                              {1, 4, 1, 14, 0.855f}, {1, 4, 2, 14, 1.71f},
                              {6, 2, 1, 0, 0.0f},    {0, 1, 1, 10, 108.9f}};
    for (const auto &c : cases) {
        elem.SetBins({int(c[0]), int(c[1]), {}});
        elem.m_fGain = c[2];
        g_nJitter = int(c[3]);
        EXPECT_FLOAT_EQ(elem.BandLevel(), c[4]) << c[0] << " " << c[1] << " " << c[3];
    }
    CBandElement::SetJitterSource(nullptr);
}
