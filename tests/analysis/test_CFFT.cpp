#include "analysis/CFFT.h"
#include "audio/CWave.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <functional>
#include <numbers>
#include <numeric>
#include <tuple>
#include <utility>
#include <vector>

namespace {

// One 16-bit step in the engine's sample units (full scale +-10000).
constexpr double kUnit = 10000.0 / 32768.0;
constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr uint32_t kDisplayFlags = FFT_REMOVEDC | FFT_WINDOW | FFT_SINGLE | FFT_FASTMAG;
// Exact extremes of max + min/3 relative to sqrt(max^2 + min^2): at equal
// components, and where the smaller is a third of the larger.
const double kFastLow = 2.0 * std::sqrt(2.0) / 3.0;
const double kFastHigh = std::sqrt(10.0) / 3.0;

// Left and right sample of a frame, in 16-bit units before rounding.
using StereoFn = std::function<std::pair<double, double>(int)>;

// A 22050 Hz 16-bit stereo buffer, written directly into its sample memory.
// Returns the interleaved samples as written, for reference calculations.
std::vector<int16_t> FillWave(CWave &wave, uint32_t dwFrames, const StereoFn &fn)
{
    wave.SetFormat(22050, 16, 2);
    EXPECT_EQ(wave.Allocate(dwFrames), 1);
    std::vector<int16_t> s(size_t(dwFrames) * 2);
    for (size_t i = 0; i < s.size(); ++i) {
        const auto [l, r] = fn(int(i / 2));
        s[i] = int16_t(std::lround(std::clamp(i % 2 ? r : l, -32768.0, 32767.0)));
    }
    std::memcpy(wave.GetData(0), s.data(), s.size() * sizeof(int16_t));
    wave.Unlock();
    return s;
}

auto Sine(double amplitude, double bin, int n, double phase = 0.0)
{
    return [=](int f) {
        const double v = amplitude * std::cos(kTwoPi * bin * f / n + phase);
        return std::pair{v, v};
    };
}

// Something like music: partials on no bin, an envelope, an offset and a
// little deterministic noise; the right channel differs from the left.
std::pair<double, double> MusicLike(int f)
{
    const double t = f / 22050.0, noise = double((uint32_t(f) * 2654435761u >> 7) % 2001) - 1000;
    const double env = 0.6 + 0.4 * std::sin(kTwoPi * 1.7 * t);
    return {env * (6000 * std::sin(kTwoPi * 220.3 * t) + 3000 * std::sin(kTwoPi * 3100.9 * t)) +
                noise + 700,
            5000 * std::sin(kTwoPi * 1234.5 * t + 1.1) + 0.5 * noise - 300};
}

// Twice the magnitude of (1/N) sum x[n] e^(-2 pi i k n / N) for k < N/2, by
// the definition, after mean removal and the periodic Hann window.
std::vector<double> NaiveSpectrum(std::vector<double> x)
{
    const size_t n = x.size();
    const double mean = std::accumulate(x.begin(), x.end(), 0.0) / double(n);
    for (size_t i = 0; i < n; ++i)
        x[i] = (x[i] - mean) * double(float(0.5 - 0.5 * std::cos(kTwoPi * double(i) / double(n))));
    std::vector<double> out(n / 2);
    for (size_t k = 0; k < n / 2; ++k) {
        std::complex<double> sum = 0.0;
        for (size_t i = 0; i < n; ++i)
            sum += x[i] * std::polar(1.0, -kTwoPi * double((k * i) % n) / double(n));
        out[k] = 2.0 * std::abs(sum) / double(n);
    }
    return out;
}

// nCount floats of one of the engine's arrays (by default the N/2 output
// values), read inside a lock bracket.
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

// The engine without a block, as constructed.
void ExpectUnsized(CFFT &fft)
{
    EXPECT_EQ(fft.m_nSize, 256);
    EXPECT_EQ(fft.m_nBlockBytes, 0);
    EXPECT_EQ(fft.m_hData, nullptr);
    EXPECT_EQ(fft.LockSpectrum(), nullptr);
}

} // namespace

