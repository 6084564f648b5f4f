// CFFT::Analyze in the display's configuration (0x2D: mean removal, Hann
// window, single frame, fast magnitudes) against FFTW on the same sizes.
//
// Two FFTW figures per size: the bare real-to-complex transform (the
// reference), and the same job Analyze does with FFTW's transform in the
// middle (sample reads, mean, window, fast magnitudes, maximum). At the end a
// table gives the ratio CFFT / FFTW for both, from the fastest repetition of
// each (the least disturbed by other work on the machine).

#include "analysis/CFFT.h"
#include "audio/CWave.h"
#include "settings/SettingValues.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr uint32_t kRate = 22050;
constexpr uint32_t kFrames = kRate * 10;
// Frames between successive analyses, as at 50 ms per display frame.
constexpr uint32_t kHop = kRate / 20;

// Ten seconds of 16-bit stereo, something like music: a few partials with a
// slow envelope and a little noise, written straight into the sample memory.
CWave &MusicWave()
{
    static CWave wave;
    static const bool bFilled = [] {
        wave.SetFormat(kRate, 16, 2);
        if (!wave.Allocate(kFrames))
            return false;
        std::vector<int16_t> samples(size_t(kFrames) * 2);
        uint32_t noise = 12345;
        for (uint32_t f = 0; f < kFrames; ++f) {
            const double t = double(f) / kRate;
            const double env = 0.6 + 0.4 * std::sin(2 * std::numbers::pi * 0.7 * t);
            noise = noise * 1664525u + 1013904223u;
            const double n = double(noise >> 20) - 2048.0;
            const double l = env * (9000 * std::sin(2 * std::numbers::pi * 196.0 * t) +
                                    4000 * std::sin(2 * std::numbers::pi * 587.3 * t) +
                                    1500 * std::sin(2 * std::numbers::pi * 2349.3 * t)) +
                             n;
            const double r = env * 7000 * std::sin(2 * std::numbers::pi * 293.7 * t + 0.5) + n;
            samples[2 * f] = int16_t(std::lround(l));
            samples[2 * f + 1] = int16_t(std::lround(r));
        }
        std::memcpy(wave.GetData(0), samples.data(), samples.size() * sizeof(int16_t));
        wave.Unlock();
        return true;
    }();
    (void)bFilled;
    return wave;
}

int NextStart(int nStart, int n)
{
    nStart += int(kHop);
    return nStart + n > int(kFrames) ? 0 : nStart;
}

void BM_CFFT_Analyze(benchmark::State &state)
{
    const int n = int(state.range(0));
    CWave &wave = MusicWave();
    CFFT fft;
    if (!wave.m_dwFrames || !fft.Setup(n, 1, CHANNEL_MEAN)) {
        state.SkipWithError("set-up failed");
        return;
    }
    int nStart = 0;
    for (auto _ : state) {
        fft.Analyze(&wave, &nStart, FFT_REMOVEDC | FFT_WINDOW | FFT_SINGLE | FFT_FASTMAG);
        benchmark::DoNotOptimize(fft.m_fMax);
        nStart = NextStart(nStart, n);
    }
}

// A stereo display's frame: both channels, as two analyses (last argument
// 0) and as one pair (1).
void BM_CFFT_Stereo(benchmark::State &state)
{
    const int n = int(state.range(0));
    const bool bPair = state.range(1) != 0;
    CWave &wave = MusicWave();
    CFFT left, right;
    if (!wave.m_dwFrames || !left.Setup(n, 1, CHANNEL_LEFT) || !right.Setup(n, 1, CHANNEL_RIGHT)) {
        state.SkipWithError("set-up failed");
        return;
    }
    constexpr uint32_t kFlags = FFT_REMOVEDC | FFT_WINDOW | FFT_SINGLE | FFT_FASTMAG;
    int nStart = 0;
    for (auto _ : state) {
        if (bPair) {
            left.AnalyzePair(right, &wave, &nStart, kFlags);
        } else {
            left.Analyze(&wave, &nStart, kFlags);
            right.Analyze(&wave, &nStart, kFlags);
        }
        benchmark::DoNotOptimize(left.m_fMax + right.m_fMax);
        nStart = NextStart(nStart, n);
    }
}
BENCHMARK(BM_CFFT_Stereo)->ArgsProduct({{512, 1024}, {0, 1}});

// Owns an FFTW plan with its input and output arrays.
struct FftwR2C
{
    explicit FftwR2C(int n)
        : m_nSize(n), m_pIn(fftw_alloc_real(size_t(n))),
          m_pOut(fftw_alloc_complex(size_t(n / 2 + 1))),
          m_plan(fftw_plan_dft_r2c_1d(n, m_pIn, m_pOut, FFTW_MEASURE))
    {}
    ~FftwR2C()
    {
        fftw_destroy_plan(m_plan);
        fftw_free(m_pOut);
        fftw_free(m_pIn);
    }
    FftwR2C(const FftwR2C &) = delete;
    FftwR2C &operator=(const FftwR2C &) = delete;

