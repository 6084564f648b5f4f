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
// Exact extremes of max + min/3 relative to sqrt(max^2 + min^2): at equal
// components, and where min/max = 1/3.
const double kFastLow = 2.0 * std::sqrt(2.0) / 3.0;
const double kFastHigh = std::sqrt(10.0) / 3.0;

// Left and right sample of a frame, in 16-bit units before rounding.
using StereoFn = std::function<std::pair<double, double>(int)>;

int16_t Quantize(double v)
{
    return static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
}

// A 22050 Hz 16-bit stereo buffer, written directly into its sample memory.
// Returns the samples as written, interleaved, for the reference calculations.
std::vector<int16_t> FillWave(CWave &wave, uint32_t dwFrames, const StereoFn &fn)
{
    wave.SetFormat(22050, 16, 2);
    EXPECT_EQ(wave.Allocate(dwFrames), 1);
    std::vector<int16_t> samples(size_t(dwFrames) * 2);
    for (uint32_t f = 0; f < dwFrames; ++f) {
        const auto [l, r] = fn(int(f));
        samples[2 * f] = Quantize(l);
        samples[2 * f + 1] = Quantize(r);
    }
    std::memcpy(wave.GetData(0), samples.data(), samples.size() * sizeof(int16_t));
    wave.Unlock();
    return samples;
}

StereoFn Sine(double amplitude, double bin, int n, double phase = 0.0)
{
    return [=](int f) {
        const double v = amplitude * std::cos(kTwoPi * bin * f / n + phase);
        return std::pair{v, v};
    };
}

// Something like music: a few partials that fall on no bin, a slow envelope,
// an offset, and a little deterministic noise; the right channel differs.
StereoFn MusicLike()
{
    return [](int f) {
        const double t = f / 22050.0;
        uint32_t x = uint32_t(f) * 2654435761u;
        x ^= x >> 13;
        const double noise = double(x % 2001) - 1000.0;
        const double env = 0.6 + 0.4 * std::sin(kTwoPi * 1.7 * t);
        const double l = env * (6000 * std::sin(kTwoPi * 220.3 * t) +
                                3000 * std::sin(kTwoPi * 443.7 * t + 0.3) +
                                1500 * std::sin(kTwoPi * 3100.9 * t)) +
                         noise + 700;
        const double r = 5000 * std::sin(kTwoPi * 1234.5 * t + 1.1) + 0.5 * noise - 300;
        return std::pair{l, r};
    };
}

// What the engine should read for a frame: the 16-bit samples scaled to
// +-10000, the mean of both for channel 3.
double EngineSample(const std::vector<int16_t> &s, size_t f, int nChannel)
{
    switch (nChannel) {
    case 1:
        return s[2 * f] * kUnit;
    case 2:
        return s[2 * f + 1] * kUnit;
    case 3:
        return (s[2 * f] + s[2 * f + 1]) * 0.5 * kUnit;
    default:
        return 0.0;
    }
}

// Twice the magnitude of (1/N) sum x[n] e^(-2 pi i k n / N) for k < N/2, by
// the definition, after the same mean removal and periodic Hann window.
std::vector<double> NaiveSpectrum(std::vector<double> x, bool bRemoveDc, bool bWindow)
{
    const size_t n = x.size();
    double mean = 0.0;
    for (double v : x)
        mean += v;
    mean = bRemoveDc ? mean / double(n) : 0.0;
    for (size_t i = 0; i < n; ++i) {
        x[i] -= mean;
        if (bWindow)
            x[i] *= double(float((1.0 - std::cos(kTwoPi * double(i) / double(n))) * 0.5));
    }
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

constexpr uint32_t kDisplayFlags = FFT_REMOVEDC | FFT_WINDOW | FFT_SINGLE | FFT_FASTMAG;

} // namespace

// ---------------------------------------------------------------------------
// Construction, Setup, memory block, FreeBuffers

TEST(CFFTLifecycle, ConstructedUnsized)
{
    CFFT fft;
    EXPECT_EQ(fft.m_fMax, 0.0f);
    EXPECT_EQ(fft.m_fMin, 0.0f);
    EXPECT_EQ(fft.m_nHistory, 0);
    EXPECT_EQ(fft.m_nSize, 256);
    EXPECT_EQ(fft.m_nChannel, 3);
    EXPECT_EQ(fft.m_hData, nullptr);
    EXPECT_EQ(fft.LockSpectrum(), nullptr);
    EXPECT_EQ(fft.m_pData, nullptr);

    // The same sizes as now only change the channel, even on an unsized engine.
    EXPECT_EQ(fft.Setup(256, 0, 1), 0);
    EXPECT_EQ(fft.m_nChannel, 1);
    EXPECT_EQ(fft.m_hData, nullptr);
}

