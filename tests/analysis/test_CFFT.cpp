#include "analysis/CFFT.h"
#include "audio/CWave.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <tuple>
#include <vector>

namespace {

constexpr double kUnit = 10000.0 / 32768.0; // one 16-bit step in the engine's units
constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr uint32_t kDisplayFlags = FFT_REMOVEDC | FFT_WINDOW | FFT_SINGLE | FFT_FASTMAG;

using StereoFn = std::function<std::pair<double, double>(int)>;

// A 22050 Hz 16-bit stereo buffer, written straight into its sample memory.
void FillWave(CWave &wave, uint32_t dwFrames, const StereoFn &fn)
{
    wave.SetFormat(22050, 16, 2);
    EXPECT_EQ(wave.Allocate(dwFrames), 1);
    auto *p = reinterpret_cast<int16_t *>(wave.GetData(0));
    for (uint32_t i = 0; i < dwFrames * 2; ++i) {
        const auto [l, r] = fn(int(i / 2));
        p[i] = int16_t(std::lround(std::clamp(i % 2 ? r : l, -32768.0, 32767.0)));
    }
    wave.Unlock();
}

StereoFn Sine(double amplitude, double bin, int n, double phase = 0.0)
{
    return [=](int f) {
        const double v = amplitude * std::cos(kTwoPi * bin * f / n + phase);
        return std::pair{v, v};
    };
}

// nCount floats of one of the engine's arrays (by default the output), read while locked.
std::vector<float> Output(CFFT &fft, float *CFFT::*pArray = &CFFT::m_pSpectrum, int nCount = 0)
{
    fft.LockSpectrum();
    const float *p = fft.*pArray;
    std::vector<float> out(p, p + (p ? nCount ? nCount : fft.m_nSize / 2 : 0));
    fft.UnlockSpectrum();
    return out;
}

void AnalyzeAt(CFFT &fft, CWave &wave, int nStart, uint32_t dwFlags)
{
    fft.Analyze(&wave, &nStart, dwFlags);
}

} // namespace

TEST(CFFTLifecycle, SetupFreeBuffersGuardsAndTables)
{
    CWave wave, shortWave;
    FillWave(wave, 64, [](int) { return std::pair{8000.0, 8000.0}; }); // exactly N frames will do
    FillWave(shortWave, 63, Sine(20000, 9, 64));
    CFFT fft, noHistory, unsized;
    // A refused size (the last over 2^31 bytes) frees the block: the engine is as constructed.
    for (const auto &[n, h] :
         {std::pair{0, 1}, {1, 1}, {3, 1}, {384, 1}, {-256, 1}, {256, -1}, {1 << 26, 16}}) {
        ASSERT_EQ(fft.Setup(64, 1, 2), 1);
        AnalyzeAt(fft, wave, 0, FFT_SINGLE);
        EXPECT_EQ(fft.Setup(n, h, 1), 0) << n << " " << h;
        EXPECT_EQ(std::tuple(fft.m_nSize, fft.m_nHistory, fft.m_nBlockBytes, fft.LockSpectrum(),
                             fft.m_fMax, fft.m_nChannel),
                  std::tuple(256, 0, 0, nullptr, 0.0f, 3));
    }
    // A start past the end (negative compares unsigned) loads nothing: the fresh block's zeros.
    ASSERT_EQ(fft.Setup(64, 2, 1), 1);
    for (int nStart : {65, -1}) {
        AnalyzeAt(fft, wave, nStart, FFT_SINGLE);
        EXPECT_EQ(std::pair(fft.m_nFrames, fft.m_fMax), std::pair(1, 0.0f));
    }
    AnalyzeAt(fft, wave, 64, FFT_RESET); // at the end, unwrapped: every read is the last frame
    const std::vector<float> before = Output(fft), history = Output(fft, &CFFT::m_pHistory, 64);
    // No wave, or fewer than N frames: output and maximum stay; a reset still happens.
    AnalyzeAt(fft, shortWave, 0, 0);
    fft.Analyze(nullptr, nullptr, FFT_RESET);
    EXPECT_EQ(std::tuple(Output(fft), fft.m_fMax, fft.m_nFrames), std::tuple(before, before[0], 0));
    // Same sizes again only take the channel: block and history survive, the count starts over.
    AnalyzeAt(fft, wave, 64, 0);
    const std::byte *block = fft.m_hData.get();
    EXPECT_EQ(fft.Setup(64, 2, 0), 1);
    EXPECT_EQ(std::tuple(fft.m_nFrames, fft.m_nRing, fft.m_nChannel, fft.m_hData.get()),
              std::tuple(0, 0, 0, block));
    EXPECT_EQ(Output(fft, &CFFT::m_pHistory, 64), history);
    EXPECT_EQ(fft.Setup(128, 2, 0), 1); // a new size: a fresh, cleared block
    EXPECT_EQ(Output(fft, &CFFT::m_pHistory, 128), std::vector<float>(128, 0.0f));
    // Without history slots or a block, nothing but the reset.
    ASSERT_EQ(noHistory.Setup(32, 0, 3), 1);
    noHistory.m_nFrames = noHistory.m_nRing = 2;
    AnalyzeAt(noHistory, wave, 0, FFT_SINGLE | FFT_RESET);
    AnalyzeAt(unsized, wave, 0, FFT_SINGLE);
    EXPECT_EQ(std::tuple(noHistory.m_fMax, noHistory.m_nFrames, noHistory.m_nRing, unsized.m_fMax),
              std::tuple(0.0f, 0, 0, 0.0f));
    ASSERT_EQ(fft.Setup(8, 1, 3), 1); // the tables and the block's size
    fft.LockSpectrum();
    EXPECT_EQ(std::tuple(fft.m_pSin[2], fft.m_pWindow[4], fft.m_nBlockBytes),
              std::tuple(-1.0, 1.0f, 4 * (7 * 8 + 8)));
    fft.UnlockSpectrum();
}