TEST(CFFTLifecycle, ConstructionSetupFreeBuffersTablesAndLock)
{
    CFFT fft;
    // The same sizes as now only take the channel, even on an unsized engine.
    EXPECT_EQ(fft.Setup(256, 0, 1), 0);
    EXPECT_EQ(fft.m_nChannel, 1);
    EXPECT_EQ(fft.m_hData, nullptr);

    CWave wave;
    FillWave(wave, 1024, MusicLike);
    ASSERT_EQ(fft.Setup(512, 3, 2), 1);
    AnalyzeAt(fft, wave, 0, 0);
    ASSERT_GT(fft.m_fMax, 0.0f);
    fft.LockSpectrum();
    fft.FreeBuffers();
    ExpectUnsized(fft);
    EXPECT_EQ(std::tuple(fft.m_fMax, fft.m_nChannel, fft.m_nFrames), std::tuple(0.0f, 3, 0));

    // The same sizes again only take the channel: the block and the history
    // survive, the frame count and ring slot start over.
    ASSERT_EQ(fft.Setup(64, 2, 1), 1);
    AnalyzeAt(fft, wave, 0, 0);
    AnalyzeAt(fft, wave, 64, 0);
    const std::byte *block = fft.m_hData.get();
    const std::vector<float> history = Output(fft, &CFFT::m_pHistory, 64);
    EXPECT_GT(*std::max_element(history.begin(), history.end()), 100.0f);
    EXPECT_EQ(fft.Setup(64, 2, 0), 1);
    EXPECT_EQ(std::tuple(fft.m_nFrames, fft.m_nRing, fft.m_hData.get()), std::tuple(0, 0, block));
    EXPECT_EQ(Output(fft, &CFFT::m_pHistory, 64), history);
    AnalyzeAt(fft, wave, 0, FFT_SINGLE); // channel 0 is silence
    EXPECT_EQ(fft.m_fMax, 0.0f);
    // A new size rebuilds: a fresh, cleared block.
    EXPECT_EQ(fft.Setup(128, 2, 0), 1);
    EXPECT_EQ(Output(fft, &CFFT::m_pHistory, 128), std::vector<float>(128, 0.0f));

    const std::pair<int, int> bad[] = {{0, 1},    {1, 1},    {3, 1},       {384, 1},
                                       {-256, 1}, {256, -1}, {1 << 26, 16}}; // last: > 2^31 bytes
    for (const auto &[n, h] : bad) {
        SCOPED_TRACE(testing::Message() << "N=" << n << " H=" << h);
        ASSERT_EQ(fft.Setup(512, 1, 2), 1);
        EXPECT_EQ(fft.Setup(n, h, 1), 0);
        ExpectUnsized(fft);
    }

    ASSERT_EQ(fft.Setup(8, 1, 3), 1);
    float *p = fft.LockSpectrum();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(fft.LockSpectrum(), p); // no nesting: one unlock ends it
    // pi is the literal 3.14159265359, about 2.07e-13 too large, which leaves
    // cos(2 pi 2/8) at -(3.14159265359 - pi)/2 instead of 6e-17.
    EXPECT_NEAR(fft.m_pCos[2], -(3.14159265359 - std::numbers::pi) / 2, 2e-15);
    fft.UnlockSpectrum();
    EXPECT_EQ(fft.m_pSpectrum, nullptr); // meaningful only while locked

    // Below N = 4 no tables are built (a built cosine table starts with 1).
    ASSERT_EQ(fft.Setup(2, 1, 3), 1);
    fft.LockSpectrum();
    EXPECT_EQ(fft.m_pCos[0], 0.0);
    EXPECT_EQ(fft.m_pWindow[1], 0.0f);
    fft.UnlockSpectrum();
}