TEST(CFFTLifecycle, BlockSizeAndLayout)
{
    // Block = 4 * (7N + N(H+1)/2) bytes.
    const struct
    {
        int n, h, bytes;
    } cases[] = {{256, 1, 8192}, {512, 1, 16384}, {1024, 1, 32768},
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
    EXPECT_EQ(fft.m_pWindow[0], 0.0f);
    EXPECT_FLOAT_EQ(fft.m_pWindow[4], 1.0f);
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(fft.m_pCos[k], std::cos(kTwoPi * k / 8), 1e-11) << k;
        EXPECT_NEAR(fft.m_pSin[k], -std::sin(kTwoPi * k / 8), 1e-11) << k;
        EXPECT_EQ(p[k], 0.0f);
    }
    fft.UnlockSpectrum();
    EXPECT_EQ(fft.m_pData, nullptr);
    EXPECT_EQ(fft.m_pSpectrum, nullptr);
    EXPECT_EQ(fft.m_pHistory, nullptr);
    EXPECT_EQ(fft.m_pReal, nullptr);
    EXPECT_EQ(fft.m_pImag, nullptr);
}

TEST(CFFTLifecycle, SizesBelowFourBuildNoTables)
{
    CFFT two;
    ASSERT_EQ(two.Setup(2, 1, 3), 1);
    ASSERT_NE(two.LockSpectrum(), nullptr);
    EXPECT_EQ(two.m_pCos[0], 0.0); // a built table would hold cos(0) = 1
    EXPECT_EQ(two.m_pWindow[1], 0.0f);
    two.UnlockSpectrum();

    CFFT four;
    ASSERT_EQ(four.Setup(4, 1, 3), 1);
    ASSERT_NE(four.LockSpectrum(), nullptr);
    EXPECT_EQ(four.m_pCos[0], 1.0);
    EXPECT_NEAR(four.m_pSin[1], -1.0, 1e-12);
    EXPECT_FLOAT_EQ(four.m_pWindow[2], 1.0f);
    four.UnlockSpectrum();
}

