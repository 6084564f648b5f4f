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
    const double t = f / 22050.0;
    const double noise = double((uint32_t(f) * 2654435761u >> 7) % 2001) - 1000.0;
    const double env = 0.6 + 0.4 * std::sin(kTwoPi * 1.7 * t);
    const double l =
        env * (6000 * std::sin(kTwoPi * 220.3 * t) + 3000 * std::sin(kTwoPi * 443.7 * t + 0.3) +
               1500 * std::sin(kTwoPi * 3100.9 * t)) +
        noise + 700;
    const double r = 5000 * std::sin(kTwoPi * 1234.5 * t + 1.1) + 0.5 * noise - 300;
    return {l, r};
}

// Twice the magnitude of (1/N) sum x[n] e^(-2 pi i k n / N) for k < N/2, by
// the definition, after mean removal and the periodic Hann window.
std::vector<double> NaiveSpectrum(std::vector<double> x)
{
    const size_t n = x.size();
    double mean = 0.0;
    for (double v : x)
        mean += v / double(n);
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

std::vector<float> Output(CFFT &fft)
{
    const float *p = fft.LockSpectrum();
    std::vector<float> out;
    if (p)
        out.assign(p, p + fft.m_nSize / 2);
    fft.UnlockSpectrum();
    return out;
}

void AnalyzeAt(CFFT &fft, CWave &wave, int nStart, uint32_t dwFlags)
{
    fft.Analyze(&wave, &nStart, dwFlags);
}

void ExpectConstructionValues(CFFT &fft)
{
    EXPECT_EQ(fft.m_fMax, 0.0f);
    EXPECT_EQ(fft.m_fMin, 0.0f);
    EXPECT_EQ(fft.m_nHistory, 0);
    EXPECT_EQ(fft.m_nSize, 256);
    EXPECT_EQ(fft.m_nChannel, 3);
    EXPECT_EQ(fft.m_nFrames, 0);
    EXPECT_EQ(fft.m_hData, nullptr);
    EXPECT_EQ(fft.m_pWindow, nullptr);
    EXPECT_EQ(fft.m_pCos, nullptr);
    EXPECT_EQ(fft.LockSpectrum(), nullptr);
    EXPECT_EQ(fft.m_pData, nullptr);
}

} // namespace

TEST(CFFTLifecycle, ConstructionAndFreeBuffers)
{
    CFFT fft;
    ExpectConstructionValues(fft);
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
    ExpectConstructionValues(fft);
}

TEST(CFFTLifecycle, BlockSizeAndLayout)
{
    // 4 * (7N + N(H+1)/2) bytes: real, imaginary, sine, cosine, window,
    // output, history, in that order.
    const struct
    {
        int n, h, bytes;
    } cases[] = {{256, 1, 8192},   {512, 1, 16384}, {1024, 1, 32768},
                 {1024, 4, 38912}, {8, 3, 288},     {4, 0, 120}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "N=" << c.n << " H=" << c.h);
        CFFT fft;
        ASSERT_EQ(fft.Setup(c.n, c.h, 3), 1);
        EXPECT_EQ(fft.m_nBlockBytes, c.bytes);
        ASSERT_NE(fft.LockSpectrum(), nullptr);
        auto at = [&](const void *p) { return static_cast<const std::byte *>(p) - fft.m_pData; };
        const long n = c.n;
        EXPECT_EQ(at(fft.m_pReal), 0);
        EXPECT_EQ(at(fft.m_pImag), 8 * n);
        EXPECT_EQ(at(fft.m_pSin), 16 * n);
        EXPECT_EQ(at(fft.m_pCos), 20 * n);
        EXPECT_EQ(at(fft.m_pWindow), 24 * n);
        EXPECT_EQ(at(fft.m_pSpectrum), 28 * n);
        EXPECT_EQ(at(fft.m_pHistory), 30 * n);
        EXPECT_EQ(at(fft.m_pHistory + c.h * c.n / 2), c.bytes);
        fft.UnlockSpectrum();
    }
}