TEST(CFFTGuards, NothingWithoutWaveHistoryBlockOrFrames)
{
    constexpr int n = 32;
    CWave wave;
    FillWave(wave, n, [](int) { return std::pair{8000.0, 8000.0}; }); // exactly N frames will do
    CFFT fft;
    ASSERT_EQ(fft.Setup(n, 1, 3), 1);

    // A start past the end loads nothing: the fresh engine transforms zeros.
    AnalyzeAt(fft, wave, n + 1, FFT_SINGLE);
    EXPECT_EQ(fft.m_nFrames, 1);
    EXPECT_EQ(fft.m_fMax, 0.0f);
    AnalyzeAt(fft, wave, -1, FFT_SINGLE); // compared unsigned: past the end too
    EXPECT_EQ(fft.m_fMax, 0.0f);
    // At the end, before the buffer wrapped, every read gives the last frame.
    AnalyzeAt(fft, wave, n, FFT_SINGLE);
    const std::vector<float> before = Output(fft);
    const float fMax = fft.m_fMax, fMin = fft.m_fMin;
    EXPECT_NEAR(before[0], 2 * 8000 * kUnit, 1e-3);
    for (int k = 1; k < n / 2; ++k)
        EXPECT_NEAR(before[k], 0.0, 1e-6) << k;

    // Without a wave, or with fewer than N frames, the previous output,
    // maximum and minimum stay; a reset still happens.
    CWave shortWave;
    FillWave(shortWave, n - 1, Sine(20000, 9, n));
    AnalyzeAt(fft, shortWave, 0, FFT_SINGLE);
    const int start = 0;
    fft.Analyze(nullptr, &start, FFT_SINGLE | FFT_RESET);
    EXPECT_EQ(fft.m_nFrames, 0);
    EXPECT_EQ(Output(fft), before);
    EXPECT_EQ(std::pair(fft.m_fMax, fft.m_fMin), std::pair(fMax, fMin));

    // Without history slots, or without a block, nothing either.
    CFFT noHistory, unsized;
    ASSERT_EQ(noHistory.Setup(n, 0, 3), 1);
    noHistory.m_nFrames = 4;
    noHistory.m_nRing = 2;
    AnalyzeAt(noHistory, wave, 0, FFT_SINGLE | FFT_RESET);
    EXPECT_EQ(std::tuple(noHistory.m_fMax, noHistory.m_nFrames, noHistory.m_nRing),
              std::tuple(0.0f, 0, 0));
    AnalyzeAt(unsized, wave, 0, FFT_SINGLE);
    EXPECT_EQ(unsized.m_fMax, 0.0f);
}

// Signals whose spectrum follows from the definition: each gives the
// expected value of every output bin.
TEST(CFFTSpectrum, KnownSignals)
{
    // An impulse of height h spreads 2h/N over every bin, wherever it sits.
    auto impulse = [](int pos) {
        return [=](int f) { return std::pair{f == pos ? 3277.0 : 0.0, 0.0}; };
    };
    auto constant = [](int) { return std::pair{1000.0, 3000.0}; };
    auto nyquist = [](int f) { return std::pair{f % 2 ? -12000.0 : 12000.0, 0.0}; };
    constexpr uint32_t kPlain = FFT_SINGLE | FFT_REMOVEDC, kHann = kPlain | FFT_WINDOW;
    constexpr uint32_t kFast = FFT_SINGLE | FFT_FASTMAG;
    constexpr double kFastTolerance = 2e-4 * 30000 * kUnit;
    struct Case
    {
        const char *name;
        int n;
        StereoFn signal;
        int channel;
        uint32_t flags;
        std::vector<std::pair<int, double>> bins; // in 16-bit units, zero elsewhere; -1: all
        double tolerance;
    };
    // clang-format off
    const Case cases[] = {
        {"impulse at 0", 8, impulse(0), 1, FFT_SINGLE, {{-1, 2.0 * 3277 / 8}}, 1e-4},
        {"impulse at 3", 8, impulse(3), 1, FFT_SINGLE, {{-1, 2.0 * 3277 / 8}}, 1e-4},
        // A constant shows as twice its value in bin 0, unless the mean is removed.
        {"constant", 256, constant, 3, FFT_SINGLE, {{0, 4000}}, 1e-3},
        {"constant, mean removed", 256, constant, 3, kHann, {}, 1e-6},
        // A sine on a bin: A there; with the window A/2, and A/4 either side.
        {"sine on a bin", 256, Sine(16000, 10, 256, 0.7), 3, kPlain, {{10, 16000}}, 0.2},
        {"sine on a bin, Hann", 256, Sine(16000, 10, 256, 0.7), 3, kHann,
         {{9, 4000}, {10, 8000}, {11, 4000}}, 0.2},
        // Full scale with the display's flags peaks near 5000.
        {"full scale, display flags", 256, Sine(32767, 40, 256), 3, kDisplayFlags,
         {{39, 32767 / 4.0}, {40, 32767 / 2.0}, {41, 32767 / 4.0}}, 0.5},
        // max + min/3 reads 2 sqrt(2)/3 at equal components and sqrt(10)/3
        // where the smaller is a third of the larger.
        {"fast, 45 degrees", 128, Sine(30000, 12, 128, std::numbers::pi / 4), 3, kFast,
         {{12, 30000 * kFastLow}}, kFastTolerance},
        {"fast, a third", 128, Sine(30000, 12, 128, std::atan(1.0 / 3.0)), 3, kFast,
         {{12, 30000 * kFastHigh}}, kFastTolerance},
        // Bin N/2 is not in the output; the window moves a quarter of it into N/2 - 1.
        {"Nyquist", 64, nyquist, 1, kPlain, {}, 1e-6},
        {"Nyquist, Hann", 64, nyquist, 1, kHann, {{31, 6000}}, 1e-3},
        // Channel 0 is silence (1, 2 and 3 are checked against the definition).
        {"channel 0", 64, Sine(8000, 5, 64), 0, FFT_SINGLE, {}, 0.2},
    };
    // clang-format on
    constexpr float kGuard = -7.25f;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CWave wave;
        FillWave(wave, uint32_t(c.n), c.signal);
        CFFT fft;
        ASSERT_EQ(fft.Setup(c.n, 1, c.channel), 1);
        // The history slot follows the output: a single frame leaves it alone.
        std::fill_n(fft.LockSpectrum() + c.n / 2, c.n / 2, kGuard);
        fft.UnlockSpectrum();
        AnalyzeAt(fft, wave, 0, c.flags);
        EXPECT_EQ(Output(fft, &CFFT::m_pHistory, c.n / 2), std::vector<float>(c.n / 2, kGuard));
        const std::vector<float> out = Output(fft);
        for (int k = 0; k < c.n / 2; ++k) {
            double expected = 0.0;
            for (const auto &[b, v] : c.bins)
                expected = b == k || b == -1 ? v * kUnit : expected;
            EXPECT_NEAR(out[size_t(k)], expected, c.tolerance) << "bin " << k;
        }
        const auto [lo, hi] = std::minmax_element(out.begin(), out.end());
        EXPECT_EQ(std::pair(fft.m_fMin, fft.m_fMax), std::pair(*lo, *hi));
    }
}