// Expected bins from the definition: output 2|X[k]|, X[k] = (1/N) sum x[n] e^(-2 pi i k n / N).
TEST(CFFTSpectrum, KnownSignals)
{
    // clang-format off
    auto impulse = [](int pos) { return [=](int f) { return std::pair{f == pos ? 3277.0 : 0.0, 0.0}; }; };
    auto constant = [](int) { return std::pair{1000.0, 3000.0}; };
    auto nyquist = [](int f) { return std::pair{f % 2 ? -12000.0 : 12000.0, 0.0}; };
    constexpr uint32_t kPlain = FFT_SINGLE | FFT_REMOVEDC, kHann = kPlain | FFT_WINDOW;
    constexpr uint32_t kFast = FFT_SINGLE | FFT_FASTMAG;
    // N, signal, channel, flags, the bins in 16-bit units (zero elsewhere; -1: all), tolerance.
    using Case = std::tuple<int, StereoFn, int, uint32_t, std::vector<std::pair<int, double>>, double>;
    const Case cases[] = {
        // An impulse of height h spreads 2h/N over every bin, wherever it sits.
        {16, impulse(3), 1, FFT_SINGLE, {{-1, 2.0 * 3277 / 16}}, 1e-4},
        // A constant shows as twice its value in bin 0, unless the mean is removed.
        {256, constant, 3, FFT_SINGLE, {{0, 4000}}, 1e-3}, {64, constant, 2, FFT_SINGLE, {{0, 6000}}, 1e-3},
        {256, constant, 3, kHann, {}, 1e-6},
        // A sine on a bin: A there; with the window A/2, and A/4 either side.
        {256, Sine(16000, 10, 256, 0.7), 3, kPlain, {{10, 16000}}, 0.2},
        {256, Sine(16000, 10, 256, 0.7), 3, kHann, {{9, 4000}, {10, 8000}, {11, 4000}}, 0.2},
        {1024, Sine(32767, 40, 1024), 3, kDisplayFlags,
         {{39, 32767 / 4.0}, {40, 32767 / 2.0}, {41, 32767 / 4.0}}, 0.5},
        // max + min/3 reads 2 sqrt(2)/3 of |X| at equal parts, sqrt(10)/3 at one a third of the other.
        {128, Sine(30000, 12, 128, std::numbers::pi / 4), 3, kFast, {{12, 10000 * std::sqrt(8.0)}}, 2},
        {128, Sine(30000, 12, 128, std::atan(1.0 / 3.0)), 3, kFast, {{12, 10000 * std::sqrt(10.0)}}, 2},
        // Bin N/2 is not in the output; the window moves a quarter of it into N/2 - 1.
        {64, nyquist, 1, kPlain, {}, 1e-6}, {64, nyquist, 1, kHann, {{31, 6000}}, 1e-3},
        {64, Sine(8000, 5, 64), 0, FFT_SINGLE, {}, 0.2}, // channel 0 is silence
    };
    // clang-format on
    constexpr float kGuard = -7.25f;
    for (const auto &[n, signal, channel, flags, bins, tolerance] : cases) {
        CWave wave;
        FillWave(wave, uint32_t(n), signal);
        CFFT fft;
        ASSERT_EQ(fft.Setup(n, 1, channel), 1);
        std::fill_n(fft.LockSpectrum() + n / 2, n / 2, kGuard); // the history slot follows
        fft.UnlockSpectrum();
        AnalyzeAt(fft, wave, 0, flags);
        AnalyzeAt(fft, wave, 0, flags); // nothing of the first run is left for the second
        EXPECT_EQ(Output(fft, &CFFT::m_pHistory, n / 2), std::vector<float>(n / 2, kGuard));
        const std::vector<float> out = Output(fft);
        for (int k = 0; k < n / 2; ++k) {
            double expected = 0.0;
            for (const auto &[b, v] : bins)
                expected = b == k || b == -1 ? v * kUnit : expected;
            EXPECT_NEAR(out[size_t(k)], expected, tolerance) << n << " " << flags << " bin " << k;
        }
        const auto [lo, hi] = std::minmax_element(out.begin(), out.end());
        EXPECT_EQ(std::pair(fft.m_fMin, fft.m_fMax), std::pair(*lo, *hi));
    }
}