TEST(CFFTLifecycle, TablesAndLockBracket)
{
    CFFT fft;
    ASSERT_EQ(fft.Setup(8, 1, 3), 1);
    float *p = fft.LockSpectrum();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(fft.LockSpectrum(), p); // no nesting: one unlock ends it
    for (int i = 0; i < 8; ++i)
        EXPECT_NEAR(fft.m_pWindow[i], 0.5 - 0.5 * std::cos(kTwoPi * i / 8), 1e-7) << i;
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(fft.m_pCos[k], std::cos(kTwoPi * k / 8), 1e-11) << k;
        EXPECT_NEAR(fft.m_pSin[k], -std::sin(kTwoPi * k / 8), 1e-11) << k;
        EXPECT_EQ(p[k], 0.0f);
    }
    // pi is the literal 3.14159265359, about 2.07e-13 too large, which leaves
    // cos(2 pi 2/8) at -(3.14159265359 - pi)/2 instead of 6e-17.
    EXPECT_NEAR(fft.m_pCos[2], -(3.14159265359 - std::numbers::pi) / 2, 2e-15);
    fft.UnlockSpectrum();
    EXPECT_EQ(fft.m_pData, nullptr);
    EXPECT_EQ(fft.m_pSpectrum, nullptr);
    EXPECT_EQ(fft.m_pHistory, nullptr);
    EXPECT_EQ(fft.m_pReal, nullptr);
    EXPECT_EQ(fft.m_pImag, nullptr);

    // Below N = 4 no tables are built (a built cosine table starts with 1).
    CFFT two;
    ASSERT_EQ(two.Setup(2, 1, 3), 1);
    two.LockSpectrum();
    EXPECT_EQ(two.m_pCos[0], 0.0);
    EXPECT_EQ(two.m_pWindow[1], 0.0f);
    two.UnlockSpectrum();
}

TEST(CFFTLifecycle, RefusedSizesLeaveUnsized)
{
    const std::pair<int, int> bad[] = {{0, 1},    {1, 1},    {3, 1},       {384, 1},
                                       {-256, 1}, {256, -1}, {1 << 26, 16}}; // last: > 2^31 bytes
    for (const auto &[n, h] : bad) {
        SCOPED_TRACE(testing::Message() << "N=" << n << " H=" << h);
        CFFT fft;
        ASSERT_EQ(fft.Setup(512, 1, 2), 1);
        EXPECT_EQ(fft.Setup(n, h, 1), 0);
        EXPECT_EQ(fft.LockSpectrum(), nullptr);
        EXPECT_EQ(fft.m_nSize, 256);
        EXPECT_EQ(fft.m_nBlockBytes, 0);
    }
}

TEST(CFFTLifecycle, SameSizesNewChannelKeepsHistory)
{
    constexpr int n = 64;
    CWave wave;
    FillWave(wave, 4 * n, [](int f) {
        return std::pair{8000 * std::cos(kTwoPi * 5 * f / n), 0.0};
    });
    CFFT fft;
    ASSERT_EQ(fft.Setup(n, 2, 1), 1);
    AnalyzeAt(fft, wave, 0, 0);
    AnalyzeAt(fft, wave, n, 0);
    const std::byte *block = fft.m_hData.get();
    fft.LockSpectrum();
    const std::vector<float> history(fft.m_pHistory, fft.m_pHistory + n);
    const std::vector<double> tables(fft.m_pSin, fft.m_pSin + n);
    fft.UnlockSpectrum();
    EXPECT_NEAR(history[5], 8000 * kUnit, 0.5);

    EXPECT_EQ(fft.Setup(n, 2, 2), 1);
    EXPECT_EQ(fft.m_nChannel, 2);
    EXPECT_EQ(fft.m_nFrames, 0);
    EXPECT_EQ(fft.m_nRing, 0);
    EXPECT_EQ(fft.m_hData.get(), block);
    fft.LockSpectrum();
    EXPECT_EQ(std::vector<float>(fft.m_pHistory, fft.m_pHistory + n), history);
    EXPECT_EQ(std::vector<double>(fft.m_pSin, fft.m_pSin + n), tables);
    fft.UnlockSpectrum();
    AnalyzeAt(fft, wave, 0, FFT_SINGLE); // the right channel is silent
    EXPECT_EQ(fft.m_fMax, 0.0f);

    // A new size rebuilds: a fresh, cleared block.
    EXPECT_EQ(fft.Setup(2 * n, 2, 2), 1);
    EXPECT_EQ(fft.m_nBlockBytes, 4 * (7 * 2 * n + 2 * n * 3 / 2));
    fft.LockSpectrum();
    EXPECT_TRUE(
        std::all_of(fft.m_pHistory, fft.m_pHistory + 2 * n, [](float v) { return v == 0; }));
    fft.UnlockSpectrum();
}