TEST(CFFTLifecycle, RefusedSizesLeaveUnsized)
{
    const std::pair<int, int> bad[] = {{0, 1}, {1, 1}, {3, 1}, {384, 1}, {-256, 1},
                                       {256, -1}, {1 << 26, 16}};
    for (const auto &[n, h] : bad) {
        SCOPED_TRACE(testing::Message() << "N=" << n << " H=" << h);
        CFFT fft;
        ASSERT_EQ(fft.Setup(512, 1, 2), 1);
        EXPECT_EQ(fft.Setup(n, h, 1), 0);
        EXPECT_EQ(fft.LockSpectrum(), nullptr);
        EXPECT_EQ(fft.m_nSize, 256);
        EXPECT_EQ(fft.m_nHistory, 0);
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
    ASSERT_EQ(fft.m_nFrames, 2);
    const std::byte *block = fft.m_hData.get();
    fft.LockSpectrum();
    const std::vector<float> history(fft.m_pHistory, fft.m_pHistory + n);
    const std::vector<double> cosines(fft.m_pCos, fft.m_pCos + n / 2);
    fft.UnlockSpectrum();
    EXPECT_NEAR(history[5], 8000 * kUnit, 0.5);

    EXPECT_EQ(fft.Setup(n, 2, 2), 1);
    EXPECT_EQ(fft.m_nChannel, 2);
    EXPECT_EQ(fft.m_nFrames, 0);
    EXPECT_EQ(fft.m_nRing, 0);
    EXPECT_EQ(fft.m_hData.get(), block);
    fft.LockSpectrum();
    EXPECT_EQ(std::vector<float>(fft.m_pHistory, fft.m_pHistory + n), history);
    EXPECT_EQ(std::vector<double>(fft.m_pCos, fft.m_pCos + n / 2), cosines);
    fft.UnlockSpectrum();

    AnalyzeAt(fft, wave, 0, FFT_SINGLE); // the right channel is silent
    EXPECT_EQ(fft.m_fMax, 0.0f);

    // A new size rebuilds: a fresh, cleared block.
    EXPECT_EQ(fft.Setup(2 * n, 2, 2), 1);
    EXPECT_EQ(fft.m_nBlockBytes, 4 * (7 * 2 * n + 2 * n * 3 / 2));
    fft.LockSpectrum();
    EXPECT_TRUE(std::all_of(fft.m_pHistory, fft.m_pHistory + 2 * n, [](float v) { return v == 0; }));
    fft.UnlockSpectrum();
}

TEST(CFFTLifecycle, FreeBuffersRestoresConstructionValues)
{
    CWave wave;
    FillWave(wave, 1024, MusicLike());
    CFFT fft;
    ASSERT_EQ(fft.Setup(512, 3, 1), 1);
    AnalyzeAt(fft, wave, 0, 0);
    AnalyzeAt(fft, wave, 100, 0);
    ASSERT_GT(fft.m_fMax, 0.0f);
    fft.LockSpectrum();
    fft.FreeBuffers();
    EXPECT_EQ(fft.m_hData, nullptr);
    EXPECT_EQ(fft.m_pData, nullptr);
    EXPECT_EQ(fft.m_pSpectrum, nullptr);
    EXPECT_EQ(fft.m_pWindow, nullptr);
    EXPECT_EQ(fft.m_pCos, nullptr);
    EXPECT_EQ(fft.m_pSin, nullptr);
    EXPECT_EQ(fft.m_nSize, 256);
    EXPECT_EQ(fft.m_nHistory, 0);
    EXPECT_EQ(fft.m_nChannel, 3);
    EXPECT_EQ(fft.m_fMax, 0.0f);
    EXPECT_EQ(fft.m_fMin, 0.0f);
    EXPECT_EQ(fft.m_nFrames, 0);
    EXPECT_EQ(fft.LockSpectrum(), nullptr);
}

// ---------------------------------------------------------------------------
// When Analyze must leave everything alone

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

TEST(CFFTGuards, FewerThanNFramesKeepsPreviousResult)
{
    constexpr int n = 128;
    CWave full;
    FillWave(full, n, Sine(9000, 3, n)); // exactly N frames is enough
    CFFT fft;
    ASSERT_EQ(fft.Setup(n, 1, 3), 1);
    AnalyzeAt(fft, full, 0, FFT_SINGLE);
    ASSERT_NEAR(fft.m_fMax, 9000 * kUnit, 0.5);
    const std::vector<float> before = Output(fft);
    const float fMax = fft.m_fMax, fMin = fft.m_fMin;

    CWave shortWave;
    FillWave(shortWave, n - 1, Sine(20000, 9, n));
    AnalyzeAt(fft, shortWave, 0, FFT_SINGLE);
    EXPECT_EQ(Output(fft), before);
    EXPECT_EQ(fft.m_fMax, fMax);
    EXPECT_EQ(fft.m_fMin, fMin);
}

TEST(CFFTGuards, StartIndexAtAndPastTheEnd)
{
    constexpr int n = 32;
    CWave wave;
    FillWave(wave, 200, [](int) { return std::pair{8000.0, 8000.0}; });
    const double v = 8000 * kUnit;

    // Past the end nothing is loaded: a fresh engine transforms its zeros.
    CFFT fresh;
    ASSERT_EQ(fresh.Setup(n, 1, 3), 1);
    AnalyzeAt(fresh, wave, 201, FFT_SINGLE);
    EXPECT_EQ(fresh.m_nFrames, 1);
    EXPECT_EQ(fresh.m_fMax, 0.0f);
    AnalyzeAt(fresh, wave, -1, FFT_SINGLE); // compared unsigned: past the end too
    EXPECT_EQ(fresh.m_fMax, 0.0f);

    // At the end, before the buffer wrapped, every read gives the last frame.
    AnalyzeAt(fresh, wave, 200, FFT_SINGLE);
    const std::vector<float> out = Output(fresh);
    EXPECT_NEAR(out[0], 2 * v, 1e-3);
    for (int k = 1; k < n / 2; ++k)
        EXPECT_NEAR(out[k], 0.0, 1e-6) << k;
}

// ---------------------------------------------------------------------------
// Magnitudes on signals whose spectrum is known

TEST(CFFTSpectrum, ImpulseGivesFlatSpectrum)
{
    constexpr int n = 8;
    for (int pos : {0, 3}) {
        SCOPED_TRACE(pos);
        CWave wave;
        FillWave(wave, n, [=](int f) { return std::pair{f == pos ? 3277.0 : 0.0, 0.0}; });
        CFFT fft;
        ASSERT_EQ(fft.Setup(n, 1, 1), 1);
        AnalyzeAt(fft, wave, 0, FFT_SINGLE);
        // 2 * (1/N) * the impulse height, in every bin.
        const double expected = 2.0 * 3277 * kUnit / n;
        for (float v : Output(fft))
            EXPECT_NEAR(v, expected, 1e-4);
        EXPECT_NEAR(fft.m_fMax, expected, 1e-4);
        EXPECT_NEAR(fft.m_fMin, expected, 1e-4);
    }
}

TEST(CFFTSpectrum, ConstantInput)
{
    constexpr int n = 256;
    CWave wave;
    FillWave(wave, 1000, [](int) { return std::pair{1000.0, 3000.0}; });
    CFFT fft;
    ASSERT_EQ(fft.Setup(n, 1, 3), 1);

    AnalyzeAt(fft, wave, 17, FFT_SINGLE);
    std::vector<float> out = Output(fft);
    EXPECT_NEAR(out[0], 2 * 2000 * kUnit, 1e-3); // twice the mean
    for (int k = 1; k < n / 2; ++k)
        EXPECT_NEAR(out[k], 0.0, 1e-6) << k;

    AnalyzeAt(fft, wave, 17, FFT_SINGLE | FFT_REMOVEDC | FFT_WINDOW);
    out = Output(fft);
    for (int k = 0; k < n / 2; ++k)
        EXPECT_NEAR(out[k], 0.0, 1e-6) << k;
}

TEST(CFFTSpectrum, SineOnABin)
{
    constexpr int n = 256;
    constexpr double a = 16000;
    CWave wave;
    FillWave(wave, 4 * n, Sine(a, 10, n, 0.7));
    CFFT fft;
    ASSERT_EQ(fft.Setup(n, 1, 3), 1);

    // Without the window: A in the bin, nothing elsewhere.
    AnalyzeAt(fft, wave, 0, FFT_SINGLE | FFT_REMOVEDC);
    std::vector<float> out = Output(fft);
    for (int k = 0; k < n / 2; ++k)
        EXPECT_NEAR(out[k], k == 10 ? a * kUnit : 0.0, 0.2) << k;
    EXPECT_EQ(fft.m_fMax, out[10]);

    // With the Hann window: A/2 in the bin and A/4 in each neighbour.
    AnalyzeAt(fft, wave, 0, FFT_SINGLE | FFT_REMOVEDC | FFT_WINDOW);
    out = Output(fft);
    for (int k = 0; k < n / 2; ++k) {
        const double expected = k == 10 ? a / 2 : (k == 9 || k == 11) ? a / 4 : 0.0;
        EXPECT_NEAR(out[k], expected * kUnit, 0.2) << k;
    }

    // Full scale in the display's configuration peaks near 5000.
    CWave loud;
    FillWave(loud, n, Sine(32767, 40, n));
    AnalyzeAt(fft, loud, 0, kDisplayFlags);
    EXPECT_NEAR(fft.m_fMax, 32767 * kUnit / 2, 0.5);
    EXPECT_EQ(Output(fft)[40], fft.m_fMax);
}

TEST(CFFTSpectrum, SineBetweenBins)
{
    constexpr int n = 1024;
    constexpr double a = 20000;
    CWave wave;
    const auto samples = FillWave(wave, n, Sine(a, 100.5, n));
    CFFT fft;
    ASSERT_EQ(fft.Setup(n, 1, 1), 1);
    AnalyzeAt(fft, wave, 0, FFT_SINGLE | FFT_REMOVEDC | FFT_WINDOW);
    const std::vector<float> out = Output(fft);
    // Half a bin off, the Hann window's response is
    // sinc(1/2) / (1 - 1/4) = (2/pi) * 4/3 of its centre value.
    const double expected = a * kUnit / 2 * (2 / std::numbers::pi) * (4.0 / 3.0);
    EXPECT_NEAR(out[100], expected, 0.01 * expected);
    EXPECT_NEAR(out[101], expected, 0.01 * expected);
    EXPECT_NEAR(out[100], out[101], 1e-3 * expected);
    // 100.5 cycles do not average out: their mean is A/N (a geometric series
    // with ratio e^(i pi 201/N)), and removing it leaves a windowed constant
    // that reads A/N in bin 0 and half of that in bin 1.
    EXPECT_NEAR(out[0], a * kUnit / n, 0.02);
    EXPECT_NEAR(out[1], a * kUnit / n / 2, 0.02);
    // The window's side lobes fall fast: far bins hold almost nothing.
    for (int k = 2; k < n / 2; ++k) {
        if (std::abs(k - 100) > 8) {
            EXPECT_LT(out[k], 0.002 * expected) << k;
        }
    }

    // Without the window the leakage is wide; the definition decides it.
    AnalyzeAt(fft, wave, 0, FFT_SINGLE);
    std::vector<double> x(n);
    for (int i = 0; i < n; ++i)
        x[size_t(i)] = EngineSample(samples, size_t(i), 1);
    const std::vector<double> ref = NaiveSpectrum(x, false, false);
    const std::vector<float> plain = Output(fft);
    for (int k = 0; k < n / 2; ++k)
        EXPECT_NEAR(plain[k], ref[size_t(k)], 1e-3) << k;
    EXPECT_GT(plain[300], 100 * out[300]);
}

TEST(CFFTSpectrum, NyquistIsOutsideTheOutput)
{
    constexpr int n = 64;
    constexpr double a = 12000;
    CWave wave;
    FillWave(wave, n, [](int f) {
        const double v = (f % 2) ? -a : a;
        return std::pair{v, v};
    });
    CFFT fft;
    ASSERT_EQ(fft.Setup(n, 1, 3), 1);

    // Bin N/2 is not part of the output, so nothing shows.
    AnalyzeAt(fft, wave, 0, FFT_SINGLE | FFT_REMOVEDC);
    for (float v : Output(fft))
        EXPECT_NEAR(v, 0.0, 1e-6);

    // The window spreads A/4 of it into bin N/2 - 1, which shows as A/2.
    AnalyzeAt(fft, wave, 0, FFT_SINGLE | FFT_REMOVEDC | FFT_WINDOW);
    const std::vector<float> out = Output(fft);
    for (int k = 0; k < n / 2; ++k)
        EXPECT_NEAR(out[k], k == n / 2 - 1 ? a / 2 * kUnit : 0.0, 1e-3) << k;
}

class CFFTAgainstDefinition : public testing::TestWithParam<int>
{
};

TEST_P(CFFTAgainstDefinition, MatchesNaiveDft)
{
    const int n = GetParam();
    CWave wave;
    const auto samples = FillWave(wave, 22050, MusicLike());
    CFFT fft;
    for (int channel : {1, 2, 3}) {
        SCOPED_TRACE(channel);
        ASSERT_EQ(fft.Setup(n, 1, channel), 1);
        const int start = 5000 + 333 * channel;
        std::vector<double> x(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i)
            x[size_t(i)] = EngineSample(samples, size_t(start + i), channel);
        const std::vector<double> ref = NaiveSpectrum(x, true, true);
        const double peak = *std::max_element(ref.begin(), ref.end());
        ASSERT_GT(peak, 100.0);

        AnalyzeAt(fft, wave, start, FFT_SINGLE | FFT_REMOVEDC | FFT_WINDOW);
        const std::vector<float> exact = Output(fft);
        for (int k = 0; k < n / 2; ++k)
            ASSERT_NEAR(exact[size_t(k)], ref[size_t(k)], 1e-6 * peak + 1e-4) << k;
        EXPECT_EQ(fft.m_fMax, *std::max_element(exact.begin(), exact.end()));
        EXPECT_EQ(fft.m_fMin, *std::min_element(exact.begin(), exact.end()));

        // The display's flags: the fast estimate stays within its bounds.
        AnalyzeAt(fft, wave, start, kDisplayFlags);
        const std::vector<float> fast = Output(fft);
        for (int k = 0; k < n / 2; ++k) {
            if (ref[size_t(k)] < 1e-3 * peak)
                continue;
            const double ratio = fast[size_t(k)] / ref[size_t(k)];
            EXPECT_GE(ratio, kFastLow - 1e-5) << k;
            EXPECT_LE(ratio, kFastHigh + 1e-5) << k;
        }
        EXPECT_EQ(fft.m_fMax, *std::max_element(fast.begin(), fast.end()));
        EXPECT_EQ(fft.m_fMin, *std::min_element(fast.begin(), fast.end()));
    }
}

INSTANTIATE_TEST_SUITE_P(DisplaySizes, CFFTAgainstDefinition, testing::Values(256, 512, 1024));

TEST(CFFTSpectrum, FastMagnitudeExtremes)
{
    // The estimate is max + min/3: at equal components it reads 2*sqrt(2)/3,
    // where the smaller is a third of the larger it reads sqrt(10)/3.
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

TEST(CFFTSpectrum, ChannelSelection)
{
    constexpr int n = 64;
    CWave wave;
    FillWave(wave, n, [](int f) {
        return std::pair{8000 * std::sin(kTwoPi * 5 * f / n), 4000 * std::cos(kTwoPi * 12 * f / n)};
    });
    const struct
    {
        int channel;
        double at5, at12;
    } cases[] = {{0, 0, 0}, {1, 8000, 0}, {2, 0, 4000}, {3, 4000, 2000}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.channel);
        CFFT fft;
        ASSERT_EQ(fft.Setup(n, 1, c.channel), 1);
        AnalyzeAt(fft, wave, 0, FFT_SINGLE);
        const std::vector<float> out = Output(fft);
        EXPECT_NEAR(out[5], c.at5 * kUnit, 0.2);
        EXPECT_NEAR(out[12], c.at12 * kUnit, 0.2);
        EXPECT_NEAR(out[20], 0.0, 0.2);
    }
}

TEST(CFFTSpectrum, WritesNothingPastTheOutput)
{
    constexpr int n = 32;
    constexpr float kGuard = -7.25f;
    CWave wave;
    FillWave(wave, 4 * n, MusicLike());
    CFFT fft;
    ASSERT_EQ(fft.Setup(n, 2, 3), 1);
    fft.LockSpectrum();
    std::fill_n(fft.m_pHistory, n, kGuard); // both history slots follow the output
    const std::vector<float> window(fft.m_pWindow, fft.m_pWindow + n);
    const std::vector<double> sines(fft.m_pSin, fft.m_pSin + n);
    fft.UnlockSpectrum();

    auto guards = [&](int from) {
        fft.LockSpectrum();
        const bool intact = std::all_of(fft.m_pHistory + from, fft.m_pHistory + n,
                                        [](float v) { return v == kGuard; });
        fft.UnlockSpectrum();
        return intact;
    };

    AnalyzeAt(fft, wave, 0, kDisplayFlags);
    EXPECT_GT(fft.m_fMax, 0.0f);
    EXPECT_TRUE(guards(0));
    AnalyzeAt(fft, wave, n, FFT_SINGLE);
    EXPECT_TRUE(guards(0));

    // A first averaged frame fills slot 0 only.
    AnalyzeAt(fft, wave, 2 * n, FFT_RESET | FFT_WINDOW);
    EXPECT_TRUE(guards(n / 2));
    const std::vector<float> out = Output(fft);
    fft.LockSpectrum();
    EXPECT_EQ(std::vector<float>(fft.m_pHistory, fft.m_pHistory + n / 2), out);
    // The tables before the output (sines and cosines, N doubles together, and
    // the window) are untouched by analysis.
    EXPECT_EQ(std::vector<float>(fft.m_pWindow, fft.m_pWindow + n), window);
    EXPECT_EQ(std::vector<double>(fft.m_pSin, fft.m_pSin + n), sines);
    fft.UnlockSpectrum();
}

// ---------------------------------------------------------------------------
// History modes. The wave holds segments of N frames, each a sine on bin 10
// of its own amplitude, so frame s is analysed from start s * N.

namespace {
constexpr int kModeN = 64;
constexpr int kModeBin = 10;

void FillSegments(CWave &wave, const std::vector<double> &amplitudes, double dc = 0.0)
{
    FillWave(wave, uint32_t(amplitudes.size() * kModeN), [&](int f) {
        const double v = amplitudes[size_t(f / kModeN)] * std::cos(kTwoPi * kModeBin * f / kModeN);
        return std::pair{v + (f < kModeN ? dc : 0.0), v + (f < kModeN ? dc : 0.0)};
    });
}
} // namespace

TEST(CFFTModes, PeakHoldAndDecay)
{
    CWave wave;
    FillSegments(wave, {16000, 0, 0, 0, 4000}, 4000); // the first segment also has DC
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

    // The accumulate bit means nothing in single-frame mode.
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