    int m_nSize;
    double *m_pIn;
    fftw_complex *m_pOut;
    fftw_plan m_plan; // made before the timed loop; FFTW_MEASURE overwrites m_pIn
};

void BM_FFTW_r2c(benchmark::State &state)
{
    const int n = int(state.range(0));
    CWave &wave = MusicWave();
    FftwR2C fftw(n);
    for (int i = 0; i < n; ++i)
        fftw.m_pIn[i] = wave.GetSampleFloat(uint32_t(i), 3);
    for (auto _ : state) {
        fftw_execute(fftw.m_plan);
        benchmark::DoNotOptimize(fftw.m_pOut[n / 4][0]);
        benchmark::ClobberMemory();
    }
}

// What Analyze does, with FFTW's transform: read the mix of both channels,
// remove the mean, apply the periodic Hann window, transform, and take the
// fast magnitude estimate scaled by 2/N, with the maximum.
void BM_FFTW_SameJob(benchmark::State &state)
{
    const int n = int(state.range(0));
    CWave &wave = MusicWave();
    FftwR2C fftw(n);
    std::vector<float> window(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        window[size_t(i)] = float((1.0 - std::cos(2 * std::numbers::pi * i / n)) * 0.5);
    std::vector<float> spectrum(static_cast<size_t>(n / 2));
    int nStart = 0;
    for (auto _ : state) {
        wave.GetData(0);
        double sum = 0.0;
        for (int i = 0; i < n; ++i) {
            const double v = wave.GetSampleFloat(uint32_t(nStart + i), 3);
            fftw.m_pIn[i] = v;
            sum += v;
        }
        const double mean = sum / n;
        for (int i = 0; i < n; ++i)
            fftw.m_pIn[i] = window[size_t(i)] * (fftw.m_pIn[i] - mean);
        wave.Unlock();
        fftw_execute(fftw.m_plan);
        float fMax = 0.0f;
        for (int k = 0; k < n / 2; ++k) {
            const double a = std::fabs(fftw.m_pOut[k][0]);
            const double b = std::fabs(fftw.m_pOut[k][1]);
            const double m = a > b ? a + b * 0.3333333333333333 : b + a * 0.3333333333333333;
            spectrum[size_t(k)] = float(2.0 * m / n);
            fMax = std::max(fMax, spectrum[size_t(k)]);
        }
        benchmark::DoNotOptimize(fMax);
        nStart = NextStart(nStart, n);
    }
}

BENCHMARK(BM_CFFT_Analyze)->Arg(256)->Arg(512)->Arg(1024);
BENCHMARK(BM_FFTW_r2c)->Arg(256)->Arg(512)->Arg(1024);
BENCHMARK(BM_FFTW_SameJob)->Arg(256)->Arg(512)->Arg(1024);

// The console report, followed by a table of CFFT / FFTW per size.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &reports) override
    {
        for (const Run &run : reports) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0)
                continue;
            // CPU nanoseconds per iteration; keep the fastest repetition.
            const double ns = run.cpu_accumulated_time * 1e9 / double(run.iterations);
            const auto key = std::pair{run.run_name.function_name, std::stoi(run.run_name.args)};
            const auto it = m_best.find(key);
            if (it == m_best.end() || ns < it->second)
                m_best[key] = ns;
        }
        ConsoleReporter::ReportRuns(reports);
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::FILE *out = stdout;
        std::fprintf(out, "\n%6s %14s %14s %14s %12s %12s\n", "N", "CFFT ns", "FFTW r2c ns",
                     "FFTW job ns", "CFFT/r2c", "CFFT/job");
        for (int n : {256, 512, 1024}) {
            const double cfft = Best("BM_CFFT_Analyze", n);
            const double r2c = Best("BM_FFTW_r2c", n);
            const double job = Best("BM_FFTW_SameJob", n);
            if (cfft <= 0)
                continue;
            std::fprintf(out, "%6d %14.1f %14.1f %14.1f %12.2f %12.2f\n", n, cfft, r2c, job,
                         r2c > 0 ? cfft / r2c : 0.0, job > 0 ? cfft / job : 0.0);
        }
    }

private:
    double Best(const std::string &name, int n) const
    {
        const auto it = m_best.find(std::pair{name, n});
        return it == m_best.end() ? 0.0 : it->second;
    }

    std::map<std::pair<std::string, int>, double> m_best;
};

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    fftw_cleanup();
    return 0;
}