TEST(CFFTGuards, NothingWithoutWaveHistoryOrBlock)
{
    CWave wave;
    FillWave(wave, 512, Sine(12000, 7, 64));
    const int start = 0;

    CFFT fft;
    ASSERT_EQ(fft.Setup(64, 1, 3), 1);
    AnalyzeAt(fft, wave, 0, FFT_SINGLE);
    const std::vector<float> before = Output(fft);
    const float fMax = fft.m_fMax, fMin = fft.m_fMin;
    ASSERT_NEAR(fMax, 12000 * kUnit, 0.5);
    fft.Analyze(nullptr, &start, FFT_SINGLE);
    EXPECT_EQ(fft.m_nFrames, 1);
    fft.Analyze(nullptr, &start, FFT_SINGLE | FFT_RESET); // the reset still happens
    EXPECT_EQ(fft.m_nFrames, 0);
    EXPECT_EQ(Output(fft), before);
    EXPECT_EQ(fft.m_fMax, fMax);
    EXPECT_EQ(fft.m_fMin, fMin);

    CFFT noHistory;
    ASSERT_EQ(noHistory.Setup(64, 0, 3), 1);
    noHistory.m_nFrames = 4;
    noHistory.m_nRing = 2;
    AnalyzeAt(noHistory, wave, 0, FFT_SINGLE);
    EXPECT_EQ(noHistory.m_fMax, 0.0f);
    EXPECT_EQ(noHistory.m_nFrames, 4);
    AnalyzeAt(noHistory, wave, 0, FFT_SINGLE | FFT_RESET);
    EXPECT_EQ(noHistory.m_fMax, 0.0f);
    EXPECT_EQ(noHistory.m_nFrames, 0);
    EXPECT_EQ(noHistory.m_nRing, 0);

    CFFT unsized;
    AnalyzeAt(unsized, wave, 0, FFT_SINGLE);
    EXPECT_EQ(unsized.m_fMax, 0.0f);
    EXPECT_EQ(unsized.m_nFrames, 0);
}

TEST(CFFTGuards, ShortBufferAndStartIndex)
{
    constexpr int n = 32;
    CWave full;
    FillWave(full, n, [](int) { return std::pair{8000.0, 8000.0}; }); // exactly N frames will do
    CFFT fft;
    ASSERT_EQ(fft.Setup(n, 1, 3), 1);

    // A start past the end loads nothing: the fresh engine transforms zeros.
    AnalyzeAt(fft, full, n + 1, FFT_SINGLE);
    EXPECT_EQ(fft.m_nFrames, 1);
    EXPECT_EQ(fft.m_fMax, 0.0f);
    AnalyzeAt(fft, full, -1, FFT_SINGLE); // compared unsigned: past the end too
    EXPECT_EQ(fft.m_fMax, 0.0f);

    // At the end, before the buffer wrapped, every read gives the last frame.
    AnalyzeAt(fft, full, n, FFT_SINGLE);
    const std::vector<float> before = Output(fft);
    EXPECT_NEAR(before[0], 2 * 8000 * kUnit, 1e-3);
    for (int k = 1; k < n / 2; ++k)
        EXPECT_NEAR(before[k], 0.0, 1e-6) << k;

    // Fewer than N frames: the previous spectrum, maximum and minimum stay.
    CWave shortWave;
    FillWave(shortWave, n - 1, Sine(20000, 9, n));
    const float fMax = fft.m_fMax, fMin = fft.m_fMin;
    AnalyzeAt(fft, shortWave, 0, FFT_SINGLE);
    EXPECT_EQ(Output(fft), before);
    EXPECT_EQ(fft.m_fMax, fMax);
    EXPECT_EQ(fft.m_fMin, fMin);
}

// Signals whose spectrum follows from the definition; each case gives the
// expected value of every output bin.
struct KnownSpectrum
{
    const char *name;
    int n;
    StereoFn signal;
    int channel;
    uint32_t flags;
    std::function<double(int)> expected; // bin -> value in sample units
    double tolerance;
};