// History modes over segments of 64 frames, each a sine on bin 10 of its own amplitude.
TEST(CFFTModes, PeakHoldDecayCumulativeAndMovingAverages)
{
    CWave wave;
    const double amplitudes[] = {16000, 0, 0, 4000, 8000, 1000};
    FillWave(wave, 6 * 64, [&](int f) {
        const double v = amplitudes[f / 64] * std::cos(kTwoPi * 10 * f / 64) + (f < 64 ? 4000 : 0);
        return std::pair{v, v};
    });
    // Flags, history slots, bin 10 after each frame; DC (4000 in frame 0 only) is never held.
    const std::tuple<uint32_t, int, std::vector<double>> cases[] = {
        {FFT_PEAKHOLD, 1, {16000, 16000, 16000, 16000, 16000, 16000}},
        {FFT_PEAKDECAY, 1, {16000, 14400, 12960, 11664, 10497.6, 9447.84}},
        {FFT_CUMULATIVE, 2, {16000, 8000, 16000 / 3.0, 5000, 5600, 29000 / 6.0}},
        {0, 3, {16000, 8000, 16000 / 3.0, 4000 / 3.0, 4000, 13000 / 3.0}}};
    for (const auto &[flags, h, expected] : cases) {
        CFFT fft;
        ASSERT_EQ(fft.Setup(64, h, 3), 1);
        for (int frame = 0; frame < 6; ++frame) {
            AnalyzeAt(fft, wave, frame * 64, flags);
            const std::vector<float> out = Output(fft);
            EXPECT_NEAR(out[10], expected[size_t(frame)] * kUnit, 0.3) << flags << " " << frame;
            EXPECT_EQ(fft.m_fMax, out[10]);
            EXPECT_TRUE(!(flags & (FFT_PEAKHOLD | FFT_PEAKDECAY)) ||
                        std::abs(out[0] - (frame ? 0.0 : 8000 * kUnit)) < 0.2)
                << frame;
        }
    }
}