class CFFTAgainstDefinition : public testing::TestWithParam<int>
{
};

TEST_P(CFFTAgainstDefinition, MatchesNaiveDft)
{
    const int n = GetParam();
    CWave wave;
    const std::vector<int16_t> s = FillWave(wave, 8000, MusicLike);
    CFFT fft;
    for (int channel : {1, 2, 3}) {
        SCOPED_TRACE(channel);
        ASSERT_EQ(fft.Setup(n, 1, channel), 1);
        const int start = 5000 + 333 * channel;
        std::vector<double> x; // the left, the right or the mean of both
        for (size_t f = size_t(start); f < size_t(start + n); ++f)
            x.push_back(((channel & 1) * s[2 * f] + (channel >> 1) * s[2 * f + 1]) * kUnit /
                        (channel == 3 ? 2 : 1));
        const std::vector<double> ref = NaiveSpectrum(x);
        const double peak = *std::max_element(ref.begin(), ref.end());
        ASSERT_GT(peak, 100.0);

        AnalyzeAt(fft, wave, start, FFT_SINGLE | FFT_REMOVEDC | FFT_WINDOW);
        const std::vector<float> exact = Output(fft);
        for (size_t k = 0; k < ref.size(); ++k)
            ASSERT_NEAR(exact[k], ref[k], 1e-6 * peak + 1e-4) << k;

        // The display's flags: the fast estimate stays within its bounds.
        AnalyzeAt(fft, wave, start, kDisplayFlags);
        const std::vector<float> fast = Output(fft);
        for (size_t k = 0; k < ref.size(); ++k) {
            if (ref[k] > 1e-3 * peak) {
                EXPECT_GE(fast[k] / ref[k], kFastLow - 1e-5) << k;
                EXPECT_LE(fast[k] / ref[k], kFastHigh + 1e-5) << k;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(DisplaySizes, CFFTAgainstDefinition, testing::Values(256, 512, 1024));

// History modes. The wave holds segments of N frames, each a sine on bin 10
// with its own amplitude, so frame s is analysed from start s * N.
namespace {
constexpr int kModeN = 64;
constexpr int kModeBin = 10;

void FillSegments(CWave &wave, const std::vector<double> &amplitudes, double firstDc = 0.0)
{
    FillWave(wave, uint32_t(amplitudes.size() * kModeN), [&](int f) {
        const double v = amplitudes[size_t(f / kModeN)] * std::cos(kTwoPi * kModeBin * f / kModeN) +
                         (f < kModeN ? firstDc : 0.0);
        return std::pair{v, v};
    });
}
} // namespace

TEST(CFFTModes, PeakHoldAndDecay)
{
    CWave wave;
    FillSegments(wave, {16000, 0, 0, 0, 4000}, 4000);
    for (uint32_t flags : {FFT_PEAKHOLD, FFT_PEAKDECAY}) {
        SCOPED_TRACE(flags);
        CFFT fft;
        ASSERT_EQ(fft.Setup(kModeN, 1, 3), 1);
        AnalyzeAt(fft, wave, 0, flags);
        std::vector<float> out = Output(fft);
        EXPECT_NEAR(out[0], 2 * 4000 * kUnit, 0.2);
        float held = out[kModeBin];
        EXPECT_NEAR(held, 16000 * kUnit, 0.2);
        for (int frame = 1; frame <= 3; ++frame) {
            AnalyzeAt(fft, wave, frame * kModeN, flags); // silence
            out = Output(fft);
            held *= flags == FFT_PEAKDECAY ? 0.9f : 1.0f;
            EXPECT_EQ(out[kModeBin], held) << frame;
            EXPECT_EQ(out[0], 0.0f) << frame; // DC always shows the current frame
            EXPECT_EQ(fft.m_fMax, held);
        }
        // A reset starts over from the current frame.
        AnalyzeAt(fft, wave, 4 * kModeN, flags | FFT_RESET);
        EXPECT_NEAR(Output(fft)[kModeBin], 4000 * kUnit, 0.2);
    }
}

// The cumulative average takes every frame since the reset (not capped at H),
// the moving one the last H.
TEST(CFFTModes, CumulativeAndMovingAverages)
{
    CWave wave;
    FillSegments(wave, {1000, 2000, 4000, 8000, 16000});
    struct Case
    {
        uint32_t flags;
        int h;
        std::vector<double> expected;
    };
    const Case cases[] = {
        {FFT_CUMULATIVE, 2, {1000, 1500, 7000.0 / 3, 15000.0 / 4, 31000.0 / 5}},
        {0, 3, {1000, 1500, 7000.0 / 3, 14000.0 / 3, 28000.0 / 3}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.flags);
        CFFT fft;
        ASSERT_EQ(fft.Setup(kModeN, c.h, 3), 1);
        for (int frame = 0; frame < 5; ++frame) {
            AnalyzeAt(fft, wave, frame * kModeN, c.flags);
            const std::vector<float> out = Output(fft);
            // The first frame fills slot 0 only, and the output is that slot.
            std::vector<float> first = out;
            first.resize(size_t(c.h * kModeN / 2), 0.0f);
            EXPECT_TRUE(frame > 0 || Output(fft, &CFFT::m_pHistory, c.h * kModeN / 2) == first);
            EXPECT_NEAR(out[kModeBin], c.expected[size_t(frame)] * kUnit, 0.3) << frame;
            EXPECT_EQ(fft.m_fMax, out[kModeBin]);
            EXPECT_EQ(fft.m_fMin, *std::min_element(out.begin(), out.end()));
        }
        // A reset starts over.
        AnalyzeAt(fft, wave, kModeN, c.flags | FFT_RESET);
        EXPECT_EQ(fft.m_nFrames, 1);
        EXPECT_NEAR(Output(fft)[kModeBin], 2000 * kUnit, 0.3);
    }

    // In single-frame mode the accumulate bit means nothing.
    CFFT fft;
    ASSERT_EQ(fft.Setup(kModeN, 2, 3), 1);
    AnalyzeAt(fft, wave, 2 * kModeN, FFT_SINGLE | FFT_CUMULATIVE);
    AnalyzeAt(fft, wave, 3 * kModeN, FFT_SINGLE | FFT_CUMULATIVE);
    EXPECT_NEAR(Output(fft)[kModeBin], 8000 * kUnit, 0.3);
}