TEST(CFFTSpectrum, KnownSignals)
{
    // Zero except in the listed bins (values in 16-bit units).
    auto only = [](std::vector<std::pair<int, double>> bins) {
        return [=](int k) {
            for (const auto &[b, v] : bins) {
                if (b == k)
                    return v * kUnit;
            }
            return 0.0;
        };
    };
    // An impulse of height h spreads 2h/N over every bin, wherever it sits.
    auto impulse = [](int pos) {
        return [=](int f) { return std::pair{f == pos ? 3277.0 : 0.0, 0.0}; };
    };
    auto flat = [](int) { return 2.0 * 3277 * kUnit / 8; };
    auto constant = [](int) { return std::pair{1000.0, 3000.0}; };
    auto nyquist = [](int f) { return std::pair{f % 2 ? -12000.0 : 12000.0, 0.0}; };
    auto stereo = [](int f) {
        return std::pair{8000 * std::sin(kTwoPi * 5 * f / 64),
                         4000 * std::cos(kTwoPi * 12 * f / 64)};
    };
    constexpr uint32_t kPlain = FFT_SINGLE | FFT_REMOVEDC;
    constexpr uint32_t kHann = FFT_SINGLE | FFT_REMOVEDC | FFT_WINDOW;
    const KnownSpectrum cases[] = {
        {"impulse at 0", 8, impulse(0), 1, FFT_SINGLE, flat, 1e-4},
        {"impulse at 3", 8, impulse(3), 1, FFT_SINGLE, flat, 1e-4},
        // A constant shows as twice its value in bin 0, unless the mean is removed.
        {"constant", 256, constant, 3, FFT_SINGLE, only({{0, 4000}}), 1e-3},
        {"constant, mean removed", 256, constant, 3, kHann, only({}), 1e-6},
        // A sine on a bin: A there; with the window A/2, and A/4 either side.
        {"sine on a bin", 256, Sine(16000, 10, 256, 0.7), 3, kPlain, only({{10, 16000}}), 0.2},
        {"sine on a bin, Hann", 256, Sine(16000, 10, 256, 0.7), 3, kHann,
         only({{9, 4000}, {10, 8000}, {11, 4000}}), 0.2},
        // Full scale with the display's flags peaks near 5000.
        {"full scale, display flags", 256, Sine(32767, 40, 256), 3, kDisplayFlags,
         only({{39, 32767 / 4.0}, {40, 32767 / 2.0}, {41, 32767 / 4.0}}), 0.5},
        // Bin N/2 is not in the output; the window moves a quarter of it into N/2 - 1.
        {"Nyquist", 64, nyquist, 1, kPlain, only({}), 1e-6},
        {"Nyquist, Hann", 64, nyquist, 1, kHann, only({{31, 6000}}), 1e-3},
        // Channel 0 is silence, 1 left, 2 right, 3 the mean of both.
        {"channel 0", 64, stereo, 0, FFT_SINGLE, only({}), 0.2},
        {"channel 1", 64, stereo, 1, FFT_SINGLE, only({{5, 8000}}), 0.2},
        {"channel 2", 64, stereo, 2, FFT_SINGLE, only({{12, 4000}}), 0.2},
        {"channel 3", 64, stereo, 3, FFT_SINGLE, only({{5, 4000}, {12, 2000}}), 0.2},
    };
    for (const KnownSpectrum &c : cases) {
        SCOPED_TRACE(c.name);
        CWave wave;
        FillWave(wave, uint32_t(c.n), c.signal);
        CFFT fft;
        ASSERT_EQ(fft.Setup(c.n, 1, c.channel), 1);
        AnalyzeAt(fft, wave, 0, c.flags);
        const std::vector<float> out = Output(fft);
        for (int k = 0; k < c.n / 2; ++k)
            EXPECT_NEAR(out[size_t(k)], c.expected(k), c.tolerance) << "bin " << k;
        EXPECT_EQ(fft.m_fMax, *std::max_element(out.begin(), out.end()));
        EXPECT_EQ(fft.m_fMin, *std::min_element(out.begin(), out.end()));
    }
}