// Two engines in one transform against each on its own, frame by frame: the
// two channels differ, so a spectrum taken apart wrongly (swapped, halved,
// the mirror bin off by one) shows in either. Where the pair cannot share a
// transform, each runs as it would alone, and an engine paired with itself
// analyses once.
TEST(CFFTPair, BothChannelsInOneTransformAreEachAlone)
{
    // clang-format off
    auto twoSines = [](int f) { return std::pair{16000 * std::cos(kTwoPi * 5 * f / 64) + 1000,
                                                 9000 * std::sin(kTwoPi * 11.3 * f / 64 + 0.3) - 3000}; };
    auto leftOnly = [](int f) { return std::pair{30000 * std::cos(kTwoPi * 7 * f / 64), 0.0}; };
    auto nyquistRight = [](int f) { return std::pair{200.0 * (f % 5), f % 2 ? -12000.0 : 12000.0}; };
    struct Case { const char *pszWhat; StereoFn signal; uint32_t dwFlags; int nHistory; int nSizeB; int nStart; bool bSelf; };
    const Case cases[] = {
        {"display flags",          twoSines,     kDisplayFlags,                          1, 64,  0,    false},
        {"one channel silent",     leftOnly,     kDisplayFlags,                          1, 64,  0,    false},
        {"exact magnitudes, DC",   twoSines,     FFT_SINGLE,                             1, 64,  0,    false},
        {"bin N/2 - 1 and below",  nyquistRight, FFT_SINGLE | FFT_WINDOW | FFT_REMOVEDC, 1, 64,  0,    false},
        {"peak decay",             twoSines,     FFT_PEAKDECAY | FFT_WINDOW,             1, 64,  0,    false},
        {"moving average",         twoSines,     FFT_WINDOW | FFT_FASTMAG,               3, 64,  0,    false},
        {"sizes differ",           twoSines,     kDisplayFlags,                          1, 128, 0,    false},
        {"start past the end",     twoSines,     kDisplayFlags,                          1, 64,  1000, false},
        {"paired with itself",     nyquistRight, FFT_WINDOW,                             3, 64,  0,    true},
    };
    // clang-format on
    for (const Case &c : cases) {
        CWave wave;
        FillWave(wave, 4 * 64, c.signal);
        CFFT pairA, pairB, aloneA, aloneB;
        ASSERT_EQ(pairA.Setup(64, c.nHistory, 1) & aloneA.Setup(64, c.nHistory, 1), 1);
        ASSERT_EQ(pairB.Setup(c.nSizeB, c.nHistory, 2) & aloneB.Setup(c.nSizeB, c.nHistory, 2), 1);
        for (int frame = 0; frame < 3; ++frame) {
            const int nStart = c.nStart + frame * 37;
            pairA.AnalyzePair(c.bSelf ? pairA : pairB, &wave, &nStart, c.dwFlags);
            AnalyzeAt(aloneA, wave, nStart, c.dwFlags);
            if (!c.bSelf) {
                AnalyzeAt(aloneB, wave, nStart, c.dwFlags);
            }
            const std::pair<CFFT *, CFFT *> engines[] = {{&pairA, &aloneA}, {&pairB, &aloneB}};
            for (const auto &[pPair, pAlone] : engines) {
                const std::vector<float> paired = Output(*pPair), alone = Output(*pAlone);
                ASSERT_EQ(paired.size(), alone.size()) << c.pszWhat;
                // Rounding of double sums, seen through floats of up to 10,000.
                for (size_t k = 0; k < alone.size(); ++k)
                    EXPECT_NEAR(paired[k], alone[k], 2e-3)
                        << c.pszWhat << " frame " << frame << " bin " << k;
                EXPECT_NEAR(pPair->m_fMax, pAlone->m_fMax, 2e-3) << c.pszWhat;
            }
        }
    }
}