TEST(CFFTSpectrum, SineBetweenBins)
{
    constexpr int n = 1024;
    constexpr double a = 20000 * kUnit;
    CWave wave;
    FillWave(wave, n, Sine(20000, 100.5, n));
    CFFT fft;
    ASSERT_EQ(fft.Setup(n, 1, 1), 1);
    AnalyzeAt(fft, wave, 0, FFT_SINGLE | FFT_REMOVEDC | FFT_WINDOW);
    const std::vector<float> out = Output(fft);
    // Half a bin off centre the Hann window passes sinc(1/2) / (1 - 1/4).
    const double expected = a / 2 * (2 / std::numbers::pi) / 0.75;
    EXPECT_NEAR(out[100], expected, 0.01 * expected);
    EXPECT_NEAR(out[101], expected, 0.01 * expected);
    // 100.5 cycles leave a mean of A/N (a geometric series with ratio
    // e^(i pi 201/N)); once removed, the windowed constant reads A/N in bin 0
    // and half of that in bin 1.
    EXPECT_NEAR(out[0], a / n, 0.02);
    EXPECT_NEAR(out[1], a / n / 2, 0.02);
    // The window's side lobes fall fast: far bins hold almost nothing.
    for (int k = 2; k < n / 2; ++k) {
        if (std::abs(k - 100) > 8) {
            EXPECT_LT(out[k], 0.002 * expected) << k;
        }
    }
    // Without it the leakage reaches far.
    AnalyzeAt(fft, wave, 0, FFT_SINGLE | FFT_REMOVEDC);
    EXPECT_GT(Output(fft)[300], 100 * out[300]);
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
        std::vector<double> x;
        for (size_t f = size_t(start); f < size_t(start + n); ++f) {
            const double l = s[2 * f] * kUnit, r = s[2 * f + 1] * kUnit;
            x.push_back(channel == 1   ? l
                        : channel == 2 ? r
                                       : (s[2 * f] + s[2 * f + 1]) * 0.5 * kUnit);
        }
        const std::vector<double> ref = NaiveSpectrum(x);
        const double peak = *std::max_element(ref.begin(), ref.end());
        ASSERT_GT(peak, 100.0);

        AnalyzeAt(fft, wave, start, FFT_SINGLE | FFT_REMOVEDC | FFT_WINDOW);
        const std::vector<float> exact = Output(fft);
        for (size_t k = 0; k < ref.size(); ++k)
            ASSERT_NEAR(exact[k], ref[k], 1e-6 * peak + 1e-4) << k;
        EXPECT_EQ(fft.m_fMax, *std::max_element(exact.begin(), exact.end()));
        EXPECT_EQ(fft.m_fMin, *std::min_element(exact.begin(), exact.end()));

        // The display's flags: the fast estimate stays within its bounds.
        AnalyzeAt(fft, wave, start, kDisplayFlags);
        const std::vector<float> fast = Output(fft);
        for (size_t k = 0; k < ref.size(); ++k) {
            if (ref[k] > 1e-3 * peak) {
                EXPECT_GE(fast[k] / ref[k], kFastLow - 1e-5) << k;
                EXPECT_LE(fast[k] / ref[k], kFastHigh + 1e-5) << k;
            }
        }
        EXPECT_EQ(fft.m_fMin, *std::min_element(fast.begin(), fast.end()));
    }
}

INSTANTIATE_TEST_SUITE_P(DisplaySizes, CFFTAgainstDefinition, testing::Values(256, 512, 1024));

TEST(CFFTSpectrum, FastMagnitudeExtremes)
{
    // max + min/3 reads 1 for a real bin, 2 sqrt(2)/3 at equal components and
    // sqrt(10)/3 where the smaller is a third of the larger.
    constexpr int n = 128;
    const std::pair<double, double> cases[] = {
        {0.0, 1.0}, {std::numbers::pi / 4, kFastLow}, {std::atan(1.0 / 3.0), kFastHigh}};
    for (const auto &[phase, ratio] : cases) {
        SCOPED_TRACE(phase);
        CWave wave;
        FillWave(wave, n, Sine(30000, 12, n, phase));
        CFFT fft;
        ASSERT_EQ(fft.Setup(n, 1, 3), 1);
        AnalyzeAt(fft, wave, 0, FFT_SINGLE);
        const float exact = Output(fft)[12];
        AnalyzeAt(fft, wave, 0, FFT_SINGLE | FFT_FASTMAG);
        EXPECT_NEAR(Output(fft)[12] / exact, ratio, 2e-4);
    }
}

TEST(CFFTSpectrum, WritesNothingPastTheOutput)
{
    constexpr int n = 32;
    constexpr float kGuard = -7.25f;
    CWave wave;
    FillWave(wave, 4 * n, MusicLike);
    CFFT fft;
    ASSERT_EQ(fft.Setup(n, 2, 3), 1);
    fft.LockSpectrum();
    std::fill_n(fft.m_pHistory, n, kGuard); // both history slots follow the output
    const std::vector<float> window(fft.m_pWindow, fft.m_pWindow + n);
    fft.UnlockSpectrum();
    auto guardsFrom = [&](int from) {
        fft.LockSpectrum();
        const bool intact = std::all_of(fft.m_pHistory + from, fft.m_pHistory + n,
                                        [](float v) { return v == kGuard; });
        fft.UnlockSpectrum();
        return intact;
    };

    AnalyzeAt(fft, wave, 0, kDisplayFlags);
    EXPECT_GT(fft.m_fMax, 0.0f);
    EXPECT_TRUE(guardsFrom(0));
    AnalyzeAt(fft, wave, n, FFT_SINGLE);
    EXPECT_TRUE(guardsFrom(0));

    // A first averaged frame fills slot 0 only, and the output is that slot.
    AnalyzeAt(fft, wave, 2 * n, FFT_RESET | FFT_WINDOW);
    EXPECT_TRUE(guardsFrom(n / 2));
    const std::vector<float> out = Output(fft);
    fft.LockSpectrum();
    EXPECT_EQ(std::vector<float>(fft.m_pHistory, fft.m_pHistory + n / 2), out);
    EXPECT_EQ(std::vector<float>(fft.m_pWindow, fft.m_pWindow + n), window);
    fft.UnlockSpectrum();
}

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
        const float f = flags == FFT_PEAKDECAY ? 0.9f : 1.0f;
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
            held = held * f;
            EXPECT_EQ(out[kModeBin], held) << frame;
            EXPECT_EQ(out[0], 0.0f) << frame; // DC always shows the current frame
            EXPECT_EQ(fft.m_fMax, held);
            EXPECT_EQ(fft.m_nFrames, 1);
        }
        // A reset starts over from the current frame.
        AnalyzeAt(fft, wave, 4 * kModeN, flags | FFT_RESET);
        EXPECT_NEAR(Output(fft)[kModeBin], 4000 * kUnit, 0.2);
    }
}

TEST(CFFTModes, CumulativeAveragesEveryFrameSinceReset)
{
    CWave wave;
    FillSegments(wave, {3000, 6000, 12000, 1000});
    CFFT fft;
    ASSERT_EQ(fft.Setup(kModeN, 2, 3), 1);
    const double expected[] = {3000, 4500, 7000}; // not capped at H = 2 frames
    for (int frame = 0; frame < 3; ++frame) {
        AnalyzeAt(fft, wave, frame * kModeN, FFT_CUMULATIVE);
        EXPECT_EQ(fft.m_nFrames, frame + 1);
        EXPECT_EQ(fft.m_nRing, 1);
        EXPECT_NEAR(Output(fft)[kModeBin], expected[frame] * kUnit, 0.3) << frame;
        EXPECT_EQ(fft.m_fMax, Output(fft)[kModeBin]);
    }
    AnalyzeAt(fft, wave, 3 * kModeN, FFT_CUMULATIVE | FFT_RESET);
    EXPECT_EQ(fft.m_nFrames, 1);
    EXPECT_NEAR(Output(fft)[kModeBin], 1000 * kUnit, 0.3);

    // In single-frame mode the accumulate bit means nothing.
    AnalyzeAt(fft, wave, 2 * kModeN, FFT_SINGLE | FFT_CUMULATIVE);
    AnalyzeAt(fft, wave, 2 * kModeN, FFT_SINGLE | FFT_CUMULATIVE);
    EXPECT_NEAR(Output(fft)[kModeBin], 12000 * kUnit, 0.3);
}

TEST(CFFTModes, MovingAverageOverHistory)
{
    CWave wave;
    FillSegments(wave, {1000, 2000, 4000, 8000, 16000});
    CFFT fft;
    ASSERT_EQ(fft.Setup(kModeN, 3, 3), 1);
    const double expected[] = {1000, 1500, 7000.0 / 3, 14000.0 / 3, 28000.0 / 3};
    const int frames[] = {1, 2, 3, 3, 3};
    const int ring[] = {1, 2, 0, 1, 2};
    for (int frame = 0; frame < 5; ++frame) {
        SCOPED_TRACE(frame);
        AnalyzeAt(fft, wave, frame * kModeN, 0);
        EXPECT_EQ(fft.m_nFrames, frames[frame]);
        EXPECT_EQ(fft.m_nRing, ring[frame]);
        const std::vector<float> out = Output(fft);
        EXPECT_NEAR(out[kModeBin], expected[frame] * kUnit, 0.3);
        EXPECT_EQ(fft.m_fMax, out[kModeBin]);
        EXPECT_EQ(fft.m_fMin, *std::min_element(out.begin(), out.end()));
    }
}
